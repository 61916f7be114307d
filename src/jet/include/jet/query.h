// The engine's SQL. A statement is parsed first, without a database (its
// syntax checked), then bound to a database: the table resolved, the
// condition's columns resolved and type-checked, ready to select rows.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "jet/database.h"
#include "jet/value.h"

namespace jet {

namespace sql {
struct Expr;  // a condition tree, the engine's own
}  // namespace sql

// A statement parsed. Copies share one condition tree, never changed once
// built.
struct Query {
  std::string text;                        // as given
  std::string table;                       // as written, brackets removed
  std::shared_ptr<const sql::Expr> where;  // null: every row
};

// A record source: `SELECT * FROM table [WHERE condition] [;]`, or a bare
// table name. Throws JetError 3075 naming the query, the character position
// and what was expected there.
//
// The condition: OR of ANDs of [NOT] comparisons (=, <>, <, <=, >, >=) and
// IS [NOT] NULL tests between a column (bare, [bracketed] or qualified by
// the table's name) and a literal: a number, 'text' or "text" (a doubled
// quote stands for one), a #date#, NULL, TRUE or FALSE. Keywords are matched
// without regard to case.
Query parseQuery(std::string_view text);

// `DELETE [*] FROM table [WHERE condition] [;]`: the table and the condition
// that select the rows to delete, in the same form. Errors as parseQuery.
Query parseDelete(std::string_view text);

enum class StatementKind { Select, Delete };
// Delete when the text's first word is DELETE (in any case), else Select:
// which of the two parsers the text is for.
StatementKind statementKind(std::string_view text);

struct BoundQuery {
  std::string text;
  Table table;
  // Null selects every row. Column operands carry their position in
  // table.def().columns.
  std::shared_ptr<const sql::Expr> where;
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

}  // namespace jet
