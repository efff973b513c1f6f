#include "model.h"
#include "jetformat.h"

namespace jetgen {

Table *Database::find(const std::string &name) {
  for (Table &t : tables) {
    if (t.name == name) return &t;
  }
  return nullptr;
}

const Table *Database::find(const std::string &name) const {
  for (const Table &t : tables) {
    if (t.name == name) return &t;
  }
  return nullptr;
}

bool isFixed(ColType t) {
  return t == ColType::Integer || t == ColType::Long || t == ColType::DateTime;
}

int fixedSize(ColType t) {
  switch (t) {
    case ColType::Integer: return 2;
    case ColType::Long: return 4;
    case ColType::DateTime: return 8;
    default: return 0;
  }
}

const Format &Format::get(JetVersion v) {
  // Jet 3: 2 KB pages, 1-byte row offsets (with a jump table past 255).
  static const Format jet3{JetVersion::Jet3, 2048, 0x08, 43, 18, 128, 126, 20};
  // Jet 4: 4 KB pages, 2-byte row offsets, UCS-2 names.
  static const Format jet4{JetVersion::Jet4, 4096, 0x0c, 63, 25, 64, 128, 40};
  return v == JetVersion::Jet3 ? jet3 : jet4;
}

}  // namespace jetgen
