// One table row as the data page stores it.
#pragma once

#include "lval.h"
#include "model.h"
#include "tabledef.h"

namespace jetgen {

// Memo texts too long for the row go to LVAL pages through lval.
Bytes encodeRow(const Format &f, const Table &t, const TableLayout &l, const Row &row,
                LvalWriter &lval);

size_t utf8Length(const std::string &s);

}  // namespace jetgen
