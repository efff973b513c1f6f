// The exchange against a list that changes under it, and the exchange details
// that a stopped exchange, an odd device or a stalled window could upset.

#include "rig.h"

using namespace parvault;
using namespace parvault::testing;

namespace {

const QString kParams = QStringLiteral(R"(
1   5  0 | 12,5     | кПа
1  20  0 | 3,75     | м/с
1  21  0 | 8        |
1  22  0 | 9        |
1  50  0 | 2        |     | delay=400
1  43  0 | 4        |     | pieces=2
)");

struct Route {
    const char* name;
    int useIp;
};

class ListReplaced : public ::testing::TestWithParam<Route> {};

// The window replaces the list while an answer is on its way: the answer's row
// no longer exists. The exchange ends as Stop ends it and touches nothing of
// the new list.
TEST_P(ListReplaced, DuringAReadOrAWriteEndsTheExchange) {
    for (bool writing : {false, true}) {
        ModelRig rig(kParams);
        rig.settings.useIp = GetParam().useIp;
        rig.setRows({{1, 5, 0, KindPlain, "1"},
                     {1, 20, 0, KindPlain, "2"},
                     {1, 21, 0, KindPlain, "3"},
                     {1, 50, 0, KindPlain, "4"}});
        if (writing)
            rig.controller.OnWriteCommand();
        else
            rig.controller.OnReadCommand();
        // Row 3 is the slow one: its request is out, its answer not yet in.
        ASSERT_TRUE(rig.runUntil([&] { return rig.requests(1, 50) == 1; })) << writing;
        rig.setRows({{1, 5, 0, KindPlain, "новое"}, {1, 20, 0, KindPlain}});
        for (int i = 0; i < 40 && rig.controller.busy(); ++i)
            rig.step();
        EXPECT_FALSE(rig.controller.busy()) << writing;
        EXPECT_EQ(rig.links.serial.openPort(), 0) << writing;
        EXPECT_FALSE(rig.links.datagram.transactionRunning()) << writing;
        EXPECT_EQ(rig.rows.text(0, ColValue), QString("новое")) << writing;
        EXPECT_EQ(rig.rows.icon(0), IconNeutral) << writing;
        EXPECT_EQ(rig.rows.icon(1), IconNeutral) << writing;
        EXPECT_EQ(rig.display.status, QString(" ")) << writing;
        // Nothing more goes to the device for the old list.
        const int frames = rig.model().framesReceived();
        for (int i = 0; i < 20; ++i)
            rig.step();
        EXPECT_EQ(rig.model().framesReceived(), frames) << writing;
    }
}

INSTANTIATE_TEST_SUITE_P(Routes, ListReplaced,
                         ::testing::Values(Route{"pty", 0}, Route{"udp", 1}),
                         [](const ::testing::TestParamInfo<Route>& p) { return std::string(p.param.name); });

// A value answer for sequence 000, checksum included.
std::string valueAnswer(const std::string& value) {
    const Bytes f = wireAnswer(FN_VALUE, 0, valueBody(5, value));
    return std::string(f.begin(), f.end());
}

// Stop in the middle of a frame's checksum leaves half a frame behind; the
// next exchange must not complete it with its first bytes.
TEST(ExchangeStart, BeginsWithACleanAssembler) {
    Rig rig(kParams);
    PtyPeer peer(rig.dir.path() / ("COM" + std::to_string(kPeerPort)),
                 [](const std::string&, int count) {
                     const std::string whole = valueAnswer("42");
                     // The first answer breaks off after its first checksum byte.
                     return count == 1 ? whole.substr(0, whole.size() - 1) : whole;
                 });
    rig.settings.portNumbers[0] = kPeerPort;
    rig.setRows({{1, 5, 0, KindPlain}});
    rig.controller.OnReadCommand();
    ASSERT_TRUE(rig.runUntil([&] { return rig.controller.assembler().endPhase() == 2; }));
    rig.controller.StopExchange();

    rig.controller.OnReadCommand();
    ASSERT_TRUE(rig.runToEnd());
    EXPECT_EQ(rig.rows.icon(0), IconNeutral) << "the row's own answer is taken";
    EXPECT_EQ(rig.rows.text(0, ColValue), QString("42"));
    EXPECT_EQ(peer.requests(), 2) << "one request in each exchange";
}

// Own and device address 31 put 0x1F into the answer's address block; the
// function code still follows DLE US.
TEST(ExchangeAddresses, AddressThirtyOneBothWays) {
    devsim::DeviceConfig config;
    config.deviceAddress = 31;
    for (int useIp : {0, 1}) {
        ModelRig rig(kParams, {.device = config});
        rig.settings.useIp = useIp;
        rig.settings.useAddress = 1;
        rig.settings.deviceAddress = 31;
        rig.settings.ownAddress = 31;
        rig.setRows({{1, 5, 0, KindPlain}, {1, 20, 0, KindPlain, "7"}});
        rig.controller.OnReadCommand();
        ASSERT_TRUE(rig.runToEnd()) << useIp;
        EXPECT_EQ(rig.rows.text(0, ColValue), QString("12,5")) << useIp;
        EXPECT_EQ(rig.rows.icon(0), IconNeutral) << useIp;
        EXPECT_EQ(rig.requests(1, 5), 1) << useIp;
        rig.controller.OnWriteCommand();
        ASSERT_TRUE(rig.runToEnd()) << useIp;
        EXPECT_EQ(rig.rows.icon(1), IconWritten) << useIp;
    }
}

// The window thread stalls: two ticks are handled before the answer message
// of the first. The second must not read the port over the unparsed chunk.
TEST(ExchangeWrite, AChunkIsParsedBeforeTheNextIsRead) {
    devsim::ServerOptions o;
    o.pieceGapMs = 60;
    Rig rig(kParams, {.server = o});
    rig.setRows({{1, 43, 0, KindPlain, "5"}});
    rig.controller.OnWriteCommand();
    rig.controller.OnMessage(MSG_TICK); // sends the request
    ASSERT_EQ(rig.shared.writeState, STATE_SENT_1);
    // Wait until the first piece is in, let the tick read it, then let the
    // second piece arrive before anything handles the answer message.
    std::deque<int> posted;
    for (int i = 0; i < 200 && posted.empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        rig.controller.OnMessage(MSG_TICK);
        posted = rig.poster.take();
    }
    ASSERT_EQ(posted, std::deque<int>{MSG_WRITE_ANSWER});
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    rig.controller.OnMessage(MSG_TICK); // the queued tick of the stall
    for (int m : rig.poster.take())
        posted.push_back(m);
    for (int m : posted)
        rig.controller.OnMessage(m);
    ASSERT_TRUE(rig.runToEnd());
    EXPECT_EQ(rig.rows.icon(0), IconWritten);
    EXPECT_EQ(rig.requests(1, 43), 1) << "no resend: no chunk was lost";
}

// A value that cannot go into a write frame: the reason outlasts the exchange.
TEST(ExchangeWrite, TooLongValueIsExplained) {
    ModelRig rig(kParams);
    rig.settings.useIp = 1;
    rig.setRows({{1, 5, 0, KindPlain, "1"}, {1, 20, 0, KindPlain, QString(150, QChar('7'))}});
    rig.controller.OnWriteCommand();
    ASSERT_TRUE(rig.runToEnd());
    EXPECT_EQ(rig.rows.icon(1), IconEdited);
    EXPECT_EQ(rig.rows.text(1, ColValue), QString(150, QChar('7')));
    EXPECT_EQ(rig.display.status, QString("Длинный текст"));
    EXPECT_TRUE(rig.display.statusToolTip.contains(QString("Строка 2 ")))
        << rig.display.statusToolTip.toStdString();
    // The next exchange starts without the old note.
    rig.controller.OnReadCommand();
    EXPECT_TRUE(rig.display.statusToolTip.isEmpty());
    ASSERT_TRUE(rig.runToEnd());
    EXPECT_EQ(rig.display.status, QString(" "));
}

// The local address is asked at each UDP exchange: after a network change
// the next exchange works without a restart. A serial exchange never asks
// (the answer may take a host-name lookup).
TEST(ExchangeUdp, LocalAddressIsTakenAtEachExchange) {
    Rig rig(kParams);
    rig.settings.useIp = 1;
    // A documentation address that is on no interface here: the bind fails
    // and nothing is sent anywhere.
    uint32_t local = 0xC0000201;
    int asked = 0;
    rig.localAddress = [&] {
        ++asked;
        return local;
    };
    rig.setRows({{1, 5, 0, KindPlain}});
    rig.controller.OnReadCommand();
    ASSERT_TRUE(rig.runToEnd());
    EXPECT_EQ(rig.rows.icon(0), IconReadUnanswered);
    EXPECT_EQ(rig.model().framesReceived(), 0);
    local = 0x7F000001; // the network is back
    rig.controller.OnReadCommand();
    ASSERT_TRUE(rig.runToEnd());
    EXPECT_EQ(rig.rows.icon(0), IconNeutral);
    EXPECT_EQ(rig.rows.text(0, ColValue), QString("12,5"));
    EXPECT_EQ(asked, 2);
    rig.settings.useIp = 0;
    rig.controller.OnReadCommand();
    ASSERT_TRUE(rig.runToEnd());
    EXPECT_EQ(asked, 2) << "the serial route needs no local address";
}

// "Нет подключения к порту" stays the text; the reason is behind it.
TEST(ExchangePort, OpenFailureSaysWhyBehindTheStatus) {
    Rig rig(kParams);
    std::filesystem::create_symlink("/nonexistent/ttyUSB7", rig.dir.path() / "COM9");
    rig.settings.portNumbers[0] = 9;
    rig.setRows({{1, 5, 0, KindPlain}});
    rig.controller.OnReadCommand();
    EXPECT_EQ(rig.display.portStatus, QString("Нет подключения к порту"));
    EXPECT_TRUE(rig.display.portStatusToolTip.contains("/nonexistent/ttyUSB7"))
        << rig.display.portStatusToolTip.toStdString();

    rig.settings.portIndex = -1;
    rig.controller.OnReadCommand();
    EXPECT_EQ(rig.display.portStatusToolTip, QString("Порт или скорость не выбраны в настройках связи"));

    rig.settings.portIndex = 0;
    rig.settings.portNumbers[0] = Rig::kPort;
    rig.controller.OnReadCommand();
    EXPECT_EQ(rig.display.portStatus, QString(" "));
    EXPECT_TRUE(rig.display.portStatusToolTip.isEmpty());
    ASSERT_TRUE(rig.runToEnd());
}

// An identification line too short to carry the speed character is no
// identification: the configured speed stays.
TEST(ExchangeOptical, ShortIdentificationLineIsNoIdentification) {
    Rig rig(kParams);
    std::atomic<int> signOns{0};
    PtyPeer peer(rig.dir.path() / ("COM" + std::to_string(kPeerPort)),
                 [&](const std::string& request, int) {
                     if (request.find("/?!") == std::string::npos)
                         return std::string();
                     ++signOns;
                     return std::string("/PV2\r\n"); // no character 12
                 });
    rig.settings.portNumbers[0] = kPeerPort;
    rig.settings.useOptoport = 1;
    rig.settings.speedIndex = 2;
    rig.setRows({{1, 5, 0, KindPlain}});
    // The link counts as stale only once a tick has passed the limit.
    ASSERT_TRUE(rig.runUntil([&] { return rig.shared.linkIdleTicks > kLinkIdleExpired; }, 8));
    rig.controller.OnReadCommand();
    ASSERT_TRUE(rig.runUntil([&] { return rig.shared.readState != STATE_IDLE; }));
    EXPECT_EQ(signOns, 2) << "the sign-on is repeated as without an answer";
    EXPECT_EQ(rig.settings.speedIndex, 2);
    EXPECT_EQ(rig.serial.openSpeed(), 1200u);
}

} // namespace
