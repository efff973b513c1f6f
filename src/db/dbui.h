#pragma once

// What the database commands need from the window: dialogs, message boxes,
// the tree widget and the cursor. The window implements it; tests use their
// own implementation.

#include "devicetree.h"
#include "waitcursor.h"

#include <QString>

#include <optional>

namespace parvault {

inline const QString kAppCaption = QStringLiteral("Parvault");
inline const QString kListNameCaption = QStringLiteral("Название списка");
inline constexpr int kListNameMaxChars = 62;
inline constexpr int kListNameDialogId = 139;
inline constexpr int kListNameEditId = 1007;

// The save dialog's filter in Qt's syntax, and its default extension.
inline const QString kExportFilter = QStringLiteral("Таблица параметров и их значений (*.txt)");
inline const QString kExportDefaultExtension = QStringLiteral("txt");

class DbUi : public WaitCursorDisplay {
public:
    // CListNameDlg, modal, caption kListNameCaption, one edit field (active
    // when it opens), OK only: Escape or the close box cancel (nothing).
    virtual std::optional<QString> askListName() = 0;
    // The modal save-file dialog, starting in the current directory; an
    // existing file is overwritten without a question. Nothing when cancelled.
    virtual std::optional<QString> askSaveFile(const QString& defaultName, const QString& filter,
                                               const QString& defaultExtension) = 0;
    // A modal message box with the stop icon and an OK button.
    virtual void message(const QString& text, const QString& caption) = 0;
    // Something the user should know that is not a failure (e.g. a file was
    // converted); the window shows it as any message.
    virtual void notice(const QString& text, const QString& caption) { message(text, caption); }
    // Replaces the whole tree (every build); the window expands the nodes
    // marked expanded.
    virtual void setTree(const TreeNode& root) = 0;
};

} // namespace parvault
