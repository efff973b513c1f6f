#include "listnamedlg.h"

#include "artwork.h"
#include "dbui.h"
#include "iconbutton.h"

#include <QHBoxLayout>
#include <QLineEdit>

namespace parvault {

CListNameDlg::CListNameDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(kListNameCaption);
    edit_ = new QLineEdit(this);
    edit_->setMinimumWidth(320);
    auto* ok = new CIconButton(this);
    ok->SetIcon(ButtonImage(ButtonArt::Ok), true);
    ok->setFixedSize(48, 40);
    ok->setDefault(true);
    ok->setAutoDefault(true);
    connect(ok, &QAbstractButton::clicked, this, [this] {
        text_ = edit_->text();
        accept();
    });
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(edit_);
    layout->addWidget(ok);
    edit_->setFocus();
}

} // namespace parvault
