#include "server.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

namespace parvault::devsim {

using Clock = std::chrono::steady_clock;

// The Linux side: the pseudo-terminal and a loop that polls it beside the socket.

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

bool Server::start(std::string* error) {
    const auto fail = [&](const std::string& what) {
        if (error)
            *error = what + ": " + std::strerror(errno);
        closeAll();
        return false;
    };
    wake_.emplace();
    if (!wake_->valid())
        return fail("wake-up pipe");

    if (options_.udpHost && !openUdp(error)) {
        closeAll();
        return false;
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
        wake_->raise();
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
    closeSocket(udpFd_);
    udpFd_ = kNoSocket;
    wake_.reset();
    for (int* fd : {&masterFd_, &slaveFd_}) {
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
    requestBaud_ = baud;
    for (auto& r : stream_->feed(std::span<const uint8_t>(buf, static_cast<size_t>(n)), baud))
        schedule(r, false, {});
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
        fds[count++] = {wake_->pollHandle(), POLLIN, 0};
        const int udpSlot = udpFd_ != kNoSocket ? static_cast<int>(count) : -1;
        if (udpFd_ != kNoSocket)
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

        if (fds[0].revents & POLLIN)
            wake_->clear();
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
        if (udpFd_ != kNoSocket)
            flushUdp(now);
        if (masterFd_ >= 0)
            flushPty(now);
    }
}

} // namespace parvault::devsim
