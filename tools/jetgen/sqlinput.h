// The description the generator reads: the SQL subset of the demo database
// source (CREATE TABLE with LONG, SHORT, DATETIME, TEXT(n), LONGTEXT/MEMO
// columns, INSERT INTO ... VALUES with numbers, NULL and '...' texts).
#pragma once

#include "model.h"

#include <string>

namespace jetgen {

// Throws std::runtime_error with the line number on anything else.
Database parseSql(const std::string &text);
Database readSqlFile(const std::string &path);

}  // namespace jetgen
