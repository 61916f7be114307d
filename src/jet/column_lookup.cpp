#include "column_lookup.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "database.h"
#include "text_codec.h"

namespace jet {

namespace {

std::string numberKey(double d) {
  if (d == 0) d = 0;  // -0 and 0 meet
  std::string key(1 + sizeof d, 'n');
  std::memcpy(key.data() + 1, &d, sizeof d);
  return key;
}

}  // namespace

std::optional<std::string> equalityKey(const Value& v) {
  using K = Value::Kind;
  switch (v.kind()) {
    case K::Null: return std::nullopt;
    case K::Bool: return numberKey(v.asBool() ? -1.0 : 0.0);
    case K::Int: return numberKey(static_cast<double>(v.asInt()));
    case K::Currency: return numberKey(static_cast<double>(v.asInt()) / 10000.0);
    case K::Single:
    case K::Double:
    case K::DateTime: return numberKey(v.asDouble());
    case K::Decimal: return numberKey(std::strtod(v.asString().c_str(), nullptr));
    case K::Text: return "t" + foldCase(v.asString());
    case K::Bytes:
    case K::Guid: return "b" + v.asString();
  }
  return std::nullopt;
}

std::optional<int64_t> ColumnLookup::wholeNumber(const Value& v) {
  switch (v.kind()) {
    case Value::Kind::Int: return v.asInt();
    case Value::Kind::Bool: return v.asBool() ? -1 : 0;
    case Value::Kind::Currency:
      if (v.asInt() % 10000 != 0) return std::nullopt;
      return v.asInt() / 10000;
    case Value::Kind::Decimal:
    case Value::Kind::Single:
    case Value::Kind::Double:
    case Value::Kind::DateTime: {
      const double d = v.kind() == Value::Kind::Decimal ? std::strtod(v.asString().c_str(), nullptr)
                                                        : v.asDouble();
      if (d >= -9.0e18 && d <= 9.0e18 && d == static_cast<double>(static_cast<int64_t>(d))) {
        return static_cast<int64_t>(d);
      }
      return std::nullopt;
    }
    default: return std::nullopt;
  }
}

ColumnLookup::ColumnLookup(const Table& table, size_t column) {
  const ColumnType t = table.def().columns.at(column).type();
  whole_numbers_ = t == ColumnType::Byte || t == ColumnType::Integer || t == ColumnType::Long;
  table.scan([&](RowId id) {
    const Value v = table.read(id, column);
    if (std::vector<RowId>* rows = rowsFor(v)) rows->push_back(id);
  });
}

std::vector<RowId>* ColumnLookup::rowsFor(const Value& v) {
  if (whole_numbers_) {
    if (v.kind() != Value::Kind::Int) return nullptr;  // null
    return &by_number_[v.asInt()];
  }
  std::optional<std::string> key = equalityKey(v);
  return key ? &by_key_[*key] : nullptr;
}

std::vector<RowId> ColumnLookup::find(const Value& v) const {
  if (whole_numbers_) {
    if (v.isNull()) return {};
    std::optional<int64_t> n = wholeNumber(v);
    if (!n) return {};  // a fraction, or no number at all: no whole number equals it
    auto it = by_number_.find(*n);
    return it == by_number_.end() ? std::vector<RowId>{} : it->second;
  }
  std::optional<std::string> key = equalityKey(v);
  if (!key) return {};
  auto it = by_key_.find(*key);
  return it == by_key_.end() ? std::vector<RowId>{} : it->second;
}

void ColumnLookup::erase(RowId id, const Value& v) {
  std::vector<RowId>* rows = rowsFor(v);
  if (!rows) return;
  rows->erase(std::remove(rows->begin(), rows->end(), id), rows->end());
}

}  // namespace jet
