#include "server.h"

namespace parvault::devsim {

// The Windows side: UDP only. There are no pseudo-terminals to offer a
// serial line on; a serial simulator there needs a pair of linked COM ports
// from elsewhere.

using Clock = std::chrono::steady_clock;

int BaudOf(unsigned) { return 0; }

bool Server::start(std::string* error) {
    if (options_.ptyLink) {
        if (error)
            *error = "--pty: there are no pseudo-terminals on Windows; use --udp";
        return false;
    }
    wake_.emplace();
    if (!wake_->valid()) {
        if (error)
            *error = "wake-up socket: " + socketErrorText(lastSocketError());
        closeAll();
        return false;
    }
    if (options_.udpHost && !openUdp(error)) {
        closeAll();
        return false;
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
    closeSocket(udpFd_);
    udpFd_ = kNoSocket;
    wake_.reset();
}

int Server::lineBaud() const { return 0; }

void Server::servicePtyInput(Clock::time_point) {}

void Server::flushPty(Clock::time_point) {}

void Server::run() {
    while (running_) {
        auto now = Clock::now();
        Clock::time_point next = now + std::chrono::milliseconds(200);
        pollfd fds[2];
        unsigned count = 0;
        fds[count++] = {wake_->pollHandle(), POLLIN, 0};
        const bool udp = udpFd_ != kNoSocket;
        if (udp)
            fds[count++] = {udpFd_, POLLIN, 0};
        if (!udpQueue_.empty())
            next = std::min(next, udpQueue_.front().at);
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(std::max(next - now, Clock::duration(0)));
        pollSockets(fds, count, static_cast<int>(wait.count()));
        if (fds[0].revents & POLLIN)
            wake_->clear();
        if (udp && (fds[1].revents & POLLIN))
            serviceUdp();
        if (udp)
            flushUdp(Clock::now());
    }
}

} // namespace parvault::devsim
