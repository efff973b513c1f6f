#include "seriallink.h"

namespace parvault {

LinkStart SerialLink::connect(const LinkRequest& request) {
    if (!reopen(request.opening(), request.display))
        return LinkStart::Failed;
    return request.signOn ? LinkStart::SignOn : LinkStart::Now;
}

bool SerialLink::reopen(const ConnectionSettings& settings, ExchangeDisplay& display) {
    ComClose(port_);
    const auto port = settings.chosenPortNumber();
    const auto baud = settings.baudRate();
    // No valid port or speed chosen: nothing is opened.
    const int r = (port && baud) ? ComOpen(port_, static_cast<uint16_t>(*port), static_cast<uint32_t>(*baud))
                                 : COM_OPEN_FAILED;
    switch (r) {
    case COM_OPEN_OK:
        display.setPortStatusText(texts::Blank);
        display.setPortStatusToolTip(QString());
        break;
    case COM_OPEN_BUSY:
        display.setPortStatusText(texts::PortBusy);
        display.setPortStatusToolTip(QString());
        break;
    default:
        // The short text stays as users know it; the reason a Linux user can
        // act on (above all a missing group membership) goes behind it.
        display.setPortStatusText(texts::NoPort);
        display.setPortStatusToolTip((port && baud) ? comOpenFailureText(port_) : texts::NoPortChosen);
        break;
    }
    ComSetLines(port_, kLinesDtrRts);
    return r == COM_OPEN_OK;
}

void SerialLink::send(ExchangeShared& shared) { ComWrite(port_, shared.txFrame); }

int SerialLink::takeArrived(ExchangeShared& shared) {
    const int n = ComRead(port_, shared.rxBuffer);
    shared.rxLength = n;
    return n;
}

void SerialLink::release() { ComClose(port_); }

} // namespace parvault
