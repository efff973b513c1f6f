#include "listfiletable.h"

#include "daostorage.h"
#include "jetimport.h"
#include "listheadcache.h"
#include "recordsets.h"

#include <QDir>
#include <QHash>

#include <sqlite3.h>

#include <exception>
#include <functional>
#include <optional>
#include <vector>

namespace parvault {

void ListFileTable::reset() {
    entries.clear();
    count = 0;
    unreadable.clear();
}

const ListFileEntry* ListFileTable::entry(int listNumber) const {
    if (listNumber < 1 || listNumber > count)
        return nullptr;
    return &entries[static_cast<size_t>(listNumber - 1)];
}

int ListFileTable::findFile(const QString& fileName) const {
    for (int k = 0; k < count; ++k)
        if (entries[static_cast<size_t>(k)].fileName == fileName)
            return k + 1;
    return 0;
}

QString CutText(const QString& text, int maxChars) {
    if (maxChars <= 0)
        return {};
    if (text.size() <= maxChars)
        return text;
    qsizetype n = maxChars;
    if (text.at(n - 1).isHighSurrogate())
        --n;
    return text.left(n);
}

QStringList ListDatabaseCandidates() {
    QDir dir = QDir::current();
    // Directories and hidden files are entries of the listing too; they
    // simply fail to open.
    return dir.entryList({QStringLiteral("*.mdb")},
                         QDir::Files | QDir::Dirs | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                         QDir::Name | QDir::IgnoreCase);
}

namespace {

// Why a Jet file is no usable list, or nothing when it is said nothing about.
std::optional<UnreadableListFile> whyJetUnusable(const QString& name, const CDaoException& e) {
    UnreadableListFile u{name, e.sqliteCode(), e.what()};
    if (u.sqliteCode == kJetDamagedCode || u.sqliteCode == kJetPasswordCode || u.sqliteCode == kJetNewerCode ||
        u.sqliteCode == SQLITE_CANTOPEN)
        return u;
    // Opened, but without a list's tables: another application's database,
    // unless it is a main database under another name.
    try {
        CDaoDatabase db;
        db.Open(name);
        if (!db.TableExists(kTableParams) && !db.TableExists(kTableListHead)) {
            u.sqliteCode = 0;
            return u;
        }
    } catch (const CDaoException&) {
    }
    return std::nullopt;
}

// Opens a file for its head: by default as any database is opened.
using HeadOpener = std::function<void(CDaoDatabase&)>;

// Reads the head of one file. Nothing when the answer may change without the
// file changing (another program holds it locked), so it is not remembered.
std::optional<ListHead> readHead(const QString& name, const HeadOpener& open = {}) {
    ListHead h;
    h.jet = IsJetFile(name);
    try {
        CDaoDatabase scan;
        if (open)
            open(scan);
        else
            scan.Open(name);
        CMySpisok head(&scan);
        head.Open();
        head.MoveFirst();
        h.kind = ListHead::Kind::List;
        h.typeCode = static_cast<int16_t>(head.kod_type_pribor & 0xFFFF);
        h.listName = head.name;
        return h;
    } catch (const CDaoException& e) {
        const int code = e.sqliteCode() & 0xFF;
        if (code == SQLITE_BUSY || code == SQLITE_LOCKED || code == SQLITE_CANTOPEN)
            return std::nullopt;
        // Our own files that are no lists are passed over as always; a
        // Jet file the user brought is said why it does not show.
        h.kind = ListHead::Kind::NotList;
        if (h.jet && name != QLatin1String(kMainDatabaseName)) {
            if (const auto u = whyJetUnusable(name, e)) {
                h.kind = ListHead::Kind::Unreadable;
                h.sqliteCode = u->sqliteCode;
                h.what = u->what;
            }
        }
        return h;
    }
}

// A locked or vanishing file, read as always without remembering.
void noteUncached(ListFileTable& table, const QString& name) {
    if (name != QLatin1String(kMainDatabaseName) && IsJetFile(name)) {
        try {
            CDaoDatabase db;
            db.Open(name);
        } catch (const CDaoException& e) {
            if (auto u = whyJetUnusable(name, e))
                table.unreadable.push_back(std::move(*u));
        }
    }
}

} // namespace

// Heads of the Jet files among names, read with few runs of the helper:
// starting it once per file made a folder's first listing take seconds per
// hundred files. A file the batch did not get through is left out and read
// on its own.
QHash<QString, std::optional<ListHead>> readJetHeads(const QStringList& names) {
    QHash<QString, std::optional<ListHead>> heads;
    // One file is read as fast alone.
    if (names.size() < 2)
        return heads;
    ImportJetFiles(names, [&](int index, sqlite3* db, std::exception_ptr failure) {
        const QString& name = names.at(index);
        heads.insert(name, readHead(name, [&](CDaoDatabase& scan) {
                         if (failure)
                             std::rethrow_exception(failure);
                         scan.OpenJetImport(name, db);
                     }));
    });
    return heads;
}

void ScanListFiles(ListFileTable& table, ListHeadCache* cache) {
    table.reset();
    const QString folder = QDir::currentPath();
    struct Candidate {
        QString name;
        std::optional<FileStamp> stamp;
        std::optional<ListHead> head;
    };
    std::vector<Candidate> candidates;
    QHash<QString, bool> present;
    QStringList unknownJet;
    for (const QString& name : ListDatabaseCandidates()) {
        if (kReservedNames.contains(name)) // exact, letter case included
            continue;
        present.insert(name, true);
        Candidate c{name, StampOf(name), std::nullopt};
        if (cache && c.stamp)
            c.head = cache->find(folder, name, *c.stamp);
        if (!c.head && IsJetFile(name))
            unknownJet << name;
        candidates.push_back(std::move(c));
    }
    const QHash<QString, std::optional<ListHead>> jetHeads = readJetHeads(unknownJet);
    for (Candidate& c : candidates) {
        const QString& name = c.name;
        if (!c.head) {
            const auto read = jetHeads.constFind(name);
            c.head = read != jetHeads.cend() ? *read : readHead(name);
            if (!c.head) {
                noteUncached(table, name);
                continue;
            }
            // Only a file that did not change while it was read is remembered.
            if (cache && c.stamp && StampOf(name) == c.stamp)
                cache->put(folder, name, *c.stamp, *c.head);
        }
        const ListHead& head = *c.head;
        switch (head.kind) {
        case ListHead::Kind::List: {
            ListFileEntry e;
            e.typeCode = head.typeCode;
            e.listName = CutText(head.listName, kListNameChars);
            e.fileName = CutText(name, kFileNameChars);
            table.entries.push_back(std::move(e));
            table.count = static_cast<int>(table.entries.size());
            break;
        }
        case ListHead::Kind::Unreadable:
            table.unreadable.push_back(UnreadableListFile{name, head.sqliteCode, head.what});
            break;
        case ListHead::Kind::NotList:
            break;
        }
    }
    if (cache)
        cache->finishScan(folder, present);
}

} // namespace parvault
