#include "hostile.h"

#include <arpa/inet.h>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

namespace parvault::faults {

bool ParseRequest(const Bytes& f, Request& out) {
    if (f.size() < 18 || f[0] != DLE || f[1] != SOH || f[2] != DLE || f[3] != US)
        return false;
    out.function = f[4];
    out.sequence = Bytes(f.begin() + 5, f.begin() + 8);
    // DLE STX HT CCC HT PPP...
    size_t p = 15;
    out.param = 0;
    while (p < f.size() && f[p] >= '0' && f[p] <= '9')
        out.param = out.param * 10 + (f[p++] - '0');
    return true;
}

Bytes AnswerFrame(uint8_t function, const Bytes& sequence, const Bytes& body) {
    Bytes f = {DLE, SOH, DLE, US, function};
    f.insert(f.end(), sequence.begin(), sequence.end());
    f.push_back(DLE);
    f.push_back(STX);
    f.insert(f.end(), body.begin(), body.end());
    f.push_back(DLE);
    f.push_back(ETX);
    const uint16_t crc = Crc16(std::span<const uint8_t>(f).subspan(2));
    f.push_back(static_cast<uint8_t>(crc >> 8));
    f.push_back(static_cast<uint8_t>(crc & 0xFF));
    return f;
}

Bytes ValueBody(int param, const std::string& value, const std::string& units) {
    char head[32];
    std::snprintf(head, sizeof head, "\t001\t%03d", param % 1000);
    Bytes b(head, head + std::strlen(head));
    b.push_back(FF);
    b.push_back(HT);
    b.insert(b.end(), value.begin(), value.end());
    if (!units.empty()) {
        b.push_back(HT);
        b.insert(b.end(), units.begin(), units.end());
    }
    b.push_back(FF);
    return b;
}

// ------------------------------------------------------------------ UDP

HostileUdpPeer::HostileUdpPeer(Responder responder) : responder_(std::move(responder)) {
    fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    int big = 1 << 20;
    setsockopt(fd_, SOL_SOCKET, SO_SNDBUF, &big, sizeof big);
    thread_ = std::thread([this] { run(); });
}

HostileUdpPeer::~HostileUdpPeer() {
    running_ = false;
    thread_.join();
    close(fd_);
}

void HostileUdpPeer::flood(Bytes datagram) {
    std::lock_guard lock(mutex_);
    flood_ = std::move(datagram);
}

void HostileUdpPeer::run() {
    std::vector<uint8_t> buf(70000);
    sockaddr_in peer{};
    bool havePeer = false;
    while (running_) {
        pollfd p{fd_, POLLIN, 0};
        poll(&p, 1, 1);
        if (p.revents & POLLIN) {
            socklen_t len = sizeof peer;
            const ssize_t n = recvfrom(fd_, buf.data(), buf.size(), 0, reinterpret_cast<sockaddr*>(&peer), &len);
            if (n > 0) {
                havePeer = true;
                ++requests_;
                Request r;
                if (ParseRequest(Bytes(buf.begin(), buf.begin() + n), r))
                    for (const Bytes& d : responder_(r))
                        sendto(fd_, d.data(), d.size(), 0, reinterpret_cast<sockaddr*>(&peer), sizeof peer);
            }
        }
        Bytes junk;
        {
            std::lock_guard lock(mutex_);
            junk = flood_;
        }
        if (havePeer && !junk.empty())
            sendto(fd_, junk.data(), junk.size(), 0, reinterpret_cast<sockaddr*>(&peer), sizeof peer);
    }
}

// ------------------------------------------------------------------ pty

HostilePty::HostilePty(const std::filesystem::path& folder, int port, Responder responder)
    : responder_(std::move(responder)) {
    char name[256] = {};
    openpty(&master_, &slave_, name, nullptr, nullptr);
    termios t{};
    tcgetattr(slave_, &t);
    cfmakeraw(&t);
    tcsetattr(slave_, TCSANOW, &t);
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    const auto link = folder / ("COM" + std::to_string(port));
    std::filesystem::remove(link);
    std::filesystem::create_symlink(name, link);
    thread_ = std::thread([this] { run(); });
}

HostilePty::~HostilePty() {
    running_ = false;
    thread_.join();
    close(master_);
    close(slave_);
}

void HostilePty::flood(Bytes pattern) {
    std::lock_guard lock(mutex_);
    flood_ = std::move(pattern);
}

void HostilePty::run() {
    Bytes in;
    int tail = -1; // CRC bytes still to come, -1 inside a request
    std::vector<Bytes> out;
    uint8_t buf[4096];
    while (running_) {
        Bytes junk;
        {
            std::lock_guard lock(mutex_);
            junk = flood_;
        }
        pollfd p{master_, static_cast<short>(POLLIN | (out.empty() && junk.empty() ? 0 : POLLOUT)), 0};
        poll(&p, 1, 1);
        if (p.revents & POLLIN) {
            const ssize_t n = read(master_, buf, sizeof buf);
            for (ssize_t i = 0; i < n; ++i) {
                const uint8_t b = buf[i];
                // DLE SOH starts a request; two CRC bytes after DLE ETX end it.
                if (!in.empty() && in.back() == DLE && b == SOH && tail < 0) {
                    in.assign({DLE, SOH});
                    continue;
                }
                in.push_back(b);
                if (tail > 0 && --tail == 0) {
                    Request r;
                    if (ParseRequest(in, r)) {
                        ++requests_;
                        for (Bytes& d : responder_(r))
                            out.push_back(std::move(d));
                    }
                    in.clear();
                    tail = -1;
                } else if (tail < 0 && in.size() >= 2 && in[in.size() - 2] == DLE && b == ETX) {
                    tail = 2;
                }
            }
        }
        if (!out.empty()) {
            // Whole deliveries in order; a full line is tried again later.
            const ssize_t w = write(master_, out.front().data(), out.front().size());
            if (w > 0)
                out.front().erase(out.front().begin(), out.front().begin() + w);
            if (!out.front().empty() && w <= 0)
                continue;
            if (out.front().empty())
                out.erase(out.begin());
        } else if (!junk.empty()) {
            const ssize_t w = write(master_, junk.data(), junk.size());
            if (w > 0)
                flooded_ += w;
        }
    }
}

long long ResidentBytes() {
    std::ifstream statm("/proc/self/statm");
    long long pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * sysconf(_SC_PAGESIZE);
}

} // namespace parvault::faults
