#include "headless.h"

#include "ticker.h"

namespace parvault::cli {

void HeadlessDbUi::message(const QString& text, const QString& caption) {
    messages << QStringLiteral("%1: %2").arg(caption, text.trimmed());
}

namespace {

StackSetup withLogAndPacing(StackSetup setup, ExchangeLog* log, Pacing pacing) {
    setup.log = log;
    // Fast pacing drops the UDP thread's pauses after sending too: they are
    // waits between steps like the 25 ms step's.
    if (pacing.fast)
        setup.udpPauses.readPauseMs = setup.udpPauses.writePauseMs = 0;
    setup.pacing = std::move(pacing);
    return setup;
}

} // namespace

HeadlessExchange::HeadlessExchange(ConnectionSettings& settings, RowTable& rows, PortNaming ports,
                                   uint32_t localIp, std::function<void()> reopenDatabase, ExchangeLog* log,
                                   Pacing pacing)
    : stack(withLogAndPacing(StackSetup{.settings = settings,
                                        .rows = rows,
                                        .display = display,
                                        .ports = std::move(ports),
                                        .localIp = localIp,
                                        .reopenDatabase = std::move(reopenDatabase),
                                        // One run, one exchange: the address the caller chose for it.
                                        .localAddress = nullptr},
                             log, std::move(pacing))),
      controller(stack.controller()) {
    // The window's link count starts at the limit and passes it with the
    // first tick, long before anyone can press a button. A command line
    // starts its exchange at once, so the count starts past the limit: a
    // fresh process has never signed on to the optical port.
    stack.shared().linkIdleTicks = kLinkIdleExpired + 1;
}

bool runHeadless(HeadlessExchange& ex, const std::atomic<bool>* stop, const std::function<void()>& onStep) {
    return runRealTime(ex.stack, stop, onStep);
}

void drainMessages(HeadlessExchange& ex) { ex.stack.drain(); }

uint32_t localIpFor(uint32_t deviceIp) {
    constexpr uint32_t kLoopbackNet = 0x7F000000;
    constexpr uint32_t kLoopbackMask = 0xFF000000;
    constexpr uint32_t kLoopbackHost = 0x7F000001;
    if ((deviceIp & kLoopbackMask) == kLoopbackNet)
        return kLoopbackHost;
    return localIpFromHostName();
}

} // namespace parvault::cli
