#pragma once

#include <QString>

namespace parvault::bench {

// A list file made by the program's storage layer, with n rows of the type.
void MakeListFile(const QString& path, int rows, int typeCode, const QString& listName);

} // namespace parvault::bench
