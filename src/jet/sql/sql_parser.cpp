#include <cctype>
#include <charconv>
#include <cstdint>
#include <vector>

#include "format/text_codec.h"
#include "jet/error.h"
#include "jet/query.h"
#include "sql/sql_ast.h"
#include "sql/sql_lexer.h"

namespace jet {

namespace {

using sql::CompareOp;
using sql::Expr;
using sql::Operand;
using sql::Token;
using Kind = Token::Kind;

std::string_view trimSpaces(std::string_view s) {
  const char* kSpaces = " \t\r\n";
  const size_t first = s.find_first_not_of(kSpaces);
  if (first == std::string_view::npos) return {};
  return s.substr(first, s.find_last_not_of(kSpaces) - first + 1);
}

// A number as written, with its sign: an integer when it has no decimals
// and fits, else the exact decimal text.
Value numberValue(const std::string& digits, bool negative) {
  std::string text = digits;
  if (!text.empty() && text.front() == '.') text.insert(text.begin(), '0');
  if (!text.empty() && text.back() == '.') text.pop_back();
  if (text.find('.') == std::string::npos) {
    const std::string with_sign = negative ? "-" + text : text;
    int64_t n = 0;
    auto [end, ec] = std::from_chars(with_sign.data(), with_sign.data() + with_sign.size(), n);
    if (ec == std::errc() && end == with_sign.data() + with_sign.size()) return Value::integer(n);
  }
  return Value::decimal(negative ? "-" + text : text);
}

// How deep parentheses and NOT may nest. The parser, the evaluation and the
// tree's own copy and destruction each go one call deeper per level, so an
// unbounded depth would end in a stack overflow; no condition an operator
// writes comes near this.
constexpr size_t kMaxNesting = 100;

class Parser {
 public:
  explicit Parser(std::string_view text) : text_(text), tokens_(sql::tokenize(text)) {}

  Query parseSelect() {
    Query q;
    q.text = std::string(text_);
    expectKeyword("SELECT");
    if (peek().kind != Kind::Star)
      fail("se esperaba '*' después de SELECT (solo se admite SELECT *)");
    next();
    parseFrom(q);
    return q;
  }

  // DELETE [*] FROM table [WHERE condition] [;]
  Query parseDelete() {
    Query q;
    q.text = std::string(text_);
    expectKeyword("DELETE");
    if (peek().kind == Kind::Star) next();
    parseFrom(q);
    return q;
  }

 private:
  // FROM table [WHERE condition] [;], then the end.
  void parseFrom(Query& q) {
    expectKeyword("FROM");
    const Token& table = peek();
    if (!isName(table)) fail("se esperaba el nombre de una tabla después de FROM");
    q.table = next().value;
    table_ = q.table;
    if (isKeyword(peek(), "WHERE")) {
      next();
      q.where = parseOr();
    }
    if (peek().kind == Kind::Semicolon) {
      next();
      if (peek().kind != Kind::End) fail("se esperaba el final de la consulta después de ';'");
    }
    if (peek().kind != Kind::End) {
      fail(q.where ? "se esperaba AND, OR o el final de la consulta"
                   : "se esperaba WHERE o el final de la consulta");
    }
  }

  const Token& peek() const { return tokens_[pos_]; }
  const Token& next() {
    const Token& t = tokens_[pos_];
    if (t.kind != Kind::End) ++pos_;
    return t;
  }

  [[noreturn]] void fail(const std::string& expected) const {
    const Token& t = peek();
    sql::throwSyntaxError(text_, t.position, expected + ", se encontró " + t.describe());
  }

  static bool isKeyword(const Token& t, std::string_view word) {
    return t.kind == Kind::Name && equalsIgnoreCase(t.value, word);
  }
  static bool isName(const Token& t) {
    return t.kind == Kind::Bracketed || (t.kind == Kind::Name && !sql::isReservedWord(t.value));
  }

  void expectKeyword(const char* word) {
    if (!isKeyword(peek(), word)) fail(std::string("se esperaba ") + word);
    next();
  }

  std::unique_ptr<Expr> parseOr() { return parseChain(Expr::Kind::Or, "OR"); }

  std::unique_ptr<Expr> parseAnd() { return parseChain(Expr::Kind::And, "AND"); }

  // term (WORD term)*, as one node with every term as a child.
  std::unique_ptr<Expr> parseChain(Expr::Kind kind, const char* word) {
    auto first = kind == Expr::Kind::Or ? parseAnd() : parseNot();
    if (!isKeyword(peek(), word)) return first;
    auto node = std::make_unique<Expr>();
    node->kind = kind;
    node->children.push_back(std::move(first));
    while (isKeyword(peek(), word)) {
      next();
      node->children.push_back(kind == Expr::Kind::Or ? parseAnd() : parseNot());
    }
    return node;
  }

  // One level deeper for the parenthesis or NOT at the current token, for
  // as long as the object lives.
  class Nested {
   public:
    explicit Nested(Parser& p) : p_(p) {
      if (++p_.depth_ > kMaxNesting) {
        --p_.depth_;
        p_.fail("demasiados niveles de paréntesis o NOT anidados (como mucho " +
                std::to_string(kMaxNesting) + ")");
      }
    }
    ~Nested() { --p_.depth_; }
    Nested(const Nested&) = delete;
    Nested& operator=(const Nested&) = delete;

   private:
    Parser& p_;
  };

  std::unique_ptr<Expr> parseNot() {
    if (!isKeyword(peek(), "NOT")) return parsePrimary();
    Nested level(*this);
    next();
    auto node = std::make_unique<Expr>();
    node->kind = Expr::Kind::Not;
    node->children.push_back(parseNot());
    return node;
  }

  std::unique_ptr<Expr> parsePrimary() {
    if (peek().kind == Kind::LeftParen) {
      Nested level(*this);
      const size_t open = next().position;
      auto inner = parseOr();
      if (peek().kind != Kind::RightParen) {
        fail("se esperaba ')' para cerrar el '(' de la posición " + std::to_string(open));
      }
      next();
      return inner;
    }
    auto node = std::make_unique<Expr>();
    node->left = parseOperand();
    if (isKeyword(peek(), "IS")) {
      next();
      node->kind = Expr::Kind::IsNull;
      if (isKeyword(peek(), "NOT")) {
        next();
        node->negated = true;
      }
      if (!isKeyword(peek(), "NULL")) fail("se esperaba NULL después de IS");
      next();
      return node;
    }
    switch (peek().kind) {
      case Kind::Equal:
        node->op = CompareOp::Equal;
        break;
      case Kind::NotEqual:
        node->op = CompareOp::NotEqual;
        break;
      case Kind::Less:
        node->op = CompareOp::Less;
        break;
      case Kind::LessEqual:
        node->op = CompareOp::LessEqual;
        break;
      case Kind::Greater:
        node->op = CompareOp::Greater;
        break;
      case Kind::GreaterEqual:
        node->op = CompareOp::GreaterEqual;
        break;
      default:
        fail("se esperaba un operador de comparación (=, <>, <, <=, >, >=) o IS después de " +
             tokens_[pos_ - 1].describe());
    }
    next();
    node->kind = Expr::Kind::Compare;
    node->right = parseOperand();
    return node;
  }

  Operand parseOperand() {
    Operand o;
    const Token& t = peek();
    o.position = t.position;
    const size_t start = t.offset;
    switch (t.kind) {
      case Kind::Minus: {
        next();
        if (peek().kind != Kind::Number) fail("se esperaba un número después de '-'");
        o.literal = numberValue(next().value, true);
        break;
      }
      case Kind::Number:
        o.literal = numberValue(next().value, false);
        break;
      case Kind::Text:
        o.literal = Value::text(next().value);
        break;
      case Kind::Date:
        o.literal = Value::dateTime(next().days);
        break;
      case Kind::Name:
      case Kind::Bracketed:
        if (isKeyword(t, "NULL")) {
          next();
        } else if (isKeyword(t, "TRUE") || isKeyword(t, "FALSE")) {
          o.literal = Value::boolean(isKeyword(next(), "TRUE"));
        } else if (isName(t)) {
          parseColumnName(o);
        } else {
          fail("se esperaba un nombre de campo o un valor");
        }
        break;
      default:
        fail("se esperaba un nombre de campo o un valor");
    }
    const Token& last = tokens_[pos_ - 1];
    o.text = std::string(text_.substr(start, last.offset + last.source.size() - start));
    return o;
  }

  // name, or table.name where the table is the one after FROM.
  void parseColumnName(Operand& o) {
    o.is_column = true;
    o.name = next().value;
    if (peek().kind != Kind::Dot) return;
    const std::string qualifier = o.name;
    next();
    if (!isName(peek())) fail("se esperaba un nombre de campo después de '.'");
    o.name = next().value;
    if (!equalsIgnoreCase(qualifier, table_))
      throw JetError(Msg::kUnknownField, qualifier + "." + o.name);
  }

  std::string_view text_;
  std::vector<Token> tokens_;
  size_t pos_ = 0;
  size_t depth_ = 0;
  std::string table_;
};

// The text's first word: letters, digits, "_" and non-ASCII characters.
std::string_view firstWord(std::string_view s) {
  size_t n = 0;
  while (n < s.size()) {
    const auto c = static_cast<unsigned char>(s[n]);
    if (!std::isalnum(c) && c != '_' && c < 0x80) break;
    ++n;
  }
  return s.substr(0, n);
}

}  // namespace

StatementKind statementKind(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  return equalsIgnoreCase(firstWord(text.substr(i)), "DELETE") ? StatementKind::Delete
                                                               : StatementKind::Select;
}

Query parseDelete(std::string_view text) {
  return Parser(text).parseDelete();
}

Query parseQuery(std::string_view text) {
  const std::string_view body = trimSpaces(text);
  if (equalsIgnoreCase(firstWord(body), "SELECT")) return Parser(text).parseSelect();
  if (body.empty()) {
    sql::throwSyntaxError(text, 1, "se esperaba SELECT o el nombre de una tabla");
  }
  // A bare table name, [bracketed] or not.
  Query q;
  q.text = std::string(text);
  q.table = std::string(body);
  if (body.size() > 2 && body.front() == '[' && body.back() == ']' &&
      body.find(']') == body.size() - 1) {
    q.table = std::string(body.substr(1, body.size() - 2));
  }
  return q;
}

}  // namespace jet
