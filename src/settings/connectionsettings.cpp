#include "connectionsettings.h"

#include <cstdio>
#include <filesystem>
#include <random>
#include <system_error>
#include <cstring>

namespace parvault {

std::optional<int32_t> ConnectionSettings::chosenPortNumber() const {
    if (!hasValidPortIndex())
        return std::nullopt;
    const int32_t number = portNumbers[static_cast<size_t>(portIndex)];
    if (number <= 0)
        return std::nullopt;
    return number;
}

std::optional<int32_t> ConnectionSettings::baudRate() const {
    if (!hasValidSpeedIndex())
        return std::nullopt;
    return SpeedTable[static_cast<size_t>(speedIndex)];
}

namespace {

// Visits the eleven items as (pointer to the 32-bit field) in file order.
template <typename Settings, typename Fn> void forEachField(Settings& s, Fn&& fn) {
    fn(&s.portIndex);
    fn(&s.speedIndex);
    for (auto& n : s.portNumbers)
        fn(&n);
    fn(&s.ownAddress);
    fn(&s.deviceAddress);
    fn(&s.waitSeconds);
    fn(&s.useAddress);
    fn(&s.useOptoport);
    fn(&s.useIp);
    fn(&s.deviceIp);
    fn(&s.udpPort);
}

} // namespace

std::array<uint8_t, kSettingsFileSize> SerializeSettings(const ConnectionSettings& settings) {
    std::array<uint8_t, kSettingsFileSize> bytes{};
    size_t offset = 0;
    forEachField(settings, [&](const auto* field) {
        const auto value = static_cast<uint32_t>(*field);
        for (int i = 0; i < 4; ++i)
            bytes[offset++] = static_cast<uint8_t>(value >> (8 * i)); // little-endian
    });
    return bytes;
}

void ApplySettingsBytes(ConnectionSettings& settings, const uint8_t* data, size_t length) {
    size_t offset = 0;
    forEachField(settings, [&](auto* field) {
        if (offset >= length)
            return;
        // A field cut by the end of the file takes only the bytes present, in
        // its low-order bytes; its high bytes keep what they had.
        auto value = static_cast<uint32_t>(*field);
        for (size_t i = 0; i < 4 && offset + i < length; ++i) {
            value &= ~(0xFFu << (8 * i));
            value |= static_cast<uint32_t>(data[offset + i]) << (8 * i);
        }
        *field = static_cast<std::remove_pointer_t<decltype(field)>>(value);
        offset += 4;
    });
}

void LoadSettings(ConnectionSettings& settings, const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return;
    uint8_t bytes[kSettingsFileSize];
    const size_t got = std::fread(bytes, 1, sizeof bytes, file);
    std::fclose(file);
    ApplySettingsBytes(settings, bytes, got);
}

bool SaveSettings(const ConnectionSettings& settings, const std::string& path) {
    // Written beside under a name of this save's own and renamed over: a write
    // that fails (a full disk) leaves the older settings whole, and two
    // programs closing at once never mix their files.
    const std::string temp = path + ".part" + std::to_string(std::random_device{}() & 0xFFFFFF);
    std::FILE* file = std::fopen(temp.c_str(), "wb");
    if (!file)
        return false;
    const auto bytes = SerializeSettings(settings);
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    const bool flushed = std::fflush(file) == 0;
    const bool closed = std::fclose(file) == 0;
    std::error_code ec;
    if (written && flushed && closed)
        std::filesystem::rename(temp, path, ec);
    if (!(written && flushed && closed) || ec) {
        std::remove(temp.c_str());
        return false;
    }
    return true;
}

} // namespace parvault
