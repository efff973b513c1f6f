// Building the tree: the device types of the main database as groups, the
// list files of the working folder under their type.

#include "dbsession.h"

#include "dbreasons.h"
#include "dbsessionshared.h"
#include "recordsets.h"

namespace parvault {

namespace {

const QString kMsgJetListUnreadable = QStringLiteral("Файл %1 не показан в дереве: %2.\n");

} // namespace

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
    reportUnreadableLists();
    if (mainOpen)
        addTypeGroups();
    m_tree.expanded = true;
    followLoadedList();
    m_ui.setTree(m_tree);
}

void DbSession::reportUnreadableLists() {
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
}

void DbSession::addTypeGroups() {
    try {
        CSpisokHead types(&currentDatabase);
        types.Open();
        types.MoveFirst();
        while (!types.IsEOF()) {
            const int32_t code = types.kodTipaPribora;
            if (IsGroupCode(code))
                m_tree.children.push_back(typeGroup(code, types.naimTipaPribora));
            types.MoveNext();
        }
    } catch (const CDaoException&) {
        // The groups inserted so far stay.
    }
}

TreeNode DbSession::typeGroup(int32_t code, const QString& typeName) {
    TreeNode group;
    group.text = typeName;
    std::tie(group.image, group.selectedImage) = GroupImages(code);
    group.data = code;
    for (int k = 0; k < listFileTable.count; ++k) {
        ListFileEntry& e = listFileTable.entries[static_cast<size_t>(k)];
        if (e.typeCode != code)
            continue;
        e.typeName = CutText(typeName, kTypeNameChars);
        TreeNode list;
        list.text = e.listName;
        list.image = TreeImageList;
        list.selectedImage = TreeImageListSelected;
        list.data = MakeItemData(k + 1, code);
        group.children.push_back(std::move(list));
    }
    return group;
}

void DbSession::followLoadedList() {
    // List numbers are positions in the new table: follow the loaded list to
    // its new position, or forget it when its file is gone.
    if (currentListNumber == 0)
        return;
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

} // namespace parvault
