#include "dbsession.h"

#include "dbreasons.h"
#include "jetconvert.h"
#include "jetimport.h"
#include "listexport.h"
#include "outputfile.h"
#include "listfileclaim.h"
#include "recordsets.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sqlite3.h>

#include <algorithm>

namespace parvault {

namespace {

const QString kMsgCannotOpen = QStringLiteral("Невозможно открыть базу данных\n");
const QString kMsgCannotCreateTable = QStringLiteral("Невозможно создать таблицу\n");
const QString kMsgListNotWritten = QStringLiteral("Список не записался\n");
const QString kMsgDataNotWritten = QStringLiteral("Данные не записываются\n");
const QString kMsgListFileNotMade = QStringLiteral("Список не записался: файл %1 не создаётся — %2.\n");
const QString kMsgListNotLoaded = QStringLiteral("Список не загружается: файл %1 не открывается — %2.\n");
const QString kMsgJetConverted = QStringLiteral(
    "Файл %1 был в прежнем формате, в который программа не пишет. Он переведён в формат программы, "
    "прежний файл сохранён рядом под именем %2.\n");
const QString kMsgJetNotConverted =
    QStringLiteral("Данные не записываются: файл %1 в прежнем формате не переводится в формат программы — %2.\n");
const QString kMsgJetListUnreadable = QStringLiteral("Файл %1 не показан в дереве: %2.\n");
const QString kMsgDataNotWrittenBusy = QStringLiteral(
    "Данные не записываются: файл %1 занят другой программой (ждали %2 с). Повторите позже.\n");
const QString kMsgDataNotWrittenGone =
    QStringLiteral("Данные не записываются: списка «%1» больше нет — файл %2 удалён другой программой.\n");
const QString kMsgListNotDeletedBusy =
    QStringLiteral("Список не удаляется: файл %1 занят другой программой (ждали %2 с). Повторите позже.\n");
const QString kMsgExportOpenText = QStringLiteral("-1");
const QString kMsgExportOpenCaption = QStringLiteral("Ошибка при открытии файла.");
const QString kMsgExportIsDatabase =
    QStringLiteral("Таблица не записана: файл %1 — база данных программы, её нельзя заменить таблицей.\n");

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

// Stops the wait cursor however a command ends.
class WaitCursorRun {
public:
    explicit WaitCursorRun(WaitCursor& c) : m_cursor(c) { m_cursor.start(); }
    ~WaitCursorRun() { m_cursor.stop(); }
    WaitCursorRun(const WaitCursorRun&) = delete;
    WaitCursorRun& operator=(const WaitCursorRun&) = delete;

private:
    WaitCursor& m_cursor;
};

// Why a list file must not be written: no write bit in its mode (a file
// made read-only on purpose), or no right to write it. Empty when writable.
QString whyWriteProtected(const QString& fileName) {
    const QFileInfo info(fileName);
    if (!info.exists())
        return {};
    // The mode's own bits: Qt's "user" bits ask the system, which lets the
    // superuser write anything.
    constexpr QFile::Permissions kAnyWrite = QFile::WriteOwner | QFile::WriteGroup | QFile::WriteOther;
    if (!(info.permissions() & kAnyWrite))
        return QStringLiteral("файл защищён от записи");
    if (!info.isWritable())
        return QStringLiteral("нет права записи в файл");
    return {};
}

} // namespace

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

// ------------------------------------------------------------------ tree

void DbSession::BuildTree() {
    bool mainOpen = true;
    try {
        reopenCurrent(mainDatabase());
    } catch (const CDaoException&) {
        mainOpen = false; // the tree keeps its root only
    }

    listFileTable.reset();
    m_tree = TreeNode{};
    m_tree.text = kTreeRootText;
    m_tree.image = m_tree.selectedImage = TreeImageRoot;
    m_tree.data = 0;

    ScanListFiles(listFileTable, &m_heads);
    // Once per file for the session: the tree is rebuilt after every save.
    for (const UnreadableListFile& u : listFileTable.unreadable) {
        if (m_reportedUnreadable.contains(u.fileName))
            continue;
        m_reportedUnreadable << u.fileName;
        const QString why = u.sqliteCode == 0 ? QStringLiteral("это не база данных параметров (в ней нет таблиц «%1» и «%2»)")
                                                    .arg(kTableParams, kTableListHead)
                                              : whyUnreadable(u.fileName, CDaoException(u.what, u.sqliteCode));
        m_ui.notice(kMsgJetListUnreadable.arg(u.fileName, why), kAppCaption);
    }

    if (mainOpen) {
        try {
            CSpisokHead types(&currentDatabase);
            types.Open();
            types.MoveFirst();
            while (!types.IsEOF()) {
                const int32_t code = types.kodTipaPribora;
                if (IsGroupCode(code)) {
                    TreeNode group;
                    group.text = types.naimTipaPribora;
                    std::tie(group.image, group.selectedImage) = GroupImages(code);
                    group.data = code;
                    for (int k = 0; k < listFileTable.count; ++k) {
                        ListFileEntry& e = listFileTable.entries[static_cast<size_t>(k)];
                        if (e.typeCode != code)
                            continue;
                        e.typeName = CutText(types.naimTipaPribora, kTypeNameChars);
                        TreeNode list;
                        list.text = e.listName;
                        list.image = TreeImageList;
                        list.selectedImage = TreeImageListSelected;
                        list.data = MakeItemData(k + 1, code);
                        group.children.push_back(std::move(list));
                    }
                    m_tree.children.push_back(std::move(group));
                }
                types.MoveNext();
            }
        } catch (const CDaoException&) {
            // The groups inserted so far stay.
        }
    }
    m_tree.expanded = true;

    // List numbers are positions in the new table: follow the loaded list to
    // its new position, or forget it when its file is gone.
    if (currentListNumber != 0) {
        const int n = listFileTable.findFile(CutText(m_loadedFile, kFileNameChars));
        if (n != 0) {
            currentListNumber = n;
        } else {
            // Another program deleted it: the rows stay shown, and a store
            // into them says the list is gone.
            m_goneList = GoneList{m_loadedListName, m_loadedFile};
            forgetLoadedList();
        }
    }
    m_ui.setTree(m_tree);
}

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
    return deleted();
}

// --------------------------------------------------------------- loading

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
    // A file that cannot be read loads nothing, and the user is told which and why.
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
            throw CDaoException("no such list");
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
                if (fromListFile)
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
    m_rows.setRows(std::move(rows));
}

// ---------------------------------------------------------------- saving

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

// ------------------------------------------------- saving values, export

void DbSession::SaveValues() {
    if (m_goneList && currentListNumber == 0) {
        m_ui.message(kMsgDataNotWrittenGone.arg(m_goneList->listName, m_goneList->fileName), kAppCaption);
        return;
    }
    if (currentTypeCode == 0 || currentListNumber == 0)
        return;
    const ListFileEntry* entry = listFileTable.entry(currentListNumber);
    if (!entry)
        return;
    const ListFileEntry list = *entry;
    QDir::setCurrent(workingDirectory);
    storeProblem.clear();
    exportProblem.clear();

    {
        WaitCursorRun cursor(waitCursor);
        // A write-protected list is refused before anything is written or
        // converted, by its mode bits too: the administrator's account writes
        // through them, while the user meant the file to stay as it is.
        if (const QString why = whyWriteProtected(list.fileName); !why.isEmpty()) {
            storeProblem = why;
            m_ui.message(kMsgDataNotWritten, kAppCaption);
            return;
        }
        // A Jet file cannot be written: it becomes one of our own first, its
        // original kept beside it.
        if (IsJetFile(list.fileName)) {
            if (currentDatabase.IsOpen())
                currentDatabase.Close();
            const ConvertResult converted = ConvertJetFile(list.fileName);
            if (converted.status != ConvertStatus::Converted) {
                const CDaoException e(converted.detail.toStdString(), converted.sqliteCode, converted.systemErrno);
                storeProblem = whyUnusable(list.fileName, e);
                m_ui.message(kMsgJetNotConverted.arg(list.fileName, storeProblem), kAppCaption);
                return;
            }
            m_ui.notice(kMsgJetConverted.arg(list.fileName, converted.keptAs), kAppCaption);
        }
        auto notWritten = [&](const std::optional<CDaoException>& e) {
            if (!QFileInfo::exists(list.fileName) || (e && e->sqliteCode() == kListFileGoneCode)) {
                storeProblem = QStringLiteral("файл удалён другой программой");
                m_ui.message(kMsgDataNotWrittenGone.arg(list.listName, list.fileName), kAppCaption);
            } else if (e && isBusy(*e)) {
                storeProblem = QStringLiteral("файл занят другой программой");
                m_ui.message(kMsgDataNotWrittenBusy.arg(list.fileName, busyWaitSeconds()), kAppCaption);
            } else {
                storeProblem = e ? whyUnusable(list.fileName, *e) : QString();
                m_ui.message(kMsgDataNotWritten, kAppCaption);
            }
        };
        try {
            reopenCurrent(list.fileName);
        } catch (const CDaoException& e) {
            notWritten(e);
            return;
        }
        if (const std::optional<CDaoException> failure = storeValueColumn()) {
            notWritten(failure);
            return;
        }
    }

    const std::optional<QString> path =
        m_ui.askSaveFile(DefaultExportName(list.typeName), kExportFilter, kExportDefaultExtension);
    if (!path) {
        QDir::setCurrent(workingDirectory);
        return;
    }
    // The program's own databases are never replaced by a table.
    if (const QString refused = WhyNotAnOutputFile(*path, workingDirectory, ListFileNames()); !refused.isEmpty()) {
        exportProblem = refused;
        m_ui.message(kMsgExportIsDatabase.arg(*path), kAppCaption);
        QDir::setCurrent(workingDirectory);
        return;
    }
    {
        WaitCursorRun cursor(waitCursor);
        QByteArray text = ExportTitleLine(list.listName, list.fileName);
        text += ExportColumnLine();
        for (int i = 0; i < m_rows.rowCount(); ++i) {
            waitCursor.step();
            text += ExportRowLine(m_rows.row(i));
        }
        // Written beside and renamed over: a failed export leaves an older table whole.
        if (!WriteOutputFile(*path, text, &exportProblem))
            m_ui.message(kMsgExportOpenText, kMsgExportOpenCaption);
    }
    QDir::setCurrent(workingDirectory);
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

std::optional<CDaoException> DbSession::storeValueColumn() {
    try {
        // Storing the values happens whole or not at all; it waits for
        // another program's write to end.
        DaoTransaction tx(currentDatabase);
        // Holding the write lock, a list that was deleted meanwhile stays
        // deleted: storing into the removed file would report a store that
        // nobody can ever see.
        if (currentDatabase.FileIsGone())
            return CDaoException("the list file was deleted", kListFileGoneCode);
        try {
            CParametr rs(&currentDatabase);
            rs.m_strSort = kParamSort;
            rs.Open();
            rs.MoveFirst();
            const int n = m_rows.rowCount();
            // Records beyond the last row are left as they are.
            for (int i = 0; i < n; ++i) {
                waitCursor.step();
                if (keepStoredRows.contains(i)) {
                    rs.MoveNext();
                    continue;
                }
                const QString value = CutText(m_rows.text(i, ColValue), kStoredValueChars);
                rs.Edit();
                rs.data = value.isNull() ? QString("") : value;
                rs.flag_dt = IsDiagnosticText(value) ? 0 : 1;
                rs.Update();
                rs.MoveNext();
            }
            rs.Close();
            tx.Commit();
            return std::nullopt;
        } catch (const CDaoException& e) {
            // The records updated before the failure keep their new values;
            // a commit that failed is tried once more.
            try {
                tx.Commit();
            } catch (const CDaoException&) {
            }
            return e;
        }
    } catch (const CDaoException& e) {
        return e; // no transaction could begin (another program's lock outlasted the wait)
    }
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
