#include "udplink.h"

namespace parvault {

LinkStart UdpLink::connect(const LinkRequest& request) {
    localIp_ = request.localIp ? request.localIp() : 0;
    request.display.setPortStatusText(texts::Blank);
    request.display.setPortStatusToolTip(QString());
    return LinkStart::Now;
}

void UdpLink::send(ExchangeShared&) { udp_.StartUdpExchange(makeUdpTarget(settings_, localIp_)); }

} // namespace parvault
