#include "ipthread.h"

#include "connectionsettings.h"
#include "sockets.h"

#include <algorithm>
#include <cstring>

namespace parvault {

namespace {

bool isPending(int32_t state) {
    return state == STATE_SENT_1 || state == STATE_SENT_2 || state == STATE_SENT_3;
}

bool isLoopback(uint32_t address) { return (address >> 24) == 127; }

sockaddr_in ipv4Address(uint32_t hostOrderAddress, uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(hostOrderAddress);
    return address;
}

} // namespace

UdpTarget makeUdpTarget(const ConnectionSettings& settings, uint32_t localIp) {
    UdpTarget target;
    target.deviceIp = settings.deviceIp;
    target.udpPort = settings.udpPort;
    target.waitSeconds = settings.waitSeconds;
    target.localIp = localIp;
    return target;
}

uint32_t localIpFromHostName() {
    if (!startSockets())
        return 0;
    char name[64] = {};
    if (::gethostname(name, sizeof name - 1) != 0)
        return 0;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(name, nullptr, &hints, &found) == 0 && found) {
        uint32_t address = ntohl(reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr);
        ::freeaddrinfo(found);
        return address;
    }
    in_addr dotted{};
    if (::inet_pton(AF_INET, name, &dotted) == 1)
        return ntohl(dotted.s_addr);
    // A name that is no address would otherwise bind every socket to an
    // impossible address and fail each frame; any address always works.
    return 0;
}

uint32_t udpBindAddress(uint32_t localIp, uint32_t deviceIp) {
    if (isLoopback(localIp) && !isLoopback(deviceIp))
        return INADDR_ANY;
    return localIp;
}

// ---------------------------------------------------------------- IPThread

IPThread::IPThread(ExchangeShared& shared, MessagePoster& poster, const UdpTarget& target,
                   const UdpPauses& pauses, ExchangeEvents* events, std::intptr_t socket)
    : shared_(shared), poster_(poster), target_(target), pauses_(pauses), events_(events), socket_(socket) {
    const int length = shared.txLength() > kTxFrameMax ? kTxFrameMax : shared.txLength();
    frame_.assign(shared.txFrame.begin() + 2, shared.txFrame.begin() + 2 + length);
    stop_ = std::make_unique<SocketWake>();
}

IPThread::~IPThread() { stop(); }

bool IPThread::start() {
    // Without a stop signal the thread could not be ended in a receive.
    if (!stop_->valid() || thread_.joinable())
        return false;
    try {
        thread_ = std::thread([this] { run(); });
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void IPThread::stop() {
    if (!thread_.joinable())
        return;
    stop_->raise();
    thread_.join();
}

bool IPThread::stopRequested() const { return stop_->raised(); }

bool IPThread::pause(int ms) {
    pollfd p{stop_->pollHandle(), POLLIN, 0};
    return pollSockets(&p, 1, ms) <= 0;
}

std::intptr_t IPThread::makeSocket() {
    socketError_ = 0;
    SocketHandle fd = openUdpSocket();
    if (fd == kNoSocket) {
        socketError_ = lastSocketError();
        shared_.lastSocketError = socketError_;
        return kNoUdpSocket;
    }
    sockaddr_in local = ipv4Address(udpBindAddress(target_.localIp, target_.deviceIp), 0);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        socketError_ = lastSocketError();
        shared_.lastSocketError = socketError_;
        closeSocket(fd);
        return kNoUdpSocket;
    }
    return static_cast<std::intptr_t>(fd);
}

bool IPThread::fromDevice(const void* address) const {
    // The address alone: converters between UDP and a serial bus commonly
    // answer from another port than the one they listen on.
    const auto* from = static_cast<const sockaddr_in*>(address);
    return from->sin_family == AF_INET && from->sin_addr.s_addr == htonl(target_.deviceIp);
}

void IPThread::discardLate(std::intptr_t socketFd) {
    // Bounded: a flood must not hold the request back.
    constexpr int kMaxDiscarded = 64;
    for (int k = 0; k < kMaxDiscarded; ++k) {
        sockaddr_in from{};
        const int got = receiveDatagram(static_cast<SocketHandle>(socketFd), datagram_.data(),
                                        static_cast<int>(datagram_.size()), from);
        if (got < 0)
            return;
        if (!events_)
            continue;
        if (fromDevice(&from))
            events_->lateDatagram(std::span<const uint8_t>(datagram_.data(), std::min<size_t>(static_cast<size_t>(got), kRxReadMax)),
                                  ntohl(from.sin_addr.s_addr), ntohs(from.sin_port));
        else
            events_->event(ExchangeEvent::ForeignDatagram, ntohl(from.sin_addr.s_addr), ntohs(from.sin_port));
    }
}

IPThread::Receive IPThread::receive(std::intptr_t socketFd, int& length, int& error) {
    for (;;) {
        pollfd fds[2] = {{static_cast<SocketHandle>(socketFd), POLLIN, 0}, {stop_->pollHandle(), POLLIN, 0}};
        // A silent device must not keep the exchange waiting for ever: the
        // wait is bounded by the same tick count as failed receives.
        const int ready = pollSockets(fds, 2, pauses_.receivePollMs);
        if (ready < 0) {
            if (const int e = lastSocketError(); !socketWouldBlock(e))
                error = e;
        } else if (ready > 0 && (fds[1].revents & POLLIN)) {
            return Receive::Stopped;
        } else if (ready > 0) {
            sockaddr_in from{};
            // The buffer holds one byte more than an answer may have, so an
            // oversized datagram is recognised instead of being taken cut short.
            const int got = receiveDatagram(static_cast<SocketHandle>(socketFd), datagram_.data(),
                                            static_cast<int>(datagram_.size()), from);
            if (got >= 0 && fromDevice(&from)) {
                if (got <= kRxReadMax) {
                    length = got;
                    return Receive::Answer;
                }
                error = kSocketTooLarge;
            } else if (got >= 0) {
                if (events_)
                    events_->event(ExchangeEvent::ForeignDatagram, ntohl(from.sin_addr.s_addr), ntohs(from.sin_port));
            } else if (const int e = lastSocketError(); !socketWouldBlock(e)) {
                error = e;
            }
            // Anything else (somebody else's datagram, nothing there after
            // all) is no answer, and no reason to wait longer either.
        }
        // Checked after every look, whatever came: a stream of foreign
        // datagrams must not hold off the bound.
        if (shared_.waitTicks.load() >= int64_t{target_.waitSeconds} * kUdpTicksPerWaitSecond) {
            if (error == 0)
                error = kSocketTimedOut; // keep a real failure's code if there was one
            return Receive::Failed;
        }
    }
}

bool IPThread::serve(Side side, int32_t served) {
    const int failMessage = side == Side::Read ? MSG_READ_TIMEOUT : MSG_WRITE_TIMEOUT;
    std::atomic<int32_t>& state = side == Side::Read ? shared_.readState : shared_.writeState;

    const bool ownSocket = socket_ == kNoUdpSocket;
    const std::intptr_t fd = ownSocket ? makeSocket() : socket_;
    if (fd == kNoUdpSocket) {
        poster_.post(failMessage);
        return false;
    }
    const auto done = [&] {
        if (ownSocket)
            closeSocket(static_cast<SocketHandle>(fd));
    };
    // Before a row's first request: anything waiting answers an earlier
    // row's. Before a resend it may be this row's answer, so it stays.
    if (!ownSocket && (served & 0xFF) == STATE_SENT_1)
        discardLate(fd);
    sockaddr_in device = ipv4Address(target_.deviceIp, target_.port());
    // No MSG_DONTROUTE: on this platform it would keep frames from routed devices.
    if (sendDatagram(static_cast<SocketHandle>(fd), frame_.data(), static_cast<int>(frame_.size()), device) < 0) {
        // The code is stored before the message goes, so whoever handles
        // the message finds it.
        shared_.lastSocketError = lastSocketError();
        done();
        poster_.post(failMessage);
        return false;
    }
    if (!pause(side == Side::Read ? pauses_.readPauseMs : pauses_.writePauseMs)) {
        done();
        return false;
    }
    shared_.rxBuffer[0] = 0;
    shared_.rxBuffer[1] = 0;
    shared_.waitTicks = 0;

    int received = 0;
    int error = 0;
    Receive outcome = receive(fd, received, error);
    done();
    if (outcome == Receive::Stopped)
        return false;
    if (outcome == Receive::Failed) {
        shared_.lastSocketError = error;
        poster_.post(failMessage);
        return true;
    }
    std::memcpy(shared_.rxBuffer.data(), datagram_.data(), static_cast<size_t>(received));
    shared_.rxBuffer[static_cast<size_t>(received)] = 0;
    shared_.rxLength = received;
    // Hand over only if the window still waits for this request: an answer
    // that comes after it moved on (time-out handled, exchange stopped) must
    // not overwrite its state.
    int32_t expected = served;
    state.compare_exchange_strong(expected, STATE_UDP_ANSWER);
    return true;
}

void IPThread::run() {
    // Read side: one transaction per pending readState until it is idle.
    for (;;) {
        if (stopRequested())
            return;
        int32_t state = shared_.readState.load();
        if (state == STATE_IDLE)
            break;
        if (!isPending(state)) {
            if (!pause(pauses_.statePollMs))
                return;
            continue;
        }
        if (!serve(Side::Read, state)) {
            if (stopRequested())
                return;
            break; // no socket or the send failed: the read side is abandoned
        }
    }
    // Write side: the pending state is marked taken (0x100) before the request goes out.
    for (;;) {
        if (stopRequested())
            return;
        int32_t state = shared_.writeState.load();
        if (state == STATE_IDLE)
            break;
        if (!isPending(state)) {
            if (!pause(pauses_.statePollMs))
                return;
            continue;
        }
        if (!shared_.writeState.compare_exchange_strong(state, state + STATE_BUSY_FLAG))
            continue;
        if (!serve(Side::Write, state + STATE_BUSY_FLAG))
            break;
    }
    finished_ = true;
}

// ---------------------------------------------------------------- UdpChannel

UdpChannel::UdpChannel(ExchangeShared& shared, MessagePoster& poster, const UdpPauses& pauses)
    : shared_(shared), poster_(poster), pauses_(pauses) {}

UdpChannel::~UdpChannel() { endUdpExchange(); }

bool UdpChannel::StartUdpExchange(const UdpTarget& target) {
    if (thread_) {
        // Both states idle first, so that the old thread, between two steps,
        // leaves its loop rather than sending the frame once more.
        const int32_t readState = shared_.readState.load();
        const int32_t writeState = shared_.writeState.load();
        shared_.readState = STATE_IDLE;
        shared_.writeState = STATE_IDLE;
        thread_.reset(); // stops and joins
        shared_.readState = readState;
        shared_.writeState = writeState;
    }
    const uint32_t bind = udpBindAddress(target.localIp, target.deviceIp);
    if (socket_ != kNoUdpSocket && socketBind_ != bind) {
        closeSocket(static_cast<SocketHandle>(socket_));
        socket_ = kNoUdpSocket;
    }
    if (socket_ == kNoUdpSocket) {
        // Failing here, the thread makes its own socket, fails the same way and reports it.
        const SocketHandle fd = openUdpSocket();
        const sockaddr_in local = ipv4Address(bind, 0);
        if (fd != kNoSocket && ::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0) {
            socket_ = static_cast<std::intptr_t>(fd);
            socketBind_ = bind;
        } else {
            closeSocket(fd);
        }
    }
    for (int attempt = 0; attempt < 2; ++attempt) {
        auto next = std::make_unique<IPThread>(shared_, poster_, target, pauses_, events_, socket_);
        if (next->start()) {
            thread_ = std::move(next);
            return true;
        }
    }
    return false;
}

void UdpChannel::stopUdpExchange() { thread_.reset(); }

void UdpChannel::endUdpExchange() {
    thread_.reset();
    if (socket_ != kNoUdpSocket)
        closeSocket(static_cast<SocketHandle>(socket_));
    socket_ = kNoUdpSocket;
}

bool UdpChannel::threadRunning() const { return thread_ && !thread_->finished(); }

bool StartUdpExchange(UdpChannel& channel, const UdpTarget& target) { return channel.StartUdpExchange(target); }

} // namespace parvault
