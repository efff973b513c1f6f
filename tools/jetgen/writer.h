// Writes a whole Jet database file: header page, catalogue, table
// definitions, usage maps, data and LVAL pages.
#pragma once

#include "model.h"
#include "pages.h"

#include <cstdint>
#include <string>

namespace jetgen {

struct WriteOptions {
  JetVersion version = JetVersion::Jet3;
  // Stored in the header as the engine stores a database password (ASCII).
  std::string password;
  // Non-zero: every page after the header is RC4-encrypted with this key.
  uint32_t encryptionKey = 0;
  // Non-negative: this version byte instead of the format's own (2 is the
  // first of the newer engine's formats, which keep Jet 4 pages).
  int versionByte = -1;
};

Bytes writeDatabase(const Database &db, const WriteOptions &opt);

// The catalogue rows the file will hold for db's tables, given the pages
// their definitions land on (the first user table definition is page 3).
Table catalogTable(const Database &db, JetVersion v);

}  // namespace jetgen
