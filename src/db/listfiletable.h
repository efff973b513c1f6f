#pragma once

// The list files found by the last tree build, and the scan that finds them.

#include <QString>
#include <QStringList>

#include <cstdint>
#include <string>
#include <vector>

namespace parvault {

inline constexpr int kFileNameChars = 30;
inline constexpr int kListNameChars = 63;
inline constexpr int kTypeNameChars = 31;

// Files with these exact names are never list files.
inline const QStringList kReservedNames = {QStringLiteral("parvlt2.mdb"), QStringLiteral("pvl100-1.mdb")};

struct ListFileEntry {
    QString fileName; // at most 30 characters
    QString listName; // at most 63 characters
    QString typeName; // at most 31 characters; empty until attached to a group
    int16_t typeCode = 0;
};

// Every list file of the folder: years of commissioning make folders of
// thousands, and the table grows with them.
// A Jet file of the folder that is no usable list: which, and why (the
// storage layer's failure; code 0 when the file is readable but holds no
// parameter tables).
struct UnreadableListFile {
    QString fileName;
    int sqliteCode = 0;
    std::string what;
};

struct ListFileTable {
    std::vector<ListFileEntry> entries;
    int count = 0; // entries.size()
    std::vector<UnreadableListFile> unreadable;

    void reset();
    // List number n (1..count) names entry n-1; nothing for any other number.
    const ListFileEntry* entry(int listNumber) const;
    // The list number of the entry holding this file, or 0.
    int findFile(const QString& fileName) const;
};

// The first n characters, never splitting a character made of two UTF-16 units.
QString CutText(const QString& text, int maxChars);

// Names matching "*.mdb" in the current directory, all of them, in name order
// (letter case ignored, as users of case-insensitive file systems see them):
// list files are named after the time of saving, so the newest come last.
QStringList ListDatabaseCandidates();

class ListHeadCache;

// Fills the table from the current directory: every candidate that is not a
// reserved name and whose "Список" table has a first row. Files that cannot
// be read so are skipped silently, except Jet files, which are said why.
// With a cache, only files new or changed since it saw them are read.
void ScanListFiles(ListFileTable& table, ListHeadCache* cache = nullptr);

} // namespace parvault
