// Every real index of every user table of every shared fixture, read through
// the index pages and checked against the table's rows: one entry per live
// row, entries in order along the leaf chain, node entries that repeat
// their child's last entry, page headers that add up, and a key computed
// from the row's values that equals the stored key byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "format/catalog.h"
#include "index/index_key.h"
#include "index/index_page.h"
#include "index/index_walk.h"
#include "jet/database.h"
#include "jet/error.h"
#include "support/shared_fixtures.h"

namespace {

namespace fs = std::filesystem;

std::string hex(const std::vector<uint8_t>& b) {
  std::string s;
  char buf[4];
  for (size_t i = 0; i < b.size(); ++i) {
    std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", b[i]);
    s += buf;
  }
  return s;
}

std::string codePoint(uint32_t cp) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "U+%04X", cp);
  std::string s = buf;
  if (cp >= 0x20 && cp < 0x7F) s += std::string(" '") + static_cast<char>(cp) + "'";
  return s;
}

// Counts gathered over all fixtures, printed at the end.
struct Tally {
  std::map<std::string, size_t> keys_by_type;  // "Jet 4 Long asc" -> entries matched
  std::set<uint32_t> text_chars_jet3, text_chars_jet4;
  std::map<uint32_t, size_t> unsupported;  // code point -> occurrences in skipped keys
  std::vector<std::string> skipped;        // where and why, per skipped key
  size_t indexes = 0, entries = 0, node_entries = 0, leaves = 0, nodes = 0;
  size_t multi_level = 0, ignored_null_rows = 0, prefixed_pages = 0;
  size_t concat_order_breaks = 0;  // pairs in order by key-then-row but not as one byte string
};

Tally& tally() {
  static Tally t;
  return t;
}

struct Failures {
  std::vector<std::string> list;
  void add(const std::string& s) {
    if (list.size() < 20) list.push_back(s);
  }
};

std::string indexName(const jet::TableDef& def, size_t real) {
  std::string names;
  for (const jet::LogicalIndex& l : def.logical_indexes) {
    if (l.real_index == real) names += (names.empty() ? "" : "/") + l.name;
  }
  return names.empty() ? "#" + std::to_string(real) : names;
}

// The last entry of the subtree under `page` (a node's virtual last entry is
// its tail child's).
jet::IndexEntry lastOfSubtree(const jet::IndexWalker& w, uint32_t page) {
  for (int depth = 0; depth < 64; ++depth) {
    jet::IndexPage p = w.page(page);
    if (p.leaf) {
      if (p.entries.empty()) break;
      return p.entries.back();
    }
    page = p.tail != 0 ? p.tail : p.entries.back().child;
  }
  return {};
}

std::string describeType(const jet::Format& fmt, const jet::TableDef& def,
                         const jet::RealIndex& idx) {
  std::string s = fmt.is_jet4() ? "Jet 4" : "Jet 3";
  for (const jet::IndexColumn& ic : idx.columns) {
    const jet::Column* c = def.columnByNumber(ic.column_number);
    s += std::string(" ") + (c ? jet::columnTypeName(c->type_code) : "?") +
         (ic.ascending ? " asc" : " desc");
  }
  return s;
}

void checkIndex(const jet::Database& db, const jet::Table& table, size_t real,
                const std::vector<jet::SortOrder>& sorts, const std::vector<jet::RowId>& live,
                const std::string& where, Failures& f) {
  const jet::TableDef& def = table.def();
  const jet::RealIndex& idx = def.real_indexes[real];
  const jet::Format& fmt = db.format();
  Tally& t = tally();
  ++t.indexes;

  jet::IndexWalker walker(db.pages(), fmt, idx.root_page, def.page);

  // Page headers and the tree's shape.
  std::vector<std::vector<uint32_t>> levels = walker.levels();
  if (levels.size() > 1) ++t.multi_level;
  for (size_t lv = 0; lv < levels.size(); ++lv) {
    for (size_t i = 0; i < levels[lv].size(); ++i) {
      jet::IndexPage p = walker.page(levels[lv][i]);
      const std::string at = where + " page " + std::to_string(p.number);
      if (p.free_space != fmt.page_size - fmt.index_first_entry - p.data_length) {
        f.add(at + ": free space " + std::to_string(p.free_space) + " but " +
              std::to_string(p.data_length) + " bytes of entries");
      }
      if (p.prefix_length > 0) ++t.prefixed_pages;
      // Pages of a level are chained in order; the ends point nowhere.
      uint32_t want_prev = i == 0 ? 0 : levels[lv][i - 1];
      uint32_t want_next = i + 1 == levels[lv].size() ? 0 : levels[lv][i + 1];
      if (p.prev != want_prev || p.next != want_next) {
        f.add(at + ": prev/next " + std::to_string(p.prev) + "/" + std::to_string(p.next) +
              ", expected " + std::to_string(want_prev) + "/" + std::to_string(want_next));
      }
      if (p.leaf) {
        ++t.leaves;
        if (p.tail != 0) f.add(at + ": leaf with a tail page");
        continue;
      }
      ++t.nodes;
      for (size_t k = 0; k < p.entries.size(); ++k) {
        const jet::IndexEntry& e = p.entries[k];
        ++t.node_entries;
        jet::IndexEntry last = lastOfSubtree(walker, e.child);
        if (last.key != e.key || last.row != e.row) {
          f.add(at + ": node entry " + std::to_string(k) + " (" + hex(e.sortBytes()) +
                ") is not the last entry of child " + std::to_string(e.child) + " (" +
                hex(last.sortBytes()) + ")");
        }
        if (k > 0 && jet::IndexEntry::compare(p.entries[k - 1], e) >= 0) {
          f.add(at + ": node entries out of order at " + std::to_string(k));
        }
      }
    }
  }
  if (walker.lastLeaf() != levels.back().back()) {
    f.add(where + ": the tail pointers lead to leaf " + std::to_string(walker.lastLeaf()) +
          ", the chain ends at " + std::to_string(levels.back().back()));
  }

  // The leaf chain against the rows.
  std::set<jet::RowId> live_set(live.begin(), live.end());
  std::map<jet::RowId, size_t> seen;
  jet::IndexKeyEncoder encoder(fmt, def, idx, sorts);
  const std::string type = describeType(fmt, def, idx);
  jet::IndexEntry prev;
  bool have_prev = false;
  walker.forEachEntry([&](const jet::IndexEntry& e, const jet::IndexPage& leaf) {
    ++t.entries;
    const std::string at = where + " leaf " + std::to_string(leaf.number) + " row " +
                           std::to_string(e.row.page) + ":" + std::to_string(e.row.row);
    if (have_prev) {
      if (jet::IndexEntry::compare(prev, e) >= 0) {
        f.add(at + ": entry not above the previous one (" + hex(prev.sortBytes()) + " then " +
              hex(e.sortBytes()) + ")");
      } else if (prev.sortBytes() >= e.sortBytes()) {
        ++t.concat_order_breaks;
      }
    }
    prev = e;
    have_prev = true;
    if (walker.leafFor(e) != leaf.number) {
      f.add(at + ": a search from the root ends on leaf " + std::to_string(walker.leafFor(e)));
    }
    if (!live_set.count(e.row)) {
      f.add(at + ": the entry names no live row");
      return;
    }
    ++seen[e.row];
    std::vector<jet::Value> values = table.readRow(e.row);
    jet::KeyResult key = encoder.encode(values);
    if (!key.ok()) {
      std::map<uint32_t, size_t> chars;
      for (uint32_t cp : key.unsupported_chars) {
        ++chars[cp];
        ++t.unsupported[cp];
      }
      std::string list;
      for (const auto& [cp, n] : chars) list += " " + codePoint(cp) + " x" + std::to_string(n);
      t.skipped.push_back(at + ": " + key.problem + (list.empty() ? "" : " [" + list + " ]"));
      return;
    }
    if (key.bytes != e.key) {
      f.add(at + ": stored key " + hex(e.key) + ", computed " + hex(key.bytes));
      return;
    }
    ++t.keys_by_type[type];
    for (const jet::IndexColumn& ic : idx.columns) {
      for (size_t k = 0; k < def.columns.size(); ++k) {
        const jet::Column& c = def.columns[k];
        if (c.number != ic.column_number || values[k].kind() != jet::Value::Kind::Text) continue;
        const std::string& s = values[k].asString();
        // Count the characters the key covered (UTF-8 lead bytes only).
        for (size_t i = 0; i < s.size();) {
          unsigned char b = static_cast<unsigned char>(s[i]);
          size_t n = b < 0x80 ? 1 : (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : 4;
          uint32_t cp = n == 1 ? b : b & (0x3F >> (n - 1));
          for (size_t j = 1; j < n && i + j < s.size(); ++j) cp = cp << 6 | (s[i + j] & 0x3F);
          (fmt.is_jet4() ? t.text_chars_jet4 : t.text_chars_jet3).insert(cp);
          i += n;
        }
      }
    }
  });

  const bool ignore_nulls = idx.flags & jet::RealIndex::kIgnoreNulls;
  for (jet::RowId r : live) {
    size_t n = seen.count(r) ? seen[r] : 0;
    if (n == 1) continue;
    if (n == 0 && ignore_nulls && encoder.allNull(table.readRow(r))) {
      ++t.ignored_null_rows;
      continue;
    }
    f.add(where + ": live row " + std::to_string(r.page) + ":" + std::to_string(r.row) + " has " +
          std::to_string(n) + " entries");
  }
}

// Checks every real index of the user (or the system) tables of every
// fixture and prints what was covered, with every key that had to be skipped.
void checkFixtures(bool system_tables) {
  tally() = Tally{};
  std::vector<fs::path> files = testsupport::allFixtures();
  ASSERT_FALSE(files.empty());
  for (const fs::path& file : files) {
    SCOPED_TRACE(file.string());
    jet::Database db(file.string());
    std::vector<std::string> names;
    for (const jet::CatalogEntry& e : db.catalog()) {
      if (e.type != jet::CatalogEntry::kLocalTable) continue;
      if (e.isUserTable() != system_tables) names.push_back(e.name);
    }
    for (const std::string& name : names) {
      jet::Table table = db.table(name);
      const jet::TableDef& def = table.def();
      std::vector<jet::SortOrder> sorts = jet::readSortOrders(db.pages(), db.format(), def);
      std::vector<jet::RowId> live = table.rowIds();
      for (size_t r = 0; r < def.real_indexes.size(); ++r) {
        const std::string where = file.filename().string() + " " + name + "." + indexName(def, r);
        Failures f;
        try {
          checkIndex(db, table, r, sorts, live, where, f);
        } catch (const jet::JetError& e) {
          f.add(where + ": " + e.what());
        }
        for (const std::string& s : f.list) ADD_FAILURE() << s;
      }
    }
  }

  const Tally& t = tally();
  // The checks above ran on something: entries, and trees with nodes.
  EXPECT_GT(t.entries, 0u);
  if (!system_tables) {
    EXPECT_GT(t.node_entries, 0u);
  }
  std::ostringstream out;
  out << (system_tables ? "system" : "user") << " tables: indexes " << t.indexes
      << ", leaf entries " << t.entries << ", node entries " << t.node_entries << ", leaves "
      << t.leaves << ", nodes " << t.nodes << ", multi-level trees " << t.multi_level
      << ", pages with a shared prefix " << t.prefixed_pages
      << ", rows without entry (ignore nulls) " << t.ignored_null_rows << "\n";
  out << "entries whose order by key then row differs from plain byte order: "
      << t.concat_order_breaks << "\n";
  out << "keys matched byte for byte, by index column types:\n";
  for (const auto& [type, n] : t.keys_by_type) out << "  " << type << ": " << n << "\n";
  for (int v : {3, 4}) {
    const std::set<uint32_t>& chars = v == 3 ? t.text_chars_jet3 : t.text_chars_jet4;
    out << "characters in matched Jet " << v << " text keys (" << chars.size() << "): ";
    for (uint32_t cp : chars) {
      if (cp > 0x20 && cp < 0x7F) {
        out << static_cast<char>(cp);
      } else {
        out << " " << codePoint(cp) << " ";
      }
    }
    out << "\n";
  }
  out << "keys skipped (no rule for a value): " << t.skipped.size() << "\n";
  for (const auto& [cp, n] : t.unsupported) out << "  " << codePoint(cp) << ": " << n << "\n";
  for (size_t i = 0; i < t.skipped.size() && i < 30; ++i) out << "  " << t.skipped[i] << "\n";
  std::printf("%s", out.str().c_str());
  ::testing::Test::RecordProperty("skipped_keys", static_cast<int>(t.skipped.size()));
}

TEST(IndexFixtures, EveryUserTableIndexMatchesItsTable) {
  REQUIRE_FIXTURES();
  checkFixtures(false);
}

// The catalog and the other system tables hold more Jet 4 text keys (object
// names) than the user tables do.
TEST(IndexFixtures, EverySystemTableIndexMatchesItsTable) {
  REQUIRE_FIXTURES();
  checkFixtures(true);
}

}  // namespace
