#include "dbsessionshared.h"

#include "daodatabase.h"
#include "recordsets.h"

#include <QFile>

#include <sqlite3.h>

namespace parvault {

QString mainDatabase() { return QString::fromLatin1(kMainDatabaseName); }

bool isBusy(const CDaoException& e) {
    const int code = e.sqliteCode() & 0xFF;
    return code == SQLITE_BUSY || code == SQLITE_LOCKED;
}

QString busyWaitSeconds() { return QString::number(DatabaseBusyWaitMs() / 1000.0, 'g', 3); }

void removeWithJournal(const QString& fileName) {
    QFile::remove(fileName);
    // A journal left by a crash must not be applied to a later file of that name.
    QFile::remove(fileName + QStringLiteral("-journal"));
}

} // namespace parvault
