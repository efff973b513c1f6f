#include "listsave.h"


namespace parvault::cli {

std::optional<SavedList> saveAsNewList(DbSession& db, HeadlessDbUi& ui, RowTable& rows,
                                       const std::vector<int>& picked, const QString& name,
                                       const std::vector<QString>* values, QString* why) {
    const int typeCode = db.currentTypeCode;
    for (int r = 0; r < rows.rowCount(); ++r)
        rows.setSelected(r, false);
    for (int r : picked)
        rows.setSelected(r, true);
    ui.messages.clear();
    ui.listName = name;
    db.SaveList();
    ui.listName.reset();
    if (!ui.messages.isEmpty()) {
        *why = ui.messages.join(QStringLiteral("; "));
        return std::nullopt;
    }
    // The save rebuilt the tree; other programs may have added lists to it
    // meanwhile, so the new list is the file this save made.
    SavedList saved;
    saved.number = db.lastSavedFile().isEmpty() ? 0 : db.listFileTable.findFile(db.lastSavedFile());
    if (saved.number == 0) {
        *why = db.lastSavedFile().isEmpty()
                   ? QStringLiteral("no list file was made")
                   : QStringLiteral("the new list file %1 does not show in the tree").arg(db.lastSavedFile());
        return std::nullopt;
    }
    {
        const ListFileEntry& e = *db.listFileTable.entry(saved.number);
        saved.name = e.listName;
        saved.fileName = e.fileName;
    }
    saved.rows = static_cast<int>(picked.size());
    if (!values)
        return saved;

    // The new list's rows come back in the order they were copied; each
    // must be the row whose value it is to get.
    std::vector<ParamRow> copied;
    for (int r : picked)
        copied.push_back(rows.row(r));
    db.LoadTreeItem(MakeItemData(saved.number, typeCode));
    if (db.currentListNumber != saved.number || rows.rowCount() != static_cast<int>(copied.size())) {
        *why = QStringLiteral("the new list %1 holds %2 rows, not the %3 saved")
                   .arg(saved.fileName)
                   .arg(rows.rowCount())
                   .arg(copied.size());
        return std::nullopt;
    }
    for (int i = 0; i < rows.rowCount(); ++i) {
        for (int c : {ColCanal, ColParam, ColIndex})
            if (rows.text(i, c) != copied[static_cast<size_t>(i)].texts[static_cast<size_t>(c)]) {
                *why = QStringLiteral("row %1 of the new list %2 is not the row saved").arg(i + 1).arg(saved.fileName);
                return std::nullopt;
            }
        rows.setText(i, ColValue, (*values)[static_cast<size_t>(i)]);
    }
    ui.messages.clear();
    ui.exportPath.reset(); // the values only, no table
    db.SaveValues();
    if (!ui.messages.isEmpty()) {
        *why = ui.messages.join(QStringLiteral("; "));
        return std::nullopt;
    }
    return saved;
}

} // namespace parvault::cli
