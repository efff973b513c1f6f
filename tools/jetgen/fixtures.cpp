#include "fixtures.h"

#include <stdexcept>

namespace jetgen {

namespace {

// Deterministic numbers, so that regenerated fixtures are byte-identical.
class Lcg {
 public:
  explicit Lcg(uint32_t seed) : s_(seed) {}
  uint32_t next(uint32_t n) {
    s_ = s_ * 1103515245u + 12345u;
    return (s_ >> 8) % n;
  }

 private:
  uint32_t s_;
};

Table paramsTable() {
  Table t;
  t.name = "Параметры";
  for (const char *n : {"canal", "param", "index", "edizm", "flag_dt"}) t.columns.push_back({n, ColType::Long, 0});
  t.columns.push_back({"data", ColType::Text, 255});
  t.columns.push_back({"text", ColType::Memo, 0});
  for (const char *n : {"type_spiska", "type_zapros", "kod_type_pribor"}) t.columns.push_back({n, ColType::Long, 0});
  return t;
}

Table listTable(int type, const std::string &name) {
  Table t;
  t.name = "Список";
  t.columns = {{"kod_type_pribor", ColType::Long, 0}, {"name", ColType::Text, 255}, {"number", ColType::Long, 0}};
  t.rows.push_back({Value::integer(type), Value::text(name), Value::null()});
  return t;
}

Value num(int64_t v) { return Value::integer(v); }

const char *const kWords[] = {
    "температура", "давление", "расход", "теплоносителя", "в подающем", "в обратном",
    "трубопроводе", "канала", "датчика", "нижняя", "верхняя", "граница", "уставка",
    "коэффициент", "архива", "суточного", "часового", "месячного", "ввода", "контура",
    "насоса", "резервного", "отопления", "горячего водоснабжения", "Ёмкость", "счётчика"};

std::string phrase(Lcg &rnd, size_t minChars) {
  std::string s = "Параметр";
  size_t chars = 8;
  while (chars < minChars) {
    const char *w = kWords[rnd.next(sizeof kWords / sizeof *kWords)];
    s += ' ';
    s += w;
    chars += 1;
    for (const char *p = w; *p; ++p) chars += ((*p & 0xc0) != 0x80);
  }
  return s;
}

struct ParamSpec {
  int param;
  int indices;  // 0: plain parameter
  int kind;     // request kind
};

// Rows of a saved list of one device type, ordered by channel, parameter and
// index as the program keeps them.
Table listRows(int type, int channels, const std::vector<ParamSpec> &params, uint32_t seed, bool values) {
  Table t = paramsTable();
  Lcg rnd(seed);
  for (int canal = 0; canal < channels; ++canal) {
    for (const ParamSpec &p : params) {
      const int n = p.indices ? p.indices : 1;
      for (int index = 0; index < n; ++index) {
        Row r(t.columns.size());
        r[0] = num(canal);
        r[1] = num(p.param);
        r[2] = num(index);
        r[3] = num(rnd.next(14));
        // Memo lengths: mostly short names kept inline, some on LVAL pages.
        const uint32_t pick = rnd.next(40);
        r[6] = Value::text(phrase(rnd, pick == 0 ? 260 : pick < 4 ? 70 : 20));
        if (values) {
          const uint32_t state = rnd.next(10);
          if (state < 7) {
            r[4] = num(1);
            r[5] = Value::text(std::to_string(rnd.next(100000)) + "." + std::to_string(rnd.next(1000)));
          } else if (state < 9) {
            r[4] = num(0);
            r[5] = Value::text(state == 7 ? "Нет ответа" : "Ошибка 3: нет параметра");
          }
        }
        r[7] = values ? num(0) : Value::null();
        r[8] = num(p.kind ? p.kind : (p.indices ? 1 : 0));
        r[9] = num(type);
        t.rows.push_back(std::move(r));
      }
    }
  }
  return t;
}

Database listFile(int type, const std::string &name, Table params) {
  Database db;
  db.tables.push_back(std::move(params));
  db.tables.push_back(listTable(type, name));
  return db;
}

// Several hundred rows over many data pages: parameters below and above
// 300, indexed ones, a data block, memo names inline, on shared LVAL pages
// and over chains of LVAL pages, and a value long enough to push a Jet 3 row
// past 256 bytes.
Database largeList(uint32_t seed, int rowsTarget, size_t chainChars) {
  std::vector<ParamSpec> params = {{1, 0, 0},   {2, 0, 0},   {3, 0, 0},   {4, 0, 0},   {8, 0, 0},
                                   {10, 0, 0},  {11, 0, 0},  {12, 0, 0},  {13, 0, 0},  {100, 8, 0},
                                   {101, 12, 0}, {150, 4, 0}, {299, 0, 0}, {300, 0, 0}, {301, 0, 0},
                                   {302, 0, 0}, {310, 6, 0},  {320, 0, 0}, {350, 0, 25}, {400, 16, 0}};
  int perChannel = 0;
  for (const ParamSpec &p : params) perChannel += p.indices ? p.indices : 1;
  const int channels = (rowsTarget + perChannel - 1) / perChannel;
  Table t = listRows(20, channels, params, seed, true);
  Lcg rnd(seed ^ 0x5a5a);
  t.rows[5][6] = Value::text(phrase(rnd, chainChars));
  t.rows[t.rows.size() / 2][6] = Value::text(phrase(rnd, chainChars * 2));
  t.rows[7][5] = Value::text(std::string(240, '7'));
  t.rows[7][4] = num(1);
  t.rows[9][5] = Value::text("12.5   ");  // trailing spaces are kept
  t.rows[11][5] = Value::text("");        // empty, not Null
  t.rows[12][6] = Value::text("");
  return listFile(20, "Полный список ТВ-20 (все каналы)", std::move(t));
}

// A freshly saved list: the fields a save does not carry are Null.
Database nullsList(const Database &main) {
  Database db;
  Table t = paramsTable();
  const Table *templ = main.find("Параметры");
  if (!templ) throw std::runtime_error("the main database has no Параметры");
  for (const Row &src : templ->rows) {
    if (src[9].i != 5) continue;
    Row r(t.columns.size());
    for (int i : {0, 1, 2, 3, 6, 8, 9}) r[size_t(i)] = src[size_t(i)];
    t.rows.push_back(std::move(r));
  }
  t.rows[1][6] = Value::null();  // a row without a name
  t.rows[2][3] = Value::null();  // and one without a units code
  db.tables.push_back(std::move(t));
  Table head = listTable(5, "Замеры КГ-5  ");
  db.tables.push_back(std::move(head));
  return db;
}

// Only the first row of Список counts; this file has two.
Database twoHeadsList() {
  Table t = listRows(2, 1, {{1, 0, 0}, {300, 0, 0}, {301, 0, 0}}, 7, true);
  Database db = listFile(2, "Адаптер: первый заголовок", std::move(t));
  db.tables[1].rows.push_back({num(2), Value::text("Адаптер: второй заголовок"), num(2)});
  return db;
}

// Someone else's database: no parameter tables at all.
Database otherApp() {
  Database db;
  Table clients;
  clients.name = "Клиенты";
  clients.columns = {{"Код", ColType::Long, 0}, {"Фамилия", ColType::Text, 50}, {"Примечание", ColType::Memo, 0}};
  clients.rows = {{num(1), Value::text("Иванов"), Value::text("Постоянный клиент")},
                  {num(2), Value::text("Петрова"), Value::null()}};
  Table orders;
  orders.name = "Заказы";
  orders.columns = {{"Номер", ColType::Long, 0}, {"Клиент", ColType::Long, 0}, {"Сумма", ColType::Long, 0},
                    {"Дата", ColType::DateTime, 0}};
  orders.rows = {{num(101), num(1), num(1500), Value::real(45292.0)},
                 {num(102), num(2), num(320), Value::real(45293.25)}};
  db.tables = {clients, orders};
  return db;
}

Fixture fixture(std::string path, Database db, WriteOptions opt) {
  Fixture f;
  f.path = std::move(path);
  f.db = std::move(db);
  f.opt = opt;
  return f;
}

WriteOptions jet(JetVersion v) {
  WriteOptions o;
  o.version = v;
  return o;
}

}  // namespace

std::vector<Fixture> fixtureSet(const Database &main) {
  std::vector<Fixture> set;
  const WriteOptions j3 = jet(JetVersion::Jet3), j4 = jet(JetVersion::Jet4);
  set.push_back(fixture("demo-jet3/PARVLT2.mdb", main, j3));
  set.push_back(fixture("demo-jet3/240115093000.mdb", largeList(1, 480, 2300), j3));
  set.push_back(fixture("demo-jet3/240116101500.mdb", nullsList(main), j3));
  set.push_back(fixture("demo-jet3/240118080000.mdb", twoHeadsList(), j3));
  set.push_back(fixture("demo-jet4/PARVLT2.mdb", main, j4));
  set.push_back(fixture("demo-jet4/240117120000.mdb", largeList(2, 200, 2100), j4));

  set.push_back(fixture("bad/other-app.mdb", otherApp(), j3));
  Fixture truncated = fixture("bad/truncated.mdb", nullsList(main), j3);
  // Pages: header, maps, three definitions, the catalogue rows, then the
  // first data page of Параметры, which the cut goes through.
  truncated.truncateTo = 6 * 2048 + 1000;
  set.push_back(truncated);
  Fixture broken = fixture("bad/damaged.mdb", nullsList(main), j3);
  broken.brokenTable = "Параметры";
  set.push_back(broken);
  Fixture password = fixture("bad/password.mdb", nullsList(main), j3);
  password.opt.password = "parvault";
  set.push_back(password);
  Fixture password4 = fixture("bad/password-jet4.mdb", nullsList(main), j4);
  password4.opt.password = "parvault";
  set.push_back(password4);
  Fixture encrypted = fixture("bad/encrypted.mdb", nullsList(main), j3);
  encrypted.opt.encryptionKey = 0x3a5c7e91;
  set.push_back(encrypted);
  Fixture ace = fixture("bad/ace-header.mdb", nullsList(main), j4);
  ace.opt.versionByte = 2;
  set.push_back(ace);
  return set;
}

Database benchList(int rows) {
  if (rows < 1) throw std::runtime_error("a list needs at least one row");
  std::vector<ParamSpec> params;
  for (int p = 1; p <= 50; ++p) params.push_back({p * 8, p % 5 == 0 ? 10 : 0, 0});
  int perChannel = 0;
  for (const ParamSpec &p : params) perChannel += p.indices ? p.indices : 1;
  Table t = listRows(20, (rows + perChannel - 1) / perChannel, params, 99, true);
  t.rows.resize(size_t(rows));
  return listFile(20, "Большой список для замера времени", std::move(t));
}

}  // namespace jetgen
