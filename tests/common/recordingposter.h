#pragma once

#include "exchangeshared.h"

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <vector>

namespace parvault::testing {

// Keeps every posted message in order; any thread may post.
class RecordingPoster : public MessagePoster {
public:
    void post(int message) override;
    std::vector<int> messages();
    // Waits (20 s at most) until `count` messages have come.
    bool waitForCount(size_t count);

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<int> messages_;
};

} // namespace parvault::testing
