#include "listexport.h"

#include "codepage.h"

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

// The table is written in Windows-1251 on every system, from the program's
// own code page table (Qt without ICU, as on Windows, has no 1251). A
// character the code page lacks, from any plane, becomes one '?': an
// encoder's substitute byte 0x1A is an end-of-file mark to the programs that
// read such tables, and a character outside the basic plane must not take
// two columns.
QByteArray toCp1251(const QString& text) { return toAnsiBytes(text); }

// Cut and padded in bytes of the file, so every row keeps its columns.
QByteArray cell(const ParamRow& row, int column) {
    const ColumnWidth w = kExportWidths[static_cast<size_t>(column)];
    QByteArray t = toCp1251(row.texts[static_cast<size_t>(column)]).left(w.maxChars);
    if (t.size() < w.padTo)
        t += QByteArray(w.padTo - t.size(), ' ');
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
    return ' ' + cell(row, ColCanal) + "  " + cell(row, ColParam) + "    " + cell(row, ColIndex) + ' ' +
           cell(row, ColValue) + ' ' + cell(row, ColUnits) + "    " + cell(row, ColName) + "\r\n";
}

QString DefaultExportName(const QString& typeName) {
    QString name = typeName;
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    name.replace(QLatin1Char('\\'), QLatin1Char('_'));
    return name + QStringLiteral(".txt");
}

} // namespace parvault
