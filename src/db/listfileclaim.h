#pragma once

// Making a new list file when several programs save into one folder, on one
// machine or over a network share. A list is written whole under a private
// temporary name the tree never shows, and only then takes its list name in
// one step that fails when the name exists; so no file under a list name is
// ever half-made, and two saves never share a file.

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

namespace parvault {

// ".parvault2-save.HOST.PID.RANDOM.part": hidden, not "*.mdb", and it says
// which process on which machine writes it.
inline const QString kSaveTempPrefix = QStringLiteral(".parvault2-save.");
inline const QString kSaveTempSuffix = QStringLiteral(".part");
// A save takes seconds; a temporary file of another machine untouched this
// long cannot belong to a save that still runs.
inline constexpr int64_t kForeignLeftoverAgeSeconds = 3600;

// A fresh temporary name for this process (no folder part).
QString NewSaveTempName();

struct SaveTempOwner {
    QString host;
    int64_t pid = 0;
};
// The owner named by a temporary name (or its SQLite journal); nothing for
// any other name.
std::optional<SaveTempOwner> ParseSaveTempName(const QString& fileName);

// Whether a temporary file can be removed: it is a leftover of a save that
// died. On this machine its process is gone; another machine's cannot be
// asked, so only its age tells.
bool IsDeadSaveLeftover(const SaveTempOwner& owner, const QString& thisHost, bool ownerAlive,
                        int64_t ageSeconds);

// This machine's name as the temporary names carry it.
QString ThisHostName();

// Removes the leftovers of dead saves from the current folder; returns the
// names removed.
QStringList CleanSaveLeftovers();

enum class ClaimStatus { Claimed, Taken, Failed };
struct ClaimResult {
    ClaimStatus status = ClaimStatus::Failed;
    int systemErrno = 0; // when Failed: the system's code (errno, or the Windows error)
};

// The ways a name is claimed, tried in this order by Auto; a filesystem
// without one moves on to the next. Tests choose one to try each here.
enum class ClaimWay { Auto, RenameNoReplace, HardLink, ExclusivePlaceholder };

// Gives the whole file `temp` the name `name` unless a file of that name
// exists. Atomic where the filesystem allows: rename without replacing, else
// a hard link (what network filesystems offer), else an exclusively created
// placeholder that the file then replaces. On success `temp` is gone.
ClaimResult ClaimListFileName(const QString& temp, const QString& name, ClaimWay way = ClaimWay::Auto);

} // namespace parvault
