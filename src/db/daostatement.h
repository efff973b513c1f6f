#pragma once

#include <string>

struct sqlite3;
struct sqlite3_stmt;

namespace parvault {

// One prepared statement, finalized when it goes.
class DaoStatement {
public:
    DaoStatement(sqlite3* db, const std::string& sql);
    ~DaoStatement();
    DaoStatement(const DaoStatement&) = delete;
    DaoStatement& operator=(const DaoStatement&) = delete;

    sqlite3_stmt* get() const { return m_stmt; }
    // True while a row is available.
    bool step();

private:
    sqlite3* m_db;
    sqlite3_stmt* m_stmt = nullptr;
};

} // namespace parvault
