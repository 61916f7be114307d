#include "record_source.h"

#include "jet/query.h"

namespace db {

Selection selectRows(const jet::Database& database, const std::string& source) {
  jet::BoundQuery query = jet::prepare(database, source);
  std::vector<jet::RowId> rows = jet::select(query);
  return Selection{query.table, std::move(rows)};
}

}  // namespace db
