#pragma once

// What the tree needs from each list file (its header: type code and list
// name, or why it is no list), remembered by the file's identity and stamp,
// so that a refresh after a save or a delete reads only files that changed.
// Reading a Jet file costs a helper process, so its heads are also kept on
// disk, outside the working folder (under $XDG_CACHE_HOME/parvault2, or
// %LOCALAPPDATA%\Parvault2 on Windows), for the next start. A file whose
// inode (file index), size or modification time changed is read
// again; a list file is only ever replaced whole (a new inode), never edited
// in its header.

#include <QHash>
#include <QString>

#include <cstdint>
#include <optional>
#include <string>

namespace parvault {

struct FileStamp {
    uint64_t device = 0;
    uint64_t inode = 0;
    int64_t size = 0;
    int64_t mtimeNs = 0;
    int64_t ctimeNs = 0; // also changes when a file is renamed into the name
    bool operator==(const FileStamp& o) const {
        return device == o.device && inode == o.inode && size == o.size && mtimeNs == o.mtimeNs &&
               ctimeNs == o.ctimeNs;
    }
};
// Nothing when the file cannot be reached.
std::optional<FileStamp> StampOf(const QString& fileName);

struct ListHead {
    enum class Kind { List, NotList, Unreadable };
    Kind kind = Kind::NotList;
    bool jet = false;
    int16_t typeCode = 0;
    QString listName;
    int sqliteCode = 0; // Unreadable: the storage layer's failure
    std::string what;
};

class ListHeadCache {
public:
    // With an empty store path, nothing is kept on disk.
    explicit ListHeadCache(QString storePath = DefaultStorePath());

    // listheads.sqlite in the user's cache folder (fileops::UserCacheFolder);
    // empty when there is no such place.
    static QString DefaultStorePath();

    // The head of `name` in `folder` (an absolute path) if its stamp is the one seen.
    std::optional<ListHead> find(const QString& folder, const QString& name, const FileStamp& stamp);
    void put(const QString& folder, const QString& name, const FileStamp& stamp, const ListHead& head);
    // Forgets the folder's files not named in `present`, and writes the Jet
    // heads learnt to the store. Failures to write are ignored: the cache
    // only saves time.
    void finishScan(const QString& folder, const QHash<QString, bool>& present);

private:
    struct Entry {
        FileStamp stamp;
        ListHead head;
    };
    void loadFolder(const QString& folder);

    QString m_storePath;
    QHash<QString, QHash<QString, Entry>> m_folders; // folder -> name -> entry
    QHash<QString, bool> m_loaded;                   // folders read from the store
    bool m_jetChanged = false;
};

} // namespace parvault
