#include "connection.h"

#include "cliargs.h"

#include <algorithm>
#include <vector>

namespace parvault::cli {

QString dottedIp(uint32_t ip) {
    return QStringLiteral("%1.%2.%3.%4")
        .arg(ip >> 24)
        .arg((ip >> 16) & 0xFF)
        .arg((ip >> 8) & 0xFF)
        .arg(ip & 0xFF);
}

// Makes COM`port` the chosen port, adding it to the port table if needed.
bool choosePort(ConnectionSettings& s, int port, QString* why) {
    s.useIp = 0;
    s.deviceServer.mode = DeviceServer::Mode::None;
    auto& table = s.portNumbers;
    const auto at = std::find(table.begin(), table.end(), port);
    if (at != table.end()) {
        s.portIndex = static_cast<int32_t>(at - table.begin());
        return true;
    }
    // The table keeps the ports ascending with empty slots at its end.
    std::vector<int32_t> ports;
    for (int32_t n : table)
        if (n > 0)
            ports.push_back(n);
    if (ports.size() >= table.size()) {
        *why = QStringLiteral("the port table of %1 is full; COM%2 cannot be added")
                   .arg(QString::fromLatin1(kSettingsFileName))
                   .arg(port);
        return false;
    }
    ports.push_back(port);
    std::sort(ports.begin(), ports.end());
    table.fill(0);
    std::copy(ports.begin(), ports.end(), table.begin());
    s.portIndex = static_cast<int32_t>(std::find(table.begin(), table.end(), port) - table.begin());
    return true;
}

int32_t speedIndexOf(int baud) {
    return static_cast<int32_t>(std::find(SpeedTable.begin(), SpeedTable.end(), baud) - SpeedTable.begin());
}

bool checkConnection(const ConnectionSettings& s, QString* why) {
    if (s.waitSeconds < kMinWaitSeconds || s.waitSeconds > kMaxWaitSeconds) {
        *why = QStringLiteral("the answer wait of %1 (%2 s) is outside %3..%4; give --wait")
                   .arg(QString::fromLatin1(kSettingsFileName))
                   .arg(s.waitSeconds)
                   .arg(kMinWaitSeconds)
                   .arg(kMaxWaitSeconds);
        return false;
    }
    if (s.useAddress == 1 && (s.ownAddress < 0 || s.ownAddress > kMaxBusAddress || s.deviceAddress < 0 ||
                              s.deviceAddress > kMaxBusAddress)) {
        *why = QStringLiteral("the bus addresses of %1 are outside 0..%2; give --address OWN:DEVICE")
                   .arg(QString::fromLatin1(kSettingsFileName))
                   .arg(kMaxBusAddress);
        return false;
    }
    if (s.deviceServer.inUse()) {
        if (s.deviceServer.host.empty() || s.deviceServer.port == 0) {
            *why = QStringLiteral("no device server in %1; give --tcp HOST:PORT or --rfc2217 HOST:PORT")
                       .arg(QString::fromLatin1(kRouteFileName));
            return false;
        }
        // Only RFC 2217 sets the line's speed; raw TCP leaves it to the server.
        if (s.deviceServer.mode == DeviceServer::Mode::Rfc2217 && !s.baudRate()) {
            *why = QStringLiteral("no valid line speed in %1; give --speed BAUD")
                       .arg(QString::fromLatin1(kSettingsFileName));
            return false;
        }
        return true;
    }
    if (s.useIp == 1) {
        if (s.deviceIp == 0 || s.udpPortNumber() == 0) {
            *why = QStringLiteral("no device address for UDP; give --udp HOST:PORT");
            return false;
        }
        return true;
    }
    if (!s.chosenPortNumber()) {
        *why = QStringLiteral("no serial port chosen; give --port COMN (or --udp HOST:PORT)");
        return false;
    }
    if (!s.baudRate()) {
        *why = QStringLiteral("no valid line speed in %1; give --speed BAUD")
                   .arg(QString::fromLatin1(kSettingsFileName));
        return false;
    }
    return true;
}

QString serverText(const DeviceServer& d) {
    const QString host = QString::fromStdString(d.host);
    return (host.contains(QLatin1Char(':')) ? QStringLiteral("[%1]:%2") : QStringLiteral("%1:%2")).arg(host).arg(d.port);
}

QString connectionText(const ConnectionSettings& s, const PortNaming& ports) {
    if (s.deviceServer.inUse()) {
        const bool rfc = s.deviceServer.mode == DeviceServer::Mode::Rfc2217;
        QString text = QStringLiteral("%1 %2").arg(rfc ? QStringLiteral("rfc2217") : QStringLiteral("tcp"),
                                                  serverText(s.deviceServer));
        if (rfc && s.baudRate())
            text += QStringLiteral(" at %1 baud").arg(*s.baudRate());
        if (s.useOptoport == 1)
            text += QStringLiteral(", optical port");
        return text;
    }
    if (s.useIp == 1)
        return QStringLiteral("udp %1:%2").arg(dottedIp(s.deviceIp)).arg(s.udpPortNumber());
    QString text = s.chosenPortNumber() ? QStringLiteral("COM%1").arg(*s.chosenPortNumber())
                                        : QStringLiteral("no port");
    if (const auto path = s.chosenPortNumber() ? portDevicePath(*s.chosenPortNumber(), ports)
                                               : std::nullopt)
        text += QStringLiteral(" (%1)").arg(QString::fromStdString(path->string()));
    if (s.baudRate())
        text += QStringLiteral(" at %1 baud").arg(*s.baudRate());
    if (s.useOptoport == 1)
        text += QStringLiteral(", optical port");
    return text;
}

} // namespace parvault::cli
