#include "sql/sql_eval.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <string_view>

#include "format/text_codec.h"
#include "jet/error.h"

namespace jet::sql {

namespace {

int sign(int c) {
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

template <typename T>
int threeWay(T a, T b) {
  return a < b ? -1 : (b < a ? 1 : 0);
}

// An exact decimal number, split into its digits without redundant zeros.
struct Exact {
  bool negative = false;
  std::string whole;     // no leading zeros
  std::string fraction;  // no trailing zeros
};

Exact parseExact(std::string_view s) {
  Exact e;
  if (!s.empty() && (s.front() == '-' || s.front() == '+')) {
    e.negative = s.front() == '-';
    s.remove_prefix(1);
  }
  const size_t dot = s.find('.');
  std::string_view whole = s.substr(0, dot);
  std::string_view fraction =
      dot == std::string_view::npos ? std::string_view{} : s.substr(dot + 1);
  while (!whole.empty() && whole.front() == '0') whole.remove_prefix(1);
  while (!fraction.empty() && fraction.back() == '0') fraction.remove_suffix(1);
  e.whole = std::string(whole);
  e.fraction = std::string(fraction);
  if (e.whole.empty() && e.fraction.empty()) e.negative = false;  // -0 is 0
  return e;
}

int compareExact(const Exact& a, const Exact& b) {
  if (a.negative != b.negative) return a.negative ? -1 : 1;
  int magnitude = threeWay(a.whole.size(), b.whole.size());
  if (magnitude == 0) magnitude = sign(a.whole.compare(b.whole));
  if (magnitude == 0) magnitude = sign(a.fraction.compare(b.fraction));
  return a.negative ? -magnitude : magnitude;
}

bool isExact(Value::Kind k) {
  return k == Value::Kind::Bool || k == Value::Kind::Int || k == Value::Kind::Currency ||
         k == Value::Kind::Decimal;
}

// Yes/No compares as -1 (Yes) and 0 (No).
std::string exactText(const Value& v) {
  switch (v.kind()) {
    case Value::Kind::Bool:
      return v.asBool() ? "-1" : "0";
    case Value::Kind::Int:
      return std::to_string(v.asInt());
    case Value::Kind::Currency: {
      const int64_t scaled = v.asInt();
      const uint64_t magnitude =
          scaled < 0 ? 0 - static_cast<uint64_t>(scaled) : static_cast<uint64_t>(scaled);
      std::string fraction = std::to_string(magnitude % 10000);
      fraction.insert(0, 4 - fraction.size(), '0');
      return (scaled < 0 ? "-" : "") + std::to_string(magnitude / 10000) + "." + fraction;
    }
    default:
      return v.asString();
  }
}

double toDouble(const Value& v) {
  switch (v.kind()) {
    case Value::Kind::Bool:
      return v.asBool() ? -1.0 : 0.0;
    case Value::Kind::Int:
      return static_cast<double>(v.asInt());
    case Value::Kind::Currency:
      return static_cast<double>(v.asInt()) / 10000.0;
    case Value::Kind::Decimal: {
      // from_chars, unlike strtod, ignores the locale's decimal separator.
      std::string_view s = v.asString();
      if (!s.empty() && s.front() == '+') s.remove_prefix(1);
      double d = 0;
      std::from_chars(s.data(), s.data() + s.size(), d);
      return d;
    }
    default:
      return v.asDouble();
  }
}

// A day count as a point in time, to the second: the stored value's fraction
// is the time of day also before 1899-12-30 (-1.25 is 06:00 of the day
// before, later than -1.0), so the count is made linear first.
double instant(double days) {
  const double day = std::trunc(days);
  const double linear = day + std::fabs(days - day);
  return std::round(linear * 86400.0);
}

std::string describeOperand(const Operand& o, const std::string& column_type) {
  if (o.is_column) return "el campo '" + o.name + "' (" + column_type + ")";
  switch (valueClass(o.literal.kind())) {
    case ValueClass::Text:
      return "el texto " + o.text;
    case ValueClass::Date:
      return "la fecha " + o.text;
    case ValueClass::Number:
      return o.literal.kind() == Value::Kind::Bool ? "el valor " + o.text : "el número " + o.text;
    default:
      return "el valor " + o.text;
  }
}

}  // namespace

ValueClass valueClass(Value::Kind kind) {
  switch (kind) {
    case Value::Kind::Null:
      return ValueClass::Null;
    case Value::Kind::DateTime:
      return ValueClass::Date;
    case Value::Kind::Text:
      return ValueClass::Text;
    case Value::Kind::Bytes:
      return ValueClass::Bytes;
    case Value::Kind::Guid:
      return ValueClass::Guid;
    default:
      return ValueClass::Number;
  }
}

ValueClass columnClass(ColumnType type) {
  switch (type) {
    case ColumnType::Boolean:
    case ColumnType::Byte:
    case ColumnType::Integer:
    case ColumnType::Long:
    case ColumnType::Currency:
    case ColumnType::Single:
    case ColumnType::Double:
    case ColumnType::Numeric:
      return ValueClass::Number;
    case ColumnType::DateTime:
      return ValueClass::Date;
    case ColumnType::Text:
    case ColumnType::Memo:
      return ValueClass::Text;
    case ColumnType::Guid:
      return ValueClass::Guid;
    default:
      return ValueClass::Bytes;
  }
}

bool comparable(ValueClass a, ValueClass b) {
  if (a == ValueClass::Null || b == ValueClass::Null || a == b) return true;
  const auto numeric = [](ValueClass c) {
    return c == ValueClass::Number || c == ValueClass::Date;
  };
  return numeric(a) && numeric(b);
}

std::optional<int> compareValues(const Value& a, const Value& b) {
  const ValueClass ca = valueClass(a.kind());
  const ValueClass cb = valueClass(b.kind());
  if (ca == ValueClass::Null || cb == ValueClass::Null || !comparable(ca, cb)) return std::nullopt;
  switch (ca) {
    case ValueClass::Text:
      return sign(foldCase(a.asString()).compare(foldCase(b.asString())));
    case ValueClass::Bytes:
    case ValueClass::Guid:
      return sign(a.asString().compare(b.asString()));
    default:
      break;
  }
  if (ca == ValueClass::Date || cb == ValueClass::Date) {
    return threeWay(instant(toDouble(a)), instant(toDouble(b)));
  }
  if (isExact(a.kind()) && isExact(b.kind())) {
    return compareExact(parseExact(exactText(a)), parseExact(exactText(b)));
  }
  return threeWay(toDouble(a), toDouble(b));
}

Truth evaluate(const Expr& e, const ColumnSource& row) {
  switch (e.kind) {
    case Expr::Kind::And: {
      Truth result = Truth::True;
      for (const auto& c : e.children) {
        const Truth t = evaluate(*c, row);
        if (t == Truth::False) return Truth::False;
        if (t == Truth::Unknown) result = Truth::Unknown;
      }
      return result;
    }
    case Expr::Kind::Or: {
      Truth result = Truth::False;
      for (const auto& c : e.children) {
        const Truth t = evaluate(*c, row);
        if (t == Truth::True) return Truth::True;
        if (t == Truth::Unknown) result = Truth::Unknown;
      }
      return result;
    }
    case Expr::Kind::Not: {
      const Truth t = evaluate(*e.children.at(0), row);
      if (t == Truth::Unknown) return t;
      return t == Truth::True ? Truth::False : Truth::True;
    }
    case Expr::Kind::IsNull: {
      const Value& v = e.left.is_column ? row(e.left.column) : e.left.literal;
      return v.isNull() != e.negated ? Truth::True : Truth::False;
    }
    case Expr::Kind::Compare:
      break;
  }
  const Value& a = e.left.is_column ? row(e.left.column) : e.left.literal;
  if (a.isNull()) return Truth::Unknown;
  const Value& b = e.right.is_column ? row(e.right.column) : e.right.literal;
  if (b.isNull()) return Truth::Unknown;
  const std::optional<int> c = compareValues(a, b);
  if (!c) throwTypeClash(e, valueKindNameEs(a.kind()), valueKindNameEs(b.kind()));
  bool holds = false;
  switch (e.op) {
    case CompareOp::Equal:
      holds = *c == 0;
      break;
    case CompareOp::NotEqual:
      holds = *c != 0;
      break;
    case CompareOp::Less:
      holds = *c < 0;
      break;
    case CompareOp::LessEqual:
      holds = *c <= 0;
      break;
    case CompareOp::Greater:
      holds = *c > 0;
      break;
    case CompareOp::GreaterEqual:
      holds = *c >= 0;
      break;
  }
  return holds ? Truth::True : Truth::False;
}

void throwTypeClash(const Expr& compare, const std::string& left_type,
                    const std::string& right_type) {
  throw JetError(Msg::kCriteriaTypeMismatch,
                 compare.left.text + " " + compareOpText(compare.op) + " " + compare.right.text +
                     ": " + describeOperand(compare.left, left_type) +
                     " no se puede comparar con " + describeOperand(compare.right, right_type));
}

std::optional<ColumnEquality> columnEquality(const Expr& e) {
  if (e.kind != Expr::Kind::Compare || e.op != CompareOp::Equal) return std::nullopt;
  if (e.left.is_column == e.right.is_column) return std::nullopt;
  const Operand& column = e.left.is_column ? e.left : e.right;
  const Operand& literal = e.left.is_column ? e.right : e.left;
  if (literal.literal.isNull()) return std::nullopt;
  return ColumnEquality{column.column, literal.literal};
}

std::string columnTypeNameEs(ColumnType type) {
  switch (type) {
    case ColumnType::Boolean:
      return "Sí/No";
    case ColumnType::Byte:
      return "Byte";
    case ColumnType::Integer:
      return "Entero";
    case ColumnType::Long:
      return "Entero largo";
    case ColumnType::Currency:
      return "Moneda";
    case ColumnType::Single:
      return "Simple";
    case ColumnType::Double:
      return "Doble";
    case ColumnType::DateTime:
      return "Fecha/Hora";
    case ColumnType::Binary:
      return "Binario";
    case ColumnType::Text:
      return "Texto";
    case ColumnType::Ole:
      return "Objeto OLE";
    case ColumnType::Memo:
      return "Memo";
    case ColumnType::Guid:
      return "Id. de réplica";
    case ColumnType::Numeric:
      return "Decimal";
  }
  return "tipo desconocido";
}

std::string valueKindNameEs(Value::Kind kind) {
  switch (kind) {
    case Value::Kind::Null:
      return "Nulo";
    case Value::Kind::Bool:
      return "Sí/No";
    case Value::Kind::Currency:
      return "Moneda";
    case Value::Kind::DateTime:
      return "Fecha/Hora";
    case Value::Kind::Text:
      return "Texto";
    case Value::Kind::Bytes:
      return "Binario";
    case Value::Kind::Guid:
      return "Id. de réplica";
    default:
      return "Número";
  }
}

}  // namespace jet::sql
