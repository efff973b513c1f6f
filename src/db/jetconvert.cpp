#include "jetconvert.h"

#include "daodatabase.h"
#include "daoexception.h"
#include "fileops.h"
#include "jetimport.h"
#include "recordsets.h"

#include <QFile>
#include <QFileInfo>

#include <sqlite3.h>


namespace parvault {

namespace {

// The mark our own files carry in the SQLite header ("PV2D").
constexpr int kApplicationId = 0x50563244;
// Comparing a kept original with the file.
constexpr qint64 kCompareChunkBytes = 1 << 16;

ConvertStepHook g_stepHook = nullptr;

void step(const char* name) {
    if (g_stepHook)
        g_stepHook(name);
}

[[noreturn]] void systemFailure(const std::string& what, const fileops::FsResult& r) {
    throw CDaoException(what + ": " + fileops::SystemErrorText(r.systemCode).toStdString(), SQLITE_IOERR,
                        r.systemCode);
}

void syncFile(const QString& path) {
    const fileops::FsResult r = fileops::SyncFile(path);
    if (!r.ok())
        systemFailure("cannot sync " + path.toUtf8().toStdString(), r);
}

// Some file systems do not sync folders; the rename is still atomic.
void syncFolderOf(const QString& fileName) { fileops::SyncFolder(QFileInfo(fileName).absolutePath()); }

// Writes the in-memory copy to `target` as one of our own files.
void writeOwnFile(sqlite3* source, const QString& target) {
    const QByteArray path = target.toUtf8();
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
    syncFile(target);
}

bool sameContent(const QString& a, const QString& b) {
    QFile fa(a), fb(b);
    if (!fa.open(QIODevice::ReadOnly) || !fb.open(QIODevice::ReadOnly) || fa.size() != fb.size())
        return false;
    while (!fa.atEnd())
        if (fa.read(kCompareChunkBytes) != fb.read(kCompareChunkBytes))
            return false;
    return true;
}

void copyFile(const QString& from, const QString& to) {
    fileops::CopyStep step = fileops::CopyStep::Write;
    const fileops::FsResult r = fileops::CopyNoReplace(from, to, &step);
    if (r.ok())
        return;
    switch (step) {
    case fileops::CopyStep::Read:
        systemFailure("cannot read " + from.toUtf8().toStdString(), r);
    case fileops::CopyStep::Write:
        systemFailure("cannot write " + to.toUtf8().toStdString(), r);
    case fileops::CopyStep::Sync:
        break;
    }
    systemFailure("cannot sync " + to.toUtf8().toStdString(), r);
}

// The original under its kept name. A kept file left by a conversion that
// was stopped after this step is the same file and is taken as it is.
void keepOriginal(const QString& fileName, const QString& keptName) {
    if (QFileInfo::exists(keptName) || QFileInfo(keptName).isSymLink()) {
        if (fileops::SameFile(fileName, keptName) || sameContent(fileName, keptName))
            return;
        systemFailure(keptName.toUtf8().toStdString() + " already exists and holds another file",
                      fileops::FailureOf(fileops::FsError::Exists));
    }
    if (fileops::HardLink(fileName, keptName).ok())
        return;
    copyFile(fileName, keptName);
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
        if (const fileops::FsResult moved = fileops::RenameReplace(temp, fileName); !moved.ok())
            systemFailure("cannot rename " + temp.toStdString() + " to " + fileName.toStdString(), moved);
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
