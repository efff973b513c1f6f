#include "sockets.h"

#include <QString>

#include <mutex>

namespace parvault {

bool startSockets() {
    static std::once_flag once;
    static bool started = false;
    std::call_once(once, [] {
        WSADATA data{};
        started = ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    });
    return started;
}

int lastSocketError() { return ::WSAGetLastError(); }

bool socketWouldBlock(int error) { return error == WSAEWOULDBLOCK || error == WSAEINTR || error == WSAEINPROGRESS; }

// Winsock reports an ICMP "port unreachable" as a reset on the next receive.
bool socketRefused(int error) { return error == WSAECONNRESET || error == WSAECONNREFUSED; }

std::string socketErrorText(int error) {
    wchar_t* text = nullptr;
    const DWORD n = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                         FORMAT_MESSAGE_IGNORE_INSERTS,
                                     nullptr, static_cast<DWORD>(error), 0, reinterpret_cast<wchar_t*>(&text), 0,
                                     nullptr);
    std::string result = n ? QString::fromWCharArray(text, static_cast<qsizetype>(n)).trimmed().toStdString()
                           : "socket error " + std::to_string(error);
    if (text)
        ::LocalFree(text);
    return result;
}

SocketHandle openUdpSocket() {
    if (!startSockets())
        return kNoSocket;
    SOCKET s = ::WSASocketW(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET)
        return kNoSocket;
    u_long nonBlocking = 1;
    ::ioctlsocket(s, FIONBIO, &nonBlocking);
    // Without this an ICMP "port unreachable" for an earlier datagram fails
    // the next receive, which on Linux simply waits for the next datagram.
#ifndef SIO_UDP_CONNRESET
#define SIO_UDP_CONNRESET _WSAIOW(IOC_VENDOR, 12)
#endif
    BOOL reportReset = FALSE;
    DWORD returned = 0;
    ::WSAIoctl(s, SIO_UDP_CONNRESET, &reportReset, sizeof reportReset, nullptr, 0, &returned, nullptr, nullptr);
    return s;
}

int receiveDatagram(SocketHandle socket, uint8_t* buffer, int size, sockaddr_in& from) {
    int fromLength = sizeof from;
    const int got =
        ::recvfrom(socket, reinterpret_cast<char*>(buffer), size, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
    // Winsock fills the buffer and reports an oversized datagram as an error.
    if (got < 0 && ::WSAGetLastError() == WSAEMSGSIZE)
        return size;
    return got < 0 ? -1 : got;
}

int sendDatagram(SocketHandle socket, const uint8_t* bytes, int size, const sockaddr_in& to) {
    return ::sendto(socket, reinterpret_cast<const char*>(bytes), size, 0, reinterpret_cast<const sockaddr*>(&to),
                    sizeof to);
}

void closeSocket(SocketHandle socket) {
    if (socket != kNoSocket)
        ::closesocket(socket);
}

namespace {

ConnectFailure connectFailureOf(int error) {
    switch (error) {
    case WSAECONNREFUSED:
    case WSAECONNRESET:
        return ConnectFailure::Refused;
    case WSAENETUNREACH:
    case WSAEHOSTUNREACH:
    case WSAENETDOWN:
    case WSAEHOSTDOWN:
        return ConnectFailure::Unreachable;
    case WSAETIMEDOUT:
        return ConnectFailure::TimedOut;
    default:
        return ConnectFailure::Other;
    }
}

SocketHandle connectOne(const addrinfo& a, int timeoutMs, int& error) {
    SOCKET s = ::WSASocketW(a.ai_family, a.ai_socktype, a.ai_protocol, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET) {
        error = ::WSAGetLastError();
        return kNoSocket;
    }
    u_long nonBlocking = 1;
    ::ioctlsocket(s, FIONBIO, &nonBlocking);
    if (::connect(s, a.ai_addr, static_cast<int>(a.ai_addrlen)) != 0) {
        if (::WSAGetLastError() != WSAEWOULDBLOCK) {
            error = ::WSAGetLastError();
            ::closesocket(s);
            return kNoSocket;
        }
        // A refused connection shows as POLLERR/POLLHUP, with its reason in SO_ERROR.
        WSAPOLLFD p{s, POLLOUT, 0};
        const int ready = ::WSAPoll(&p, 1, timeoutMs);
        if (ready <= 0) {
            error = ready == 0 ? WSAETIMEDOUT : ::WSAGetLastError();
            ::closesocket(s);
            return kNoSocket;
        }
        int soError = 0;
        int length = sizeof soError;
        ::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&soError), &length);
        if (soError != 0) {
            error = soError;
            ::closesocket(s);
            return kNoSocket;
        }
    }
    BOOL one = TRUE;
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
    return s;
}

} // namespace

SocketHandle connectStream(const std::string& host, uint16_t port, int timeoutMs, ConnectFailure& failure,
                           int& error) {
    if (!startSockets()) {
        failure = ConnectFailure::Other;
        error = WSANOTINITIALISED;
        return kNoSocket;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    const int lookup = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
    if (lookup != 0 || !found) {
        // A resolver that cannot be reached finds no name either; to the
        // user both read "name not found".
        failure = ConnectFailure::NameNotFound;
        error = lookup;
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
    const int got = ::recv(socket, reinterpret_cast<char*>(buffer), size, 0);
    return got < 0 ? -1 : got;
}

int sendStream(SocketHandle socket, const uint8_t* bytes, int size) {
    const int sent = ::send(socket, reinterpret_cast<const char*>(bytes), size, 0);
    return sent < 0 ? -1 : sent;
}

int pollSockets(pollfd* fds, unsigned count, int timeoutMs) {
    // WSAPoll takes no empty set; a wait alone is a sleep.
    if (count == 0) {
        ::Sleep(static_cast<DWORD>(timeoutMs < 0 ? INFINITE : timeoutMs));
        return 0;
    }
    return ::WSAPoll(fds, count, timeoutMs);
}

// A datagram socket on the loopback address that sends to itself: readable
// once raised, and pollable beside the other sockets.
SocketWake::SocketWake() {
    read_ = openUdpSocket();
    if (read_ == kNoSocket)
        return;
    sockaddr_in self{};
    self.sin_family = AF_INET;
    self.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof self;
    if (::bind(read_, reinterpret_cast<sockaddr*>(&self), sizeof self) != 0 ||
        ::getsockname(read_, reinterpret_cast<sockaddr*>(&self), &length) != 0 ||
        ::connect(read_, reinterpret_cast<sockaddr*>(&self), sizeof self) != 0) {
        closeSocket(read_);
        read_ = kNoSocket;
        return;
    }
    write_ = read_;
}

SocketWake::~SocketWake() { closeSocket(read_); }

bool SocketWake::valid() const { return read_ != kNoSocket; }

void SocketWake::raise() {
    const char one = 1;
    ::send(write_, &one, 1, 0);
}

void SocketWake::clear() {
    char drain[64];
    while (::recv(read_, drain, sizeof drain, 0) > 0) {
    }
}

bool SocketWake::raised() const {
    pollfd p{read_, POLLIN, 0};
    return ::WSAPoll(&p, 1, 0) > 0;
}

} // namespace parvault
