// A record source bound to a database: the table resolved, the condition's
// columns resolved and type-checked, ready to select rows.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "jet/database.h"
#include "sql/sql_ast.h"
#include "sql/sql_parser.h"
#include "jet/value.h"

namespace jet {

struct BoundQuery {
  std::string text;
  Table table;
  // Null selects every row. Column operands carry their position in
  // table.def().columns.
  std::unique_ptr<sql::Expr> where;
  // The columns the condition reads, ascending.
  std::vector<size_t> columns;
};

// Resolves the table (3078) and every column of the condition (3061), and
// checks that each comparison's sides can be compared (3464), all before
// any row is read.
BoundQuery bind(const Query& query, const Database& db);
// Prepares a statement: parseQuery and bind. `SELECT * FROM t WHERE col =
// <integer>` on a whole-number column, the shape a program asks again and
// again with other values, is bound straight from its text.
BoundQuery prepare(const Database& db, std::string_view text);

// Whether the condition is true for the row; reads only the columns it
// needs, each at most once. Throws 3464 on values that cannot be compared.
bool matches(const BoundQuery& query, RowId id);
// The same on a row's values, as Table::readRow gives them.
bool matches(const BoundQuery& query, const std::vector<Value>& row);

// The live rows the condition selects, in the table's scan order.
std::vector<RowId> select(const BoundQuery& query);
std::vector<RowId> select(const Database& db, std::string_view text);

// `column = literal` (either way round, literal not null): the condition an
// index on the column can answer alone.
struct ColumnEquality {
  size_t column;
  Value value;
};
std::optional<ColumnEquality> columnEquality(const sql::Expr& condition);

}  // namespace jet
