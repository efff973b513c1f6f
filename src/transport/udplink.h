#pragma once

#include "channel.h"
#include "ipthread.h"

namespace parvault {

// UDP as an exchange channel: each frame goes out on a transaction thread
// of its own, which hands the answer over by setting the machine's state to
// STATE_UDP_ANSWER.
class UdpLink final : public ExchangeChannel {
public:
    UdpLink(UdpChannel& udp, const ConnectionSettings& settings) : udp_(udp), settings_(settings) {}

    RouteKind kind() const override { return RouteKind::Udp; }
    bool carriesSignOn() const override { return false; }
    bool showsConnecting() const override { return false; }
    Delivery delivery() const override { return Delivery::HandedOver; }
    // Nothing to open: the port status is cleared and the command starts.
    LinkStart connect(const LinkRequest& request) override;
    bool reopen(const ConnectionSettings&, ExchangeDisplay&) override { return true; }
    void send(ExchangeShared& shared) override;
    // The thread has already stored the datagram; an empty one is no answer.
    int takeArrived(ExchangeShared& shared) override { return shared.rxLength.load(); }
    // The thread that delivered the answer is done with.
    void endDelivery() override { udp_.stopUdpExchange(); }
    void release() override { udp_.endUdpExchange(); }

    UdpChannel& channel() { return udp_; }

private:
    UdpChannel& udp_;
    const ConnectionSettings& settings_; // read at each send: the target as it is then
    uint32_t localIp_ = 0;
};

} // namespace parvault
