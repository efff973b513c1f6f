#pragma once

// A value read from a device against the value a saved list holds for it:
// the one rule the window's compare and the command line share.

#include <QString>

#include <optional>

namespace parvault {

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

// What became of a row whose stored value was to be put back on the device.
enum class WriteBack {
    Written,           // written, and read back equal to the stored value
    Unchanged,         // nothing to write: the device held it already (or nothing is stored)
    Refused,           // the device refused the write, or it was not sent
    NotRead,           // not read before or after the write, so its value is unknown
    DiffersAfterWrite, // the device took the write and holds another value
};

const char* writeBackName(WriteBack outcome);

// before: the verdict of the read before writing; refused: the write was
// refused or never sent; readBack: the value read after the write, nothing
// when that read failed.
WriteBack judgeWriteBack(Verdict before, bool refused, const std::optional<QString>& readBack,
                         const QString& stored);

} // namespace parvault
