#include "linepacer.h"

#include <algorithm>

namespace parvault::devsim {

LinePacer::Clock::duration LinePacer::byteTime(int baud) {
    // Ten bit times: start, eight data bits, stop.
    return std::chrono::nanoseconds(10'000'000'000LL / std::max(baud, 50));
}

size_t LinePacer::allowance(Clock::time_point now, int baud, size_t pending) {
    if (pending == 0)
        return 0;
    const auto bt = byteTime(baud);
    if (!active_) {
        active_ = true;
        due_ = now + bt;
    }
    if (now < due_)
        return 0;
    const size_t n = std::min(pending, static_cast<size_t>((now - due_) / bt) + 1);
    due_ += bt * static_cast<long>(n);
    return n;
}

} // namespace parvault::devsim
