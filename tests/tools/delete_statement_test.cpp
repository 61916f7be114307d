// The DELETE statement jetsql runs: the same table and condition as the
// SELECT form, Access's "DELETE *" form, and syntax errors with the position
// and what was expected there.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "jet/error.h"
#include "jet/query.h"
#include "sql/sql_ast.h"

namespace {

using jet::sql::Expr;

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

TEST(DeleteStatement, SelectsLikeTheSelectForm) {
  const std::string condition = "codcli = 12 AND (clies IS NULL OR NOT clinom <> 'x')";
  const jet::Query del = jet::parseDelete("DELETE FROM cliprod WHERE " + condition);
  const jet::Query sel = jet::parseQuery("SELECT * FROM cliprod WHERE " + condition);
  EXPECT_EQ(del.table, "cliprod");
  ASSERT_TRUE(del.where && sel.where);
  EXPECT_EQ(shape(*del.where), shape(*sel.where));
  EXPECT_EQ(shape(*del.where), "and(codcli=12,or(cliesnull,not(clinom<>'x')))");
}

TEST(DeleteStatement, TheFormsAccessAccepts) {
  for (const char* text : {"DELETE FROM t", "delete * from t;", "  Delete *  From [t]  ",
                           "DELETE FROM t WHERE t.a = 1"}) {
    const jet::Query q = jet::parseDelete(text);
    EXPECT_EQ(q.text, text);
    EXPECT_EQ(q.table, "t") << text;
  }
  EXPECT_FALSE(jet::parseDelete("DELETE * FROM [Order Details]").where);
  EXPECT_EQ(jet::parseDelete("DELETE * FROM [Order Details]").table, "Order Details");
}

TEST(DeleteStatement, SyntaxErrorsNameThePositionAndWhatWasExpected) {
  const std::pair<const char*, const char*> cases[] = {
      {"DELETE t", "posición 8: se esperaba FROM"},
      {"DELETE FROM", "posición 12: se esperaba el nombre de una tabla después de FROM"},
      {"DELETE FROM t WHERE", "posición 20: se esperaba un nombre de campo o un valor"},
      {"DELETE FROM t x", "posición 15: se esperaba WHERE o el final de la consulta"},
      {"DELETE ** FROM t", "posición 9: se esperaba FROM"},
      {"DELETE FROM t WHERE a = 1 b", "posición 27: se esperaba AND, OR o el final"},
  };
  for (const auto& [text, expected] : cases) {
    try {
      jet::parseDelete(text);
      ADD_FAILURE() << text << " parsed";
    } catch (const jet::JetError& e) {
      EXPECT_EQ(e.number(), jet::err::kSyntax) << text;
      EXPECT_NE(std::string(e.what()).find(expected), std::string::npos) << text << "\n"
                                                                         << e.what();
    }
  }
}

}  // namespace
