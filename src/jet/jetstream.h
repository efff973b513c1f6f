#pragma once

// The stream parvault2-jetread writes: every user table of the file with its
// columns and rows. Binary and length-prefixed, so any text passes unchanged.
//
//   magic     "PVJET1\n"
//   table     'T' u32 nameLength name u16 columnCount
//             columnCount × (u8 type, u32 nameLength name)
//   row       'R' columnCount × value
//   value     u32 length (kNullLength for Null) and that many bytes of UTF-8
//   end       'E'
//
// Integers are little-endian. Numbers come as decimal text; the column type
// says how to store them.
//
// With --batch, the files named are read in turn, each as
//
//   file      'F' u32 index (of the file among those named)
//   data      'D' u32 length, and that many bytes of the file's stream
//   status    'S' u8 ReadStatus (the stream counts only when it is kReadOk)

#include <cstdint>
#include <string_view>

namespace parvault::jet {

inline constexpr std::string_view kStreamMagic = "PVJET1\n";
inline constexpr char kTagTable = 'T';
inline constexpr char kTagRow = 'R';
inline constexpr char kTagEnd = 'E';
inline constexpr char kTagFile = 'F';
inline constexpr char kTagData = 'D';
inline constexpr char kTagStatus = 'S';
inline constexpr uint32_t kNullLength = 0xFFFFFFFFu;

// Column types as the stream carries them (the Jet type codes).
enum ColumnType : uint8_t {
    kColBool = 1,
    kColByte = 2,
    kColInt = 3,
    kColLong = 4,
    kColMoney = 5,
    kColFloat = 6,
    kColDouble = 7,
    kColDateTime = 8,
    kColBinary = 9,
    kColText = 10,
    kColOle = 11,
    kColMemo = 12,
};

} // namespace parvault::jet
