// The tree a record source's condition parses to. After binding, every
// column operand also carries its position in the table's columns.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "jet/value.h"

namespace jet::sql {

enum class CompareOp { Equal, NotEqual, Less, LessEqual, Greater, GreaterEqual };

// A side of a comparison: a column of the table or a literal.
struct Operand {
  static constexpr size_t kUnbound = static_cast<size_t>(-1);

  bool is_column = false;
  std::string name;          // column: as written, brackets removed
  size_t column = kUnbound;  // column: position in TableDef::columns once bound
  Value literal;             // literal: its value (null for NULL)
  std::string text;          // as written in the query, for messages
  size_t position = 0;       // 1-based character position in the query text
};

struct Expr {
  enum class Kind { And, Or, Not, Compare, IsNull };

  Kind kind = Kind::Compare;
  std::vector<std::unique_ptr<Expr>> children;  // And / Or: two or more; Not: one
  CompareOp op = CompareOp::Equal;              // Compare
  Operand left, right;                          // Compare: both; IsNull: left
  bool negated = false;                         // IsNull: IS NOT NULL

  std::unique_ptr<Expr> clone() const {
    auto copy = std::make_unique<Expr>();
    copy->kind = kind;
    copy->op = op;
    copy->left = left;
    copy->right = right;
    copy->negated = negated;
    for (const auto& c : children) copy->children.push_back(c->clone());
    return copy;
  }
};

inline const char* compareOpText(CompareOp op) {
  switch (op) {
    case CompareOp::Equal:
      return "=";
    case CompareOp::NotEqual:
      return "<>";
    case CompareOp::Less:
      return "<";
    case CompareOp::LessEqual:
      return "<=";
    case CompareOp::Greater:
      return ">";
    case CompareOp::GreaterEqual:
      return ">=";
  }
  return "?";
}

}  // namespace jet::sql
