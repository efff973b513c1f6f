#include "helpwindow.h"

#include <QDialog>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace parvault {

void ShowHelpWindow(QWidget* parent) {
    auto* dialog = new QDialog(parent);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(QStringLiteral("Parvault 2 — помощь"));
    auto* browser = new QTextBrowser(dialog);
    browser->setSource(QUrl(QStringLiteral("qrc:/help/index.html")));
    auto* layout = new QVBoxLayout(dialog);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(browser);
    dialog->resize(640, 520);
    dialog->show();
}

} // namespace parvault
