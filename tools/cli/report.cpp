#include "report.h"

#include "rowtable.h"
#include "listexport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringDecoder>

namespace parvault::cli {

const char* OutcomeName(Outcome o) {
    switch (o) {
    case Outcome::ReadOk:
        return "ok";
    case Outcome::ReadError:
        return "error";
    case Outcome::ReadUnanswered:
    case Outcome::WriteUnanswered:
        return "unanswered";
    case Outcome::NotRead:
        return "not-read";
    case Outcome::Written:
        return "written";
    case Outcome::Refused:
        return "refused";
    case Outcome::NotSent:
        return "not-sent";
    case Outcome::NotWritten:
        return "not-written";
    }
    return "?";
}

bool Succeeded(Outcome o) { return o == Outcome::ReadOk || o == Outcome::Written; }

bool Unanswered(Outcome o) { return o == Outcome::ReadUnanswered || o == Outcome::WriteUnanswered; }

Outcome ReadOutcome(const ParamRow& row) {
    switch (row.icon) {
    case IconNeutral:
        return Outcome::ReadOk;
    case IconSent:
        return Outcome::ReadError;
    case IconReadUnanswered:
        return Outcome::ReadUnanswered;
    default:
        return Outcome::NotRead;
    }
}

Outcome WriteOutcome(const ParamRow& row, const QString& typedValue) {
    switch (row.icon) {
    case IconWritten:
        return Outcome::Written;
    case IconEdited:
        // A refusal puts the device's text into the value column; a value the
        // controller would not send stays as it was typed.
        return row.texts[ColValue] == typedValue ? Outcome::NotSent : Outcome::Refused;
    case IconWriteUnanswered:
        return Outcome::WriteUnanswered;
    default:
        return Outcome::NotWritten;
    }
}

QString EscapeControls(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (const QChar ch : text) {
        const char16_t c = ch.unicode();
        if (c == u'\n')
            out += QStringLiteral("\\n");
        else if (c == u'\t')
            out += QStringLiteral("\\t");
        else if (c == u'\r')
            out += QStringLiteral("\\r");
        else if (c < 0x20 || c == 0x7F)
            out += QStringLiteral("\\x%1").arg(static_cast<int>(c), 2, 16, QLatin1Char('0'));
        else
            out += ch;
    }
    return out;
}

QString CsvField(const QString& text) {
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) &&
        !text.contains(QLatin1Char('\n')) && !text.contains(QLatin1Char('\r')))
        return text;
    QString q = text;
    q.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + q + QLatin1Char('"');
}

namespace {

QString fromCp1251Line(const QByteArray& line) {
    QStringDecoder dec("windows-1251");
    QString text = dec.decode(line);
    if (text.endsWith(QStringLiteral("\r\n")))
        text.chop(2);
    return text;
}

// A write read back names what came of the row; otherwise the exchange's outcome.
QLatin1String outcomeWord(const RowReport& row) {
    return QLatin1String(row.writeBack ? writeBackName(*row.writeBack) : OutcomeName(row.outcome));
}

QString textRowLine(const RowReport& row, bool compare) {
    ParamRow shown = row.row;
    for (QString& text : shown.texts)
        text = EscapeControls(text);
    QString line = fromCp1251Line(ExportRowLine(shown)) + QStringLiteral("  ") + outcomeWord(row);
    if (row.writeBack) {
        line += QStringLiteral("  stored: ") + EscapeControls(row.stored);
        if (!row.message.isEmpty())
            line += QStringLiteral("  (") + EscapeControls(row.message) + QLatin1Char(')');
    } else if (compare) {
        line += QStringLiteral("  ") + QLatin1String(verdictName(row.verdict));
        if (!row.stored.isEmpty())
            line += QStringLiteral("  stored: ") + EscapeControls(row.stored);
    }
    return line + QLatin1Char('\n');
}

QString textTable(const ListInfo& list, const std::vector<RowReport>& rows, bool compare) {
    QString out = fromCp1251Line(ExportTitleLine(EscapeControls(list.title), list.fileName)) + QLatin1Char('\n');
    out += fromCp1251Line(ExportColumnLine()) + QLatin1Char('\n');
    for (const RowReport& row : rows)
        out += textRowLine(row, compare);
    return out;
}

QString csvHeader(bool compare, bool device, bool writeBack = false) {
    QString h = QStringLiteral("row,channel,parameter,index,value,units,name,outcome,message");
    if (compare)
        h += QStringLiteral(",stored,verdict");
    else if (writeBack)
        h += QStringLiteral(",stored");
    return (device ? QStringLiteral("device,") : QString()) + h + QLatin1Char('\n');
}

QString csvRow(const RowReport& row, bool compare, const QString* device) {
    const auto& t = row.row.texts;
    QStringList f;
    if (device)
        f << CsvField(*device);
    f << QString::number(row.listIndex + 1) << QString::number(leadingInt(t[ColCanal]))
      << QString::number(leadingInt(t[ColParam])) << QString::number(leadingInt(t[ColIndex]))
      << CsvField(t[ColValue]) << CsvField(t[ColUnits]) << CsvField(t[ColName])
      << outcomeWord(row) << CsvField(row.message);
    if (compare)
        f << CsvField(row.stored) << QLatin1String(verdictName(row.verdict));
    else if (row.writeBack)
        f << CsvField(row.stored);
    return f.join(QLatin1Char(',')) + QLatin1Char('\n');
}

QJsonObject jsonRow(const RowReport& row, bool compare, const QString* device) {
    const auto& t = row.row.texts;
    QJsonObject o;
    if (device)
        o["device"] = *device;
    o["row"] = row.listIndex + 1;
    o["channel"] = leadingInt(t[ColCanal]);
    o["parameter"] = leadingInt(t[ColParam]);
    o["index"] = leadingInt(t[ColIndex]);
    o["kind"] = static_cast<int>(row.row.kind);
    o["value"] = t[ColValue];
    o["units"] = t[ColUnits];
    o["name"] = t[ColName];
    o["outcome"] = outcomeWord(row);
    o["message"] = row.message;
    if (row.writeBack)
        o["stored"] = row.stored;
    if (compare) {
        o["stored"] = row.stored;
        o["verdict"] = QLatin1String(verdictName(row.verdict));
    }
    return o;
}

// Counts of rows, added up over devices.
struct Tally {
    int selected = 0;
    int succeeded = 0;
    int verdicts[4] = {};

    void add(const RowReport& row) {
        ++selected;
        if (row.writeBack)
            succeeded += *row.writeBack == WriteBack::Written || *row.writeBack == WriteBack::Unchanged ? 1 : 0;
        else
            succeeded += Succeeded(row.outcome) ? 1 : 0;
        ++verdicts[static_cast<int>(row.verdict)];
    }
    QJsonObject json(bool compare) const {
        QJsonObject o;
        o["selected"] = selected;
        o["succeeded"] = succeeded;
        o["failed"] = selected - succeeded;
        if (compare) {
            o["same"] = verdicts[static_cast<int>(Verdict::Same)];
            o["differs"] = verdicts[static_cast<int>(Verdict::Differs)];
            o["notRead"] = verdicts[static_cast<int>(Verdict::NotRead)];
            o["nothingStored"] = verdicts[static_cast<int>(Verdict::NothingStored)];
        }
        return o;
    }
};

QJsonObject jsonList(const ListInfo& l) {
    QJsonObject list;
    list["title"] = l.title;
    list["file"] = l.fileName;
    list["listNumber"] = l.listNumber;
    list["typeCode"] = l.typeCode;
    list["typeName"] = l.typeName;
    return list;
}

QJsonObject jsonSaved(const SavedList& s) {
    QJsonObject o;
    o["number"] = s.number;
    o["name"] = s.name;
    o["file"] = s.fileName;
    o["rows"] = s.rows;
    return o;
}

QByteArray formatJson(const ExchangeReport& r) {
    QJsonArray rows;
    Tally tally;
    for (const RowReport& row : r.rows) {
        rows.append(jsonRow(row, r.compare, nullptr));
        tally.add(row);
    }
    QJsonObject doc;
    doc["command"] = r.command;
    doc["list"] = jsonList(r.list);
    doc["rows"] = rows;
    doc["summary"] = tally.json(r.compare);
    if (r.savedAs)
        doc["savedAs"] = jsonSaved(*r.savedAs);
    doc["exitStatus"] = r.exitStatus;
    return QJsonDocument(doc).toJson(QJsonDocument::Indented);
}

} // namespace

QByteArray FormatReport(const ExchangeReport& report, Format format) {
    switch (format) {
    case Format::Csv: {
        QString out = csvHeader(report.compare, false, report.writeBack);
        for (const RowReport& row : report.rows)
            out += csvRow(row, report.compare, nullptr);
        return out.toUtf8();
    }
    case Format::Json:
        return formatJson(report);
    case Format::Text:
        break;
    }
    return textTable(report.list, report.rows, report.compare).toUtf8();
}

QByteArray FormatDevicesReport(const DevicesReport& r, Format format) {
    switch (format) {
    case Format::Csv: {
        QString out = csvHeader(r.compare, true, r.writeBack);
        for (const DeviceReport& d : r.devices)
            for (const RowReport& row : d.rows)
                out += csvRow(row, r.compare, &d.name);
        return out.toUtf8();
    }
    case Format::Json: {
        QJsonArray rows, devices;
        Tally all;
        for (const DeviceReport& d : r.devices) {
            Tally mine;
            for (const RowReport& row : d.rows) {
                rows.append(jsonRow(row, r.compare, &d.name));
                mine.add(row);
                all.add(row);
            }
            QJsonObject o;
            o["name"] = d.name;
            o["route"] = d.route;
            o["summary"] = mine.json(r.compare);
            o["exitStatus"] = d.exitStatus;
            o["problems"] = QJsonArray::fromStringList(d.problems);
            devices.append(o);
        }
        QJsonObject doc;
        doc["command"] = r.command;
        doc["list"] = jsonList(r.list);
        doc["devices"] = devices;
        doc["rows"] = rows;
        doc["summary"] = all.json(r.compare);
        doc["exitStatus"] = r.exitStatus;
        return QJsonDocument(doc).toJson(QJsonDocument::Indented);
    }
    case Format::Text:
        break;
    }
    QString out;
    for (const DeviceReport& d : r.devices) {
        if (!out.isEmpty())
            out += QLatin1Char('\n');
        out += QStringLiteral("== %1 (%2) ==\n").arg(d.name, d.route);
        out += textTable(r.list, d.rows, r.compare);
    }
    return out.toUtf8();
}

QByteArray FormatSavedList(const SavedList& list, Format format) {
    switch (format) {
    case Format::Csv:
        return (QStringLiteral("list,list_name,file,rows\n%1,%2,%3,%4\n")
                    .arg(list.number)
                    .arg(CsvField(list.name), CsvField(list.fileName))
                    .arg(list.rows))
            .toUtf8();
    case Format::Json:
        return QJsonDocument(jsonSaved(list)).toJson(QJsonDocument::Indented);
    case Format::Text:
        break;
    }
    return QStringLiteral("%1  %2  (%3)\n").arg(list.number).arg(list.name, list.fileName).toUtf8();
}

} // namespace parvault::cli
