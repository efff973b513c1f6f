#include "daotransaction.h"

#include "daodatabase.h"
#include "daoexception.h"

#include <sqlite3.h>

namespace parvault {

DaoTransaction::DaoTransaction(CDaoDatabase& db) : m_db(db) { m_db.Execute(QStringLiteral("BEGIN IMMEDIATE")); }

DaoTransaction::~DaoTransaction() {
    if (m_state != State::Active || !m_db.IsOpen())
        return;
    try {
        m_db.Execute(QStringLiteral("ROLLBACK"));
    } catch (const CDaoException&) {
        // Never from a destructor: a rollback that fails leaves the
        // transaction to SQLite, which undoes it when the file is closed.
    }
}

void DaoTransaction::requireActive() const {
    if (m_state == State::Committed)
        throw CDaoException("transaction already committed", SQLITE_MISUSE);
    if (m_state == State::RolledBack)
        throw CDaoException("transaction already rolled back", SQLITE_MISUSE);
}

void DaoTransaction::Commit() {
    requireActive();
    m_db.Execute(QStringLiteral("COMMIT"));
    m_state = State::Committed;
}

void DaoTransaction::Rollback() {
    requireActive();
    // Ended even if the rollback fails: SQLite then undoes the transaction
    // at close, and a later commit must not claim what was given up.
    m_state = State::RolledBack;
    m_db.Execute(QStringLiteral("ROLLBACK"));
}

} // namespace parvault
