#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace parvault {

// How the N of COMN names a device on this machine. On Windows the system
// numbers its ports itself: port N is \\.\COMN and nothing below applies.
// On Linux the numbering follows the
// habit of Windows compatibility layers, so users find their ports where they
// expect them, and it depends only on device names, so it is stable across runs:
//   /dev/ttyS<k>   -> COM<k + 1>   (k 0..31,  COM1..COM32)
//   /dev/ttyUSB<k> -> COM<k + 33>  (k 0..31,  COM33..COM64)
//   /dev/ttyACM<k> -> COM<k + 65>  (k 0..31,  COM65..COM96)
// A folder of user port links adds or overrides ports: an entry named COM<N>
// (usually a symbolic link to a device node) names port N, whatever the rules
// above would say. That is how other devices (and pseudo-terminals) get a number.
struct PortNaming {
    std::filesystem::path linkFolder; // empty: no user links
    std::filesystem::path deviceFolder = "/dev";
};

inline constexpr int kPortFamilySize = 32;
inline constexpr int kMaxPortNumber = 65535; // the open port is kept as 16 bits

// ~/.parvault2/ports of the user running the program, taken from the password
// database rather than the environment.
std::filesystem::path defaultPortLinkFolder();
PortNaming defaultPortNaming();

// A decimal number without sign or leading zero, within [lo, hi], or nothing.
std::optional<int> parsePlainNumber(std::string_view digits, int lo, int hi);

// The number of "COM<N>" (exactly these letters, N decimal without sign or
// leading zero, 1..kMaxPortNumber), or nothing.
std::optional<int> parsePortLinkName(const std::string& name);

// The port number the built-in rules give a device path such as /dev/ttyUSB1,
// or nothing for devices outside the three families.
std::optional<int> portNumberForDevice(const std::filesystem::path& device);

// The path to open for port N: the link when the folder has one (even a
// dangling one: the user's link wins), else the device of the rules above.
// Nothing when N names no device.
std::optional<std::filesystem::path> portDevicePath(int port, const PortNaming& naming);

// Port numbers of the links in the folder whose target exists, ascending.
std::vector<int> linkedPortNumbers(const std::filesystem::path& linkFolder);

} // namespace parvault
