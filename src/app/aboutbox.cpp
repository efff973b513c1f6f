#include "aboutbox.h"

#include "artwork.h"
#include "iconbutton.h"
#include "windowrules.h"

#include <QLabel>

namespace parvault {

CAboutBox::CAboutBox(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("About Parvault 2"));
    setFont(parent ? parent->font() : font());
    const DialogUnits u = DialogUnits::ForFont(font());
    setFixedSize(u.toPixels(0, 0, 240, 54).size());

    auto* icon = new QLabel(this);
    icon->setPixmap(QPixmap::fromImage(ProgramImage()));
    icon->setGeometry(QRect(u.toPixels(21, 15, 0, 0).topLeft(), QSize(32, 32)));

    auto* name = new QLabel(QStringLiteral("Parvault, версия 2.0"), this);
    name->setGeometry(u.toPixels(57, 12, 94, 8));
    auto* second = new QLabel(QStringLiteral("Параметры приборов шины"), this);
    second->setGeometry(u.toPixels(57, 27, 119, 8));

    auto* ok = new CIconButton(this);
    ok->setGeometry(u.toPixels(191, 10, 40, 34));
    ok->SetIcon(ButtonImage(ButtonArt::Ok), true);
    ok->setDefault(true);
    ok->setObjectName(QStringLiteral("button1"));
    connect(ok, &QAbstractButton::clicked, this, &QDialog::accept);
}

} // namespace parvault
