#pragma once

// Frames of the bus protocol built byte by byte, the way a device would send
// them, independently of the program's own builders.

#include "frame.h"

#include <cstdint>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

namespace parvault::testing {

using Bytes = std::vector<uint8_t>;

inline Bytes bytesOf(std::initializer_list<int> list) {
    return Bytes(list.begin(), list.end());
}
inline Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
inline Bytes oem(const char* latin) {
    return Bytes(latin, latin + std::strlen(latin));
}

// The frame with its CRC appended, high byte first; the CRC covers the frame
// from byte `from` on (2: after DLE SOH).
Bytes withCrc(Bytes frame, size_t from = 2);

// An answer as it travels: DLE SOH DLE US fn ddd DLE STX data DLE ETX CRC.
Bytes wireAnswer(uint8_t function, const Bytes& sequence, const Bytes& data);
Bytes wireAnswer(uint8_t function, int sequence, const Bytes& data);

// The same answer as the assembler keeps it: without DLE SOH.
inline Bytes assembled(const Bytes& wire) {
    return Bytes(wire.begin() + 2, wire.end());
}

// The answer group of a value answer to a plain read: HT C HT P FF HT then the group.
inline Bytes valueGroup(const Bytes& group) {
    return bytesOf({HT, '0', '0', '1', HT, '0', '5', '2', FF, HT}) + group;
}

// HT 001 HT PPP FF HT value [HT units] FF: the body of a value answer.
Bytes valueBody(int param, const std::string& value, const std::string& units = {});

// A request as the program sends it (no address block): DLE SOH DLE US fn ddd
// DLE STX HT CCC HT PPP ...; what a responder needs from it.
struct Request {
    uint8_t function = 0;
    Bytes sequence; // three digits
    int param = 0;
    Bytes head;     // the data before its first FF, which an answer repeats
};
bool parseRequest(const Bytes& frame, Request& out);

// An answer to the request as a device sends it: the request's fields
// repeated, FF HT, then the group (closed by FF where it needs one).
inline Bytes answerTo(const Request& r, uint8_t function, const Bytes& group) {
    return wireAnswer(function, r.sequence, r.head + bytesOf({FF, HT}) + group);
}

// Given a request, the deliveries to send back (each one datagram or one write).
using Responder = std::function<std::vector<Bytes>(const Request&)>;

} // namespace parvault::testing
