#pragma once

// Jet files (existing main databases and list files) in the storage layer:
// the file is read by the helper program parvault2-jetread and its tables
// are copied into an in-memory database, on which every query runs as on one
// of our own files. The copy is read-only: nothing is ever written to a Jet
// file.

#include <QString>
#include <QStringList>

#include <exception>
#include <functional>

struct sqlite3;

namespace parvault {

// Failures of reading a Jet file, as CDaoException carries them (SQLite's own
// codes of the nearest meaning): damaged, password-protected, and the newer
// engine's format, which SQLite never uses for anything else.
inline constexpr int kJetDamagedCode = 11;  // SQLITE_CORRUPT
inline constexpr int kJetPasswordCode = 23; // SQLITE_AUTH
inline constexpr int kJetNewerCode = 24;    // SQLITE_FORMAT

// The helper gets this long for a file before it is stopped.
inline constexpr int kJetReadTimeoutMs = 60000;
// More output than this is not a parameter database (the largest list is a
// few megabytes).
inline constexpr qint64 kJetReadMaxBytes = 512LL * 1024 * 1024;
// Names the helper program; without it the helper is looked for next to the
// running program.
inline constexpr const char* kJetReaderVariable = "PARVAULT_JETREAD";

// True when the file starts as a Jet (or newer engine's) database does,
// whatever its name. False for a missing or unreadable file.
bool IsJetFile(const QString& fileName);

// A new in-memory connection holding the file's tables, made read-only.
// Raises CDaoException (see the codes above) when the file cannot be read.
sqlite3* ImportJetFile(const QString& fileName);

// Receives one file of ImportJetFiles: its index among the names, and either
// a new in-memory connection as ImportJetFile makes it (the receiver owns it)
// or what ImportJetFile would have raised.
using JetImported = std::function<void(int index, sqlite3* db, std::exception_ptr failure)>;

// ImportJetFile for many files with few runs of the helper. Files the helper
// did not get through (it stopped on one, or could not be started) are not
// passed on: the caller reads those one by one, where a file that stops the
// helper is found and reported alone.
void ImportJetFiles(const QStringList& fileNames, const JetImported& each);

// Where the helper program is.
QString JetReaderProgram();

} // namespace parvault
