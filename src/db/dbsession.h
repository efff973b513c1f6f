#pragma once

// The parameter database commands and the program-wide state they share.
// The window owns one DbSession and wires its events to it:
//   start-up      MainDatabaseExists(), OpenMainDatabase(), BuildTree()
//   tree dbl-click LoadTreeItem(data of the selected item)
//   Delete key    DeleteSelectedList(data of the selected item, tree has focus)
//   button 1003   SaveList()
//   button 1012   SaveValues()
//   100 ms tick   waitCursor.tick()

#include "daostorage.h"
#include "dbui.h"
#include "devicetree.h"
#include "listfiletable.h"
#include "listheadcache.h"
#include "rowtable.h"
#include "waitcursor.h"

#include <QDateTime>
#include <QSet>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace parvault {

class CParametr;

// Time-stamped names of the seconds after a taken one are tried in turn.
inline constexpr int kMaxListNameProbes = 600;
// The failure code a store gives when the list file was deleted under it.
inline constexpr int kListFileGoneCode = -2;

// "%02d%02d%02d%02d%02d%02d.mdb" from year % 100, month, day, hour, minute, second.
QString ListFileNameFor(const QDateTime& localTime);

class DbSession {
public:
    DbSession(DbUi& ui, RowTable& rows);

    // ---- program-wide state (the window owns the session for the whole run)
    CDaoDatabase currentDatabase;
    // 0 and 0 mean that no list is loaded; list number 0 with a type code
    // means the type's template rows of the main database.
    int32_t currentTypeCode = 0;
    int32_t currentListNumber = 0;
    ListFileTable listFileTable;
    QString workingDirectory; // the current directory when the session was made
    WaitCursor waitCursor;
    // Rows (list indices) whose records keep the value they hold when the
    // values are stored: the command line's rows that ended in an error,
    // where nobody saw the value column before the store. Empty for the window.
    QSet<int> keepStoredRows;
    // Why the last SaveValues did not store or export, in English for the
    // command line; the window shows its own message boxes. Empty when it did.
    QString storeProblem;
    QString exportProblem;
    // Local time for new list file names; tests replace it.
    std::function<QDateTime()> clock = [] { return QDateTime::currentDateTime(); };

    // ---- start-up
    static bool MainDatabaseExists();
    // Opens currentDatabase on the main database; false when it cannot, or
    // when a table the commands need is missing (an empty file opens as an
    // empty database): then mainDatabaseMissing() names them and nothing is
    // left open.
    bool OpenMainDatabase();
    const QStringList& mainDatabaseMissing() const { return m_mainMissing; }
    // Why the main database cannot be used, for the message box: why it
    // could not be read, or one line per missing table; empty when usable.
    QString MainDatabaseProblemText() const;

    // ---- commands
    // Rebuilds ListFileTable and the tree and hands the tree to the window;
    // leaves currentDatabase open on the main database.
    void BuildTree();
    // Double-click in the tree, with the item data of the selected item (the
    // root when nothing is selected). One setRows on the parameter list.
    void LoadTreeItem(int32_t itemData);
    // Delete key. True when the window must remove the selected item.
    bool DeleteSelectedList(std::optional<int32_t> selectedItemData, bool treeHasFocus);
    // Button 1003.
    void SaveList();
    // Button 1012.
    void SaveValues();
    // The list files of the working folder, readable or not, as the last
    // BuildTree found them.
    QStringList ListFileNames() const;
    // The device write command reopens the current database before writing:
    // the current list file, or the main database. False when it cannot.
    bool ReopenCurrentDatabase();

    const TreeNode& tree() const { return m_tree; }
    // The file the shown rows were loaded from (the main database when the
    // rows are template rows or nothing is loaded).
    QString loadedFile() const { return m_loadedFile; }
    // The list file the last SaveList of this session made; empty when it
    // made none. Other programs may save into the folder meanwhile, so this,
    // not the newest file, is the new list.
    QString lastSavedFile() const { return m_lastSavedFile; }

private:
    void forgetLoadedList();
    void reopenCurrent(const QString& fileName);

    // BuildTree's steps.
    // Tells of each list file that cannot be shown, once per session.
    void reportUnreadableLists();
    // One group per device type of the main database, in the table's order.
    void addTypeGroups();
    // The group of one device type with its lists; names their type in the table.
    TreeNode typeGroup(int32_t code, const QString& typeName);
    // Moves the loaded list to its new number, or forgets it when its file is gone.
    void followLoadedList();

    // LoadTreeItem's rows of the type in rs, in record order; with the stored
    // values when loaded from a list file.
    std::vector<ParamRow> readRows(CParametr& rs, bool withValues);

    // Empty when the file and its tables were made; otherwise why not.
    // Messages name the file as shownName.
    QString createListFile(const QString& fileName, const QString& shownName);
    // Fills a new list file inside tx: copies the selected rows, writes the
    // header and commits. Empty when the save went through to its end,
    // otherwise why it cannot go on. Raises nothing.
    QString fillListFile(CDaoDatabase& newList, DaoTransaction& tx, const QString& listName);
    // Copies the selected rows' records from the database they were loaded
    // from; a failure keeps the records copied so far.
    void copySelectedRows(CParametr& dest);
    // Writes the value column into currentDatabase's records. The failure
    // when a record could not be written (those written before are kept) or
    // the file was deleted meanwhile; nothing when all went in.
    std::optional<CDaoException> storeValueColumn();
    // SaveValues' steps. True when the values are in the list file; otherwise
    // storeProblem says why and the user was told.
    bool storeValues(const ListFileEntry& list);
    // A Jet list becomes one of our own files first. False when it cannot.
    bool convertJetList(const QString& fileName);
    void reportNotStored(const ListFileEntry& list, const std::optional<CDaoException>& e);
    // Asks for a file and writes the rows into it as a table.
    void exportList(const ListFileEntry& list);

    DbUi& m_ui;
    RowTable& m_rows;
    TreeNode m_tree;
    QString m_loadedFile;
    QString m_loadedListName;
    QString m_lastSavedFile;
    // The loaded list, when another program deleted its file.
    struct GoneList {
        QString listName;
        QString fileName;
    };
    std::optional<GoneList> m_goneList;
    QStringList m_mainMissing;
    QString m_mainUnreadable; // why the main database could not be read at all
    QSet<QString> m_reportedUnreadable; // Jet files already said to be unusable
    ListHeadCache m_heads;
};

} // namespace parvault
