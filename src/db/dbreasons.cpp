#include "dbreasons.h"

#include "fileops.h"
#include "jetimport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sqlite3.h>

namespace parvault {

QString reasonOf(const CDaoException& e) {
    // The system's error is the cause only of a failed file access.
    const int code = e.sqliteCode() & 0xFF;
    const bool fileAccess = code == SQLITE_IOERR || code == SQLITE_CANTOPEN || code == SQLITE_FULL;
    switch (fileAccess ? fileops::ClassifySystemCode(e.systemErrno()) : fileops::FsError::None) {
    case fileops::FsError::NoSpace:
        return QStringLiteral("на диске нет места");
    case fileops::FsError::TooLarge:
        return QStringLiteral("превышен допустимый размер файла");
    default:
        break;
    }
    switch (code) {
    case SQLITE_FULL:
        return QStringLiteral("на диске нет места");
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return QStringLiteral("файл занят другой программой");
    case SQLITE_READONLY:
        return QStringLiteral("нет права записи в файл");
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
        return QStringLiteral("файл повреждён");
    case kJetPasswordCode:
        return QStringLiteral("файл защищён паролем");
    case kJetNewerCode:
        return QStringLiteral("файл более новой версии формата (.accdb), программа его не читает");
    case SQLITE_IOERR:
        return QStringLiteral("ошибка чтения или записи диска");
    default:
        return QStringLiteral("ошибка базы данных (%1)").arg(QString::fromUtf8(e.what()));
    }
}

QString whyUnusable(const QString& fileName, const CDaoException& e) {
    if (fileops::WorkingFolderRemoved())
        return QStringLiteral("рабочей папки больше нет");
    const bool exists = QFileInfo::exists(fileName);
    if (!exists && !fileops::MayWrite(QStringLiteral(".")))
        return QStringLiteral("нет права записи в папку %1").arg(QDir::currentPath());
    if (exists && !fileops::MayWrite(fileName))
        return QStringLiteral("нет права записи в файл");
    return reasonOf(e);
}

QString whyUnreadable(const QString& fileName, const CDaoException& e) {
    if (!QFileInfo::exists(fileName))
        return QStringLiteral("файла больше нет");
    if (!fileops::MayRead(fileName))
        return QStringLiteral("нет права чтения файла");
    return reasonOf(e);
}

} // namespace parvault
