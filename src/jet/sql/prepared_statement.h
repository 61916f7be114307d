// Preparing a statement: its text bound once to a database, the table and
// the condition's columns resolved and type-checked, so that it selects rows
// again and again without being read again (prepare in jet/query.h).
//
// The shape asked most, the rows of one key value,
// `SELECT * FROM table WHERE column = integer`, is recognised straight from
// the text, without the general lexer and parser: plain ASCII names that are
// not reserved words, a whole number that fits 18 digits, spaces between the
// words, an optional ';'. What it accepts is a subset of what the parser
// accepts, and it gives what the parser and bind give for it; any other text
// is left to them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace jet::sql {

// The parts of a `SELECT * FROM table WHERE column = integer` text.
struct KeyEquality {
  std::string_view table;
  std::string_view column;
  size_t column_offset = 0;  // in the text, 0-based
  std::string_view number;   // as written, sign included
  size_t number_offset = 0;
  int64_t value = 0;
};

// The parts, when the text has exactly that shape.
std::optional<KeyEquality> matchKeyEquality(std::string_view text);

}  // namespace jet::sql
