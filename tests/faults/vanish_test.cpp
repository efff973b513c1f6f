// The device vanishes in the middle of an exchange: the pty's other end is
// closed, or the UDP peer is gone. The rows still to come end as unanswered,
// the exchange ends as usual (or on stop), and a later read works again once
// the device is back.

#include "rig.h"

#include <gtest/gtest.h>

using namespace parvault;
using namespace parvault::testing;

namespace {

const QString kParams = QStringLiteral(
    "1 10 0 | 1,5 | кПа\n1 11 0 | 2,5 | кПа\n1 12 0 | 3,5 |\n"
    "1 13 0 | 4,5 | °C\n1 14 0 | 5,5 |\n1 15 0 | 6,5 | м3/ч\n");

std::vector<RowSpec> SixRows() {
    std::vector<RowSpec> rows;
    for (int p = 10; p < 16; ++p)
        rows.push_back({1, p, 0, KindPlain});
    return rows;
}

// The device again, on the same port link and the same UDP port.
std::unique_ptr<devsim::Server> Revive(Rig& rig, uint16_t udpPort) {
    devsim::ServerOptions o;
    o.udpHost = "127.0.0.1";
    o.udpPort = udpPort;
    o.ptyLink = (rig.dir.path() / ("COM" + std::to_string(Rig::kPort))).string();
    auto server = std::make_unique<devsim::Server>(rig.model(), o);
    std::string error;
    EXPECT_TRUE(server->start(&error)) << error;
    return server;
}

class Vanish : public ::testing::TestWithParam<bool> {};

} // namespace

TEST_P(Vanish, RowsAfterTheLossAreUnansweredAndALaterReadWorks) {
    const bool udp = GetParam();
    Rig rig(kParams);
    rig.settings.useIp = udp ? 1 : 0;
    const uint16_t udpPort = rig.server.udpPort();
    rig.setRows(SixRows());
    rig.controller.OnReadCommand();
    ASSERT_TRUE(rig.runUntil([&] { return rig.rows.icon(1) == IconNeutral; }));
    rig.server.stop(); // cable pulled: the pty's far end closes, the socket goes
    ASSERT_TRUE(rig.runToEnd());

    EXPECT_EQ(rig.rows.text(0, ColValue), QString("1,5"));
    EXPECT_EQ(rig.rows.text(1, ColValue), QString("2,5"));
    for (int r = 2; r < 6; ++r) {
        EXPECT_EQ(rig.rows.icon(r), IconReadUnanswered) << r;
        EXPECT_TRUE(rig.rows.text(r, ColValue).isEmpty()) << r;
    }
    EXPECT_EQ(rig.display.progressText, QString("Выполнено 100%"));
    EXPECT_EQ(rig.display.status, QString(" "));
    EXPECT_EQ(rig.serial.openPort(), 0);
    EXPECT_FALSE(rig.udp.threadRunning());

    // Back again: the same rows read.
    const auto again = Revive(rig, udpPort);
    for (int r = 0; r < 6; ++r)
        rig.rows.setSelected(r, r >= 2);
    rig.controller.OnReadCommand();
    ASSERT_TRUE(rig.runToEnd());
    for (int r = 2; r < 6; ++r)
        EXPECT_EQ(rig.rows.icon(r), IconNeutral) << r;
    EXPECT_EQ(rig.rows.text(5, ColValue), QString("6,5"));
    EXPECT_EQ(rig.rows.text(5, ColUnits), QString("м3/ч"));
    again->stop();
}

TEST_P(Vanish, StopWhileWaitingForTheLostDeviceEndsAtOnce) {
    const bool udp = GetParam();
    Rig rig(kParams);
    rig.settings.useIp = udp ? 1 : 0;
    const uint16_t udpPort = rig.server.udpPort();
    rig.setRows(SixRows());
    rig.controller.OnReadCommand();
    ASSERT_TRUE(rig.runUntil([&] { return rig.rows.icon(0) == IconNeutral; }));
    rig.server.stop();
    // Into the wait for the next answer, past the first resend.
    for (int i = 0; i < 60; ++i)
        rig.step();
    ASSERT_TRUE(rig.controller.busy());
    rig.controller.StopExchange();
    EXPECT_FALSE(rig.controller.busy());
    EXPECT_EQ(rig.shared.readState.load(), STATE_IDLE);
    EXPECT_EQ(rig.display.status, QString(" "));
    EXPECT_EQ(rig.serial.openPort(), 0);
    EXPECT_FALSE(rig.udp.threadRunning());
    EXPECT_EQ(rig.rows.icon(1), IconQueued); // the row being read keeps its mark
    // Steps after the stop change nothing.
    for (int i = 0; i < 10; ++i)
        rig.step();
    EXPECT_EQ(rig.rows.icon(1), IconQueued);

    const auto again = Revive(rig, udpPort);
    rig.controller.OnReadCommand();
    ASSERT_TRUE(rig.runToEnd());
    for (int r = 0; r < 6; ++r)
        EXPECT_EQ(rig.rows.icon(r), IconNeutral) << r;
    again->stop();
}

INSTANTIATE_TEST_SUITE_P(Route, Vanish, ::testing::Values(false, true),
                         [](const auto& p) { return p.param ? "Udp" : "Pty"; });
