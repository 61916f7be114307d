// Splits a record source's SQL into tokens: names (bare or [bracketed]),
// numbers, text in single or double quotes, #date# literals and operators.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace jet::sql {

struct Token {
  enum class Kind {
    Name,       // bare name or keyword
    Bracketed,  // [name]; never a keyword
    Number,     // digits with an optional "." and decimals; no sign
    Text,       // 'quoted' or "quoted"
    Date,       // #m-d-yyyy [h:mm[:ss]]# and the like
    Equal,
    NotEqual,
    Less,
    LessEqual,
    Greater,
    GreaterEqual,
    LeftParen,
    RightParen,
    Star,
    Dot,
    Minus,
    Semicolon,
    End,
  };

  Kind kind = Kind::End;
  std::string source;   // the characters as written
  std::string value;    // Name/Bracketed: the name; Text: the text; Number: the digits
  double days = 0;      // Date: days since 1899-12-30
  size_t offset = 0;    // byte offset in the query text
  size_t position = 0;  // 1-based character position in the query text

  // "'where'", or "el final de la consulta" for the end.
  std::string describe() const;
};

std::vector<Token> tokenize(std::string_view query);

// Whether a bare name is one of the words the dialect keeps for itself
// (SELECT, FROM, WHERE, AND, OR, NOT, IS, NULL, TRUE, FALSE), in any case.
bool isReservedWord(std::string_view name);

// The body of a #date# literal, month first: m-d-yyyy or m/d/yyyy (one- or
// two-digit month and day) or yyyy-mm-dd, optionally followed by a 24-hour
// time h:mm or h:mm:ss. Days since 1899-12-30; nothing when the text is no
// such date or names no calendar day (month 13, 31 February).
std::optional<double> parseDateLiteral(std::string_view body);

// 3075, naming the query, the 1-based character position and what is wrong.
[[noreturn]] void throwSyntaxError(std::string_view query, size_t position,
                                   const std::string& what);

// The 1-based character (not byte) position of a byte offset in UTF-8 text.
size_t characterPosition(std::string_view text, size_t offset);

}  // namespace jet::sql
