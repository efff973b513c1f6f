#pragma once

// A datagram socket on a loopback address standing in for the device: the
// test receives the program's requests and answers them itself, or lets a
// thread of its own answer.

#include "wireframes.h"

#include <netinet/in.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

namespace parvault::testing {

inline constexpr uint32_t kLoopback = 0x7F000001; // 127.0.0.1, first octet most significant

class UdpPeer {
public:
    // Given a datagram, the datagrams to send back to its sender.
    using Reply = std::function<std::vector<Bytes>(const Bytes& datagram)>;

    explicit UdpPeer(uint32_t hostOrderAddress = kLoopback);
    ~UdpPeer();
    UdpPeer(const UdpPeer&) = delete;
    UdpPeer& operator=(const UdpPeer&) = delete;
    uint16_t port() const { return port_; }

    // The next datagram (the program's request); empty optional on the safety time-out.
    std::optional<Bytes> receive();
    // Who sent the last datagram; inside a Reply, the sender being answered.
    sockaddr_in lastClient() const { return client_; }
    bool hasPending() const;
    void reply(const Bytes& bytes) const { sendTo(client_, bytes); }
    // The same bytes from another socket of the given (loopback) address: a
    // converter answering from a port of its own, or somebody else entirely.
    void replyFrom(uint32_t hostOrderAddress, const Bytes& bytes) const;
    void sendTo(const sockaddr_in& to, const Bytes& bytes) const;

    // Answers every datagram from now on, on a thread of its own.
    void serve(Reply reply);
    // Also sends this datagram every millisecond to the last sender heard from.
    void flood(Bytes datagram);
    int requests() const { return requests_.load(); }

private:
    void run();
    int fd_ = -1;
    uint16_t port_ = 0;
    sockaddr_in client_{};
    Reply reply_;
    std::atomic<bool> running_{false};
    std::atomic<int> requests_{0};
    std::mutex mutex_;
    Bytes flood_;
    std::thread thread_;
};

} // namespace parvault::testing
