#include "devsimtest.h"

#include <gtest/gtest.h>

using namespace parvault;
using namespace parvault::devsim;
using namespace parvault::devsimtest;

namespace {

const char* const kModelTable = R"(# test table
1  52  0 | 12,5 | кг/ч
1  53  0 | 7
0   1  0 | 50214 | | ro
1 300 12 | Вкл | | 
0 65530 0 | строка 1\tстрока 2 | |
[type 5]
2  10  0 | пять | В
[type 20]
2  10  0 | двадцать | А | silent=1
)";

DeviceModel makeModel(DeviceConfig config = {}, std::optional<int> type = std::nullopt) {
    ParamTable t;
    QString error;
    EXPECT_TRUE(t.parse(QString::fromUtf8(kModelTable), type, &error)) << error.toStdString();
    return DeviceModel(std::move(t), config);
}

ParsedAnswer ask(DeviceModel& m, const Bytes& request) {
    auto reply = m.handleFrame(request, "test");
    if (!reply)
        return {};
    return parse(reply->bytes);
}

} // namespace

TEST(ParamFile, SectionsEscapesAndOptions) {
    ParamTable all;
    ASSERT_TRUE(all.parse(QString::fromUtf8(kModelTable), std::nullopt, nullptr));
    EXPECT_EQ(all.entries().size(), 6u);
    EXPECT_EQ(all.entries().at({2, 10, 0}).value, QString::fromUtf8("двадцать")); // later line wins
    EXPECT_EQ(all.entries().at({0, 65530, 0}).value, QString::fromUtf8("строка 1\tстрока 2"));
    EXPECT_TRUE(all.entries().at({0, 1, 0}).readOnly);
    EXPECT_EQ(all.entries().at({1, 52, 0}).units, QString::fromUtf8("кг/ч"));

    ParamTable five;
    ASSERT_TRUE(five.parse(QString::fromUtf8(kModelTable), 5, nullptr));
    EXPECT_EQ(five.entries().at({2, 10, 0}).value, QString::fromUtf8("пять"));
    EXPECT_FALSE(five.entries().at({2, 10, 0}).failure.any());
    ParamTable twenty;
    ASSERT_TRUE(twenty.parse(QString::fromUtf8(kModelTable), 20, nullptr));
    EXPECT_EQ(twenty.entries().at({2, 10, 0}).failure.silentFirst, 1);
}

TEST(ParamFile, ErrorsNameTheLine) {
    const std::vector<std::pair<const char*, const char*>> bad = {
        {"1 2 | x", "line 1"},
        {"# ok\n1 2 3 x", "line 2"},
        {"1 2 3 | x | y | bogus", "unknown option"},
        {"1 2 3 | x | y | pieces=0", "bad number"},
        {"[type]\n", "line 1"},
        {"1 2 1000 | x", "index"},
    };
    for (const auto& [text, expected] : bad) {
        ParamTable t;
        QString error;
        EXPECT_FALSE(t.parse(QString::fromUtf8(text), std::nullopt, &error)) << text;
        EXPECT_TRUE(error.contains(QString::fromUtf8(expected))) << text << " -> " << error.toStdString();
    }
    ParamTable t;
    QString error;
    EXPECT_TRUE(t.parse("1 2 3 | x | y | error=\"два слова\" delay=5 wrongseq", std::nullopt, &error));
    const Failure& f = t.entries().at({1, 2, 3}).failure;
    EXPECT_EQ(f.errorText, QString::fromUtf8("два слова"));
    EXPECT_EQ(f.delayMs, 5);
    EXPECT_EQ(f.wrongSequence, 1);
}

TEST(ParamFile, DemoFileLoadsForEveryDemoType) {
    for (int type : {5, 20, 21, 23, 26}) {
        ParamTable t;
        QString error;
        ASSERT_TRUE(t.load(PARVAULT_DEMO_PARAMS, type, &error)) << type << ": " << error.toStdString();
        bool below = false, above = false, indexed = false, block = false;
        for (const auto& [key, entry] : t.entries()) {
            below |= key.param < 300;
            above |= key.param >= 300 && key.param != kBlockParam;
            indexed |= key.index > 0;
            block |= key.param == kBlockParam;
        }
        EXPECT_TRUE(below && above && indexed && block) << type;
    }
}

TEST(DeviceModel, ReadsOfAllThreeKinds) {
    DeviceModel m = makeModel();
    const auto plain = ask(m, readRequest(7, 1, 52));
    EXPECT_EQ(plain.result, ANSWER_OK);
    EXPECT_EQ(plain.function, FN_VALUE);
    EXPECT_EQ(plain.sequence, 7);
    EXPECT_EQ(plain.value, QString::fromUtf8("12,5"));
    EXPECT_EQ(plain.units, QString::fromUtf8("кг/ч"));

    const auto noUnits = ask(m, readRequest(8, 1, 53));
    EXPECT_EQ(noUnits.value, QString("7"));
    EXPECT_FALSE(noUnits.units.has_value());

    const auto indexed = ask(m, readRequest(1003, 1, 300, 12, KindIndexed));
    EXPECT_EQ(indexed.function, FN_VALUE_INDEXED);
    EXPECT_EQ(indexed.sequence, 3);
    EXPECT_EQ(indexed.value, QString::fromUtf8("Вкл"));

    const auto block = ask(m, readRequest(12, 0, 350, 0, KindDataBlock));
    EXPECT_EQ(block.function, FN_DATA_BLOCK);
    EXPECT_EQ(block.value, QString("-OK-"));
    const QByteArray blockBytes(reinterpret_cast<const char*>(block.dataBlock.data()),
                                static_cast<qsizetype>(block.dataBlock.size()));
    EXPECT_TRUE(blockBytes.contains(QByteArray("\xE1\xE2\xE0\xAE\xAA\xA0 1\t"))); // "строка 1" in 866, HT kept
}

TEST(DeviceModel, WritesAreKeptOrRefused) {
    DeviceModel m = makeModel();
    const auto ok = ask(m, writeRequest(4, 1, 52, 0, KindPlain, QString::fromUtf8("13,0 Ж")));
    EXPECT_EQ(ok.result, ANSWER_OK);
    EXPECT_EQ(ok.function, FN_ERROR);
    EXPECT_EQ(ok.sequence, 4);
    EXPECT_FALSE(ok.value.has_value());
    EXPECT_EQ(m.entry({1, 52, 0})->value, QString::fromUtf8("13,0 Ж"));
    EXPECT_EQ(ask(m, readRequest(5, 1, 52)).value, QString::fromUtf8("13,0 Ж"));

    const auto indexed = ask(m, writeRequest(6, 1, 300, 12, KindIndexed, QString::fromUtf8("Выкл")));
    EXPECT_EQ(indexed.result, ANSWER_OK);
    EXPECT_EQ(m.entry({1, 300, 12})->value, QString::fromUtf8("Выкл"));

    const auto ro = ask(m, writeRequest(9, 0, 1, 0, KindPlain, "1"));
    EXPECT_EQ(ro.result, ANSWER_REJECTED);
    EXPECT_EQ(ro.sequence, 9);
    EXPECT_EQ(ro.value, QString::fromUtf8(kTextReadOnly));
    EXPECT_EQ(m.entry({0, 1, 0})->value, "50214");

    const auto unknown = ask(m, writeRequest(10, 9, 9, 0, KindPlain, "1"));
    EXPECT_EQ(unknown.value, QString::fromUtf8(kTextUnknownParam));
    EXPECT_EQ(ask(m, readRequest(11, 9, 9)).value, QString::fromUtf8(kTextUnknownParam));
    // An index of 1000 or more goes out as HT NUL NUL: refused, never another index's value.
    const auto badIndex = ask(m, withCrc(layoutReadRequest(row(1, 300, 1000, KindIndexed), 3, {})));
    EXPECT_EQ(badIndex.value, QString::fromUtf8(kTextBadRequest));
    // Kinds without a layout of their own are cut frames the device does not understand.
    const auto cut = ask(m, withCrc(layoutReadRequest(row(1, 52, 0, 7), 3, {})));
    EXPECT_EQ(cut.result, ANSWER_REJECTED);
}

TEST(DeviceModel, AnswerAnyCreatesParameters) {
    DeviceModel m = makeModel({0, true, {}});
    EXPECT_EQ(ask(m, readRequest(1, 9, 9)).value, QString("0"));
    EXPECT_EQ(ask(m, writeRequest(2, 8, 8, 0, KindPlain, "5")).result, ANSWER_OK);
    EXPECT_EQ(m.entry({8, 8, 0})->value, "5");
}

TEST(DeviceModel, AddressBlock) {
    DeviceModel m = makeModel({16, false, {}});
    EXPECT_FALSE(m.handleFrame(readRequest(1, 1, 52, 0, KindPlain, {true, 5, 1}), "t"));
    const auto reply = m.handleFrame(readRequest(1, 1, 52, 0, KindPlain, {true, 16, 2}), "t");
    ASSERT_TRUE(reply);
    // Addressed back to the program (2), from the device (16, doubled) with bit 7 set.
    EXPECT_EQ(Bytes(reply->bytes.begin(), reply->bytes.begin() + 6), (Bytes{DLE, SOH, 0x02, 0x90, DLE, US}));
    EXPECT_EQ(parse(reply->bytes).value, QString::fromUtf8("12,5"));
    EXPECT_TRUE(m.handleFrame(readRequest(1, 1, 52), "t")); // no block: always answered
    const auto log = m.log();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0].note, "for device 5");
}

TEST(DeviceModel, IgnoresBadCrcAndGarbage) {
    DeviceModel m = makeModel();
    Bytes bad = readRequest(1, 1, 52);
    bad[12] ^= 1;
    EXPECT_FALSE(m.handleFrame(bad, "t"));
    EXPECT_FALSE(m.handleFrame(Bytes{DLE, SOH, 1, 2}, "t"));
    EXPECT_FALSE(m.handleFrame(Bytes(40, 0x10), "t"));
    EXPECT_EQ(m.framesReceived(), 3);
    EXPECT_EQ(m.log()[0].note, "bad CRC");
}

TEST(StreamDevice, FramesInPiecesAndNoise) {
    DeviceModel m = makeModel();
    StreamDevice s(m, {});
    const Bytes a = readRequest(1, 1, 52);
    const Bytes b = readRequest(2, 1, 53);
    Bytes stream = {0x00, 0x10, 0x10, 0x03, 0x55};
    stream.insert(stream.end(), a.begin(), a.end());
    stream.insert(stream.end(), b.begin(), b.end());
    std::vector<Reply> replies;
    for (uint8_t byte : stream) {
        auto r = s.feed(Bytes{byte}, 9600);
        replies.insert(replies.end(), r.begin(), r.end());
    }
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(parse(replies[0].bytes).sequence, 1);
    EXPECT_EQ(parse(replies[1].bytes).sequence, 2);
}

// Two devices on one line: each hears every frame, the one addressed answers
// from its own table, and a write reaches only that one.
TEST(StreamDevice, DevicesSharingALineAnswerForTheirOwnAddress) {
    DeviceModel three = makeModel({3, false, {}});
    DeviceModel four = makeModel({4, false, {}});
    four.setEntry({1, 52, 0}, {QString::fromUtf8("44,4"), QString::fromUtf8("кг/ч"), false, {}});
    StreamDevice line(three, {}, {&four});

    auto replies = line.feed(readRequest(1, 1, 52, 0, KindPlain, {true, 4, 1}), 9600);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].device, &four);
    EXPECT_EQ(parse(replies[0].bytes).value, QString::fromUtf8("44,4"));
    replies = line.feed(readRequest(2, 1, 52, 0, KindPlain, {true, 3, 1}), 9600);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].device, &three);
    EXPECT_EQ(parse(replies[0].bytes).value, QString::fromUtf8("12,5"));
    EXPECT_TRUE(line.feed(readRequest(3, 1, 52, 0, KindPlain, {true, 5, 1}), 9600).empty());

    ASSERT_EQ(line.feed(writeRequest(4, 1, 53, 0, KindPlain, "8", {true, 4, 1}), 9600).size(), 1u);
    EXPECT_EQ(four.entry({1, 53, 0})->value, "8");
    EXPECT_EQ(three.entry({1, 53, 0})->value, "7");
    EXPECT_EQ(three.framesReceived(), 4);
    EXPECT_EQ(four.framesReceived(), 4);
}

TEST(StreamDevice, OpticalSignOnAtThreeHundredBaud) {
    DeviceModel m = makeModel();
    StreamDevice s(m, {true, '5'});
    EXPECT_TRUE(s.feed(readRequest(1, 1, 52), 9600).empty()); // no frames before the sign-on
    EXPECT_TRUE(s.feed(signOnMessage(), 9600).empty());        // sign-on only at 300 baud

    auto ident = s.feed(signOnMessage(), 300);
    ASSERT_EQ(ident.size(), 1u);
    AnswerAssembler program;
    EXPECT_EQ(program.ReadIdentLine(ident[0].bytes), ANSWER_OK);
    EXPECT_EQ(program.asmBuffer()[0], '/');
    EXPECT_EQ(identSpeedIndex(program.asmBuffer()[12]), 5);

    auto ack = s.feed(optionSelectMessage(5), 300);
    ASSERT_EQ(ack.size(), 1u);
    EXPECT_EQ(program.ReadIdentLine(ack[0].bytes), ANSWER_OK);
    EXPECT_EQ(program.asmBuffer()[0], ACK);
    EXPECT_EQ(s.dataBaud(), 9600);

    EXPECT_TRUE(s.feed(readRequest(1, 1, 52), 300).empty()); // still at the old speed: noise
    auto answer = s.feed(readRequest(2, 1, 52), 9600);
    ASSERT_EQ(answer.size(), 1u);
    EXPECT_EQ(parse(answer[0].bytes).sequence, 2);

    StreamDevice fast(m, {true, ':'});
    auto line = fast.feed(signOnMessage(), 300);
    ASSERT_EQ(line.size(), 1u);
    AnswerAssembler p2;
    p2.ReadIdentLine(line[0].bytes);
    EXPECT_EQ(identSpeedIndex(p2.asmBuffer()[12]), 9);
}

TEST(LinePacer, TenBitTimesPerByte) {
    using namespace std::chrono;
    LinePacer p;
    const auto t0 = LinePacer::Clock::time_point{} + seconds(100);
    EXPECT_EQ(LinePacer::byteTime(300), nanoseconds(33'333'333));
    EXPECT_EQ(p.allowance(t0, 300, 30), 0u); // the first byte has not arrived yet
    EXPECT_EQ(p.allowance(t0 + milliseconds(34), 300, 30), 1u);
    EXPECT_EQ(p.allowance(t0 + milliseconds(34), 300, 29), 0u);
    // After one second at 300 baud, 30 bytes in all have arrived.
    EXPECT_EQ(p.allowance(t0 + milliseconds(1001), 300, 29), 29u);
    EXPECT_EQ(p.allowance(t0 + seconds(5), 300, 0), 0u);
    // A line that ran dry does not save up credit.
    p.idle();
    EXPECT_EQ(p.allowance(t0 + seconds(10), 9600, 100), 0u);
    EXPECT_EQ(p.allowance(t0 + seconds(10) + milliseconds(11), 9600, 100), 10u);
}
