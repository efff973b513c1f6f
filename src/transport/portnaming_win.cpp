#include "portnaming.h"

namespace parvault {

// Windows numbers its serial ports itself; there is no folder of links.
std::filesystem::path defaultPortLinkFolder() { return {}; }

PortNaming defaultPortNaming() { return PortNaming{{}, {}}; }

std::optional<int> portNumberForDevice(const std::filesystem::path& device) {
    return parsePortLinkName(device.filename().string());
}

// The device namespace form works for every number: plain "COM10" and above
// cannot be opened by name.
std::optional<std::filesystem::path> portDevicePath(int port, const PortNaming&) {
    if (port < 1 || port > kMaxPortNumber)
        return std::nullopt;
    return std::filesystem::path("\\\\.\\COM" + std::to_string(port));
}

std::vector<int> linkedPortNumbers(const std::filesystem::path&) { return {}; }

} // namespace parvault
