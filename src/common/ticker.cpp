#include "ticker.h"

#include <system_error>

namespace parvault {

bool TickThread::start(std::chrono::milliseconds period, Callback callback) {
    stop();
    callback_ = std::move(callback);
    stop_ = false;
    try {
        thread_ = std::thread([this, period] { run(period); });
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void TickThread::stop() {
    if (!thread_.joinable())
        return;
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void TickThread::run(std::chrono::milliseconds period) {
    auto next = std::chrono::steady_clock::now() + period;
    std::unique_lock lock(mutex_);
    while (!wake_.wait_until(lock, next, [this] { return stop_; })) {
        lock.unlock();
        callback_();
        lock.lock();
        next += period;
        const auto now = std::chrono::steady_clock::now();
        if (next < now)
            next = now + period; // after a long stall, don't fire a burst of ticks
    }
}

} // namespace parvault
