#pragma once

// Row selections of the command line: row numbers as printed (from 1), ranges
// of them, parameter numbers, and channel:parameter[:index] addresses.

#include "rowtable.h"

#include <QString>

#include <optional>
#include <vector>

namespace parvault::cli {

struct RowSelector {
    enum class Kind { All, Rows, Params, Address };
    Kind kind = Kind::All;
    int from = 0; // Rows: row numbers from 1; Params: parameter numbers
    int to = 0;
    int channel = 0;            // Address
    int param = 0;              // Address
    std::optional<int> index;   // Address; unset: every index
    QString text;               // as typed, for messages
};

// "1,3,5-8,p20,p300-399,1:100:2,all". Nothing (and a reason) when malformed.
std::optional<std::vector<RowSelector>> ParseRowSpec(const QString& text, QString* why);

// The list indices (from 0, ascending, no repeats) the selectors pick. A
// selector that picks no row makes the whole selection fail with a reason:
// a script that names a row the list does not have is mistaken.
std::optional<std::vector<int>> MatchRows(const RowTable& rows, const std::vector<RowSelector>& selectors,
                                          QString* why);

} // namespace parvault::cli
