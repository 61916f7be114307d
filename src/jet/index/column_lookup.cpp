#include "index/column_lookup.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "jet/database.h"
#include "jet/error.h"
#include "index/index_numbers.h"
#include "format/text_codec.h"

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
    case K::Null:
      return std::nullopt;
    case K::Bool:
      return numberKey(v.asBool() ? -1.0 : 0.0);
    case K::Int:
      return numberKey(static_cast<double>(v.asInt()));
    case K::Currency:
      return numberKey(static_cast<double>(v.asInt()) / 10000.0);
    case K::Single:
    case K::Double:
    case K::DateTime:
      return numberKey(v.asDouble());
    case K::Decimal:
      return numberKey(std::strtod(v.asString().c_str(), nullptr));
    case K::Text:
      return "t" + foldCase(v.asString());
    case K::Bytes:
    case K::Guid:
      return "b" + v.asString();
  }
  return std::nullopt;
}

std::optional<int64_t> ColumnLookup::wholeNumber(const Value& v) {
  switch (v.kind()) {
    case Value::Kind::Int:
      return v.asInt();
    case Value::Kind::Bool:
      return v.asBool() ? -1 : 0;
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
    default:
      return std::nullopt;
  }
}

namespace {

// Orders the entries by value, keeping the order of entries with equal
// values (their scan order): a radix sort on the value's bits, eleven at a
// time, skipping a digit all entries share. Rows usually come in few runs,
// so sorted input is checked for first.
template <typename Entry>
void sortByValue(std::vector<Entry>& entries) {
  auto less = [](const Entry& a, const Entry& b) { return a.value < b.value; };
  if (std::is_sorted(entries.begin(), entries.end(), less)) return;
  constexpr unsigned kBits = 11;
  constexpr size_t kBuckets = size_t{1} << kBits;
  std::vector<Entry> other(entries.size());
  auto digit = [](const Entry& e, unsigned shift) {
    return ((static_cast<uint32_t>(e.value) ^ 0x80000000u) >> shift) & (kBuckets - 1);
  };
  for (unsigned shift = 0; shift < 32; shift += kBits) {
    std::vector<size_t> count(kBuckets + 1, 0);
    for (const Entry& e : entries) ++count[digit(e, shift) + 1];
    if (std::any_of(count.begin(), count.end(), [&](size_t c) { return c == entries.size(); })) {
      continue;  // one bucket holds them all
    }
    for (size_t b = 1; b <= kBuckets; ++b) count[b] += count[b - 1];
    for (const Entry& e : entries) other[count[digit(e, shift)]++] = e;
    entries.swap(other);
  }
}

}  // namespace

ColumnLookup::ColumnLookup(const Table& table, size_t column)
    : db_(&table.database()), def_(&table.def()), column_(column) {
  whole_numbers_ = table.def().columns.at(column).isWholeNumber();
  if (!whole_numbers_) {
    table.scan([&](RowId id) {
      const Value v = table.read(id, column);
      if (std::vector<RowId>* rows = rowsFor(v)) rows->push_back(id);
    });
    return;
  }
  // The column's own index holds every value in order, without reading a row.
  if (std::optional<std::vector<IndexNumber>> numbers = readIndexNumbers(table, column)) {
    entries_.reserve(numbers->size());
    for (const IndexNumber& n : *numbers) entries_.push_back({n.value, n.pointer});
    sortByValue(entries_);  // a descending index
    from_index_ = true;
    return;
  }
  entries_.reserve(table.def().row_count);
  table.scan([&](RowId id) {
    const Value v = table.read(id, column);
    if (v.kind() != Value::Kind::Int) return;  // null equals nothing
    entries_.push_back({static_cast<int32_t>(v.asInt()), id.toPointer()});
  });
  sortByValue(entries_);
}

std::vector<RowId>* ColumnLookup::rowsFor(const Value& v) {
  std::optional<std::string> key = equalityKey(v);
  return key ? &by_key_[*key] : nullptr;
}

std::pair<const ColumnLookup::Entry*, const ColumnLookup::Entry*> ColumnLookup::range(
    int64_t value) const {
  const Entry* begin = entries_.data();
  const Entry* end = begin + entries_.size();
  if (value < INT32_MIN || value > INT32_MAX) return {end, end};
  const auto v = static_cast<int32_t>(value);
  const Entry* lo =
      std::lower_bound(begin, end, v, [](const Entry& e, int32_t x) { return e.value < x; });
  const Entry* hi =
      std::upper_bound(lo, end, v, [](int32_t x, const Entry& e) { return x < e.value; });
  return {lo, hi};
}

std::vector<RowId> ColumnLookup::find(const Value& v) const {
  if (whole_numbers_) {
    if (v.isNull()) return {};
    std::optional<int64_t> n = wholeNumber(v);
    if (!n) return {};  // a fraction, or no number at all: no whole number equals it
    const auto [lo, hi] = range(*n);
    std::vector<RowId> rows;
    rows.reserve(static_cast<size_t>(hi - lo));
    for (const Entry* e = lo; e != hi; ++e) {
      if (e->pointer != 0) rows.push_back(RowId::fromPointer(e->pointer));
    }
    return rows;
  }
  std::optional<std::string> key = equalityKey(v);
  if (!key) return {};
  auto it = by_key_.find(*key);
  return it == by_key_.end() ? std::vector<RowId>{} : it->second;
}

void ColumnLookup::erase(RowId id, const Value& v) {
  if (whole_numbers_) {
    if (v.kind() != Value::Kind::Int) return;
    const auto [lo, hi] = range(v.asInt());
    const uint32_t pointer = id.toPointer();
    for (const Entry* e = lo; e != hi; ++e) {
      if (e->pointer == pointer) {
        entries_[static_cast<size_t>(e - entries_.data())].pointer = 0;
        return;
      }
    }
    if (from_index_) {
      // The index put the row under another value, or left it out.
      throwBadFormat(db_->path(), "el índice de la columna '" + def_->columns[column_].name +
                                      "' de la tabla '" + def_->name +
                                      "' no coincide con la fila " + std::to_string(id.page) + ":" +
                                      std::to_string(id.row) + "; repare la base de datos");
    }
    return;
  }
  std::vector<RowId>* rows = rowsFor(v);
  if (!rows) return;
  rows->erase(std::remove(rows->begin(), rows->end(), id), rows->end());
}

}  // namespace jet
