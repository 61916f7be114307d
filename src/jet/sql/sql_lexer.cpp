#include "sql/sql_lexer.h"

#include <algorithm>
#include <iterator>
#include <utility>

#include "format/text_codec.h"
#include "jet/error.h"
#include "jet/value.h"

namespace jet::sql {

namespace {

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}
bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}
// Names may hold letters of any script: every byte of a multi-byte UTF-8
// character counts as a name character.
bool isNameStart(char c) {
  const auto u = static_cast<unsigned char>(c);
  return (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || u == '_' || u >= 0x80;
}
bool isNameChar(char c) {
  return isNameStart(c) || isDigit(c);
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && isSpace(s.front())) s.remove_prefix(1);
  while (!s.empty() && isSpace(s.back())) s.remove_suffix(1);
  return s;
}

// Reads `min_digits` to `max_digits` digits at `pos`; nothing when there are
// fewer, or more digits follow.
std::optional<int> readNumber(std::string_view s, size_t& pos, size_t min_digits,
                              size_t max_digits) {
  size_t start = pos;
  int n = 0;
  while (pos < s.size() && isDigit(s[pos]) && pos - start < max_digits)
    n = n * 10 + (s[pos++] - '0');
  if (pos - start < min_digits || (pos < s.size() && isDigit(s[pos]))) return std::nullopt;
  return n;
}

bool isLeapYear(int y) {
  return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int daysInMonth(int y, int m) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && isLeapYear(y) ? 29 : kDays[m - 1];
}

// The UTF-8 character starting at `offset`, for messages.
std::string characterAt(std::string_view s, size_t offset) {
  size_t end = offset + 1;
  while (end < s.size() && (static_cast<unsigned char>(s[end]) & 0xC0) == 0x80) ++end;
  return std::string(s.substr(offset, end - offset));
}

}  // namespace

std::string Token::describe() const {
  if (kind == Kind::End) return "el final de la consulta";
  return "'" + source + "'";
}

size_t characterPosition(std::string_view text, size_t offset) {
  size_t chars = 0;
  for (size_t i = 0; i < offset && i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) ++chars;
  }
  return chars + 1;
}

void throwSyntaxError(std::string_view query, size_t position, const std::string& what) {
  throw JetError(Msg::kSyntax, query, std::to_string(position), what);
}

std::optional<double> parseDateLiteral(std::string_view body) {
  body = trim(body);
  DateTimeParts p;
  size_t pos = 0;
  auto first = readNumber(body, pos, 1, 4);
  if (!first || pos >= body.size() || (body[pos] != '-' && body[pos] != '/')) return std::nullopt;
  const char sep = body[pos++];
  const bool year_first = pos == 5;  // four digits, then the separator
  auto second = readNumber(body, pos, 1, 2);
  if (!second || pos >= body.size() || body[pos++] != sep) return std::nullopt;
  auto third = year_first ? readNumber(body, pos, 1, 2) : readNumber(body, pos, 4, 4);
  if (!third) return std::nullopt;
  if (year_first) {
    p.year = *first, p.month = *second, p.day = *third;
  } else {
    if (*first > 99) return std::nullopt;  // three digits before the first separator
    p.month = *first, p.day = *second, p.year = *third;
  }
  if (p.year < 100 || p.month < 1 || p.month > 12 || p.day < 1 ||
      p.day > daysInMonth(p.year, p.month)) {
    return std::nullopt;
  }
  if (pos < body.size()) {
    if (!isSpace(body[pos])) return std::nullopt;
    while (pos < body.size() && isSpace(body[pos])) ++pos;
    auto hour = readNumber(body, pos, 1, 2);
    if (!hour || pos >= body.size() || body[pos++] != ':') return std::nullopt;
    auto minute = readNumber(body, pos, 2, 2);
    if (!minute) return std::nullopt;
    std::optional<int> second_of_minute = 0;
    if (pos < body.size() && body[pos] == ':') {
      ++pos;
      second_of_minute = readNumber(body, pos, 2, 2);
      if (!second_of_minute) return std::nullopt;
    }
    if (pos != body.size() || *hour > 23 || *minute > 59 || *second_of_minute > 59) {
      return std::nullopt;
    }
    p.hour = *hour, p.minute = *minute, p.second = *second_of_minute;
  }
  return joinDateTime(p);
}

namespace {

[[noreturn]] void failAt(std::string_view q, size_t offset, const std::string& what) {
  throwSyntaxError(q, characterPosition(q, offset), what);
}

// Each scanner reads the token that starts at `i`: it sets the token's kind
// and value and returns the offset just past the token.

size_t scanBracketed(std::string_view q, size_t i, Token& t) {
  const size_t close = q.find(']', i + 1);
  if (close == std::string_view::npos) failAt(q, i, "falta el ']' que cierra el nombre");
  t.kind = Token::Kind::Bracketed;
  t.value = std::string(q.substr(i + 1, close - i - 1));
  if (trim(t.value).empty()) failAt(q, i, "nombre vacío entre corchetes");
  return close + 1;
}

size_t scanQuoted(std::string_view q, size_t i, Token& t) {
  const char quote = q[i];
  t.kind = Token::Kind::Text;
  size_t end = i + 1;
  for (;;) {
    if (end >= q.size()) failAt(q, i, std::string("falta la comilla de cierre (") + quote + ")");
    if (q[end] == quote) {
      if (end + 1 < q.size() && q[end + 1] == quote) {  // a doubled quote stands for one
        t.value += quote;
        end += 2;
        continue;
      }
      return end + 1;
    }
    t.value += q[end++];
  }
}

size_t scanDate(std::string_view q, size_t i, Token& t) {
  const size_t close = q.find('#', i + 1);
  if (close == std::string_view::npos) failAt(q, i, "falta el '#' que cierra la fecha");
  auto days = parseDateLiteral(q.substr(i + 1, close - i - 1));
  if (!days) {
    failAt(q, i,
           "fecha no válida " + std::string(q.substr(i, close + 1 - i)) +
               " (se admiten #mes-día-año#, #mes/día/año# y #año-mes-día#, con hora h:mm o "
               "h:mm:ss)");
  }
  t.kind = Token::Kind::Date;
  t.days = *days;
  return close + 1;
}

bool startsNumber(std::string_view q, size_t i) {
  return isDigit(q[i]) || (q[i] == '.' && i + 1 < q.size() && isDigit(q[i + 1]));
}

// Digits with an optional "." and decimals, not run into a name or another
// ".".
size_t scanNumber(std::string_view q, size_t i, Token& t) {
  size_t end = i;
  while (end < q.size() && isDigit(q[end])) ++end;
  if (end < q.size() && q[end] == '.') {
    ++end;
    while (end < q.size() && isDigit(q[end])) ++end;
  }
  if (end < q.size() && (isNameChar(q[end]) || q[end] == '.')) {
    size_t bad = end;
    while (bad < q.size() && (isNameChar(q[bad]) || q[bad] == '.')) ++bad;
    failAt(q, i, "número no válido '" + std::string(q.substr(i, bad - i)) + "'");
  }
  t.kind = Token::Kind::Number;
  t.value = std::string(q.substr(i, end - i));
  return end;
}

size_t scanName(std::string_view q, size_t i, Token& t) {
  size_t end = i + 1;
  while (end < q.size() && isNameChar(q[end])) ++end;
  t.kind = Token::Kind::Name;
  t.value = std::string(q.substr(i, end - i));
  return end;
}

size_t scanOperator(std::string_view q, size_t i, Token& t) {
  // Two-character operators first.
  static constexpr std::pair<std::string_view, Token::Kind> kOperators[] = {
      {"<>", Token::Kind::NotEqual},     {"<=", Token::Kind::LessEqual},
      {">=", Token::Kind::GreaterEqual}, {"=", Token::Kind::Equal},
      {"<", Token::Kind::Less},          {">", Token::Kind::Greater},
      {"(", Token::Kind::LeftParen},     {")", Token::Kind::RightParen},
      {"*", Token::Kind::Star},          {".", Token::Kind::Dot},
      {"-", Token::Kind::Minus},         {";", Token::Kind::Semicolon}};
  const auto* op = std::find_if(std::begin(kOperators), std::end(kOperators),
                                [&](const auto& o) { return q.substr(i).starts_with(o.first); });
  if (op == std::end(kOperators)) failAt(q, i, "carácter no válido '" + characterAt(q, i) + "'");
  t.kind = op->second;
  return i + op->first.size();
}

size_t scanToken(std::string_view q, size_t i, Token& t) {
  const char c = q[i];
  if (c == '[') return scanBracketed(q, i, t);
  if (c == '\'' || c == '"') return scanQuoted(q, i, t);
  if (c == '#') return scanDate(q, i, t);
  if (startsNumber(q, i)) return scanNumber(q, i, t);
  if (isNameStart(c)) return scanName(q, i, t);
  return scanOperator(q, i, t);
}

}  // namespace

std::vector<Token> tokenize(std::string_view q) {
  std::vector<Token> out;
  size_t i = 0;
  // Positions are counted on from the previous token's, not from the start
  // each time: a long condition would otherwise take quadratic time.
  size_t counted = 0, position = 1;
  while (true) {
    while (i < q.size() && isSpace(q[i])) ++i;
    Token t;
    t.offset = i;
    position += characterPosition(q.substr(counted), i - counted) - 1;
    counted = i;
    t.position = position;
    if (i >= q.size()) {
      out.push_back(std::move(t));
      return out;
    }
    const size_t end = scanToken(q, i, t);
    t.source = std::string(q.substr(i, end - i));
    out.push_back(std::move(t));
    i = end;
  }
}

bool isReservedWord(std::string_view name) {
  static constexpr std::string_view kReserved[] = {"SELECT", "FROM", "WHERE", "AND",  "OR",
                                                   "NOT",    "IS",   "NULL",  "TRUE", "FALSE"};
  for (std::string_view word : kReserved) {
    if (equalsIgnoreCase(name, word)) return true;
  }
  return false;
}

}  // namespace jet::sql
