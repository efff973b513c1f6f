#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

struct sqlite3;

namespace parvault {

// The one exception kind of the storage layer. Callers catch it and go on as
// each command decides; it carries SQLite's result code. A failure this layer
// finds itself carries the code nearest in meaning, so that no failure reads
// as success (0): SQLITE_MISUSE for a call out of order (a closed database or
// record set, Update without AddNew or Edit, a transaction already ended),
// SQLITE_NOTFOUND for no current record (moving past either end), SQLITE_ERROR
// for a missing table, SQLITE_RANGE and SQLITE_MISMATCH for a field number or
// type the layer does not have. Jet files add their own (jetimport.h).
class CDaoException : public std::runtime_error {
public:
    explicit CDaoException(const std::string& what, int sqliteCode, int systemErrno = 0)
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
