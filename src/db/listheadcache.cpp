#include "listheadcache.h"

#include "fileops.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <sqlite3.h>

namespace parvault {

namespace {

// The cache is shared by the programs of this user; a short wait is enough,
// and a cache that is busy is simply not used.
constexpr int kCacheBusyWaitMs = 500;

const char* const kCacheDdl = "CREATE TABLE IF NOT EXISTS heads (folder TEXT NOT NULL, name TEXT NOT NULL, "
                              "device INTEGER, inode INTEGER, size INTEGER, mtime_ns INTEGER, ctime_ns INTEGER, kind INTEGER, "
                              "type_code INTEGER, list_name TEXT, sqlite_code INTEGER, what TEXT, "
                              "PRIMARY KEY (folder, name))";

struct Store {
    sqlite3* db = nullptr;
    explicit Store(const QString& path, bool create) {
        const int flags = create ? SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE : SQLITE_OPEN_READWRITE;
        if (sqlite3_open_v2(path.toUtf8().constData(), &db, flags, nullptr) != SQLITE_OK) {
            sqlite3_close(db);
            db = nullptr;
            return;
        }
        sqlite3_busy_timeout(db, kCacheBusyWaitMs);
        if (create && sqlite3_exec(db, kCacheDdl, nullptr, nullptr, nullptr) != SQLITE_OK) {
            sqlite3_close(db);
            db = nullptr;
        }
    }
    ~Store() { sqlite3_close(db); }
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;
};

QString text(sqlite3_stmt* st, int col) {
    const auto* t = reinterpret_cast<const char*>(sqlite3_column_text(st, col));
    return t ? QString::fromUtf8(t) : QString();
}

} // namespace

std::optional<FileStamp> StampOf(const QString& fileName) {
    const std::optional<fileops::FileStatus> st = fileops::StatusOf(fileName);
    if (!st)
        return std::nullopt;
    FileStamp s;
    s.device = st->device;
    s.inode = st->fileId;
    s.size = st->size;
    s.mtimeNs = st->mtimeNs;
    s.ctimeNs = st->ctimeNs;
    return s;
}

ListHeadCache::ListHeadCache(QString storePath) : m_storePath(std::move(storePath)) {}

QString ListHeadCache::DefaultStorePath() {
    const QString folder = fileops::UserCacheFolder();
    if (folder.isEmpty())
        return {};
    return folder + QStringLiteral("/listheads.sqlite");
}

void ListHeadCache::loadFolder(const QString& folder) {
    if (m_loaded.value(folder) || m_storePath.isEmpty())
        return;
    m_loaded[folder] = true;
    if (!QFile::exists(m_storePath))
        return;
    Store store(m_storePath, false);
    if (!store.db)
        return;
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(store.db,
                           "SELECT name, device, inode, size, mtime_ns, ctime_ns, kind, type_code, list_name, sqlite_code, what "
                           "FROM heads WHERE folder=?1",
                           -1, &st, nullptr) != SQLITE_OK)
        return;
    const QByteArray f = folder.toUtf8();
    sqlite3_bind_text(st, 1, f.constData(), static_cast<int>(f.size()), SQLITE_TRANSIENT);
    QHash<QString, Entry>& entries = m_folders[folder];
    while (sqlite3_step(st) == SQLITE_ROW) {
        Entry e;
        e.stamp.device = static_cast<uint64_t>(sqlite3_column_int64(st, 1));
        e.stamp.inode = static_cast<uint64_t>(sqlite3_column_int64(st, 2));
        e.stamp.size = sqlite3_column_int64(st, 3);
        e.stamp.mtimeNs = sqlite3_column_int64(st, 4);
        e.stamp.ctimeNs = sqlite3_column_int64(st, 5);
        const int kind = sqlite3_column_int(st, 6);
        if (kind < 0 || kind > 2)
            continue;
        e.head.kind = static_cast<ListHead::Kind>(kind);
        e.head.jet = true;
        e.head.typeCode = static_cast<int16_t>(sqlite3_column_int(st, 7));
        e.head.listName = text(st, 8);
        e.head.sqliteCode = sqlite3_column_int(st, 9);
        e.head.what = text(st, 10).toStdString();
        const QString name = text(st, 0);
        if (!entries.contains(name))
            entries.insert(name, e);
    }
    sqlite3_finalize(st);
}

std::optional<ListHead> ListHeadCache::find(const QString& folder, const QString& name, const FileStamp& stamp) {
    loadFolder(folder);
    const auto f = m_folders.constFind(folder);
    if (f == m_folders.constEnd())
        return std::nullopt;
    const auto e = f->constFind(name);
    if (e == f->constEnd() || !(e->stamp == stamp))
        return std::nullopt;
    return e->head;
}

void ListHeadCache::put(const QString& folder, const QString& name, const FileStamp& stamp, const ListHead& head) {
    m_folders[folder][name] = Entry{stamp, head};
    if (head.jet)
        m_jetChanged = true;
}

void ListHeadCache::finishScan(const QString& folder, const QHash<QString, bool>& present) {
    QHash<QString, Entry>& entries = m_folders[folder];
    for (auto it = entries.begin(); it != entries.end();) {
        if (!present.contains(it.key())) {
            m_jetChanged = m_jetChanged || it->head.jet;
            it = entries.erase(it);
        } else {
            ++it;
        }
    }
    if (!m_jetChanged || m_storePath.isEmpty())
        return;
    m_jetChanged = false;
    QDir().mkpath(QFileInfo(m_storePath).absolutePath());
    Store store(m_storePath, true);
    if (!store.db)
        return;
    if (sqlite3_exec(store.db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK)
        return;
    const QByteArray f = folder.toUtf8();
    sqlite3_stmt* del = nullptr;
    sqlite3_stmt* ins = nullptr;
    bool ok = sqlite3_prepare_v2(store.db, "DELETE FROM heads WHERE folder=?1", -1, &del, nullptr) == SQLITE_OK &&
              sqlite3_prepare_v2(store.db, "INSERT OR REPLACE INTO heads VALUES (?1,?2,?3,?4,?5,?6,?7,?8,?9,?10,?11,?12)",
                                 -1, &ins, nullptr) == SQLITE_OK;
    if (ok) {
        sqlite3_bind_text(del, 1, f.constData(), static_cast<int>(f.size()), SQLITE_TRANSIENT);
        ok = sqlite3_step(del) == SQLITE_DONE;
    }
    for (auto it = entries.constBegin(); ok && it != entries.constEnd(); ++it) {
        if (!it->head.jet)
            continue;
        const QByteArray name = it.key().toUtf8();
        const QByteArray listName = it->head.listName.toUtf8();
        sqlite3_reset(ins);
        sqlite3_bind_text(ins, 1, f.constData(), static_cast<int>(f.size()), SQLITE_TRANSIENT);
        sqlite3_bind_text(ins, 2, name.constData(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
        sqlite3_bind_int64(ins, 3, static_cast<sqlite3_int64>(it->stamp.device));
        sqlite3_bind_int64(ins, 4, static_cast<sqlite3_int64>(it->stamp.inode));
        sqlite3_bind_int64(ins, 5, it->stamp.size);
        sqlite3_bind_int64(ins, 6, it->stamp.mtimeNs);
        sqlite3_bind_int64(ins, 7, it->stamp.ctimeNs);
        sqlite3_bind_int(ins, 8, static_cast<int>(it->head.kind));
        sqlite3_bind_int(ins, 9, it->head.typeCode);
        sqlite3_bind_text(ins, 10, listName.constData(), static_cast<int>(listName.size()), SQLITE_TRANSIENT);
        sqlite3_bind_int(ins, 11, it->head.sqliteCode);
        sqlite3_bind_text(ins, 12, it->head.what.c_str(), static_cast<int>(it->head.what.size()), SQLITE_TRANSIENT);
        ok = sqlite3_step(ins) == SQLITE_DONE;
    }
    // Folders that are gone (a removed share, a test's folder) are forgotten.
    sqlite3_stmt* folders = nullptr;
    QStringList gone;
    if (ok && sqlite3_prepare_v2(store.db, "SELECT DISTINCT folder FROM heads", -1, &folders, nullptr) == SQLITE_OK) {
        while (sqlite3_step(folders) == SQLITE_ROW) {
            const QString other = text(folders, 0);
            if (!QFileInfo::exists(other))
                gone << other;
        }
    }
    sqlite3_finalize(folders);
    for (const QString& other : gone) {
        const QByteArray o = other.toUtf8();
        sqlite3_reset(del);
        sqlite3_bind_text(del, 1, o.constData(), static_cast<int>(o.size()), SQLITE_TRANSIENT);
        ok = ok && sqlite3_step(del) == SQLITE_DONE;
    }
    sqlite3_finalize(del);
    sqlite3_finalize(ins);
    sqlite3_exec(store.db, ok ? "COMMIT" : "ROLLBACK", nullptr, nullptr, nullptr);
}

} // namespace parvault
