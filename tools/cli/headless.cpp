#include "headless.h"

#include "ticker.h"

namespace parvault::cli {

void HeadlessDbUi::message(const QString& text, const QString& caption) {
    messages << QStringLiteral("%1: %2").arg(caption, text.trimmed());
}

namespace {

StackSetup WithLog(StackSetup setup, ExchangeLog* log) {
    setup.log = log;
    return setup;
}

} // namespace

HeadlessExchange::HeadlessExchange(ConnectionSettings& settings, RowTable& rows, PortNaming ports,
                                   uint32_t localIp, std::function<void()> reopenDatabase, ExchangeLog* log)
    : stack(WithLog(StackSetup{settings, rows, display, std::move(ports), localIp, std::move(reopenDatabase),
                               // One run, one exchange: the address the caller chose for it.
                               nullptr},
                    log)),
      controller(stack.controller()) {
    // The window's link count starts at the limit and passes it with the
    // first tick, long before anyone can press a button. A command line
    // starts its exchange at once, so the count starts past the limit: a
    // fresh process has never signed on to the optical port.
    stack.shared().linkIdleTicks = kLinkIdleExpired + 1;
}

bool RunRealTime(HeadlessExchange& ex, const std::atomic<bool>* stop, const std::function<void()>& onStep) {
    using Clock = std::chrono::steady_clock;
    const auto step = std::chrono::milliseconds(kExchangeTimerMs);
    TickThread ticker;
    ticker.Start(std::chrono::milliseconds(kTickMs), [&ex] { ex.stack.tick(); });

    bool finished = true;
    auto next = Clock::now() + step;
    while (ex.controller.busy()) {
        ex.stack.handle(ex.stack.queue().waitUntil(next));
        if (stop && stop->load()) {
            ex.controller.StopExchange();
            finished = false;
            break;
        }
        const auto now = Clock::now();
        if (now >= next) {
            ex.controller.OnTimer();
            if (onStep)
                onStep();
            next += step;
            // After a stall the steps go on from now rather than catching up in a burst.
            if (next < now)
                next = now + step;
        }
    }
    ticker.Stop();
    DrainMessages(ex);
    return finished;
}

void DrainMessages(HeadlessExchange& ex) { ex.stack.drain(); }

uint32_t LocalIpFor(uint32_t deviceIp) {
    constexpr uint32_t kLoopbackNet = 0x7F000000;
    constexpr uint32_t kLoopbackMask = 0xFF000000;
    constexpr uint32_t kLoopbackHost = 0x7F000001;
    if ((deviceIp & kLoopbackMask) == kLoopbackNet)
        return kLoopbackHost;
    return LocalIpFromHostName();
}

} // namespace parvault::cli
