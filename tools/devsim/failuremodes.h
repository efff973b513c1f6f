#pragma once

// How the simulated device misbehaves, chosen per row of its table or for
// the whole run.

#include <QString>

#include <optional>

namespace parvault::devsim {

// Unset fields fall back to the run's settings.
struct Failure {
    std::optional<bool> silent;        // never answers
    std::optional<int> silentFirst;    // ignores the first N requests for a row
    std::optional<QString> errorText;  // answers every request with this error text
    std::optional<bool> badCrc;        // spoils the answer's checksum
    std::optional<int> wrongSequence;  // answers with the sequence number + K
    std::optional<int> pieces;         // sends the answer in N pieces
    std::optional<int> delayMs;        // waits before answering

    // This failure's fields where set, the base's otherwise.
    Failure over(const Failure& base) const;
    bool any() const;
    // Parses one option word: silent, silent=N, error=TEXT, badcrc,
    // wrongseq[=K], pieces=N, delay=MS. Returns false (and says why) otherwise.
    bool parseOption(const QString& word, QString* why);
};

// The backslash escapes of the parameter file and of option texts: \t \n \r,
// and any other character taken as itself.
QString Unescape(const QString& s);

} // namespace parvault::devsim
