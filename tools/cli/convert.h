#pragma once

// parvault2-cli convert: every Jet file of the current folder becomes one of
// the program's own, the original kept beside it.

#include <ostream>

namespace parvault::cli {

// One line per file on out. Returns 0 when every parameter database of the
// folder is in the program's format afterwards, 1 when one could not be
// converted (damaged, password, newer format or a failure in writing).
int RunConvert(std::ostream& out);

} // namespace parvault::cli
