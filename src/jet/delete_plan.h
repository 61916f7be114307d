// What deleting one row takes, worked out before anything changes: the rows
// that cascading relationships take with it (those first), or the refusal
// of an enforced relationship that does not cascade.
#pragma once

#include <vector>

#include "jet/database.h"

namespace jet {

struct DeleteStep {
  const TableDef* def;
  RowId row;
};

// The rows to delete, related rows before the rows they refer to. Throws
// JetError 3200 naming the table that still holds related rows.
std::vector<DeleteStep> planDelete(const Database& db, const Table& table, RowId row);

}  // namespace jet
