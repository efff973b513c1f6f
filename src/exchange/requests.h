#pragma once

// Read and write requests, laid out from a row's texts as the list shows them.
// The layouts are pure; BuildReadRequest adds the send.

#include "connectionsettings.h"
#include "frame.h"
#include "rowtable.h"

#include <QString>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace parvault {

// The parameter number a data-block request always asks for.
inline constexpr const char* kDataBlockParam = "65530";
// A write request is built in this many bytes, which must also hold the
// address block and a terminating zero.
inline constexpr int kWriteBufferSize = 128;

BusAddress busAddressFrom(const ConnectionSettings& settings);

// A blank becomes '0'; every other character stays.
char PadDigit(char c);

// The three-character fields, from the column texts. A text these rules
// cannot use gives the default ("000" for channel and index, "003" for the
// parameter), except an index text of 0 or more than 3 characters, which
// leaves HT NUL NUL: a device cannot mistake that for a real index and
// answers with an error rather than with another index's value.
std::array<uint8_t, 3> channelField(const QString& text);
std::array<uint8_t, 3> parameterField(const QString& text);
std::array<uint8_t, 3> indexField(const QString& text);

// The read request for a row (kinds 0, 1 and 25; any other kind is cut after
// the first parameter digit), DLE SOH through DLE ETX, address block included.
std::vector<uint8_t> layoutReadRequest(const ParamRow& row, int rowIndex, const BusAddress& address);
// Lays out the read request for table row rowIndex and sends it.
void BuildReadRequest(ExchangeShared& shared, FrameSink& sink, const RowTable& table, int rowIndex,
                      const BusAddress& address);

struct WriteRequest {
    enum Status { Ok, ValueTooLong };
    Status status = Ok;
    std::vector<uint8_t> frame; // empty unless status is Ok
};

// The write request for a row: its value column converted to OEM 866. A value
// that would not fit the write buffer is refused whole, never sent cut.
WriteRequest layoutWriteRequest(const ParamRow& row, int rowIndex, const BusAddress& address);

} // namespace parvault
