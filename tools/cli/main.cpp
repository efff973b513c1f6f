// parvault2-cli: the window's read, write, save and export without a window.

#include "cli.h"

#include <QCoreApplication>

#include <atomic>
#include <csignal>
#include <iostream>

#include <unistd.h>

namespace {

std::atomic<bool> g_stop{false};

extern "C" void onSignal(int) { g_stop.store(true); }

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    static_assert(std::atomic<bool>::is_always_lock_free);
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);

    QStringList args = QCoreApplication::arguments();
    args.removeFirst();
    parvault::cli::CliEnvironment env{std::cout, std::cerr};
    env.progressLine = ::isatty(STDERR_FILENO) == 1;
    env.stop = &g_stop;
    const int status = parvault::cli::RunCli(args, env);
    std::cout.flush();
    return status;
}
