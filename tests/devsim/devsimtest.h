#pragma once

// Helpers shared by the simulator tests: requests laid out by the program's
// own protocol code, and answers read back by its assembler.

#include "answer.h"
#include "devicemodel.h"
#include "requests.h"

#include <QString>

#include <vector>

namespace parvault::devsimtest {

using Bytes = std::vector<uint8_t>;

inline ParamRow row(int canal, int param, int index, int32_t kind, const QString& value = {}) {
    ParamRow r;
    r.texts[ColCanal] = QString::asprintf("%3d", canal);
    r.texts[ColParam] = QString::asprintf("%4d", param);
    r.texts[ColIndex] = QString::asprintf("%3d", index);
    r.texts[ColValue] = value;
    r.kind = kind;
    return r;
}

// A frame as it goes on the wire: the layout plus its CRC, high byte first.
inline Bytes withCrc(const Bytes& frame) {
    Bytes out = frame;
    const uint16_t crc = Crc16(std::span<const uint8_t>(frame).subspan(2));
    out.push_back(static_cast<uint8_t>(crc >> 8));
    out.push_back(static_cast<uint8_t>(crc & 0xFF));
    return out;
}

inline Bytes readRequest(int seq, int canal, int param, int index = 0, int32_t kind = KindPlain,
                         BusAddress address = {}) {
    return withCrc(layoutReadRequest(row(canal, param, index, kind), seq, address));
}

inline Bytes writeRequest(int seq, int canal, int param, int index, int32_t kind, const QString& value,
                          BusAddress address = {}) {
    return withCrc(layoutWriteRequest(row(canal, param, index, kind, value), seq, address).frame);
}

inline ParsedAnswer parse(const Bytes& wire) {
    AnswerAssembler a;
    return a.AssembleAnswer(wire);
}

} // namespace parvault::devsimtest
