#include "listfiletable.h"

#include "daostorage.h"
#include "jetimport.h"
#include "recordsets.h"

#include <QDir>

#include <sqlite3.h>

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

void noteUnreadableJet(ListFileTable& table, const QString& name, const CDaoException& e) {
    UnreadableListFile u{name, e.sqliteCode(), e.what()};
    if (u.sqliteCode == kJetDamagedCode || u.sqliteCode == kJetPasswordCode || u.sqliteCode == kJetNewerCode ||
        u.sqliteCode == SQLITE_CANTOPEN) {
        table.unreadable.push_back(std::move(u));
        return;
    }
    // Opened, but without a list's tables: another application's database,
    // unless it is a main database under another name.
    try {
        CDaoDatabase db;
        db.Open(name);
        if (!db.TableExists(kTableParams) && !db.TableExists(kTableListHead)) {
            u.sqliteCode = 0;
            table.unreadable.push_back(std::move(u));
        }
    } catch (const CDaoException&) {
    }
}

} // namespace

void ScanListFiles(ListFileTable& table) {
    table.reset();
    for (const QString& name : ListDatabaseCandidates()) {
        if (kReservedNames.contains(name)) // exact, letter case included
            continue;
        try {
            CDaoDatabase scan;
            scan.Open(name);
            CMySpisok head(&scan);
            head.Open();
            head.MoveFirst();
            ListFileEntry e;
            e.typeCode = static_cast<int16_t>(head.kod_type_pribor & 0xFFFF);
            e.listName = CutText(head.name, kListNameChars);
            e.fileName = CutText(name, kFileNameChars);
            table.entries.push_back(std::move(e));
            table.count = static_cast<int>(table.entries.size());
        } catch (const CDaoException& e) {
            // Our own files that are no lists are passed over as always; a
            // Jet file the user brought is said why it does not show.
            if (name != QLatin1String(kMainDatabaseName) && IsJetFile(name))
                noteUnreadableJet(table, name, e);
            continue; // not a list file
        }
    }
}

} // namespace parvault
