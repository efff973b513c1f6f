#pragma once

// A serial device server as an exchange channel: the device's line carried
// over TCP, raw or by Telnet with the COM port option (RFC 2217).

#include "channel.h"
#include "exchangeevents.h"

#include <QString>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace parvault {

inline constexpr int kServerConnectTimeoutMs = 3000; // for each address of the server's name
inline constexpr int kServerSendWaitMs = 2000;       // for room in the stream while a frame goes out

// Why the last connection to a device server failed.
enum class ServerFailure { None, NoServer, NameNotFound, Refused, Unreachable, TimedOut, Other };

struct ServerConnectError {
    ServerFailure failure = ServerFailure::None;
    int error = 0; // the system's code, 0 when none
    std::string host;
    uint16_t port = 0;
};

// A short Russian reason, shown as the serial port's open-failure reasons
// are; empty for None.
QString serverFailureText(const ServerConnectError& error);

// The connection is made when a command starts and closed when it ends,
// as the serial port is opened and closed. The exchange runs as on a serial
// line; bytes still arriving for a request that timed out are taken and
// thrown away before the next row's request, and a connection the server
// closed is made again before the next request goes out.
class TcpLink final : public ExchangeChannel {
public:
    TcpLink();
    ~TcpLink() override;
    TcpLink(const TcpLink&) = delete;
    TcpLink& operator=(const TcpLink&) = delete;

    // Where a dropped connection and its remaking are told; may be null.
    void setEvents(ExchangeEvents* events) { events_ = events; }

    RouteKind kind() const override { return RouteKind::DeviceServer; }
    bool carriesSignOn() const override { return true; }
    bool showsConnecting() const override { return true; }
    Delivery delivery() const override { return Delivery::Polled; }
    LinkStart connect(const LinkRequest& request) override;
    // With the connection up to the same server, only the line settings go
    // out again (RFC 2217); otherwise the connection is made afresh.
    bool reopen(const ConnectionSettings& settings, ExchangeDisplay& display) override;
    void send(ExchangeShared& shared) override;
    int takeArrived(ExchangeShared& shared) override;
    int discardWaiting(ExchangeShared& shared) override { return takeArrived(shared); }
    void release() override;

    bool connected() const;
    const ServerConnectError& lastError() const { return lastError_; }

private:
    struct Private; // the socket and the Telnet state, kept out of this header
    bool open(const DeviceServer& server, uint32_t baud);
    void close();
    // False when the connection was lost on the way (it is then closed).
    bool writeAll(const uint8_t* bytes, size_t size);
    bool writeAll(const std::vector<uint8_t>& bytes);
    void note(ExchangeEvent kind, int64_t a = 0) {
        if (events_)
            events_->event(kind, a);
    }

    std::unique_ptr<Private> d_;
    DeviceServer server_; // what the link is (or was last) connected to
    uint32_t baud_ = 0;   // the line speed last asked for; 0 for none
    ServerConnectError lastError_;
    ExchangeEvents* events_ = nullptr;
};

} // namespace parvault
