// The save command: the selected rows as a new list, as the window's save button.

#include "clicommands.h"
#include "dbsession.h"
#include "listsave.h"

namespace parvault::cli {

int Cli::commandSave() {
    HeadlessDbUi ui;
    MemoryRowTable rows;
    DbSession db(ui, rows);
    if (!loadList(db, ui, rows))
        return kExitError;
    const auto picked = pickRows(rows, true);
    if (!picked)
        return kExitError;
    QString why;
    const auto saved = saveAsNewList(db, ui, rows, *picked, *o_.listName, nullptr, &why);
    if (!saved)
        return fail(QStringLiteral("the list was not saved: %1").arg(why));
    print(FormatSavedList(*saved, o_.format));
    return kExitOk;
}

} // namespace parvault::cli
