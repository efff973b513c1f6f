#pragma once

// Frames and optical messages in words, for the exchange log: function code
// and its meaning, sequence number, channel / parameter / index, value and
// units (code page 866), the device's error text, and whether the CRC holds.
// Pure functions over bytes.

#include <QString>

#include <cstdint>
#include <span>

namespace parvault {

enum class FrameDirection {
    Request, // sent by the program
    Answer,  // taken from the device
};

// The function code's meaning in the given direction ("неизвестная функция"
// for a code the program neither sends nor understands).
QString FunctionMeaning(uint8_t code, FrameDirection direction);

// Upper-case hex, one space between bytes.
QString HexBytes(std::span<const uint8_t> bytes);

// What the bytes say. A request is a whole txFrame's frame (DLE SOH through
// the CRC) or an optical message; an answer is one delivery of the link,
// which may be a whole frame (with stray bytes around it), an identification
// line, an acknowledgement, or a piece of any of them.
QString DecodeBytes(std::span<const uint8_t> bytes, FrameDirection direction);

} // namespace parvault
