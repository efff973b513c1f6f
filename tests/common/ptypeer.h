#pragma once

// The far end of a serial line: a pseudo-terminal whose slave the program
// opens (through a COM<N> link) and whose master the test reads and writes,
// or lets a thread of its own answer from.

#include "wireframes.h"

#include <atomic>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace parvault::testing {

class PtyPeer {
public:
    // Given each complete request (a frame ends two bytes after DLE ETX; a
    // line that is no frame ends with LF and comes with its parity bits
    // cleared) and how many have come, the bytes to answer with.
    using Reply = std::function<std::string(const std::string& request, int count)>;

    PtyPeer();
    // Linked as `link` and answering with `reply` from the start.
    PtyPeer(const std::filesystem::path& link, Reply reply);
    ~PtyPeer();
    PtyPeer(const PtyPeer&) = delete;
    PtyPeer& operator=(const PtyPeer&) = delete;

    // The slave stays open so that the test can act on the line (stop its output).
    int slave() const { return slave_; }
    const std::string& slavePath() const { return slavePath_; }
    // Makes `link` (replacing an old one) point at the slave.
    void linkAs(const std::filesystem::path& link) const;
    // The cable pulled: the program's side sees a hang-up.
    void closeMaster();

    void send(const Bytes& bytes) const;
    // Everything the program has written so far (non-blocking).
    Bytes drain() const;
    // What has come once `count` bytes have (or the safety bound has passed).
    Bytes receive(size_t count) const;

    // Answers every request from now on, on a thread of its own.
    void serve(Reply reply);
    // Also writes this pattern as fast as the line takes it while no answer is due.
    void flood(Bytes pattern);
    int requests() const { return requests_.load(); }
    long long flooded() const { return flooded_.load(); }

private:
    void run();
    int master_ = -1;
    int slave_ = -1;
    std::string slavePath_;
    Reply reply_;
    std::atomic<bool> running_{false};
    std::atomic<int> requests_{0};
    std::atomic<long long> flooded_{0};
    std::mutex mutex_;
    Bytes flood_;
    std::thread thread_;
};

} // namespace parvault::testing
