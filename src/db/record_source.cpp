#include "record_source.h"

#include "jet/error.h"

namespace db {

Selection selectRows(const jet::Database& database, const std::string& source) {
  jet::Table table = database.table(source);
  return Selection{table, table.rowIds()};
}

}  // namespace db
