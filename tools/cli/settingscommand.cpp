// The connection a run uses (the settings file, the route file and the
// command line's overrides over them) and the settings command that prints it.

#include "clicommands.h"
#include "connection.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace parvault::cli {

PortNaming Cli::portNaming() const {
    if (o_.connection.portLinkFolder)
        return PortNaming{o_.connection.portLinkFolder->toStdString(), "/dev"};
    return defaultPortNaming();
}

bool Cli::prepareSettings(QString* why) {
    // The window's start defaults, then the file over them, then the options.
    settings_.waitSeconds = 1;
    settings_.portIndex = -1;
    LoadSettings(settings_, kSettingsFileName);
    LoadRouteSettings(settings_, kRouteFileName);

    const ConnectionOverrides& c = o_.connection;
    if (c.server) {
        settings_.deviceServer.mode = c.server->rfc2217 ? DeviceServer::Mode::Rfc2217 : DeviceServer::Mode::Raw;
        settings_.deviceServer.host = c.server->host.toStdString();
        settings_.deviceServer.port = c.server->port;
    }
    if (c.udpHostIp) {
        settings_.deviceServer.mode = DeviceServer::Mode::None;
        settings_.useIp = 1;
        settings_.deviceIp = *c.udpHostIp;
        settings_.udpPort = *c.udpPort;
    }
    if (c.comPort && !choosePort(settings_, *c.comPort, why))
        return false;
    if (c.baud)
        settings_.speedIndex = speedIndexOf(*c.baud);
    if (c.optical)
        settings_.useOptoport = *c.optical ? 1 : 0;
    if (c.address) {
        settings_.useAddress = 1;
        settings_.ownAddress = c.address->first;
        settings_.deviceAddress = c.address->second;
    }
    if (c.noAddress)
        settings_.useAddress = 0;
    if (c.waitSeconds)
        settings_.waitSeconds = *c.waitSeconds;
    return true;
}

void Cli::saveSettingsIfAsked() {
    if (o_.saveSettings && !SaveSettings(settings_, kSettingsFileName))
        say(QStringLiteral("%1 could not be written").arg(QString::fromLatin1(kSettingsFileName)));
    if (o_.saveSettings && !SaveRouteSettings(settings_, kRouteFileName))
        say(QStringLiteral("%1 could not be written").arg(QString::fromLatin1(kRouteFileName)));
}

int Cli::commandSettings() {
    QString why;
    if (!prepareSettings(&why))
        return fail(why);
    const ConnectionSettings& s = settings_;
    const bool usable = checkConnection(s, &why);
    QString out;
    if (o_.format == Format::Json) {
        QJsonObject doc;
        doc["connection"] = s.deviceServer.mode == DeviceServer::Mode::Raw       ? QStringLiteral("tcp")
                            : s.deviceServer.mode == DeviceServer::Mode::Rfc2217 ? QStringLiteral("rfc2217")
                            : s.useIp == 1                                      ? QStringLiteral("udp")
                                                                                : QStringLiteral("serial");
        doc["server"] = s.deviceServer.inUse() ? serverText(s.deviceServer) : QString();
        doc["udpHost"] = dottedIp(s.deviceIp);
        doc["udpPort"] = s.udpPortNumber();
        doc["port"] = s.chosenPortNumber() ? QStringLiteral("COM%1").arg(*s.chosenPortNumber()) : QString();
        doc["baud"] = s.baudRate() ? *s.baudRate() : 0;
        doc["optical"] = s.useOptoport == 1;
        doc["useAddress"] = s.useAddress == 1;
        doc["ownAddress"] = s.ownAddress;
        doc["deviceAddress"] = s.deviceAddress;
        doc["waitSeconds"] = s.waitSeconds;
        doc["usable"] = usable;
        doc["problem"] = usable ? QString() : why;
        out = QString::fromUtf8(QJsonDocument(doc).toJson(QJsonDocument::Indented));
    } else {
        const QString sep = o_.format == Format::Csv ? QStringLiteral(",") : QStringLiteral(": ");
        auto line = [&](const char* key, const QString& value) {
            out += QLatin1String(key) + sep +
                   (o_.format == Format::Csv ? CsvField(value) : value) + QLatin1Char('\n');
        };
        if (o_.format == Format::Csv)
            out = QStringLiteral("item,value\n");
        line("connection", connectionText(s, portNaming()));
        line("address", s.useAddress == 1 ? QStringLiteral("%1:%2").arg(s.ownAddress).arg(s.deviceAddress)
                                          : QStringLiteral("none"));
        line("wait", QStringLiteral("%1 s").arg(s.waitSeconds));
        if (!usable)
            line("problem", why);
    }
    print(out.toUtf8());
    saveSettingsIfAsked();
    return kExitOk;
}

} // namespace parvault::cli
