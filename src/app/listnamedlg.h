#pragma once

#include <QDialog>

class QLineEdit;

namespace parvault {

// Asks for the name of a new list: one edit field and OK; Escape or the
// close box cancel.
class CListNameDlg : public QDialog {
    Q_OBJECT
public:
    explicit CListNameDlg(QWidget* parent = nullptr);
    QString text() const { return text_; }
    QLineEdit* edit() const { return edit_; }

private:
    QString text_;
    QLineEdit* edit_ = nullptr;
};

} // namespace parvault
