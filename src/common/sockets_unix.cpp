#include "sockets.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>

namespace parvault {

bool startSockets() { return true; }

int lastSocketError() { return errno; }

bool socketWouldBlock(int error) { return error == EAGAIN || error == EWOULDBLOCK || error == EINTR; }

bool socketRefused(int error) { return error == ECONNREFUSED; }

std::string socketErrorText(int error) { return std::strerror(error); }

SocketHandle openUdpSocket() { return ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0); }

int receiveDatagram(SocketHandle socket, uint8_t* buffer, int size, sockaddr_in& from) {
    socklen_t fromLength = sizeof from;
    const ssize_t got = ::recvfrom(socket, buffer, static_cast<size_t>(size), MSG_DONTWAIT,
                                   reinterpret_cast<sockaddr*>(&from), &fromLength);
    return got < 0 ? -1 : static_cast<int>(got);
}

int sendDatagram(SocketHandle socket, const uint8_t* bytes, int size, const sockaddr_in& to) {
    return static_cast<int>(
        ::sendto(socket, bytes, static_cast<size_t>(size), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to));
}

void closeSocket(SocketHandle socket) {
    if (socket != kNoSocket)
        ::close(socket);
}

int pollSockets(pollfd* fds, unsigned count, int timeoutMs) { return ::poll(fds, count, timeoutMs); }

SocketWake::SocketWake() {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) == 0) {
        read_ = ends[0];
        write_ = ends[1];
    }
}

SocketWake::~SocketWake() {
    closeSocket(read_);
    closeSocket(write_);
}

bool SocketWake::valid() const { return read_ != kNoSocket; }

void SocketWake::raise() {
    const char one = 1;
    ssize_t ignored = ::write(write_, &one, 1);
    (void)ignored; // a full pipe is raised already
}

void SocketWake::clear() {
    char drain[64];
    while (::read(read_, drain, sizeof drain) > 0) {
    }
}

bool SocketWake::raised() const {
    pollfd p{read_, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0;
}

} // namespace parvault
