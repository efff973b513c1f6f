#include "codepage.h"

#include <algorithm>
#include <array>

namespace parvault {

namespace {

// The upper halves of the two code pages, byte 0x80 first. The lower halves
// are ASCII in both. Kept as our own tables rather than taken from the
// platform's converters: one build has ICU and the other has not, and the
// bytes on the wire and in the table file must not depend on which.
constexpr char16_t kNoChar = 0xFFFD; // a byte the code page leaves unassigned

constexpr std::array<char16_t, 128> kCp866High = {
    // 0x80..0x9F: А..Я
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417, 0x0418, 0x0419, 0x041A, 0x041B,
    0x041C, 0x041D, 0x041E, 0x041F, 0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427,
    0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,
    // 0xA0..0xAF: а..п
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437, 0x0438, 0x0439, 0x043A, 0x043B,
    0x043C, 0x043D, 0x043E, 0x043F,
    // 0xB0..0xDF: shades and box drawing
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557,
    0x255D, 0x255C, 0x255B, 0x2510, 0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559,
    0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    // 0xE0..0xEF: р..я
    0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447, 0x0448, 0x0449, 0x044A, 0x044B,
    0x044C, 0x044D, 0x044E, 0x044F,
    // 0xF0..0xFF
    0x0401, 0x0451, 0x0404, 0x0454, 0x0407, 0x0457, 0x040E, 0x045E, 0x00B0, 0x2219, 0x00B7, 0x221A,
    0x2116, 0x00A4, 0x25A0, 0x00A0,
};

constexpr std::array<char16_t, 128> kCp1251High = {
    // 0x80..0x9F
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039,
    0x040A, 0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    kNoChar, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,
    // 0xA0..0xBF
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB,
    0x00AC, 0x00AD, 0x00AE, 0x0407, 0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,
    // 0xC0..0xFF: А..я
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417, 0x0418, 0x0419, 0x041A, 0x041B,
    0x041C, 0x041D, 0x041E, 0x041F, 0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427,
    0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F, 0x0430, 0x0431, 0x0432, 0x0433,
    0x0434, 0x0435, 0x0436, 0x0437, 0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F,
    0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447, 0x0448, 0x0449, 0x044A, 0x044B,
    0x044C, 0x044D, 0x044E, 0x044F,
};

class CodePage {
public:
    explicit CodePage(const std::array<char16_t, 128>& high) : high_(high) {
        for (size_t i = 0; i < high.size(); ++i)
            if (high[i] != kNoChar)
                reverse_[i] = {high[i], static_cast<uint8_t>(0x80 + i)};
        std::sort(reverse_.begin(), reverse_.end());
    }

    QString decode(const uint8_t* bytes, size_t n) const {
        QString text(static_cast<qsizetype>(n), Qt::Uninitialized);
        QChar* out = text.data();
        for (size_t i = 0; i < n; ++i)
            out[i] = QChar(bytes[i] < 0x80 ? char16_t{bytes[i]} : high_[bytes[i] - 0x80u]);
        return text;
    }

    // One byte per character; a character the page lacks, from any plane,
    // becomes one '?', so a column of the table keeps its width.
    template <typename Out>
    void encode(const QString& text, Out& out) const {
        const qsizetype n = text.size();
        for (qsizetype i = 0; i < n; ++i) {
            const char16_t c = text.at(i).unicode();
            if (QChar::isHighSurrogate(c) && i + 1 < n && QChar::isLowSurrogate(text.at(i + 1).unicode())) {
                ++i;
                out.push_back('?');
                continue;
            }
            out.push_back(static_cast<typename Out::value_type>(byteOf(c)));
        }
    }

private:
    uint8_t byteOf(char16_t c) const {
        if (c < 0x80)
            return static_cast<uint8_t>(c);
        auto at = std::lower_bound(reverse_.begin(), reverse_.end(), std::pair<char16_t, uint8_t>{c, 0});
        return at != reverse_.end() && at->first == c ? at->second : uint8_t{'?'};
    }

    const std::array<char16_t, 128>& high_;
    std::array<std::pair<char16_t, uint8_t>, 128> reverse_{}; // unused entries sort first as {0, 0}
};

const CodePage& cp866() {
    static const CodePage page(kCp866High);
    return page;
}

const CodePage& cp1251() {
    static const CodePage page(kCp1251High);
    return page;
}

} // namespace

QString OemToAnsi(std::span<const uint8_t> bytes) {
    const auto end = std::find(bytes.begin(), bytes.end(), uint8_t{0});
    return cp866().decode(bytes.data(), static_cast<size_t>(end - bytes.begin()));
}

std::vector<uint8_t> AnsiToOem(const QString& text) {
    std::vector<uint8_t> out;
    cp866().encode(text, out);
    return out;
}

QString fromOemBytes(std::span<const uint8_t> bytes) { return cp866().decode(bytes.data(), bytes.size()); }

QByteArray toAnsiBytes(const QString& text) {
    QByteArray out;
    cp1251().encode(text, out);
    return out;
}

QString fromAnsiBytes(QByteArrayView bytes) {
    return cp1251().decode(reinterpret_cast<const uint8_t*>(bytes.data()), static_cast<size_t>(bytes.size()));
}

} // namespace parvault
