#pragma once

#include "exchangeshared.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace parvault::testing {

// Keeps every posted message in order; any thread may post.
class RecordingPoster : public MessagePoster {
public:
    void post(int message) override {
        std::lock_guard lock(mutex_);
        messages_.push_back(message);
        changed_.notify_all();
    }
    std::vector<int> messages() {
        std::lock_guard lock(mutex_);
        return messages_;
    }
    // Waits (20 s at most) until `count` messages have come.
    bool waitForCount(size_t count) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(20),
                                 [&] { return messages_.size() >= count; });
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<int> messages_;
};

} // namespace parvault::testing
