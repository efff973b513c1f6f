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

QByteArray formatText(const ExchangeReport& r) {
    QString out = fromCp1251Line(ExportTitleLine(r.list.title, r.list.fileName)) + QLatin1Char('\n');
    out += fromCp1251Line(ExportColumnLine()) + QLatin1Char('\n');
    for (const RowReport& row : r.rows)
        out += fromCp1251Line(ExportRowLine(row.row)) + QStringLiteral("  ") +
               QLatin1String(OutcomeName(row.outcome)) + QLatin1Char('\n');
    return out.toUtf8();
}

QByteArray formatCsv(const ExchangeReport& r) {
    QString out = QStringLiteral("row,channel,parameter,index,value,units,name,outcome,message\n");
    for (const RowReport& row : r.rows) {
        const auto& t = row.row.texts;
        QStringList f;
        f << QString::number(row.listIndex + 1) << QString::number(LeadingInt(t[ColCanal]))
          << QString::number(LeadingInt(t[ColParam])) << QString::number(LeadingInt(t[ColIndex]))
          << CsvField(t[ColValue]) << CsvField(t[ColUnits]) << CsvField(t[ColName])
          << QLatin1String(OutcomeName(row.outcome)) << CsvField(row.message);
        out += f.join(QLatin1Char(',')) + QLatin1Char('\n');
    }
    return out.toUtf8();
}

QByteArray formatJson(const ExchangeReport& r) {
    QJsonArray rows;
    int succeeded = 0;
    for (const RowReport& row : r.rows) {
        const auto& t = row.row.texts;
        QJsonObject o;
        o["row"] = row.listIndex + 1;
        o["channel"] = LeadingInt(t[ColCanal]);
        o["parameter"] = LeadingInt(t[ColParam]);
        o["index"] = LeadingInt(t[ColIndex]);
        o["kind"] = static_cast<int>(row.row.kind);
        o["value"] = t[ColValue];
        o["units"] = t[ColUnits];
        o["name"] = t[ColName];
        o["outcome"] = QLatin1String(OutcomeName(row.outcome));
        o["message"] = row.message;
        rows.append(o);
        succeeded += Succeeded(row.outcome) ? 1 : 0;
    }
    QJsonObject list;
    list["title"] = r.list.title;
    list["file"] = r.list.fileName;
    list["listNumber"] = r.list.listNumber;
    list["typeCode"] = r.list.typeCode;
    list["typeName"] = r.list.typeName;
    QJsonObject summary;
    summary["selected"] = static_cast<int>(r.rows.size());
    summary["succeeded"] = succeeded;
    summary["failed"] = static_cast<int>(r.rows.size()) - succeeded;
    QJsonObject doc;
    doc["command"] = r.command;
    doc["list"] = list;
    doc["rows"] = rows;
    doc["summary"] = summary;
    doc["exitStatus"] = r.exitStatus;
    return QJsonDocument(doc).toJson(QJsonDocument::Indented);
}

} // namespace

QByteArray FormatReport(const ExchangeReport& report, Format format) {
    switch (format) {
    case Format::Csv:
        return formatCsv(report);
    case Format::Json:
        return formatJson(report);
    case Format::Text:
        break;
    }
    return formatText(report);
}

} // namespace parvault::cli
