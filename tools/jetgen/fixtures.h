// The fixture sets: the files the project's tests read, built from the demo
// main database's SQL source and from rows made here.
#pragma once

#include "model.h"
#include "writer.h"

#include <string>
#include <vector>

namespace jetgen {

struct Fixture {
  std::string path;     // relative to the fixture folder
  Database db;
  WriteOptions opt;
  // Damage done after writing: cut the file to this many bytes, or turn the
  // definition page of this table into a data page.
  size_t truncateTo = 0;
  std::string brokenTable;
};

// main is the demo main database (ТипыПриборов and Параметры).
std::vector<Fixture> fixtureSet(const Database &main);

// A list file of n rows of device type 20, for timing loads.
Database benchList(int rows);

}  // namespace jetgen
