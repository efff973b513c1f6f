#pragma once

// How the simulated device misbehaves, chosen per row of its table or for
// the whole run. Every mode is one row of the catalogue below: the option
// parser and the --help text are made from it.

#include <QString>

#include <climits>
#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <tuple>

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
    std::optional<int> otherDevice;    // answers as the device K addresses above its own
    std::optional<QString> keeps;      // confirms writes but goes on holding this value

    // This failure's fields where set, the base's otherwise.
    Failure over(const Failure& base) const;
    bool any() const;
    bool operator==(const Failure&) const = default;
    // Parses one option word of the catalogue. Returns false and says why
    // otherwise, and then leaves the failure as it was.
    bool parseOption(const QString& word, QString* why);

private:
    // Every field once, so that over() and any() cannot miss one.
    auto fields() {
        return std::tie(silent, silentFirst, errorText, badCrc, wrongSequence, pieces, delayMs, otherDevice, keeps);
    }
    auto fields() const {
        return std::tie(silent, silentFirst, errorText, badCrc, wrongSequence, pieces, delayMs, otherDevice, keeps);
    }
};

// What may follow a mode's word after '='.
enum class FailureArg {
    None,           // nothing: "badcrc"
    OptionalNumber, // a number, or the word alone for the default: "wrongseq", "wrongseq=3"
    Number,         // a number is required: "pieces=3"
    Text,           // any text, with backslash escapes: error="Отказ"
};

struct FailureMode {
    const char* word;            // the option word, before any '='
    FailureArg arg = FailureArg::None;
    const char* argName = "";    // the argument's name in --help: N, K, MS, TEXT
    int min = 0;                 // the numbers accepted, min..max
    int max = INT_MAX;
    int fallback = 0;            // OptionalNumber: the value of the word alone
    const char* help = "";       // "\n" goes on to an indented line
    void (*apply)(Failure&, int number, const QString& text) = nullptr;
};

// The catalogue. A word may have two rows, one without and one with an
// argument ("silent", "silent=N").
std::span<const FailureMode> FailureModes();

// Where the descriptions of --help start.
inline constexpr size_t kHelpColumn = 21;

// A mode as --help names it: silent=N, wrongseq[=K], error="TEXT".
std::string FailureModeLabel(const FailureMode& mode);
// The "Failure modes:" block of --help, one line (or more) a mode.
std::string FailureModesHelp();

// The backslash escapes of the parameter file and of option texts: \t \n \r,
// and any other character taken as itself.
QString Unescape(const QString& s);

} // namespace parvault::devsim
