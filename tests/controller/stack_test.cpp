// Several exchange stacks in one process: each has its own state, queue,
// channels and threads, so two devices can be served at the same time.

#include "rig.h"

#include <thread>

using namespace parvault;
using namespace parvault::testing;

namespace {

// The same parameters on both devices, with different values, so that an
// answer that strayed into the other stack would show.
QString deviceParams(const QString& suffix) {
    QString text;
    for (int p = 1; p <= 12; ++p)
        text += QStringLiteral("1 %1 0 | %1,%2 | кПа\n").arg(p).arg(suffix);
    text += QStringLiteral("1 350 0 | 350,%1 |\n").arg(suffix);
    return text;
}

std::vector<RowSpec> rowsToRead() {
    std::vector<RowSpec> rows;
    rows.push_back({1, 350, 0, KindPlain}); // second pass
    for (int p = 1; p <= 12; ++p)
        rows.push_back({1, p, 0, KindPlain});
    return rows;
}

void expectDeviceValues(Rig& rig, const QString& suffix, const char* name) {
    EXPECT_EQ(rig.rows.text(0, ColValue), QStringLiteral("350,%1").arg(suffix)) << name;
    for (int r = 1; r < rig.rows.rowCount(); ++r) {
        EXPECT_EQ(rig.rows.text(r, ColValue), QStringLiteral("%1,%2").arg(r).arg(suffix)) << name << " row " << r;
        EXPECT_EQ(rig.rows.text(r, ColUnits), QStringLiteral("кПа")) << name << " row " << r;
        EXPECT_EQ(rig.rows.icon(r), IconNeutral) << name << " row " << r;
    }
    EXPECT_EQ(rig.model().requestCount({1, 5, 0}), 1) << name;
}

} // namespace

// A read over UDP and a read over a pty run side by side, each stack stepped
// on its own thread; each list gets its own device's values.
TEST(ExchangeStacks, TwoStacksReadTwoDevicesAtOnce) {
    Rig udpRig(deviceParams(QStringLiteral("25")));
    Rig ptyRig(deviceParams(QStringLiteral("75")));
    ASSERT_TRUE(udpRig.started);
    ASSERT_TRUE(ptyRig.started);
    udpRig.settings.useIp = 1;
    ptyRig.settings.useIp = 0;
    udpRig.setRows(rowsToRead());
    ptyRig.setRows(rowsToRead());

    udpRig.controller.OnReadCommand();
    ptyRig.controller.OnReadCommand();
    ASSERT_TRUE(udpRig.controller.busy());
    ASSERT_TRUE(ptyRig.controller.busy());
    bool udpDone = false;
    bool ptyDone = false;
    std::thread udpSide([&] { udpDone = udpRig.runToEnd(); });
    std::thread ptySide([&] { ptyDone = ptyRig.runToEnd(); });
    udpSide.join();
    ptySide.join();

    ASSERT_TRUE(udpDone);
    ASSERT_TRUE(ptyDone);
    expectDeviceValues(udpRig, QStringLiteral("25"), "udp");
    expectDeviceValues(ptyRig, QStringLiteral("75"), "pty");
    EXPECT_EQ(udpRig.serial.openPort(), 0) << "the UDP stack never opened its port";
    EXPECT_EQ(ptyRig.serial.openPort(), 0) << "the port is closed at the end";
    EXPECT_FALSE(udpRig.udp.threadRunning());
    EXPECT_EQ(udpRig.display.progressText, QStringLiteral("Выполнено 100%"));
    EXPECT_EQ(ptyRig.display.progressText, QStringLiteral("Выполнено 100%"));
}

// Each stack has its own UDP pauses. One whose pause after a read request
// outlasts the exchange never takes an answer (every resend ends the thread
// still pausing), so its row ends unanswered; the other stack, on the
// program's pauses, reads its rows meanwhile.
TEST(ExchangeStacks, UdpPausesAreEachStacksOwn) {
    UdpPauses held;
    held.readPauseMs = 10 * 60 * 1000;
    Rig heldRig(deviceParams(QStringLiteral("25")), {.udpPauses = held});
    Rig plainRig(deviceParams(QStringLiteral("75")));
    heldRig.settings.useIp = 1;
    plainRig.settings.useIp = 1;
    heldRig.setRows({{1, 5, 0, KindPlain}});
    plainRig.setRows(rowsToRead());

    heldRig.controller.OnReadCommand();
    plainRig.controller.OnReadCommand();
    bool heldDone = false;
    bool plainDone = false;
    std::thread heldSide([&] { heldDone = heldRig.runToEnd(); });
    std::thread plainSide([&] { plainDone = plainRig.runToEnd(); });
    heldSide.join();
    plainSide.join();

    ASSERT_TRUE(heldDone);
    ASSERT_TRUE(plainDone);
    EXPECT_EQ(heldRig.rows.icon(0), IconReadUnanswered);
    EXPECT_EQ(heldRig.rows.text(0, ColValue), QString());
    EXPECT_FALSE(heldRig.udp.threadRunning());
    expectDeviceValues(plainRig, QStringLiteral("75"), "plain");
}

// A stack started while another one runs: stopping the first leaves the
// second's exchange going, and the second still finishes.
TEST(ExchangeStacks, StoppingOneStackLeavesTheOtherRunning) {
    Rig first(deviceParams(QStringLiteral("25")));
    Rig second(deviceParams(QStringLiteral("75")));
    first.settings.useIp = 1;
    second.settings.useIp = 1;
    first.setRows(rowsToRead());
    second.setRows(rowsToRead());
    first.controller.OnReadCommand();
    second.controller.OnReadCommand();
    for (int i = 0; i < 8; ++i) {
        first.step();
        second.step();
    }
    first.controller.StopExchange();
    EXPECT_FALSE(first.controller.busy());
    EXPECT_FALSE(first.udp.threadRunning());
    ASSERT_TRUE(second.controller.busy());
    ASSERT_TRUE(second.runToEnd());
    expectDeviceValues(second, QStringLiteral("75"), "second");
}
