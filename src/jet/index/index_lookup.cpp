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

// Deeper than any tree a page size allows; a longer way down is a loop.
constexpr size_t kMaxDepth = 64;
// Row pointers below and above every real one: the bounds of a key's entries.
constexpr uint8_t kLowest[kRowPointerSize] = {0, 0, 0, 0};
constexpr uint8_t kHighest[kRowPointerSize] = {0xFF, 0xFF, 0xFF, 0xFF};

// Whether a whole number fits the column's type (no entry holds one that does not).
bool fitsType(ColumnType type, int64_t n) {
  switch (type) {
    case ColumnType::Byte:
      return n >= 0 && n <= UINT8_MAX;
    case ColumnType::Integer:
      return n >= INT16_MIN && n <= INT16_MAX;
    default:
      return n >= INT32_MIN && n <= INT32_MAX;
  }
}

}  // namespace

std::vector<uint32_t> IndexLookup::walk(int64_t value) const {
  const Column& column = def_->columns[column_];
  if (!fitsType(column.type(), value)) return {};
  const PageSource& src = db_->pages();
  const Format& fmt = db_->format();
  const uint32_t owner = def_->page;
  const IndexWalker walker(src, fmt, index_->root_page, owner);
  auto fail = [&](const std::string& reason) {
    throwBadFormat(src.path(), "el índice con raíz en la página " +
                                   std::to_string(index_->root_page) + " " + reason);
  };
  IndexEntry target;
  target.key =
      encodeKeyColumn(fmt, column, {}, index_->columns[0].ascending, Value::integer(value)).bytes;
  const std::vector<uint8_t>& key = target.key;

  // Down to the leaf of the value's first entry, reading the pages in place;
  // anything unusual on the way (an empty leaf included) takes the checked
  // way down instead, which tells damage from the unusual.
  uint32_t leaf = index_->root_page;
  for (size_t depth = 0;; ++depth) {
    const IndexPageView p(src, fmt, leaf, owner);
    if (!p.ok || depth == kMaxDepth) {
      leaf = walker.leafFor(target);
      break;
    }
    if (p.leaf) break;
    const IndexPageView::Span found = p.lowerBound(key, kLowest);
    uint32_t child = found.from < p.length ? p.child(found) : 0;
    if (child == 0) child = p.tail(fmt);
    if (child == 0) child = p.child(p.last());  // no tail: the last entry's child
    if (p.bad || child == 0) {
      leaf = walker.leafFor(target);
      break;
    }
    leaf = child;
  }

  // The value's entries, along the leaves until a larger key.
  std::vector<uint32_t> rows;
  std::unordered_set<uint32_t> seen;
  while (leaf != 0) {
    if (!seen.insert(leaf).second) {
      fail("forma un ciclo de páginas hermanas en la página " + std::to_string(leaf));
    }
    const IndexPageView p(src, fmt, leaf, owner);
    if (p.ok && !p.leaf)
      fail("enlaza la página de nodo " + std::to_string(leaf) + " entre sus hojas");
    const size_t leaf_start = rows.size();
    if (p.ok) {
      // From the leaf's first entry, not from a search for the value's:
      // an entry out of its place on the leaf (a damaged index) is then
      // answered as the index has it, and its delete finds the damage out.
      // The bytes the leaf's entries share, set against the value's once:
      // past the first entry, only the bytes after them differ.
      const bool shared_fits = p.prefix > 0 && p.prefix <= key.size();
      int shared = 0;
      if (shared_fits) {
        for (size_t k = 0; k < p.prefix && shared == 0; ++k) {
          if (p.data[k] != key[k]) shared = p.data[k] < key[k] ? -1 : 1;
        }
      }
      for (IndexPageView::Span e = p.around(0); e.from < p.length && !p.bad; e = p.after(e)) {
        // Most entries of the leaf come before the value: one comparison each.
        if (shared_fits && e.from > 0 && p.valid(e) && p.whole(e) - p.trailer >= p.prefix) {
          int c = shared;
          if (c == 0) {
            const size_t own = p.whole(e) - p.trailer - p.prefix, wanted = key.size() - p.prefix;
            c = std::memcmp(p.data + e.from, key.data() + p.prefix, std::min(own, wanted));
            if (c == 0 && own != wanted) c = own < wanted ? -1 : 1;
          }
          if (c < 0) continue;
          if (c > 0) return rows;
        } else {
          if (p.compare(e, key, kLowest) < 0) continue;
          if (p.compare(e, key, kHighest) > 0) return rows;
        }
        if (p.bad) break;
        uint8_t pointer[kRowPointerSize];
        const size_t at = p.whole(e) - kRowPointerSize;  // the pointer ends the entry
        for (size_t k = 0; k < kRowPointerSize; ++k) {
          const size_t byte = at + k;
          pointer[k] = byte < p.head(e) ? p.data[byte] : p.data[e.from + byte - p.head(e)];
        }
        rows.push_back(getIndexRowPointer(pointer).toPointer());
      }
      if (!p.bad) {
        leaf = ByteView(p.bytes, fmt.page_size).u32(fmt.index_next);
        continue;
      }
      rows.resize(leaf_start);  // the leaf is read again below
    }
    // Read the checked way: a page out of the file, of another kind or
    // table, or with entries the page cannot hold is a format error.
    const IndexPage page = walker.page(leaf);
    if (!page.leaf) fail("enlaza la página de nodo " + std::to_string(leaf) + " entre sus hojas");
    for (const IndexEntry& e : page.entries) {
      if (IndexEntry::compare(e, target) < 0) continue;
      if (e.key != key) return rows;
      rows.push_back(e.row.toPointer());
    }
    leaf = page.next;
  }
  return rows;
}

IndexLookup::IndexLookup(const Table& table, size_t column)
    : db_(&table.database()), def_(&table.def()), column_(column) {
  const Column& c = table.def().columns.at(column);
  whole_numbers_ = c.isWholeNumber();
  if (!whole_numbers_) {
    table.scan([&](RowId id) {
      const Value v = table.read(id, column);
      if (std::vector<RowId>* rows = rowsFor(v)) rows->push_back(id);
    });
    return;
  }
  // The column's own index answers every question.
  for (const RealIndex& ri : def_->real_indexes) {
    if (ri.columns.size() == 1 && ri.columns[0].column_number == c.number) index_ = &ri;
  }
  if (index_) return;
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
    if (index_) {
      if (!prepared(*n)) {
        // The index pages the walk reads may go once it is done: a purge
        // asks for every client and would otherwise keep the whole index.
        const PageSource::Scope scope(db_->pages());
        answered_ = walk(*n);
        // Entries of one value come by row pointer, the scan order; a
        // damaged index may give them otherwise.
        std::sort(answered_.begin(), answered_.end());
      }
      answered_value_ = *n;
      std::vector<RowId> rows;
      rows.reserve(answered_.size());
      for (uint32_t pointer : answered_) rows.push_back(RowId::fromPointer(pointer));
      return rows;
    }
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

void IndexLookup::prepare(std::vector<int64_t> values) const {
  // The last answers go first; their memory serves the next ones, and goes
  // when no more are asked for.
  if (!index_ || values.empty()) {
    std::vector<int64_t>().swap(prepared_values_);
    std::vector<uint32_t>().swap(prepared_starts_);
    std::vector<uint32_t>().swap(prepared_rows_);
    return;
  }
  prepared_values_.clear();
  prepared_starts_.clear();
  prepared_rows_.clear();
  std::sort(values.begin(), values.end());
  values.erase(std::unique(values.begin(), values.end()), values.end());
  prepared_values_.reserve(values.size());
  prepared_starts_.reserve(values.size() + 1);
  const PageSource& pages = db_->pages();
  const uint64_t at = pages.changeCount();
  for (int64_t v : values) {
    std::vector<uint32_t> rows;
    try {
      const PageSource::Scope scope(pages);
      rows = walk(v);
    } catch (const JetError&) {
      break;
    }
    std::sort(rows.begin(), rows.end());
    prepared_values_.push_back(v);
    prepared_starts_.push_back(static_cast<uint32_t>(prepared_rows_.size()));
    prepared_rows_.insert(prepared_rows_.end(), rows.begin(), rows.end());
  }
  prepared_starts_.push_back(static_cast<uint32_t>(prepared_rows_.size()));
  prepared_at_ = at;
}

bool IndexLookup::prepared(int64_t value) const {
  if (prepared_values_.empty() || prepared_at_ != db_->pages().changeCount()) return false;
  const auto it = std::lower_bound(prepared_values_.begin(), prepared_values_.end(), value);
  if (it == prepared_values_.end() || *it != value) return false;
  const size_t k = static_cast<size_t>(it - prepared_values_.begin());
  answered_.assign(prepared_rows_.begin() + prepared_starts_[k],
                   prepared_rows_.begin() + prepared_starts_[k + 1]);
  return true;
}

void IndexLookup::disagrees(RowId id) const {
  throwBadFormat(db_->path(), "el índice de la columna '" + def_->columns[column_].name +
                                  "' de la tabla '" + def_->name + "' no coincide con la fila " +
                                  std::to_string(id.page) + ":" + std::to_string(id.row) +
                                  "; repare la base de datos");
}

void IndexLookup::erase(RowId id, const Value& v) {
  if (index_) {
    // The delete took the row's entry out of the index; what is left is to
    // check that the row held the value the index gave it under.
    const uint32_t pointer = id.toPointer();
    const auto at = std::lower_bound(answered_.begin(), answered_.end(), pointer);
    if (at == answered_.end() || *at != pointer) return;
    if (v.kind() != Value::Kind::Int || v.asInt() != answered_value_) disagrees(id);
    answered_.erase(at);
    return;
  }
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
