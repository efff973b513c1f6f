#include "valueeditdlg.h"

#include "rowtable.h"

#include <QApplication>
#include <QFontMetrics>
#include <QHeaderView>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QTreeView>

namespace parvault {

CValueEditDlg::CValueEditDlg(const QString& text, const QRect& box, QWidget* owner)
    : QDialog(owner, Qt::Popup | Qt::FramelessWindowHint), text_(text) {
    setModal(true);
    // The default button lies outside the visible box; it only makes Enter confirm.
    auto* ok = new QPushButton(this);
    ok->setDefault(true);
    ok->setGeometry(box.width() + 100, 0, 1, 1);
    connect(ok, &QPushButton::clicked, this, [this] {
        text_ = edit_->text();
        accept();
    });
    edit_ = new QLineEdit(this);
    edit_->setGeometry(0, 0, box.width(), box.height() + 1);
    edit_->setText(text);
    setGeometry(box.x(), box.y(), box.width(), box.height() + 1);
    setFixedSize(box.width(), box.height() + 1);
}

void CValueEditDlg::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    edit_->setFocus();
    edit_->selectAll();
}

void CValueEditDlg::mousePressEvent(QMouseEvent* e) {
    // A popup gets every press on the screen; one outside the box cancels.
    const QPoint p = e->position().toPoint();
    if ((e->button() == Qt::LeftButton || e->button() == Qt::RightButton) &&
        (p.x() < 0 || p.y() < 0 || p.x() > width() || p.y() > height())) {
        reject();
        return;
    }
    QDialog::mousePressEvent(e);
}

QRect ValueEditBox(const QPoint& listOuterTopLeft, int rowClientTop, const int columnWidths[4],
                   int textHeight) {
    const int sum = columnWidths[0] + columnWidths[1] + columnWidths[2] + columnWidths[3];
    const int w3 = columnWidths[3];
    return {listOuterTopLeft.x() + sum - w3 + 2, listOuterTopLeft.y() + rowClientTop, w3,
            textHeight};
}

bool EditSelectedValue(QTreeView* list, RowTable& rows) {
    int row = -1;
    for (int r = 0; r < rows.rowCount(); ++r) {
        if (rows.isSelected(r)) {
            row = r;
            break;
        }
    }
    if (row < 0)
        return false;

    const QModelIndex index = list->model()->index(row, 0);
    // The row's top in the list's client area: the header belongs to it, the
    // frame does not.
    const QRect item = list->visualRect(index);
    const int clientTop = list->viewport()->mapTo(list, item.topLeft()).y() - list->frameWidth();
    const int widths[4] = {list->header()->sectionSize(0), list->header()->sectionSize(1),
                           list->header()->sectionSize(2), list->header()->sectionSize(3)};
    const int textHeight = QFontMetrics(QApplication::font()).height();
    const QRect box = ValueEditBox(list->mapToGlobal(QPoint(0, 0)), clientTop, widths, textHeight);

    CValueEditDlg dialog(rows.text(row, ColValue), box, list->window());
    if (dialog.exec() != QDialog::Accepted)
        return false;
    rows.setIcon(row, IconEdited);
    rows.setText(row, ColValue, dialog.text());
    return true;
}

} // namespace parvault
