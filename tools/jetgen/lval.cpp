#include "lval.h"

#include <algorithm>

namespace jetgen {

LvalWriter::~LvalWriter() = default;

Bytes LvalWriter::memoField(const Bytes &text) {
  const uint32_t len = uint32_t(text.size());
  Bytes field;
  uint8_t flags;
  uint32_t ptr = 0;
  if (text.size() <= size_t(kMemoInlineMax)) {
    flags = kMemoInline;
  } else if (text.size() <= size_t(fmt_.lvalSingleCapacity())) {
    flags = kMemoSingleLval;
    ptr = storeSingle(text);
  } else {
    flags = kMemoLvalChain;
    ptr = storeChain(text);
  }
  // 3-byte length, then the flags byte: together one 32-bit word.
  append32(field, len | (uint32_t(flags) << 24));
  append32(field, ptr);
  append32(field, 0);
  if (flags == kMemoInline) field.insert(field.end(), text.begin(), text.end());
  return field;
}

uint32_t LvalWriter::storeSingle(const Bytes &text) {
  if (open_ && !open_->fits(text.size())) flush();
  if (!open_) open_.emplace(fmt_, file_.allocate(), 0, true);
  const int row = open_->add(text);
  return pageRow(open_->pageNo(), row);
}

uint32_t LvalWriter::storeChain(const Bytes &text) {
  const size_t cap = size_t(fmt_.lvalChunkCapacity());
  const size_t chunks = (text.size() + cap - 1) / cap;
  // Each chunk fills a page of its own; pages are numbered first so that
  // every chunk can point at the next.
  std::vector<uint32_t> pages;
  for (size_t i = 0; i < chunks; ++i) pages.push_back(file_.allocate());
  for (size_t i = 0; i < chunks; ++i) {
    DataPage page(fmt_, pages[i], 0, true);
    Bytes row;
    append32(row, i + 1 < chunks ? pageRow(pages[i + 1], 0) : 0);
    const size_t from = i * cap;
    const size_t to = std::min(text.size(), from + cap);
    row.insert(row.end(), text.begin() + long(from), text.begin() + long(to));
    page.add(row);
    page.finishInto(file_.page(pages[i]));
  }
  return pageRow(pages[0], 0);
}

void LvalWriter::flush() {
  if (!open_) return;
  open_->finishInto(file_.page(open_->pageNo()));
  open_.reset();
}

}  // namespace jetgen
