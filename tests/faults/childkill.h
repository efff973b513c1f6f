#pragma once

// Runs work in a child process and kills it (SIGKILL) after a delay, as a
// power cut or a killed program would end it: no clean-up runs.

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

} // namespace parvault::testing
