#include "portdiscovery.h"

#include "connectionsettings.h"
#include "serialchannel.h"

#include <algorithm>

namespace parvault {

QString portListText(int32_t number) { return QString::asprintf("COM%02d", number); }

std::vector<PortListEntry> DiscoverPorts(ConnectionSettings& settings, const PortSources& sources) {
    const std::optional<int32_t> chosen = settings.chosenPortNumber();
    settings.portNumbers.fill(0);
    int count = 0;
    auto known = [&](int number) {
        auto end = settings.portNumbers.begin() + count;
        return std::find(settings.portNumbers.begin(), end, number) != end;
    };
    auto add = [&](int number) {
        if (count >= kMaxListedPorts || number <= 0 || known(number))
            return;
        settings.portNumbers[static_cast<size_t>(count++)] = number;
    };

    // The port we hold first: it is certainly there, whatever the library says.
    for (int number : sources.heldPorts)
        add(number);
    for (int number : linkedPortNumbers(sources.linkFolder))
        add(number);
    for (const std::string& device : sources.systemDevices) {
        if (auto number = portNumberForDevice(device))
            add(*number);
    }
    std::optional<int32_t> absent;
    if (chosen && !known(*chosen)) {
        absent = chosen;
        if (count == kMaxListedPorts)
            --count; // the user's choice outranks the last port found
        settings.portNumbers[static_cast<size_t>(count++)] = *chosen;
    }

    std::sort(settings.portNumbers.begin(), settings.portNumbers.begin() + count);
    std::vector<PortListEntry> entries;
    entries.reserve(static_cast<size_t>(count));
    for (int k = 0; k < count; ++k) {
        const int32_t number = settings.portNumbers[static_cast<size_t>(k)];
        PortListEntry entry{portListText(number), number, number != absent, portDeviceDescription(number, sources)};
        entries.push_back(std::move(entry));
    }
    return entries;
}

} // namespace parvault
