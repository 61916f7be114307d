// What a record source names: a bare table ("CLIENTES") or a SELECT text,
// resolved to the table and the ids of the rows it selects, in the engine's order.
#pragma once

#include <string>
#include <vector>

#include "jet/database.h"

namespace db {

struct Selection {
  jet::Table table;
  std::vector<jet::RowId> rows;
};

Selection selectRows(const jet::Database& database, const std::string& record_source);

}  // namespace db
