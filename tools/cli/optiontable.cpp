#include "optiontable.h"

#include "connectionsettings.h"
#include "portnaming.h"

#include <algorithm>

namespace parvault::cli {

namespace {

bool exchanges(const CliOptions& o) { return o.command == Command::Read || o.command == Command::Write; }
bool takesList(const CliOptions& o) { return exchanges(o) || o.command == Command::Save; }

QString applyServer(CliOptions& o, const char* name, const QString& value, bool rfc2217) {
    ServerTarget t;
    QString why;
    if (!ParseServerTarget(value, t.host, t.port, &why))
        return QStringLiteral("%1 %2: %3").arg(QLatin1String(name), value, why);
    t.rfc2217 = rfc2217;
    std::optional<ServerTarget>& server = o.connection.server;
    if (server && server->rfc2217 != t.rfc2217)
        return QStringLiteral("--tcp and --rfc2217 exclude each other");
    server = t;
    return {};
}

QString checkListName(const char* name, const QString& value) {
    if (value.trimmed().isEmpty())
        return QStringLiteral("%1 wants a list name").arg(QLatin1String(name));
    // A line break or tab in a name would break every line that shows it.
    for (const QChar c : value)
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            return QStringLiteral("%1: a list name cannot hold control characters (a line break, a tab)")
                .arg(QLatin1String(name));
    return {};
}

// --only-differing and --verify read back what they wrote.
QString refuseReadBack(const CliOptions& o, bool given, const char* name) {
    if (!given)
        return {};
    if (o.command != Command::Write)
        return QStringLiteral("%1 belongs to the write command").arg(QLatin1String(name));
    if (o.save || o.exportPath)
        return QStringLiteral("%1 does not go with %2: the value column ends holding what the device read back")
            .arg(QLatin1String(name), o.save ? "--save" : "--export");
    return {};
}

QString refuseWithTargets(const CliOptions& o) {
    const ConnectionOverrides& c = o.connection;
    if (c.udpHostIp || c.comPort || c.server)
        return QStringLiteral("%1 does not go with --targets: the file gives each device its route")
            .arg(c.udpHostIp ? "--udp"
                 : c.comPort ? "--port"
                 : c.server->rfc2217 ? "--rfc2217"
                                     : "--tcp");
    if (o.save || o.saveAs)
        return QStringLiteral("%1 does not go with --targets: one list file cannot keep the values "
                              "of many devices")
            .arg(o.save ? "--save" : "--save-as");
    if (o.saveSettings)
        return QStringLiteral("--save-settings does not go with --targets: one settings file cannot "
                              "keep the connections of many devices");
    if (o.trace)
        return QStringLiteral("--trace does not go with --targets: trace one device at a time");
    return {};
}

const QString kSaveOutsideExchange = QStringLiteral("--save and --export belong to the read and write commands");
const QString kPaceOutsideExchange = QStringLiteral("--pace and --gap belong to the read and write commands");

constexpr CliOption kOptions[] = {
    // Rows (read, write and save)
    {.name = "--rows", .argName = "ROWS", .group = OptionGroup::Rows,
     .help = "rows to use, comma separated; default for read and\n"
             "save: all\n"
             "  N, N-M       row numbers as printed (from 1)\n"
             "  pP, pP-Q     every row with parameter number P (to Q)\n"
             "  C:P, C:P:I   the row of channel C, parameter P (index I)\n"
             "  all          every row",
     .apply = [](CliOptions& o, const QString& value) -> QString {
         if (o.rows)
             return QStringLiteral("--rows given twice; join the selections with commas");
         o.rows = value;
         return {};
     },
     .refuse = [](const CliOptions& o) -> QString {
         return o.rows && !takesList(o) ? QStringLiteral("--rows belongs to the read, write and save commands")
                                        : QString();
     }},
    {.name = "--set", .argName = "ROW=VALUE", .group = OptionGroup::Rows,
     .help = "write VALUE into the row(s) ROW picks (same forms as\n"
             "in --rows, one item); may be repeated",
     .apply = [](CliOptions& o, const QString& value) -> QString {
         const qsizetype eq = value.indexOf(QLatin1Char('='));
         if (eq <= 0)
             return QStringLiteral("--set wants ROW=VALUE, got \"%1\"").arg(value);
         o.sets.push_back({value.left(eq).trimmed(), value.mid(eq + 1)});
         return {};
     },
     .refuse = [](const CliOptions& o) -> QString {
         return !o.sets.empty() && o.command != Command::Write
                    ? QStringLiteral("--set belongs to the write command")
                    : QString();
     }},
    {.name = "--save", .group = OptionGroup::Rows,
     .help = "store the value column into the list file afterwards",
     .apply = [](CliOptions& o, const QString&) -> QString { o.save = true; return {}; },
     .refuse = [](const CliOptions& o) -> QString {
         return o.save && !exchanges(o) ? kSaveOutsideExchange : QString();
     }},
    {.name = "--export", .argName = "FILE", .group = OptionGroup::Rows,
     .help = "store the values, then write the list's text table\n"
             "to FILE exactly as the window does (implies --save);\n"
             "with --targets a folder: one table per device, named\n"
             "after the device, and no values stored",
     .apply = [](CliOptions& o, const QString& value) -> QString {
         if (value.isEmpty())
             return QStringLiteral("--export wants a file name");
         o.exportPath = value;
         return {};
     },
     .refuse = [](const CliOptions& o) -> QString {
         return o.exportPath && !exchanges(o) ? kSaveOutsideExchange : QString();
     }},
    {.name = "--name", .argName = "NAME", .group = OptionGroup::Rows,
     .help = "(save) the new list's name",
     .apply = [](CliOptions& o, const QString& value) -> QString {
         QString why = checkListName("--name", value);
         if (why.isEmpty())
             o.listName = value;
         return why;
     },
     .refuse = [](const CliOptions& o) -> QString {
         if (o.command == Command::Save && !o.listName)
             return QStringLiteral("save wants --name NAME (the new list's name)");
         if (o.listName && o.command != Command::Save)
             return QStringLiteral("--name belongs to the save command (read takes --save-as NAME)");
         return {};
     }},
    {.name = "--save-as", .argName = "NAME", .group = OptionGroup::Rows,
     .help = "(read) save the rows read as a new list NAME, with\n"
             "the values read",
     .apply = [](CliOptions& o, const QString& value) -> QString {
         QString why = checkListName("--save-as", value);
         if (why.isEmpty())
             o.saveAs = value;
         return why;
     },
     .refuse = [](const CliOptions& o) -> QString {
         return o.saveAs && o.command != Command::Read ? QStringLiteral("--save-as belongs to the read command")
                                                       : QString();
     }},
    {.name = "--compare", .group = OptionGroup::Rows,
     .help = "(read, saved lists) compare each row read with the\n"
             "value the list holds: same, differs, not-read or\n"
             "nothing-stored; numbers match with either decimal\n"
             "mark (10,0 is 10.0)",
     .apply = [](CliOptions& o, const QString&) -> QString { o.compare = true; return {}; },
     .refuse = [](const CliOptions& o) -> QString {
         return o.compare && o.command != Command::Read ? QStringLiteral("--compare belongs to the read command")
                                                        : QString();
     }},
    {.name = "--only-differing", .group = OptionGroup::Rows,
     .help = "(write, saved lists) read the rows first and write\n"
             "the stored value of each row whose device value\n"
             "differs, then read those rows back; default rows:\n"
             "all. Each row ends written, unchanged, refused,\n"
             "not-read or differs-after-write",
     .apply = [](CliOptions& o, const QString&) -> QString { o.onlyDiffering = true; return {}; },
     .refuse = [](const CliOptions& o) { return refuseReadBack(o, o.onlyDiffering, "--only-differing"); }},
    {.name = "--verify", .group = OptionGroup::Rows,
     .help = "(write) read back every row written and name its\n"
             "outcome as --only-differing does",
     .apply = [](CliOptions& o, const QString&) -> QString { o.verify = true; return {}; },
     .refuse = [](const CliOptions& o) { return refuseReadBack(o, o.verify, "--verify"); }},

    // Connection (each one overrides one item of the settings file)
    {.name = "--udp", .argName = "HOST:PORT", .group = OptionGroup::Connection,
     .help = "reach the device over UDP",
     .apply = [](CliOptions& o, const QString& value) -> QString {
         uint32_t ip = 0;
         uint16_t port = 0;
         QString why;
         if (!ParseUdpTarget(value, ip, port, &why))
             return QStringLiteral("--udp %1: %2").arg(value, why);
         o.connection.udpHostIp = ip;
         o.connection.udpPort = port;
         return {};
     }},
    {.name = "--port", .argName = "COMN", .group = OptionGroup::Connection,
     .help = "reach the device on serial port COMN",
     .apply = [](CliOptions& o, const QString& value) -> QString {
         const auto n = ParseComPort(value);
         if (!n)
             return QStringLiteral("--port wants COMN with N from 1 to %1, got \"%2\"").arg(kMaxPortNumber).arg(value);
         o.connection.comPort = *n;
         return {};
     }},
    {.name = "--tcp", .argName = "HOST:PORT", .group = OptionGroup::Connection,
     .help = "reach the device's line through a serial device\n"
             "server, raw TCP (the line's speed is the server's)",
     .apply = [](CliOptions& o, const QString& value) { return applyServer(o, "--tcp", value, false); }},
    {.name = "--rfc2217", .argName = "HOST:PORT", .group = OptionGroup::Connection,
     .help = "the same by Telnet with the COM port option: the\n"
             "server's line runs at --speed (and the optical\n"
             "port's 300 baud and speed change reach it)",
     .apply = [](CliOptions& o, const QString& value) { return applyServer(o, "--rfc2217", value, true); }},
    {.name = "--speed", .argName = "BAUD", .group = OptionGroup::Connection,
     .help = "300 600 1200 2400 4800 9600 19200 38400 57600 115200",
     .apply = [](CliOptions& o, const QString& value) -> QString {
         int baud = 0;
         if (!ParseDecimal(value, baud) || std::find(SpeedTable.begin(), SpeedTable.end(), baud) == SpeedTable.end())
             return QStringLiteral("--speed is one of 300, 600, 1200, 2400, 4800, 9600, 19200, "
                                   "38400, 57600, 115200, not \"%1\"")
                 .arg(value);
         o.connection.baud = baud;
         return {};
     }},
    {.name = "--optical", .group = OptionGroup::Connection,
     .help = "through the device's optical port (--no-optical: not)",
     .apply = [](CliOptions& o, const QString&) -> QString { o.connection.optical = true; return {}; }},
    {.name = "--no-optical",
     .apply = [](CliOptions& o, const QString&) -> QString { o.connection.optical = false; return {}; }},
    {.name = "--address", .argName = "OWN:DEVICE", .group = OptionGroup::Connection,
     .help = "put bus addresses (0..31) into the requests\n"
             "(--no-address: do not)",
     .apply = [](CliOptions& o, const QString& value) -> QString {
         const QStringList parts = value.split(QLatin1Char(':'));
         int own = -1, device = -1;
         if (parts.size() != 2 || !ParseDecimal(parts[0], own) || !ParseDecimal(parts[1], device) || own < 0 ||
             own > kMaxBusAddress || device < 0 || device > kMaxBusAddress)
             return QStringLiteral("--address wants OWN:DEVICE, each from 0 to %1, got \"%2\"")
                 .arg(kMaxBusAddress)
                 .arg(value);
         o.connection.address = std::make_pair(own, device);
         o.connection.noAddress = false;
         return {};
     }},
    {.name = "--no-address",
     .apply = [](CliOptions& o, const QString&) -> QString {
         o.connection.noAddress = true;
         o.connection.address.reset();
         return {};
     }},
    {.name = "--wait", .argName = "SECONDS", .group = OptionGroup::Connection,
     .help = "answer wait, 1..31; each row is asked up to 3 times",
     .apply = [](CliOptions& o, const QString& value) -> QString {
         int s = 0;
         if (!ParseDecimal(value, s) || s < kMinWaitSeconds || s > kMaxWaitSeconds)
             return QStringLiteral("--wait is a number of seconds from %1 to %2, not \"%3\"")
                 .arg(kMinWaitSeconds)
                 .arg(kMaxWaitSeconds)
                 .arg(value);
         o.connection.waitSeconds = s;
         return {};
     }},
    {.name = "--port-links", .argName = "DIR", .group = OptionGroup::Connection,
     .help = "folder of COM<N> links to serial devices\n"
             "(default ~/.parvault2/ports)",
     .apply = [](CliOptions& o, const QString& value) -> QString { o.connection.portLinkFolder = value; return {}; }},
    {.name = "--save-settings", .group = OptionGroup::Connection,
     .help = "write the connection used back into Parvault2.i\n"
             "(a device server's host and port into\n"
             "Parvault2.route beside it)",
     .apply = [](CliOptions& o, const QString&) -> QString { o.saveSettings = true; return {}; }},

    // Many devices (read and write)
    {.name = "--targets", .argName = "FILE", .group = OptionGroup::ManyDevices,
     .help = "handle the list for each device of FILE, a CSV file\n"
             "with one device a line:\n"
             "  name,route[,device address[,optical]]\n"
             "route udp:HOST:PORT, COMn[@BAUD], tcp:HOST:PORT or\n"
             "rfc2217:HOST:PORT[@BAUD]; optical yes or no; empty\n"
             "fields keep the connection options. Devices on one\n"
             "serial port, UDP address or device server take\n"
             "turns, others run at the same time; every row names\n"
             "its device",
     .apply = [](CliOptions& o, const QString& value) -> QString {
         if (value.isEmpty())
             return QStringLiteral("--targets wants a file name");
         o.targetsPath = value;
         return {};
     },
     .refuse = [](const CliOptions& o) -> QString {
         if (!o.targetsPath)
             return {};
         if (!exchanges(o))
             return QStringLiteral("--targets belongs to the read and write commands");
         return refuseWithTargets(o);
     }},
    {.name = "--jobs", .argName = "N", .group = OptionGroup::ManyDevices,
     .help = "devices exchanged at the same time, 1..64 (default 4)",
     .apply = [](CliOptions& o, const QString& value) -> QString {
         int n = 0;
         if (!ParseDecimal(value, n) || n < 1 || n > kMaxJobs)
             return QStringLiteral("--jobs is a number of devices from 1 to %1, not \"%2\"").arg(kMaxJobs).arg(value);
         o.jobs = n;
         o.jobsGiven = true;
         return {};
     },
     .refuse = [](const CliOptions& o) -> QString {
         return o.jobsGiven && !o.targetsPath ? QStringLiteral("--jobs belongs to --targets") : QString();
     }},
    {.name = "--pace", .argName = "fast", .group = OptionGroup::ManyDevices,
     .help = "send each request as soon as the previous answer is\n"
             "taken instead of at the window's 25 ms steps; waits,\n"
             "resends and outcomes stay the same (default: window)",
     .apply = [](CliOptions& o, const QString& value) -> QString {
         if (value == QLatin1String("fast"))
             o.fastPace = true;
         else if (value == QLatin1String("window"))
             o.fastPace = false;
         else
             return QStringLiteral("--pace is window or fast, not \"%1\"").arg(value);
         return {};
     },
     .refuse = [](const CliOptions& o) -> QString {
         return o.fastPace && !exchanges(o) ? kPaceOutsideExchange : QString();
     }},
    {.name = "--gap", .argName = "MS", .group = OptionGroup::ManyDevices,
     .help = "with --pace fast: quiet time after each answer before\n"
             "the next request, 0..10000 ms (default 0)",
     .apply = [](CliOptions& o, const QString& value) -> QString {
         int n = 0;
         if (!ParseDecimal(value, n) || n < 0 || n > kMaxGapMs)
             return QStringLiteral("--gap is a number of milliseconds from 0 to %1, not \"%2\"").arg(kMaxGapMs).arg(value);
         o.gapMs = n;
         return {};
     },
     .refuse = [](const CliOptions& o) -> QString {
         if (o.gapMs && !exchanges(o))
             return kPaceOutsideExchange;
         if (o.gapMs && !o.fastPace)
             return QStringLiteral("--gap goes with --pace fast");
         return {};
     }},

    // Output
    {.name = "--format", .argName = "FORMAT", .group = OptionGroup::Output,
     .help = "text (the window's text table), csv or json",
     .apply = [](CliOptions& o, const QString& value) -> QString {
         if (value == "text")
             o.format = Format::Text;
         else if (value == "csv")
             o.format = Format::Csv;
         else if (value == "json")
             o.format = Format::Json;
         else
             return QStringLiteral("--format is text, csv or json, not \"%1\"").arg(value);
         return {};
     }},
    {.name = "--quiet", .group = OptionGroup::Output,
     .help = "no progress line on a terminal",
     .apply = [](CliOptions& o, const QString&) -> QString { o.quiet = true; return {}; }},
    {.name = "--trace", .argName = "FILE", .group = OptionGroup::Output,
     .help = "the exchange log of read or write: every frame sent\n"
             "and taken, decoded, and the events between them, one\n"
             "line each in UTF-8 (- for standard error)",
     .apply = [](CliOptions& o, const QString& value) -> QString {
         if (value.isEmpty())
             return QStringLiteral("--trace wants a file name, or - for standard error");
         o.trace = value;
         return {};
     },
     .refuse = [](const CliOptions& o) -> QString {
         return o.trace && !exchanges(o) ? QStringLiteral("--trace belongs to the read and write commands")
                                         : QString();
     }},
    {.name = "--dir", .argName = "DIR", .group = OptionGroup::Output,
     .help = "work in DIR instead of the current folder",
     .apply = [](CliOptions& o, const QString& value) -> QString { o.workDir = value; return {}; }},

    // Listed among the commands.
    {.name = "--help",
     .apply = [](CliOptions& o, const QString&) -> QString { o.command = Command::Help; return {}; }},
    {.name = "--version",
     .apply = [](CliOptions& o, const QString&) -> QString {
         if (o.command != Command::Help)
             o.command = Command::Version;
         return {};
     }},
};

constexpr const char* kRefusalOrder[] = {
    "--set",  "--rows",   "--pace",    "--gap",     "--trace", "--save",           "--export",
    "--name", "--save-as", "--compare", "--targets", "--jobs",  "--only-differing", "--verify",
};

constexpr CliCommand kCommands[] = {
    {"tree", Command::Tree, "tree", "the device types and saved lists, as the window's tree"},
    {"read", Command::Read, "read LIST", "read the selected rows from the device and print them"},
    {"write", Command::Write, "write LIST", "write values to the device and report each row"},
    {"save", Command::Save, "save LIST",
     "save the selected rows as a new list (--name NAME),\nas the window's save button; prints its number and file"},
    {"settings", Command::Settings, "settings", "print the connection that would be used"},
    {"convert", Command::Convert, "convert",
     "turn the folder's Jet files into the program's own\nformat, each original kept as NAME.mdb.jet"},
    {"help", Command::Help, "help", "this text"},
};

// "  LABEL   text", the text from kHelpColumn on, each "\n" on to a line of
// its own indented as far.
QString helpLine(const QString& label, const char* text) {
    QString line = QStringLiteral("  ") + label;
    line += QString(std::max<qsizetype>(kHelpColumn - line.size(), 1), QLatin1Char(' '));
    line += QString::fromUtf8(text).replace(QLatin1Char('\n'), QLatin1Char('\n') + QString(kHelpColumn, QLatin1Char(' ')));
    return line + QLatin1Char('\n');
}

} // namespace

bool ParseDecimal(const QString& text, int& value) {
    bool ok = false;
    value = text.toInt(&ok, 10);
    return ok && !text.startsWith(QLatin1Char('+'));
}

std::span<const CliOption> OptionTable() { return kOptions; }
std::span<const CliCommand> CliCommands() { return kCommands; }
std::span<const char* const> RefusalOrder() { return kRefusalOrder; }

const CliOption* FindOption(const QString& name) {
    for (const CliOption& o : kOptions)
        if (name == QLatin1String(o.name))
            return &o;
    return nullptr;
}

const CliCommand* FindCommand(const QString& word) {
    for (const CliCommand& c : kCommands)
        if (word == QLatin1String(c.word))
            return &c;
    return nullptr;
}

QString OptionLabel(const CliOption& option) {
    QString label = QLatin1String(option.name);
    if (option.takesValue())
        label += QLatin1Char(' ') + QLatin1String(option.argName);
    return label;
}

QString CommandsHelp() {
    QString text;
    for (const CliCommand& c : kCommands)
        text += helpLine(QLatin1String(c.label), c.help);
    return text;
}

QString OptionsHelp(OptionGroup group) {
    QString text;
    for (const CliOption& o : kOptions)
        if (o.group == group)
            text += helpLine(OptionLabel(o), o.help);
    return text;
}

} // namespace parvault::cli
