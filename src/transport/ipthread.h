#pragma once

#include "exchangeevents.h"
#include "exchangeshared.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <cstddef>
#include <memory>
#include <thread>
#include <vector>

namespace parvault {

struct ConnectionSettings;
class SocketWake;

// A socket handle as this header keeps it (the system's type stays in the
// source file): a descriptor on POSIX, a SOCKET on Windows, both fit.
inline constexpr std::intptr_t kNoUdpSocket = -1;

inline constexpr int kUdpReadPauseMs = 10;  // after a read request is sent
inline constexpr int kUdpWritePauseMs = 50; // after a write request is sent
inline constexpr int kUdpStatePollMs = 1;   // between looks at a state that is not pending
inline constexpr int kUdpReceivePollMs = 10; // how often a waiting receive looks at the tick bound
inline constexpr int kUdpTicksPerWaitSecond = 20; // failed receives are retried this many ticks per waitSeconds

// The UDP thread's waits, all in milliseconds of real time. A channel (and
// through StackSetup a whole exchange stack) may be given its own; the
// defaults are the program's. Every one of them also ends at once on stop().
struct UdpPauses {
    // After a read request has gone out, before its answer is looked for.
    // A datagram that comes meanwhile waits in the socket, so a pause only
    // delays the hand-over.
    int readPauseMs = kUdpReadPauseMs;
    // The same after a write request.
    int writePauseMs = kUdpWritePauseMs;
    // Between two looks at a state that has no request pending.
    int statePollMs = kUdpStatePollMs;
    // The longest single wait of a receive: how late a waiting receive
    // notices that the tick bound has run out. 0 would make it spin.
    int receivePollMs = kUdpReceivePollMs;
};

// Where the UDP exchange sends and binds. Addresses in host order, first octet
// most significant.
struct UdpTarget {
    uint32_t deviceIp = 0;
    uint32_t udpPort = 0;   // only the low 16 bits are used
    int32_t waitSeconds = 0;
    uint32_t localIp = 0;   // 0: any address

    uint16_t port() const { return static_cast<uint16_t>(udpPort & 0xFFFFu); }
};

UdpTarget makeUdpTarget(const ConnectionSettings& settings, uint32_t localIp);

// The first IPv4 address of the host's own name, or the name read as a dotted
// address; 0 (any address) when neither works.
uint32_t localIpFromHostName();

// The address a transaction's socket is bound to. A host name that resolves to
// a loopback address (as Debian's 127.0.1.1 does) would make every send to a
// real device fail, so a loopback localIp binds to any address unless the
// device itself is on loopback.
uint32_t udpBindAddress(uint32_t localIp, uint32_t deviceIp);

// The UDP channel's worker: serves the pending read request, then the pending
// write request, one datagram transaction each, handing answers over through
// rxBuffer/rxLength and state 9. Failures are posted as MSG_READ_TIMEOUT or
// MSG_WRITE_TIMEOUT. Only datagrams from the device's address are taken as
// answers, from any of its ports. Every wait of the thread also wakes on its stop signal,
// so stop() ends it promptly, even in the middle of a receive.
class IPThread {
public:
    // Takes its copy of the frame in txFrame now, so that the window may lay
    // out the next frame while this thread still runs.
    // With a `socket` (bound, owned by the caller) every transaction uses it,
    // so an answer that comes after its request was sent again still finds
    // the socket it was sent to; without one each transaction makes its own.
    IPThread(ExchangeShared& shared, MessagePoster& poster, const UdpTarget& target,
             const UdpPauses& pauses = {}, ExchangeEvents* events = nullptr, std::intptr_t socket = kNoUdpSocket);
    ~IPThread(); // stops the thread
    IPThread(const IPThread&) = delete;
    IPThread& operator=(const IPThread&) = delete;

    bool start();
    // Wakes the thread wherever it waits and joins it.
    void stop();
    // The thread has left its loop by itself (write side idle, or a write-side failure).
    bool finished() const { return finished_.load(); }

private:
    enum class Receive { Answer, Failed, Stopped };
    enum class Side { Read, Write };

    void run();
    // One transaction for the pending state `served`; false when the thread must end.
    bool serve(Side side, int32_t served);
    std::intptr_t makeSocket();
    // Throws away the device's datagrams that wait in the kept socket from
    // earlier rows' requests, telling the events of each.
    void discardLate(std::intptr_t socketFd);
    Receive receive(std::intptr_t socketFd, int& length, int& error);
    bool fromDevice(const void* address) const;
    bool pause(int ms); // false when stopped
    bool stopRequested() const;

    ExchangeShared& shared_;
    MessagePoster& poster_;
    UdpTarget target_;
    UdpPauses pauses_;
    ExchangeEvents* events_ = nullptr; // told of datagrams from other addresses
    std::unique_ptr<SocketWake> stop_; // wakes the thread wherever it waits
    int socketError_ = 0;
    std::intptr_t socket_ = kNoUdpSocket; // the caller's socket, or none: one per transaction
    std::atomic<bool> finished_{false};
    std::vector<uint8_t> frame_; // txFrame's bytes as they were when the thread was made
    std::array<uint8_t, kRxReadMax + 1> datagram_{};
    std::thread thread_;
};

// Owns the current IPThread on behalf of the window: one thread per frame.
class UdpChannel {
public:
    UdpChannel(ExchangeShared& shared, MessagePoster& poster, const UdpPauses& pauses = {});
    ~UdpChannel(); // stops a running thread (window shutdown)

    // Stops the thread of the previous frame (both states 15 while it leaves,
    // then put back) and starts a new one for the frame in txFrame. True when
    // a thread runs afterwards.
    bool StartUdpExchange(const UdpTarget& target);
    // Stops the thread if there is one; the socket stays for the exchange's
    // next frame.
    void stopUdpExchange();
    // End of an exchange: stops the thread and closes the socket.
    void endUdpExchange();
    // A thread exists that has not ended by itself.
    bool threadRunning() const;
    // The waits every thread of this channel uses.
    const UdpPauses& pauses() const { return pauses_; }
    // Where the threads report datagrams from other addresses; null for nobody.
    void setEvents(ExchangeEvents* events) { events_ = events; }

private:
    ExchangeShared& shared_;
    MessagePoster& poster_;
    UdpPauses pauses_;
    ExchangeEvents* events_ = nullptr;
    std::unique_ptr<IPThread> thread_;
    // One socket for all frames of an exchange: a device that answers after
    // the wait answers to the port its request came from.
    std::intptr_t socket_ = kNoUdpSocket;
    uint32_t socketBind_ = 0; // the address socket_ is bound to
};

bool StartUdpExchange(UdpChannel& channel, const UdpTarget& target);

} // namespace parvault
