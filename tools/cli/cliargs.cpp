#include "cliargs.h"

#include "optiontable.h"

#include "portnaming.h"

#include "sockets.h"

namespace parvault::cli {


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
    if (!ParseDecimal(text.mid(colon + 1), p) || p < 1 || p > 65535) {
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
    if (!ParseDecimal(text.mid(colon + 1), p) || p < 1 || p > 65535) {
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

namespace {

// Takes the options into o and the other words into positional; the refusal
// of the first option that cannot be taken, or an empty text.
QString readArguments(const QStringList& args, CliOptions& o, QStringList& positional) {
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
        const CliOption* def = FindOption(name);
        if (!def)
            return QStringLiteral("unknown option %1").arg(name);
        QString value;
        if (def->takesValue()) {
            if (inlineValue)
                value = *inlineValue;
            else if (i + 1 < args.size())
                value = args[++i];
            else
                return QStringLiteral("%1 wants a value").arg(name);
        } else if (inlineValue) {
            return QStringLiteral("%1 takes no value").arg(name);
        }
        if (QString e = def->apply(o, value); !e.isEmpty())
            return e;
    }
    return {};
}

// The command word and its LIST; the refusal, or an empty text.
QString takeCommand(QStringList positional, CliOptions& o) {
    if (positional.isEmpty())
        return QStringLiteral("no command given");
    const QString word = positional.takeFirst();
    const CliCommand* command = FindCommand(word);
    if (!command)
        return QStringLiteral("unknown command \"%1\"").arg(word);
    o.command = command->command;
    if (o.command == Command::Help)
        return {};
    const bool takesList = o.command == Command::Read || o.command == Command::Write || o.command == Command::Save;
    if (takesList) {
        if (positional.isEmpty())
            return QStringLiteral("%1 wants a LIST (type:CODE, a device type name, a list number, file "
                                  "name or list name)")
                .arg(word);
        o.list = positional.takeFirst();
    }
    if (!positional.isEmpty())
        return QStringLiteral("unexpected argument \"%1\"").arg(positional.first());
    return {};
}

// Options that do not go together, or not with the command.
QString refuseCombinations(const CliOptions& o) {
    const ConnectionOverrides& c = o.connection;
    if (c.udpHostIp && c.comPort)
        return QStringLiteral("--udp and --port exclude each other");
    if (c.server && (c.udpHostIp || c.comPort))
        return QStringLiteral("%1 and %2 exclude each other")
            .arg(c.server->rfc2217 ? "--rfc2217" : "--tcp", c.udpHostIp ? "--udp" : "--port");
    for (const char* name : RefusalOrder())
        if (QString e = FindOption(QLatin1String(name))->refuse(o); !e.isEmpty())
            return e;
    if (o.command == Command::Write && o.sets.empty() && !o.rows && !o.onlyDiffering)
        return QStringLiteral("write wants --set ROW=VALUE or --rows ROWS (the rows to write "
                              "with the values the list holds)");
    return {};
}

} // namespace

ParseResult ParseArgs(const QStringList& args) {
    ParseResult r;
    CliOptions& o = r.options;
    QStringList positional;
    r.error = readArguments(args, o, positional);
    if (!r.ok() || o.command == Command::Help || o.command == Command::Version)
        return r;
    r.error = takeCommand(positional, o);
    if (!r.ok() || o.command == Command::Help)
        return r;
    r.error = refuseCombinations(o);
    if (!r.ok())
        return r;
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
)") + CommandsHelp() +
           QStringLiteral(R"(
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
)") + OptionsHelp(OptionGroup::Rows) +
           QStringLiteral("\nConnection (default: Parvault2.i; each option overrides one item):\n") +
           OptionsHelp(OptionGroup::Connection) + QStringLiteral("\nMany devices (read and write):\n") +
           OptionsHelp(OptionGroup::ManyDevices) + QStringLiteral("\nOutput:\n") + OptionsHelp(OptionGroup::Output) +
           QStringLiteral(R"(
Exit status: 0 every row succeeded (with --compare: every row the same; with
--only-differing or --verify: every row ends equal to its stored value),
1 some row failed (or differs, was not read or has nothing stored), 2 usage,
connection, database or file error (also when the device answered no request
at all). With --targets, the worst of the devices'.
)");
}

} // namespace parvault::cli
