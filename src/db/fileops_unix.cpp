#include "fileops.h"

#include "folderkind.h"

#include <QFile>
#include <QStandardPaths>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace parvault::fileops {

namespace {

// Copying a file when the folder does not take hard links.
constexpr size_t kCopyChunkBytes = 1 << 16;

QByteArray encoded(const QString& path) { return QFile::encodeName(path); }

FsResult failed(int err) { return {ClassifySystemCode(err), err}; }

FsResult lastFailure() { return failed(errno); }

struct Fd {
    int fd = -1;
    explicit Fd(int f) : fd(f) {}
    ~Fd() {
        if (fd >= 0)
            ::close(fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
};

// renameat2 without glibc's wrapper, which older systems lack.
int renameat2NoReplace(const char* from, const char* to) {
#if defined(SYS_renameat2)
    constexpr unsigned kRenameNoReplace = 1; // RENAME_NOREPLACE
    return static_cast<int>(::syscall(SYS_renameat2, AT_FDCWD, from, AT_FDCWD, to, kRenameNoReplace));
#else
    errno = ENOSYS;
    return -1;
#endif
}

bool saysCode(const QString& text, int code) { return text.contains(SystemErrorText(code), Qt::CaseInsensitive); }

} // namespace

FsError ClassifySystemCode(int systemCode) {
    switch (systemCode) {
    case 0:
        return FsError::None;
    case EEXIST:
    case ENOTEMPTY:
        return FsError::Exists;
    case ENOENT:
    case ENOTDIR:
        return FsError::NotFound;
    case ENOSPC:
    case EDQUOT:
        return FsError::NoSpace;
    case EFBIG:
        return FsError::TooLarge;
    case ENOSYS:
    case EOPNOTSUPP:
        return FsError::NotSupported;
    case EACCES:
    case EPERM:
    case EROFS:
        return FsError::NoPermission;
    default:
        return FsError::Other;
    }
}

QString SystemErrorText(int systemCode) { return QString::fromLocal8Bit(std::strerror(systemCode)); }

FsError ClassifySystemErrorText(const QString& text) {
    if (saysCode(text, ENOSPC) || saysCode(text, EDQUOT))
        return FsError::NoSpace;
    if (saysCode(text, EFBIG))
        return FsError::TooLarge;
    if (saysCode(text, EACCES) || saysCode(text, EPERM) || saysCode(text, EROFS))
        return FsError::NoPermission;
    return FsError::Other;
}

FsResult FailureOf(FsError kind) {
    switch (kind) {
    case FsError::None:
        return {};
    case FsError::Exists:
        return failed(EEXIST);
    case FsError::NotFound:
        return failed(ENOENT);
    case FsError::NoSpace:
        return failed(ENOSPC);
    case FsError::TooLarge:
        return failed(EFBIG);
    case FsError::NotSupported:
        return failed(EOPNOTSUPP);
    case FsError::NoPermission:
        return failed(EACCES);
    case FsError::Other:
        break;
    }
    return {FsError::Other, EIO};
}

int LastSystemCode() { return errno; }
void ClearLastSystemCode() { errno = 0; }

FsResult RenameNoReplace(const QString& from, const QString& to) {
    if (renameat2NoReplace(encoded(from).constData(), encoded(to).constData()) == 0)
        return {};
    // EINVAL: the file system does not take the flag (NFS, older kernels).
    return errno == EINVAL ? FsResult{FsError::NotSupported, EINVAL} : lastFailure();
}

FsResult RenameReplace(const QString& from, const QString& to) {
    return ::rename(encoded(from).constData(), encoded(to).constData()) == 0 ? FsResult{} : lastFailure();
}

FsResult HardLink(const QString& existing, const QString& to) {
    if (::link(encoded(existing).constData(), encoded(to).constData()) == 0)
        return {};
    // link(2) says EPERM when the file system has no hard links at all, and
    // EMLINK when the file has as many as it takes.
    if (errno == EPERM || errno == EMLINK)
        return {FsError::NotSupported, errno};
    return lastFailure();
}

FsResult CreateExclusive(const QString& path) {
    const int fd = ::open(encoded(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
        return lastFailure();
    ::close(fd);
    return {};
}

FsResult RemoveFile(const QString& path) {
    return ::unlink(encoded(path).constData()) == 0 ? FsResult{} : lastFailure();
}

FsResult CopyNoReplace(const QString& from, const QString& to, CopyStep* failedStep) {
    const auto fail = [&](CopyStep step, int err) {
        if (failedStep)
            *failedStep = step;
        return failed(err);
    };
    const QByteArray target = encoded(to);
    Fd in(::open(encoded(from).constData(), O_RDONLY | O_CLOEXEC));
    if (in.fd < 0)
        return fail(CopyStep::Read, errno);
    Fd out(::open(target.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
    if (out.fd < 0)
        return fail(CopyStep::Write, errno);
    // Once the copy exists, a failure removes it: half a copy is no copy.
    const auto failMade = [&](CopyStep step) {
        const int err = errno;
        ::unlink(target.constData());
        return fail(step, err);
    };
    char buf[kCopyChunkBytes];
    for (;;) {
        const ssize_t n = ::read(in.fd, buf, sizeof buf);
        if (n < 0)
            return failMade(CopyStep::Read);
        if (n == 0)
            break;
        for (ssize_t done = 0; done < n;) {
            const ssize_t w = ::write(out.fd, buf + done, static_cast<size_t>(n - done));
            if (w < 0)
                return failMade(CopyStep::Write);
            done += w;
        }
    }
    if (::fsync(out.fd) != 0)
        return failMade(CopyStep::Sync);
    return {};
}

FsResult SyncFile(const QString& path) {
    Fd f(::open(encoded(path).constData(), O_RDONLY | O_CLOEXEC));
    if (f.fd < 0 || ::fsync(f.fd) != 0)
        return lastFailure();
    return {};
}

void SyncFolder(const QString& folder) {
    Fd f(::open(encoded(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (f.fd >= 0)
        ::fsync(f.fd);
}

std::optional<FileStatus> StatusOf(const QString& path) {
    struct stat st {};
    if (::stat(encoded(path).constData(), &st) != 0)
        return std::nullopt;
    FileStatus s;
    s.device = static_cast<uint64_t>(st.st_dev);
    s.fileId = static_cast<uint64_t>(st.st_ino);
    s.size = static_cast<int64_t>(st.st_size);
    s.mtimeNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
    s.ctimeNs = static_cast<int64_t>(st.st_ctim.tv_sec) * 1000000000LL + st.st_ctim.tv_nsec;
    return s;
}

bool SameFile(const QString& a, const QString& b) {
    const std::optional<FileStatus> sa = StatusOf(a);
    const std::optional<FileStatus> sb = StatusOf(b);
    return sa && sb && sa->device == sb->device && sa->fileId == sb->fileId;
}

bool MayRead(const QString& path) { return ::access(encoded(path).constData(), R_OK) == 0; }
bool MayWrite(const QString& path) { return ::access(encoded(path).constData(), W_OK) == 0; }

bool WorkingFolderRemoved() {
    struct stat folder {};
    return ::stat(".", &folder) == 0 && folder.st_nlink == 0;
}

std::optional<bool> IsNetworkFolder(const QString& folder) {
    struct statfs fs {};
    if (::statfs(encoded(folder).constData(), &fs) != 0)
        return std::nullopt;
    return FolderKindOfMagic(static_cast<int64_t>(fs.f_type)) == FolderKind::Network;
}

QString UserCacheFolder() {
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    return base.isEmpty() ? QString() : base + QStringLiteral("/parvault2");
}

int64_t CurrentProcessId() { return static_cast<int64_t>(::getpid()); }

bool ProcessAlive(int64_t pid) {
    if (pid <= 0 || pid != static_cast<pid_t>(pid))
        return false;
    // EPERM: it runs, under another user.
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

QString MachineName() {
    char buf[256] = {};
    if (::gethostname(buf, sizeof buf - 1) != 0)
        return {};
    return QString::fromLocal8Bit(buf);
}

} // namespace parvault::fileops
