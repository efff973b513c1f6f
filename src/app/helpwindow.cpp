#include "helpwindow.h"

#include <QDialog>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace parvault {

namespace {
const QString kHelpWindowName = QStringLiteral("parvaultHelpWindow");
}

QDialog* ShowHelpWindow(QWidget* parent) {
    // One help window: a second press brings the open one to the front.
    if (parent) {
        if (auto* open = parent->findChild<QDialog*>(kHelpWindowName, Qt::FindDirectChildrenOnly)) {
            open->show();
            open->raise();
            open->activateWindow();
            return open;
        }
    }
    auto* dialog = new QDialog(parent);
    dialog->setObjectName(kHelpWindowName);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(QStringLiteral("Parvault 2 — помощь"));
    auto* browser = new QTextBrowser(dialog);
    browser->setSource(QUrl(QStringLiteral("qrc:/help/index.html")));
    auto* layout = new QVBoxLayout(dialog);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(browser);
    dialog->resize(640, 520);
    dialog->show();
    return dialog;
}

} // namespace parvault
