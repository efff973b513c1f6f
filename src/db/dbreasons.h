#pragma once

// Why a database file could not be made, used or read, in the user's words,
// for the messages of the database commands.

#include "daoexception.h"

#include <QString>

namespace parvault {

// What the database's own failure says.
QString reasonOf(const CDaoException& e);
// Why a file in the working folder could not be made or used: the folder and
// permissions first, as the database's own codes cannot tell a missing
// folder from a forbidden one.
QString whyUnusable(const QString& fileName, const CDaoException& e);
// Why a file could not be read as a database.
QString whyUnreadable(const QString& fileName, const CDaoException& e);

} // namespace parvault
