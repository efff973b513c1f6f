#include "sqlinput.h"

#include <cctype>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace jetgen {

namespace {

struct Token {
  enum class Kind { Word, Name, String, Number, Punct, End } kind;
  std::string text;
  int line;
};

class Lexer {
 public:
  explicit Lexer(const std::string &s) : s_(s) {}

  Token next() {
    skipSpace();
    if (pos_ >= s_.size()) return {Token::Kind::End, "", line_};
    const char c = s_[pos_];
    if (c == '[') {
      const size_t end = s_.find(']', pos_);
      if (end == std::string::npos) fail("unclosed [");
      Token t{Token::Kind::Name, s_.substr(pos_ + 1, end - pos_ - 1), line_};
      pos_ = end + 1;
      return t;
    }
    if (c == '\'') return quoted();
    if (std::isdigit(static_cast<unsigned char>(c)) || c == '-' || c == '.') return number();
    if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
      const size_t from = pos_;
      while (pos_ < s_.size() && (std::isalnum(static_cast<unsigned char>(s_[pos_])) || s_[pos_] == '_')) ++pos_;
      std::string w = s_.substr(from, pos_ - from);
      for (char &ch : w) ch = char(std::toupper(static_cast<unsigned char>(ch)));
      return {Token::Kind::Word, w, line_};
    }
    ++pos_;
    return {Token::Kind::Punct, std::string(1, c), line_};
  }

  [[noreturn]] void fail(const std::string &why) const {
    throw std::runtime_error("line " + std::to_string(line_) + ": " + why);
  }

 private:
  void skipSpace() {
    while (pos_ < s_.size()) {
      if (s_[pos_] == '\n') {
        ++line_;
        ++pos_;
      } else if (std::isspace(static_cast<unsigned char>(s_[pos_]))) {
        ++pos_;
      } else if (s_.compare(pos_, 2, "--") == 0) {
        while (pos_ < s_.size() && s_[pos_] != '\n') ++pos_;
      } else {
        break;
      }
    }
  }

  Token quoted() {
    std::string out;
    const int line = line_;
    for (++pos_; pos_ < s_.size(); ++pos_) {
      if (s_[pos_] == '\'') {
        if (pos_ + 1 < s_.size() && s_[pos_ + 1] == '\'') {
          out += '\'';
          ++pos_;
          continue;
        }
        ++pos_;
        return {Token::Kind::String, out, line};
      }
      if (s_[pos_] == '\n') ++line_;
      out += s_[pos_];
    }
    fail("unclosed text");
  }

  Token number() {
    const size_t from = pos_;
    ++pos_;
    while (pos_ < s_.size() && (std::isdigit(static_cast<unsigned char>(s_[pos_])) || s_[pos_] == '.')) ++pos_;
    return {Token::Kind::Number, s_.substr(from, pos_ - from), line_};
  }

  const std::string &s_;
  size_t pos_ = 0;
  int line_ = 1;
};

class Parser {
 public:
  explicit Parser(const std::string &s) : lex_(s) { advance(); }

  Database run() {
    Database db;
    while (tok_.kind != Token::Kind::End) {
      if (word("CREATE")) {
        createTable(db);
      } else if (word("INSERT")) {
        insert(db);
      } else if (word("BEGIN") || word("COMMIT") || word("END")) {
        advance();
        if (tok_.kind == Token::Kind::Word && tok_.text == "TRANSACTION") advance();
      } else {
        lex_.fail("unexpected '" + tok_.text + "'");
      }
      expectPunct(";");
    }
    return db;
  }

 private:
  void advance() { tok_ = lex_.next(); }
  bool word(const char *w) const { return tok_.kind == Token::Kind::Word && tok_.text == w; }
  bool punct(const char *p) const { return tok_.kind == Token::Kind::Punct && tok_.text == p; }

  void expectWord(const char *w) {
    if (!word(w)) lex_.fail(std::string("expected ") + w);
    advance();
  }
  void expectPunct(const char *p) {
    if (!punct(p)) lex_.fail(std::string("expected '") + p + "'");
    advance();
  }
  std::string name() {
    if (tok_.kind != Token::Kind::Name && tok_.kind != Token::Kind::Word) lex_.fail("expected a name");
    std::string n = tok_.text;
    advance();
    return n;
  }

  Column column() {
    Column c;
    c.name = name();
    const std::string type = tok_.text;
    if (tok_.kind != Token::Kind::Word) lex_.fail("expected a type");
    advance();
    if (type == "LONG" || type == "INTEGER" || type == "INT") {
      c.type = ColType::Long;
    } else if (type == "SHORT" || type == "SMALLINT") {
      c.type = ColType::Integer;
    } else if (type == "DATETIME") {
      c.type = ColType::DateTime;
    } else if (type == "LONGTEXT" || type == "MEMO") {
      c.type = ColType::Memo;
    } else if (type == "TEXT") {
      c.type = ColType::Text;
      if (punct("(")) {
        advance();
        if (tok_.kind != Token::Kind::Number) lex_.fail("expected a length");
        c.textLength = std::stoi(tok_.text);
        if (c.textLength < 1 || c.textLength > 255) lex_.fail("text length out of 1..255");
        advance();
        expectPunct(")");
      }
    } else {
      lex_.fail("unknown type " + type);
    }
    return c;
  }

  void createTable(Database &db) {
    advance();
    expectWord("TABLE");
    Table t;
    t.name = name();
    if (db.find(t.name)) lex_.fail("table defined twice: " + t.name);
    expectPunct("(");
    for (;;) {
      t.columns.push_back(column());
      if (punct(")")) break;
      expectPunct(",");
    }
    advance();
    db.tables.push_back(std::move(t));
  }

  Value value() {
    Value v;
    if (word("NULL")) {
      v = Value::null();
    } else if (tok_.kind == Token::Kind::String) {
      v = Value::text(tok_.text);
    } else if (tok_.kind == Token::Kind::Number) {
      if (tok_.text.find('.') != std::string::npos) {
        v = Value::real(std::stod(tok_.text));
      } else {
        v = Value::integer(std::stoll(tok_.text));
      }
    } else {
      lex_.fail("expected a value");
    }
    advance();
    return v;
  }

  void insert(Database &db) {
    advance();
    expectWord("INTO");
    const std::string tn = name();
    Table *t = db.find(tn);
    if (!t) lex_.fail("no such table: " + tn);
    expectWord("VALUES");
    expectPunct("(");
    Row r;
    for (;;) {
      r.push_back(value());
      if (punct(")")) break;
      expectPunct(",");
    }
    advance();
    if (r.size() != t->columns.size()) lex_.fail("wrong number of values for " + tn);
    t->rows.push_back(std::move(r));
  }

  Lexer lex_;
  Token tok_{Token::Kind::End, "", 0};
};

}  // namespace

Database parseSql(const std::string &text) { return Parser(text).run(); }

Database readSqlFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream ss;
  ss << in.rdbuf();
  return parseSql(ss.str());
}

}  // namespace jetgen
