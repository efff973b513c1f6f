// What a generated Jet file holds: tables of typed columns and rows, with
// texts kept as UTF-8 until a page writer encodes them for the file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace jetgen {

// Jet column type codes as they stand in a table definition.
enum class ColType : uint8_t {
  Integer = 0x03,  // 16-bit
  Long = 0x04,     // 32-bit
  DateTime = 0x08, // double, days since 1899-12-30
  Text = 0x0A,
  Ole = 0x0B,      // long binary; only Null is written
  Memo = 0x0C,
};

struct Column {
  std::string name;
  ColType type = ColType::Long;
  int textLength = 255;  // characters, Text only
};

struct Value {
  enum class Kind { Null, Int, Real, Text };
  Kind kind = Kind::Null;
  int64_t i = 0;
  double d = 0;
  std::string s;  // UTF-8

  static Value null() { return {}; }
  static Value integer(int64_t v) { Value r; r.kind = Kind::Int; r.i = v; return r; }
  static Value real(double v) { Value r; r.kind = Kind::Real; r.d = v; return r; }
  static Value text(std::string v) { Value r; r.kind = Kind::Text; r.s = std::move(v); return r; }
  bool isNull() const { return kind == Kind::Null; }
};

using Row = std::vector<Value>;

struct Table {
  std::string name;
  std::vector<Column> columns;
  std::vector<Row> rows;
  bool system = false;  // marked as a system table in the catalogue and its definition
};

struct Database {
  std::vector<Table> tables;
  Table *find(const std::string &name);
  const Table *find(const std::string &name) const;
};

bool isFixed(ColType t);
int fixedSize(ColType t);  // bytes in the row, fixed types only

}  // namespace jetgen
