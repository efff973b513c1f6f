#include "daotransaction.h"

#include "daodatabase.h"
#include "daoexception.h"

namespace parvault {

DaoTransaction::DaoTransaction(CDaoDatabase& db) : m_db(db) { m_db.Execute(QStringLiteral("BEGIN IMMEDIATE")); }

DaoTransaction::~DaoTransaction() {
    if (m_done || !m_db.IsOpen())
        return;
    try {
        m_db.Execute(QStringLiteral("ROLLBACK"));
    } catch (const CDaoException&) {
        // Never from a destructor: a rollback that fails leaves the
        // transaction to SQLite, which undoes it when the file is closed.
    }
}

void DaoTransaction::Commit() {
    if (m_done)
        return;
    m_db.Execute(QStringLiteral("COMMIT"));
    m_done = true;
}

} // namespace parvault
