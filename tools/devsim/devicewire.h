#pragma once

// Bytes as the simulated device puts them on the line: the frame's control
// bytes, its checksum, the device's code page, and one answer with the way
// it is delivered.

#include <QString>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace parvault::devsim {

using Bytes = std::vector<uint8_t>;

namespace wire {
inline constexpr uint8_t kDle = 0x10, kSoh = 0x01, kStx = 0x02, kEtx = 0x03, kAck = 0x06, kHt = 0x09,
                         kFf = 0x0C, kUs = 0x1F;
// A 7-bit character with even parity in bit 7, as the optical port sends it.
uint8_t EvenParity(uint8_t c);
} // namespace wire

class DeviceModel;

// One answer and how to deliver it.
struct Reply {
    Bytes bytes;
    int delayMs = 0;
    int pieces = 1;
    // The device on the line that answered; unset: the server's own.
    DeviceModel* device = nullptr;
};

uint16_t DeviceCrc(std::span<const uint8_t> bytes);
std::string Hex(std::span<const uint8_t> bytes);
Bytes ToOem(const QString& text);
QString FromOem(std::span<const uint8_t> bytes);

} // namespace parvault::devsim
