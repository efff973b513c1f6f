#include "exchangestack.h"

#include "ticker.h"

namespace parvault {

void PostQueue::post(int message) {
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(message);
    }
    posted_.notify_one();
}

std::deque<int> PostQueue::take() {
    std::lock_guard lock(mutex_);
    return std::exchange(queue_, {});
}

std::deque<int> PostQueue::waitUntil(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock lock(mutex_);
    posted_.wait_until(lock, deadline, [this] { return !queue_.empty(); });
    return std::exchange(queue_, {});
}

ExchangeStack::ExchangeStack(StackSetup setup)
    : shared_(setup.shared ? setup.shared : &ownShared_), poster_(setup.poster ? setup.poster : &queue_),
      serial_(std::move(setup.ports)), udp_(*shared_, *poster_, setup.udpPauses), links_(serial_, udp_, setup.settings),
      log_(setup.log),
      recorder_(setup.log ? std::make_unique<RecordingPicker>(setup.channels ? *setup.channels : links_, *setup.log)
                          : nullptr),
      controller_(ExchangeContext{*shared_, setup.settings, setup.rows, setup.display,
                                  recorder_ ? *recorder_
                                            : setup.channels ? *setup.channels : static_cast<ChannelPicker&>(links_),
                                  *poster_, setup.localIp, std::move(setup.reopenDatabase),
                                  std::move(setup.localAddress), setup.waits, std::move(setup.pacing), setup.log}) {
    udp_.setEvents(setup.log);
    links_.tcp().setEvents(setup.log);
}

ExchangeStack::~ExchangeStack() { releaseLinks(); }

void ExchangeStack::releaseLinks() {
    ComClose(serial_);
    udp_.endUdpExchange();
    links_.tcp().release();
}

int ExchangeStack::handle(const std::deque<int>& messages) {
    int ticks = 0;
    for (int m : messages) {
        ticks += m == MSG_TICK ? 1 : 0;
        controller_.OnMessage(m);
    }
    return ticks;
}

int ExchangeStack::drain() {
    int ticks = 0;
    for (auto queue = queue_.take(); !queue.empty(); queue = queue_.take())
        ticks += handle(queue);
    return ticks;
}

int ExchangeStack::step(bool withTick) {
    controller_.OnTimer();
    if (withTick)
        tick();
    return drain();
}

bool runRealTime(ExchangeStack& stack, const std::atomic<bool>* stop, const std::function<void()>& onStep,
                 std::chrono::microseconds fastStep) {
    using Clock = std::chrono::steady_clock;
    ExchangeController& controller = stack.controller();
    const bool fast = controller.fastPace();
    const auto step = fast ? Clock::duration(fastStep) : Clock::duration(std::chrono::milliseconds(kExchangeTimerMs));
    TickThread ticker;
    ticker.start(std::chrono::milliseconds(kTickMs), [&stack] { stack.tick(); });

    bool finished = true;
    auto next = Clock::now() + step;
    while (controller.busy()) {
        stack.handle(stack.queue().waitUntil(next));
        if (stop && stop->load()) {
            controller.StopExchange();
            finished = false;
            break;
        }
        const auto now = Clock::now();
        if (now >= next) {
            if (fast)
                controller.paceStep();
            else
                controller.OnTimer();
            if (onStep)
                onStep();
            next += step;
            // After a stall the steps go on from now rather than catching up in a burst.
            if (next < now)
                next = now + step;
        }
    }
    ticker.stop();
    stack.drain();
    return finished;
}

} // namespace parvault
