#pragma once

namespace parvault {

class CDaoDatabase;

// Rolls back unless committed: replacing data either happens whole or not at
// all, also when the program dies half-way. Ends once: committing or rolling
// back a transaction that was already committed or rolled back raises. A
// commit that failed does not end it; it may be tried again.
class DaoTransaction {
public:
    explicit DaoTransaction(CDaoDatabase& db);
    // Never raises.
    ~DaoTransaction();
    DaoTransaction(const DaoTransaction&) = delete;
    DaoTransaction& operator=(const DaoTransaction&) = delete;

    void Commit();
    void Rollback();

private:
    void requireActive() const;

    CDaoDatabase& m_db;
    enum class State { Active, Committed, RolledBack } m_state = State::Active;
};

} // namespace parvault
