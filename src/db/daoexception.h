#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

struct sqlite3;

namespace parvault {

// The one exception kind of the storage layer. Callers catch it and go on as
// each command decides; it carries SQLite's result code (0 when the failure
// was found by this layer itself, e.g. moving past the end).
class CDaoException : public std::runtime_error {
public:
    explicit CDaoException(const std::string& what, int sqliteCode = 0, int systemErrno = 0)
        : std::runtime_error(what), m_sqliteCode(sqliteCode), m_systemErrno(systemErrno) {}
    int sqliteCode() const { return m_sqliteCode; }
    // The operating system's error behind a failed file access, or 0.
    int systemErrno() const { return m_systemErrno; }

private:
    int m_sqliteCode;
    int m_systemErrno;
};

// Every result of an SQLite call passes through here. Returns rc when it is
// SQLITE_OK, SQLITE_ROW or SQLITE_DONE; raises CDaoException for any other,
// with rc, "what: " and SQLite's message, and the system's error behind it.
// db is the connection the call used, or null when there is none yet.
int checkSqlite(sqlite3* db, int rc, std::string_view what);

} // namespace parvault
