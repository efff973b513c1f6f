#include "daodatabase.h"

#include "daoexception.h"
#include "daosql.h"
#include "daostatement.h"
#include "folderkind.h"
#include "jetimport.h"

#include <QFile>
#include <QFileInfo>

#include <sqlite3.h>

#include <atomic>
#include <memory>

namespace parvault {

namespace {

// Marks our own files inside the SQLite header ("PV2D"); nothing checks it,
// but writing it makes a freshly created file a real, non-empty database.
constexpr int kApplicationId = 0x50563244;

std::atomic<int> g_busyWaitMs{kDatabaseBusyWaitMs};

// Several programs share a folder: the rollback journal (WAL needs memory
// shared between the programs, which a network filesystem does not share) and
// normal locking (every transaction takes and gives back its locks, so the
// others are never shut out between commands). Said explicitly, as a file
// made by another tool could ask otherwise. On a network folder every commit
// is synced whole before the lock is given up.
void setSharingModes(sqlite3* db, const QString& name) {
    sqlite3_exec(db, "PRAGMA locking_mode=NORMAL", nullptr, nullptr, nullptr);
    sqlite3_exec(db, "PRAGMA journal_mode=DELETE", nullptr, nullptr, nullptr);
    if (FolderKindOf(name) == FolderKind::Network)
        sqlite3_exec(db, "PRAGMA synchronous=FULL", nullptr, nullptr, nullptr);
}

// A connection being opened: closed again if a step of the opening raises.
// Nothing is prepared on it yet, so closing cannot fail.
struct CloseConnection {
    void operator()(sqlite3* db) const { sqlite3_close(db); }
};
using PendingConnection = std::unique_ptr<sqlite3, CloseConnection>;

// SQLite hands out a connection even when opening fails (to carry the
// message), or none at all when it has no memory for one.
PendingConnection openConnection(const QByteArray& path, int flags, const std::string& what) {
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(path.constData(), &raw, flags, nullptr);
    PendingConnection db(raw);
    checkSqlite(db.get(), rc, what);
    sqlite3_busy_timeout(db.get(), g_busyWaitMs.load());
    return db;
}

} // namespace

void SetDatabaseBusyWaitMs(int ms) { g_busyWaitMs = ms; }
int DatabaseBusyWaitMs() { return g_busyWaitMs.load(); }

CDaoDatabase::~CDaoDatabase() { Close(); }

bool CDaoDatabase::FileIsGone() const {
    if (!m_db || m_jet)
        return false;
    int moved = 0;
    if (sqlite3_file_control(m_db, "main", SQLITE_FCNTL_HAS_MOVED, &moved) != SQLITE_OK)
        return !QFileInfo::exists(m_name);
    return moved != 0;
}

sqlite3* CDaoDatabase::handle() const {
    if (!m_db)
        throw CDaoException("database is not open", SQLITE_MISUSE);
    return m_db;
}

void CDaoDatabase::Open(const QString& name, bool exclusive, bool readOnly, const QString& connect) {
    Q_UNUSED(exclusive);
    Q_UNUSED(connect);
    if (m_db)
        throw CDaoException("database is already open", SQLITE_MISUSE);
    // SQLite takes file names in UTF-8 on every system; Windows' 8-bit code
    // page would lose a Cyrillic name.
    const QByteArray path = name.toUtf8();
    const QFileInfo info(name);
    if (!info.exists() || info.isDir())
        throw CDaoException("no such database file: " + path.toStdString(), SQLITE_CANTOPEN);
    // The header decides the format, not the name: an existing Jet file is
    // read into memory and used read-only.
    if (IsJetFile(name)) {
        m_db = ImportJetFile(name);
        m_name = name;
        m_jet = true;
        return;
    }
    const int flags = readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE;
    PendingConnection db = openConnection(path, flags, "cannot open " + path.toStdString());
    // SQLite reads the header lazily; make a file that is not a database
    // fail here and not at its first query.
    checkSqlite(db.get(), sqlite3_exec(db.get(), "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr),
                "not a database: " + path.toStdString());
    setSharingModes(db.get(), name);
    m_db = db.release();
    m_name = name;
}

void CDaoDatabase::OpenJetImport(const QString& name, sqlite3* imported) {
    if (m_db) {
        sqlite3_close_v2(imported);
        throw CDaoException("database is already open", SQLITE_MISUSE);
    }
    m_db = imported;
    m_name = name;
    m_jet = true;
}

void CDaoDatabase::Create(const QString& name, const QString& locale, int options) {
    Q_UNUSED(locale);
    Q_UNUSED(options);
    if (m_db)
        throw CDaoException("database is already open", SQLITE_MISUSE);
    const QByteArray path = name.toUtf8();
    if (QFileInfo::exists(name))
        throw CDaoException("file already exists: " + path.toStdString(), SQLITE_CANTOPEN);
    const std::string what = "cannot create " + path.toStdString();
    PendingConnection db = openConnection(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, what);
    const std::string pragma = "PRAGMA application_id=" + std::to_string(kApplicationId);
    checkSqlite(db.get(), sqlite3_exec(db.get(), pragma.c_str(), nullptr, nullptr, nullptr), what);
    setSharingModes(db.get(), name);
    m_db = db.release();
    m_name = name;
}

void CDaoDatabase::Close() {
    if (!m_db)
        return;
    // Statements still prepared by a forgotten record set would keep the
    // file busy; sqlite3_close_v2 lets them finish closing it, and so it
    // cannot fail on a connection we opened.
    sqlite3_close_v2(m_db);
    m_db = nullptr;
    m_name.clear();
    m_jet = false;
}

void CDaoDatabase::Execute(const QString& sql) {
    sqlite3* db = handle();
    checkSqlite(db, sqlite3_exec(db, utf8(sql).c_str(), nullptr, nullptr, nullptr), "execute failed");
}

bool CDaoDatabase::TableExists(const QString& table) const {
    DaoStatement st(handle(), "SELECT 1 FROM sqlite_master WHERE type='table' AND name=?1");
    st.bindText(1, table.toUtf8());
    return st.step();
}

} // namespace parvault
