#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace parvault {

// A periodic tick on its own thread, paced by the steady clock so that the
// period holds however long the window's thread is busy.
class TickThread {
public:
    using Callback = std::function<void()>;

    TickThread() = default;
    ~TickThread() { stop(); }
    TickThread(const TickThread&) = delete;
    TickThread& operator=(const TickThread&) = delete;

    // Returns false when a thread could not be started.
    bool start(std::chrono::milliseconds period, Callback callback);
    // Stops and joins; returns at once when not running.
    void stop();
    bool running() const { return thread_.joinable(); }

private:
    void run(std::chrono::milliseconds period);

    Callback callback_;
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
};

} // namespace parvault
