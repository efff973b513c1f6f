#include "udplink.h"

namespace parvault {

LinkStart UdpLink::connect(const LinkRequest& request) {
    localIp_ = request.localIp ? request.localIp() : 0;
    request.display.setPortStatusText(texts::Blank);
    request.display.setPortStatusToolTip(QString());
    return LinkStart::Now;
}

void UdpLink::send(ExchangeShared&) { udp_.StartUdpExchange(makeUdpTarget(settings_, localIp_)); }

void UdpLink::holdWriteAnswer(std::atomic<int32_t>& writeState) {
    writeState = writeState.load() + STATE_BUSY_FLAG;
}

void UdpLink::resumeWaiting(std::atomic<int32_t>& state, int32_t sentState) {
    udp_.stopUdpExchange();
    state = sentState;
}

} // namespace parvault
