#pragma once

// Storing values (the diagnostic test) and the fixed-column text table.

#include "rowtable.h"

#include <QByteArray>
#include <QString>

namespace parvault {

// True when a value text is one of the exchange's diagnostic texts rather
// than a value; it is stored with flag_dt 0.
bool IsDiagnosticText(const QString& value);

inline constexpr int kStoredValueChars = 63;

// Lines of the export file, each ending in CR LF, in Windows-1251.
QByteArray ExportTitleLine(const QString& listName, const QString& fileName);
QByteArray ExportColumnLine();
QByteArray ExportRowLine(const ParamRow& row);

// "<device type name>.txt", with path separators replaced so the name stays
// a name (device type names such as "т/э" are common).
QString DefaultExportName(const QString& typeName);

} // namespace parvault
