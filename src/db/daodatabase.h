#pragma once

#include <QString>

struct sqlite3;

namespace parvault {

// Arguments of CDaoDatabase::Create kept for the callers' sake: SQLite files
// have neither a locale nor format versions, so they are accepted and ignored.
inline constexpr const char* dbLangGeneral = ";LANGID=0x0409;CP=1252;COUNTRY=0";
inline constexpr int dbVersion30 = 32;

// A file locked by another program is waited for this long before the
// operation gives up with SQLITE_BUSY ("файл занят другой программой").
inline constexpr int kDatabaseBusyWaitMs = 5000;
// The wait of connections opened from now on; tests shorten it.
void SetDatabaseBusyWaitMs(int ms);
int DatabaseBusyWaitMs();

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
    // Takes over a Jet file's tables read already (see ImportJetFiles): the
    // database is then as Open would have made it for that file.
    void OpenJetImport(const QString& name, sqlite3* imported);
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

    // True when the open file was deleted or renamed since it was opened
    // (another program removed the list); false for a Jet copy.
    bool FileIsGone() const;

private:
    sqlite3* m_db = nullptr;
    QString m_name;
    bool m_jet = false;
};

} // namespace parvault
