#pragma once

// The few file-system and process calls the storage layer needs beyond Qt's,
// with one implementation per system (fileops_unix.cpp, fileops_win.cpp).
// Each call reports a failure as a kind the callers decide on, plus the
// system's own code (errno, or the Windows error) for the message; so which
// failure moves on to another way, and which text the user reads, is
// written once above this layer.

#include <QString>

#include <cstdint>
#include <optional>

namespace parvault::fileops {

enum class FsError {
    None,
    Exists,       // the name is taken
    NotFound,     // the file or a folder on its path is not there
    NoSpace,      // the disk or the user's quota is full
    TooLarge,     // the file size limit
    NotSupported, // this file system does not offer the operation
    NoPermission,
    Other,
};

struct FsResult {
    FsError error = FsError::None;
    int systemCode = 0; // 0 on success
    bool ok() const { return error == FsError::None; }
};

// The kind of a system code as any call reports it.
FsError ClassifySystemCode(int systemCode);
// The system's words for its code.
QString SystemErrorText(int systemCode);
// The kind a text names, when it holds the system's words for one of the
// codes of that kind (Qt keeps only the text of a failure).
FsError ClassifySystemErrorText(const QString& text);
// A failure of the given kind with a code of this system that says it.
FsResult FailureOf(FsError kind);
// The code of the last failed system call of this thread, and its reset, for
// a failure that Qt reports without its code.
int LastSystemCode();
void ClearLastSystemCode();

// `from` takes the name `to` in one step, which fails with Exists when the
// name is taken; NotSupported when the file system cannot do it so.
FsResult RenameNoReplace(const QString& from, const QString& to);
// `from` takes the name `to`, replacing a file of that name.
FsResult RenameReplace(const QString& from, const QString& to);
// A second name `to` for the file `existing`; Exists when it is taken,
// NotSupported when the file system has no hard links.
FsResult HardLink(const QString& existing, const QString& to);
// An empty file made under `path` only if no file has that name.
FsResult CreateExclusive(const QString& path);
FsResult RemoveFile(const QString& path);
// A copy of `from` made under `to` only if no file has that name, on the
// disk when this returns; a failed copy leaves no file under `to`.
enum class CopyStep { Read, Write, Sync };
FsResult CopyNoReplace(const QString& from, const QString& to, CopyStep* failedStep = nullptr);
// The file's contents reach the disk.
FsResult SyncFile(const QString& path);
// The folder's names reach the disk where the system lets a folder be
// synced; a best effort, as a rename is atomic without it.
void SyncFolder(const QString& folder);

// What tells one file from another and a changed file from an unchanged
// one. `fileId` is the inode or the file index, unique on its `device`.
struct FileStatus {
    uint64_t device = 0;
    uint64_t fileId = 0;
    int64_t size = 0;
    int64_t mtimeNs = 0; // since 1970
    int64_t ctimeNs = 0; // the status change, where the system keeps one; else mtimeNs
};
// Nothing when the file cannot be reached. Follows symbolic links.
std::optional<FileStatus> StatusOf(const QString& path);
// Whether two names lead to one file.
bool SameFile(const QString& a, const QString& b);

// Whether this user may read or write the file, or make files in the folder.
bool MayRead(const QString& path);
bool MayWrite(const QString& path);
// Whether the current folder was removed while a program stood in it.
bool WorkingFolderRemoved();

// Whether the folder lies on a network file system; nothing when it cannot
// be told.
std::optional<bool> IsNetworkFolder(const QString& folder);
// A Windows network path (\\server\share\..., or with forward slashes), as
// opposed to a drive path or a device path (\\.\, \\?\C:).
bool IsUncPath(const QString& path);

// The folder where this user's programs keep what only saves time:
// $XDG_CACHE_HOME/parvault2 (or ~/.cache/parvault2), %LOCALAPPDATA%\Parvault2
// on Windows. Empty when there is no such place.
QString UserCacheFolder();

int64_t CurrentProcessId();
// Whether a process of this machine with that id still runs. A process this
// user may not look at still runs.
bool ProcessAlive(int64_t pid);
// The machine's name as the system gives it; empty when it gives none.
QString MachineName();

} // namespace parvault::fileops
