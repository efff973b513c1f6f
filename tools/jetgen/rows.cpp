#include "rows.h"

#include "textcodec.h"

#include <stdexcept>

namespace jetgen {

namespace {

void fail(const Table &t, const Column &c, const std::string &why) {
  throw std::runtime_error(t.name + "." + c.name + ": " + why);
}

void appendFixed(Bytes &out, const Table &t, const Column &c, const Value &v) {
  if (v.isNull()) {
    out.insert(out.end(), size_t(fixedSize(c.type)), 0);
    return;
  }
  switch (c.type) {
    case ColType::Integer:
      if (v.kind != Value::Kind::Int || v.i < -32768 || v.i > 32767) fail(t, c, "not a 16-bit number");
      append16(out, uint32_t(v.i));
      break;
    case ColType::Long:
      if (v.kind != Value::Kind::Int || v.i < INT32_MIN || v.i > INT32_MAX) fail(t, c, "not a 32-bit number");
      append32(out, uint32_t(int32_t(v.i)));
      break;
    case ColType::DateTime:
      if (v.kind == Value::Kind::Text) fail(t, c, "not a date");
      appendDouble(out, v.kind == Value::Kind::Int ? double(v.i) : v.d);
      break;
    default:
      fail(t, c, "not a fixed-size type");
  }
}

Bytes variableBytes(const Format &f, const Table &t, const Column &c, const Value &v,
                    LvalWriter &lval) {
  if (v.kind != Value::Kind::Text) fail(t, c, "only texts are written to variable columns");
  if (c.type == ColType::Text) {
    if (utf8Length(v.s) > size_t(c.textLength)) fail(t, c, "text longer than the field");
    return encodeText(v.s, f.version);
  }
  if (c.type == ColType::Memo) return lval.memoField(encodeText(v.s, f.version));
  fail(t, c, "only Null is written to this type");
  return {};
}

// Jet 3 keeps one byte per offset; a jump table entry marks the first offset
// slot (counting the end-of-data slot last) at or past each 256-byte step.
void appendJet3Trailer(Bytes &row, const std::vector<uint32_t> &offsets, size_t maskSize) {
  const size_t n = offsets.size() - 1;  // variable columns; the last slot is end-of-data
  const uint32_t eod = offsets.back();
  const size_t jumps = eod / 256;
  std::vector<uint8_t> jump;
  for (size_t k = 1; k <= jumps; ++k) {
    size_t i = 0;
    while (offsets[i] < k * 256) ++i;
    jump.push_back(uint8_t(i));
  }
  // Readers count jump entries from the row length, not from the data, so a
  // row whose trailer crosses a 256-byte step gets one dummy entry.
  const size_t base = eod + 1 + n + jumps + 1 + maskSize;
  size_t dummy = 0;
  if ((base - 1) / 256 != jumps) {
    dummy = 1;
    if ((base + 1 - 1) / 256 != jumps + 1) throw std::runtime_error("row length has no valid jump table");
  }
  row.push_back(uint8_t(eod & 0xff));
  for (size_t i = n; i-- > 0;) row.push_back(uint8_t(offsets[i] & 0xff));
  if (dummy) row.push_back(0xff);
  for (size_t k = jumps; k-- > 0;) row.push_back(jump[k]);
  row.push_back(uint8_t(n));
}

}  // namespace

size_t utf8Length(const std::string &s) {
  size_t n = 0;
  for (unsigned char ch : s) {
    if ((ch & 0xc0) != 0x80) ++n;
  }
  return n;
}

Bytes encodeRow(const Format &f, const Table &t, const TableLayout &l, const Row &row,
                LvalWriter &lval) {
  if (row.size() != t.columns.size()) throw std::runtime_error(t.name + ": row has the wrong number of values");
  const size_t cols = t.columns.size();
  Bytes out;
  if (f.jet3()) {
    out.push_back(uint8_t(cols));
  } else {
    append16(out, uint32_t(cols));
  }
  for (size_t i = 0; i < cols; ++i) {
    if (l.columns[i].fixed) appendFixed(out, t, t.columns[i], row[i]);
  }
  std::vector<uint32_t> offsets;  // one per variable column, then end-of-data
  for (size_t i = 0; i < cols; ++i) {
    if (l.columns[i].fixed) continue;
    offsets.push_back(uint32_t(out.size()));
    if (!row[i].isNull()) {
      const Bytes b = variableBytes(f, t, t.columns[i], row[i], lval);
      out.insert(out.end(), b.begin(), b.end());
    }
  }
  offsets.push_back(uint32_t(out.size()));

  const size_t maskSize = (cols + 7) / 8;
  if (l.varCount > 0) {
    if (f.jet3()) {
      appendJet3Trailer(out, offsets, maskSize);
    } else {
      append16(out, offsets.back());
      for (size_t i = offsets.size() - 1; i-- > 0;) append16(out, offsets[i]);
      append16(out, uint32_t(l.varCount));
    }
  }
  // Null mask: a set bit is a value that is present.
  Bytes mask(maskSize, 0);
  for (size_t i = 0; i < cols; ++i) {
    if (!row[i].isNull()) mask[i / 8] |= uint8_t(1u << (i % 8));
  }
  out.insert(out.end(), mask.begin(), mask.end());
  return out;
}

}  // namespace jetgen
