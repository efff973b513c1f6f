#include "recordingposter.h"

#include <chrono>

namespace parvault::testing {

void RecordingPoster::post(int message) {
    std::lock_guard lock(mutex_);
    messages_.push_back(message);
    changed_.notify_all();
}

std::vector<int> RecordingPoster::messages() {
    std::lock_guard lock(mutex_);
    return messages_;
}

bool RecordingPoster::waitForCount(size_t count) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(20),
                             [&] { return messages_.size() >= count; });
}

} // namespace parvault::testing
