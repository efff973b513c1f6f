#include "daotransaction.h"

#include "daodatabase.h"

#include <sqlite3.h>

namespace parvault {

DaoTransaction::DaoTransaction(CDaoDatabase& db) : m_db(db) { m_db.Execute(QStringLiteral("BEGIN IMMEDIATE")); }

DaoTransaction::~DaoTransaction() {
    if (!m_done && m_db.IsOpen())
        sqlite3_exec(m_db.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
}

void DaoTransaction::Commit() {
    if (m_done)
        return;
    m_db.Execute(QStringLiteral("COMMIT"));
    m_done = true;
}

} // namespace parvault
