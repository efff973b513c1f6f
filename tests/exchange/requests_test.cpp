#include "codepage.h"
#include "requests.h"
#include "wireframes.h"

#include <gtest/gtest.h>

using namespace parvault;
using namespace parvault::testing;

namespace {

ParamRow makeRow(const QString& canal, const QString& param, const QString& index, int32_t kind,
                 const QString& value = {}) {
    ParamRow r;
    r.texts[ColCanal] = canal;
    r.texts[ColParam] = param;
    r.texts[ColIndex] = index;
    r.texts[ColValue] = value;
    r.kind = kind;
    return r;
}

std::string field(const std::array<uint8_t, 3>& f) { return std::string(f.begin(), f.end()); }

class PayloadSink : public FrameSink {
public:
    void send(ExchangeShared& shared) override {
        sent.emplace_back(shared.txFrame.begin() + 2, shared.txFrame.begin() + 2 + shared.txLength());
    }
    std::vector<Bytes> sent;
};

} // namespace

TEST(DigitFields, PadDigitOnlyTurnsBlanks) {
    EXPECT_EQ(PadDigit(' '), '0');
    EXPECT_EQ(PadDigit('7'), '7');
    EXPECT_EQ(PadDigit('x'), 'x');
    EXPECT_EQ(PadDigit('\0'), '\0');
}

TEST(DigitFields, ChannelByLength) {
    EXPECT_EQ(field(channelField("5")), "005");
    EXPECT_EQ(field(channelField(" 5")), "005");
    EXPECT_EQ(field(channelField("15")), "015");
    EXPECT_EQ(field(channelField("  1")), "001");
    EXPECT_EQ(field(channelField(" 12")), "012");
    EXPECT_EQ(field(channelField("123")), "123");
    EXPECT_EQ(field(channelField("12 ")), "12 "); // the last character is copied as it is
    EXPECT_EQ(field(channelField("")), "000");
    EXPECT_EQ(field(channelField("1234")), "000");
    EXPECT_EQ(field(channelField("12345")), "000");
}

TEST(DigitFields, ParameterLosesItsFirstCharacter) {
    EXPECT_EQ(field(parameterField("   3")), "003");
    EXPECT_EQ(field(parameterField(" 152")), "152");
    EXPECT_EQ(field(parameterField("  52")), "052");
    EXPECT_EQ(field(parameterField("1234")), "234");
    EXPECT_EQ(field(parameterField(" 52")), "052");
    EXPECT_EQ(field(parameterField(" 5")), "005");
    EXPECT_EQ(field(parameterField("7")), "003");
    EXPECT_EQ(field(parameterField("")), "003");
    EXPECT_EQ(field(parameterField("12345")), "003");
}

TEST(DigitFields, IndexAndItsUnusableTexts) {
    EXPECT_EQ(field(indexField("0")), "000");
    EXPECT_EQ(field(indexField(" 12")), "012");
    EXPECT_EQ(field(indexField("  7")), "007");
    EXPECT_EQ(field(indexField("999")), "999");
    const std::array<uint8_t, 3> unusable = {HT, 0, 0};
    EXPECT_EQ(indexField("1000"), unusable);
    EXPECT_EQ(indexField(""), unusable);
}

TEST(ReadRequest, RowSevenPlainParameter) {
    const Bytes frame = layoutReadRequest(makeRow("  1", "  52", "  0", KindPlain), 7, {});
    EXPECT_EQ(frame, bytesOf({0x10, 0x01, 0x10, 0x1F, 0x1D, 0x30, 0x30, 0x37, 0x10, 0x02, 0x09, 0x30,
                              0x30, 0x31, 0x09, 0x30, 0x35, 0x32, 0x0C, 0x10, 0x03}));
    // CRC-16/XMODEM of the bytes after DLE SOH, from an independent implementation.
    const Bytes sent = withCrc(frame);
    EXPECT_EQ(sent[21], 0x0A);
    EXPECT_EQ(sent[22], 0xDB);
}

TEST(ReadRequest, Row1003IndexedParameter) {
    const Bytes frame = layoutReadRequest(makeRow("  0", " 300", " 12", KindIndexed), 1003, {});
    ASSERT_EQ(frame.size(), 27u);
    EXPECT_EQ(frame[4], 0x0C);
    EXPECT_EQ(Bytes(frame.begin() + 5, frame.begin() + 8), bytesOf({'0', '0', '3'}));
    EXPECT_EQ(Bytes(frame.begin() + 10, frame.begin() + 25),
              bytesOf({0x09, 0x30, 0x30, 0x30, 0x09, 0x33, 0x30, 0x30, 0x09, 0x30, 0x31, 0x32, 0x09, 0x31, 0x0C}));
    EXPECT_EQ(Bytes(frame.begin() + 25, frame.end()), bytesOf({DLE, ETX}));
    const Bytes sent = withCrc(frame);
    EXPECT_EQ(sent[27], 0xD2);
    EXPECT_EQ(sent[28], 0x82);
}

TEST(ReadRequest, DataBlockAlwaysAsksFor65530) {
    const Bytes frame = layoutReadRequest(makeRow("  3", "  17", "  0", KindDataBlock), 12, {});
    EXPECT_EQ(frame, bytesOf({DLE, SOH, DLE, US, 0x19, '0', '1', '2', DLE, STX, HT, '0', '0', '3', HT,
                              '6', '5', '5', '3', '0', FF, DLE, ETX}));
}

TEST(ReadRequest, OtherKindsAreCutAfterFirstParameterDigit) {
    const Bytes frame = layoutReadRequest(makeRow("  2", " 152", "  0", 7), 4, {});
    EXPECT_EQ(frame, bytesOf({DLE, SOH, DLE, US, 0x1D, '0', '0', '4', DLE, STX, HT, '0', '0', '2', HT, '1',
                              DLE, ETX}));
}

TEST(ReadRequest, EmptyTextsGiveChannelZeroParameterThree) {
    const Bytes frame = layoutReadRequest(makeRow("", "", "", KindPlain), 0, {});
    EXPECT_EQ(Bytes(frame.begin() + 10, frame.begin() + 19), bytesOf({HT, '0', '0', '0', HT, '0', '0', '3', FF}));
}

TEST(ReadRequest, LongestFrameWithThreeByteAddressIsThirty) {
    const Bytes frame = layoutReadRequest(makeRow("999", "9999", "999", KindIndexed), 999, {true, 16, 31});
    EXPECT_EQ(frame.size(), 30u);
}

TEST(ReadRequest, BuildSendsTheTableRow) {
    MemoryRowTable table;
    table.setRows({makeRow("  1", "  52", "  0", KindPlain), makeRow("  2", "  53", "  0", KindPlain)});
    ExchangeShared shared;
    PayloadSink sink;
    BuildReadRequest(shared, sink, table, 1, {true, 5, 1});
    BuildReadRequest(shared, sink, table, 2, {}); // no such row: nothing is sent
    ASSERT_EQ(sink.sent.size(), 1u);
    Bytes expected = layoutReadRequest(table.row(1), 1, {true, 5, 1});
    EXPECT_EQ(sink.sent[0], withCrc(expected));
}

TEST(WriteRequest, RowSevenPlainParameter) {
    const WriteRequest w = layoutWriteRequest(makeRow("  1", "  52", "  0", KindPlain, "12.5"), 7, {});
    ASSERT_EQ(w.status, WriteRequest::Ok);
    EXPECT_EQ(w.frame, bytesOf({0x10, 0x01, 0x10, 0x1F, 0x03, 0x30, 0x30, 0x37, 0x10, 0x02, 0x09, 0x30, 0x30, 0x31,
                                0x09, 0x30, 0x35, 0x32, 0x0C, 0x09, 0x31, 0x32, 0x2E, 0x35, 0x0C, 0x10, 0x03}));
    const Bytes sent = withCrc(w.frame);
    EXPECT_EQ(sent[27], 0xD3);
    EXPECT_EQ(sent[28], 0x97);
}

TEST(WriteRequest, IndexedAndOtherKinds) {
    const WriteRequest indexed = layoutWriteRequest(makeRow("  2", " 300", " 12", KindIndexed, "5"), 1003, {});
    ASSERT_EQ(indexed.status, WriteRequest::Ok);
    EXPECT_EQ(indexed.frame, bytesOf({DLE, SOH, DLE, US, 0x14, '0', '0', '3', DLE, STX, HT, '0', '0', '2', HT, '3',
                                      '0', '0', HT, '0', '1', '2', HT, '1', FF, HT, '5', FF, DLE, ETX}));
    const WriteRequest other = layoutWriteRequest(makeRow("  2", " 300", " 12", 25, "AB"), 1, {});
    ASSERT_EQ(other.status, WriteRequest::Ok);
    EXPECT_EQ(other.frame, bytesOf({DLE, SOH, DLE, US, 0x03, '0', '0', '1', DLE, STX, HT, '0', '0', '2', HT, '3',
                                    'A', 'B', FF, DLE, ETX}));
}

TEST(WriteRequest, ValueGoesOutInOem866) {
    const WriteRequest w = layoutWriteRequest(makeRow("  1", "   5", "  0", KindPlain, QString::fromUtf8("А я")), 0, {});
    ASSERT_EQ(w.status, WriteRequest::Ok);
    EXPECT_EQ(Bytes(w.frame.begin() + 20, w.frame.begin() + 23), bytesOf({0x80, 0x20, 0xEF}));
    EXPECT_EQ(w.frame[23], FF);
}

TEST(WriteRequest, SizeLimitCountsAddressBlockAndTerminator) {
    const BusAddress longAddr{true, 16, 1};
    // Values of up to 101 bytes (kind 0) and 95 bytes (kind 1) always fit.
    EXPECT_EQ(layoutWriteRequest(makeRow("1", "   1", "0", KindPlain, QString(101, 'x')), 0, longAddr).status,
              WriteRequest::Ok);
    EXPECT_EQ(layoutWriteRequest(makeRow("1", "   1", "0", KindPlain, QString(102, 'x')), 0, longAddr).status,
              WriteRequest::ValueTooLong);
    EXPECT_EQ(layoutWriteRequest(makeRow("1", "   1", "0", KindIndexed, QString(95, 'x')), 0, longAddr).status,
              WriteRequest::Ok);
    EXPECT_EQ(layoutWriteRequest(makeRow("1", "   1", "0", KindIndexed, QString(96, 'x')), 0, longAddr).status,
              WriteRequest::ValueTooLong);
    // Without an address block the same buffer takes three more bytes.
    const WriteRequest fits = layoutWriteRequest(makeRow("1", "   1", "0", KindPlain, QString(104, 'x')), 0, {});
    ASSERT_EQ(fits.status, WriteRequest::Ok);
    EXPECT_EQ(fits.frame.size() + 1, static_cast<size_t>(kWriteBufferSize));
    const WriteRequest refused = layoutWriteRequest(makeRow("1", "   1", "0", KindPlain, QString(255, 'x')), 0, {});
    EXPECT_EQ(refused.status, WriteRequest::ValueTooLong);
    EXPECT_TRUE(refused.frame.empty());
}

TEST(WriteRequest, AddressBlockInsertedAfterDleSoh) {
    const WriteRequest w = layoutWriteRequest(makeRow("  1", "  52", "  0", KindPlain, "1"), 7, {true, 16, 2});
    ASSERT_EQ(w.status, WriteRequest::Ok);
    EXPECT_EQ(Bytes(w.frame.begin(), w.frame.begin() + 8), bytesOf({DLE, SOH, 0x10, 0x10, 0x82, DLE, US, 0x03}));
}
