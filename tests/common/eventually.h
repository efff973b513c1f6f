#pragma once

#include <chrono>
#include <thread>

namespace parvault::testing {

// Polls a condition every millisecond until it holds; the bound is only a
// safety net so that a broken build fails instead of hanging.
template <typename Pred>
bool eventually(Pred pred, std::chrono::milliseconds bound = std::chrono::seconds(20)) {
    const auto giveUp = std::chrono::steady_clock::now() + bound;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > giveUp)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

} // namespace parvault::testing
