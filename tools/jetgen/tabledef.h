// A table's column layout and its table definition (TDEF) page.
#pragma once

#include "model.h"
#include "pages.h"

#include <vector>

namespace jetgen {

struct ColumnLayout {
  int colNum = 0;       // position in the table, also the null mask bit
  bool fixed = false;
  int fixedOffset = 0;  // fixed columns: bytes after the row's column count
  int varIndex = 0;     // variable columns: slot in the row's offset table
  int size = 0;         // bytes as declared in the definition
};

struct TableLayout {
  std::vector<ColumnLayout> columns;
  int fixedCount = 0;
  int varCount = 0;
};

TableLayout layoutTable(const Table &t, const Format &f);

struct TableDefInfo {
  uint32_t rowCount = 0;
  uint32_t usageMap = 0;  // page/row of the usage map of the table's data pages
  uint32_t freeMap = 0;   // page/row of the map of pages with free space
};

// The definition of a table without indexes; throws when it would not fit
// on one page.
Bytes tableDefinitionPage(const Format &f, const Table &t, const TableLayout &l,
                          const TableDefInfo &info);

}  // namespace jetgen
