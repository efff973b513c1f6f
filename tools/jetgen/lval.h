// Long values (memo texts): short ones inline in the row, longer ones as a
// whole row on a shared LVAL page, the longest as a chain of LVAL pages.
#pragma once

#include "pages.h"

#include <optional>

namespace jetgen {

class LvalWriter {
 public:
  LvalWriter(const Format &f, PageFile &file) : fmt_(f), file_(file) {}
  ~LvalWriter();
  LvalWriter(const LvalWriter &) = delete;
  LvalWriter &operator=(const LvalWriter &) = delete;

  // The memo field as it stands in the row: the 12-byte header, followed by
  // the text itself when it is kept inline.
  Bytes memoField(const Bytes &text);
  // Writes the LVAL page still being filled into the file.
  void flush();

 private:
  uint32_t storeSingle(const Bytes &text);
  uint32_t storeChain(const Bytes &text);

  const Format &fmt_;
  PageFile &file_;
  std::optional<DataPage> open_;
};

}  // namespace jetgen
