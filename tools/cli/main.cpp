// parvault2-cli: the window's read, write, save and export without a window.

#include "cli.h"

#include <QCoreApplication>

#include <atomic>
#include <csignal>
#include <iostream>

#include "socketstart.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

std::atomic<bool> g_stop{false};

#ifdef _WIN32
// Ctrl+C and Ctrl+Break in a console: the exchange ends as on Stop.
BOOL WINAPI onConsoleEvent(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT)
        return FALSE;
    g_stop.store(true);
    return TRUE;
}

bool stderrIsTerminal() { return ::_isatty(::_fileno(stderr)) != 0; }
#else
extern "C" void onSignal(int) { g_stop.store(true); }

bool stderrIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }
#endif

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    static_assert(std::atomic<bool>::is_always_lock_free);
#ifdef _WIN32
    ::SetConsoleCtrlHandler(onConsoleEvent, TRUE);
    if (!parvault::startSockets()) {
        std::cerr << "parvault2-cli: the sockets library cannot be started\n";
        return 2;
    }
#else
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
#endif

    QStringList args = QCoreApplication::arguments();
    args.removeFirst();
    parvault::cli::CliEnvironment env{std::cout, std::cerr};
    env.progressLine = stderrIsTerminal();
    env.stop = &g_stop;
    const int status = parvault::cli::RunCli(args, env);
    std::cout.flush();
    return status;
}
