// The SQL of record sources without a database: literals, the tree's shape,
// syntax errors with their position, and Jet's comparison semantics on
// values.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "jet/error.h"
#include "jet/query.h"
#include "sql/sql_ast.h"
#include "sql/sql_eval.h"
#include "sql/sql_lexer.h"

namespace {

using jet::Value;
using jet::sql::Expr;

double day(int y, int m, int d, int hh = 0, int mm = 0, int ss = 0) {
  return jet::joinDateTime({y, m, d, hh, mm, ss});
}

jet::Query where(const std::string& condition) {
  return jet::parseQuery("SELECT * FROM t WHERE " + condition);
}

// The literal on the right of `x = <literal>`.
Value literal(const std::string& text) {
  jet::Query q = where("x = " + text);
  EXPECT_EQ(q.where->kind, Expr::Kind::Compare);
  EXPECT_FALSE(q.where->right.is_column);
  return q.where->right.literal;
}

// The tree's shape: "or(and(cmp,not(cmp)),null)".
std::string shape(const Expr& e) {
  auto list = [&](const char* name) {
    std::string s = std::string(name) + "(";
    for (size_t i = 0; i < e.children.size(); ++i) s += (i ? "," : "") + shape(*e.children[i]);
    return s + ")";
  };
  if (e.kind == Expr::Kind::And) return list("and");
  if (e.kind == Expr::Kind::Or) return list("or");
  if (e.kind == Expr::Kind::Not) return list("not");
  if (e.kind == Expr::Kind::IsNull) return e.left.name + (e.negated ? "!null" : "null");
  return (e.left.is_column ? e.left.name : e.left.text) + jet::sql::compareOpText(e.op) +
         (e.right.is_column ? e.right.name : e.right.text);
}

TEST(SqlDateLiteral, MonthFirstWithEitherSeparatorAndYearFirst) {
  EXPECT_EQ(jet::sql::parseDateLiteral("12-06-2026"), day(2026, 12, 6));
  EXPECT_EQ(jet::sql::parseDateLiteral("06-12-2026"), day(2026, 6, 12));
  EXPECT_EQ(jet::sql::parseDateLiteral("12/31/2010"), day(2010, 12, 31));
  EXPECT_EQ(jet::sql::parseDateLiteral("1/2/2010"), day(2010, 1, 2));
  EXPECT_EQ(jet::sql::parseDateLiteral("1-2-2010"), day(2010, 1, 2));
  EXPECT_EQ(jet::sql::parseDateLiteral("2010-12-31"), day(2010, 12, 31));
  EXPECT_EQ(jet::sql::parseDateLiteral(" 2/29/2024 "), day(2024, 2, 29));
  EXPECT_EQ(jet::sql::parseDateLiteral("12-30-1899"), 0.0);
  EXPECT_EQ(jet::sql::parseDateLiteral("12-31-2010"), 40543.0);  // the serial Access shows
  EXPECT_EQ(literal("#12-06-2026#"), Value::dateTime(day(2026, 12, 6)));
}

TEST(SqlDateLiteral, TimeOfDay) {
  EXPECT_EQ(jet::sql::parseDateLiteral("12-31-2010 15:30"), day(2010, 12, 31, 15, 30));
  EXPECT_EQ(jet::sql::parseDateLiteral("12/31/2010 0:00:01"), day(2010, 12, 31, 0, 0, 1));
  EXPECT_EQ(jet::sql::parseDateLiteral("2010-12-31 23:59:59"), day(2010, 12, 31, 23, 59, 59));
}

TEST(SqlDateLiteral, RejectsWhatNamesNoDay) {
  for (const char* bad :
       {"13-01-2010", "02-31-2010", "2-29-2023", "0-10-2010", "10-0-2010", "12-06-26", "12-06/2026",
        "123-1-2010", "2010-13-01", "12-31-2010 24:00", "12-31-2010 10:60", "12-31-2010 10:30:60",
        "12-31-2010 10", "12-31-2010x", "12-31-2010 10:5", "", "hoy"}) {
    EXPECT_FALSE(jet::sql::parseDateLiteral(bad)) << bad;
  }
}

TEST(SqlLiteral, QuotesNumbersAndKeywords) {
  EXPECT_EQ(literal("'it''s'"), Value::text("it's"));
  EXPECT_EQ(literal("\"say \"\"hi\"\"\""), Value::text("say \"hi\""));
  EXPECT_EQ(literal("'a \"b\"'"), Value::text("a \"b\""));
  EXPECT_EQ(literal("\"O'Brien\""), Value::text("O'Brien"));
  EXPECT_EQ(literal("''"), Value::text(""));
  EXPECT_EQ(literal("'Peña'"), Value::text("Peña"));
  EXPECT_EQ(literal("42"), Value::integer(42));
  EXPECT_EQ(literal("-42"), Value::integer(-42));
  EXPECT_EQ(literal("- 7"), Value::integer(-7));
  EXPECT_EQ(literal("1.50"), Value::decimal("1.50"));
  EXPECT_EQ(literal("-0.25"), Value::decimal("-0.25"));
  EXPECT_EQ(literal("99999999999999999999"), Value::decimal("99999999999999999999"));
  EXPECT_EQ(literal("true"), Value::boolean(true));
  EXPECT_EQ(literal("False"), Value::boolean(false));
  EXPECT_EQ(literal("null"), Value::null());
  EXPECT_EQ(where("x = -5").where->right.text, "-5");
}

TEST(SqlParse, PrecedenceNotOverAndOverOr) {
  EXPECT_EQ(shape(*where("a = 1 OR b = 2 AND c = 3").where), "or(a=1,and(b=2,c=3))");
  EXPECT_EQ(shape(*where("a = 1 AND b = 2 OR c = 3").where), "or(and(a=1,b=2),c=3)");
  EXPECT_EQ(shape(*where("(a = 1 OR b = 2) AND c = 3").where), "and(or(a=1,b=2),c=3)");
  EXPECT_EQ(shape(*where("NOT a = 1 AND b = 2").where), "and(not(a=1),b=2)");
  EXPECT_EQ(shape(*where("NOT NOT a IS NULL OR b IS NOT NULL").where),
            "or(not(not(anull)),b!null)");
  EXPECT_EQ(shape(*where("a = 1 AND b = 2 AND c = 3").where), "and(a=1,b=2,c=3)");
  EXPECT_EQ(shape(*where("a<>1 and b<1 and c<=1 and d>1 and e>=1").where),
            "and(a<>1,b<1,c<=1,d>1,e>=1)");
  EXPECT_EQ(shape(*where("1 < a").where), "1<a");
}

TEST(SqlParse, NamesKeywordsAndForms) {
  jet::Query q = jet::parseQuery("sElEcT * fRoM [Mis Clientes] wHeRe [Fecha de alta] iS nUlL;");
  EXPECT_EQ(q.table, "Mis Clientes");
  EXPECT_EQ(shape(*q.where), "Fecha de altanull");
  EXPECT_EQ(
      jet::parseQuery("Select * from clientes where clies = 'H' and clifre <= #12-31-2010#").table,
      "clientes");
  EXPECT_EQ(shape(*where("[And] = t.[Or]").where), "And=Or");  // brackets make keywords names
  q = jet::parseQuery("SELECT*FROM clientes ; ");
  EXPECT_EQ(q.table, "clientes");
  EXPECT_EQ(q.where, nullptr);
  EXPECT_EQ(jet::parseQuery("  CLIENTES ").table, "CLIENTES");
  EXPECT_EQ(jet::parseQuery("[Mis Clientes]").table, "Mis Clientes");
  EXPECT_EQ(jet::parseQuery("Mis Clientes").table, "Mis Clientes");
  EXPECT_EQ(jet::parseQuery("Selection").table, "Selection");
  // Positions count characters, not bytes.
  EXPECT_EQ(where("ñ = 1").where->right.position, 27u);
}

// A 3075 whose message quotes the query and says where and what.
void expectSyntaxError(const std::string& query, size_t position, const std::string& what) {
  try {
    jet::parseQuery(query);
    ADD_FAILURE() << "no error for: " << query;
  } catch (const jet::JetError& e) {
    EXPECT_EQ(e.number(), 3075) << query;
    const std::string expected = "Error de sintaxis en la expresión de consulta '" + query +
                                 "'. (posición " + std::to_string(position) + ": ";
    EXPECT_EQ(std::string(e.what()).substr(0, expected.size()), expected) << e.what();
    EXPECT_NE(std::string(e.what()).find(what), std::string::npos) << e.what();
    EXPECT_EQ(std::string(e.what()).back(), ')') << e.what();
  }
}

TEST(SqlParse, SyntaxErrorsNameWhatAndWhere) {
  const std::string w = "SELECT * FROM clientes WHERE ";  // 29 characters
  expectSyntaxError(w + "clies = ", 38,
                    "se esperaba un nombre de campo o un valor, se encontró el final");
  expectSyntaxError(w + "clies 'H'", 36, "operador de comparación");
  expectSyntaxError(w + "clies == 'H'", 37, "se encontró '='");
  expectSyntaxError(w + "(clies = 'H'", 42, "')' para cerrar el '(' de la posición 30");
  expectSyntaxError(w + "clies = 'H' AND", 45, "se encontró el final de la consulta");
  expectSyntaxError(w + "clies = 'H' ORDER BY clinom", 42,
                    "se esperaba AND, OR o el final de la consulta, se encontró 'ORDER'");
  expectSyntaxError(w + "clies = 'H", 38, "falta la comilla de cierre (')");
  expectSyntaxError(w + "clies = \"H", 38, "falta la comilla de cierre (\")");
  expectSyntaxError(w + "[clies = 'H'", 30, "falta el ']'");
  expectSyntaxError(w + "[] = 1", 30, "nombre vacío");
  expectSyntaxError(w + "clifre <= #12-31-2010", 40, "falta el '#'");
  expectSyntaxError(w + "clifre <= #13-01-2010#", 40, "fecha no válida #13-01-2010#");
  expectSyntaxError(w + "clifre <= #02-31-2010#", 40, "fecha no válida #02-31-2010#");
  expectSyntaxError(w + "clies IS 'H'", 39, "se esperaba NULL después de IS");
  expectSyntaxError(w + "clies = -'H'", 39, "se esperaba un número después de '-'");
  expectSyntaxError(w + "clicod = 12abc", 39, "número no válido '12abc'");
  expectSyntaxError(w + "clicod = 1.2.3", 39, "número no válido '1.2.3'");
  expectSyntaxError(w + "clicod ! 1", 37, "carácter no válido '!'");
  expectSyntaxError(w + "clinom = 'Peña' AND", 49, "el final de la consulta");
  expectSyntaxError(w + "NOT", 33, "se esperaba un nombre de campo o un valor");
  expectSyntaxError(w + "clies = 'H';;", 42, "se esperaba el final de la consulta");
  expectSyntaxError("SELECT clies FROM clientes", 8, "se esperaba '*'");
  expectSyntaxError("SELECT * clientes", 10, "se esperaba FROM, se encontró 'clientes'");
  expectSyntaxError("SELECT * FROM WHERE x = 1", 15, "se esperaba el nombre de una tabla");
  expectSyntaxError("SELECT * FROM clientes clies = 'H'", 24, "se esperaba WHERE");
  expectSyntaxError("   ", 1, "se esperaba SELECT o el nombre de una tabla");
}

// Parentheses and NOT nest up to 100 levels; the level past that is a
// syntax error at its position, never a stack overflow. AND and OR chains
// do not nest: any length of them parses.
TEST(SqlParse, NestingIsBoundedAndTheErrorSaysWhere) {
  auto times = [](const std::string& s, size_t n) {
    std::string out;
    for (size_t i = 0; i < n; ++i) out += s;
    return out;
  };
  auto parens = [&](size_t n) { return times("(", n) + "a = 1" + times(")", n); };
  const std::string w = "SELECT * FROM t WHERE ";  // 22 characters
  const std::string chain = "a = 1" + times(" AND b = 2 OR c = 3", 20000);
  const std::pair<std::string, size_t> cases[] = {
      // condition, position of the level too many (0: parses)
      {parens(100), 0},
      {parens(101), 22 + 101},
      {parens(13000), 22 + 101},
      {times("NOT ", 100) + "a = 1", 0},
      {times("NOT ", 101) + "a = 1", 22 + 4 * 100 + 1},
      {times("NOT ", 13000) + "a = 1", 22 + 4 * 100 + 1},
      {times("NOT (", 50) + "a = 1" + times(")", 50), 0},
      {times("NOT (", 51) + "a = 1" + times(")", 51), 22 + 5 * 50 + 1},
      {times("(a = 1 OR NOT ", 7000) + "a = 1" + times(")", 7000), 22 + 14 * 50 + 1},
      {times("a = -", 13000) + "1", 22 + 6},  // unary minus applies to a number alone
      {chain, 0},
  };
  for (const auto& [condition, position] : cases) {
    if (position == 0) {
      EXPECT_NO_THROW(where(condition)) << condition.substr(0, 40);
      EXPECT_NO_THROW(jet::parseDelete("DELETE FROM t WHERE " + condition));
    } else {
      expectSyntaxError(w + condition, position,
                        condition[0] == 'a' ? "se esperaba un número después de '-'"
                                            : "demasiados niveles de paréntesis o NOT anidados");
      EXPECT_THROW(jet::parseDelete("DELETE FROM t WHERE " + condition), jet::JetError);
    }
  }
}

// Evaluates `condition` on a row given as (column name, value) pairs.
jet::sql::Truth eval(const std::string& condition,
                     const std::vector<std::pair<std::string, Value>>& row) {
  jet::Query q = where(condition);
  std::function<void(Expr&)> resolve = [&](Expr& e) {
    for (auto& c : e.children) resolve(*c);
    for (jet::sql::Operand* o : {&e.left, &e.right}) {
      for (size_t i = 0; o->is_column && i < row.size(); ++i) {
        if (row[i].first == o->name) o->column = i;
      }
    }
  };
  // The parsed tree is shared and stays as parsed; columns are resolved on a copy.
  const std::unique_ptr<Expr> tree = q.where->clone();
  resolve(*tree);
  return jet::sql::evaluate(*tree,
                            [&](size_t column) -> const Value& { return row.at(column).second; });
}

constexpr auto T = jet::sql::Truth::True;
constexpr auto F = jet::sql::Truth::False;
constexpr auto U = jet::sql::Truth::Unknown;

TEST(SqlEval, ThreeValuedLogic) {
  const std::vector<std::pair<std::string, Value>> row = {{"n", Value::null()},
                                                          {"x", Value::integer(1)}};
  EXPECT_EQ(eval("n = 1", row), U);
  EXPECT_EQ(eval("n <> 1", row), U);
  EXPECT_EQ(eval("NOT (n = 1)", row), U);
  EXPECT_EQ(eval("NOT n = 1", row), U);
  EXPECT_EQ(eval("n = NULL", row), U);
  EXPECT_EQ(eval("n = n", row), U);
  EXPECT_EQ(eval("n = 1 AND x = 2", row), F);
  EXPECT_EQ(eval("x = 2 AND n = 1", row), F);
  EXPECT_EQ(eval("n = 1 AND x = 1", row), U);
  EXPECT_EQ(eval("n = 1 OR x = 1", row), T);
  EXPECT_EQ(eval("x = 1 OR n = 1", row), T);
  EXPECT_EQ(eval("n = 1 OR x = 2", row), U);
  EXPECT_EQ(eval("NOT (n = 1 OR x = 2)", row), U);
  EXPECT_EQ(eval("NOT (n = 1 AND x = 2)", row), T);
  EXPECT_EQ(eval("n IS NULL", row), T);
  EXPECT_EQ(eval("n IS NOT NULL", row), F);
  EXPECT_EQ(eval("x IS NULL", row), F);
  EXPECT_EQ(eval("NOT x IS NULL", row), T);
  EXPECT_EQ(eval("NULL IS NULL", row), T);
}

TEST(SqlEval, TextIgnoresCase) {
  const std::vector<std::pair<std::string, Value>> row = {
      {"s", Value::text("h")}, {"n", Value::text("Muñoz")}, {"e", Value::text("")}};
  EXPECT_EQ(eval("s = 'H'", row), T);
  EXPECT_EQ(eval("s <> 'H'", row), F);
  EXPECT_EQ(eval("s = \"h\"", row), T);
  EXPECT_EQ(eval("s < 'I'", row), T);
  EXPECT_EQ(eval("s > 'G'", row), T);
  EXPECT_EQ(eval("n = 'MUÑOZ'", row), T);
  EXPECT_EQ(eval("e = ''", row), T);
  EXPECT_EQ(eval("e = 'H'", row), F);
  EXPECT_EQ(eval("e IS NULL", row), F);
}

TEST(SqlEval, NumbersOfEveryTypeByValue) {
  const std::vector<std::pair<std::string, Value>> row = {
      {"i", Value::integer(12)},
      {"c", Value::currency(127500)},
      {"neg", Value::currency(-5000)},
      {"d", Value::decimal("12.50")},
      {"big", Value::decimal("123456789012345678901234.5")},
      {"f", Value::single(0.5f)},
      {"r", Value::real(12.75)},
      {"yes", Value::boolean(true)},
      {"no", Value::boolean(false)}};
  EXPECT_EQ(eval("i = 12.0", row), T);
  EXPECT_EQ(eval("i < 12.000001", row), T);
  EXPECT_EQ(eval("c = 12.75", row), T);
  EXPECT_EQ(eval("c = r", row), T);
  EXPECT_EQ(eval("c > i", row), T);
  EXPECT_EQ(eval("neg = -0.5", row), T);
  EXPECT_EQ(eval("neg = f", row), F);
  EXPECT_EQ(eval("neg < 0", row), T);
  EXPECT_EQ(eval("d = 12.5", row), T);
  EXPECT_EQ(eval("d > 12.49999999999999999999", row), T);
  EXPECT_EQ(eval("d < c", row), T);
  EXPECT_EQ(eval("big > 123456789012345678901234", row), T);
  EXPECT_EQ(eval("big < 123456789012345678901235", row), T);
  EXPECT_EQ(eval("f = 0.5", row), T);
  EXPECT_EQ(eval("f < i", row), T);
  EXPECT_EQ(eval("r >= 12.75", row), T);
  EXPECT_EQ(eval("yes = -1", row), T);
  EXPECT_EQ(eval("yes = TRUE", row), T);
  EXPECT_EQ(eval("yes < no", row), T);
  EXPECT_EQ(eval("no = 0", row), T);
  EXPECT_EQ(eval("no = FALSE", row), T);
  EXPECT_EQ(eval("no = 1", row), F);
}

TEST(SqlEval, DatesAsInstants) {
  const std::vector<std::pair<std::string, Value>> row = {
      {"morning", Value::dateTime(day(2026, 12, 6, 10, 30))},
      {"midnight", Value::dateTime(day(2026, 12, 6))},
      {"june", Value::dateTime(day(2026, 6, 12))},
      {"old", Value::dateTime(-1.25)},  // 29-12-1899 06:00
      {"n", Value::integer(46362)}};
  EXPECT_EQ(eval("morning > #12-06-2026#", row), T);
  EXPECT_EQ(eval("morning <= #12-06-2026#", row), F);
  EXPECT_EQ(eval("morning = #12-06-2026 10:30#", row), T);
  EXPECT_EQ(eval("morning < #12/06/2026 10:30:01#", row), T);
  EXPECT_EQ(eval("midnight = #12-06-2026#", row), T);
  EXPECT_EQ(eval("midnight = #2026-12-06#", row), T);
  EXPECT_EQ(eval("midnight <= #12-06-2026#", row), T);
  EXPECT_EQ(eval("june = #06-12-2026#", row), T);
  EXPECT_EQ(eval("june = #12-06-2026#", row), F);
  EXPECT_EQ(eval("midnight = 46362", row), T);  // a number is a day count
  EXPECT_EQ(eval("morning > n", row), T);
  EXPECT_EQ(eval("morning < 46362.5", row), T);
  EXPECT_EQ(eval("old > #12-29-1899#", row), T);
  EXPECT_EQ(eval("old < #12-30-1899#", row), T);
  EXPECT_EQ(eval("old = #12-29-1899 6:00#", row), T);
}

TEST(SqlEval, ValuesThatCannotBeComparedAreATypeClash) {
  const std::vector<std::pair<std::string, Value>> row = {
      {"s", Value::text("5")}, {"i", Value::integer(5)}, {"b", Value::bytes("\x01")}};
  for (const char* condition : {"s = 5", "i = '5'", "s = #1-1-2000#", "b = 1", "'a' = 1"}) {
    try {
      eval(condition, row);
      ADD_FAILURE() << "no error for: " << condition;
    } catch (const jet::JetError& e) {
      EXPECT_EQ(e.number(), 3464);
      EXPECT_EQ(std::string(e.what()).rfind(
                    "No coinciden los tipos de datos en la expresión de criterios. (", 0),
                0u)
          << e.what();
    }
  }
  // Null meets every type without error.
  EXPECT_EQ(eval("s = NULL OR NULL = i", row), U);
}

}  // namespace
