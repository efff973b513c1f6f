#include "tabledef.h"

#include "textcodec.h"

#include <stdexcept>

namespace jetgen {

namespace {

constexpr uint8_t kUserTable = 0x4e;
constexpr uint8_t kSystemTable = 0x53;
constexpr uint8_t kColFixed = 0x01;
constexpr uint8_t kColNullable = 0x02;
// General sort order and the Western code page: what a database created with
// the locale ";LANGID=0x0409;CP=1252;COUNTRY=0" declares, whatever code page
// the texts are really in.
constexpr uint16_t kSortGeneral = 0x0409;
constexpr uint16_t kCodePage1252 = 1252;

int declaredSize(const Column &c, const Format &f) {
  switch (c.type) {
    case ColType::Text: return f.jet3() ? c.textLength : 2 * c.textLength;
    case ColType::Memo:
    case ColType::Ole: return 0;
    default: return fixedSize(c.type);
  }
}

}  // namespace

TableLayout layoutTable(const Table &t, const Format &f) {
  TableLayout l;
  int fixedOffset = 0;
  for (size_t i = 0; i < t.columns.size(); ++i) {
    const Column &c = t.columns[i];
    ColumnLayout cl;
    cl.colNum = int(i);
    cl.fixed = isFixed(c.type);
    cl.size = declaredSize(c, f);
    if (cl.fixed) {
      cl.fixedOffset = fixedOffset;
      fixedOffset += cl.size;
      ++l.fixedCount;
    } else {
      cl.varIndex = l.varCount++;
    }
    l.columns.push_back(cl);
  }
  return l;
}

Bytes tableDefinitionPage(const Format &f, const Table &t, const TableLayout &l,
                          const TableDefInfo &info) {
  Bytes p;
  p.push_back(kPageTableDef);
  p.push_back(0x01);
  if (f.jet3()) {
    p.push_back('V');
    p.push_back('C');
  } else {
    append16(p, 0);  // free space, filled in below
  }
  append32(p, 0);  // next definition page: none
  append32(p, 0);  // definition length, filled in below
  if (!f.jet3()) append32(p, 0);
  append32(p, info.rowCount);
  append32(p, 0);  // next autonumber
  if (!f.jet3()) {
    p.push_back(0x01);  // autonumber flag
    p.insert(p.end(), 3, 0);
    append32(p, 0);     // complex-type autonumber
    p.insert(p.end(), 8, 0);
  }
  p.push_back(t.system ? kSystemTable : kUserTable);
  const uint32_t cols = uint32_t(t.columns.size());
  append16(p, cols);                      // most columns a row has
  append16(p, uint32_t(l.varCount));
  append16(p, cols);
  append32(p, 0);                         // logical indexes
  append32(p, 0);                         // index entries
  append32(p, info.usageMap);
  append32(p, info.freeMap);
  if (p.size() != size_t(f.tdefColumnsStart)) throw std::logic_error("table definition header size");

  for (size_t i = 0; i < t.columns.size(); ++i) {
    const Column &c = t.columns[i];
    const ColumnLayout &cl = l.columns[i];
    const bool text = c.type == ColType::Text || c.type == ColType::Memo;
    p.push_back(uint8_t(c.type));
    if (!f.jet3()) append32(p, 0);
    append16(p, uint32_t(cl.colNum));
    append16(p, uint32_t(cl.fixed ? 0 : cl.varIndex));
    append16(p, uint32_t(cl.colNum));
    if (f.jet3()) {
      append16(p, text ? kSortGeneral : 0);
      append16(p, text ? kCodePage1252 : 0);
      append16(p, 0);
      p.push_back(uint8_t((cl.fixed ? kColFixed : 0) | kColNullable));
    } else {
      append16(p, text ? kSortGeneral : 0);
      append16(p, 0);
      p.push_back(uint8_t((cl.fixed ? kColFixed : 0) | kColNullable));
      p.push_back(0);  // not compressed
      append32(p, 0);
    }
    append16(p, uint32_t(cl.fixed ? cl.fixedOffset : 0));
    append16(p, uint32_t(cl.size));
  }
  for (const Column &c : t.columns) {
    const Bytes name = encodeText(c.name, f.version);
    if (f.jet3()) {
      if (name.size() > 255) throw std::runtime_error("column name too long: " + c.name);
      p.push_back(uint8_t(name.size()));
    } else {
      append16(p, uint32_t(name.size()));
    }
    p.insert(p.end(), name.begin(), name.end());
  }
  append16(p, 0xffff);  // end of the per-column usage map list

  if (p.size() > size_t(f.pageSize)) {
    throw std::runtime_error("table definition of " + t.name + " does not fit on one page");
  }
  const size_t used = p.size();
  put32(p, 8, uint32_t(used - 8));
  if (!f.jet3()) put16(p, 2, uint32_t(size_t(f.pageSize) - used));
  p.resize(size_t(f.pageSize), 0);
  return p;
}

}  // namespace jetgen
