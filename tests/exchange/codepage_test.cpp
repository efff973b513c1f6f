#include "codepage.h"

#include <gtest/gtest.h>

#include <QStringDecoder>
#include <QStringEncoder>

#include <cstdint>
#include <vector>

using namespace parvault;

namespace {

std::vector<uint8_t> allBytesFrom(int first) {
    std::vector<uint8_t> bytes;
    for (int b = first; b <= 0xFF; ++b)
        bytes.push_back(static_cast<uint8_t>(b));
    return bytes;
}

} // namespace

// Fixed vectors, so the Windows build (without the system's converters) is
// held to the same bytes as the Linux one.
TEST(CodePage, KnownBytesBothWays) {
    const QString text = QStringLiteral("Версия программы ёЁ №1");
    const std::vector<uint8_t> oem = {0x82, 0xA5, 0xE0, 0xE1, 0xA8, 0xEF, 0x20, 0xAF, 0xE0, 0xAE, 0xA3,
                                      0xE0, 0xA0, 0xAC, 0xAC, 0xEB, 0x20, 0xF1, 0xF0, 0x20, 0xFC, 0x31};
    EXPECT_EQ(AnsiToOem(text), oem);
    EXPECT_EQ(OemToAnsi(oem), text);
    const QByteArray ansi("\xC2\xE5\xF0\xF1\xE8\xFF \xEF\xF0\xEE\xE3\xF0\xE0\xEC\xEC\xFB \xB8\xA8 \xB9\x31");
    EXPECT_EQ(toAnsiBytes(text), ansi);
    EXPECT_EQ(fromAnsiBytes(ansi), text);
}

TEST(CodePage, MissingCharactersBecomeOneQuestionMarkEach) {
    // The euro sign is in 1251 but not in 866; the emoji is outside the basic
    // plane (two UTF-16 units) and in neither.
    const QString text = QStringLiteral("a€b") + QString::fromUcs4(U"\U0001F600") + QStringLiteral("c");
    EXPECT_EQ(AnsiToOem(text), (std::vector<uint8_t>{'a', '?', 'b', '?', 'c'}));
    EXPECT_EQ(toAnsiBytes(text), QByteArray("a\x88" "b?c"));
    EXPECT_EQ(fromAnsiBytes(QByteArray("\x98")), QString(QChar::ReplacementCharacter));
}

TEST(CodePage, OemToAnsiStopsAtZeroFromOemBytesDoesNot) {
    const std::vector<uint8_t> bytes = {0x8F, 0x00, 0x8F};
    EXPECT_EQ(OemToAnsi(bytes), QStringLiteral("П"));
    EXPECT_EQ(fromOemBytes(bytes).size(), 3);
}

// Every byte of both pages round-trips, and on a system whose converters know
// the pages, our tables give the same characters as theirs.
TEST(CodePage, EveryByteRoundTripsAndAgreesWithTheSystem) {
    const std::vector<uint8_t> oem = allBytesFrom(1);
    EXPECT_EQ(AnsiToOem(fromOemBytes(oem)), oem);
    const std::vector<uint8_t> high = allBytesFrom(0x80);
    QByteArray ansi(reinterpret_cast<const char*>(high.data()), static_cast<qsizetype>(high.size()));
    QByteArray back = toAnsiBytes(fromAnsiBytes(ansi));
    back[0x18] = '\x98'; // the unassigned byte comes back as '?'
    EXPECT_EQ(back, ansi);

    QStringDecoder systemOem("IBM866");
    QStringDecoder systemAnsi("windows-1251");
    if (!systemOem.isValid() || !systemAnsi.isValid())
        GTEST_SKIP() << "no system converter for the code pages here";
    for (uint8_t b : high) {
        const char byte = static_cast<char>(b);
        EXPECT_EQ(fromOemBytes(std::span<const uint8_t>(&b, 1)), systemOem.decode(QByteArrayView(&byte, 1)))
            << "866 byte " << int(b);
        // 0x98 is unassigned: converters disagree on what stands for it.
        if (b != 0x98)
            EXPECT_EQ(fromAnsiBytes(QByteArrayView(&byte, 1)), systemAnsi.decode(QByteArrayView(&byte, 1)))
                << "1251 byte " << int(b);
    }
}
