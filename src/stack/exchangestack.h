#pragma once

// One exchange with a device, with everything it is made of: the shared
// exchange state, the queue of posted messages, the serial and UDP channels
// and the controller. The window, the command line and the tests each own
// stacks; nothing else puts the pieces together. Stacks are independent, so
// one process may run several at once (one per device).

#include "controller.h"
#include "exchangelog.h"
#include "exchangeshared.h"
#include "ipthread.h"
#include "portnaming.h"
#include "recordingchannel.h"
#include "routechannels.h"
#include "serialchannel.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

namespace parvault {

// Messages posted by the tick thread, the UDP thread and the controller
// itself, kept in the order they came; any thread may post.
class PostQueue final : public MessagePoster {
public:
    void post(int message) override;
    // What was posted so far (possibly nothing), without waiting.
    std::deque<int> take();
    // Waits until something is posted or the deadline passes.
    std::deque<int> waitUntil(std::chrono::steady_clock::time_point deadline);

private:
    std::mutex mutex_;
    std::condition_variable posted_;
    std::deque<int> queue_;
};

// What the owner of a stack gives it.
struct StackSetup {
    ConnectionSettings& settings;
    RowTable& rows;
    ExchangeDisplay& display;
    PortNaming ports = defaultPortNaming();
    uint32_t localIp = 0;
    // Reopens the current list's file before a write (see ExchangeContext).
    std::function<void()> reopenDatabase;
    // Asked at each exchange for the local UDP address; empty keeps localIp.
    std::function<uint32_t()> localAddress;
    // The window holds the exchange state itself and delivers messages as
    // its own events, in order with its timer; a stack given these uses them
    // in place of its own state and queue.
    ExchangeShared* shared = nullptr;
    MessagePoster* poster = nullptr;
    // The UDP thread's waits (milliseconds; see UdpPauses).
    UdpPauses udpPauses = {};
    // The controller's answer and optical waits.
    AnswerWaits waits = {};
    // How requests follow answers (fast pacing: see runRealTime).
    Pacing pacing = {};
    // Links to use in place of the serial port and UDP (a test's simulated
    // device); the stack's own when empty.
    ChannelPicker* channels = nullptr;
    // Where every frame and exchange event is recorded; nothing is when null.
    ExchangeLog* log = nullptr;
};

class ExchangeStack {
public:
    explicit ExchangeStack(StackSetup setup);
    ~ExchangeStack(); // the port is closed and a UDP thread stopped
    ExchangeStack(const ExchangeStack&) = delete;
    ExchangeStack& operator=(const ExchangeStack&) = delete;

    ExchangeShared& shared() { return *shared_; }
    // Where the stack's messages go: its own queue unless the setup named a poster.
    MessagePoster& poster() { return *poster_; }
    PostQueue& queue() { return queue_; }
    SerialChannel& serial() { return serial_; }
    UdpChannel& udp() { return udp_; }
    ExchangeController& controller() { return controller_; }
    ExchangeLog* log() { return log_; }
    bool busy() const { return controller_.busy(); }

    // One 100 ms tick, as the tick thread runs it.
    void tick() { shared_->TickCallback(*poster_); }
    // One 25 ms step: the controller's timer step, a tick when `withTick`,
    // then everything posted meanwhile. Returns the ticks handled.
    int step(bool withTick = false);
    // Hands every queued message to the controller, including those posted
    // while handling them. Returns the ticks among them.
    int drain();
    // Hands the given messages to the controller, in order.
    int handle(const std::deque<int>& messages);

    // Closes the port and stops a UDP thread (the window's shutdown).
    void releaseLinks();

private:
    ExchangeShared ownShared_;
    PostQueue queue_;
    ExchangeShared* shared_;
    MessagePoster* poster_;
    SerialChannel serial_;
    UdpChannel udp_;
    RouteChannels links_;
    ExchangeLog* log_;
    std::unique_ptr<RecordingPicker> recorder_; // between the controller and its links, with a log
    ExchangeController controller_;
};

// Runs the stack's exchange in real time until it ends or `stop` is set:
// a tick thread counts the 100 ms ticks, and the machines step every 25 ms,
// or, with fast pacing, as often as they can (a step every `fastStep`).
// Returns false when stopped. `onStep` runs after each step.
bool runRealTime(ExchangeStack& stack, const std::atomic<bool>* stop = nullptr,
                 const std::function<void()>& onStep = {},
                 std::chrono::microseconds fastStep = std::chrono::microseconds(100));

} // namespace parvault
