#pragma once

#include <QString>

struct sqlite3;

namespace parvault {

// Arguments of CDaoDatabase::Create kept for the callers' sake: SQLite files
// have neither a locale nor format versions, so they are accepted and ignored.
inline constexpr const char* dbLangGeneral = ";LANGID=0x0409;CP=1252;COUNTRY=0";
inline constexpr int dbVersion30 = 32;

// One database connection. Not copyable; closes itself.
class CDaoDatabase {
public:
    CDaoDatabase() = default;
    ~CDaoDatabase();
    CDaoDatabase(const CDaoDatabase&) = delete;
    CDaoDatabase& operator=(const CDaoDatabase&) = delete;

    // Opens an existing file; a missing file, or one that is not a database,
    // raises. A Jet file is read whole into memory and is read-only: every
    // write raises (see jetimport.h). Exclusive and read-only opens are not needed by any command.
    void Open(const QString& name, bool exclusive = false, bool readOnly = false,
              const QString& connect = {});
    // Creates a new, empty database file. Raises if the file already exists or
    // cannot be written. The connection is open afterwards.
    void Create(const QString& name, const QString& locale = QString::fromLatin1(dbLangGeneral),
                int options = dbVersion30);
    bool IsOpen() const { return m_db != nullptr; }
    void Close();
    QString GetName() const { return m_name; }
    // True when the open file is a Jet file (so nothing can be written to it).
    bool IsJet() const { return m_jet; }

    // Runs statements that return no rows.
    void Execute(const QString& sql);
    bool TableExists(const QString& table) const;

    sqlite3* handle() const;

private:
    sqlite3* m_db = nullptr;
    QString m_name;
    bool m_jet = false;
};

} // namespace parvault
