// Saving the selected rows as a new list file: made whole under a name of
// this process's own, then claimed under the first free time-stamped name.

#include "dbsession.h"

#include "dbreasons.h"
#include "dbsessionshared.h"
#include "listfileclaim.h"
#include "recordsets.h"

#include <sqlite3.h>

namespace parvault {

namespace {

const QString kMsgCannotOpen = QStringLiteral("Невозможно открыть базу данных\n");
const QString kMsgCannotCreateTable = QStringLiteral("Невозможно создать таблицу\n");
const QString kMsgListNotWritten = QStringLiteral("Список не записался\n");
const QString kMsgListFileNotMade = QStringLiteral("Список не записался: файл %1 не создаётся — %2.\n");

} // namespace

QString DbSession::createListFile(const QString& fileName, const QString& shownName) {
    QString why;
    auto failed = [&](const CDaoException& e) {
        if (why.isEmpty())
            why = whyUnusable(fileName, e);
    };
    {
        CDaoDatabase db;
        try {
            db.Create(fileName, QString::fromLatin1(dbLangGeneral), dbVersion30);
            db.Close();
        } catch (const CDaoException& e) {
            m_ui.message(kMsgCannotOpen, shownName);
            failed(e);
        }
    }
    CDaoDatabase db;
    try {
        db.Open(fileName);
        CreateParamsTable(db);
    } catch (const CDaoException& e) {
        m_ui.message(kMsgCannotCreateTable, kAppCaption);
        failed(e);
    }
    try {
        CreateListHeadTable(db);
        db.Close();
    } catch (const CDaoException& e) {
        m_ui.message(kMsgCannotCreateTable, kAppCaption);
        failed(e);
    }
    return why;
}

void DbSession::SaveList() {
    const std::optional<QString> typed = m_ui.askListName();
    if (!typed)
        return;
    const QString listName = CutText(*typed, kListNameMaxChars);
    m_lastSavedFile.clear();

    WaitCursorRun cursor(waitCursor);
    const QDateTime now = clock();
    // The name the list is meant to get; a later second's when it is taken.
    const QString firstName = ListFileNameFor(now);
    // The list is made whole under a name of this process's own, which no
    // other save can choose and the tree never shows.
    CleanSaveLeftovers();
    const QString temp = NewSaveTempName();
    auto dropTemp = [&] { removeWithJournal(temp); };

    // The first failure in making the file is the reason given if the save
    // cannot go on; what it left behind is only its consequence.
    const QString whyNot = createListFile(temp, firstName);
    auto giveUp = [&](const QString& why) {
        // Nothing written; the tree is not rebuilt.
        dropTemp();
        m_ui.message(kMsgListFileNotMade.arg(firstName, whyNot.isEmpty() ? why : whyNot), kAppCaption);
    };
    {
        CDaoDatabase newList;
        try {
            newList.Open(temp);
            DaoTransaction tx(newList);
            const QString why = fillListFile(newList, tx, listName);
            if (!why.isEmpty()) {
                giveUp(why);
                return;
            }
        } catch (const CDaoException& e) {
            giveUp(whyUnusable(temp, e));
            return;
        }
    }
    if (!whyNot.isEmpty()) {
        giveUp(whyNot);
        return;
    }

    // Two saves within one second, in this program or another, never share
    // a file: the later one takes the next free time-stamped name.
    for (int k = 0; k < kMaxListNameProbes; ++k) {
        const QString name = ListFileNameFor(now.addSecs(k));
        const ClaimResult claim = ClaimListFileName(temp, name);
        if (claim.status == ClaimStatus::Taken)
            continue;
        if (claim.status == ClaimStatus::Failed) {
            dropTemp();
            const CDaoException e("cannot name the list file", SQLITE_CANTOPEN, claim.systemErrno);
            m_ui.message(kMsgListFileNotMade.arg(name, whyUnusable(name, e)), kAppCaption);
            return;
        }
        m_lastSavedFile = name;
        BuildTree();
        return;
    }
    dropTemp();
    m_ui.message(kMsgCannotOpen, firstName);
}

QString DbSession::fillListFile(CDaoDatabase& newList, DaoTransaction& tx, const QString& listName) {
    CParametr dest(&newList);
    try {
        dest.Open();
    } catch (const CDaoException& e) {
        bool noTable = false;
        try {
            noTable = !newList.TableExists(kTableParams);
        } catch (const CDaoException&) {
        }
        return noTable ? QStringLiteral("в файле нет таблицы «%1»").arg(kTableParams)
                       : whyUnusable(newList.GetName(), e);
    }
    copySelectedRows(dest);
    dest.Close();

    try {
        CMySpisok head(&newList);
        head.Open();
        head.AddNew();
        head.kod_type_pribor = currentTypeCode;
        head.name = listName.isNull() ? QString("") : listName; // typed, even if empty
        head.Update();
        head.Close();
    } catch (const CDaoException& e) {
        m_ui.message(kMsgListNotWritten, kAppCaption);
        return whyUnusable(newList.GetName(), e);
    }
    try {
        tx.Commit();
    } catch (const CDaoException& e) {
        m_ui.message(kMsgListNotWritten, kAppCaption);
        return whyUnusable(newList.GetName(), e);
    }
    return {};
}

void DbSession::copySelectedRows(CParametr& dest) {
    try {
        // The rows pair with the records of the database they were loaded
        // from, whatever was opened in between.
        if (!currentDatabase.IsOpen() || currentDatabase.GetName() != m_loadedFile)
            reopenCurrent(m_loadedFile);
        CParametr src(&currentDatabase);
        src.m_strFilter = ParamFilter(currentTypeCode);
        src.m_strSort = kParamSort;
        src.Open();
        src.MoveFirst();
        const int n = m_rows.rowCount();
        for (int i = 0; i < n; ++i) {
            waitCursor.step();
            if (src.IsEOF())
                break; // more rows than records: the rest has nothing to pair with
            if (m_rows.isSelected(i)) {
                dest.AddNew();
                dest.canal = src.canal;
                dest.param = src.param;
                dest.index = src.index;
                dest.edizm = src.edizm;
                dest.text = src.text;
                dest.type_zapros = src.type_zapros;
                dest.kod_type_pribor = src.kod_type_pribor;
                dest.Update();
            }
            src.MoveNext();
        }
    } catch (const CDaoException&) {
        // The records copied so far are kept.
    }
}

} // namespace parvault
