#include "portdiscovery.h"

#include "serialchannel.h"

#include <QSerialPortInfo>

#include <algorithm>

namespace parvault {

PortSources systemPortSources(const PortNaming& naming) {
    PortSources sources;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        const std::string path = info.systemLocation().toStdString();
        sources.systemDevices.push_back(path);
        QStringList about;
        for (const QString& item : {info.description(), info.manufacturer()})
            if (!item.isEmpty() && !about.contains(item))
                about << item;
        if (!info.serialNumber().isEmpty())
            about << QStringLiteral("серийный номер %1").arg(info.serialNumber());
        if (!about.isEmpty())
            sources.deviceInfo[path] = about.join(QStringLiteral(", "));
    }
    sources.linkFolder = naming.linkFolder;
    sources.heldPorts = portsHeldOpen();
    sources.naming = naming;
    return sources;
}

namespace {

std::filesystem::path resolved(const std::filesystem::path& path) {
    std::error_code ec;
    auto real = std::filesystem::canonical(path, ec);
    return ec ? std::filesystem::path() : real;
}

} // namespace

QString portDeviceDescription(int32_t number, const PortSources& sources) {
    PortNaming naming = sources.naming;
    naming.linkFolder = sources.linkFolder;
    const auto path = portDevicePath(number, naming);
    if (!path)
        return {};
    QStringList lines;
    std::error_code ec;
    const bool isLink = std::filesystem::is_symlink(*path, ec);
    const std::filesystem::path device = resolved(*path);
    if (isLink) {
        const auto target = std::filesystem::read_symlink(*path, ec);
        lines << QStringLiteral("ссылка %1 → %2")
                     .arg(QString::fromStdString(path->string()), QString::fromStdString(target.string()));
    }
    if (device.empty()) {
        lines << QStringLiteral("устройство не найдено");
        return lines.join(QLatin1Char('\n'));
    }
    lines << QString::fromStdString(device.string());
    // The by-id names leading to this device: they say which adapter it is.
    std::filesystem::directory_iterator it(sources.byIdFolder, ec);
    std::vector<std::string> byId;
    for (; !ec && it != std::filesystem::directory_iterator(); it.increment(ec))
        if (resolved(it->path()) == device)
            byId.push_back(it->path().string());
    std::sort(byId.begin(), byId.end());
    for (const std::string& name : byId)
        if (!isLink || std::filesystem::path(name) != std::filesystem::read_symlink(*path, ec))
            lines << QString::fromStdString(name);
    for (const auto& [location, about] : sources.deviceInfo)
        if (resolved(location) == device) {
            lines << about;
            break;
        }
    return lines.join(QLatin1Char('\n'));
}

} // namespace parvault
