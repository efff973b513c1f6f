// Layout constants of the two Jet page formats the generator writes.
#pragma once

#include <cstdint>

namespace jetgen {

enum class JetVersion { Jet3, Jet4 };

struct Format {
  JetVersion version;
  int pageSize;
  // Data and LVAL pages: the row count, followed by the row offset table.
  int rowCountOffset;
  // Table definition: start of the column entries (no indexes are written).
  int tdefColumnsStart;
  int columnEntrySize;
  // A table usage map row: type byte, first page, bitmap.
  int usageMapSize;
  // Inside the encrypted stretch of the header page.
  int headerEncryptedSize;
  int passwordSize;

  bool jet3() const { return version == JetVersion::Jet3; }
  int dataHeaderSize() const { return rowCountOffset + 2; }
  int rowColumnCountSize() const { return jet3() ? 1 : 2; }
  // Payload of one chunk of a memo spread over several LVAL pages: a page
  // with one row and a 4-byte pointer to the next chunk.
  int lvalChunkCapacity() const { return pageSize - dataHeaderSize() - 2 - 4; }
  // A memo kept whole on one shared LVAL page.
  int lvalSingleCapacity() const { return pageSize - dataHeaderSize() - 2; }
  int usageMapPages() const { return (usageMapSize - 5) * 8; }

  static const Format &get(JetVersion v);
};

// Page type bytes.
constexpr uint8_t kPageHeader = 0x00;
constexpr uint8_t kPageData = 0x01;
constexpr uint8_t kPageTableDef = 0x02;

// The catalogue's table definition is always page 2.
constexpr uint32_t kCatalogPage = 2;

// Memo header: 3-byte length, flags byte, page/row pointer, 4 spare bytes.
constexpr int kMemoHeaderSize = 12;
constexpr uint8_t kMemoInline = 0x80;
constexpr uint8_t kMemoSingleLval = 0x40;
constexpr uint8_t kMemoLvalChain = 0x00;
// Memos up to this many encoded bytes stay inside the row; longer ones go to
// LVAL pages, as the engine does with long names.
constexpr int kMemoInlineMax = 64;

// A pointer to a row elsewhere: page number in the upper 24 bits.
inline uint32_t pageRow(uint32_t page, int row) { return (page << 8) | uint32_t(row & 0xff); }

}  // namespace jetgen
