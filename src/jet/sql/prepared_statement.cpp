#include "sql/prepared_statement.h"

#include "format/catalog.h"
#include "format/text_codec.h"
#include "jet/query.h"
#include "sql/sql_ast.h"
#include "sql/sql_lexer.h"

namespace jet::sql {

namespace {

constexpr size_t kMaxDigits = 18;  // any such number fits an int64_t

bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}
bool isDigit(char c) {
  return c >= '0' && c <= '9';
}
bool isNameStart(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}

class Cursor {
 public:
  explicit Cursor(std::string_view text) : s_(text) {}

  size_t at() const { return i_; }
  bool atEnd() const { return i_ == s_.size(); }

  // Skips spaces; whether there was one.
  bool spaces() {
    const size_t start = i_;
    while (i_ < s_.size() && isSpace(s_[i_])) ++i_;
    return i_ > start;
  }
  bool symbol(char c) {
    if (i_ >= s_.size() || s_[i_] != c) return false;
    ++i_;
    return true;
  }
  // A plain name (letters, digits, '_'), empty when there is none here.
  std::string_view name() {
    if (i_ >= s_.size() || !isNameStart(s_[i_])) return {};
    size_t end = i_ + 1;
    while (end < s_.size() && (isNameStart(s_[end]) || isDigit(s_[end]))) ++end;
    std::string_view n = s_.substr(i_, end - i_);
    i_ = end;
    return n;
  }
  bool keyword(std::string_view word) { return equalsIgnoreCase(name(), word); }
  // [-]digits, not followed by a decimal point or a name character.
  std::string_view number() {
    const size_t start = i_;
    size_t end = i_;
    if (end < s_.size() && s_[end] == '-') ++end;
    const size_t digits = end;
    while (end < s_.size() && isDigit(s_[end])) ++end;
    if (end == digits || end - digits > kMaxDigits) return {};
    if (end < s_.size() && (s_[end] == '.' || isNameStart(s_[end]))) return {};
    i_ = end;
    return s_.substr(start, end - start);
  }

 private:
  std::string_view s_;
  size_t i_ = 0;
};

}  // namespace

std::optional<KeyEquality> matchKeyEquality(std::string_view text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return std::nullopt;  // positions count bytes here
  }
  Cursor c(text);
  KeyEquality out;
  c.spaces();
  if (!c.keyword("SELECT")) return std::nullopt;
  c.spaces();
  if (!c.symbol('*')) return std::nullopt;
  c.spaces();
  if (!c.keyword("FROM") || !c.spaces()) return std::nullopt;
  out.table = c.name();
  if (out.table.empty() || isReservedWord(out.table) || !c.spaces()) return std::nullopt;
  if (!c.keyword("WHERE") || !c.spaces()) return std::nullopt;
  out.column_offset = c.at();
  out.column = c.name();
  if (out.column.empty() || isReservedWord(out.column)) return std::nullopt;
  c.spaces();
  if (!c.symbol('=')) return std::nullopt;
  c.spaces();
  out.number_offset = c.at();
  out.number = c.number();
  if (out.number.empty()) return std::nullopt;
  c.spaces();
  if (c.symbol(';')) c.spaces();
  if (!c.atEnd()) return std::nullopt;
  int64_t value = 0;
  const bool negative = out.number.front() == '-';
  for (char d : out.number.substr(negative ? 1 : 0)) value = value * 10 + (d - '0');
  out.value = negative ? -value : value;
  return out;
}

}  // namespace jet::sql

namespace jet {

namespace {

// A key equality on a whole-number column, bound straight from the text to
// the tree the parser and bind would give it. Empty when the text has
// another shape, or names what the general way must report.
std::optional<BoundQuery> prepareKeyEquality(const Database& db, std::string_view text) {
  const std::optional<sql::KeyEquality> m = sql::matchKeyEquality(text);
  if (!m) return std::nullopt;
  const CatalogEntry* entry = db.findTable(m->table);
  if (!entry) return std::nullopt;
  Table table(db, db.tableDefAt(entry->tdefPage(), entry->name));
  const std::optional<size_t> column = table.def().findColumn(m->column);
  if (!column || !table.def().columns[*column].isWholeNumber()) return std::nullopt;

  auto where = std::make_unique<sql::Expr>();
  where->kind = sql::Expr::Kind::Compare;
  where->op = sql::CompareOp::Equal;
  where->left.is_column = true;
  where->left.name = std::string(m->column);
  where->left.column = *column;
  where->left.text = where->left.name;
  where->left.position = m->column_offset + 1;
  where->right.literal = Value::integer(m->value);
  where->right.text = std::string(m->number);
  where->right.position = m->number_offset + 1;
  return BoundQuery{std::string(text), table, std::move(where), {*column}};
}

}  // namespace

BoundQuery prepare(const Database& db, std::string_view text) {
  if (std::optional<BoundQuery> key = prepareKeyEquality(db, text)) return std::move(*key);
  return bind(parseQuery(text), db);
}

}  // namespace jet
