#pragma once

#include <stdexcept>
#include <string>

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

} // namespace parvault
