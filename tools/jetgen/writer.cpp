#include "writer.h"

#include "lval.h"
#include "rows.h"
#include "tabledef.h"
#include "textcodec.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <stdexcept>

namespace jetgen {

namespace {

// Catalogue object types and the ids of the three containers.
constexpr int kObjTable = 1;
constexpr int kObjContainer = 3;
constexpr uint32_t kIdRoot = 0x0F000000;
constexpr uint32_t kIdTables = 0x0F000001;
constexpr uint32_t kIdDatabases = 0x0F000002;
constexpr uint32_t kIdRelationships = 0x0F000003;
constexpr uint32_t kFlagSystemObject = 0x80000002;
// A fixed creation time keeps regenerated files byte-identical.
constexpr double kCreated = 45306.5;  // 15 Jan 2024, 12:00

// The header page key and the engine name at offset 4.
constexpr uint8_t kHeaderKey[4] = {0xc7, 0xda, 0x39, 0x6b};
constexpr int kHeaderEncryptedFrom = 0x18;
constexpr int kVersionOffset = 0x14;
constexpr int kSortOrderOffsetJet3 = 0x3a;
constexpr int kCodePageOffset = 0x3c;
constexpr int kDbKeyOffset = 0x3e;
constexpr int kPasswordOffset = 0x42;
constexpr int kSortOrderOffsetJet4 = 0x6e;
constexpr int kCreationDateOffsetJet4 = 0x72;
// Pages that hold nothing but a usage bitmap, after a 4-byte header.
constexpr uint8_t kPageUsageBitmap = 0x05;
constexpr int kBitmapPageHeader = 4;

Column col(const char *name, ColType t, int len = 255) { return Column{name, t, len}; }

Bytes headerPage(const Format &f, const WriteOptions &opt) {
  Bytes p(size_t(f.pageSize), 0);
  p[0] = kPageHeader;
  p[1] = 0x01;
  const char *engine = opt.versionByte >= 2 ? "Standard ACE DB" : "Standard Jet DB";
  std::memcpy(&p[4], engine, std::strlen(engine) + 1);
  put32(p, kVersionOffset, uint32_t(opt.versionByte >= 0 ? opt.versionByte : (f.jet3() ? 0 : 1)));
  if (f.jet3()) put16(p, kSortOrderOffsetJet3, 0x0409);
  put16(p, kCodePageOffset, 1252);
  put32(p, kDbKeyOffset, opt.encryptionKey);
  if (!f.jet3()) {
    put16(p, kSortOrderOffsetJet4, 0x0409);
    Bytes date;
    appendDouble(date, kCreated);
    std::memcpy(&p[kCreationDateOffsetJet4], date.data(), date.size());
  }
  if (!opt.password.empty()) {
    Bytes pw = encodeText(opt.password, f.version);
    if (pw.size() > size_t(f.passwordSize)) throw std::runtime_error("password too long");
    pw.resize(size_t(f.passwordSize), 0);
    if (!f.jet3()) {
      // Jet 4 masks the password with the whole days of the creation date.
      const uint32_t days = uint32_t(int32_t(kCreated));
      for (size_t i = 0; i < pw.size(); ++i) pw[i] ^= uint8_t(days >> (8 * (i % 4)));
    }
    std::memcpy(&p[kPasswordOffset], pw.data(), pw.size());
  }
  rc4(kHeaderKey, sizeof kHeaderKey, &p[kHeaderEncryptedFrom], size_t(f.headerEncryptedSize));
  return p;
}

// A table's usage map: the bitmap inline in the row while the table's pages
// lie within its reach, else (type 1) pointers to bitmap pages of their own.
Bytes usageMap(const Format &f, PageFile &file, const std::vector<uint32_t> &pages) {
  uint32_t last = 0;
  for (uint32_t pg : pages) last = std::max(last, pg);
  Bytes m;
  if (last < uint32_t(f.usageMapPages())) {
    m.push_back(0x00);
    append32(m, 0);  // first page the bitmap describes
    m.resize(size_t(f.usageMapSize), 0);
    for (uint32_t pg : pages) m[5 + pg / 8] |= uint8_t(1u << (pg % 8));
    return m;
  }
  const uint32_t perPage = uint32_t(f.pageSize - kBitmapPageHeader) * 8;
  const size_t slots = size_t(f.usageMapSize - 1) / 4;
  if (last / perPage >= slots) throw std::runtime_error("file too large for a usage map");
  std::vector<uint32_t> bitmapPages(last / perPage + 1, 0);
  for (uint32_t pg : pages) {
    uint32_t &bp = bitmapPages[pg / perPage];
    if (bp == 0) {
      bp = file.allocate();
      file.page(bp)[0] = kPageUsageBitmap;
      file.page(bp)[1] = 0x01;
    }
    const uint32_t bit = pg % perPage;
    file.page(bp)[kBitmapPageHeader + bit / 8] |= uint8_t(1u << (bit % 8));
  }
  m.push_back(0x01);
  for (uint32_t bp : bitmapPages) append32(m, bp);
  m.resize(size_t(f.usageMapSize), 0);
  return m;
}

struct Written {
  uint32_t tdefPage = 0;
  std::vector<uint32_t> dataPages;
};

// Rows of one table onto data pages of their own, memos onto LVAL pages.
void writeRows(const Format &f, PageFile &file, const Table &t, Written &w) {
  const TableLayout layout = layoutTable(t, f);
  LvalWriter lval(f, file);
  std::optional<DataPage> page;
  auto finish = [&] {
    if (page) page->finishInto(file.page(page->pageNo()));
    page.reset();
  };
  for (const Row &r : t.rows) {
    const Bytes row = encodeRow(f, t, layout, r, lval);
    if (page && !page->fits(row.size())) finish();
    if (!page) {
      page.emplace(f, file.allocate(), w.tdefPage);
      w.dataPages.push_back(page->pageNo());
      if (!page->fits(row.size())) throw std::runtime_error(t.name + ": row larger than a page");
    }
    page->add(row);
  }
  finish();
  lval.flush();
}

}  // namespace

Table catalogTable(const Database &db, JetVersion) {
  Table cat;
  cat.name = "MSysObjects";
  cat.system = true;
  cat.columns = {col("Id", ColType::Long),          col("ParentId", ColType::Long),
                 col("Name", ColType::Text),        col("Type", ColType::Integer),
                 col("DateCreate", ColType::DateTime), col("DateUpdate", ColType::DateTime),
                 col("Flags", ColType::Long),       col("Database", ColType::Memo),
                 col("Connect", ColType::Memo),     col("ForeignName", ColType::Text),
                 col("Lv", ColType::Ole),           col("LvProp", ColType::Ole),
                 col("LvExtra", ColType::Ole)};
  auto add = [&](uint32_t id, uint32_t parent, const std::string &name, int type, uint32_t flags) {
    Row r(cat.columns.size());
    r[0] = Value::integer(int32_t(id));
    r[1] = Value::integer(int32_t(parent));
    r[2] = Value::text(name);
    r[3] = Value::integer(type);
    r[4] = Value::real(kCreated);
    r[5] = Value::real(kCreated);
    r[6] = Value::integer(int32_t(flags));
    cat.rows.push_back(r);
  };
  add(kIdTables, kIdRoot, "Tables", kObjContainer, 0);
  add(kIdDatabases, kIdRoot, "Databases", kObjContainer, 0);
  add(kIdRelationships, kIdRoot, "Relationships", kObjContainer, 0);
  add(kCatalogPage, kIdTables, "MSysObjects", kObjTable, kFlagSystemObject);
  // A table's id is the page of its definition.
  uint32_t page = kCatalogPage + 1;
  for (const Table &t : db.tables) add(page++, kIdTables, t.name, kObjTable, t.system ? kFlagSystemObject : 0);
  return cat;
}

Bytes writeDatabase(const Database &db, const WriteOptions &opt) {
  const Format &f = Format::get(opt.version);
  PageFile file(f);
  file.allocate();                          // 0: header
  const uint32_t mapPage = file.allocate();  // 1: usage maps
  std::vector<const Table *> tables;
  const Table catalog = catalogTable(db, opt.version);
  tables.push_back(&catalog);
  for (const Table &t : db.tables) tables.push_back(&t);

  std::vector<Written> written(tables.size());
  for (Written &w : written) w.tdefPage = file.allocate();  // 2, 3, ...
  if (written[0].tdefPage != kCatalogPage) throw std::logic_error("catalogue not on page 2");
  for (size_t i = 0; i < tables.size(); ++i) writeRows(f, file, *tables[i], written[i]);

  DataPage maps(f, mapPage, 0);
  const Bytes emptyMap = usageMap(f, file, {});
  for (size_t i = 0; i < tables.size(); ++i) {
    const Bytes used = usageMap(f, file, written[i].dataPages);
    if (!maps.fits(used.size() + emptyMap.size())) throw std::runtime_error("too many tables for one map page");
    TableDefInfo info;
    info.rowCount = uint32_t(tables[i]->rows.size());
    info.usageMap = pageRow(mapPage, maps.add(used));
    info.freeMap = pageRow(mapPage, maps.add(emptyMap));
    file.page(written[i].tdefPage) =
        tableDefinitionPage(f, *tables[i], layoutTable(*tables[i], f), info);
  }
  maps.finishInto(file.page(mapPage));
  file.page(0) = headerPage(f, opt);

  if (opt.encryptionKey != 0) {
    for (uint32_t pg = 1; pg < file.count(); ++pg) {
      const uint32_t k = opt.encryptionKey ^ pg;
      const uint8_t key[4] = {uint8_t(k), uint8_t(k >> 8), uint8_t(k >> 16), uint8_t(k >> 24)};
      rc4(key, 4, file.page(pg).data(), size_t(f.pageSize));
    }
  }
  return file.join();
}

}  // namespace jetgen
