#pragma once

// The storage layer: the few database operations the parameter lists need,
// shaped like the record-set style the rest of the subsystem is written in,
// over SQLite's C API. Every failure is raised as CDaoException. This is the
// one header the rest of the program includes.

#include "daodatabase.h"
#include "daoexception.h"
#include "daofieldexchange.h"
#include "daorecordset.h"
#include "daosql.h"
#include "daotabledef.h"
#include "daotransaction.h"
