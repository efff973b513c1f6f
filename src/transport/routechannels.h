#pragma once

#include "seriallink.h"
#include "tcplink.h"
#include "udplink.h"

namespace parvault {

// The links of one connection's settings, and the choice between them made
// when a command starts: a device server when the settings name one, else
// UDP or the serial port as Parvault2.i says.
class RouteChannels final : public ChannelPicker {
public:
    RouteChannels(SerialChannel& serial, UdpChannel& udp, const ConnectionSettings& settings)
        : serial_(serial), udp_(udp, settings), settings_(settings) {}

    ExchangeChannel& channelForCommand() override {
        if (settings_.deviceServer.inUse())
            return tcp_;
        if (settings_.useIp == 1)
            return udp_;
        return serial_;
    }

    TcpLink& tcp() { return tcp_; }

private:
    SerialLink serial_;
    UdpLink udp_;
    TcpLink tcp_;
    const ConnectionSettings& settings_;
};

} // namespace parvault
