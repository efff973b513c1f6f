#pragma once

// parvault2-cli as a library: one call runs one command line.

#include "headless.h"

#include <QStringList>

#include <atomic>
#include <functional>
#include <ostream>

namespace parvault::cli {

inline constexpr const char* kProgramName = "parvault2-cli";

// Drives a started exchange to its end; true when it ended by itself.
using ExchangeDriver = std::function<bool(HeadlessExchange&)>;

struct CliEnvironment {
    CliEnvironment(std::ostream& output, std::ostream& errors) : out(output), err(errors) {}

    std::ostream& out; // tables and documents
    std::ostream& err; // messages and the progress line
    // Show a progress line on err (the program does when err is a terminal).
    bool progressLine = false;
    // Raised by a signal: stops the exchange as the stop button does.
    const std::atomic<bool>* stop = nullptr;
    // Unset: real time (runHeadless). Tests may step a manual clock instead.
    ExchangeDriver driver;
    // With --trace, record into this log rather than one of the run's own
    // (a test's log window reads the same entries).
    ExchangeLog* log = nullptr;
};

// args without the program name. Returns the exit status. The current
// directory is the same afterwards, also with --dir.
int RunCli(const QStringList& args, CliEnvironment& env);

} // namespace parvault::cli
