#include "recordingchannel.h"

namespace parvault {

namespace {

QString UdpPeer(const ConnectionSettings& s) {
    const uint32_t ip = s.deviceIp;
    return QStringLiteral("UDP %1.%2.%3.%4:%5")
        .arg(ip >> 24)
        .arg((ip >> 16) & 0xFF)
        .arg((ip >> 8) & 0xFF)
        .arg(ip & 0xFF)
        .arg(s.udpPortNumber());
}

QString ComPort(const ConnectionSettings& s) {
    const auto port = s.chosenPortNumber();
    return port ? QStringLiteral("COM%1").arg(*port) : QStringLiteral("COM?");
}

// "TCP host:4001" or "RFC 2217 host:4001": the device server and how its line is carried.
QString ServerPeer(const ConnectionSettings& s) {
    const DeviceServer& d = s.deviceServer;
    const QString host = QString::fromStdString(d.host);
    const QString at = (host.contains(QLatin1Char(':')) ? QStringLiteral("[%1]:%2") : QStringLiteral("%1:%2"))
                           .arg(host)
                           .arg(d.port);
    return QStringLiteral("%1 %2").arg(d.mode == DeviceServer::Mode::Rfc2217 ? QStringLiteral("RFC 2217")
                                                                             : QStringLiteral("TCP"),
                                       at);
}

QString Baud(const ConnectionSettings& s) {
    const auto baud = s.baudRate();
    return baud ? QStringLiteral("%1 бод").arg(*baud) : QStringLiteral("? бод");
}

} // namespace

LinkStart RecordingChannel::connect(const LinkRequest& request) {
    const ConnectionSettings& s = request.settings;
    const LinkStart start = inner_.connect(request);
    if (inner_.kind() == RouteKind::Udp) {
        port_ = route_ = UdpPeer(s);
        open_ = true;
        log_.link(port_, QStringLiteral("обмен по UDP"));
        return start;
    }
    const ConnectionSettings opened = request.opening();
    open_ = start != LinkStart::Failed;
    if (inner_.kind() == RouteKind::DeviceServer) {
        port_ = ServerPeer(s);
        // Over raw TCP the line runs at the speed the server gives it.
        const bool setsSpeed = s.deviceServer.mode == DeviceServer::Mode::Rfc2217;
        route_ = setsSpeed ? QStringLiteral("%1 %2").arg(port_, Baud(opened)) : port_;
        log_.link(port_, !open_    ? QStringLiteral("нет соединения с сервером портов")
                         : setsSpeed ? QStringLiteral("соединение открыто, %1").arg(Baud(opened))
                                     : QStringLiteral("соединение открыто"));
        return start;
    }
    port_ = ComPort(s);
    route_ = QStringLiteral("%1 %2").arg(port_, Baud(opened));
    log_.link(port_, open_ ? QStringLiteral("порт открыт, %1").arg(Baud(opened))
                           : QStringLiteral("порт не открыт"));
    return start;
}

bool RecordingChannel::reopen(const ConnectionSettings& settings, ExchangeDisplay& display) {
    const bool ok = inner_.reopen(settings, display);
    if (inner_.kind() == RouteKind::DeviceServer) {
        port_ = ServerPeer(settings);
        const bool setsSpeed = settings.deviceServer.mode == DeviceServer::Mode::Rfc2217;
        route_ = setsSpeed ? QStringLiteral("%1 %2").arg(port_, Baud(settings)) : port_;
        open_ = ok;
        log_.link(port_, !ok        ? QStringLiteral("нет соединения с сервером портов")
                         : setsSpeed ? QStringLiteral("скорость линии %1").arg(Baud(settings))
                                     : QStringLiteral("соединение открыто"));
        return ok;
    }
    if (inner_.kind() == RouteKind::Udp)
        return ok;
    port_ = ComPort(settings);
    route_ = QStringLiteral("%1 %2").arg(port_, Baud(settings));
    open_ = ok;
    log_.link(port_, ok ? QStringLiteral("порт открыт заново, %1").arg(Baud(settings))
                        : QStringLiteral("порт не открыт заново"));
    return ok;
}

void RecordingChannel::send(ExchangeShared& shared) {
    const int length = std::min(shared.txLength(), kTxFrameMax);
    log_.frame(EntryKind::Sent, route_, std::span<const uint8_t>(shared.txFrame.data() + 2, static_cast<size_t>(length)));
    inner_.send(shared);
}

int RecordingChannel::takeArrived(ExchangeShared& shared) {
    const int n = inner_.takeArrived(shared);
    if (n > 0) {
        const int length = std::min(n, kRxReadMax);
        log_.frame(EntryKind::Arrived, route_, std::span<const uint8_t>(shared.rxBuffer.data(), static_cast<size_t>(length)));
    }
    return n;
}

int RecordingChannel::discardWaiting(ExchangeShared& shared) {
    const int n = inner_.discardWaiting(shared);
    if (n > 0) {
        const int length = std::min(n, kRxReadMax);
        log_.frame(EntryKind::Arrived, route_, std::span<const uint8_t>(shared.rxBuffer.data(), static_cast<size_t>(length)));
    }
    return n;
}

void RecordingChannel::release() {
    inner_.release();
    if (open_ && !port_.startsWith(QStringLiteral("UDP")))
        log_.link(port_, port_.startsWith(QStringLiteral("COM")) ? QStringLiteral("порт закрыт")
                                                                 : QStringLiteral("соединение закрыто"));
    open_ = false;
}

ExchangeChannel& RecordingPicker::channelForCommand() {
    ExchangeChannel& inner = inner_.channelForCommand();
    auto& wrapper = wrappers_[&inner];
    if (!wrapper)
        wrapper = std::make_unique<RecordingChannel>(inner, log_);
    return *wrapper;
}

} // namespace parvault
