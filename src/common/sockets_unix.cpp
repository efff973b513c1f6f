#include "sockets.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/tcp.h>

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

namespace {

ConnectFailure connectFailureOf(int error) {
    switch (error) {
    case ECONNREFUSED:
    case ECONNRESET:
        return ConnectFailure::Refused;
    case ENETUNREACH:
    case EHOSTUNREACH:
    case ENETDOWN:
    case EHOSTDOWN:
        return ConnectFailure::Unreachable;
    case ETIMEDOUT:
        return ConnectFailure::TimedOut;
    default:
        return ConnectFailure::Other;
    }
}

// One address: the socket once connected, or kNoSocket with `error` set.
SocketHandle connectOne(const addrinfo& a, int timeoutMs, int& error) {
    const int s = ::socket(a.ai_family, a.ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a.ai_protocol);
    if (s < 0) {
        error = errno;
        return kNoSocket;
    }
    if (::connect(s, a.ai_addr, a.ai_addrlen) != 0) {
        if (errno != EINPROGRESS) {
            error = errno;
            ::close(s);
            return kNoSocket;
        }
        pollfd p{s, POLLOUT, 0};
        int ready = 0;
        do
            ready = ::poll(&p, 1, timeoutMs);
        while (ready < 0 && errno == EINTR);
        if (ready <= 0) {
            error = ready == 0 ? ETIMEDOUT : errno;
            ::close(s);
            return kNoSocket;
        }
        int soError = 0;
        socklen_t length = sizeof soError;
        ::getsockopt(s, SOL_SOCKET, SO_ERROR, &soError, &length);
        if (soError != 0) {
            error = soError;
            ::close(s);
            return kNoSocket;
        }
    }
    const int one = 1;
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return s;
}

} // namespace

SocketHandle connectStream(const std::string& host, uint16_t port, int timeoutMs, ConnectFailure& failure,
                           int& error) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    const int lookup = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
    if (lookup != 0 || !found) {
        // A resolver that cannot be reached finds no name either; to the
        // user both read "name not found".
        failure = ConnectFailure::NameNotFound;
        error = lookup == EAI_SYSTEM ? errno : 0;
        return kNoSocket;
    }
    SocketHandle s = kNoSocket;
    for (const addrinfo* a = found; a && s == kNoSocket; a = a->ai_next)
        s = connectOne(*a, timeoutMs, error);
    ::freeaddrinfo(found);
    failure = s == kNoSocket ? connectFailureOf(error) : ConnectFailure::None;
    if (s != kNoSocket)
        error = 0;
    return s;
}

int receiveStream(SocketHandle socket, uint8_t* buffer, int size) {
    const ssize_t got = ::recv(socket, buffer, static_cast<size_t>(size), MSG_DONTWAIT);
    return got < 0 ? -1 : static_cast<int>(got);
}

int sendStream(SocketHandle socket, const uint8_t* bytes, int size) {
    const ssize_t sent = ::send(socket, bytes, static_cast<size_t>(size), MSG_DONTWAIT | MSG_NOSIGNAL);
    return sent < 0 ? -1 : static_cast<int>(sent);
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
