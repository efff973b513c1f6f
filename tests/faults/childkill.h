#pragma once

// Runs work in a child process and kills it (SIGKILL) after a delay, as a
// power cut or a killed program would end it: no clean-up runs.

#include "dbtestutil.h"

#include <chrono>
#include <csignal>
#include <functional>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace parvault::testing {

// Kills the child after delay (never, when delay is negative). Returns how
// long the child ran.
inline std::chrono::microseconds RunChild(const std::function<void()>& fn, std::chrono::microseconds delay) {
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        fn();
        _exit(0);
    }
    if (delay.count() >= 0) {
        std::this_thread::sleep_for(delay);
        kill(pid, SIGKILL);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
}

// Stores "round,row" into every row of a list file, as the window's button
// does, in a session of its own (a user's, or a child about to be killed).
inline void StoreRound(const std::string& listFile, int type, int round) {
    ScriptedUi ui;
    MemoryRowTable rows;
    DbSession session(ui, rows);
    session.BuildTree();
    session.LoadTreeItem(MakeItemData(session.listFileTable.findFile(QString::fromStdString(listFile)), type));
    for (int i = 0; i < rows.rowCount(); ++i)
        rows.setText(i, ColValue, QStringLiteral("%1,%2").arg(round).arg(i));
    session.SaveValues();
}

} // namespace parvault::testing
