#include "udppeer.h"

#include <arpa/inet.h>
#include <cstdlib>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace parvault::testing {

namespace {

constexpr int kSafetyMs = 20000;
constexpr size_t kLargestDatagram = 70000;

int socketAt(uint32_t hostOrderAddress) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(hostOrderAddress);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        std::abort();
    return fd;
}

} // namespace

UdpPeer::UdpPeer(uint32_t hostOrderAddress) : fd_(socketAt(hostOrderAddress)) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    // Floods and long answers must not stall on the socket's own buffer.
    const int big = 1 << 20;
    ::setsockopt(fd_, SOL_SOCKET, SO_SNDBUF, &big, sizeof big);
}

UdpPeer::~UdpPeer() {
    running_ = false;
    if (thread_.joinable())
        thread_.join();
    ::close(fd_);
}

std::optional<Bytes> UdpPeer::receive() {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, kSafetyMs) <= 0)
        return std::nullopt;
    Bytes bytes(kLargestDatagram);
    socklen_t length = sizeof client_;
    const ssize_t n = ::recvfrom(fd_, bytes.data(), bytes.size(), 0,
                                 reinterpret_cast<sockaddr*>(&client_), &length);
    if (n < 0)
        return std::nullopt;
    bytes.resize(static_cast<size_t>(n));
    return bytes;
}

bool UdpPeer::hasPending() const {
    pollfd p{fd_, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0;
}

void UdpPeer::replyFrom(uint32_t hostOrderAddress, const Bytes& bytes) const {
    const int other = socketAt(hostOrderAddress);
    ::sendto(other, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&client_),
             sizeof client_);
    ::close(other);
}

void UdpPeer::sendTo(const sockaddr_in& to, const Bytes& bytes) const {
    ::sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

void UdpPeer::serve(Reply reply) {
    reply_ = std::move(reply);
    running_ = true;
    thread_ = std::thread([this] { run(); });
}

void UdpPeer::flood(Bytes datagram) {
    std::lock_guard lock(mutex_);
    flood_ = std::move(datagram);
}

void UdpPeer::run() {
    Bytes buf(kLargestDatagram);
    bool heard = false;
    while (running_) {
        pollfd p{fd_, POLLIN, 0};
        ::poll(&p, 1, 1);
        if (p.revents & POLLIN) {
            socklen_t length = sizeof client_;
            const ssize_t n = ::recvfrom(fd_, buf.data(), buf.size(), 0,
                                         reinterpret_cast<sockaddr*>(&client_), &length);
            if (n > 0) {
                heard = true;
                ++requests_;
                for (const Bytes& d : reply_(Bytes(buf.begin(), buf.begin() + n)))
                    reply(d);
            }
        }
        Bytes junk;
        {
            std::lock_guard lock(mutex_);
            junk = flood_;
        }
        if (heard && !junk.empty())
            reply(junk);
    }
}

} // namespace parvault::testing
