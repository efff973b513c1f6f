#include "cliargs.h"

#include "connectionsettings.h"
#include "portnaming.h"

#include "sockets.h"

#include <algorithm>

namespace parvault::cli {

namespace {

bool parseInt(const QString& text, int& value) {
    bool ok = false;
    value = text.toInt(&ok, 10);
    return ok && !text.startsWith(QLatin1Char('+'));
}

struct OptionDef {
    const char* name;
    bool takesValue;
};

constexpr OptionDef kOptions[] = {
    {"--rows", true},     {"--set", true},        {"--save", false},       {"--export", true},
    {"--format", true},   {"--udp", true},        {"--port", true},        {"--speed", true},
    {"--optical", false}, {"--no-optical", false}, {"--address", true},    {"--no-address", false},
    {"--wait", true},     {"--port-links", true}, {"--save-settings", false}, {"--dir", true},
    {"--quiet", false},   {"--help", false},      {"--version", false},    {"--name", true},
    {"--save-as", true},  {"--compare", false},   {"--targets", true},     {"--jobs", true},
    {"--trace", true},    {"--pace", true},       {"--gap", true},         {"--only-differing", false},
    {"--verify", false},  {"--tcp", true},        {"--rfc2217", true},
};

const OptionDef* findOption(const QString& name) {
    for (const OptionDef& o : kOptions)
        if (name == QLatin1String(o.name))
            return &o;
    return nullptr;
}

// Applies one option; returns an error text or an empty one.
QString applyOption(CliOptions& o, const QString& name, const QString& value) {
    ConnectionOverrides& c = o.connection;
    if (name == "--rows") {
        if (o.rows)
            return QStringLiteral("--rows given twice; join the selections with commas");
        o.rows = value;
    } else if (name == "--set") {
        const qsizetype eq = value.indexOf(QLatin1Char('='));
        if (eq <= 0)
            return QStringLiteral("--set wants ROW=VALUE, got \"%1\"").arg(value);
        o.sets.push_back({value.left(eq).trimmed(), value.mid(eq + 1)});
    } else if (name == "--save") {
        o.save = true;
    } else if (name == "--export") {
        if (value.isEmpty())
            return QStringLiteral("--export wants a file name");
        o.exportPath = value;
    } else if (name == "--format") {
        if (value == "text")
            o.format = Format::Text;
        else if (value == "csv")
            o.format = Format::Csv;
        else if (value == "json")
            o.format = Format::Json;
        else
            return QStringLiteral("--format is text, csv or json, not \"%1\"").arg(value);
    } else if (name == "--udp") {
        uint32_t ip = 0;
        uint16_t port = 0;
        QString why;
        if (!ParseUdpTarget(value, ip, port, &why))
            return QStringLiteral("--udp %1: %2").arg(value, why);
        c.udpHostIp = ip;
        c.udpPort = port;
    } else if (name == "--tcp" || name == "--rfc2217") {
        ServerTarget t;
        QString why;
        if (!ParseServerTarget(value, t.host, t.port, &why))
            return QStringLiteral("%1 %2: %3").arg(name, value, why);
        t.rfc2217 = name == "--rfc2217";
        if (c.server && c.server->rfc2217 != t.rfc2217)
            return QStringLiteral("--tcp and --rfc2217 exclude each other");
        c.server = t;
    } else if (name == "--port") {
        const auto n = ParseComPort(value);
        if (!n)
            return QStringLiteral("--port wants COMN with N from 1 to %1, got \"%2\"")
                .arg(kMaxPortNumber)
                .arg(value);
        c.comPort = *n;
    } else if (name == "--speed") {
        int baud = 0;
        if (!parseInt(value, baud) ||
            std::find(SpeedTable.begin(), SpeedTable.end(), baud) == SpeedTable.end())
            return QStringLiteral("--speed is one of 300, 600, 1200, 2400, 4800, 9600, 19200, "
                                  "38400, 57600, 115200, not \"%1\"")
                .arg(value);
        c.baud = baud;
    } else if (name == "--optical") {
        c.optical = true;
    } else if (name == "--no-optical") {
        c.optical = false;
    } else if (name == "--address") {
        const QStringList parts = value.split(QLatin1Char(':'));
        int own = -1, device = -1;
        if (parts.size() != 2 || !parseInt(parts[0], own) || !parseInt(parts[1], device) || own < 0 ||
            own > kMaxBusAddress || device < 0 || device > kMaxBusAddress)
            return QStringLiteral("--address wants OWN:DEVICE, each from 0 to %1, got \"%2\"")
                .arg(kMaxBusAddress)
                .arg(value);
        c.address = std::make_pair(own, device);
        c.noAddress = false;
    } else if (name == "--no-address") {
        c.noAddress = true;
        c.address.reset();
    } else if (name == "--wait") {
        int s = 0;
        if (!parseInt(value, s) || s < kMinWaitSeconds || s > kMaxWaitSeconds)
            return QStringLiteral("--wait is a number of seconds from %1 to %2, not \"%3\"")
                .arg(kMinWaitSeconds)
                .arg(kMaxWaitSeconds)
                .arg(value);
        c.waitSeconds = s;
    } else if (name == "--port-links") {
        c.portLinkFolder = value;
    } else if (name == "--save-settings") {
        o.saveSettings = true;
    } else if (name == "--dir") {
        o.workDir = value;
    } else if (name == "--trace") {
        if (value.isEmpty())
            return QStringLiteral("--trace wants a file name, or - for standard error");
        o.trace = value;
    } else if (name == "--quiet") {
        o.quiet = true;
    } else if (name == "--name" || name == "--save-as") {
        if (value.trimmed().isEmpty())
            return QStringLiteral("%1 wants a list name").arg(name);
        // A line break or tab in a name would break every line that shows it.
        for (const QChar c : value)
            if (c.unicode() < 0x20 || c.unicode() == 0x7F)
                return QStringLiteral("%1: a list name cannot hold control characters (a line break, a tab)")
                    .arg(name);
        (name == "--name" ? o.listName : o.saveAs) = value;
    } else if (name == "--compare") {
        o.compare = true;
    } else if (name == "--only-differing") {
        o.onlyDiffering = true;
    } else if (name == "--verify") {
        o.verify = true;
    } else if (name == "--targets") {
        if (value.isEmpty())
            return QStringLiteral("--targets wants a file name");
        o.targetsPath = value;
    } else if (name == "--jobs") {
        int n = 0;
        if (!parseInt(value, n) || n < 1 || n > kMaxJobs)
            return QStringLiteral("--jobs is a number of devices from 1 to %1, not \"%2\"").arg(kMaxJobs).arg(value);
        o.jobs = n;
        o.jobsGiven = true;
    } else if (name == "--pace") {
        if (value == QLatin1String("fast"))
            o.fastPace = true;
        else if (value == QLatin1String("window"))
            o.fastPace = false;
        else
            return QStringLiteral("--pace is window or fast, not \"%1\"").arg(value);
    } else if (name == "--gap") {
        int n = 0;
        if (!parseInt(value, n) || n < 0 || n > kMaxGapMs)
            return QStringLiteral("--gap is a number of milliseconds from 0 to %1, not \"%2\"").arg(kMaxGapMs).arg(value);
        o.gapMs = n;
    } else if (name == "--help") {
        o.command = Command::Help;
    } else if (name == "--version") {
        if (o.command != Command::Help)
            o.command = Command::Version;
    }
    return {};
}

std::optional<Command> commandNamed(const QString& word) {
    if (word == "tree")
        return Command::Tree;
    if (word == "read")
        return Command::Read;
    if (word == "write")
        return Command::Write;
    if (word == "save")
        return Command::Save;
    if (word == "settings")
        return Command::Settings;
    if (word == "convert")
        return Command::Convert;
    if (word == "help")
        return Command::Help;
    return std::nullopt;
}

} // namespace

std::optional<int> ParseComPort(const QString& text) {
    QString digits = text;
    if (digits.startsWith(QLatin1String("COM"), Qt::CaseInsensitive))
        digits = digits.mid(3);
    if (digits.isEmpty() || digits.startsWith(QLatin1Char('0')))
        return std::nullopt;
    for (QChar ch : digits)
        if (ch < QLatin1Char('0') || ch > QLatin1Char('9'))
            return std::nullopt;
    bool ok = false;
    const int n = digits.toInt(&ok);
    if (!ok || n < 1 || n > kMaxPortNumber)
        return std::nullopt;
    return n;
}

bool ParseUdpTarget(const QString& text, uint32_t& ip, uint16_t& port, QString* why) {
    const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0) {
        *why = QStringLiteral("HOST:PORT expected");
        return false;
    }
    const QString host = text.left(colon);
    int p = 0;
    if (!parseInt(text.mid(colon + 1), p) || p < 1 || p > 65535) {
        *why = QStringLiteral("the port is a number from 1 to 65535");
        return false;
    }
    const QByteArray hostBytes = host.toLocal8Bit();
    in_addr dotted{};
    if (::inet_pton(AF_INET, hostBytes.constData(), &dotted) == 1) {
        ip = ntohl(dotted.s_addr);
    } else {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_DGRAM;
        addrinfo* found = nullptr;
        if (::getaddrinfo(hostBytes.constData(), nullptr, &hints, &found) != 0 || !found) {
            *why = QStringLiteral("no IPv4 address for \"%1\"").arg(host);
            return false;
        }
        ip = ntohl(reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr);
        ::freeaddrinfo(found);
    }
    if (ip == 0) {
        *why = QStringLiteral("0.0.0.0 names no device");
        return false;
    }
    port = static_cast<uint16_t>(p);
    return true;
}

bool ParseServerTarget(const QString& text, QString& host, uint16_t& port, QString* why) {
    const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0) {
        *why = QStringLiteral("HOST:PORT expected");
        return false;
    }
    QString h = text.left(colon);
    if (h.startsWith(QLatin1Char('[')) && h.endsWith(QLatin1Char(']')))
        h = h.mid(1, h.size() - 2);
    else if (h.contains(QLatin1Char(':'))) {
        *why = QStringLiteral("an IPv6 address goes in brackets: [ADDRESS]:PORT");
        return false;
    }
    int p = 0;
    if (!parseInt(text.mid(colon + 1), p) || p < 1 || p > 65535) {
        *why = QStringLiteral("the port is a number from 1 to 65535");
        return false;
    }
    if (h.isEmpty() || h.size() > 253) {
        *why = QStringLiteral("no host name");
        return false;
    }
    for (const QChar ch : h)
        if (ch.isSpace() || ch.unicode() < 0x20) {
            *why = QStringLiteral("a host name holds no blanks or control characters");
            return false;
        }
    host = h;
    port = static_cast<uint16_t>(p);
    return true;
}

ParseResult ParseArgs(const QStringList& args) {
    ParseResult r;
    CliOptions& o = r.options;
    QStringList positional;
    bool optionsEnded = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (!optionsEnded && a == QLatin1String("-h")) {
            o.command = Command::Help;
            continue;
        }
        if (optionsEnded || !a.startsWith(QLatin1String("--")) || a == QLatin1String("--")) {
            if (a == QLatin1String("--") && !optionsEnded) {
                optionsEnded = true;
                continue;
            }
            positional << a;
            continue;
        }
        QString name = a;
        std::optional<QString> inlineValue;
        if (const qsizetype eq = a.indexOf(QLatin1Char('=')); eq > 0) {
            name = a.left(eq);
            inlineValue = a.mid(eq + 1);
        }
        const OptionDef* def = findOption(name);
        if (!def) {
            r.error = QStringLiteral("unknown option %1").arg(name);
            return r;
        }
        QString value;
        if (def->takesValue) {
            if (inlineValue) {
                value = *inlineValue;
            } else if (i + 1 < args.size()) {
                value = args[++i];
            } else {
                r.error = QStringLiteral("%1 wants a value").arg(name);
                return r;
            }
        } else if (inlineValue) {
            r.error = QStringLiteral("%1 takes no value").arg(name);
            return r;
        }
        if (QString e = applyOption(o, name, value); !e.isEmpty()) {
            r.error = e;
            return r;
        }
    }
    if (o.command == Command::Help || o.command == Command::Version)
        return r;

    if (positional.isEmpty()) {
        r.error = QStringLiteral("no command given");
        return r;
    }
    const QString word = positional.takeFirst();
    const auto command = commandNamed(word);
    if (!command) {
        r.error = QStringLiteral("unknown command \"%1\"").arg(word);
        return r;
    }
    o.command = *command;
    if (o.command == Command::Help)
        return r;

    const bool exchange = o.command == Command::Read || o.command == Command::Write;
    const bool takesList = exchange || o.command == Command::Save;
    if (takesList) {
        if (positional.isEmpty()) {
            r.error = QStringLiteral("%1 wants a LIST (type:CODE, a device type name, a list number, file "
                                     "name or list name)")
                          .arg(word);
            return r;
        }
        o.list = positional.takeFirst();
    }
    if (!positional.isEmpty()) {
        r.error = QStringLiteral("unexpected argument \"%1\"").arg(positional.first());
        return r;
    }

    const ConnectionOverrides& c = o.connection;
    if (c.udpHostIp && c.comPort) {
        r.error = QStringLiteral("--udp and --port exclude each other");
        return r;
    }
    if (c.server && (c.udpHostIp || c.comPort)) {
        r.error = QStringLiteral("%1 and %2 exclude each other")
                      .arg(c.server->rfc2217 ? "--rfc2217" : "--tcp", c.udpHostIp ? "--udp" : "--port");
        return r;
    }
    if (!o.sets.empty() && o.command != Command::Write) {
        r.error = QStringLiteral("--set belongs to the write command");
        return r;
    }
    if (o.rows && !takesList) {
        r.error = QStringLiteral("--rows belongs to the read, write and save commands");
        return r;
    }
    if ((o.fastPace || o.gapMs) && !exchange) {
        r.error = QStringLiteral("--pace and --gap belong to the read and write commands");
        return r;
    }
    if (o.gapMs && !o.fastPace) {
        r.error = QStringLiteral("--gap goes with --pace fast");
        return r;
    }
    if (o.trace && !exchange) {
        r.error = QStringLiteral("--trace belongs to the read and write commands");
        return r;
    }
    if ((o.save || o.exportPath) && !exchange) {
        r.error = QStringLiteral("--save and --export belong to the read and write commands");
        return r;
    }
    if (o.command == Command::Save && !o.listName) {
        r.error = QStringLiteral("save wants --name NAME (the new list's name)");
        return r;
    }
    if (o.listName && o.command != Command::Save) {
        r.error = QStringLiteral("--name belongs to the save command (read takes --save-as NAME)");
        return r;
    }
    if ((o.saveAs || o.compare) && o.command != Command::Read) {
        r.error = QStringLiteral("%1 belongs to the read command").arg(o.saveAs ? "--save-as" : "--compare");
        return r;
    }
    if (o.targetsPath) {
        if (!exchange) {
            r.error = QStringLiteral("--targets belongs to the read and write commands");
            return r;
        }
        QString clash;
        if (c.udpHostIp || c.comPort || c.server)
            clash = QStringLiteral("%1 does not go with --targets: the file gives each device its route")
                        .arg(c.udpHostIp ? "--udp"
                             : c.comPort ? "--port"
                             : c.server->rfc2217 ? "--rfc2217"
                                                 : "--tcp");
        else if (o.save || o.saveAs)
            clash = QStringLiteral("%1 does not go with --targets: one list file cannot keep the values "
                                   "of many devices")
                        .arg(o.save ? "--save" : "--save-as");
        else if (o.saveSettings)
            clash = QStringLiteral("--save-settings does not go with --targets: one settings file cannot "
                                   "keep the connections of many devices");
        else if (o.trace)
            clash = QStringLiteral("--trace does not go with --targets: trace one device at a time");
        if (!clash.isEmpty()) {
            r.error = clash;
            return r;
        }
    } else if (o.jobsGiven) {
        r.error = QStringLiteral("--jobs belongs to --targets");
        return r;
    }
    if ((o.onlyDiffering || o.verify) && o.command != Command::Write) {
        r.error = QStringLiteral("%1 belongs to the write command").arg(o.onlyDiffering ? "--only-differing" : "--verify");
        return r;
    }
    if ((o.onlyDiffering || o.verify) && (o.save || o.exportPath)) {
        r.error = QStringLiteral("%1 does not go with %2: the value column ends holding what the device read back")
                      .arg(o.onlyDiffering ? "--only-differing" : "--verify", o.save ? "--save" : "--export");
        return r;
    }
    if (o.command == Command::Write && o.sets.empty() && !o.rows && !o.onlyDiffering) {
        r.error = QStringLiteral("write wants --set ROW=VALUE or --rows ROWS (the rows to write "
                                 "with the values the list holds)");
        return r;
    }
    // The export is the window's "save values" command, which stores the
    // values into the list file before it writes the table. With --targets it
    // writes one table per device and stores nothing.
    if (o.exportPath && !o.targetsPath)
        o.save = true;
    return r;
}

QString UsageText() {
    return QStringLiteral(R"(Usage: parvault2-cli COMMAND [LIST] [options]

Reads and writes device parameters with the same exchange, storage and export
code as the Parvault 2 window, without a display. Works in the current folder
(or --dir): PARVLT2.mdb, the saved list files and the settings file
Parvault2.i live there.

Commands:
  tree                   the device types and saved lists, as the window's tree
  read LIST              read the selected rows from the device and print them
  write LIST             write values to the device and report each row
  save LIST              save the selected rows as a new list (--name NAME),
                         as the window's save button; prints its number and file
  settings               print the connection that would be used
  convert                turn the folder's Jet files into the program's own
                         format, each original kept as NAME.mdb.jet
  help                   this text

LIST:
  type:CODE              the template rows of a device type (e.g. type:20)
  NAME                   a device type name or a saved list's name
  N                      a saved list by its list number (see tree)
  FILE.mdb               a saved list by its file name
  #N                     a saved list by its list number only
  list:NAME              a saved list by its name only
                         (a text that fits more than one list is refused with
                         the candidates; these two forms reach the one meant)

Rows (read, write and save):
  --rows ROWS            rows to use, comma separated; default for read and
                         save: all
                           N, N-M       row numbers as printed (from 1)
                           pP, pP-Q     every row with parameter number P (to Q)
                           C:P, C:P:I   the row of channel C, parameter P (index I)
                           all          every row
  --set ROW=VALUE        write VALUE into the row(s) ROW picks (same forms as
                         in --rows, one item); may be repeated
  --save                 store the value column into the list file afterwards
  --export FILE          store the values, then write the list's text table
                         to FILE exactly as the window does (implies --save);
                         with --targets a folder: one table per device, named
                         after the device, and no values stored
  --name NAME            (save) the new list's name
  --save-as NAME         (read) save the rows read as a new list NAME, with
                         the values read
  --compare              (read, saved lists) compare each row read with the
                         value the list holds: same, differs, not-read or
                         nothing-stored; numbers match with either decimal
                         mark (10,0 is 10.0)
  --only-differing       (write, saved lists) read the rows first and write
                         the stored value of each row whose device value
                         differs, then read those rows back; default rows:
                         all. Each row ends written, unchanged, refused,
                         not-read or differs-after-write
  --verify               (write) read back every row written and name its
                         outcome as --only-differing does

Connection (default: Parvault2.i; each option overrides one item):
  --udp HOST:PORT        reach the device over UDP
  --port COMN            reach the device on serial port COMN
  --tcp HOST:PORT        reach the device's line through a serial device
                         server, raw TCP (the line's speed is the server's)
  --rfc2217 HOST:PORT    the same by Telnet with the COM port option: the
                         server's line runs at --speed (and the optical
                         port's 300 baud and speed change reach it)
  --speed BAUD           300 600 1200 2400 4800 9600 19200 38400 57600 115200
  --optical              through the device's optical port (--no-optical: not)
  --address OWN:DEVICE   put bus addresses (0..31) into the requests
                         (--no-address: do not)
  --wait SECONDS         answer wait, 1..31; each row is asked up to 3 times
  --port-links DIR       folder of COM<N> links to serial devices
                         (default ~/.parvault2/ports)
  --save-settings        write the connection used back into Parvault2.i
                         (a device server's host and port into
                         Parvault2.route beside it)

Many devices (read and write):
  --targets FILE         handle the list for each device of FILE, a CSV file
                         with one device a line:
                           name,route[,device address[,optical]]
                         route udp:HOST:PORT, COMn[@BAUD], tcp:HOST:PORT or
                         rfc2217:HOST:PORT[@BAUD]; optical yes or no; empty
                         fields keep the connection options. Devices on one
                         serial port, UDP address or device server take
                         turns, others run at the same time; every row names
                         its device
  --jobs N               devices exchanged at the same time, 1..64 (default 4)
  --pace fast            send each request as soon as the previous answer is
                         taken instead of at the window's 25 ms steps; waits,
                         resends and outcomes stay the same (default: window)
  --gap MS               with --pace fast: quiet time after each answer before
                         the next request, 0..10000 ms (default 0)

Output:
  --format FORMAT        text (the window's text table), csv or json
  --quiet                no progress line on a terminal
  --trace FILE           the exchange log of read or write: every frame sent
                         and taken, decoded, and the events between them, one
                         line each in UTF-8 (- for standard error)
  --dir DIR              work in DIR instead of the current folder

Exit status: 0 every row succeeded (with --compare: every row the same; with
--only-differing or --verify: every row ends equal to its stored value),
1 some row failed (or differs, was not read or has nothing stored), 2 usage,
connection, database or file error (also when the device answered no request
at all). With --targets, the worst of the devices'.
)");
}

} // namespace parvault::cli
