#include "jetconvert.h"

#include "daodatabase.h"
#include "daoexception.h"
#include "jetimport.h"
#include "recordsets.h"

#include <QFile>
#include <QFileInfo>

#include <sqlite3.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace parvault {

namespace {

// The mark our own files carry in the SQLite header ("PV2D").
constexpr int kApplicationId = 0x50563244;
// Copying the original when the folder does not take hard links.
constexpr size_t kCopyChunkBytes = 1 << 16;

ConvertStepHook g_stepHook = nullptr;

void step(const char* name) {
    if (g_stepHook)
        g_stepHook(name);
}

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

[[noreturn]] void systemFailure(const std::string& what) {
    const int err = errno;
    throw CDaoException(what + ": " + std::strerror(err), SQLITE_IOERR, err);
}

void syncFile(const QByteArray& path) {
    Fd f(::open(path.constData(), O_RDONLY | O_CLOEXEC));
    if (f.fd < 0 || ::fsync(f.fd) != 0)
        systemFailure("cannot sync " + path.toStdString());
}

void syncFolderOf(const QString& fileName) {
    const QByteArray dir = QFile::encodeName(QFileInfo(fileName).absolutePath());
    Fd f(::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    // Some file systems do not sync folders; the rename is still atomic.
    if (f.fd >= 0)
        ::fsync(f.fd);
}

// Writes the in-memory copy to `target` as one of our own files.
void writeOwnFile(sqlite3* source, const QString& target) {
    const QByteArray path = QFile::encodeName(target);
    sqlite3* raw = nullptr;
    int rc = sqlite3_open_v2(path.constData(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    struct Closer {
        sqlite3* db;
        ~Closer() { sqlite3_close_v2(db); }
    } closer{raw};
    const std::string what = "cannot write " + path.toStdString();
    checkSqlite(raw, rc, what);
    sqlite3_backup* backup = sqlite3_backup_init(raw, "main", source, "main");
    if (!backup)
        checkSqlite(raw, sqlite3_errcode(raw), what);
    sqlite3_backup_step(backup, -1);
    checkSqlite(raw, sqlite3_backup_finish(backup), what);
    const std::string pragma = "PRAGMA application_id=" + std::to_string(kApplicationId);
    checkSqlite(raw, sqlite3_exec(raw, pragma.c_str(), nullptr, nullptr, nullptr), what);
    checkSqlite(raw, sqlite3_close(raw), what);
    closer.db = nullptr;
    syncFile(path);
}

bool sameFile(const QByteArray& a, const QByteArray& b) {
    struct stat sa {}, sb {};
    return ::stat(a.constData(), &sa) == 0 && ::stat(b.constData(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

bool sameContent(const QString& a, const QString& b) {
    QFile fa(a), fb(b);
    if (!fa.open(QIODevice::ReadOnly) || !fb.open(QIODevice::ReadOnly) || fa.size() != fb.size())
        return false;
    while (!fa.atEnd())
        if (fa.read(kCopyChunkBytes) != fb.read(kCopyChunkBytes))
            return false;
    return true;
}

void copyFile(const QByteArray& from, const QByteArray& to) {
    Fd in(::open(from.constData(), O_RDONLY | O_CLOEXEC));
    if (in.fd < 0)
        systemFailure("cannot read " + from.toStdString());
    Fd out(::open(to.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
    if (out.fd < 0)
        systemFailure("cannot write " + to.toStdString());
    char buf[kCopyChunkBytes];
    for (;;) {
        const ssize_t n = ::read(in.fd, buf, sizeof buf);
        if (n < 0)
            systemFailure("cannot read " + from.toStdString());
        if (n == 0)
            break;
        for (ssize_t done = 0; done < n;) {
            const ssize_t w = ::write(out.fd, buf + done, static_cast<size_t>(n - done));
            if (w < 0) {
                const int err = errno;
                ::unlink(to.constData());
                errno = err;
                systemFailure("cannot write " + to.toStdString());
            }
            done += w;
        }
    }
    if (::fsync(out.fd) != 0)
        systemFailure("cannot sync " + to.toStdString());
}

// The original under its kept name. A kept file left by a conversion that
// was stopped after this step is the same file and is taken as it is.
void keepOriginal(const QString& fileName, const QString& keptName) {
    const QByteArray from = QFile::encodeName(fileName);
    const QByteArray to = QFile::encodeName(keptName);
    if (QFileInfo::exists(keptName) || QFileInfo(keptName).isSymLink()) {
        if (sameFile(from, to) || sameContent(fileName, keptName))
            return;
        errno = EEXIST;
        systemFailure(to.toStdString() + " already exists and holds another file");
    }
    if (::link(from.constData(), to.constData()) == 0)
        return;
    copyFile(from, to);
}

ConvertResult failure(ConvertStatus status, const CDaoException& e) {
    ConvertResult r;
    r.status = status;
    r.detail = QString::fromUtf8(e.what());
    r.sqliteCode = e.sqliteCode();
    r.systemErrno = e.systemErrno();
    return r;
}

} // namespace

void SetConvertStepHook(ConvertStepHook hook) { g_stepHook = hook; }

ConvertResult ConvertJetFile(const QString& listFileName) {
    ConvertResult r;
    // A list that is a symbolic link is converted where its file lies: the
    // link keeps pointing at the list, and the original is kept beside it.
    const QFileInfo link(listFileName);
    const QString fileName = link.isSymLink() && link.exists() ? link.canonicalFilePath() : listFileName;
    if (!IsJetFile(fileName)) {
        try {
            CDaoDatabase own;
            own.Open(fileName);
            r.status = ConvertStatus::AlreadyOwn;
        } catch (const CDaoException& e) {
            r = failure(ConvertStatus::NotParameterDatabase, e);
        }
        return r;
    }
    CDaoDatabase source;
    try {
        source.Open(fileName);
    } catch (const CDaoException& e) {
        switch (e.sqliteCode()) {
        case kJetDamagedCode:
            return failure(ConvertStatus::Damaged, e);
        case kJetPasswordCode:
            return failure(ConvertStatus::Password, e);
        case kJetNewerCode:
            return failure(ConvertStatus::Newer, e);
        default:
            return failure(ConvertStatus::Failed, e);
        }
    }
    try {
        if (!source.TableExists(kTableParams) ||
            !(source.TableExists(kTableListHead) || source.TableExists(kTableDeviceTypes))) {
            r.status = ConvertStatus::NotParameterDatabase;
            r.detail = QStringLiteral("no table %1 with %2 or %3").arg(kTableParams, kTableListHead, kTableDeviceTypes);
            return r;
        }
        const QString temp = fileName + kConvertTempSuffix;
        const QString kept = fileName + kJetKeptSuffix;
        // Left by a conversion that was stopped: never the only copy of anything.
        QFile::remove(temp);
        QFile::remove(temp + QStringLiteral("-journal"));
        writeOwnFile(source.handle(), temp);
        step("written");
        keepOriginal(fileName, kept);
        syncFolderOf(fileName);
        step("kept");
        source.Close();
        if (::rename(QFile::encodeName(temp).constData(), QFile::encodeName(fileName).constData()) != 0)
            systemFailure("cannot rename " + temp.toStdString() + " to " + fileName.toStdString());
        syncFolderOf(fileName);
        step("renamed");
        r.status = ConvertStatus::Converted;
        r.keptAs = kept;
    } catch (const CDaoException& e) {
        QFile::remove(fileName + kConvertTempSuffix);
        return failure(ConvertStatus::Failed, e);
    }
    return r;
}

} // namespace parvault
