#include "listexport.h"

#include <QHash>
#include <QStringDecoder>

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

// Unicode to Windows-1251, one byte for each character, taken from the
// code page's own table. A character the code page lacks, from any plane,
// becomes one '?': the encoder's substitute byte 0x1A is an end-of-file mark
// to the programs that read such tables, and a character outside the basic
// plane must not take two columns.
class Cp1251Table {
public:
    Cp1251Table() {
        QStringDecoder dec("windows-1251");
        for (int b = 0x80; b <= 0xFF; ++b) {
            const char byte = static_cast<char>(b);
            const QString ch = dec.decode(QByteArrayView(&byte, 1));
            // 0x98 has no character; the decoder's replacement is not one.
            if (ch.size() == 1 && ch.at(0) != QChar::ReplacementCharacter)
                m_bytes.insert(ch.at(0).unicode(), byte);
        }
    }
    char byteOf(char32_t c) const {
        if (c < 0x80)
            return static_cast<char>(c);
        return c > 0xFFFF ? '?' : m_bytes.value(static_cast<char16_t>(c), '?');
    }

private:
    QHash<char16_t, char> m_bytes;
};

QByteArray toCp1251(const QString& text) {
    static const Cp1251Table table;
    QByteArray out;
    out.reserve(text.size());
    for (const char32_t c : text.toUcs4())
        out += table.byteOf(c);
    return out;
}

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
