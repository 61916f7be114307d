// Parses a record source: `SELECT * FROM table [WHERE condition] [;]`, or a
// bare table name, to the table's name and a condition tree.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "sql/sql_ast.h"

namespace jet {

struct Query {
  std::string text;                  // as given
  std::string table;                 // as written, brackets removed
  std::unique_ptr<sql::Expr> where;  // null: every row
};

// Throws JetError 3075 naming the query, the character position and what
// was expected there.
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

}  // namespace jet
