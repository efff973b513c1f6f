#pragma once

#include <chrono>
#include <cstddef>

namespace parvault::devsim {

// Paces bytes on a simulated serial line: ten bit times per byte (8N1), each
// byte available when it has fully arrived. Pure: the caller passes the time.
class LinePacer {
public:
    using Clock = std::chrono::steady_clock;
    // How many of the pending bytes have arrived by now (0 until the first one has).
    size_t allowance(Clock::time_point now, int baud, size_t pending);
    // When the next byte will have arrived; meaningful while active.
    Clock::time_point nextDue() const { return due_; }
    bool active() const { return active_; }
    // The line ran dry: the next byte starts afresh.
    void idle() { active_ = false; }

    static Clock::duration byteTime(int baud);

private:
    bool active_ = false;
    Clock::time_point due_{};
};

} // namespace parvault::devsim
