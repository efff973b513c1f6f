#include "connectionsettings.h"
#include "eventually.h"
#include "ptypeer.h"
#include "serialchannel.h"
#include "tempdir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <filesystem>
#include <fstream>
#include <future>
#include <poll.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace parvault;
using parvault::testing::eventually;
using parvault::testing::PtyPeer;
using parvault::testing::TempDir;

namespace {

class SerialChannelTest : public ::testing::Test {
protected:
    TempDir dir;
    PortNaming naming;

    SerialChannelTest() {
        std::filesystem::create_directories(dir.path() / "ports");
        std::filesystem::create_directories(dir.path() / "dev"); // no built-in ports at all
        naming.linkFolder = dir.path() / "ports";
        naming.deviceFolder = dir.path() / "dev";
    }
    void link(int port, const std::string& target) {
        std::filesystem::create_symlink(target, naming.linkFolder / ("COM" + std::to_string(port)));
    }
};

TxFrameBlock frameOf(const std::vector<uint8_t>& bytes) {
    TxFrameBlock block{};
    block[0] = static_cast<uint8_t>(bytes.size() & 0xFF);
    block[1] = static_cast<uint8_t>(bytes.size() >> 8);
    std::copy(bytes.begin(), bytes.end(), block.begin() + 2);
    return block;
}

std::vector<uint8_t> allByteValues(size_t count) {
    std::vector<uint8_t> bytes(count);
    for (size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<uint8_t>(i * 7 + 3);
    return bytes;
}

// Reads until `count` bytes have come, checking every single read's contract.
std::vector<uint8_t> readAll(SerialChannel& channel, size_t count) {
    std::vector<uint8_t> got;
    auto block = std::make_unique<RxBufferBlock>();
    eventually([&] {
        block->fill(0xAA);
        int n = ComRead(channel, *block);
        EXPECT_GE(n, 0);
        EXPECT_LE(n, kRxReadMax);
        EXPECT_EQ((*block)[static_cast<size_t>(n)], 0);
        got.insert(got.end(), block->begin(), block->begin() + n);
        return got.size() >= count;
    });
    return got;
}

// ---------------------------------------------------------------- no port open

TEST_F(SerialChannelTest, WithNoPortOpenEveryOperationReportsItsClosedResult) {
    SerialChannel channel(naming);
    EXPECT_EQ(ComOpen(channel, 0, 9600), COM_OPEN_OK); // port 0 names no port
    EXPECT_EQ(channel.openPort(), 0);

    EXPECT_EQ(ComWrite(channel, frameOf({1, 2, 3})), 1);
    auto rx = std::make_unique<RxBufferBlock>();
    rx->fill(0xAA);
    EXPECT_EQ(ComRead(channel, *rx), 0);
    EXPECT_EQ((*rx)[0], 0xAA) << "with no port the buffer stays untouched";
    EXPECT_EQ(ComSetLines(channel, 3), 0);
    EXPECT_EQ(ComWriterBusy(channel), 0);
    uint32_t status = 0x1234;
    EXPECT_EQ(ComModemStatus(channel, status), 0);
    EXPECT_EQ(status, 0x1234u);
    EXPECT_EQ(ComClose(channel), 1);
    EXPECT_EQ(ComClose(channel), 1);
}

TEST_F(SerialChannelTest, RequestEntryPointDispatchesAndAlwaysReturnsOne) {
    PtyPeer pty;
    link(5, pty.slavePath());
    SerialChannel channel(naming);

    int result = -7;
    ComOpenBlock open{5, 9600};
    EXPECT_EQ(ComPortRequest(channel, COM_OPEN, result, &open), 1);
    EXPECT_EQ(result, 0);
    for (unsigned unused : {3u, 4u}) {
        result = -7;
        EXPECT_EQ(ComPortRequest(channel, unused, result, nullptr), 1);
        EXPECT_EQ(result, -7) << "code " << unused;
    }
    TxFrameBlock frame = frameOf({0x10, 0x01, 0x42});
    EXPECT_EQ(ComPortRequest(channel, COM_WRITE, result, &frame), 1);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(pty.receive(3), (std::vector<uint8_t>{0x10, 0x01, 0x42}));

    std::string text;
    EXPECT_EQ(ComPortRequest(channel, 42, result, &text), 1);
    EXPECT_EQ(result, 0);
    EXPECT_NE(text.find("(COM5 SPEED=9600 Nreadbyte="), std::string::npos) << text;

    uint8_t lines = kLineDtr | kLineRts;
    EXPECT_EQ(ComPortRequest(channel, COM_SET_LINES, result, &lines), 1);
    EXPECT_EQ(result, 0) << "a pty has no modem lines; that is no failure";
    EXPECT_EQ(ComPortRequest(channel, COM_CLOSE, result, nullptr), 1);
    EXPECT_EQ(result, 0);
}

// ---------------------------------------------------------------- open

TEST_F(SerialChannelTest, OpenResultsForSamePortOtherPortMissingPortAndNonSerialFile) {
    PtyPeer first, second;
    link(5, first.slavePath());
    link(6, second.slavePath());
    { std::ofstream(dir.file("plain.txt")) << "not a port"; }
    link(8, dir.file("plain.txt"));

    SerialChannel channel(naming);
    EXPECT_EQ(ComOpen(channel, 7, 9600), COM_OPEN_FAILED) << "no link and no /dev/ttyS6";
    EXPECT_EQ(channel.openPort(), 0);
    EXPECT_EQ(ComOpen(channel, 8, 9600), COM_OPEN_FAILED) << "a plain file is no serial port";
    EXPECT_EQ(ComOpen(channel, 5, 9600), COM_OPEN_OK);
    EXPECT_EQ(ComOpen(channel, 5, 115200), COM_OPEN_OK) << "the open port: nothing changes";
    EXPECT_EQ(channel.openSpeed(), 9600u);
    EXPECT_EQ(ComOpen(channel, 6, 9600), COM_OPEN_BUSY);
    EXPECT_EQ(ComOpen(channel, 0, 9600), COM_OPEN_BUSY);
    EXPECT_EQ(channel.openPort(), 5);

    // The open port still works after all that.
    ASSERT_EQ(ComWrite(channel, frameOf({'o', 'k'})), 0);
    EXPECT_EQ(first.receive(2), (std::vector<uint8_t>{'o', 'k'}));
    first.send({'y', 'e', 's'});
    EXPECT_EQ(readAll(channel, 3), (std::vector<uint8_t>{'y', 'e', 's'}));
    EXPECT_TRUE(second.drain().empty());

    EXPECT_EQ(ComClose(channel), 0);
    EXPECT_EQ(channel.openPort(), 0);
    EXPECT_EQ(ComOpen(channel, 6, 9600), COM_OPEN_OK) << "after a close another port opens";
}

TEST_F(SerialChannelTest, PortIsExclusiveWhileOpen) {
    PtyPeer pty;
    link(5, pty.slavePath());
    SerialChannel holder(naming), other(naming);
    ASSERT_EQ(ComOpen(holder, 5, 9600), COM_OPEN_OK);
    EXPECT_EQ(ComOpen(other, 5, 9600), COM_OPEN_FAILED);
    EXPECT_EQ(ComClose(holder), 0);
    EXPECT_EQ(ComOpen(other, 5, 9600), COM_OPEN_OK);
}

TEST_F(SerialChannelTest, OpenSetsEachSpeedAndRawEightNOneWithoutFlowControl) {
    PtyPeer pty;
    link(5, pty.slavePath());
    // Start from a cooked line, as a terminal would leave it.
    termios cooked{};
    ASSERT_EQ(::tcgetattr(pty.slave(), &cooked), 0);
    cooked.c_iflag |= ICRNL | IXON | ISTRIP;
    cooked.c_oflag |= OPOST | ONLCR;
    cooked.c_lflag |= ICANON | ECHO | ISIG;
    cooked.c_cflag |= PARENB | CSTOPB | CRTSCTS;
    ASSERT_EQ(::tcsetattr(pty.slave(), TCSANOW, &cooked), 0);

    const speed_t expected[] = {B300, B600, B1200, B2400, B4800, B9600, B19200, B38400, B57600, B115200};
    for (size_t i = 0; i < SpeedTable.size(); ++i) {
        SerialChannel channel(naming);
        ASSERT_EQ(ComOpen(channel, 5, static_cast<uint32_t>(SpeedTable[i])), COM_OPEN_OK);
        termios seen{};
        ASSERT_EQ(::tcgetattr(pty.slave(), &seen), 0);
        EXPECT_EQ(::cfgetospeed(&seen), expected[i]) << SpeedTable[i];
        EXPECT_EQ(::cfgetispeed(&seen), expected[i]) << SpeedTable[i];
        EXPECT_EQ(seen.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
        EXPECT_EQ(seen.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
        EXPECT_EQ(seen.c_iflag & (ICRNL | IXON | IXOFF | ISTRIP | INPCK), 0u);
        EXPECT_EQ(seen.c_oflag & OPOST, 0u);
        EXPECT_EQ(seen.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
        EXPECT_EQ(ComClose(channel), 0);
    }
}

// Another program (a terminal, a modem daemon) finds the line as it left it,
// and may open it again: exclusive use ends with our close.
TEST_F(SerialChannelTest, CloseRestoresTheLineAsFoundAndReleasesExclusiveUse) {
    PtyPeer pty;
    link(5, pty.slavePath());
    termios cooked{};
    ASSERT_EQ(::tcgetattr(pty.slave(), &cooked), 0);
    cooked.c_lflag |= ICANON | ECHO;
    cooked.c_iflag |= ICRNL;
    ::cfsetispeed(&cooked, B4800);
    ::cfsetospeed(&cooked, B4800);
    ASSERT_EQ(::tcsetattr(pty.slave(), TCSANOW, &cooked), 0);

    SerialChannel channel(naming);
    ASSERT_EQ(ComOpen(channel, 5, 115200), COM_OPEN_OK);
    int exclusive = 0;
    ASSERT_EQ(::ioctl(pty.slave(), TIOCGEXCL, &exclusive), 0);
    EXPECT_NE(exclusive, 0) << "held exclusively while open";
    ASSERT_EQ(ComClose(channel), 0);

    termios after{};
    ASSERT_EQ(::tcgetattr(pty.slave(), &after), 0);
    EXPECT_EQ(::cfgetospeed(&after), static_cast<speed_t>(B4800));
    EXPECT_EQ(after.c_lflag & (ICANON | ECHO), static_cast<tcflag_t>(ICANON | ECHO));
    EXPECT_EQ(after.c_iflag & ICRNL, static_cast<tcflag_t>(ICRNL));
    ASSERT_EQ(::ioctl(pty.slave(), TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0) << "exclusive use given up at the close";
}

// "Нет подключения к порту" alone leaves a user guessing; each failure keeps
// what went wrong in terms the user can act on.
TEST_F(SerialChannelTest, FailedOpenSaysWhy) {
    PtyPeer pty;
    link(5, pty.slavePath());
    { std::ofstream(dir.file("plain.txt")) << "not a port"; }
    link(8, dir.file("plain.txt"));
    link(9, dir.file("unplugged-adapter"));
    SerialChannel channel(naming);
    auto reason = [&] { return comOpenFailureText(channel).toStdString(); };
    EXPECT_EQ(channel.lastOpenError().failure, ComOpenFailure::None);
    EXPECT_EQ(reason(), "");

    EXPECT_EQ(ComOpen(channel, 200, 9600), COM_OPEN_FAILED);
    EXPECT_EQ(channel.lastOpenError().failure, ComOpenFailure::NoPortNumber);
    EXPECT_NE(reason().find("COM200"), std::string::npos) << reason();

    EXPECT_EQ(ComOpen(channel, 7, 9600), COM_OPEN_FAILED); // ttyS6, which this machine lacks
    EXPECT_EQ(channel.lastOpenError().failure, ComOpenFailure::NoDevice);
    EXPECT_NE(reason().find((naming.deviceFolder / "ttyS6").string()), std::string::npos) << reason();

    EXPECT_EQ(ComOpen(channel, 9, 9600), COM_OPEN_FAILED);
    EXPECT_EQ(channel.lastOpenError().failure, ComOpenFailure::NoDevice);
    EXPECT_NE(reason().find("unplugged-adapter"), std::string::npos) << "the link's target is named: " << reason();

    EXPECT_EQ(ComOpen(channel, 8, 9600), COM_OPEN_FAILED);
    EXPECT_EQ(channel.lastOpenError().failure, ComOpenFailure::NotTerminal);
    EXPECT_NE(reason().find("plain.txt"), std::string::npos) << reason();

    SerialChannel holder(naming);
    ASSERT_EQ(ComOpen(holder, 5, 9600), COM_OPEN_OK);
    EXPECT_EQ(ComOpen(channel, 5, 9600), COM_OPEN_FAILED);
    EXPECT_EQ(channel.lastOpenError().failure, ComOpenFailure::Busy);
    EXPECT_NE(reason().find(pty.slavePath()), std::string::npos) << "the device, not the link: " << reason();
    EXPECT_EQ(ComClose(channel), 1);
    EXPECT_EQ(channel.lastOpenError().failure, ComOpenFailure::Busy) << "a close keeps the reason";

    ASSERT_EQ(ComClose(holder), 0);
    ASSERT_EQ(ComOpen(channel, 5, 9600), COM_OPEN_OK);
    EXPECT_EQ(reason(), "") << "an open that worked leaves no reason";
}

// The commonest failure on Linux: the user is not in the group that owns the
// device. Permissions need a user they apply to, so when the tests run as the
// superuser this runs in a child that has become "nobody".
TEST_F(SerialChannelTest, DeviceTheUserMayNotOpenNamesItsGroup) {
    PtyPeer pty;
    link(5, pty.slavePath());
    ASSERT_EQ(::fchmod(pty.slave(), 0660), 0);
    struct stat device{};
    ASSERT_EQ(::stat(pty.slavePath().c_str(), &device), 0);
    ASSERT_NE(device.st_gid, 65534u) << "nobody must not be in the device's group";
    const group* owner = ::getgrgid(device.st_gid);
    const std::string groupName = owner ? owner->gr_name : std::to_string(device.st_gid);
    for (const auto& folder : {dir.path(), naming.linkFolder})
        ASSERT_EQ(::chmod(folder.c_str(), 0755), 0);

    EXPECT_EXIT(
        {
            if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
                _exit(10);
            SerialChannel channel(naming);
            if (ComOpen(channel, 5, 9600) != COM_OPEN_FAILED)
                _exit(11);
            if (channel.lastOpenError().failure != ComOpenFailure::NoPermission)
                _exit(12);
            const QString why = comOpenFailureText(channel);
            if (!why.contains(QStringLiteral("нет прав")) || !why.contains(QString::fromStdString(groupName)) ||
                !why.contains(QString::fromStdString(pty.slavePath())))
                _exit(13);
            _exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

// ---------------------------------------------------------------- bytes

TEST_F(SerialChannelTest, EveryByteValuePassesUnchangedBothWays) {
    PtyPeer pty;
    link(5, pty.slavePath());
    SerialChannel channel(naming);
    ASSERT_EQ(ComOpen(channel, 5, 115200), COM_OPEN_OK);

    std::vector<uint8_t> out(256);
    for (int i = 0; i < 256; ++i)
        out[static_cast<size_t>(i)] = static_cast<uint8_t>(255 - i); // CR, LF, XON, XOFF, DLE, 0 included
    ASSERT_EQ(ComWrite(channel, frameOf(out)), 0);
    EXPECT_EQ(pty.receive(out.size()), out);

    std::vector<uint8_t> in(256);
    for (int i = 0; i < 256; ++i)
        in[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
    pty.send(in);
    EXPECT_EQ(readAll(channel, in.size()), in);
}

TEST_F(SerialChannelTest, ReadOfEmptyQueueReturnsZeroAndTerminatesTheBuffer) {
    PtyPeer pty;
    link(5, pty.slavePath());
    SerialChannel channel(naming);
    ASSERT_EQ(ComOpen(channel, 5, 9600), COM_OPEN_OK);
    auto rx = std::make_unique<RxBufferBlock>();
    rx->fill(0xAA);
    EXPECT_EQ(ComRead(channel, *rx), 0);
    EXPECT_EQ((*rx)[0], 0);
    EXPECT_EQ((*rx)[1], 0xAA);
}

TEST_F(SerialChannelTest, MoreThanOneReadFullIsDeliveredInReadsOfAtMost6144) {
    PtyPeer pty;
    link(5, pty.slavePath());
    SerialChannel channel(naming);
    ASSERT_EQ(ComOpen(channel, 5, 115200), COM_OPEN_OK);
    const auto sent = allByteValues(kRxReadMax + 2000);
    pty.send(sent);
    // readAll checks each read: at most 6144 bytes and the zero byte right after them.
    EXPECT_EQ(readAll(channel, sent.size()), sent);
}

TEST_F(SerialChannelTest, FrameOfLengthZeroStartsAWriterThatWritesNothing) {
    PtyPeer pty;
    link(5, pty.slavePath());
    SerialChannel channel(naming);
    ASSERT_EQ(ComOpen(channel, 5, 9600), COM_OPEN_OK);
    ASSERT_EQ(ComWrite(channel, frameOf({})), 0);
    EXPECT_TRUE(eventually([&] { return ComWriterBusy(channel) == 0; }));
    EXPECT_TRUE(pty.drain().empty());
    EXPECT_EQ(ComClose(channel), 0);
}

TEST_F(SerialChannelTest, LengthFieldBeyondTheBlockIsCutToTheBlock) {
    PtyPeer pty;
    link(5, pty.slavePath());
    SerialChannel channel(naming);
    ASSERT_EQ(ComOpen(channel, 5, 115200), COM_OPEN_OK);
    TxFrameBlock frame{};
    frame[0] = 0xFF;
    frame[1] = 0xFF; // 65535, far more than the block holds
    std::fill(frame.begin() + 2, frame.end(), 'x');
    ASSERT_EQ(ComWrite(channel, frame), 0);
    auto got = pty.receive(kTxFrameMax);
    EXPECT_EQ(got.size(), static_cast<size_t>(kTxFrameMax));
    EXPECT_TRUE(eventually([&] { return ComWriterBusy(channel) == 0; }));
    EXPECT_TRUE(pty.drain().empty());
}

TEST_F(SerialChannelTest, FramesWrittenBackToBackArriveWholeAndInOrder) {
    PtyPeer pty;
    link(5, pty.slavePath());
    SerialChannel channel(naming);
    ASSERT_EQ(ComOpen(channel, 5, 115200), COM_OPEN_OK);
    std::vector<uint8_t> expected;
    TxFrameBlock frame{};
    for (uint8_t k = 0; k < 5; ++k) {
        std::vector<uint8_t> bytes(3000, k);
        frame = frameOf(bytes); // the same block, reused at once: the channel copied it
        ASSERT_EQ(ComWrite(channel, frame), 0);
        expected.insert(expected.end(), bytes.begin(), bytes.end());
    }
    EXPECT_EQ(pty.receive(expected.size()), expected);
    EXPECT_EQ(ComClose(channel), 0);
}

// ---------------------------------------------------------------- stopping and vanishing

TEST_F(SerialChannelTest, CloseEndsAWriteThatIsStillRunningAndClosesThePort) {
    PtyPeer pty;
    link(5, pty.slavePath());
    SerialChannel channel(naming);
    ASSERT_EQ(ComOpen(channel, 5, 300), COM_OPEN_OK);
    // Hold the line's output, as a 300 baud line holds a long frame for minutes.
    ASSERT_EQ(::tcflow(pty.slave(), TCOOFF), 0);
    ASSERT_EQ(ComWrite(channel, frameOf(allByteValues(kTxFrameMax))), 0);
    EXPECT_EQ(ComWriterBusy(channel), 1);

    EXPECT_EQ(ComClose(channel), 0); // returns without the line ever draining
    EXPECT_EQ(channel.openPort(), 0);
    EXPECT_EQ(ComWriterBusy(channel), 0);
    EXPECT_LT(pty.drain().size(), static_cast<size_t>(kTxFrameMax));

    ASSERT_EQ(::tcflow(pty.slave(), TCOON), 0);
    SerialChannel next(naming);
    EXPECT_EQ(ComOpen(next, 5, 9600), COM_OPEN_OK) << "the port was released";
}

// What the line of a pseudo-terminal holds when its far end reads nothing:
// `held` bytes in all, of which `beyondReach` have already passed into the far
// end's own input and stay there even when the line's output is discarded.
struct PtyLine {
    size_t held = 0;
    size_t beyondReach = 0;
};

PtyLine measurePtyLine() {
    PtyPeer probe;
    termios raw{};
    ::tcgetattr(probe.slave(), &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(probe.slave(), TCSANOW, &raw);
    ::fcntl(probe.slave(), F_SETFL, ::fcntl(probe.slave(), F_GETFL) | O_NONBLOCK);
    const auto bytes = allByteValues(4096);
    PtyLine line;
    for (;;) {
        ssize_t n = ::write(probe.slave(), bytes.data(), bytes.size());
        if (n <= 0)
            break;
        line.held += static_cast<size_t>(n);
    }
    ::tcflush(probe.slave(), TCOFLUSH);
    line.beyondReach = probe.drain().size();
    return line;
}

// A device that takes nothing (a stalled adapter, a line held by flow
// control) must not keep Stop or the program's exit waiting: what has not gone
// out by the close is thrown away, not drained.
TEST_F(SerialChannelTest, CloseDiscardsOutputTheLineStillHolds) {
    const PtyLine line = measurePtyLine();
    ASSERT_LT(line.beyondReach, line.held) << "this kernel's pseudo-terminals keep no output to discard";
    PtyPeer pty;
    link(5, pty.slavePath());
    SerialChannel channel(naming);
    ASSERT_EQ(ComOpen(channel, 5, 115200), COM_OPEN_OK);
    // The far end reads nothing: frames pile up until one stalls on the full
    // line. Each frame is let finish before the next, so that a new frame
    // never cuts the one before short. (Poll's "not writable" alone is no
    // proof: the kernel may still move bytes on to the far end's queue.)
    const size_t frames = line.held / kTxFrameMax + 2;
    bool stalled = false;
    for (size_t k = 0; k < 4 * frames && !stalled; ++k) {
        ASSERT_EQ(ComWrite(channel, frameOf(allByteValues(kTxFrameMax))), 0);
        eventually([&] { return ComWriterBusy(channel) != 1; }, std::chrono::milliseconds(300));
        stalled = ComWriterBusy(channel) == 1;
    }
    ASSERT_TRUE(stalled) << "the line never filled";

    auto closing = std::async(std::launch::async, [&] { return ComClose(channel); });
    ASSERT_EQ(closing.wait_for(std::chrono::seconds(5)), std::future_status::ready)
        << "close waited for the held output";
    EXPECT_EQ(closing.get(), 0);
    EXPECT_EQ(channel.openPort(), 0);
    // Draining would hand the far end all `held` bytes; discarding leaves it
    // only what was beyond reach (the frames' split can shift a byte or two).
    EXPECT_LT(pty.drain().size(), (line.held + line.beyondReach) / 2)
        << "the held output was left to drain after the close";

    SerialChannel next(naming);
    EXPECT_EQ(ComOpen(next, 5, 9600), COM_OPEN_OK) << "the port was released";
}

TEST_F(SerialChannelTest, OtherSideClosingEndsTheWriterAndLeavesReadsQuiet) {
    PtyPeer pty;
    link(5, pty.slavePath());
    SerialChannel channel(naming);
    ASSERT_EQ(ComOpen(channel, 5, 9600), COM_OPEN_OK);
    ASSERT_EQ(::tcflow(pty.slave(), TCOOFF), 0);
    ASSERT_EQ(ComWrite(channel, frameOf(allByteValues(4000))), 0);
    EXPECT_EQ(ComWriterBusy(channel), 1);

    pty.closeMaster(); // the cable is pulled mid-frame
    EXPECT_TRUE(eventually([&] { return ComWriterBusy(channel) == 0; }))
        << "the writer must give up by itself once the device is gone";

    auto rx = std::make_unique<RxBufferBlock>();
    for (int i = 0; i < 3; ++i) {
        rx->fill(0xAA);
        EXPECT_EQ(ComRead(channel, *rx), 0);
        EXPECT_EQ((*rx)[0], 0);
    }
    EXPECT_EQ(ComWrite(channel, frameOf({1, 2, 3})), 0) << "the write starts; the answer just never comes";
    EXPECT_TRUE(eventually([&] { return ComWriterBusy(channel) == 0; }));
    EXPECT_EQ(ComClose(channel), 0);
}

TEST_F(SerialChannelTest, DestroyingTheChannelClosesThePort) {
    PtyPeer pty;
    link(5, pty.slavePath());
    {
        SerialChannel channel(naming);
        ASSERT_EQ(ComOpen(channel, 5, 9600), COM_OPEN_OK);
        ASSERT_EQ(::tcflow(pty.slave(), TCOOFF), 0);
        ASSERT_EQ(ComWrite(channel, frameOf(allByteValues(3000))), 0);
    }
    ASSERT_EQ(::tcflow(pty.slave(), TCOON), 0);
    SerialChannel next(naming);
    EXPECT_EQ(ComOpen(next, 5, 9600), COM_OPEN_OK);
}

} // namespace
