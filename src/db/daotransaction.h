#pragma once

namespace parvault {

class CDaoDatabase;

// Rolls back unless committed: replacing data either happens whole or not at
// all, also when the program dies half-way.
class DaoTransaction {
public:
    explicit DaoTransaction(CDaoDatabase& db);
    ~DaoTransaction();
    DaoTransaction(const DaoTransaction&) = delete;
    DaoTransaction& operator=(const DaoTransaction&) = delete;
    void Commit();

private:
    CDaoDatabase& m_db;
    bool m_done = false;
};

} // namespace parvault
