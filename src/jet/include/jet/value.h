// A column value as the engine hands it out: a small tagged type.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace jet {

// A calendar date and wall-clock time, as Access shows a Date/Time value.
struct DateTimeParts {
  int year = 1899, month = 12, day = 30;
  int hour = 0, minute = 0, second = 0;
};

// Access stores a date as days since 1899-12-30; the integer part (toward
// zero) is the day and the magnitude of the fraction the time of day, also
// for negative values (-1.25 is 1899-12-29 06:00). Rounded to the second.
DateTimeParts splitDateTime(double days);
// The inverse, for values on or after 1899-12-30 and before it alike.
double joinDateTime(const DateTimeParts& parts);

class Value {
 public:
  enum class Kind {
    Null,
    Bool,
    Int,
    Single,
    Double,
    Currency,
    Decimal,
    DateTime,
    Text,
    Bytes,
    Guid
  };

  Value() = default;
  static Value null() { return Value(); }
  static Value boolean(bool b) { return Value(Kind::Bool, b ? 1 : 0); }
  static Value integer(int64_t i) { return Value(Kind::Int, i); }
  static Value single(float f) { return Value(Kind::Single, 0, f); }
  static Value real(double d) { return Value(Kind::Double, 0, d); }
  // The amount times 10 000, as the file stores it.
  static Value currency(int64_t scaled) { return Value(Kind::Currency, scaled); }
  // Exact decimal text, "-12.50".
  static Value decimal(std::string text) { return Value(Kind::Decimal, 0, 0, std::move(text)); }
  static Value dateTime(double days) { return Value(Kind::DateTime, 0, days); }
  static Value text(std::string utf8) { return Value(Kind::Text, 0, 0, std::move(utf8)); }
  static Value bytes(std::string raw) { return Value(Kind::Bytes, 0, 0, std::move(raw)); }
  static Value guid(const std::array<uint8_t, 16>& raw) {
    return Value(Kind::Guid, 0, 0, std::string(raw.begin(), raw.end()));
  }

  Kind kind() const { return kind_; }
  bool isNull() const { return kind_ == Kind::Null; }
  bool asBool() const { return int_ != 0; }
  int64_t asInt() const { return int_; }                // Int, Bool, Currency (scaled)
  double asDouble() const { return double_; }           // Single, Double, DateTime (days)
  const std::string& asString() const { return str_; }  // Text, Bytes, Decimal, Guid (raw)

  bool operator==(const Value&) const = default;

 private:
  Value(Kind k, int64_t i, double d = 0, std::string s = {})
      : kind_(k), int_(i), double_(d), str_(std::move(s)) {}

  Kind kind_ = Kind::Null;
  int64_t int_ = 0;
  double double_ = 0;
  std::string str_;
};

}  // namespace jet
