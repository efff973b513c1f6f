#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace parvault {

// The ten line speeds offered to the user, indexed by ConnectionSettings::speedIndex.
inline constexpr std::array<int32_t, 10> SpeedTable = {300,  600,   1200,  2400,  4800,
                                                       9600, 19200, 38400, 57600, 115200};

inline constexpr int kPortSlots = 64;

// A serial device server: the device's line carried over TCP, either as the
// bytes are (raw) or by Telnet with the COM port option, which also sets
// the line's speed. Parvault2.i has no room for a host name, so this lives
// in the route file beside it (kRouteFileName).
struct DeviceServer {
    enum class Mode : int32_t { None = 0, Raw = 1, Rfc2217 = 2 };
    Mode mode = Mode::None; // None: the serial port or UDP, as Parvault2.i says
    std::string host;       // a name or an address
    uint16_t port = 0;

    bool inUse() const { return mode != Mode::None; }
    bool operator==(const DeviceServer&) const = default;
};

// Everything needed to reach a device. Stored in "Parvault2.i" as eleven
// little-endian 32-bit items in this exact order; nothing is validated on load,
// so every user must go through the accessors below before indexing anything.
struct ConnectionSettings {
    int32_t portIndex = -1; // position in portNumbers; -1 = none chosen
    int32_t speedIndex = 0; // position in SpeedTable
    std::array<int32_t, kPortSlots> portNumbers{}; // N of COMN, ascending, 0 = empty
    int32_t ownAddress = 0;
    int32_t deviceAddress = 0;
    int32_t waitSeconds = 1;
    int32_t useAddress = 0;
    int32_t useOptoport = 0;
    int32_t useIp = 0;
    uint32_t deviceIp = 0; // first octet in the most significant byte
    uint32_t udpPort = 0;  // low 16 bits used
    // Not in Parvault2.i: when in use, it is the route, whatever useIp says.
    DeviceServer deviceServer;

    // The chosen port's number (N of COMN), or nothing when portIndex is out of
    // 0..63 or names an empty slot. No port may be opened without one.
    std::optional<int32_t> chosenPortNumber() const;
    // True when portIndex lies in 0..63 (the slot may still be empty).
    bool hasValidPortIndex() const { return portIndex >= 0 && portIndex < kPortSlots; }
    // The baud rate of speedIndex, or nothing when it is out of 0..9.
    std::optional<int32_t> baudRate() const;
    bool hasValidSpeedIndex() const {
        return speedIndex >= 0 && speedIndex < static_cast<int32_t>(SpeedTable.size());
    }
    uint16_t udpPortNumber() const { return static_cast<uint16_t>(udpPort & 0xFFFFu); }

    bool operator==(const ConnectionSettings&) const = default;
};

inline constexpr const char* kSettingsFileName = "Parvault2.i";
inline constexpr int kSettingsFileSize = 296;

// Reads the file over the current values: a missing file changes nothing, a
// short one changes only the bytes it has (a field cut by the end gets its low
// bytes), anything past 296 bytes is ignored.
void LoadSettings(ConnectionSettings& settings, const std::string& path = kSettingsFileName);
// Creates or empties the file and writes the record; failures are silent.
// Returns whether all 296 bytes were written, for callers that care.
bool SaveSettings(const ConnectionSettings& settings, const std::string& path = kSettingsFileName);

// The route file: the device server's settings, kept beside Parvault2.i and
// read and written only by this program. UTF-8 text, one "key=value" a line.
inline constexpr const char* kRouteFileName = "Parvault2.route";
// A missing or unreadable file leaves the record's device server as it is;
// unknown keys and malformed values are skipped.
void LoadRouteSettings(ConnectionSettings& settings, const std::string& path = kRouteFileName);
// Writes the file, or removes it when it would say nothing (no device server
// in use and no host kept), so that a folder that never named one keeps only
// Parvault2.i.
bool SaveRouteSettings(const ConnectionSettings& settings, const std::string& path = kRouteFileName);
std::string SerializeRouteSettings(const DeviceServer& server);
void ApplyRouteSettingsText(DeviceServer& server, const std::string& text);

// The record in its file layout, and back (used by the two calls above).
std::array<uint8_t, kSettingsFileSize> SerializeSettings(const ConnectionSettings& settings);
void ApplySettingsBytes(ConnectionSettings& settings, const uint8_t* data, size_t length);

} // namespace parvault
