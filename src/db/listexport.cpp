#include "listexport.h"

#include "listfiletable.h"

#include <QStringEncoder>

#include <array>

namespace parvault {

namespace {

struct ColumnWidth {
    int maxChars; // characters taken from the text
    int padTo;    // padded with spaces to at least this
};

constexpr std::array<ColumnWidth, ColumnCount> kExportWidths = {{
    {31, 6},  // channel
    {31, 6},  // parameter
    {31, 6},  // index
    {63, 64}, // value
    {31, 10}, // units
    {47, 32}, // name
}};

QByteArray toCp1251(const QString& text) {
    QStringEncoder enc("windows-1251");
    return enc.encode(text);
}

QString cell(const ParamRow& row, int column) {
    const ColumnWidth w = kExportWidths[static_cast<size_t>(column)];
    QString t = CutText(row.texts[static_cast<size_t>(column)], w.maxChars);
    if (t.size() < w.padTo)
        t += QString(w.padTo - t.size(), QLatin1Char(' '));
    return t;
}

} // namespace

bool IsDiagnosticText(const QString& value) {
    static const std::array<QString, 6> kPrefixes = {
        QStringLiteral("Параме"), QStringLiteral("Нет д"),  QStringLiteral("Индекс"),
        QStringLiteral("Канал"),  QStringLiteral("Формат"), QStringLiteral("Не вво"),
    };
    for (const QString& p : kPrefixes)
        if (value.startsWith(p, Qt::CaseSensitive))
            return true;
    return false;
}

QByteArray ExportTitleLine(const QString& listName, const QString& fileName) {
    return toCp1251(QStringLiteral("                                Прибор: %1 (%2)\r\n").arg(listName, fileName));
}

QByteArray ExportColumnLine() {
    return toCp1251(QStringLiteral(
        "Канал  Параметр  Индекс     Значение         Ед.изм.          Наименование\r\n"));
}

QByteArray ExportRowLine(const ParamRow& row) {
    const QString line = QLatin1Char(' ') + cell(row, ColCanal) + QStringLiteral("  ") + cell(row, ColParam) +
                         QStringLiteral("    ") + cell(row, ColIndex) + QLatin1Char(' ') + cell(row, ColValue) +
                         QLatin1Char(' ') + cell(row, ColUnits) + QStringLiteral("    ") + cell(row, ColName) +
                         QStringLiteral("\r\n");
    return toCp1251(line);
}

QString DefaultExportName(const QString& typeName) {
    QString name = typeName;
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    name.replace(QLatin1Char('\\'), QLatin1Char('_'));
    return name + QStringLiteral(".txt");
}

} // namespace parvault
