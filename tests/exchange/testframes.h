#pragma once

#include "frame.h"

#include <QByteArray>

#include <cstdint>
#include <initializer_list>
#include <vector>

namespace parvault::testing {

using Bytes = std::vector<uint8_t>;

inline Bytes bytesOf(std::initializer_list<int> list) {
    Bytes b;
    for (int v : list)
        b.push_back(static_cast<uint8_t>(v));
    return b;
}

inline Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

inline Bytes oem(const char* latin) {
    Bytes b;
    for (const char* p = latin; *p; ++p)
        b.push_back(static_cast<uint8_t>(*p));
    return b;
}

// An answer as it travels: DLE SOH DLE US fn ddd DLE STX data DLE ETX CRC.
inline Bytes wireAnswer(uint8_t function, int sequence, const Bytes& data) {
    Bytes f = {DLE, SOH, DLE, US, function, static_cast<uint8_t>('0' + sequence / 100 % 10),
               static_cast<uint8_t>('0' + sequence / 10 % 10), static_cast<uint8_t>('0' + sequence % 10),
               DLE, STX};
    f = f + data;
    f.push_back(DLE);
    f.push_back(ETX);
    const uint16_t crc = Crc16(std::span<const uint8_t>(f).subspan(2));
    f.push_back(static_cast<uint8_t>(crc >> 8));
    f.push_back(static_cast<uint8_t>(crc & 0xFF));
    return f;
}

// The same answer as the assembler keeps it: without DLE SOH.
inline Bytes assembled(const Bytes& wire) { return Bytes(wire.begin() + 2, wire.end()); }

// The answer group of a value answer to a plain read: HT C HT P FF HT then the group.
inline Bytes valueGroup(const Bytes& group) {
    return bytesOf({HT, '0', '0', '1', HT, '0', '5', '2', FF, HT}) + group;
}

} // namespace parvault::testing
