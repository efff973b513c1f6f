#pragma once

// A new list from rows of the loaded one, through the window's own save
// commands: the save-list button, then (with values) the save-values button.

#include "dbsession.h"
#include "headless.h"
#include "report.h"

#include <QString>

#include <optional>
#include <vector>

namespace parvault::cli {

// db has the list loaded into `rows`; `picked` are the rows to keep (list
// indices, ascending). With values (one per picked row) the new list is
// loaded into `rows` and the values stored into it. Nothing, and why, when
// the window's commands reported a failure.
std::optional<SavedList> saveAsNewList(DbSession& db, HeadlessDbUi& ui, RowTable& rows,
                                       const std::vector<int>& picked, const QString& name,
                                       const std::vector<QString>* values, QString* why);

} // namespace parvault::cli
