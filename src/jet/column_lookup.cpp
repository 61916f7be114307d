#include "column_lookup.h"

#include <algorithm>
#include <cmath>
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

ColumnLookup::ColumnLookup(const Table& table, size_t column) {
  table.scan([&](RowId id) {
    std::optional<std::string> key = equalityKey(table.read(id, column));
    if (!key) return;
    rows_[*key].push_back(id);
    key_of_.emplace(id.toPointer(), std::move(*key));
  });
}

std::vector<RowId> ColumnLookup::find(const Value& v) const {
  std::optional<std::string> key = equalityKey(v);
  if (!key) return {};
  auto it = rows_.find(*key);
  return it == rows_.end() ? std::vector<RowId>{} : it->second;
}

void ColumnLookup::erase(RowId id) {
  auto k = key_of_.find(id.toPointer());
  if (k == key_of_.end()) return;
  auto it = rows_.find(k->second);
  if (it != rows_.end()) {
    auto& v = it->second;
    v.erase(std::remove(v.begin(), v.end(), id), v.end());
    if (v.empty()) rows_.erase(it);
  }
  key_of_.erase(k);
}

}  // namespace jet
