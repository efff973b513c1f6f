#pragma once

// Helpers for the database tests: files are made and inspected with SQLite
// directly, not through the code under test.

#include "dbsession.h"
#include "rowtable.h"
#include "scriptedui.h"
#include "tempdir.h"

#include <sqlite3.h>

#include <QString>
#include <QStringList>

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace dbtest {

using parvault::testing::DyingUi;
using parvault::testing::ScriptedUi;

struct TemplateRow {
    int canal, param, index, edizm, kind, code;
    std::string text;
    std::optional<std::string> data = std::nullopt;
};

inline void exec(const std::string& file, const std::string& sql) {
    sqlite3* db = nullptr;
    if (sqlite3_open(file.c_str(), &db) != SQLITE_OK)
        throw std::runtime_error("open " + file);
    // Test fixtures need no durability; this keeps hundreds of files quick.
    sqlite3_exec(db, "PRAGMA synchronous=OFF", nullptr, nullptr, nullptr);
    char* err = nullptr;
    const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err);
    const std::string msg = err ? err : "";
    sqlite3_free(err);
    sqlite3_close(db);
    if (rc != SQLITE_OK)
        throw std::runtime_error(sql + ": " + msg);
}

// Every row of a query, each column as text ("NULL" for Null), joined by '|'.
inline std::vector<std::string> query(const std::string& file, const std::string& sql) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        throw std::runtime_error("open " + file);
    }
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
        const std::string msg = sqlite3_errmsg(db);
        sqlite3_close(db);
        throw std::runtime_error(sql + ": " + msg);
    }
    std::vector<std::string> out;
    while (sqlite3_step(st) == SQLITE_ROW) {
        std::string line;
        for (int c = 0; c < sqlite3_column_count(st); ++c) {
            if (c)
                line += '|';
            line += sqlite3_column_type(st, c) == SQLITE_NULL
                        ? "NULL"
                        : reinterpret_cast<const char*>(sqlite3_column_text(st, c));
        }
        out.push_back(line);
    }
    sqlite3_finalize(st);
    sqlite3_close(db);
    return out;
}

inline std::string q(const std::string& s) {
    std::string out = "'";
    for (char c : s) {
        out += c;
        if (c == '\'')
            out += '\'';
    }
    return out + "'";
}

inline const char* kParamsDdl =
    "CREATE TABLE [Параметры] ([canal] LONG, [param] LONG, [index] LONG, [edizm] LONG, [flag_dt] LONG, "
    "[data] TEXT(255), [text] LONGTEXT, [type_spiska] LONG, [type_zapros] LONG, [kod_type_pribor] LONG);";

inline void insertRows(const std::string& file, const std::vector<TemplateRow>& rows) {
    std::string sql = "BEGIN;";
    for (const TemplateRow& r : rows)
        sql += "INSERT INTO [Параметры] VALUES (" + std::to_string(r.canal) + "," + std::to_string(r.param) + "," +
               std::to_string(r.index) + "," + std::to_string(r.edizm) + ",NULL," +
               (r.data ? q(*r.data) : std::string("NULL")) + "," + q(r.text) + ",7," + std::to_string(r.kind) +
               "," + std::to_string(r.code) + ");";
    exec(file, sql + "COMMIT;");
}

inline void makeMainDb(const std::string& file, const std::vector<std::pair<int, std::string>>& types,
                       const std::vector<TemplateRow>& rows) {
    std::string sql = "CREATE TABLE [ТипыПриборов] ([КодТипаПрибора] LONG, [НаимТипаПрибора] TEXT(255), "
                      "[Последний номер списка] LONG);";
    sql += kParamsDdl;
    for (const auto& [code, name] : types)
        sql += "INSERT INTO [ТипыПриборов] VALUES (" + std::to_string(code) + "," + q(name) + ",0);";
    exec(file, sql);
    insertRows(file, rows);
}

inline void makeListFile(const std::string& file, int code, const std::string& name,
                         const std::vector<TemplateRow>& rows = {}) {
    exec(file, std::string(kParamsDdl) +
                   "CREATE TABLE [Список] ([kod_type_pribor] LONG, [name] TEXT(255), [number] LONG);"
                   "INSERT INTO [Список] VALUES (" +
                   std::to_string(code) + "," + q(name) + ",NULL);");
    insertRows(file, rows);
}

// Counts model resets, as the window's list model would see them.
class CountingRowTable : public parvault::RowTable {
public:
    int resets = 0;
    int rowCount() const override { return inner.rowCount(); }
    const parvault::ParamRow& row(int r) const override { return inner.row(r); }
    void setText(int r, int c, const QString& t) override { inner.setText(r, c, t); }
    void setIcon(int r, int i) override { inner.setIcon(r, i); }
    bool isSelected(int r) const override { return inner.isSelected(r); }
    void setSelected(int r, bool s) override { inner.setSelected(r, s); }
    void setRows(std::vector<parvault::ParamRow> rows) override {
        ++resets;
        inner.setRows(std::move(rows));
    }
    parvault::MemoryRowTable inner;
};

// A fresh working folder made current, with a session on it.
struct Workspace {
    parvault::testing::TempDir dir;
    parvault::testing::ScopedCwd cwd{dir.path()};
    ScriptedUi ui;
    CountingRowTable rows;
    parvault::DbSession session{ui, rows};

    std::string file(const std::string& name) const { return dir.file(name); }
};

// A group or list node of a tree by its text, or nullptr.
inline const parvault::TreeNode* child(const parvault::TreeNode& n, const QString& text) {
    for (const auto& c : n.children)
        if (c.text == text)
            return &c;
    return nullptr;
}

} // namespace dbtest
