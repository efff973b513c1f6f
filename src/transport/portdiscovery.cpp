#include "portdiscovery.h"

#include "connectionsettings.h"

#include <QSerialPortInfo>

#include <algorithm>

namespace parvault {

PortSources SystemPortSources(const PortNaming& naming) {
    PortSources sources;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts())
        sources.systemDevices.push_back(info.systemLocation().toStdString());
    sources.linkFolder = naming.linkFolder;
    return sources;
}

QString PortListText(int32_t number) { return QString::asprintf("COM%02d", number); }

std::vector<PortListEntry> DiscoverPorts(ConnectionSettings& settings, const PortSources& sources) {
    settings.portNumbers.fill(0);
    int count = 0;
    auto add = [&](int number) {
        if (count >= kMaxListedPorts || number <= 0)
            return;
        auto known = settings.portNumbers.begin() + count;
        if (std::find(settings.portNumbers.begin(), known, number) != known)
            return;
        settings.portNumbers[static_cast<size_t>(count++)] = number;
    };

    for (int number : LinkedPortNumbers(sources.linkFolder))
        add(number);
    for (const std::string& device : sources.systemDevices) {
        if (auto number = PortNumberForDevice(device))
            add(*number);
    }

    std::sort(settings.portNumbers.begin(), settings.portNumbers.begin() + count);
    std::vector<PortListEntry> entries;
    entries.reserve(static_cast<size_t>(count));
    for (int k = 0; k < count; ++k)
        entries.push_back({PortListText(settings.portNumbers[static_cast<size_t>(k)]),
                           settings.portNumbers[static_cast<size_t>(k)]});
    return entries;
}

} // namespace parvault
