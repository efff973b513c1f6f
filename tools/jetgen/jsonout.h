// The rows the generator meant to write, as JSON: a test reads the file
// back with other readers and compares against this.
#pragma once

#include "model.h"
#include "writer.h"

#include <string>

namespace jetgen {

// {"format": "jet3", "tables": {"name": {"columns": [{"name", "type"}],
// "rows": [{column: value}]}}}; Null as null. System tables are left out.
std::string expectedJson(const Database &db, const WriteOptions &opt);

}  // namespace jetgen
