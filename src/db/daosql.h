#pragma once

// Small helpers for the SQL the storage layer writes.

#include <QString>

#include <string>

namespace parvault {

// "[name]" for an identifier; closing brackets cannot occur in our names.
QString bracketed(const QString& name);
// "name" from "[name]"; a bare name is returned as it is.
QString stripBrackets(QString s);
// "canal,param,index" names fields, one of which is an SQL keyword: bracket
// each bare field name so the sort means what it says.
QString bracketSort(const QString& sort);

inline std::string utf8(const QString& s) { return s.toUtf8().toStdString(); }

} // namespace parvault
