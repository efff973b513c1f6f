#include "daostatement.h"

#include "daosql.h"

#include <sqlite3.h>

namespace parvault {

DaoStatement::DaoStatement(sqlite3* db, const std::string& sql) : m_db(db) {
    const int rc = sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &m_stmt, nullptr);
    if (rc != SQLITE_OK)
        fail(db, "prepare failed (" + sql + ")", rc);
}

DaoStatement::~DaoStatement() { sqlite3_finalize(m_stmt); }

bool DaoStatement::step() {
    const int rc = sqlite3_step(m_stmt);
    if (rc == SQLITE_ROW)
        return true;
    if (rc == SQLITE_DONE)
        return false;
    fail(m_db, "step failed", rc);
}

} // namespace parvault
