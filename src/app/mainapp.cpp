#include "mainapp.h"

#include "socketstart.h"

#include "mainwindow.h"
#include "windowrules.h"

namespace parvault {

CMainApp::CMainApp(const QStringList& arguments) : commandChar_(CommandChar(arguments)) {}

int CMainApp::InitInstance() {
    // The sockets library first: the window asks for its own address at once.
    // Without it the program cannot work, and ends.
    if (!startSockets())
        return 1;
    MainWindowOptions options;
    options.commandChar = commandChar_;
    CMainDlg dialog(options);
    dialog.exec(); // the modal result is not used
    return 0;
}

} // namespace parvault
