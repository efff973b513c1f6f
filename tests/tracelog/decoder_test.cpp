#include "framedecoder.h"

#include "codepage.h"
#include "exchangeshared.h"
#include "requests.h"
#include "wireframes.h"

#include <gtest/gtest.h>

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& s, std::ostream* os) { *os << s.toStdString(); }
QT_END_NAMESPACE

using namespace parvault;
using namespace parvault::testing;

namespace {

QString decodeRequest(const Bytes& frame) {
    // As it goes out: the frame with its CRC, the way txFrame holds it.
    ExchangeShared shared;
    EXPECT_TRUE(layoutTxFrame(shared, frame));
    return DecodeBytes(std::span<const uint8_t>(shared.txFrame.data() + 2, static_cast<size_t>(shared.txLength())),
                       FrameDirection::Request);
}

ParamRow row(const char* channel, const char* param, const char* index, int32_t kind, const QString& value = {}) {
    ParamRow r;
    r.texts[ColCanal] = QString::fromLatin1(channel);
    r.texts[ColParam] = QString::fromLatin1(param);
    r.texts[ColIndex] = QString::fromLatin1(index);
    r.texts[ColValue] = value;
    r.kind = kind;
    return r;
}

// Every request the program sends, laid out by its own builders.
TEST(FrameDecoder, RequestsTheProgramSends) {
    EXPECT_EQ(decodeRequest(layoutReadRequest(row("  1", "  52", "  0", KindPlain), 7, {})),
              "1D чтение параметра; № 007; канал 001, параметр 052; CRC верна");
    EXPECT_EQ(decodeRequest(layoutReadRequest(row("  0", " 300", " 12", KindIndexed), 1003, {})),
              "0C чтение индексного параметра; № 003; канал 000, параметр 300, индекс 012; CRC верна");
    EXPECT_EQ(decodeRequest(layoutReadRequest(row("  0", "   1", "  0", KindDataBlock), 5, {})),
              "19 чтение блока данных; № 005; канал 000, параметр 65530; CRC верна");
    const WriteRequest plain = layoutWriteRequest(row("  1", "  52", "  0", KindPlain, "12.5"), 7, {});
    EXPECT_EQ(decodeRequest(plain.frame),
              "03 запись параметра; № 007; канал 001, параметр 052, значение «12.5»; CRC верна");
    const WriteRequest indexed =
        layoutWriteRequest(row("  2", " 100", "  2", KindIndexed, QStringLiteral("Газ")), 12, {});
    EXPECT_EQ(decodeRequest(indexed.frame),
              "14 запись индексного параметра; № 012; канал 002, параметр 100, индекс 002, значение «Газ»; CRC верна");
}

TEST(FrameDecoder, RequestWithAddressBlock) {
    const QString text =
        decodeRequest(layoutReadRequest(row("  1", "  52", "  0", KindPlain), 7, BusAddress{true, 16, 1}));
    EXPECT_EQ(text, "1D чтение параметра; адрес устройства 16, свой 1; № 007; канал 001, параметр 052; CRC верна");
}

TEST(FrameDecoder, AnswersTheProgramUnderstands) {
    const Bytes units = AnsiToOem(QStringLiteral("кПа"));
    const Bytes value = wireAnswer(FN_VALUE, 7, valueGroup(oem("12,5") + bytesOf({HT}) + units + bytesOf({FF})));
    EXPECT_EQ(DecodeBytes(value, FrameDirection::Answer),
              "03 значение параметра; № 007; значение «12,5», единицы «кПа»; CRC верна");
    const Bytes indexed = wireAnswer(FN_VALUE_INDEXED, 8, valueGroup(oem("0,9947") + bytesOf({FF})));
    EXPECT_EQ(DecodeBytes(indexed, FrameDirection::Answer),
              "14 значение индексного параметра; № 008; значение «0,9947»; CRC верна");
    const Bytes error = wireAnswer(FN_ERROR, 9, valueGroup(AnsiToOem(QStringLiteral("Запрещено\tсейчас")) + bytesOf({FF})));
    EXPECT_EQ(DecodeBytes(error, FrameDirection::Answer),
              "7F ответ об ошибке; № 009; ошибка «Запрещено сейчас»; CRC верна");
    const Bytes done = wireAnswer(FN_ERROR, 10, valueGroup(bytesOf({FF})));
    EXPECT_EQ(DecodeBytes(done, FrameDirection::Answer), "7F ответ об ошибке; № 010; текст ошибки пуст: выполнено; CRC верна");
    const Bytes block = wireAnswer(FN_DATA_BLOCK, 5, oem("archive"));
    EXPECT_EQ(DecodeBytes(block, FrameDirection::Answer),
              QStringLiteral("21 блок данных; № 005; %1 байт; CRC верна").arg(block.size() - 2));
    EXPECT_EQ(DecodeBytes(wireAnswer(0x42, 1, {}), FrameDirection::Answer),
              "42 неизвестная функция; № 001; CRC верна");
}

TEST(FrameDecoder, DamagedAndPartialAnswers) {
    Bytes value = wireAnswer(FN_VALUE, 7, valueGroup(oem("12,5") + bytesOf({FF})));
    Bytes damaged = value;
    damaged[damaged.size() - 6] ^= 0x01; // one data byte changed
    EXPECT_TRUE(DecodeBytes(damaged, FrameDirection::Answer).endsWith("CRC неверна"));
    const Bytes half(value.begin(), value.begin() + 9);
    EXPECT_EQ(DecodeBytes(half, FrameDirection::Answer), "не целый кадр (9 байт)");
    // The frame's end without its start (the second piece of a delivery).
    const Bytes tail(value.begin() + 9, value.end());
    EXPECT_TRUE(DecodeBytes(tail, FrameDirection::Answer).startsWith("не целый кадр"));
    const Bytes noisy = bytesOf({0x55, 0xAA}) + value + bytesOf({0x00});
    EXPECT_EQ(DecodeBytes(noisy, FrameDirection::Answer),
              "03 значение параметра; № 007; значение «12,5»; CRC верна; 2 байт перед кадром; 1 байт после кадра");
}

TEST(FrameDecoder, OpticalMessages) {
    EXPECT_EQ(DecodeBytes(signOnMessage(), FrameDirection::Request), "вход в оптический порт «/?!»");
    EXPECT_EQ(DecodeBytes(optionSelectMessage(5), FrameDirection::Request),
              "выбор режима: скорость 5 (9600 бод)");
    Bytes ident;
    for (char c : std::string("/ABC4KG-5 v2:\r\n"))
        ident.push_back(withEvenParity(static_cast<uint8_t>(c)));
    EXPECT_EQ(DecodeBytes(ident, FrameDirection::Answer),
              "строка идентификации «/ABC4KG-5 v2:»: скорость 9 (115200 бод)");
    EXPECT_EQ(DecodeBytes(bytesOf({0x06}), FrameDirection::Answer), "подтверждение (ACK)");
    EXPECT_EQ(DecodeBytes(oem("/ABC\n"), FrameDirection::Answer), "строка идентификации «/ABC» без CR: не принята");
}

TEST(FrameDecoder, MeaningsByDirection) {
    // 0x03 and 0x14 mean a write going out and a value coming back.
    EXPECT_EQ(FunctionMeaning(FN_WRITE, FrameDirection::Request), "запись параметра");
    EXPECT_EQ(FunctionMeaning(FN_VALUE, FrameDirection::Answer), "значение параметра");
    EXPECT_EQ(FunctionMeaning(FN_READ, FrameDirection::Answer), "неизвестная функция");
    EXPECT_EQ(FunctionMeaning(FN_ERROR, FrameDirection::Request), "неизвестная функция");
    EXPECT_EQ(HexBytes(bytesOf({0x10, 0x01, 0xAF})), "10 01 AF");
}

} // namespace
