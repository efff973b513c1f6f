#include "targets.h"

#include "cliargs.h"
#include "connectionsettings.h"
#include "portnaming.h"

#include <QFile>
#include <QStringDecoder>
#include <QStringList>

#include <algorithm>
#include <set>

namespace parvault::cli {

namespace {

// One CSV line: fields split at commas, a field in double quotes may hold
// commas and doubled quotes. Fields are trimmed.
std::optional<QStringList> splitCsvLine(const QString& line, QString* why) {
    QStringList fields;
    QString field;
    bool quoted = false;
    bool wasQuoted = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const QChar ch = line[i];
        if (quoted) {
            if (ch == QLatin1Char('"')) {
                if (i + 1 < line.size() && line[i + 1] == QLatin1Char('"')) {
                    field += ch;
                    ++i;
                } else {
                    quoted = false;
                }
            } else {
                field += ch;
            }
        } else if (ch == QLatin1Char('"') && field.trimmed().isEmpty() && !wasQuoted) {
            quoted = wasQuoted = true;
            field.clear();
        } else if (ch == QLatin1Char(',')) {
            fields << (wasQuoted ? field : field.trimmed());
            field.clear();
            wasQuoted = false;
        } else if (wasQuoted) {
            if (!ch.isSpace()) {
                *why = QStringLiteral("text after a closing quote");
                return std::nullopt;
            }
        } else {
            field += ch;
        }
    }
    if (quoted) {
        *why = QStringLiteral("a quote is not closed");
        return std::nullopt;
    }
    fields << (wasQuoted ? field : field.trimmed());
    return fields;
}

bool parseBaud(const QString& text, const QString& route, DeviceTarget& t, QString* why) {
    bool ok = false;
    const int baud = text.toInt(&ok);
    if (!ok || std::find(SpeedTable.begin(), SpeedTable.end(), baud) == SpeedTable.end()) {
        *why = QStringLiteral("route %1: the speed is one of 300, 600, 1200, 2400, 4800, 9600, 19200, "
                              "38400, 57600, 115200")
                   .arg(route);
        return false;
    }
    t.baud = baud;
    return true;
}

bool parseRoute(const QString& text, DeviceTarget& t, QString* why) {
    for (const bool rfc : {false, true}) {
        const QString scheme = rfc ? QStringLiteral("rfc2217:") : QStringLiteral("tcp:");
        if (!text.startsWith(scheme, Qt::CaseInsensitive))
            continue;
        QString rest = text.mid(scheme.size());
        // Only RFC 2217 sets the server's line speed, so only it takes @BAUD.
        const qsizetype at = rfc ? rest.lastIndexOf(QLatin1Char('@')) : -1;
        if (at >= 0) {
            if (!parseBaud(rest.mid(at + 1), text, t, why))
                return false;
            rest = rest.left(at);
        }
        ServerTarget server;
        server.rfc2217 = rfc;
        if (!ParseServerTarget(rest, server.host, server.port, why)) {
            *why = QStringLiteral("route %1: %2").arg(text, *why);
            return false;
        }
        t.server = server;
        return true;
    }
    if (text.startsWith(QLatin1String("udp:"), Qt::CaseInsensitive)) {
        t.udp = true;
        if (!ParseUdpTarget(text.mid(4), t.ip, t.port, why)) {
            *why = QStringLiteral("route %1: %2").arg(text, *why);
            return false;
        }
        return true;
    }
    const qsizetype at = text.indexOf(QLatin1Char('@'));
    const QString port = at < 0 ? text : text.left(at);
    const auto n = port.startsWith(QLatin1String("COM"), Qt::CaseInsensitive) ? ParseComPort(port) : std::nullopt;
    if (!n) {
        *why = QStringLiteral("route \"%1\" is none of udp:HOST:PORT, COMn[@BAUD] (n from 1 to %2), "
                              "tcp:HOST:PORT, rfc2217:HOST:PORT[@BAUD]")
                   .arg(text)
                   .arg(kMaxPortNumber);
        return false;
    }
    t.comPort = *n;
    if (at >= 0 && !parseBaud(text.mid(at + 1), text, t, why))
        return false;
    return true;
}

std::optional<bool> parseFlag(const QString& text) {
    const QString t = text.toLower();
    for (const char* yes : {"optical", "yes", "y", "1", "true", "on"})
        if (t == QLatin1String(yes))
            return true;
    for (const char* no : {"no", "n", "0", "false", "off", "direct"})
        if (t == QLatin1String(no))
            return false;
    return std::nullopt;
}

} // namespace

std::optional<std::vector<DeviceTarget>> parseTargets(const QString& text, QString* why) {
    std::vector<DeviceTarget> targets;
    std::set<QString> names;
    const QStringList lines = text.split(QLatin1Char('\n'));
    bool first = true;
    for (qsizetype k = 0; k < lines.size(); ++k) {
        QString line = lines[k];
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        if (k == 0 && line.startsWith(QChar(0xFEFF)))
            line.remove(0, 1);
        const QString bare = line.trimmed();
        if (bare.isEmpty() || bare.startsWith(QLatin1Char('#')))
            continue;
        const int lineNo = static_cast<int>(k + 1);
        auto bad = [&](const QString& what) {
            *why = QStringLiteral("line %1: %2").arg(lineNo).arg(what);
            return std::nullopt;
        };
        QString reason;
        const auto fields = splitCsvLine(line, &reason);
        if (!fields)
            return bad(reason);
        // A heading line naming the columns.
        if (first && fields->size() >= 2 && fields->at(0).compare(QLatin1String("name"), Qt::CaseInsensitive) == 0 &&
            fields->at(1).compare(QLatin1String("route"), Qt::CaseInsensitive) == 0) {
            first = false;
            continue;
        }
        first = false;
        if (fields->size() < 2 || fields->size() > 4)
            return bad(QStringLiteral("want name, route[, device address[, optical]], got %1 field%2")
                           .arg(fields->size())
                           .arg(fields->size() == 1 ? "" : "s"));
        DeviceTarget t;
        t.line = lineNo;
        t.name = fields->at(0);
        if (t.name.isEmpty())
            return bad(QStringLiteral("the device has no name"));
        if (!names.insert(t.name).second)
            return bad(QStringLiteral("the name \"%1\" is given twice").arg(t.name));
        if (!parseRoute(fields->at(1), t, &reason))
            return bad(reason);
        if (fields->size() > 2 && !fields->at(2).isEmpty()) {
            bool ok = false;
            const int a = fields->at(2).toInt(&ok);
            if (!ok || a < 0 || a > kMaxBusAddress || fields->at(2).startsWith(QLatin1Char('+')))
                return bad(QStringLiteral("the device address is a number from 0 to %1, not \"%2\"")
                               .arg(kMaxBusAddress)
                               .arg(fields->at(2)));
            t.deviceAddress = a;
        }
        if (fields->size() > 3 && !fields->at(3).isEmpty()) {
            t.optical = parseFlag(fields->at(3));
            if (!t.optical)
                return bad(QStringLiteral("the optical flag is \"optical\", \"yes\" or \"no\", not \"%1\"")
                               .arg(fields->at(3)));
        }
        targets.push_back(std::move(t));
    }
    if (targets.empty()) {
        *why = QStringLiteral("no device in it");
        return std::nullopt;
    }
    return targets;
}

std::optional<std::vector<DeviceTarget>> loadTargets(const QString& path, QString* why) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        *why = QStringLiteral("%1: %2").arg(path, f.errorString());
        return std::nullopt;
    }
    QByteArray bytes = f.readAll();
    // A spreadsheet's "text" export is often Windows-1251 or UTF-16: garbled
    // device names would go into tables and messages, so such a file is
    // refused once, as a whole. A UTF-8 byte order mark is allowed.
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes.remove(0, 3);
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8.decode(bytes);
    if (utf8.hasError() || bytes.contains('\0')) {
        const bool utf16 = bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF") || bytes.contains('\0');
        *why = QStringLiteral("%1: the file is not UTF-8 text%2; save it as UTF-8 (CSV UTF-8 in a spreadsheet)")
                   .arg(path, utf16 ? QStringLiteral(" (it looks like UTF-16)") : QString());
        return std::nullopt;
    }
    const auto targets = parseTargets(text, why);
    if (!targets)
        *why = QStringLiteral("%1: %2").arg(path, *why);
    return targets;
}

} // namespace parvault::cli
