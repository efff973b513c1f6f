#include "frame.h"
#include "requests.h"
#include "wireframes.h"

#include <gtest/gtest.h>

#include <string_view>

using namespace parvault;
using namespace parvault::testing;

namespace {

class RecordingSink : public FrameSink {
public:
    void send(ExchangeShared& shared) override {
        const int n = shared.txLength();
        sent.emplace_back(shared.txFrame.begin(), shared.txFrame.begin() + 2 + n);
    }
    std::vector<Bytes> sent;
};

Bytes ascii(std::string_view s) { return Bytes(s.begin(), s.end()); }

} // namespace

TEST(Crc16, PublishedCheckValuesAndEmptyRange) {
    EXPECT_EQ(Crc16(ascii("123456789")), 0x31C3); // CRC-16/XMODEM check value
    EXPECT_EQ(Crc16(Bytes{}), 0x0000);
    EXPECT_EQ(Crc16(bytesOf({0x00})), 0x0000);
    EXPECT_EQ(Crc16(bytesOf({0xFF})), 0x1EF0);
    EXPECT_EQ(Crc16(ascii("A")), 0x58E5);
}

TEST(Crc16, CountIsSixteenBit) {
    Bytes data(70000, 0x5A);
    EXPECT_EQ(Crc16(data.data(), 70000), Crc16(std::span<const uint8_t>(data.data(), 70000 - 65536)));
    EXPECT_EQ(Crc16(data.data(), 65536), 0);
}

TEST(SendFrame, LaysOutLengthFrameAndCrcHighFirst) {
    ExchangeShared shared;
    RecordingSink sink;
    const Bytes frame = bytesOf({DLE, SOH, DLE, US, 0x1D, '0', '0', '7', DLE, STX, HT, 'x', FF, DLE, ETX});
    ASSERT_EQ(SendFrame(shared, sink, frame), 0);
    ASSERT_EQ(sink.sent.size(), 1u);
    const Bytes& tx = sink.sent[0];
    const uint16_t crc = Crc16(std::span<const uint8_t>(frame).subspan(2));
    ASSERT_EQ(tx.size(), frame.size() + 4);
    EXPECT_EQ(tx[0], frame.size() + 2);
    EXPECT_EQ(tx[1], 0);
    EXPECT_TRUE(std::equal(frame.begin(), frame.end(), tx.begin() + 2));
    EXPECT_EQ(tx[tx.size() - 2], crc >> 8);
    EXPECT_EQ(tx[tx.size() - 1], crc & 0xFF);
    // The check the receiver makes: CRC from after DLE SOH through the CRC itself is 0.
    EXPECT_EQ(Crc16(std::span<const uint8_t>(tx).subspan(4)), 0);
}

TEST(SendFrame, RefusesFramesTxFrameCannotHold) {
    ExchangeShared shared;
    RecordingSink sink;
    EXPECT_EQ(SendFrame(shared, sink, Bytes(kTxFrameMax - 1, 0x41)), -1);
    EXPECT_EQ(SendFrame(shared, sink, bytesOf({DLE})), -1);
    EXPECT_TRUE(sink.sent.empty());
    EXPECT_EQ(SendFrame(shared, sink, Bytes(kTxFrameMax - 2, 0x41)), 0);
    ASSERT_EQ(sink.sent.size(), 1u);
    EXPECT_EQ(shared.txLength(), kTxFrameMax);
}

TEST(AddressBlock, PlainDoubledAndAbsent) {
    EXPECT_TRUE(AddressBlock({false, 5, 1}).empty());
    EXPECT_EQ(AddressBlock({true, 5, 1}), bytesOf({0x05, 0x81}));
    EXPECT_EQ(AddressBlock({true, 16, 1}), bytesOf({0x10, 0x10, 0x81}));
    EXPECT_EQ(AddressBlock({true, 0, 31}), bytesOf({0x00, 0x9F}));
}

TEST(AddressBlock, RequestStartsAndCrcCoversDoubledByte) {
    ParamRow row;
    row.texts[ColCanal] = "  1";
    row.texts[ColParam] = "  52";
    const Bytes five = layoutReadRequest(row, 7, {true, 5, 1});
    EXPECT_EQ(Bytes(five.begin(), five.begin() + 6), bytesOf({0x10, 0x01, 0x05, 0x81, 0x10, 0x1F}));
    const Bytes sixteen = layoutReadRequest(row, 7, {true, 16, 1});
    EXPECT_EQ(Bytes(sixteen.begin(), sixteen.begin() + 7), bytesOf({0x10, 0x01, 0x10, 0x10, 0x81, 0x10, 0x1F}));
    EXPECT_EQ(sixteen.size(), 21u + 3u);

    ExchangeShared shared;
    RecordingSink sink;
    SendFrame(shared, sink, sixteen);
    const Bytes& tx = sink.sent.at(0);
    const uint16_t crc = static_cast<uint16_t>(tx[tx.size() - 2] << 8 | tx[tx.size() - 1]);
    EXPECT_EQ(crc, Crc16(std::span<const uint8_t>(sixteen).subspan(2)));
    // Dropping one of the two 0x10 bytes gives another CRC: both are covered.
    Bytes single = sixteen;
    single.erase(single.begin() + 2);
    EXPECT_NE(crc, Crc16(std::span<const uint8_t>(single).subspan(2)));
}

TEST(Sequence, ReducedBelowThousand) {
    EXPECT_EQ(sequenceOf(0), 0);
    EXPECT_EQ(sequenceOf(999), 999);
    EXPECT_EQ(sequenceOf(1234), 234);
    EXPECT_EQ(sequenceOf(2000), 0);
    EXPECT_EQ(sequenceOf(-5), 0);
    ParamRow row;
    const Bytes f = layoutReadRequest(row, 1234, {});
    EXPECT_EQ(Bytes(f.begin() + 5, f.begin() + 8), bytesOf({0x32, 0x33, 0x34}));
}

TEST(OpticalMessages, SignOnAndOptionSelectBytes) {
    EXPECT_EQ(signOnMessage(), bytesOf({0xAF, 0x3F, 0x21, 0x8D, 0x0A}));
    EXPECT_EQ(optionSelectMessage(5), bytesOf({0x06, 0x30, 0x35, 0x33, 0x8D, 0x0A}));
    const int table[10] = {0x30, 0xB1, 0xB2, 0x33, 0xB4, 0x35, 0x36, 0xB7, 0xB8, 0x39};
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(ParityDigit(i), table[i]) << i;
    EXPECT_EQ(ParityDigit(-1), 0x30);
    EXPECT_EQ(ParityDigit(10), 0x30);

    ExchangeShared shared;
    RecordingSink sink;
    SendSignOn(shared, sink);
    SendOptionSelect(shared, sink, 7);
    ASSERT_EQ(sink.sent.size(), 2u);
    EXPECT_EQ(sink.sent[0], bytesOf({5, 0, 0xAF, 0x3F, 0x21, 0x8D, 0x0A}));
    EXPECT_EQ(sink.sent[1], bytesOf({6, 0, 0x06, 0x30, 0xB7, 0x33, 0x8D, 0x0A}));
}

TEST(OpticalMessages, IdentSpeedIndexClampsToFastest) {
    EXPECT_EQ(identSpeedIndex('5'), 5);
    EXPECT_EQ(identSpeedIndex('0' | 0x80), 0);
    EXPECT_EQ(identSpeedIndex(':'), 9);
    EXPECT_EQ(identSpeedIndex('?'), 9);
}
