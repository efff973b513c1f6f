#include "daodatabase.h"

#include "daoexception.h"
#include "daosql.h"
#include "daostatement.h"

#include <QFile>
#include <QFileInfo>

#include <sqlite3.h>

namespace parvault {

namespace {

// Marks our own files inside the SQLite header ("PV2D"); nothing checks it,
// but writing it makes a freshly created file a real, non-empty database.
constexpr int kApplicationId = 0x50563244;

} // namespace

CDaoDatabase::~CDaoDatabase() { Close(); }

sqlite3* CDaoDatabase::handle() const {
    if (!m_db)
        throw CDaoException("database is not open");
    return m_db;
}

void CDaoDatabase::Open(const QString& name, bool exclusive, bool readOnly, const QString& connect) {
    Q_UNUSED(exclusive);
    Q_UNUSED(connect);
    if (m_db)
        throw CDaoException("database is already open");
    const QByteArray path = QFile::encodeName(name);
    const QFileInfo info(name);
    if (!info.exists() || info.isDir())
        throw CDaoException("no such database file: " + path.toStdString(), SQLITE_CANTOPEN);
    sqlite3* db = nullptr;
    const int flags = readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE;
    int rc = sqlite3_open_v2(path.constData(), &db, flags, nullptr);
    if (rc != SQLITE_OK) {
        const std::string msg = db ? sqlite3_errmsg(db) : "out of memory";
        sqlite3_close(db);
        throw CDaoException("cannot open " + path.toStdString() + ": " + msg, rc);
    }
    // SQLite reads the header lazily; make a file that is not a database
    // fail here and not at its first query.
    rc = sqlite3_exec(db, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
        const std::string msg = sqlite3_errmsg(db);
        sqlite3_close(db);
        throw CDaoException("not a database: " + path.toStdString() + ": " + msg, rc);
    }
    m_db = db;
    m_name = name;
}

void CDaoDatabase::Create(const QString& name, const QString& locale, int options) {
    Q_UNUSED(locale);
    Q_UNUSED(options);
    if (m_db)
        throw CDaoException("database is already open");
    const QByteArray path = QFile::encodeName(name);
    if (QFileInfo::exists(name))
        throw CDaoException("file already exists: " + path.toStdString(), SQLITE_CANTOPEN);
    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(path.constData(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (rc == SQLITE_OK) {
        const std::string pragma = "PRAGMA application_id=" + std::to_string(kApplicationId);
        rc = sqlite3_exec(db, pragma.c_str(), nullptr, nullptr, nullptr);
    }
    if (rc != SQLITE_OK) {
        const std::string msg = db ? sqlite3_errmsg(db) : "out of memory";
        sqlite3_close(db);
        throw CDaoException("cannot create " + path.toStdString() + ": " + msg, rc);
    }
    m_db = db;
    m_name = name;
}

void CDaoDatabase::Close() {
    if (!m_db)
        return;
    // Statements still prepared by a forgotten record set would keep the
    // file busy; sqlite3_close_v2 lets them finish closing it.
    sqlite3_close_v2(m_db);
    m_db = nullptr;
    m_name.clear();
}

void CDaoDatabase::Execute(const QString& sql) {
    char* err = nullptr;
    const int rc = sqlite3_exec(handle(), utf8(sql).c_str(), nullptr, nullptr, &err);
    if (rc != SQLITE_OK) {
        const std::string msg = err ? err : "error";
        sqlite3_free(err);
        throw CDaoException("execute failed: " + msg, rc, sqlite3_system_errno(m_db));
    }
}

bool CDaoDatabase::TableExists(const QString& table) const {
    DaoStatement st(handle(), "SELECT 1 FROM sqlite_master WHERE type='table' AND name=?1");
    st.bindText(1, table.toUtf8());
    return st.step();
}

} // namespace parvault
