#include "fileops.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <process.h>
#include <windows.h>

#include <string>

namespace parvault::fileops {

namespace {

// FILETIME counts 100 ns steps from 1601; these from 1970.
constexpr int64_t kFileTimeTo1970 = 116444736000000000LL;
constexpr int64_t kNsPerFileTimeTick = 100;

std::wstring native(const QString& path) { return QDir::toNativeSeparators(path).toStdWString(); }

FsResult failed(DWORD err) { return {ClassifySystemCode(static_cast<int>(err)), static_cast<int>(err)}; }

FsResult lastFailure() { return failed(::GetLastError()); }

struct Handle {
    HANDLE h = INVALID_HANDLE_VALUE;
    explicit Handle(HANDLE handle) : h(handle) {}
    ~Handle() {
        if (valid())
            ::CloseHandle(h);
    }
    bool valid() const { return h != INVALID_HANDLE_VALUE && h != nullptr; }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
};

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Opens the file, or the folder (which needs the backup flag), with that access.
HANDLE openExisting(const QString& path, DWORD access) {
    return ::CreateFileW(native(path).c_str(), access, kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                         nullptr);
}

int64_t nsSince1970(int64_t fileTime) { return (fileTime - kFileTimeTo1970) * kNsPerFileTimeTick; }

int64_t fileTimeOf(const FILETIME& t) {
    return static_cast<int64_t>((static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime);
}

// Whether opening with that access is allowed; a file another program holds
// without sharing is no matter of permission.
bool mayOpen(const QString& path, DWORD fileAccess, DWORD folderAccess) {
    const DWORD attributes = ::GetFileAttributesW(native(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return false;
    const bool folder = attributes & FILE_ATTRIBUTE_DIRECTORY;
    if (!folder && (fileAccess & GENERIC_WRITE) && (attributes & FILE_ATTRIBUTE_READONLY))
        return false;
    Handle h(openExisting(path, folder ? folderAccess : fileAccess));
    if (h.valid())
        return true;
    const DWORD err = ::GetLastError();
    return err != ERROR_ACCESS_DENIED && err != ERROR_WRITE_PROTECT && err != ERROR_NETWORK_ACCESS_DENIED;
}

// A user over an NTFS quota is told the disk is full.
constexpr DWORD kNoSpaceCodes[] = {ERROR_DISK_FULL, ERROR_HANDLE_DISK_FULL};
constexpr DWORD kTooLargeCodes[] = {ERROR_FILE_TOO_LARGE};
constexpr DWORD kNoPermissionCodes[] = {ERROR_ACCESS_DENIED, ERROR_WRITE_PROTECT, ERROR_NETWORK_ACCESS_DENIED,
                                        ERROR_PRIVILEGE_NOT_HELD};

template <size_t N>
bool saysAnyOf(const QString& text, const DWORD (&codes)[N]) {
    for (DWORD code : codes) {
        const QString words = SystemErrorText(static_cast<int>(code));
        if (!words.isEmpty() && text.contains(words, Qt::CaseInsensitive))
            return true;
    }
    return false;
}

} // namespace

FsError ClassifySystemCode(int systemCode) {
    switch (static_cast<DWORD>(systemCode)) {
    case ERROR_SUCCESS:
        return FsError::None;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return FsError::Exists;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
        return FsError::NotFound;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return FsError::NoSpace;
    case ERROR_FILE_TOO_LARGE:
        return FsError::TooLarge;
    case ERROR_NOT_SUPPORTED:
    case ERROR_INVALID_FUNCTION:
    case ERROR_CALL_NOT_IMPLEMENTED:
        return FsError::NotSupported;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
    case ERROR_NETWORK_ACCESS_DENIED:
    case ERROR_PRIVILEGE_NOT_HELD:
        return FsError::NoPermission;
    default:
        return FsError::Other;
    }
}

QString SystemErrorText(int systemCode) {
    // The words Qt gives a failed file operation: the system's, in its language.
    wchar_t* buffer = nullptr;
    const DWORD n = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                         FORMAT_MESSAGE_IGNORE_INSERTS,
                                     nullptr, static_cast<DWORD>(systemCode), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                     reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    QString text = n ? QString::fromWCharArray(buffer, static_cast<qsizetype>(n)).trimmed() : QString();
    ::LocalFree(buffer);
    if (text.endsWith(QLatin1Char('.')))
        text.chop(1);
    return text.isEmpty() ? QStringLiteral("system error %1").arg(systemCode) : text;
}

FsError ClassifySystemErrorText(const QString& text) {
    if (saysAnyOf(text, kNoSpaceCodes))
        return FsError::NoSpace;
    if (saysAnyOf(text, kTooLargeCodes))
        return FsError::TooLarge;
    if (saysAnyOf(text, kNoPermissionCodes))
        return FsError::NoPermission;
    return FsError::Other;
}

FsResult FailureOf(FsError kind) {
    switch (kind) {
    case FsError::None:
        return {};
    case FsError::Exists:
        return failed(ERROR_FILE_EXISTS);
    case FsError::NotFound:
        return failed(ERROR_FILE_NOT_FOUND);
    case FsError::NoSpace:
        return failed(ERROR_DISK_FULL);
    case FsError::TooLarge:
        return failed(ERROR_FILE_TOO_LARGE);
    case FsError::NotSupported:
        return failed(ERROR_NOT_SUPPORTED);
    case FsError::NoPermission:
        return failed(ERROR_ACCESS_DENIED);
    case FsError::Other:
        break;
    }
    return {FsError::Other, static_cast<int>(ERROR_GEN_FAILURE)};
}

int LastSystemCode() { return static_cast<int>(::GetLastError()); }
void ClearLastSystemCode() { ::SetLastError(ERROR_SUCCESS); }

FsResult RenameNoReplace(const QString& from, const QString& to) {
    // Without MOVEFILE_REPLACE_EXISTING the rename fails when the name exists,
    // in one step, on a local disk and on a share alike.
    if (::MoveFileExW(native(from).c_str(), native(to).c_str(), 0))
        return {};
    return lastFailure();
}

FsResult RenameReplace(const QString& from, const QString& to) {
    if (::MoveFileExW(native(from).c_str(), native(to).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return {};
    return lastFailure();
}

FsResult HardLink(const QString& existing, const QString& to) {
    if (::CreateHardLinkW(native(to).c_str(), native(existing).c_str(), nullptr))
        return {};
    const DWORD err = ::GetLastError();
    if (err == ERROR_TOO_MANY_LINKS)
        return {FsError::NotSupported, static_cast<int>(err)};
    return failed(err);
}

FsResult CreateExclusive(const QString& path) {
    Handle h(::CreateFileW(native(path).c_str(), GENERIC_WRITE, kShareAll, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                           nullptr));
    return h.valid() ? FsResult{} : lastFailure();
}

FsResult RemoveFile(const QString& path) { return ::DeleteFileW(native(path).c_str()) ? FsResult{} : lastFailure(); }

FsResult CopyNoReplace(const QString& from, const QString& to, CopyStep* failedStep) {
    const auto fail = [&](CopyStep step, FsResult r) {
        if (failedStep)
            *failedStep = step;
        return r;
    };
    if (!::CopyFileW(native(from).c_str(), native(to).c_str(), TRUE)) {
        const FsResult r = lastFailure();
        return fail(StatusOf(from) ? CopyStep::Write : CopyStep::Read, r);
    }
    const FsResult synced = SyncFile(to);
    if (!synced.ok()) {
        ::DeleteFileW(native(to).c_str());
        return fail(CopyStep::Sync, synced);
    }
    return {};
}

FsResult SyncFile(const QString& path) {
    // Flushing needs a handle open for writing.
    Handle h(::CreateFileW(native(path).c_str(), GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                           nullptr));
    if (!h.valid() || !::FlushFileBuffers(h.h))
        return lastFailure();
    return {};
}

void SyncFolder(const QString&) {
    // Windows syncs no folder; MOVEFILE_WRITE_THROUGH carries the renames.
}

std::optional<FileStatus> StatusOf(const QString& path) {
    Handle h(openExisting(path, FILE_READ_ATTRIBUTES));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!h.valid() || !::GetFileInformationByHandle(h.h, &info))
        return std::nullopt;
    FileStatus s;
    s.device = info.dwVolumeSerialNumber;
    s.fileId = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    s.size = static_cast<int64_t>((static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow);
    s.mtimeNs = nsSince1970(fileTimeOf(info.ftLastWriteTime));
    // The change time also moves when a file is renamed into its name; some
    // file systems (FAT, some shares) keep none.
    FILE_BASIC_INFO basic{};
    if (::GetFileInformationByHandleEx(h.h, FileBasicInfo, &basic, sizeof basic) && basic.ChangeTime.QuadPart != 0)
        s.ctimeNs = nsSince1970(basic.ChangeTime.QuadPart);
    else
        s.ctimeNs = s.mtimeNs;
    return s;
}

bool SameFile(const QString& a, const QString& b) {
    const std::optional<FileStatus> sa = StatusOf(a);
    const std::optional<FileStatus> sb = StatusOf(b);
    return sa && sb && sa->device == sb->device && sa->fileId == sb->fileId;
}

bool MayRead(const QString& path) { return mayOpen(path, GENERIC_READ, FILE_LIST_DIRECTORY); }
bool MayWrite(const QString& path) { return mayOpen(path, GENERIC_WRITE, FILE_ADD_FILE); }

bool WorkingFolderRemoved() {
    // A folder a program stands in cannot be removed on Windows.
    return false;
}

std::optional<bool> IsNetworkFolder(const QString& folder) {
    const QString absolute = QFileInfo(folder).absoluteFilePath();
    if (IsUncPath(absolute))
        return true;
    wchar_t root[MAX_PATH + 1] = {};
    if (!::GetVolumePathNameW(native(absolute).c_str(), root, MAX_PATH))
        return std::nullopt;
    // A mapped network drive has a letter of its own.
    if (IsUncPath(QString::fromWCharArray(root)))
        return true;
    return ::GetDriveTypeW(root) == DRIVE_REMOTE;
}

QString UserCacheFolder() {
    // Qt's generic data place on Windows is the local application data folder.
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return base.isEmpty() ? QString() : base + QStringLiteral("/Parvault2");
}

int64_t CurrentProcessId() { return static_cast<int64_t>(::_getpid()); }

bool ProcessAlive(int64_t pid) {
    if (pid <= 0 || pid > static_cast<int64_t>(MAXDWORD))
        return false;
    Handle h(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid)));
    if (!h.valid())
        return ::GetLastError() == ERROR_ACCESS_DENIED; // it runs, beyond this user's reach
    DWORD exitCode = 0;
    return ::GetExitCodeProcess(h.h, &exitCode) && exitCode == STILL_ACTIVE;
}

QString MachineName() {
    wchar_t buf[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    if (!::GetComputerNameW(buf, &size))
        return {};
    return QString::fromWCharArray(buf, static_cast<qsizetype>(size));
}

} // namespace parvault::fileops
