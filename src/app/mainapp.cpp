#include "mainapp.h"

#include "mainwindow.h"
#include "windowrules.h"

namespace parvault {

CMainApp::CMainApp(const QStringList& arguments) : commandChar_(CommandChar(arguments)) {}

int CMainApp::InitInstance() {
    // Sockets need no start-up here; the window's own start-up does the rest.
    MainWindowOptions options;
    options.commandChar = commandChar_;
    CMainDlg dialog(options);
    dialog.exec(); // the modal result is not used
    return 0;
}

} // namespace parvault
