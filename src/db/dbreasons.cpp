#include "dbreasons.h"

#include "jetimport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sqlite3.h>
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace parvault {

QString reasonOf(const CDaoException& e) {
    // The system's error is the cause only of a failed file access.
    const int code = e.sqliteCode() & 0xFF;
    const bool fileAccess = code == SQLITE_IOERR || code == SQLITE_CANTOPEN || code == SQLITE_FULL;
    switch (fileAccess ? e.systemErrno() : 0) {
    case ENOSPC:
    case EDQUOT:
        return QStringLiteral("на диске нет места");
    case EFBIG:
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
    struct stat folder {};
    if (::stat(".", &folder) == 0 && folder.st_nlink == 0)
        return QStringLiteral("рабочей папки больше нет");
    const bool exists = QFileInfo::exists(fileName);
    if (!exists && ::access(".", W_OK) != 0)
        return QStringLiteral("нет права записи в папку %1").arg(QDir::currentPath());
    if (exists && ::access(QFile::encodeName(fileName).constData(), W_OK) != 0)
        return QStringLiteral("нет права записи в файл");
    return reasonOf(e);
}

QString whyUnreadable(const QString& fileName, const CDaoException& e) {
    if (!QFileInfo::exists(fileName))
        return QStringLiteral("файла больше нет");
    if (::access(QFile::encodeName(fileName).constData(), R_OK) != 0)
        return QStringLiteral("нет права чтения файла");
    return reasonOf(e);
}

} // namespace parvault
