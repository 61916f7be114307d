// Evaluates a condition tree on one row with Jet's semantics: three-valued
// logic, text without regard to case, numbers of every type compared by
// value, dates as instants.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>

#include "jet/column.h"
#include "jet/value.h"
#include "sql/sql_ast.h"

namespace jet::sql {

// A comparison with NULL is neither true nor false.
enum class Truth { False, True, Unknown };

// What a comparison operand holds, as far as comparing goes: numbers of
// every type (and Yes/No as -1 / 0) compare with each other and with dates.
enum class ValueClass { Null, Number, Date, Text, Bytes, Guid };

ValueClass valueClass(Value::Kind kind);
ValueClass columnClass(ColumnType type);
bool comparable(ValueClass a, ValueClass b);

// <0, 0 or >0; nothing when the kinds cannot be compared. Neither may be null.
std::optional<int> compareValues(const Value& a, const Value& b);

// The value of a column of the row, by position in TableDef::columns.
using ColumnSource = std::function<const Value&(size_t column)>;

// Throws 3464 when a comparison meets values it cannot compare.
Truth evaluate(const Expr& expr, const ColumnSource& row);

// 3464 for `left op right`, naming both sides; a column's type is given by
// `left_type` / `right_type` ("Texto"), ignored for literals.
[[noreturn]] void throwTypeClash(const Expr& compare, const std::string& left_type,
                                 const std::string& right_type);

// `column = literal` (either way round, literal not null): the condition an
// index on the column can answer alone.
struct ColumnEquality {
  size_t column;
  Value value;
};
std::optional<ColumnEquality> columnEquality(const Expr& condition);

// The type's name for messages, in Spanish ("Texto", "Fecha/Hora").
std::string columnTypeNameEs(ColumnType type);
// The same for a value of that kind.
std::string valueKindNameEs(Value::Kind kind);

}  // namespace jet::sql
