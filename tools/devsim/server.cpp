#include "server.h"

#include <algorithm>
#include <cstring>

namespace parvault::devsim {

using Clock = std::chrono::steady_clock;

Server::Server(DeviceModel& model, ServerOptions options)
    : model_(model), options_(std::move(options)), slowLine_(options_.slowLine) {}

Server::~Server() { stop(); }

std::vector<DeviceModel*> Server::devices() {
    std::vector<DeviceModel*> all{&model_};
    all.insert(all.end(), options_.neighbours.begin(), options_.neighbours.end());
    return all;
}

bool Server::openUdp(std::string* error) {
    const auto fail = [&](const std::string& what) {
        if (error)
            *error = what + ": " + socketErrorText(lastSocketError());
        return false;
    };
    udpFd_ = openUdpSocket();
    if (udpFd_ == kNoSocket)
        return fail("socket");
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(options_.udpPort);
    if (inet_pton(AF_INET, options_.udpHost->c_str(), &a.sin_addr) != 1) {
        if (error)
            *error = "address " + *options_.udpHost + ": not an IPv4 address";
        return false;
    }
    if (bind(udpFd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
        return fail("bind " + *options_.udpHost + ":" + std::to_string(options_.udpPort));
    socklen_t len = sizeof a;
    getsockname(udpFd_, reinterpret_cast<sockaddr*>(&a), &len);
    boundPort_ = ntohs(a.sin_port);
    return true;
}

void Server::schedule(const Reply& reply, bool udp, const std::vector<uint8_t>& peer) {
    (reply.device ? *reply.device : model_).logOutgoing(udp ? "udp" : "pty", reply.bytes);
    const auto start = Clock::now() + std::chrono::milliseconds(reply.delayMs);
    const size_t pieces = std::clamp<size_t>(static_cast<size_t>(std::max(reply.pieces, 1)), 1,
                                             std::max<size_t>(reply.bytes.size(), 1));
    const size_t size = reply.bytes.size();
    for (size_t k = 0; k < pieces; ++k) {
        const size_t from = size * k / pieces;
        const size_t to = size * (k + 1) / pieces;
        Pending p{start + std::chrono::milliseconds(options_.pieceGapMs) * static_cast<int>(k),
                  Bytes(reply.bytes.begin() + static_cast<std::ptrdiff_t>(from),
                        reply.bytes.begin() + static_cast<std::ptrdiff_t>(to)),
                  udp, peer};
        auto& queue = udp ? udpQueue_ : ptyQueue_;
        // Keep the queue in time order: a delayed answer does not hold back a later, prompt one.
        const auto at = std::upper_bound(queue.begin(), queue.end(), p.at,
                                         [](const auto& t, const Pending& q) { return t < q.at; });
        queue.insert(at, std::move(p));
    }
}

void Server::serviceUdp() {
    std::vector<uint8_t> buf(65536);
    for (;;) {
        sockaddr_storage peer{};
        socklen_t len = sizeof peer;
        const auto n = recvfrom(udpFd_, reinterpret_cast<char*>(buf.data()), static_cast<int>(buf.size()), 0,
                                reinterpret_cast<sockaddr*>(&peer), &len);
        if (n < 0) {
            // Windows reports an earlier datagram's "port unreachable" here;
            // it ends nothing, the next datagram may be waiting behind it.
            if (socketRefused(lastSocketError()))
                continue;
            return;
        }
        const auto* pb = reinterpret_cast<const uint8_t*>(&peer);
        const std::vector<uint8_t> peerBytes(pb, pb + len);
        // One datagram is one frame; a stray prefix before DLE SOH is skipped.
        std::span<const uint8_t> d(buf.data(), static_cast<size_t>(n));
        if (auto r = answerOnLine(devices(), d, "udp"))
            schedule(*r, true, peerBytes);
    }
}

void Server::flushUdp(Clock::time_point now) {
    while (!udpQueue_.empty() && udpQueue_.front().at <= now) {
        const Pending& p = udpQueue_.front();
        sendto(udpFd_, reinterpret_cast<const char*>(p.bytes.data()), static_cast<int>(p.bytes.size()), 0,
               reinterpret_cast<const sockaddr*>(p.peer.data()), static_cast<socklen_t>(p.peer.size()));
        udpQueue_.pop_front();
    }
}

} // namespace parvault::devsim
