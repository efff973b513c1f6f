#include "ptypeer.h"

#include "eventually.h"

#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace parvault::testing {

PtyPeer::PtyPeer() {
    if (::openpty(&master_, &slave_, nullptr, nullptr, nullptr) != 0)
        std::abort();
    slavePath_ = ::ttyname(slave_);
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
}

PtyPeer::PtyPeer(const std::filesystem::path& link, Reply reply) : PtyPeer() {
    linkAs(link);
    serve(std::move(reply));
}

PtyPeer::~PtyPeer() {
    running_ = false;
    if (thread_.joinable())
        thread_.join();
    closeMaster();
    ::close(slave_);
}

void PtyPeer::linkAs(const std::filesystem::path& link) const {
    std::filesystem::remove(link);
    std::filesystem::create_symlink(slavePath_, link);
}

void PtyPeer::closeMaster() {
    if (master_ >= 0)
        ::close(master_);
    master_ = -1;
}

void PtyPeer::send(const Bytes& bytes) const {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
        if (n > 0)
            done += static_cast<size_t>(n);
        else
            ::poll(nullptr, 0, 1);
    }
}

Bytes PtyPeer::drain() const {
    Bytes out;
    uint8_t chunk[4096];
    for (;;) {
        const ssize_t n = ::read(master_, chunk, sizeof chunk);
        if (n <= 0)
            break;
        out.insert(out.end(), chunk, chunk + n);
    }
    return out;
}

Bytes PtyPeer::receive(size_t count) const {
    Bytes out;
    eventually([&] {
        const Bytes more = drain();
        out.insert(out.end(), more.begin(), more.end());
        return out.size() >= count;
    });
    return out;
}

void PtyPeer::serve(Reply reply) {
    // No echo or line editing before the program opens the line.
    termios t{};
    ::tcgetattr(slave_, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(slave_, TCSANOW, &t);
    reply_ = std::move(reply);
    running_ = true;
    thread_ = std::thread([this] { run(); });
}

void PtyPeer::flood(Bytes pattern) {
    std::lock_guard lock(mutex_);
    flood_ = std::move(pattern);
}

void PtyPeer::run() {
    std::string in;
    int tail = -1; // CRC bytes still to come, -1 inside a request
    std::string out;
    uint8_t buf[4096];
    const auto answer = [&](const std::string& request) {
        out += reply_(request, ++requests_);
        in.clear();
        tail = -1;
    };
    while (running_) {
        Bytes junk;
        {
            std::lock_guard lock(mutex_);
            junk = flood_;
        }
        pollfd p{master_, static_cast<short>(POLLIN | (out.empty() && junk.empty() ? 0 : POLLOUT)),
                 0};
        ::poll(&p, 1, 1);
        if (p.revents & POLLIN) {
            const ssize_t n = ::read(master_, buf, sizeof buf);
            for (ssize_t i = 0; i < n; ++i) {
                const char b = static_cast<char>(buf[i]);
                // DLE SOH starts a request; two CRC bytes after DLE ETX end it.
                if (tail < 0 && !in.empty() && in.back() == DLE && b == SOH) {
                    in.assign({DLE, SOH});
                    continue;
                }
                in.push_back(b);
                if (tail > 0) {
                    if (--tail == 0)
                        answer(in);
                } else if (in.size() >= 2 && in[in.size() - 2] == DLE && b == ETX) {
                    tail = 2;
                } else if (in[0] != DLE && (b & 0x7F) == '\n') {
                    // Optical lines carry parity bits.
                    std::string line = in;
                    for (char& c : line)
                        c &= 0x7F;
                    answer(line);
                }
            }
        }
        if (!out.empty()) {
            // Answers whole and in order; a full line is tried again later.
            const ssize_t w = ::write(master_, out.data(), out.size());
            if (w > 0)
                out.erase(0, static_cast<size_t>(w));
        } else if (!junk.empty()) {
            const ssize_t w = ::write(master_, junk.data(), junk.size());
            if (w > 0)
                flooded_ += w;
        }
    }
}

} // namespace parvault::testing
