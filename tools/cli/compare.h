#pragma once

// The compare rule lives with the lists, shared with the window's compare.

#include "valuecompare.h"

namespace parvault::cli {

using parvault::compareWithStored;
using parvault::decimalKey;
using parvault::judgeWriteBack;
using parvault::sameValue;
using parvault::Verdict;
using parvault::verdictName;
using parvault::WriteBack;
using parvault::writeBackName;

} // namespace parvault::cli
