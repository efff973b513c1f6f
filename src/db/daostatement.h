#pragma once

#include <QByteArray>

#include <cstdint>
#include <string>

struct sqlite3;
struct sqlite3_stmt;

namespace parvault {

// One prepared statement, owned: finalized when it goes or is replaced. Not
// copyable; a moved-from statement holds nothing.
class DaoStatement {
public:
    DaoStatement() = default;
    // Raises when the text does not compile, e.g. when it names a missing table.
    DaoStatement(sqlite3* db, const std::string& sql);
    ~DaoStatement();
    DaoStatement(DaoStatement&& other) noexcept;
    DaoStatement& operator=(DaoStatement&& other) noexcept;
    DaoStatement(const DaoStatement&) = delete;
    DaoStatement& operator=(const DaoStatement&) = delete;

    bool isValid() const { return m_stmt != nullptr; }
    const std::string& sql() const { return m_sql; }
    sqlite3_stmt* get() const { return m_stmt; }

    // True while a row is available.
    bool step();
    // Runs a statement that returns no rows and leaves it ready to run again;
    // `what` heads the message of a failure.
    void execute(const char* what);
    // Back to before the first step, every parameter unbound (Null).
    void reset();

    // Parameter slots count from 1.
    void bindNull(int slot);
    void bindInt64(int slot, int64_t value);
    void bindText(int slot, const QByteArray& utf8Text);

private:
    void release();

    sqlite3* m_db = nullptr;
    sqlite3_stmt* m_stmt = nullptr;
    std::string m_sql;
};

} // namespace parvault
