// parvault2-jetgen: writes Jet database files for the project's tests.
//
//   parvault2-jetgen fixtures OUTDIR --demo-sql data/parvlt2.sql
//   parvault2-jetgen sql IN.sql OUT.mdb [--jet4] [--json FILE] [--password P]
//                    [--encrypt-key HEX] [--version-byte N]
//   parvault2-jetgen bench-list OUT.mdb [--rows N] [--jet4] [--json FILE]
//
// Every file comes with the rows it was meant to hold as JSON (fixtures:
// OUTDIR/expected/<path>.json), for readers to be checked against.
#include "fixtures.h"
#include "jsonout.h"
#include "sqlinput.h"
#include "writer.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <stdexcept>
#include <string>

namespace fs = std::filesystem;
using namespace jetgen;

namespace {

constexpr int kBenchRows = 10000;

void writeFile(const fs::path &path, const void *data, size_t size) {
  if (path.has_parent_path()) fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(static_cast<const char *>(data), std::streamsize(size));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

void writeBytes(const fs::path &path, const Bytes &b) { writeFile(path, b.data(), b.size()); }
void writeText(const fs::path &path, const std::string &s) { writeFile(path, s.data(), s.size()); }

// Options after the positional arguments: "--flag" or "--name value".
struct Args {
  std::vector<std::string> positional;
  std::map<std::string, std::string> named;

  bool has(const std::string &k) const { return named.count(k) != 0; }
  std::string get(const std::string &k, const std::string &dflt = "") const {
    auto it = named.find(k);
    return it == named.end() ? dflt : it->second;
  }
};

Args parseArgs(int argc, char **argv) {
  static const char *const kFlags[] = {"--jet4"};
  Args a;
  for (int i = 2; i < argc; ++i) {
    const std::string s = argv[i];
    if (s.rfind("--", 0) != 0) {
      a.positional.push_back(s);
      continue;
    }
    bool flag = false;
    for (const char *f : kFlags) flag = flag || s == f;
    if (flag) {
      a.named[s] = "1";
    } else if (i + 1 < argc) {
      a.named[s] = argv[++i];
    } else {
      throw std::runtime_error(s + " needs a value");
    }
  }
  return a;
}

void writeWithJson(const Database &db, const WriteOptions &opt, const fs::path &out, const std::string &json) {
  writeBytes(out, writeDatabase(db, opt));
  if (!json.empty()) writeText(json, expectedJson(db, opt));
}

void damage(Bytes &file, const Fixture &f) {
  const Format &fmt = Format::get(f.opt.version);
  if (!f.brokenTable.empty()) {
    for (size_t i = 0; i < f.db.tables.size(); ++i) {
      // User table definitions follow the catalogue's, one page each.
      if (f.db.tables[i].name == f.brokenTable) file.at((kCatalogPage + 1 + i) * size_t(fmt.pageSize)) = kPageData;
    }
  }
  if (f.truncateTo) file.resize(f.truncateTo);
}

int runFixtures(const Args &a) {
  if (a.positional.size() != 1 || !a.has("--demo-sql")) throw std::runtime_error("usage: fixtures OUTDIR --demo-sql FILE");
  const fs::path dir = a.positional[0];
  const Database main = readSqlFile(a.get("--demo-sql"));
  for (const Fixture &f : fixtureSet(main)) {
    Bytes file = writeDatabase(f.db, f.opt);
    damage(file, f);
    writeBytes(dir / f.path, file);
    fs::path json = dir / "expected" / f.path;
    json.replace_extension(".json");
    writeText(json, expectedJson(f.db, f.opt));
    std::cout << f.path << " " << file.size() << "\n";
  }
  return 0;
}

int runSql(const Args &a) {
  if (a.positional.size() != 2) throw std::runtime_error("usage: sql IN.sql OUT.mdb [options]");
  WriteOptions opt;
  opt.version = a.has("--jet4") ? JetVersion::Jet4 : JetVersion::Jet3;
  opt.password = a.get("--password");
  opt.encryptionKey = uint32_t(std::stoul(a.get("--encrypt-key", "0"), nullptr, 16));
  opt.versionByte = std::stoi(a.get("--version-byte", "-1"));
  writeWithJson(readSqlFile(a.positional[0]), opt, a.positional[1], a.get("--json"));
  return 0;
}

int runBench(const Args &a) {
  if (a.positional.size() != 1) throw std::runtime_error("usage: bench-list OUT.mdb [--rows N] [--jet4] [--json FILE]");
  WriteOptions opt;
  opt.version = a.has("--jet4") ? JetVersion::Jet4 : JetVersion::Jet3;
  const int rows = std::stoi(a.get("--rows", std::to_string(kBenchRows)));
  writeWithJson(benchList(rows), opt, a.positional[0], a.get("--json"));
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 2) {
    std::cerr << "usage: parvault2-jetgen fixtures|sql|bench-list ...\n";
    return 2;
  }
  try {
    const std::string cmd = argv[1];
    const Args a = parseArgs(argc, argv);
    if (cmd == "fixtures") return runFixtures(a);
    if (cmd == "sql") return runSql(a);
    if (cmd == "bench-list") return runBench(a);
    std::cerr << "unknown command: " << cmd << "\n";
    return 2;
  } catch (const std::exception &e) {
    std::cerr << "parvault2-jetgen: " << e.what() << "\n";
    return 1;
  }
}
