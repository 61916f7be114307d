// The statement a purge sends once per client and table,
// `SELECT * FROM table WHERE column = number`, recognised without the general
// lexer and parser. It accepts a subset of what the parser accepts (plain
// ASCII names that are not reserved words, a whole number that fits 18
// digits, spaces between the words, an optional ';') and gives what the
// parser gives for it; anything else is left to the parser.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace jet::sql {

struct SimpleEquality {
  std::string_view table;
  std::string_view column;
  size_t column_offset = 0;  // in the text, 0-based
  std::string_view number;   // as written, sign included
  size_t number_offset = 0;
  int64_t value = 0;
};

std::optional<SimpleEquality> matchSimpleEquality(std::string_view text);

}  // namespace jet::sql
