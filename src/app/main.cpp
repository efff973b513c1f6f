#include "mainapp.h"

#include <QApplication>

#include <cstdio>
#include <cstring>

namespace {

const char* const kHelp = R"(Usage: parvault2 [x] [Qt options]

The Parvault 2 window: keeps, reads and writes the parameter sets of
instruments on a device bus. It works in the current folder: the main
database PARVLT2.mdb, the saved lists (YYMMDDhhmmss.mdb), the settings file
Parvault2.i and __data.hh are there. parvault2-launch opens the window in
~/Parvault2 instead; the desktop menu entry runs that.

Arguments:
  x, X        select whole rows in the parameter list (only the first
              character of the arguments counts)
  --help      this text
  --version   the version

Qt's own options (for example -platform offscreen, -display :1) are taken
as by every Qt program.
)";

} // namespace

int main(int argc, char* argv[]) {
    // Answered before the application object, so they work without a display.
    if (argc >= 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kHelp, stdout);
        return 0;
    }
    if (argc >= 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("parvault2 %s\n", PARVAULT_VERSION);
        return 0;
    }
    QApplication app(argc, argv);
    QStringList arguments = QCoreApplication::arguments();
    if (!arguments.isEmpty())
        arguments.removeFirst();
    return parvault::CMainApp(arguments).InitInstance();
}
