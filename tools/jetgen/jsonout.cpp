#include "jsonout.h"

#include <cstdio>

namespace jetgen {

namespace {

std::string quote(const std::string &s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += char(c);
        }
    }
  }
  return out + "\"";
}

const char *typeName(ColType t) {
  switch (t) {
    case ColType::Integer: return "Integer";
    case ColType::Long: return "Long";
    case ColType::DateTime: return "DateTime";
    case ColType::Text: return "Text";
    case ColType::Ole: return "OLE";
    case ColType::Memo: return "Memo";
  }
  return "?";
}

std::string value(const Value &v) {
  switch (v.kind) {
    case Value::Kind::Null: return "null";
    case Value::Kind::Int: return std::to_string(v.i);
    case Value::Kind::Real: {
      char buf[32];
      std::snprintf(buf, sizeof buf, "%.17g", v.d);
      return buf;
    }
    case Value::Kind::Text: return quote(v.s);
  }
  return "null";
}

}  // namespace

std::string expectedJson(const Database &db, const WriteOptions &opt) {
  std::string out = "{\n  \"format\": ";
  out += opt.version == JetVersion::Jet3 ? "\"jet3\"" : "\"jet4\"";
  out += ",\n  \"tables\": {";
  bool firstTable = true;
  for (const Table &t : db.tables) {
    if (t.system) continue;
    out += firstTable ? "\n" : ",\n";
    firstTable = false;
    out += "    " + quote(t.name) + ": {\n      \"columns\": [";
    for (size_t i = 0; i < t.columns.size(); ++i) {
      out += i ? ", " : "";
      out += "{\"name\": " + quote(t.columns[i].name) + ", \"type\": \"" + typeName(t.columns[i].type) + "\"}";
    }
    out += "],\n      \"rows\": [";
    for (size_t r = 0; r < t.rows.size(); ++r) {
      out += r ? ",\n        {" : "\n        {";
      for (size_t i = 0; i < t.columns.size(); ++i) {
        out += i ? ", " : "";
        out += quote(t.columns[i].name) + ": " + value(t.rows[r][i]);
      }
      out += "}";
    }
    out += t.rows.empty() ? "]\n    }" : "\n      ]\n    }";
  }
  out += "\n  }\n}\n";
  return out;
}

}  // namespace jetgen
