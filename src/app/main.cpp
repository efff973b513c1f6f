#include "mainwindow.h"

#include <QApplication>

using namespace parvault;

// The application: read the first character of the arguments, run the one
// window modally, end when it closes.
int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QStringList arguments = QCoreApplication::arguments();
    if (!arguments.isEmpty())
        arguments.removeFirst();
    MainWindowOptions options;
    options.commandChar = CommandChar(arguments);
    CMainDlg dialog(options);
    dialog.exec();
    return 0;
}
