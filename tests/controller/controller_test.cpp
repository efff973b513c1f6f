#include "faultrows.h"
#include "rig.h"

#include <QFile>

#include <filesystem>

using namespace parvault;
using namespace parvault::testing;

namespace {

const QString kParams = QStringLiteral(R"(
1   5  0 | 12,5     | кПа
1  20  0 | 3,75     | м/с
1 310  0 | 0,9800   | МПа
1 400  0 | 42       | шт
1 100  2 | 0,9947   |
0 65530 0 | Архив   |
1  30  0 | 7        | °C  | ro
)") + faultRowLines();

std::vector<RowSpec> mixedRows() {
    // Parameters 310, 5, 400, 20 in list order, then an indexed row and a data
    // block (asked for as parameter 65530, so in the second pass).
    return {{1, 310, 0, KindPlain}, {1, 5, 0, KindPlain},   {1, 400, 0, KindPlain},
            {1, 20, 0, KindPlain},  {1, 100, 2, KindIndexed}, {0, 65530, 0, KindDataBlock}};
}

// Parameter numbers of the read requests the device got, in order.
std::vector<int> requestedParams(devsim::DeviceModel& model) {
    std::vector<int> params;
    for (const auto& f : model.log()) {
        if (!f.incoming || f.bytes.size() < 20)
            continue;
        // After DLE STX HT come the channel digits, HT, then the parameter digits.
        const auto& b = f.bytes;
        for (size_t i = 0; i + 2 < b.size(); ++i) {
            if (b[i] == 0x10 && b[i + 1] == 0x02) {
                size_t p = i + 3; // past DLE STX HT
                while (p < b.size() && b[p] != 0x09)
                    ++p;
                int value = 0;
                for (++p; p < b.size() && b[p] >= '0' && b[p] <= '9'; ++p)
                    value = value * 10 + (b[p] - '0');
                params.push_back(value);
                break;
            }
        }
    }
    return params;
}

} // namespace

// Reading over UDP: all three kinds, rows below 300 first, values and units in place.
TEST(ControllerRead, UdpReadsLowParametersFirstAllKinds) {
    ModelRig rig(kParams);
    rig.settings.useIp = 1;
    rig.setRows(mixedRows());
    rig.controller.OnReadCommand();
    for (int r = 0; r < 6; ++r)
        EXPECT_EQ(rig.rows.icon(r), IconQueued);
    ASSERT_TRUE(rig.runToEnd());

    EXPECT_EQ(requestedParams(rig.model()), (std::vector<int>{5, 20, 100, 310, 400, 65530}));
    EXPECT_EQ(rig.rows.text(0, ColValue), QString("0,9800"));
    EXPECT_EQ(rig.rows.text(0, ColUnits), QString("МПа"));
    EXPECT_EQ(rig.rows.text(1, ColValue), QString("12,5"));
    EXPECT_EQ(rig.rows.text(3, ColUnits), QString("м/с"));
    EXPECT_EQ(rig.rows.text(4, ColValue), QString("0,9947"));
    EXPECT_EQ(rig.rows.text(5, ColValue), QString("-OK-"));
    for (int r = 0; r < 6; ++r)
        EXPECT_EQ(rig.rows.icon(r), IconNeutral) << r;
    EXPECT_TRUE(QFile::exists("__data.hh"));
    EXPECT_EQ(rig.display.progressText, QString("Выполнено 100%"));
    EXPECT_EQ(rig.display.progressPos, 100);
    EXPECT_EQ(rig.display.status, QString(" "));
    EXPECT_NE(std::find(rig.display.statusHistory.begin(), rig.display.statusHistory.end(),
                        QString("Чтение... ")),
              rig.display.statusHistory.end());
    EXPECT_EQ(rig.display.portStatus, QString(" "));
    EXPECT_FALSE(rig.links.datagram.transactionRunning());
}

TEST(ControllerRead, SerialReadWithAddressBlockForDevice16) {
    devsim::DeviceConfig config;
    config.deviceAddress = 16;
    ModelRig rig(kParams, {.device = config});
    rig.settings.useAddress = 1;
    rig.settings.deviceAddress = 16;
    rig.settings.ownAddress = 1;
    rig.setRows(mixedRows());
    rig.controller.OnReadCommand();
    EXPECT_EQ(rig.display.portStatus, QString(" "));
    EXPECT_EQ(rig.display.progressText, QString("Подключение..."));
    EXPECT_EQ(rig.links.serial.openPort(), Rig::kPort);
    ASSERT_TRUE(rig.runToEnd());
    EXPECT_EQ(rig.rows.text(1, ColValue), QString("12,5"));
    EXPECT_EQ(rig.rows.text(2, ColValue), QString("42"));
    EXPECT_EQ(rig.rows.text(5, ColValue), QString("-OK-"));
    EXPECT_EQ(rig.links.serial.lastBaud(), 115200);
    EXPECT_EQ(rig.links.serial.openPort(), 0) << "the port is closed at the end";
}

TEST(ControllerRead, AllRowsAboveThreeHundredStartInSecondPass) {
    ModelRig rig(kParams);
    rig.settings.useIp = 1;
    rig.setRows({{1, 400, 0, KindPlain}, {1, 310, 0, KindPlain}});
    rig.controller.OnReadCommand();
    EXPECT_EQ(rig.controller.secondPass(), 1);
    EXPECT_EQ(rig.controller.curRow(), 0);
    ASSERT_TRUE(rig.runToEnd());
    EXPECT_EQ(requestedParams(rig.model()), (std::vector<int>{400, 310}));
}

// The answer wait is the exchange's own: a shorter one resends sooner and
// gives up sooner, and the optical wait keeps its own ratio.
TEST(ControllerRead, AnExchangesOwnAnswerWaitSetsResendsAndTimeOut) {
    ModelRig rig(kParams, {.waits = AnswerWaits{.answerTicksPerWaitSecond = 4, .opticTicksPerWaitSecond = 8}});
    rig.setRows({{kSilentRow.channel, kSilentRow.param, 0, KindPlain}});
    rig.controller.OnReadCommand();
    std::vector<int> sendTicks;
    ASSERT_TRUE(rig.runUntil([&] {
        if (static_cast<int>(sendTicks.size()) < rig.requests(kSilentRow.channel, kSilentRow.param))
            sendTicks.push_back(rig.ticks);
        return rig.rows.icon(0) == IconReadUnanswered;
    }));
    ASSERT_EQ(sendTicks.size(), 3u);
    EXPECT_EQ(sendTicks[1] - sendTicks[0], 5);
    EXPECT_EQ(sendTicks[2] - sendTicks[1], 5);
    EXPECT_EQ(rig.ticks - sendTicks[0], 15);
}

TEST(ControllerRead, StopClosesThePortAndKeepsTheQueuedIcon) {
    ModelRig rig(kParams);
    rig.setRows({{kSilentRow.channel, kSilentRow.param, 0, KindPlain}, {1, 5, 0, KindPlain}});
    rig.controller.OnReadCommand();
    ASSERT_TRUE(rig.runUntil([&] { return rig.requests(kSilentRow.channel, kSilentRow.param) == 1; }));
    rig.controller.StopExchange();
    EXPECT_EQ(rig.links.serial.openPort(), 0);
    EXPECT_EQ(rig.shared.readState, STATE_IDLE);
    EXPECT_EQ(rig.display.status, QString(" "));
    EXPECT_EQ(rig.rows.icon(0), IconQueued);
    EXPECT_EQ(rig.rows.icon(1), IconQueued);
    // A time-out message already on its way changes nothing any more.
    rig.controller.OnReadTimeout();
    EXPECT_EQ(rig.shared.readState, STATE_IDLE);
    EXPECT_EQ(rig.rows.icon(0), IconQueued);
}

TEST(ControllerRead, NothingSelectedEndsAtOnce) {
    ModelRig rig(kParams);
    rig.setRows({{1, 5, 0, KindPlain}}, {});
    rig.rows.setSelected(0, false);
    rig.controller.OnReadCommand();
    EXPECT_FALSE(rig.controller.busy());
    EXPECT_EQ(rig.display.progressText, QString("Выполнено 100%"));
    EXPECT_EQ(rig.display.status, QString(" "));
    EXPECT_EQ(rig.model().framesReceived(), 0);
}

TEST(ControllerRead, PortProblemsStopBeforeStarting) {
    ModelRig rig(kParams);
    rig.setRows({{1, 5, 0, KindPlain}});
    rig.settings.portIndex = -1;
    rig.controller.OnReadCommand();
    EXPECT_EQ(rig.display.portStatus, QString("Нет подключения к порту"));
    EXPECT_EQ(rig.display.progressText, QString("Подключение..."));
    EXPECT_FALSE(rig.controller.busy());

    rig.settings.portIndex = 0;
    rig.settings.speedIndex = 12; // a foreign settings file: no valid speed
    rig.controller.OnReadCommand();
    EXPECT_EQ(rig.display.portStatus, QString("Нет подключения к порту"));
    EXPECT_FALSE(rig.controller.busy());
}

// ---------------------------------------------------------------- writing

TEST(ControllerWrite, ConfirmedRefusedAndTooLongOverUdp) {
    ModelRig rig(kParams);
    rig.settings.useIp = 1;
    rig.setRows({{1, 5, 0, KindPlain, "13,75"},
                 {1, 30, 0, KindPlain, "9"},
                 {1, 20, 0, KindPlain, QString(150, QChar('7'))},
                 {1, 100, 2, KindIndexed, "0,5"},
                 {1, 400, 0, KindPlain, "43"}},
                {0, 1, 2, 3, 4});
    rig.controller.OnWriteCommand();
    EXPECT_EQ(rig.reopens, 1);
    ASSERT_TRUE(rig.runToEnd());
    EXPECT_EQ(rig.rows.icon(0), IconWritten);
    EXPECT_EQ(rig.model().entry({1, 5, 0})->value, QString("13,75"));
    EXPECT_EQ(rig.rows.icon(1), IconEdited) << "read-only: refused";
    EXPECT_FALSE(rig.rows.text(1, ColValue).isEmpty());
    EXPECT_NE(rig.rows.text(1, ColValue), QString("9")) << "the device's text is shown";
    EXPECT_EQ(rig.rows.icon(2), IconEdited) << "too long to send";
    EXPECT_EQ(rig.rows.text(2, ColValue), QString(150, QChar('7'))) << "the typed value stays";
    EXPECT_EQ(rig.requests(1, 20), 0) << "nothing cut was sent";
    EXPECT_EQ(rig.rows.icon(3), IconWritten);
    EXPECT_EQ(rig.model().entry({1, 100, 2})->value, QString("0,5"));
    EXPECT_EQ(rig.rows.icon(4), IconWritten);
    EXPECT_EQ(rig.model().entry({1, 400, 0})->value, QString("43"));
    EXPECT_EQ(rig.display.progressText, QString("Выполнено 100%"));
}

TEST(ControllerWrite, SerialWriteConfirmsAndPassesOverUnselectedRows) {
    ModelRig rig(kParams);
    rig.setRows({{1, 5, 0, KindPlain, "1"}, {1, 20, 0, KindPlain, "Ав"}, {1, 310, 0, KindPlain, "2"}},
                {1, 2});
    rig.rows.setIcon(0, IconEdited);
    rig.controller.OnWriteCommand();
    EXPECT_EQ(rig.rows.icon(0), IconNeutral) << "every row shows icon 2 at the start";
    ASSERT_TRUE(rig.runToEnd());
    EXPECT_EQ(rig.requests(1, 5), 0);
    EXPECT_EQ(rig.model().entry({1, 20, 0})->value, QString("Ав"));
    EXPECT_EQ(rig.rows.icon(1), IconWritten);
    EXPECT_EQ(rig.rows.icon(2), IconWritten);
    EXPECT_EQ(rig.links.serial.openPort(), 0);
}

TEST(ControllerWrite, SilentDeviceSerialThreeSendsUdpOneSend) {
    {
        ModelRig rig(kParams);
        rig.setRows({{kSilentRow.channel, kSilentRow.param, 0, KindPlain, "9"}});
        rig.controller.OnWriteCommand();
        const int start = rig.ticks;
        ASSERT_TRUE(rig.runToEnd());
        EXPECT_EQ(rig.rows.icon(0), IconWriteUnanswered);
        EXPECT_EQ(rig.requests(kSilentRow.channel, kSilentRow.param), 3);
        EXPECT_EQ(rig.ticks - start, 34) << "about 3.3 s";
    }
    {
        ModelRig rig(kParams);
        rig.settings.useIp = 1;
        rig.setRows({{kSilentRow.channel, kSilentRow.param, 0, KindPlain, "9"}});
        rig.controller.OnWriteCommand();
        const int start = rig.ticks;
        ASSERT_TRUE(rig.runToEnd());
        EXPECT_EQ(rig.rows.icon(0), IconWriteUnanswered);
        EXPECT_EQ(rig.requests(kSilentRow.channel, kSilentRow.param), 1);
        // One tick passes in the thread's 50 ms pause after sending, then
        // its wait bound: 20 ticks for waitSeconds 1.
        EXPECT_EQ(rig.ticks - start, 21) << "about 2 s";
    }
}

TEST(ControllerWrite, NothingSelectedEndsAtFirstTick) {
    ModelRig rig(kParams);
    rig.setRows({{1, 5, 0, KindPlain, "1"}}, {});
    rig.rows.setSelected(0, false);
    rig.settings.useIp = 1;
    rig.controller.OnWriteCommand();
    ASSERT_TRUE(rig.runToEnd(10));
    EXPECT_EQ(rig.display.progressText, QString("Выполнено 100%"));
    EXPECT_EQ(rig.display.status, QString(" "));
    EXPECT_EQ(rig.model().framesReceived(), 0);
}

// ---------------------------------------------------------------- optical port

TEST(ControllerOptical, SignOnLearnsSpeedAndSkipsWhileFresh) {
    for (char speedChar : {'5', ':'}) {
        devsim::ServerOptions o;
        o.optical.enabled = true;
        o.optical.speedChar = speedChar;
        ModelRig rig(kParams, {.server = o});
        rig.settings.useOptoport = 1;
        rig.settings.speedIndex = 2;
        rig.setRows({{1, 5, 0, KindPlain}});
        EXPECT_TRUE(rig.runUntil([&] { return rig.display.opticMark == QString("•"); }, 8))
            << "the link counts as expired from the first tick";
        rig.controller.OnReadCommand();
        EXPECT_EQ(rig.shared.opticState, 0);
        ASSERT_TRUE(rig.runToEnd()) << speedChar;
        const int expected = speedChar == '5' ? 5 : 9;
        EXPECT_EQ(rig.settings.speedIndex, expected);
        EXPECT_NE(std::find(rig.display.statusHistory.begin(), rig.display.statusHistory.end(),
                            QString("%1бод").arg(SpeedTable[expected])),
                  rig.display.statusHistory.end());
        EXPECT_EQ(rig.rows.text(0, ColValue), QString("12,5"));
        EXPECT_EQ(rig.display.opticMark, QString());

        // Within 120 s: no handshake, straight at the learnt speed.
        rig.rows.setText(0, ColValue, QString());
        rig.controller.OnReadCommand();
        EXPECT_EQ(rig.shared.opticState, STATE_IDLE);
        EXPECT_EQ(rig.links.serial.openBaud(), SpeedTable[expected]);
        ASSERT_TRUE(rig.runToEnd());
        EXPECT_EQ(rig.rows.text(0, ColValue), QString("12,5"));

        // After 120 s without an accepted answer the bullet is back.
        rig.shared.linkIdleTicks = 1201;
        rig.step();
        EXPECT_EQ(rig.display.opticMark, QString("•"));
    }
}

TEST(ControllerOptical, NoIdentificationFallsBackToConfiguredSpeed) {
    // A plain (non-optical) device ignores the sign-on.
    ModelRig rig(kParams);
    rig.settings.useOptoport = 1;
    rig.settings.speedIndex = 9;
    rig.setRows({{1, 5, 0, KindPlain}});
    ASSERT_TRUE(rig.runUntil([&] { return rig.shared.linkIdleTicks > 1200; }, 8));
    rig.controller.OnReadCommand();
    EXPECT_EQ(rig.links.serial.openBaud(), 300) << "the sign-on goes at 300 baud";
    int secondSignOn = -1;
    const int start = rig.ticks;
    ASSERT_TRUE(rig.runUntil([&] {
        if (secondSignOn < 0 && rig.shared.opticState == 7)
            secondSignOn = rig.ticks;
        return rig.shared.readState != STATE_IDLE;
    }));
    EXPECT_EQ(secondSignOn - start, 21) << "2.1 s";
    EXPECT_EQ(rig.ticks - start, 42) << "4.2 s";
    EXPECT_EQ(rig.links.serial.openBaud(), 115200);
    ASSERT_TRUE(rig.runToEnd());
    EXPECT_EQ(rig.rows.text(0, ColValue), QString("12,5"));
}

TEST(ControllerOptical, StopDuringHandshakeClosesThePort) {
    ModelRig rig(kParams);
    rig.settings.useOptoport = 1;
    rig.setRows({{1, 5, 0, KindPlain}});
    ASSERT_TRUE(rig.runUntil([&] { return rig.shared.linkIdleTicks > 1200; }, 8));
    rig.controller.OnReadCommand();
    rig.step();
    EXPECT_EQ(rig.shared.opticState, 1) << "the sign-on went out";
    rig.controller.StopExchange();
    EXPECT_EQ(rig.shared.opticState, STATE_IDLE);
    EXPECT_EQ(rig.links.serial.openPort(), 0);
    for (int i = 0; i < 200; ++i)
        rig.step();
    EXPECT_FALSE(rig.controller.busy()) << "no exchange starts";
    EXPECT_EQ(rig.requests(1, 5), 0);
}

TEST(ControllerHelpers, LeadingIntReadsLikeAtoi) {
    EXPECT_EQ(leadingInt("  310"), 310);
    EXPECT_EQ(leadingInt(" 12abc"), 12);
    EXPECT_EQ(leadingInt("abc"), 0);
    EXPECT_EQ(leadingInt(""), 0);
    EXPECT_EQ(leadingInt(" -5"), -5);
}

// ---------------------------------------------------------------- optical fallbacks

namespace {

// A device end that answers each sign-on with `identReply` and never
// acknowledges an option select, to reach the paths the simulator always
// completes.
struct ScriptedOptics {
    std::atomic<int> signOns{0};
    std::atomic<int> optionSelects{0};
    PtyPeer::Reply reply(std::string identReply) {
        return [this, identReply](const std::string& line, int) {
            if (line.find("/?!") != std::string::npos) {
                ++signOns;
                return identReply;
            }
            if (!line.empty() && line[0] == 0x06)
                ++optionSelects;
            return std::string();
        };
    }
};

constexpr int kScriptedPort = 8;

void useScriptedPort(Rig& rig) {
    rig.settings.portNumbers[0] = kScriptedPort;
    rig.settings.useOptoport = 1;
    rig.setRows({{1, 5, 0, KindPlain}});
    ASSERT_TRUE(rig.runUntil([&] { return rig.shared.linkIdleTicks > 1200; }, 8));
}

} // namespace

TEST(ControllerOptical, NoAcknowledgementGoesOnAtTheAnnouncedSpeed) {
    Rig rig(kParams); // a scripted pty peer: real links
    ScriptedOptics peer;
    PtyPeer device(rig.dir.path() / ("COM" + std::to_string(kScriptedPort)), peer.reply("/PV2-DEVSIM-5\r\n"));
    useScriptedPort(rig);
    rig.settings.speedIndex = 2;
    rig.controller.OnReadCommand();
    ASSERT_TRUE(rig.runUntil([&] { return rig.shared.readState != STATE_IDLE; }));
    EXPECT_EQ(peer.signOns, 1);
    EXPECT_EQ(peer.optionSelects, 2) << "the option select is sent twice";
    EXPECT_EQ(rig.settings.speedIndex, 5);
    EXPECT_EQ(rig.serial.openSpeed(), 9600u);
    EXPECT_NE(std::find(rig.display.statusHistory.begin(), rig.display.statusHistory.end(),
                        QString("9600бод")),
              rig.display.statusHistory.end());
}

TEST(ControllerOptical, ALineThatIsNeitherEndsTheHandshake) {
    Rig rig(kParams); // a scripted pty peer: real links
    ScriptedOptics peer;
    PtyPeer device(rig.dir.path() / ("COM" + std::to_string(kScriptedPort)), peer.reply("HELLO\r\n"));
    useScriptedPort(rig);
    rig.controller.OnReadCommand();
    ASSERT_TRUE(rig.runUntil([&] { return peer.signOns == 1 && rig.shared.opticState == STATE_IDLE; }));
    for (int i = 0; i < 100; ++i)
        rig.step();
    EXPECT_FALSE(rig.controller.busy()) << "nothing starts; the user starts again";
    EXPECT_EQ(peer.signOns, 1);
}

// ---------------------------------------------------------------- fast pacing

namespace {

Pacing fastPacing(ModelLinks* clockOf = nullptr, int gapMs = 0) {
    Pacing p;
    p.fast = true;
    p.gapMs = gapMs;
    if (clockOf)
        p.clock = [clockOf] {
            return std::chrono::steady_clock::time_point(std::chrono::microseconds(clockOf->now));
        };
    return p;
}

// The UDP pauses of a fast run: none after sending, short polls.
constexpr UdpPauses kNoPauses{.readPauseMs = 0, .writePauseMs = 0, .statePollMs = 1, .receivePollMs = 10};

} // namespace

// The same rows, outcomes and resends as the window's pacing; only the
// waiting between steps goes, so prompt rows take a fraction of the time.
TEST(ControllerFastPace, ReadsEveryRowAsTheWindowsPaceDoesWithoutTheStepWaits) {
    for (int useIp : {0, 1}) {
        ModelRig slow(kParams);
        ModelRig fast(kParams, {.udpPauses = kNoPauses, .pacing = fastPacing()});
        for (Rig* rig : {static_cast<Rig*>(&slow), static_cast<Rig*>(&fast)}) {
            rig->settings.useIp = useIp;
            rig->setRows({{1, 310, 0, KindPlain}, {1, 5, 0, KindPlain}, {kErrorRow.channel, kErrorRow.param, 0, KindPlain},
                          {1, 20, 0, KindPlain}, {kSilentRow.channel, kSilentRow.param, 0, KindPlain}, {1, 100, 2, KindIndexed}});
            rig->controller.OnReadCommand();
        }
        ASSERT_TRUE(slow.runToEnd()) << useIp;
        ASSERT_TRUE(fast.runFastToEnd(100)) << useIp;
        for (int r = 0; r < 6; ++r) {
            EXPECT_EQ(fast.rows.text(r, ColValue), slow.rows.text(r, ColValue)) << useIp << " row " << r;
            EXPECT_EQ(fast.rows.icon(r), slow.rows.icon(r)) << useIp << " row " << r;
        }
        EXPECT_EQ(fast.rows.icon(4), IconReadUnanswered);
        EXPECT_EQ(fast.requests(kSilentRow.channel, kSilentRow.param), 3) << "the silent row is still asked three times";
        EXPECT_EQ(requestedParams(fast.model()), requestedParams(slow.model())) << "the two passes";
    }
}

TEST(ControllerFastPace, PromptRowsFollowEachOtherAtOnce) {
    for (int useIp : {0, 1}) {
        ModelRig slow(kParams);
        ModelRig fast(kParams, {.udpPauses = kNoPauses, .pacing = fastPacing()});
        for (Rig* rig : {static_cast<Rig*>(&slow), static_cast<Rig*>(&fast)}) {
            rig->settings.useIp = useIp;
            rig->setRows({{1, 5, 0, KindPlain}, {1, 20, 0, KindPlain}, {1, 400, 0, KindPlain},
                          {1, 310, 0, KindPlain}, {1, 100, 2, KindIndexed}});
            rig->controller.OnReadCommand();
        }
        ASSERT_TRUE(slow.runToEnd()) << useIp;
        ASSERT_TRUE(fast.runFastToEnd(100)) << useIp;
        EXPECT_GE(slow.links.now, SimTime{5 * 2 * kExchangeTimerMs} * 1000) << "two steps a row";
        // Over the pty each row still takes its line time (about 5 ms at 115200 baud).
        EXPECT_LE(fast.links.now * 4, slow.links.now) << useIp;
        EXPECT_EQ(fast.rows.text(2, ColValue), QString("42")) << useIp;
    }
}

TEST(ControllerFastPace, WritesConfirmWithoutWaitingForTicks) {
    ModelRig rig(kParams, {.pacing = fastPacing()});
    rig.setRows({{1, 5, 0, KindPlain, "13,75"}, {1, 20, 0, KindPlain, "1"}, {1, 400, 0, KindPlain, "43"}});
    rig.controller.OnWriteCommand();
    ASSERT_TRUE(rig.runFastToEnd(100));
    for (int r = 0; r < 3; ++r)
        EXPECT_EQ(rig.rows.icon(r), IconWritten) << r;
    EXPECT_EQ(rig.model().entry({1, 400, 0})->value, QString("43"));
    EXPECT_LT(rig.links.now, SimTime{kTickMs} * 1000) << "three rows inside one tick";
}

// A gap holds each request back that long after the previous answer.
TEST(ControllerFastPace, GapKeepsTheLineQuietAfterEachAnswer) {
    ModelRig gapped(kParams, {.udpPauses = kNoPauses, .pacing = fastPacing(&gapped.links, 7)});
    gapped.settings.useIp = 1;
    gapped.setRows({{1, 5, 0, KindPlain}, {1, 20, 0, KindPlain}, {1, 400, 0, KindPlain}});
    gapped.controller.OnReadCommand();
    ASSERT_TRUE(gapped.runFastToEnd(100));
    const auto& sent = gapped.links.datagram.sendTimes();
    ASSERT_EQ(sent.size(), 3u);
    for (size_t i = 1; i < sent.size(); ++i) {
        EXPECT_GE(sent[i] - sent[i - 1], 7000) << i;
        EXPECT_LT(sent[i] - sent[i - 1], 7000 + 1000) << i;
    }
    EXPECT_EQ(gapped.rows.text(2, ColValue), QString("42"));
}
