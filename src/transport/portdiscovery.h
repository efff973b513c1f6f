#pragma once

#include "portnaming.h"

#include <QString>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace parvault {

struct ConnectionSettings;

inline constexpr int kMaxListedPorts = 64; // the size of ConnectionSettings::portNumbers

// One entry of the settings dialog's port list: "COM%02d" and its number.
struct PortListEntry {
    QString text;
    int32_t number = 0;
};

// Where the ports come from: the machine's serial devices (paths such as
// /dev/ttyUSB0) and the folder of user port links.
struct PortSources {
    std::vector<std::string> systemDevices;
    std::filesystem::path linkFolder;
};

// The machine's serial devices as the serial port library sees them, and the
// user's link folder.
PortSources SystemPortSources(const PortNaming& naming = DefaultPortNaming());

// Rebuilds settings.portNumbers and returns the list entries: every port once,
// at most kMaxListedPorts, in ascending number order. Entry k and
// portNumbers[k] always name the same port, so the dialog must show the
// entries in the order given (no sorting by text: "COM100" would come before
// "COM11"). Links are taken first, so a full table keeps the user's own ports.
std::vector<PortListEntry> DiscoverPorts(ConnectionSettings& settings, const PortSources& sources);

// The list text of a port number: "COM%02d".
QString PortListText(int32_t number);

} // namespace parvault
