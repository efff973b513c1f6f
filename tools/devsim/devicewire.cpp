#include "devicewire.h"

#include "codepage.h"

#include <array>
#include <cstdio>

namespace parvault::devsim {

namespace {

// Table-driven, unlike the program's bitwise one.
const std::array<uint16_t, 256>& crcTable() {
    static const std::array<uint16_t, 256> table = [] {
        std::array<uint16_t, 256> t{};
        for (int i = 0; i < 256; ++i) {
            uint16_t c = static_cast<uint16_t>(i << 8);
            for (int k = 0; k < 8; ++k)
                c = static_cast<uint16_t>((c & 0x8000) ? (c << 1) ^ 0x1021 : c << 1);
            t[static_cast<size_t>(i)] = c;
        }
        return t;
    }();
    return table;
}

} // namespace

uint8_t wire::EvenParity(uint8_t c) {
    c &= 0x7F;
    return (__builtin_popcount(c) & 1) ? static_cast<uint8_t>(c | 0x80) : c;
}

uint16_t DeviceCrc(std::span<const uint8_t> bytes) {
    uint16_t crc = 0;
    for (uint8_t b : bytes)
        crc = static_cast<uint16_t>((crc << 8) ^ crcTable()[((crc >> 8) ^ b) & 0xFF]);
    return crc;
}

std::string Hex(std::span<const uint8_t> bytes) {
    std::string s;
    char buf[4];
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", bytes[i]);
        s += buf;
    }
    return s;
}

Bytes ToOem(const QString& text) { return AnsiToOem(text); }

QString FromOem(std::span<const uint8_t> bytes) { return fromOemBytes(bytes); }

} // namespace parvault::devsim
