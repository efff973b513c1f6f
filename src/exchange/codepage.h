#pragma once

// Texts on the wire are in the OEM code page 866; the list holds Unicode
// (shown as Windows-1251 wherever bytes are needed).

#include <QByteArray>
#include <QString>

#include <span>
#include <vector>

namespace parvault {

// OEM 866 bytes to text. Stops at a zero byte, as the device's C strings do.
QString OemToAnsi(std::span<const uint8_t> bytes);
// Text to OEM 866 bytes; characters 866 lacks become '?'.
std::vector<uint8_t> AnsiToOem(const QString& text);
// OEM 866 bytes to text, every byte (a zero byte too).
QString fromOemBytes(std::span<const uint8_t> bytes);
// Text to Windows-1251 bytes: the form the digit fields are read in and the
// table file is written in; characters 1251 lacks become '?'.
QByteArray toAnsiBytes(const QString& text);
// Windows-1251 bytes to text; the one unassigned byte 0x98 becomes U+FFFD.
QString fromAnsiBytes(QByteArrayView bytes);

} // namespace parvault
