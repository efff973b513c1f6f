// The file as a list of fixed-size pages, and the builder of data pages
// (rows stored from the end of the page towards its header).
#pragma once

#include "jetformat.h"

#include <cstdint>
#include <string>
#include <vector>

namespace jetgen {

using Bytes = std::vector<uint8_t>;

void put16(Bytes &b, size_t at, uint32_t v);
void put32(Bytes &b, size_t at, uint32_t v);
void append16(Bytes &b, uint32_t v);
void append32(Bytes &b, uint32_t v);
void appendDouble(Bytes &b, double v);

// RC4 in place: the header page and encrypted pages use it.
void rc4(const uint8_t *key, size_t keyLen, uint8_t *data, size_t len);

class PageFile {
 public:
  explicit PageFile(const Format &f) : fmt_(f) {}
  uint32_t allocate();                 // a zeroed page, its number returned
  Bytes &page(uint32_t n) { return pages_.at(n); }
  uint32_t count() const { return uint32_t(pages_.size()); }
  Bytes join() const;

 private:
  const Format &fmt_;
  std::vector<Bytes> pages_;
};

// One data page (or LVAL page) being filled. owner is the table definition
// page for table rows; LVAL pages carry the word "LVAL" there instead.
class DataPage {
 public:
  DataPage(const Format &f, uint32_t pageNo, uint32_t owner, bool lval = false);
  bool fits(size_t rowLen) const;
  int add(const Bytes &row);           // returns the row number on the page
  int rows() const { return rows_; }
  uint32_t pageNo() const { return pageNo_; }
  void finishInto(Bytes &page) const;

  // Most rows a page may hold: a page/row pointer has one byte for the row.
  static constexpr int kMaxRows = 255;

 private:
  const Format &fmt_;
  uint32_t pageNo_;
  Bytes buf_;
  int rows_ = 0;
  int freeEnd_;
};

}  // namespace jetgen
