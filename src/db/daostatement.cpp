#include "daostatement.h"

#include "daoexception.h"

#include <sqlite3.h>

#include <utility>

namespace parvault {

DaoStatement::DaoStatement(sqlite3* db, const std::string& sql) : m_db(db), m_sql(sql) {
    // A failed prepare leaves no statement behind.
    checkSqlite(db, sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &m_stmt, nullptr),
                "prepare failed (" + sql + ")");
}

DaoStatement::~DaoStatement() { release(); }

DaoStatement::DaoStatement(DaoStatement&& other) noexcept
    : m_db(std::exchange(other.m_db, nullptr)), m_stmt(std::exchange(other.m_stmt, nullptr)),
      m_sql(std::move(other.m_sql)) {
    other.m_sql.clear();
}

DaoStatement& DaoStatement::operator=(DaoStatement&& other) noexcept {
    if (this != &other) {
        release();
        m_db = std::exchange(other.m_db, nullptr);
        m_stmt = std::exchange(other.m_stmt, nullptr);
        m_sql = std::move(other.m_sql);
        other.m_sql.clear();
    }
    return *this;
}

void DaoStatement::release() {
    // Finalizing always frees the statement; its result only repeats the
    // last step's failure, which was raised then.
    sqlite3_finalize(m_stmt);
    m_stmt = nullptr;
}

bool DaoStatement::step() { return checkSqlite(m_db, sqlite3_step(m_stmt), "step failed") == SQLITE_ROW; }

void DaoStatement::execute(const char* what) {
    const int stepRc = sqlite3_step(m_stmt);
    // Reset at once, also after a failure, so that the statement keeps no
    // lock on the file between runs; after a failed step the reset only
    // repeats that failure.
    const int resetRc = sqlite3_reset(m_stmt);
    checkSqlite(m_db, stepRc, what);
    checkSqlite(m_db, resetRc, what);
}

void DaoStatement::reset() {
    if (!m_stmt)
        return;
    checkSqlite(m_db, sqlite3_reset(m_stmt), "reset failed");
    sqlite3_clear_bindings(m_stmt); // cannot fail on a live statement
}

void DaoStatement::bindNull(int slot) {
    checkSqlite(m_db, sqlite3_bind_null(m_stmt, slot), "bind failed");
}

void DaoStatement::bindInt64(int slot, int64_t value) {
    checkSqlite(m_db, sqlite3_bind_int64(m_stmt, slot, value), "bind failed");
}

void DaoStatement::bindText(int slot, const QByteArray& utf8Text) {
    checkSqlite(m_db,
                sqlite3_bind_text(m_stmt, slot, utf8Text.constData(), static_cast<int>(utf8Text.size()),
                                  SQLITE_TRANSIENT),
                "bind failed");
}

} // namespace parvault
