#include "index/index_lookup.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <unordered_set>

#include "format/data_page.h"
#include "format/text_codec.h"
#include "index/index_key.h"
#include "index/index_page.h"
#include "index/index_walk.h"
#include "io/page_source.h"
#include "jet/database.h"
#include "jet/error.h"

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

std::optional<int64_t> IndexLookup::wholeNumber(const Value& v) {
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

// The leaves of an index on one whole-number column.

// One leaf's entries, appended to `out`; false when the page is unusual.
bool readLeaf(const IndexPageView& page, size_t width, bool signed_value, bool ascending,
              std::vector<IndexNumber>& out, size_t& nulls) {
  const size_t whole_value = 1 + width + kRowPointerSize;
  const size_t whole_null = 1 + kRowPointerSize;
  if (page.prefix >= whole_value) return false;
  const uint8_t* data = page.data;
  uint8_t entry[16];
  for (IndexPageView::Span e = page.around(0);; e = page.after(e)) {
    if (!page.valid(e)) return false;
    // The prefix comes from the first entry; later ones store the rest.
    const size_t head = page.head(e);
    const size_t size = page.whole(e);
    if (size != whole_value && size != whole_null) return false;
    std::memcpy(entry, data, head);
    std::memcpy(entry + head, data + e.from, e.to - e.from);
    const uint8_t flag = entry[0];
    if (size == whole_null) {
      if (flag != (ascending ? kNullAsc : kNullDesc)) return false;
      ++nulls;
    } else {
      if (flag != (ascending ? kFlagAsc : kFlagDesc)) return false;
      uint32_t bits_value = 0;
      for (size_t k = 0; k < width; ++k) {
        const uint8_t b = ascending ? entry[1 + k] : static_cast<uint8_t>(~entry[1 + k]);
        bits_value = bits_value << 8 | b;
      }
      // Signed values are stored with their sign bit flipped.
      int32_t value = static_cast<int32_t>(bits_value);
      if (signed_value) {
        const uint32_t raw = bits_value ^ (uint32_t{1} << (8 * width - 1));
        value = width == 2 ? static_cast<int16_t>(raw) : static_cast<int32_t>(raw);
      }
      out.push_back({value, getIndexRowPointer(entry + 1 + width).toPointer()});
    }
    if (e.to == page.length) return true;
  }
}

}  // namespace

std::optional<std::vector<IndexNumber>> readIndexNumbers(const Table& table, size_t column) {
  const TableDef& def = table.def();
  const Column& c = def.columns.at(column);
  if (!c.isWholeNumber()) return std::nullopt;
  const size_t width = fixedValueSize(c.type());
  const RealIndex* index = nullptr;
  for (const RealIndex& ri : def.real_indexes) {
    if (ri.columns.size() == 1 && ri.columns[0].column_number == c.number) index = &ri;
  }
  if (!index) return std::nullopt;

  const Database& db = table.database();
  const PageSource& src = db.pages();
  const Format& fmt = db.format();
  std::vector<IndexNumber> out;
  size_t nulls = 0;
  try {
    std::unordered_set<uint32_t> seen;
    for (uint32_t n = IndexWalker(src, fmt, index->root_page, def.page).firstLeaf(); n != 0;) {
      if (n >= src.pageCount() || !seen.insert(n).second) return std::nullopt;
      const IndexPageView page(src, fmt, n, def.page);
      const ByteView bytes = src.page(n);
      const bool empty = bytes.u16(kIndexFreeSpace) == indexEntryRoom(fmt);
      if (bytes.u8(0) != kIndexLeafPage || bytes.u32(kIndexOwner) != def.page) return std::nullopt;
      if (!empty && (!page.ok || !readLeaf(page, width, c.type() != ColumnType::Byte,
                                           index->columns[0].ascending, out, nulls))) {
        return std::nullopt;
      }
      n = bytes.u32(fmt.index_next);
    }
  } catch (const JetError&) {
    return std::nullopt;  // the rows will tell
  }
  // Every live row has its entry, but a null one where nulls are left out.
  // (The count as the definition page holds it now, deletes included.)
  const size_t rows = src.page(def.page).u32(fmt.tdef_row_count);
  const size_t entries = out.size() + nulls;
  const bool complete =
      (index->flags & RealIndex::kIgnoreNulls) ? entries <= rows : entries == rows;
  if (!complete) return std::nullopt;
  return out;
}

IndexLookup::IndexLookup(const Table& table, size_t column)
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
  // The stored row count is a hint, and a damaged one may claim billions:
  // reserve no more than the file's pages can hold rows.
  const uint64_t most = uint64_t{table.database().pages().pageCount()} * kRowNumbers;
  entries_.reserve(static_cast<size_t>(std::min<uint64_t>(table.def().row_count, most)));
  table.scan([&](RowId id) {
    const Value v = table.read(id, column);
    if (v.kind() != Value::Kind::Int) return;  // null equals nothing
    entries_.push_back({static_cast<int32_t>(v.asInt()), id.toPointer()});
  });
  sortByValue(entries_);
}

std::vector<RowId>* IndexLookup::rowsFor(const Value& v) {
  std::optional<std::string> key = equalityKey(v);
  return key ? &by_key_[*key] : nullptr;
}

std::pair<const IndexLookup::Entry*, const IndexLookup::Entry*> IndexLookup::range(
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

std::vector<RowId> IndexLookup::find(const Value& v) const {
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

void IndexLookup::erase(RowId id, const Value& v) {
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

const IndexLookup& LookupCache::get(const Table& table, size_t column) {
  const std::pair<uint32_t, size_t> key{table.def().page, column};
  auto it = lookups_.find(key);
  if (it == lookups_.end()) {
    // Kept only once built: a lookup whose building failed is not there.
    it = lookups_.emplace(key, std::make_unique<IndexLookup>(table, column)).first;
  }
  return *it->second;
}

void LookupCache::markColumns(uint32_t table_page, std::vector<bool>& columns) const {
  for (auto it = lookups_.lower_bound({table_page, 0});
       it != lookups_.end() && it->first.first == table_page; ++it) {
    if (it->first.second < columns.size()) columns[it->first.second] = true;
  }
}

void LookupCache::forget(uint32_t table_page, RowId id, const std::vector<Value>& values) {
  for (auto it = lookups_.lower_bound({table_page, 0});
       it != lookups_.end() && it->first.first == table_page; ++it) {
    it->second->erase(id, values[it->first.second]);
  }
}

}  // namespace jet
