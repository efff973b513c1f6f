#pragma once

// A row read from a device against the value a saved list holds for it.

#include <QString>

#include <optional>

namespace parvault::cli {

enum class Verdict {
    Same,          // the device holds the stored value
    Differs,       // it holds another one
    NotRead,       // the row was not read (error, no answer, stopped)
    NothingStored, // the list holds no value for the row
};

const char* verdictName(Verdict verdict);

// The canonical form of a decimal number written with either decimal mark
// ("-010,50" and "-10.5" give "-10.5"); nothing when the text is no such
// number. Surrounding blanks are allowed; exponents and digit groups are not.
std::optional<QString> decimalKey(const QString& text);

// Equal as text, or as decimal numbers when both sides are numbers: the
// device may write "10,0" where the list holds "10.0".
bool sameValue(const QString& read, const QString& stored);

// read: the value column after a read that succeeded, or nothing when the
// row was not read.
Verdict compareWithStored(const std::optional<QString>& read, const QString& stored);

} // namespace parvault::cli
