#include "wireframes.h"

#include <cstdio>

namespace parvault::testing {

Bytes withCrc(Bytes frame, size_t from) {
    const uint16_t crc = Crc16(std::span<const uint8_t>(frame).subspan(from));
    frame.push_back(static_cast<uint8_t>(crc >> 8));
    frame.push_back(static_cast<uint8_t>(crc & 0xFF));
    return frame;
}

Bytes wireAnswer(uint8_t function, const Bytes& sequence, const Bytes& data) {
    return withCrc(bytesOf({DLE, SOH, DLE, US, function}) + sequence + bytesOf({DLE, STX}) + data +
                   bytesOf({DLE, ETX}));
}

Bytes wireAnswer(uint8_t function, int sequence, const Bytes& data) {
    return wireAnswer(
        function,
        bytesOf({'0' + sequence / 100 % 10, '0' + sequence / 10 % 10, '0' + sequence % 10}), data);
}

Bytes valueBody(int param, const std::string& value, const std::string& units) {
    char head[32];
    std::snprintf(head, sizeof head, "\t001\t%03d", param % 1000);
    Bytes b = oem(head) + bytesOf({FF, HT}) + Bytes(value.begin(), value.end());
    if (!units.empty())
        b = b + bytesOf({HT}) + Bytes(units.begin(), units.end());
    b.push_back(FF);
    return b;
}

bool parseRequest(const Bytes& f, Request& out) {
    if (f.size() < 18 || f[0] != DLE || f[1] != SOH || f[2] != DLE || f[3] != US)
        return false;
    out.function = f[4];
    out.sequence = Bytes(f.begin() + 5, f.begin() + 8);
    // DLE STX HT CCC HT PPP...
    size_t p = 15;
    out.param = 0;
    while (p < f.size() && f[p] >= '0' && f[p] <= '9')
        out.param = out.param * 10 + (f[p++] - '0');
    out.head.clear();
    for (size_t k = 10; k < f.size() && f[k] != FF && f[k] != DLE; ++k)
        out.head.push_back(f[k]);
    return true;
}

} // namespace parvault::testing
