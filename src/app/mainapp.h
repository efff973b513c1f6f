#pragma once

#include <QStringList>

namespace parvault {

// The application: reads the first character of the arguments, runs the one
// window modally, and ends when it closes.
class CMainApp {
public:
    // arguments: the command line without the program's own name.
    explicit CMainApp(const QStringList& arguments);
    char commandChar() const { return commandChar_; }
    // Runs the main window to its end; the program's exit code.
    int InitInstance();

private:
    char commandChar_ = 0;
};

} // namespace parvault
