#include "server.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

namespace parvault::devsim {

using Clock = std::chrono::steady_clock;

int BaudOf(unsigned code) {
    switch (code) {
    case B50: return 50;
    case B75: return 75;
    case B110: return 110;
    case B150: return 150;
    case B200: return 200;
    case B300: return 300;
    case B600: return 600;
    case B1200: return 1200;
    case B1800: return 1800;
    case B2400: return 2400;
    case B4800: return 4800;
    case B9600: return 9600;
    case B19200: return 19200;
    case B38400: return 38400;
    case B57600: return 57600;
    case B115200: return 115200;
    case B230400: return 230400;
    default: return 0;
    }
}

Server::Server(DeviceModel& model, ServerOptions options)
    : model_(model), options_(std::move(options)), slowLine_(options_.slowLine) {}

Server::~Server() { stop(); }

bool Server::start(std::string* error) {
    const auto fail = [&](const std::string& what) {
        if (error)
            *error = what + ": " + std::strerror(errno);
        closeAll();
        return false;
    };
    wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd_ < 0)
        return fail("eventfd");

    if (options_.udpHost) {
        udpFd_ = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (udpFd_ < 0)
            return fail("socket");
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(options_.udpPort);
        if (inet_pton(AF_INET, options_.udpHost->c_str(), &a.sin_addr) != 1) {
            errno = EINVAL;
            return fail("address " + *options_.udpHost);
        }
        if (bind(udpFd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
            return fail("bind " + *options_.udpHost + ":" + std::to_string(options_.udpPort));
        socklen_t len = sizeof a;
        getsockname(udpFd_, reinterpret_cast<sockaddr*>(&a), &len);
        boundPort_ = ntohs(a.sin_port);
    }

    if (options_.ptyLink) {
        char name[256] = {};
        if (openpty(&masterFd_, &slaveFd_, name, nullptr, nullptr) != 0)
            return fail("openpty");
        slavePath_ = name;
        // Raw until the program sets the line up; the slave stays open here so
        // the line survives the program closing and reopening it.
        termios t{};
        tcgetattr(slaveFd_, &t);
        cfmakeraw(&t);
        tcsetattr(slaveFd_, TCSANOW, &t);
        fcntl(masterFd_, F_SETFL, fcntl(masterFd_, F_GETFL) | O_NONBLOCK);
        fcntl(masterFd_, F_SETFD, FD_CLOEXEC);
        fcntl(slaveFd_, F_SETFD, FD_CLOEXEC);
        struct stat st {};
        if (lstat(options_.ptyLink->c_str(), &st) == 0) {
            if (!S_ISLNK(st.st_mode)) {
                errno = EEXIST;
                return fail(*options_.ptyLink + " exists and is not a symbolic link");
            }
            unlink(options_.ptyLink->c_str());
        }
        std::error_code ec;
        const auto folder = std::filesystem::path(*options_.ptyLink).parent_path();
        if (!folder.empty())
            std::filesystem::create_directories(folder, ec); // the user's port-link folder may not exist yet
        if (symlink(slavePath_.c_str(), options_.ptyLink->c_str()) != 0)
            return fail("symlink " + *options_.ptyLink);
        stream_.emplace(model_, options_.optical, options_.neighbours);
    }

    running_ = true;
    thread_ = std::thread([this] { run(); });
    return true;
}

void Server::stop() {
    if (thread_.joinable()) {
        running_ = false;
        const uint64_t one = 1;
        [[maybe_unused]] auto n = write(wakeFd_, &one, sizeof one);
        thread_.join();
    }
    closeAll();
}

void Server::closeAll() {
    if (options_.ptyLink && !slavePath_.empty()) {
        char target[256] = {};
        const ssize_t n = readlink(options_.ptyLink->c_str(), target, sizeof target - 1);
        if (n > 0 && slavePath_ == std::string(target, static_cast<size_t>(n)))
            unlink(options_.ptyLink->c_str());
    }
    for (int* fd : {&wakeFd_, &udpFd_, &masterFd_, &slaveFd_}) {
        if (*fd >= 0)
            close(*fd);
        *fd = -1;
    }
    slavePath_.clear();
}

int Server::lineBaud() const {
    if (slaveFd_ < 0)
        return 0;
    termios t{};
    if (tcgetattr(slaveFd_, &t) != 0)
        return 0;
    return BaudOf(cfgetospeed(&t));
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
        const ssize_t n = recvfrom(udpFd_, buf.data(), buf.size(), 0, reinterpret_cast<sockaddr*>(&peer), &len);
        if (n < 0)
            return;
        const auto* pb = reinterpret_cast<const uint8_t*>(&peer);
        const std::vector<uint8_t> peerBytes(pb, pb + len);
        // One datagram is one frame; a stray prefix before DLE SOH is skipped.
        std::span<const uint8_t> d(buf.data(), static_cast<size_t>(n));
        std::vector<DeviceModel*> devices{&model_};
        devices.insert(devices.end(), options_.neighbours.begin(), options_.neighbours.end());
        if (auto r = answerOnLine(devices, d, "udp"))
            schedule(*r, true, peerBytes);
    }
}

void Server::servicePtyInput(Clock::time_point now) {
    const int baud = lineBaud();
    uint8_t buf[4096];
    size_t room = sizeof buf;
    if (slowLine_) {
        // Take no more than the line could have carried since the last byte.
        room = rxPacer_.allowance(now, baud, sizeof buf);
        if (room == 0)
            return;
    }
    const ssize_t n = read(masterFd_, buf, room);
    if (n <= 0) {
        rxPacer_.idle();
        return;
    }
    for (auto& r : stream_->feed(std::span<const uint8_t>(buf, static_cast<size_t>(n)), baud))
        schedule(r, false, {});
}

void Server::flushUdp(Clock::time_point now) {
    while (!udpQueue_.empty() && udpQueue_.front().at <= now) {
        const Pending& p = udpQueue_.front();
        sendto(udpFd_, p.bytes.data(), p.bytes.size(), 0, reinterpret_cast<const sockaddr*>(p.peer.data()),
               static_cast<socklen_t>(p.peer.size()));
        udpQueue_.pop_front();
    }
}

void Server::flushPty(Clock::time_point now) {
    while (!ptyQueue_.empty() && ptyQueue_.front().at <= now) {
        Pending& p = ptyQueue_.front();
        size_t n = p.bytes.size();
        if (slowLine_) {
            n = txPacer_.allowance(now, lineBaud(), n);
            if (n == 0)
                return;
        }
        const ssize_t w = write(masterFd_, p.bytes.data(), n);
        if (w <= 0)
            return; // the slave's input is full: try again later
        p.bytes.erase(p.bytes.begin(), p.bytes.begin() + w);
        if (!p.bytes.empty())
            return;
        ptyQueue_.pop_front();
    }
    if (ptyQueue_.empty() || ptyQueue_.front().at > now)
        txPacer_.idle();
}

void Server::run() {
    while (running_) {
        auto now = Clock::now();
        Clock::time_point next = now + std::chrono::milliseconds(200);
        pollfd fds[3];
        nfds_t count = 0;
        fds[count++] = {wakeFd_, POLLIN, 0};
        const int udpSlot = udpFd_ >= 0 ? static_cast<int>(count) : -1;
        if (udpFd_ >= 0)
            fds[count++] = {udpFd_, POLLIN, 0};
        int ptySlot = -1;
        if (masterFd_ >= 0) {
            short events = 0;
            if (!slowLine_ || !rxPacer_.active() || rxPacer_.nextDue() <= now)
                events |= POLLIN;
            else
                next = std::min(next, rxPacer_.nextDue());
            if (!ptyQueue_.empty()) {
                const auto due = std::max(ptyQueue_.front().at, slowLine_ && txPacer_.active() ? txPacer_.nextDue()
                                                                                              : ptyQueue_.front().at);
                if (due <= now)
                    events |= POLLOUT;
                else
                    next = std::min(next, due);
            }
            ptySlot = static_cast<int>(count);
            fds[count++] = {masterFd_, events, 0};
        }
        if (!udpQueue_.empty())
            next = std::min(next, udpQueue_.front().at);
        // To the microsecond: at 115200 baud a byte takes 87 us, and waits
        // rounded up to whole milliseconds would slow the line down.
        const auto wait = std::chrono::ceil<std::chrono::microseconds>(std::max(next - now, Clock::duration(0)));
        const timespec timeout{static_cast<time_t>(wait.count() / 1000000), static_cast<long>(wait.count() % 1000000) * 1000};
        ppoll(fds, count, &timeout, nullptr);

        if (fds[0].revents & POLLIN) {
            uint64_t v;
            [[maybe_unused]] auto n = read(wakeFd_, &v, sizeof v);
        }
        now = Clock::now();
        if (udpSlot >= 0 && (fds[udpSlot].revents & POLLIN))
            serviceUdp();
        if (ptySlot >= 0) {
            if (fds[ptySlot].revents & POLLIN)
                servicePtyInput(now);
            else if (fds[ptySlot].events & POLLIN)
                rxPacer_.idle(); // nothing came in: the next byte starts afresh
        }
        now = Clock::now();
        if (udpFd_ >= 0)
            flushUdp(now);
        if (masterFd_ >= 0)
            flushPty(now);
    }
}

} // namespace parvault::devsim
