#pragma once

#include "channel.h"
#include "serialchannel.h"

namespace parvault {

inline constexpr uint8_t kLinesDtrRts = kLineDtr | kLineRts; // raised on every open

// The serial port as an exchange channel: the port is opened for each
// command (at 300 baud first when the optical port needs a fresh sign-on)
// and polled for bytes while a request is out.
class SerialLink final : public ExchangeChannel {
public:
    explicit SerialLink(SerialChannel& port) : port_(port) {}

    RouteKind kind() const override { return RouteKind::Serial; }
    bool carriesSignOn() const override { return true; }
    bool showsConnecting() const override { return true; }
    // A serial write keeps its resend and time-out running while its answer
    // is parsed; the port is polled again at the next step in the same state.
    Delivery delivery() const override { return Delivery::Polled; }
    LinkStart connect(const LinkRequest& request) override;
    bool reopen(const ConnectionSettings& settings, ExchangeDisplay& display) override;
    void send(ExchangeShared& shared) override;
    int takeArrived(ExchangeShared& shared) override;
    int discardWaiting(ExchangeShared& shared) override { return takeArrived(shared); }
    void release() override;

    SerialChannel& port() { return port_; }

private:
    SerialChannel& port_;
};

} // namespace parvault
