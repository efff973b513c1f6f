#pragma once

#include "socketstart.h"

// The few socket calls whose names, headers or error codes differ between
// POSIX and Winsock, so that the UDP code, the simulator and the command line
// are written once.

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <cerrno>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <cstdint>
#include <string>

namespace parvault {

#ifdef _WIN32
using SocketHandle = SOCKET;
inline const SocketHandle kNoSocket = INVALID_SOCKET;
#else
using SocketHandle = int;
inline constexpr SocketHandle kNoSocket = -1;
#endif

// The error code of the last failed socket call of this thread.
int lastSocketError();
// The call would have blocked, or was interrupted: try again later.
bool socketWouldBlock(int error);
// The peer's port is closed (an ICMP "port unreachable" came back).
bool socketRefused(int error);
// The system's text for a socket error code.
std::string socketErrorText(int error);

// Error codes the UDP code stores for a user to read.
#ifdef _WIN32
inline constexpr int kSocketTimedOut = WSAETIMEDOUT;
inline constexpr int kSocketTooLarge = WSAEMSGSIZE;
#else
inline constexpr int kSocketTimedOut = ETIMEDOUT;
inline constexpr int kSocketTooLarge = EMSGSIZE;
#endif

// A datagram socket that never blocks and is not inherited by child processes.
SocketHandle openUdpSocket();
// One waiting datagram into `buffer`, without waiting: its length, or -1 when
// none waits or on an error (lastSocketError()). A datagram larger than the
// buffer comes back as exactly `size` bytes: give one byte more than the
// largest datagram wanted to tell the two apart.
int receiveDatagram(SocketHandle socket, uint8_t* buffer, int size, sockaddr_in& from);
int sendDatagram(SocketHandle socket, const uint8_t* bytes, int size, const sockaddr_in& to);
void closeSocket(SocketHandle socket);

// Why a stream connection could not be made, in the terms a user can act on.
enum class ConnectFailure {
    None,
    NameNotFound, // the host name does not resolve
    Refused,      // nothing listens on the port (or the server turned us away)
    Unreachable,  // no route to the network or host
    TimedOut,     // no answer to the connection attempt in time
    Other,        // anything else; the system's text says what
};

// A connected, non-blocking TCP stream socket to host:port (a name or a
// dotted address; every address the name has is tried in turn), not
// inherited by child processes and sending small writes at once (no Nagle
// delay). kNoSocket, the failure and the system's error code when none
// could be made within timeoutMs for each address.
SocketHandle connectStream(const std::string& host, uint16_t port, int timeoutMs, ConnectFailure& failure,
                           int& error);
// What waits on a stream socket, without waiting: the byte count; 0 when the
// peer has closed the connection; -1 when nothing waits or on an error
// (lastSocketError() tells the two apart with socketWouldBlock()).
int receiveStream(SocketHandle socket, uint8_t* buffer, int size);
// Bytes handed to the stream (possibly fewer than size), -1 on an error. A
// peer that has gone raises no signal: the error comes back instead.
int sendStream(SocketHandle socket, const uint8_t* bytes, int size);

// poll() over sockets; the timeout in milliseconds, -1 for none.
int pollSockets(pollfd* fds, unsigned count, int timeoutMs);

// A wake-up that a poll over sockets can wait on together with its sockets:
// readable once raised. Made of a pipe on POSIX and of a loopback datagram
// socket on Windows, where only sockets can be polled.
class SocketWake {
public:
    SocketWake();
    ~SocketWake();
    SocketWake(const SocketWake&) = delete;
    SocketWake& operator=(const SocketWake&) = delete;

    bool valid() const;
    void raise();
    void clear();
    // The handle to put into a pollfd (events POLLIN).
    SocketHandle pollHandle() const { return read_; }
    bool raised() const;

private:
    SocketHandle read_ = kNoSocket;
    SocketHandle write_ = kNoSocket;
};

} // namespace parvault
