#include "daostatement.h"

#include "daosql.h"

#include <sqlite3.h>

#include <utility>

namespace parvault {

DaoStatement::DaoStatement(sqlite3* db, const std::string& sql) : m_db(db), m_sql(sql) {
    const int rc = sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &m_stmt, nullptr);
    if (rc != SQLITE_OK) {
        // A failed prepare leaves no statement behind.
        m_stmt = nullptr;
        fail(db, "prepare failed (" + sql + ")", rc);
    }
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
    // The result repeats the last step's failure, which was raised then.
    sqlite3_finalize(m_stmt);
    m_stmt = nullptr;
}

bool DaoStatement::step() {
    const int rc = sqlite3_step(m_stmt);
    if (rc == SQLITE_ROW)
        return true;
    if (rc == SQLITE_DONE)
        return false;
    fail(m_db, "step failed", rc);
}

void DaoStatement::execute(const char* what) {
    const int rc = sqlite3_step(m_stmt);
    // Reset at once, also after a failure, so that the statement keeps no
    // lock on the file between runs.
    sqlite3_reset(m_stmt);
    if (rc != SQLITE_DONE)
        fail(m_db, what, rc);
}

void DaoStatement::reset() {
    sqlite3_reset(m_stmt);
    sqlite3_clear_bindings(m_stmt);
}

void DaoStatement::bindNull(int slot) {
    const int rc = sqlite3_bind_null(m_stmt, slot);
    if (rc != SQLITE_OK)
        fail(m_db, "bind failed", rc);
}

void DaoStatement::bindInt64(int slot, int64_t value) {
    const int rc = sqlite3_bind_int64(m_stmt, slot, value);
    if (rc != SQLITE_OK)
        fail(m_db, "bind failed", rc);
}

void DaoStatement::bindText(int slot, const QByteArray& utf8Text) {
    const int rc = sqlite3_bind_text(m_stmt, slot, utf8Text.constData(), static_cast<int>(utf8Text.size()),
                                     SQLITE_TRANSIENT);
    if (rc != SQLITE_OK)
        fail(m_db, "bind failed", rc);
}

} // namespace parvault
