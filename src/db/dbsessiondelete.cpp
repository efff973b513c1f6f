// Deleting a list: its file is removed under the write lock, so a store in
// another program ends first and one that comes later finds the file gone.

#include "dbsession.h"

#include "dbsessionshared.h"
#include "jetimport.h"

#include <QFile>

namespace parvault {

namespace {

const QString kMsgListNotDeletedBusy =
    QStringLiteral("Список не удаляется: файл %1 занят другой программой (ждали %2 с). Повторите позже.\n");
const QString kMsgListNotDeleted = QStringLiteral("Список не удаляется: файл %1 не удаляется — %2.\n");

} // namespace

bool DbSession::DeleteSelectedList(std::optional<int32_t> selectedItemData, bool treeHasFocus) {
    WaitCursorRun cursor(waitCursor);
    const int32_t data = selectedItemData.value_or(0);
    const int code = TypeCodeOf(data);
    const int list = ListNumberOf(data);
    if (!treeHasFocus || code == 0 || list == 0)
        return false;
    const ListFileEntry* e = listFileTable.entry(list);
    if (currentDatabase.IsOpen())
        currentDatabase.Close();
    auto deleted = [&] {
        m_rows.clear();
        // The shown rows are gone with any deletion, so nothing is loaded now;
        // in particular no later command acts on the deleted file.
        forgetLoadedList();
        return true;
    };
    if (!e || e->fileName.isEmpty())
        return deleted();
    const QString fileName = e->fileName;
    if (IsJetFile(fileName)) {
        removeWithJournal(fileName); // never written, so never locked by us
        return deleted();
    }
    // Removed while holding the write lock: a store under way in another
    // program ends first, and one that comes later finds the file gone.
    CDaoDatabase db;
    try {
        db.Open(fileName);
        DaoTransaction tx(db);
        removeWithJournal(fileName);
    } catch (const CDaoException& ex) {
        if (isBusy(ex)) {
            // Nothing changes: the list stays, and so do the rows shown.
            m_ui.message(kMsgListNotDeletedBusy.arg(fileName, busyWaitSeconds()), kAppCaption);
            return false;
        }
        removeWithJournal(fileName); // not a database we can lock: removed as it is
    }
    // Windows removes no file that is open, our own lock's included: there
    // the file goes once the lock is let go.
    db.Close();
    QFile file(fileName);
    if (file.exists() && !file.remove()) {
        // Said, not taken for done: the list stays, and so do the rows shown.
        m_ui.message(kMsgListNotDeleted.arg(fileName, file.errorString()), kAppCaption);
        return false;
    }
    QFile::remove(fileName + QStringLiteral("-journal"));
    return deleted();
}

} // namespace parvault
