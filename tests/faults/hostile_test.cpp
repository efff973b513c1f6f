// Hostile answers: oversized datagrams, endless bytes without a frame, frames
// with every function code, texts of 6000 bytes. Nothing crashes, what the
// list shows stays bounded, memory stays bounded, and stop still works.

#include "hostile.h"
#include "rig.h"

#include <QFile>

#include <algorithm>
#include <atomic>

#include <gtest/gtest.h>

using namespace parvault;
using namespace parvault::faults;
using namespace parvault::testing;

namespace {

constexpr int kHostilePort = 8;

// A rig whose exchange goes to a hostile device instead of the simulator.
void PointAt(Rig& rig, bool udp, uint16_t udpPort) {
    rig.settings.useIp = udp ? 1 : 0;
    rig.settings.portNumbers[0] = kHostilePort;
    rig.settings.udpPort = udpPort;
}

std::vector<RowSpec> Rows(int first, int n) {
    std::vector<RowSpec> rows;
    for (int p = first; p < first + n; ++p)
        rows.push_back({1, p, 0, KindPlain});
    return rows;
}

std::vector<Bytes> Normal(const Request& r) {
    return {wireAnswer(FN_VALUE, r.sequence, valueBody(r.param, "1,25", "\xAA\xA3"))}; // "кг" in 866
}

class Hostile : public ::testing::TestWithParam<bool> {};

} // namespace

TEST(HostileUdp, OversizedDatagramIsAFailedReceiveAndTheNextRowReads) {
    HostileUdpPeer peer([](const Request& r) -> std::vector<Bytes> {
        if (r.param == 10)
            return {Bytes(60000, 'x'), Bytes(kRxReadMax + 1, 'y')};
        return Normal(r);
    });
    Rig rig{QString()};
    PointAt(rig, true, peer.port());
    rig.setRows(Rows(10, 3));
    rig.controller.OnReadCommand();
    ASSERT_TRUE(rig.runToEnd());
    EXPECT_EQ(rig.rows.icon(0), IconReadUnanswered);
    EXPECT_TRUE(rig.rows.text(0, ColValue).isEmpty());
    for (int r = 1; r < 3; ++r) {
        EXPECT_EQ(rig.rows.icon(r), IconNeutral) << r;
        EXPECT_EQ(rig.rows.text(r, ColValue), QString("1,25"));
        EXPECT_EQ(rig.rows.text(r, ColUnits), QString("кг"));
    }
    EXPECT_EQ(rig.display.progressText, QString("Выполнено 100%"));
}

// Every function code a frame can carry, with the row's own sequence number
// and fields. The codes that are no answer (all but value, indexed value,
// data block and error) go to the first rows, one per request, so each of
// those rows hears three of them and times out; the last four rows, of the
// kinds the four answer codes answer, get those codes.
TEST_P(Hostile, EveryFunctionCodeEndsTheRowAsItsCodeSays) {
    const bool udp = GetParam();
    const std::vector<uint8_t> answers = {FN_VALUE, FN_VALUE_INDEXED, FN_DATA_BLOCK, FN_ERROR};
    std::vector<uint8_t> others;
    for (int fn = 0; fn < 256; ++fn)
        if (std::find(answers.begin(), answers.end(), fn) == answers.end())
            others.push_back(static_cast<uint8_t>(fn));
    // Over UDP every request waits its full time, so a sample of the codes.
    if (udp)
        others = {0x00, 0x01, 0x02, 0x06, 0x10, 0x1D, 0x1F, 0x0C, 0x19, 0x7E, 0x80, 0xFF};
    const int oddRows = static_cast<int>(others.size() + 2) / 3;
    std::atomic<size_t> next{0};
    const Responder respond = [&](const Request& r) -> std::vector<Bytes> {
        if (r.function == FN_READ_BLOCK)
            return {answerTo(r, FN_DATA_BLOCK, oem("v") + bytesOf({FF}))};
        if (r.param <= oddRows) {
            const size_t k = next++;
            if (k >= others.size())
                return {};
            return {answerTo(r, others[k], oem("v") + bytesOf({FF}))};
        }
        const uint8_t fn = answers[static_cast<size_t>(r.param - oddRows - 1)];
        if (fn == FN_ERROR)
            return {answerTo(r, fn, oem("Err") + bytesOf({FF}))};
        return {answerTo(r, fn, oem("v") + bytesOf({FF}))};
    };
    HostileUdpPeer peer(respond);
    Rig rig{QString()};
    HostilePty pty(rig.dir.path(), kHostilePort, respond);
    PointAt(rig, udp, peer.port());
    // Over the pty one tick per request keeps the time-outs short, with real
    // time enough per tick for a device thread that the machine keeps waiting;
    // the UDP thread waits 10 ms before it listens, so it keeps the usual second.
    rig.settings.waitSeconds = udp ? 1 : 0;
    if (!udp)
        rig.realMicrosPerStep = 3000;
    std::vector<RowSpec> rows = Rows(1, oddRows + 4);
    rows[static_cast<size_t>(oddRows + 1)].kind = KindIndexed;
    rows[static_cast<size_t>(oddRows + 2)].kind = KindDataBlock;
    rig.setRows(rows);
    rig.controller.OnReadCommand();
    ASSERT_TRUE(rig.runToEnd(20000));
    EXPECT_EQ(next.load(), std::max(others.size(), static_cast<size_t>(oddRows * 3)));
    for (int r = 0; r < oddRows; ++r) {
        EXPECT_EQ(rig.rows.icon(r), IconReadUnanswered) << r;
        EXPECT_TRUE(rig.rows.text(r, ColValue).isEmpty()) << r;
    }
    EXPECT_EQ(rig.rows.icon(oddRows), IconNeutral);
    EXPECT_EQ(rig.rows.text(oddRows, ColValue), QString("v"));
    EXPECT_EQ(rig.rows.icon(oddRows + 1), IconNeutral);
    EXPECT_EQ(rig.rows.text(oddRows + 1, ColValue), QString("v"));
    EXPECT_EQ(rig.rows.icon(oddRows + 2), IconNeutral);
    EXPECT_EQ(rig.rows.text(oddRows + 2, ColValue), QString("-OK-"));
    EXPECT_EQ(rig.rows.icon(oddRows + 3), IconSent);
    EXPECT_EQ(rig.rows.text(oddRows + 3, ColValue), QString("Err"));
    EXPECT_FALSE(rig.controller.busy());
}

TEST_P(Hostile, TextsOfSixThousandBytesAreCutAndTheBlockIsKeptWhole) {
    const bool udp = GetParam();
    const std::string longText(6000, '\xE0'); // "р" in 866
    const Responder respond = [&](const Request& r) -> std::vector<Bytes> {
        if (r.param == 10)
            return {wireAnswer(FN_VALUE, r.sequence, valueBody(r.param, longText, "x"))};
        if (r.param == 13)
            return {wireAnswer(FN_VALUE, r.sequence, valueBody(r.param, "1", longText))};
        if (r.param == 11)
            return {answerTo(r, FN_ERROR, oem(longText.c_str()) + bytesOf({FF}))};
        return {answerTo(r, FN_DATA_BLOCK, oem(longText.c_str()) + bytesOf({FF}))};
    };
    HostileUdpPeer peer(respond);
    Rig rig{QString()};
    HostilePty pty(rig.dir.path(), kHostilePort, respond);
    PointAt(rig, udp, peer.port());
    rig.setRows({{1, 10, 0, KindPlain}, {1, 11, 0, KindPlain}, {1, 12, 0, KindDataBlock}, {1, 13, 0, KindPlain}});
    rig.controller.OnReadCommand();
    ASSERT_TRUE(rig.runToEnd());
    const QString cut = QString(kAnswerTextMax, QChar(0x0440)); // "р"
    EXPECT_EQ(rig.rows.icon(0), IconNeutral);
    EXPECT_EQ(rig.rows.text(0, ColValue), cut);
    EXPECT_EQ(rig.rows.text(0, ColUnits), QString("x"));
    EXPECT_EQ(rig.rows.icon(3), IconNeutral);
    EXPECT_EQ(rig.rows.text(3, ColUnits), cut);
    EXPECT_EQ(rig.rows.icon(1), IconSent);
    EXPECT_EQ(rig.rows.text(1, ColValue), cut);
    EXPECT_EQ(rig.rows.icon(2), IconNeutral);
    EXPECT_EQ(rig.rows.text(2, ColValue), QString("-OK-"));
    QFile block("__data.hh");
    ASSERT_TRUE(block.open(QIODevice::ReadOnly));
    EXPECT_GT(block.size(), 6000);
    EXPECT_TRUE(block.readAll().contains(QByteArray(longText.data(), 6000)));
}

// Bytes that never make a frame keep a serial read waiting (each chunk
// restarts the wait), over UDP each request's thread gives up; in both the
// memory stays bounded and stop ends the exchange.
TEST_P(Hostile, EndlessBytesWithoutAFrameKeepMemoryBoundedAndStopWorks) {
    const bool udp = GetParam();
    HostileUdpPeer peer([](const Request&) { return std::vector<Bytes>{}; });
    Rig rig{QString()};
    HostilePty pty(rig.dir.path(), kHostilePort, [](const Request&) { return std::vector<Bytes>{}; });
    PointAt(rig, udp, peer.port());
    Bytes junk(6000);
    for (size_t i = 0; i < junk.size(); ++i)
        junk[i] = static_cast<uint8_t>((i * 131) % 251) | 0x20; // no DLE: nothing ever starts a frame
    rig.setRows(Rows(10, 2));
    rig.controller.OnReadCommand();
    for (int i = 0; i < 5; ++i)
        rig.step();
    const long long before = ResidentBytes();
    (udp ? static_cast<void>(peer.flood(junk)) : pty.flood(junk));
    for (int i = 0; i < 200; ++i)
        rig.step();
    if (!udp) {
        // 200 steps of 25 ms are nearly five times the wait, yet the read still waits.
        EXPECT_TRUE(rig.controller.busy());
        EXPECT_EQ(rig.controller.curRow(), 0);
        EXPECT_GT(pty.flooded(), 100000);
    }
    EXPECT_LT(ResidentBytes() - before, 16LL << 20);
    rig.controller.StopExchange();
    EXPECT_FALSE(rig.controller.busy());
    EXPECT_EQ(rig.shared.readState.load(), STATE_IDLE);
    EXPECT_EQ(rig.serial.openPort(), 0);
    EXPECT_FALSE(rig.udp.threadRunning());
    EXPECT_LT(rig.controller.assembler().asmLength(), AnswerAssembler::kBufferSize);
    for (int r = 0; r < 2; ++r)
        EXPECT_LE(rig.rows.text(r, ColValue).size(), kAnswerTextMax);
}

INSTANTIATE_TEST_SUITE_P(Route, Hostile, ::testing::Values(false, true),
                         [](const auto& p) { return p.param ? "Udp" : "Pty"; });
