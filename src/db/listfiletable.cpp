#include "listfiletable.h"

#include "daostorage.h"
#include "recordsets.h"

#include <QDir>

namespace parvault {

void ListFileTable::reset() {
    entries.clear();
    count = 0;
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
        } catch (const CDaoException&) {
            continue; // not a list file
        }
    }
}

} // namespace parvault
