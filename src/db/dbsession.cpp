// The session's own state: the main database, the loaded list, reopening.
// Each command has a file of its own: dbsessiontree.cpp (the tree),
// dbsessionload.cpp (loading a list), dbsessionsavelist.cpp (saving a new
// list), dbsessionstore.cpp (storing values and the export), and
// dbsessiondelete.cpp (deleting a list); dbsessionshared.* hold what they share.

#include "dbsession.h"

#include "dbreasons.h"
#include "dbsessionshared.h"
#include "recordsets.h"

#include <QDir>
#include <QFileInfo>

namespace parvault {

QString ListFileNameFor(const QDateTime& t) {
    const QDate d = t.date();
    const QTime tm = t.time();
    return QString::asprintf("%02d%02d%02d%02d%02d%02d.mdb", d.year() % 100, d.month(), d.day(), tm.hour(),
                             tm.minute(), tm.second());
}

DbSession::DbSession(DbUi& ui, RowTable& rows)
    : workingDirectory(QDir::currentPath()), waitCursor(&ui), m_ui(ui), m_rows(rows), m_loadedFile(mainDatabase()) {}

bool DbSession::MainDatabaseExists() { return QFileInfo::exists(mainDatabase()); }

bool DbSession::OpenMainDatabase() {
    m_mainMissing.clear();
    m_mainUnreadable.clear();
    try {
        reopenCurrent(mainDatabase());
        for (const QString& table : {kTableDeviceTypes, kTableParams})
            if (!currentDatabase.TableExists(table))
                m_mainMissing << table;
    } catch (const CDaoException& e) {
        m_mainUnreadable = whyUnreadable(mainDatabase(), e);
        currentDatabase.Close();
        return false;
    }
    if (m_mainMissing.isEmpty())
        return true;
    currentDatabase.Close();
    return false;
}

QString DbSession::MainDatabaseProblemText() const {
    if (!m_mainUnreadable.isEmpty())
        return QStringLiteral("Файл %1: %2.").arg(mainDatabase(), m_mainUnreadable);
    QStringList lines;
    for (const QString& table : m_mainMissing)
        lines << QStringLiteral("Нет таблицы «%1».").arg(table);
    return lines.join(QLatin1Char('\n'));
}

void DbSession::reopenCurrent(const QString& fileName) {
    if (currentDatabase.IsOpen())
        currentDatabase.Close();
    currentDatabase.Open(fileName);
}

void DbSession::forgetLoadedList() {
    currentTypeCode = 0;
    currentListNumber = 0;
    m_loadedFile = mainDatabase();
}

QStringList DbSession::ListFileNames() const {
    QStringList names;
    for (const ListFileEntry& e : listFileTable.entries)
        if (!e.fileName.isEmpty())
            names << e.fileName;
    for (const UnreadableListFile& u : listFileTable.unreadable)
        names << u.fileName;
    return names;
}

bool DbSession::ReopenCurrentDatabase() {
    QString file = mainDatabase();
    if (const ListFileEntry* e = listFileTable.entry(currentListNumber))
        file = e->fileName;
    try {
        reopenCurrent(file);
        return true;
    } catch (const CDaoException&) {
        return false;
    }
}

} // namespace parvault
