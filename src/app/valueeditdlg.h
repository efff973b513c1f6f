#pragma once

#include <QDialog>
#include <QRect>

class QLineEdit;
class QTreeView;

namespace parvault {

class RowTable;

// A borderless box over a value cell: Enter takes the text unchanged (the
// empty text included), Escape or a press of either mouse button outside
// the box cancels.
class CValueEditDlg : public QDialog {
    Q_OBJECT
public:
    CValueEditDlg(const QString& text, const QRect& box, QWidget* owner);

    QString text() const { return text_; }
    QLineEdit* edit() const { return edit_; }

protected:
    void mousePressEvent(QMouseEvent* e) override;
    void showEvent(QShowEvent* e) override;

private:
    QString text_;
    QLineEdit* edit_ = nullptr;
};

// Where the box opens over the value cell of a row: column 3's left edge as
// if the list were not scrolled sideways, plus 2 px; the row's top in the
// list's client area (header included) added to the list's outer top.
// Height is the default font's text height; the box is one pixel taller.
QRect ValueEditBox(const QPoint& listOuterTopLeft, int rowClientTop, const int columnWidths[4],
                   int textHeight);

// The double-click on the parameter list: edits the value of the topmost
// selected row. Returns whether a value was taken.
bool EditSelectedValue(QTreeView* list, RowTable& rows);

} // namespace parvault
