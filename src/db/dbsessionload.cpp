// Loading the rows of a tree item: a list file's rows with their stored
// values, or a device type's template rows of the main database.

#include "dbsession.h"

#include "dbreasons.h"
#include "dbsessionshared.h"
#include "recordsets.h"

#include <sqlite3.h>

#include <algorithm>

namespace parvault {

namespace {

const QString kMsgListNotLoaded = QStringLiteral("Список не загружается: файл %1 не открывается — %2.\n");

} // namespace

void DbSession::LoadTreeItem(int32_t itemData) {
    WaitCursorRun cursor(waitCursor);
    waitCursor.step();
    currentTypeCode = TypeCodeOf(itemData);
    currentListNumber = ListNumberOf(itemData);
    m_goneList.reset();

    QString file = mainDatabase();
    m_loadedListName.clear();
    if (currentListNumber != 0) {
        const ListFileEntry* e = listFileTable.entry(currentListNumber);
        file = e ? e->fileName : QString();
        if (e)
            m_loadedListName = e->listName;
    }
    // A file that cannot be read loads nothing, and the user is told which
    // and why (an item whose list has no file names none, so nothing is said).
    auto notLoaded = [&](const QString& why) {
        currentDatabase.Close();
        forgetLoadedList();
        m_rows.clear();
        if (!file.isEmpty())
            m_ui.message(kMsgListNotLoaded.arg(file, why), kAppCaption);
    };
    try {
        if (currentDatabase.IsOpen())
            currentDatabase.Close();
        if (file.isEmpty())
            throw CDaoException("no such list", SQLITE_NOTFOUND);
        currentDatabase.Open(file);
    } catch (const CDaoException& e) {
        notLoaded(whyUnreadable(file, e));
        return;
    }
    const bool fromListFile = currentListNumber != 0;

    CParametr rs(&currentDatabase);
    rs.m_strFilter = ParamFilter(currentTypeCode);
    rs.m_strSort = kParamSort;
    try {
        rs.Open();
    } catch (const CDaoException& e) {
        bool noTable = false;
        try {
            noTable = !currentDatabase.TableExists(kTableParams);
        } catch (const CDaoException&) {
        }
        notLoaded(noTable ? QStringLiteral("в файле нет таблицы «%1»").arg(kTableParams) : whyUnreadable(file, e));
        return;
    }
    m_loadedFile = file;
    m_rows.setRows(readRows(rs, fromListFile));
}

std::vector<ParamRow> DbSession::readRows(CParametr& rs, bool withValues) {
    std::vector<ParamRow> rows;
    try {
        rows.reserve(static_cast<size_t>(rs.GetRecordCount()));
        // Walked from the last record back, as the rows were always built;
        // the vector is turned round once at the end.
        rs.MoveLast();
        while (!rs.IsBOF()) {
            waitCursor.step();
            if (rs.kod_type_pribor == currentTypeCode) {
                ParamRow row;
                row.texts[ColCanal] = QString::asprintf("%3d", rs.canal);
                row.texts[ColParam] = QString::asprintf("%4d", rs.param);
                row.texts[ColIndex] = QString::asprintf("%3d", rs.index);
                if (withValues)
                    row.texts[ColValue] = rs.data;
                row.texts[ColName] = rs.text;
                row.kind = rs.type_zapros;
                row.icon = IconNeutral;
                rows.push_back(std::move(row));
            }
            rs.MovePrev();
        }
    } catch (const CDaoException&) {
        // The rows read so far stay; nothing is reported.
    }
    std::reverse(rows.begin(), rows.end());
    return rows;
}

} // namespace parvault
