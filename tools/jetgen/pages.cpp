#include "pages.h"

#include <cstring>
#include <stdexcept>
#include <utility>

namespace jetgen {

void put16(Bytes &b, size_t at, uint32_t v) {
  b.at(at) = uint8_t(v);
  b.at(at + 1) = uint8_t(v >> 8);
}

void put32(Bytes &b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.at(at + i) = uint8_t(v >> (8 * i));
}

void append16(Bytes &b, uint32_t v) {
  b.push_back(uint8_t(v));
  b.push_back(uint8_t(v >> 8));
}

void append32(Bytes &b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
}

void appendDouble(Bytes &b, double v) {
  uint64_t bits;
  static_assert(sizeof bits == sizeof v);
  std::memcpy(&bits, &v, sizeof bits);
  for (int i = 0; i < 8; ++i) b.push_back(uint8_t(bits >> (8 * i)));
}

void rc4(const uint8_t *key, size_t keyLen, uint8_t *data, size_t len) {
  uint8_t s[256];
  for (int i = 0; i < 256; ++i) s[i] = uint8_t(i);
  uint8_t j = 0;
  for (int i = 0; i < 256; ++i) {
    j = uint8_t(j + s[i] + key[i % keyLen]);
    std::swap(s[i], s[j]);
  }
  uint8_t x = 0, y = 0;
  for (size_t n = 0; n < len; ++n) {
    x = uint8_t(x + 1);
    y = uint8_t(y + s[x]);
    std::swap(s[x], s[y]);
    data[n] ^= s[uint8_t(s[x] + s[y])];
  }
}

uint32_t PageFile::allocate() {
  pages_.emplace_back(size_t(fmt_.pageSize), uint8_t(0));
  return uint32_t(pages_.size() - 1);
}

Bytes PageFile::join() const {
  Bytes out;
  out.reserve(pages_.size() * size_t(fmt_.pageSize));
  for (const Bytes &p : pages_) out.insert(out.end(), p.begin(), p.end());
  return out;
}

DataPage::DataPage(const Format &f, uint32_t pageNo, uint32_t owner, bool lval)
    : fmt_(f), pageNo_(pageNo), buf_(size_t(f.pageSize), 0), freeEnd_(f.pageSize) {
  buf_[0] = kPageData;
  buf_[1] = 0x01;
  if (lval) {
    std::memcpy(&buf_[4], "LVAL", 4);
  } else {
    put32(buf_, 4, owner);
  }
}

bool DataPage::fits(size_t rowLen) const {
  const size_t tableEnd = size_t(fmt_.dataHeaderSize()) + 2 * size_t(rows_ + 1);
  return rows_ < kMaxRows && tableEnd + rowLen <= size_t(freeEnd_);
}

int DataPage::add(const Bytes &row) {
  if (!fits(row.size())) throw std::runtime_error("row does not fit on the page");
  freeEnd_ -= int(row.size());
  std::memcpy(&buf_[size_t(freeEnd_)], row.data(), row.size());
  put16(buf_, size_t(fmt_.dataHeaderSize() + 2 * rows_), uint32_t(freeEnd_));
  return rows_++;
}

void DataPage::finishInto(Bytes &page) const {
  page = buf_;
  put16(page, size_t(fmt_.rowCountOffset), uint32_t(rows_));
  const int tableEnd = fmt_.dataHeaderSize() + 2 * rows_;
  put16(page, 2, uint32_t(freeEnd_ - tableEnd));
}

}  // namespace jetgen
