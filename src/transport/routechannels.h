#pragma once

#include "seriallink.h"
#include "udplink.h"

namespace parvault {

// The two links of one connection's settings, and the choice between them
// made when a command starts.
class RouteChannels final : public ChannelPicker {
public:
    RouteChannels(SerialChannel& serial, UdpChannel& udp, const ConnectionSettings& settings)
        : serial_(serial), udp_(udp, settings), settings_(settings) {}

    ExchangeChannel& channelForCommand() override {
        if (settings_.useIp == 1)
            return udp_;
        return serial_;
    }

private:
    SerialLink serial_;
    UdpLink udp_;
    const ConnectionSettings& settings_;
};

} // namespace parvault
