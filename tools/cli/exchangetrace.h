#pragma once

// The --trace of read and write: the same lines as the window's exchange
// log, written as the exchange goes, into a file or onto standard error.
// A trace file is written beside its name and renamed over it at the end,
// so that a failed trace leaves an older one whole.

#include "exchangelog.h"
#include "outputfile.h"

#include <QString>

#include <optional>
#include <ostream>

namespace parvault::cli {

class ExchangeTrace {
public:
    // path: --trace's value ("-" for standard error), unset for no trace.
    // shared: a log to record into instead of one of the trace's own.
    ExchangeTrace(const std::optional<QString>& path, ExchangeLog* shared, std::ostream& err);

    // Opens the trace file; false and why when it cannot be written.
    bool open(QString* why);
    // Where the exchange records; null without a trace.
    ExchangeLog* log() { return recordInto_; }
    bool onStandardError() const { return wanted_ && !file_; }
    // Writes the lines recorded since the last call.
    void writeNew();
    // Writes the rest and puts the file in place; the problem, if any.
    QString finish();

private:
    bool wanted_;
    std::optional<QString> path_;
    ExchangeLog* shared_;
    std::ostream& err_;
    std::optional<OutputFile> file_;
    std::optional<ExchangeLog> ownLog_;
    ExchangeLog* recordInto_ = nullptr;
    std::optional<TraceReader> reader_;
    QString problem_;
};

} // namespace parvault::cli
