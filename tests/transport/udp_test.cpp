#include "connectionsettings.h"
#include "eventually.h"
#include "ipthread.h"
#include "recordingposter.h"
#include "udppeer.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <netinet/in.h>
#include <thread>
#include <vector>

using namespace parvault;
using namespace parvault::testing;

namespace {

constexpr uint32_t kOtherLoopback = 0x7F000002; // 127.0.0.2: another host as far as the channel knows

class UdpChannelTest : public ::testing::Test {
protected:
    std::unique_ptr<ExchangeShared> shared = std::make_unique<ExchangeShared>();
    RecordingPoster poster;
    UdpPeer device;
    UdpTarget target;

    UdpChannelTest() {
        target.deviceIp = kLoopback;
        target.udpPort = device.port();
        target.waitSeconds = 1;
        target.localIp = kLoopback;
    }
    void setFrame(const std::vector<uint8_t>& bytes) {
        shared->txFrame[0] = static_cast<uint8_t>(bytes.size() & 0xFF);
        shared->txFrame[1] = static_cast<uint8_t>(bytes.size() >> 8);
        std::copy(bytes.begin(), bytes.end(), shared->txFrame.begin() + 2);
    }
    std::vector<uint8_t> answer() const {
        return {shared->rxBuffer.begin(), shared->rxBuffer.begin() + shared->rxLength.load()};
    }
    bool stateBecomes(std::atomic<int32_t>& state, int32_t value) {
        return eventually([&] { return state.load() == value; });
    }
};

const std::vector<uint8_t> kRequest = {0x10, 0x01, 0x1F, 'r', 'e', 'q', 0x10, 0x03, 0xAB, 0xCD};

TEST_F(UdpChannelTest, ReadTransactionHandsTheAnswerOverWithState9) {
    UdpChannel channel(*shared, poster);
    setFrame(kRequest);
    shared->waitTicks = 77;
    shared->rxBuffer.fill(0xAA);
    shared->readState = STATE_SENT_1;
    ASSERT_TRUE(StartUdpExchange(channel, target));

    auto request = device.receive();
    ASSERT_TRUE(request);
    EXPECT_EQ(*request, kRequest) << "one datagram carrying exactly the frame bytes";
    device.reply({'a', 'n', 's', 0x00, 0xFF});
    ASSERT_TRUE(stateBecomes(shared->readState, STATE_UDP_ANSWER));
    EXPECT_EQ(answer(), (std::vector<uint8_t>{'a', 'n', 's', 0x00, 0xFF}));
    EXPECT_EQ(shared->rxBuffer[5], 0);
    EXPECT_LT(shared->waitTicks.load(), 77) << "the wait starts over with the send";

    // The same thread serves the next pending request of its side.
    shared->readState = STATE_SENT_2;
    ASSERT_TRUE(device.receive());
    device.reply({'t', 'w', 'o'});
    ASSERT_TRUE(stateBecomes(shared->readState, STATE_UDP_ANSWER));
    EXPECT_EQ(answer(), (std::vector<uint8_t>{'t', 'w', 'o'}));

    // Both sides idle: the thread ends by itself.
    shared->readState = STATE_IDLE;
    EXPECT_TRUE(eventually([&] { return !channel.threadRunning(); }));
    EXPECT_TRUE(poster.messages().empty());
}

TEST_F(UdpChannelTest, WriteTransactionMarksTheStateTakenThenStoresTheAnswer) {
    UdpChannel channel(*shared, poster);
    setFrame(kRequest);
    shared->readState = STATE_IDLE; // straight to the write side
    shared->writeState = STATE_SENT_2;
    ASSERT_TRUE(StartUdpExchange(channel, target));

    ASSERT_TRUE(device.receive());
    EXPECT_EQ(shared->writeState.load(), STATE_SENT_2 + STATE_BUSY_FLAG);
    device.reply({'o', 'k'});
    ASSERT_TRUE(stateBecomes(shared->writeState, STATE_UDP_ANSWER));
    EXPECT_EQ(answer(), (std::vector<uint8_t>{'o', 'k'}));

    shared->writeState = STATE_IDLE;
    EXPECT_TRUE(eventually([&] { return !channel.threadRunning(); }));
    EXPECT_TRUE(poster.messages().empty());
}

TEST_F(UdpChannelTest, ThreadSendsTheFrameThatWasThereWhenItStarted) {
    UdpChannel channel(*shared, poster);
    setFrame(kRequest);
    shared->readState = STATE_STEP;
    ASSERT_TRUE(StartUdpExchange(channel, target));
    setFrame({'n', 'e', 'x', 't'}); // the window lays out its next frame meanwhile
    shared->readState = STATE_SENT_1;
    auto request = device.receive();
    ASSERT_TRUE(request);
    EXPECT_EQ(*request, kRequest);
}

TEST_F(UdpChannelTest, EmptyDatagramIsAnAnswerOfLengthZero) {
    UdpChannel channel(*shared, poster);
    setFrame(kRequest);
    shared->rxBuffer.fill(0xAA);
    shared->rxLength = 55;
    shared->readState = STATE_SENT_1;
    ASSERT_TRUE(StartUdpExchange(channel, target));
    ASSERT_TRUE(device.receive());
    device.reply({});
    ASSERT_TRUE(stateBecomes(shared->readState, STATE_UDP_ANSWER));
    EXPECT_EQ(shared->rxLength.load(), 0);
    EXPECT_EQ(shared->rxBuffer[0], 0);
}

TEST_F(UdpChannelTest, DatagramOf6144BytesIsStoredWholeAndALongerOneFails) {
    UdpChannel channel(*shared, poster);
    target.waitSeconds = 1; // no ticks run here: the bound passes only when the test says so
    setFrame(kRequest);
    shared->readState = STATE_SENT_1;
    ASSERT_TRUE(StartUdpExchange(channel, target));

    std::vector<uint8_t> full(kRxReadMax);
    for (size_t i = 0; i < full.size(); ++i)
        full[i] = static_cast<uint8_t>(i % 251 + 1);
    ASSERT_TRUE(device.receive());
    device.reply(full);
    ASSERT_TRUE(stateBecomes(shared->readState, STATE_UDP_ANSWER));
    EXPECT_EQ(answer(), full);
    EXPECT_EQ(shared->rxBuffer[kRxReadMax], 0);

    shared->readState = STATE_SENT_2;
    ASSERT_TRUE(device.receive());
    device.reply(std::vector<uint8_t>(kRxReadMax + 1, 'z'));
    // The failed receive is retried until the tick bound has passed: pass it
    // (again and again, since the thread clears the count after sending).
    for (int i = 0; i < 2000 && poster.messages().empty(); ++i) {
        shared->waitTicks = 20;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_TRUE(poster.waitForCount(1));
    EXPECT_EQ(poster.messages(), (std::vector<int>{MSG_READ_TIMEOUT}));
    EXPECT_EQ(shared->lastSocketError.load(), EMSGSIZE);
    EXPECT_EQ(shared->rxLength.load(), kRxReadMax) << "the long datagram's bytes are not used";
    EXPECT_NE(shared->rxBuffer[5], 'z');

    // The state is still pending, so the request goes out again until the
    // window takes the time-out.
    EXPECT_TRUE(device.receive());
    shared->readState = STATE_TIMEOUT;
}

// Converters between UDP and a serial bus often answer from a port of their
// own: the device's address is what makes an answer the device's.
TEST_F(UdpChannelTest, AnswerFromAnotherPortOfTheDeviceIsTaken) {
    UdpChannel channel(*shared, poster);
    setFrame(kRequest);
    shared->readState = STATE_SENT_1;
    ASSERT_TRUE(StartUdpExchange(channel, target));
    ASSERT_TRUE(device.receive());
    device.replyFrom(kLoopback, {'c', 'o', 'n', 'v'});
    ASSERT_TRUE(stateBecomes(shared->readState, STATE_UDP_ANSWER));
    EXPECT_EQ(answer(), (std::vector<uint8_t>{'c', 'o', 'n', 'v'}));

    // The write side takes it the same way (its request set before the read
    // side goes idle, or the thread could end between the two).
    shared->writeState = STATE_SENT_1;
    shared->readState = STATE_IDLE;
    ASSERT_TRUE(device.receive());
    device.replyFrom(kLoopback, {'o', 'k'});
    ASSERT_TRUE(stateBecomes(shared->writeState, STATE_UDP_ANSWER));
    EXPECT_EQ(answer(), (std::vector<uint8_t>{'o', 'k'}));
    EXPECT_TRUE(poster.messages().empty());
}

TEST_F(UdpChannelTest, DatagramFromAnotherAddressIsIgnored) {
    UdpChannel channel(*shared, poster);
    setFrame(kRequest);
    shared->readState = STATE_SENT_1;
    ASSERT_TRUE(StartUdpExchange(channel, target));
    ASSERT_TRUE(device.receive());
    device.replyFrom(kOtherLoopback, {'f', 'a', 'k', 'e'});
    device.reply({'r', 'e', 'a', 'l'});
    ASSERT_TRUE(stateBecomes(shared->readState, STATE_UDP_ANSWER));
    EXPECT_EQ(answer(), (std::vector<uint8_t>{'r', 'e', 'a', 'l'}));
    EXPECT_TRUE(poster.messages().empty());
}

// Datagrams of somebody else, one every millisecond (faster than the receive
// looks at its bound when idle), must not keep the request waiting for ever.
TEST_F(UdpChannelTest, StreamOfForeignDatagramsDoesNotHoldOffTheWaitBound) {
    UdpChannel channel(*shared, poster);
    setFrame(kRequest);
    shared->readState = STATE_IDLE;
    shared->writeState = STATE_SENT_1;
    ASSERT_TRUE(StartUdpExchange(channel, target));
    ASSERT_TRUE(device.receive());

    std::atomic<bool> streaming{true};
    std::thread stranger([&] {
        UdpPeer other(kOtherLoopback);
        // The program's socket: where the device's request came from.
        const sockaddr_in client = device.lastClient();
        while (streaming) {
            other.sendTo(client, oem("noise"));
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    // The wait has run out (no tick thread here: the test says when).
    const bool failed = eventually(
        [&] {
            shared->waitTicks = target.waitSeconds * kUdpTicksPerWaitSecond;
            return !poster.messages().empty();
        },
        std::chrono::seconds(15));
    streaming = false;
    stranger.join();
    ASSERT_TRUE(failed) << "the write was never given up while foreign datagrams came";
    EXPECT_EQ(poster.messages(), (std::vector<int>{MSG_WRITE_TIMEOUT}));
    EXPECT_EQ(shared->writeState.load(), STATE_SENT_1 + STATE_BUSY_FLAG);
    shared->writeState = STATE_IDLE;
}

TEST_F(UdpChannelTest, PortAbove65535UsesItsLow16Bits) {
    UdpChannel channel(*shared, poster);
    target.udpPort = 0x30000u + device.port();
    setFrame(kRequest);
    shared->readState = STATE_SENT_1;
    ASSERT_TRUE(StartUdpExchange(channel, target));
    ASSERT_TRUE(device.receive());
    device.reply({'x'});
    EXPECT_TRUE(stateBecomes(shared->readState, STATE_UDP_ANSWER));
}

TEST_F(UdpChannelTest, NoAnswerKeepsWaitingUntilTheNextFrameStopsTheThread) {
    UdpChannel channel(*shared, poster);
    setFrame(kRequest);
    shared->readState = STATE_SENT_1;
    ASSERT_TRUE(StartUdpExchange(channel, target));
    ASSERT_TRUE(device.receive()); // and the device stays silent

    // The controller's own wait runs out and it sends again: the start must end
    // the thread blocked in its receive and leave the state as it was.
    shared->readState = STATE_SENT_2;
    ASSERT_TRUE(StartUdpExchange(channel, target));
    EXPECT_EQ(shared->readState.load(), STATE_SENT_2);
    ASSERT_TRUE(device.receive());
    device.reply({'l', 'a', 't', 'e'});
    ASSERT_TRUE(stateBecomes(shared->readState, STATE_UDP_ANSWER));
    EXPECT_TRUE(poster.messages().empty()) << "a silent device is the controller's time-out, not ours";

    shared->readState = STATE_SENT_3;
    ASSERT_TRUE(device.receive());
    channel.stopUdpExchange(); // end of the exchange, thread blocked in a receive
    EXPECT_FALSE(channel.threadRunning());
    EXPECT_EQ(shared->readState.load(), STATE_SENT_3);
}

TEST_F(UdpChannelTest, WindowShutdownEndsAThreadBlockedInAReceive) {
    auto channel = std::make_unique<UdpChannel>(*shared, poster);
    setFrame(kRequest);
    shared->writeState = STATE_SENT_1;
    ASSERT_TRUE(StartUdpExchange(*channel, target));
    ASSERT_TRUE(device.receive());
    channel.reset(); // returns: the test would hang otherwise
    EXPECT_EQ(shared->writeState.load(), STATE_SENT_1 + STATE_BUSY_FLAG);
}

TEST_F(UdpChannelTest, LateAnswerDoesNotOverwriteAStateTheWindowHasMovedOn) {
    UdpChannel channel(*shared, poster);
    setFrame(kRequest);
    shared->readState = STATE_SENT_1;
    ASSERT_TRUE(StartUdpExchange(channel, target));
    ASSERT_TRUE(device.receive());
    shared->readState = STATE_TIMEOUT; // the window is handling a time-out
    device.reply({'l', 'a', 't', 'e'});
    ASSERT_TRUE(eventually([&] { return shared->rxLength.load() == 4; }));
    channel.stopUdpExchange();
    EXPECT_EQ(shared->readState.load(), STATE_TIMEOUT);
}

TEST_F(UdpChannelTest, SocketThatCannotBeBoundPostsTheFailureForEveryFrame) {
    UdpChannel channel(*shared, poster);
    // Not an address of this host (a documentation address), so the bind fails.
    // Nothing can leave loopback even if it did not: the device is 127.0.0.1.
    target.localIp = 0xC0000201u; // 192.0.2.1
    setFrame(kRequest);

    shared->readState = STATE_SENT_1;
    ASSERT_TRUE(StartUdpExchange(channel, target));
    ASSERT_TRUE(poster.waitForCount(1));
    EXPECT_TRUE(eventually([&] { return !channel.threadRunning(); })) << "read side abandoned, write side idle";
    EXPECT_NE(shared->lastSocketError.load(), 0);
    EXPECT_EQ(shared->readState.load(), STATE_SENT_1);

    shared->readState = STATE_SENT_2;
    ASSERT_TRUE(StartUdpExchange(channel, target));
    ASSERT_TRUE(poster.waitForCount(2));

    shared->readState = STATE_IDLE;
    shared->writeState = STATE_SENT_1;
    ASSERT_TRUE(StartUdpExchange(channel, target));
    ASSERT_TRUE(poster.waitForCount(3));
    EXPECT_TRUE(eventually([&] { return !channel.threadRunning(); })) << "a write-side failure ends the thread";
    EXPECT_EQ(poster.messages(), (std::vector<int>{MSG_READ_TIMEOUT, MSG_READ_TIMEOUT, MSG_WRITE_TIMEOUT}));
    EXPECT_FALSE(device.hasPending()) << "nothing was sent";
}

// A channel's own pauses: no pause after a read request, one that outlasts
// the test after a write request. The write's answer stays in the socket
// until the pause ends, and ending the exchange does not wait for it.
TEST_F(UdpChannelTest, EachSideWaitsTheChannelsOwnPauseAfterItsRequest) {
    UdpPauses pauses;
    pauses.readPauseMs = 0;
    pauses.writePauseMs = 10 * 60 * 1000;
    UdpChannel channel(*shared, poster, pauses);
    setFrame(kRequest);
    shared->readState = STATE_SENT_1;
    ASSERT_TRUE(StartUdpExchange(channel, target));
    ASSERT_TRUE(device.receive());
    device.reply({'r'});
    ASSERT_TRUE(stateBecomes(shared->readState, STATE_UDP_ANSWER));
    EXPECT_EQ(answer(), (std::vector<uint8_t>{'r'}));

    shared->waitTicks = 77;
    // The write request first: the thread leaves for the write side as soon as
    // it sees the read side idle, and ends there if nothing is pending yet.
    shared->writeState = STATE_SENT_1;
    shared->readState = STATE_IDLE;
    ASSERT_TRUE(device.receive());
    device.reply({'w'});
    // Slowness could only hide a fault here, never invent one.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(shared->writeState.load(), STATE_SENT_1 + STATE_BUSY_FLAG) << "the answer was taken before the pause ended";
    EXPECT_EQ(shared->waitTicks.load(), 77) << "the wait started over before the pause ended";
    EXPECT_EQ(answer(), (std::vector<uint8_t>{'r'}));

    channel.stopUdpExchange(); // returns: the test would hang otherwise
    EXPECT_FALSE(channel.threadRunning());
    EXPECT_EQ(shared->writeState.load(), STATE_SENT_1 + STATE_BUSY_FLAG);
    EXPECT_TRUE(poster.messages().empty());
}

TEST(UdpAddressTest, LoopbackHostAddressBindsToAnyUnlessTheDeviceIsLocal) {
    const uint32_t debianHost = 0x7F000101; // 127.0.1.1
    const uint32_t device = 3232235530u;    // 192.168.0.10
    EXPECT_EQ(udpBindAddress(debianHost, device), 0u);
    EXPECT_EQ(udpBindAddress(debianHost, kLoopback), debianHost);
    EXPECT_EQ(udpBindAddress(0x0A000005, device), 0x0A000005u);
    EXPECT_EQ(udpBindAddress(0, device), 0u);
}

TEST(UdpAddressTest, TargetComesFromTheSettings) {
    ConnectionSettings settings;
    settings.deviceIp = 3232235530u;
    settings.udpPort = 0x10000u + 4001;
    settings.waitSeconds = 3;
    UdpTarget target = makeUdpTarget(settings, 0x0A000005);
    EXPECT_EQ(target.deviceIp, 3232235530u);
    EXPECT_EQ(target.port(), 4001);
    EXPECT_EQ(target.waitSeconds, 3);
    EXPECT_EQ(target.localIp, 0x0A000005u);
    in_addr shown{htonl(target.deviceIp)};
    EXPECT_STREQ(::inet_ntoa(shown), "192.168.0.10");
}

} // namespace
