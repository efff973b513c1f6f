#pragma once

#include "portnaming.h"

#include <QString>

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace parvault {

struct ConnectionSettings;

inline constexpr int kMaxListedPorts = 64; // the size of ConnectionSettings::portNumbers

// One entry of the settings dialog's port list: "COM%02d" and its number,
// whether its device is there now, and which device it is (for the user to
// tell two adapters apart).
struct PortListEntry {
    QString text;
    int32_t number = 0;
    bool present = true; // false: the chosen port, kept although its device is gone
    QString device;      // e.g. "/dev/ttyUSB0\n/dev/serial/by-id/usb-…\nFT232R USB UART"
};

// Where the ports come from: the machine's serial devices (paths such as
// /dev/ttyUSB0) and the folder of user port links.
struct PortSources {
    std::vector<std::string> systemDevices;
    std::filesystem::path linkFolder;
    // Ports this program holds open. The serial port library cannot open a
    // built-in port we hold (exclusive) and leaves it out, but it is there.
    std::vector<int> heldPorts;
    // What the serial port library says about a device (description, maker,
    // serial number), by path.
    std::map<std::string, QString> deviceInfo;
    // The kernel's stable names of USB serial devices.
    std::filesystem::path byIdFolder = "/dev/serial/by-id";
    PortNaming naming; // for the device behind a port number
};

// The machine's serial devices as the serial port library sees them, the
// user's link folder and the ports this program holds open.
PortSources systemPortSources(const PortNaming& naming = defaultPortNaming());

// Rebuilds settings.portNumbers and returns the list entries: every port once,
// at most kMaxListedPorts, in ascending number order. Entry k and
// portNumbers[k] always name the same port, so the dialog must show the
// entries in the order given (no sorting by text: "COM100" would come before
// "COM11"). Links are taken first, so a full table keeps the user's own ports.
// The chosen port (settings.portIndex) stays in the table even when its device
// is gone (an adapter unplugged for a moment), as an entry that is not present:
// opening the settings must never change what the user chose.
std::vector<PortListEntry> DiscoverPorts(ConnectionSettings& settings, const PortSources& sources);

// Which device port N is: its device path, the stable by-id names that lead
// to it, and what the serial port library knows of it. One item a line.
QString portDeviceDescription(int32_t number, const PortSources& sources);

// The list text of a port number: "COM%02d".
QString portListText(int32_t number);

} // namespace parvault
