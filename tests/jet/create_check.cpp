#include "jet/create_check.h"

#include <algorithm>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <tuple>

#include "format/catalog.h"
#include "format/data_page.h"
#include "format/usage_map.h"
#include "index/index_key.h"
#include "index/index_page.h"
#include "index/index_walk.h"
#include "jet/database.h"
#include "jet/error.h"

namespace createcheck {

namespace {

using jet::ByteView;
using jet::IndexEntry;
using jet::IndexPage;

std::string pageName(uint32_t p) {
  return "page " + std::to_string(p);
}

constexpr uint32_t kLval = 0x4C41564C;  // "LVAL"

class Checker {
 public:
  explicit Checker(const std::string& path) : db_(path), src_(db_.pages()), fmt_(db_.format()) {
    claimed_.assign(src_.pageCount(), "");
    report_.pages = src_.pageCount();
  }

  Report run() {
    claim(0, "header");
    claim(1, "global map");
    for (const jet::CatalogEntry& e : db_.catalog()) {
      if (e.type != jet::CatalogEntry::kLocalTable) continue;
      try {
        checkTable(e);
      } catch (const std::exception& ex) {
        problem(e.name + ": " + ex.what());
      }
    }
    checkGlobalMap();
    checkEveryPage();
    return std::move(report_);
  }

 private:
  void problem(const std::string& p) { report_.problems.push_back(p); }

  void claim(uint32_t page, const std::string& who) {
    if (page >= claimed_.size()) {
      problem(who + " names " + pageName(page) + " past the end of the file");
      return;
    }
    if (!claimed_[page].empty()) {
      problem(pageName(page) + " claimed by " + claimed_[page] + " and by " + who);
      return;
    }
    claimed_[page] = who;
  }

  // The pointer's row, which must lie on a map-row page (data page, owner 0).
  void claimMapRow(uint32_t pointer, const std::string& who) {
    const jet::RowId id = jet::RowId::fromPointer(pointer);
    if (id.page >= claimed_.size()) {
      problem(who + " map row lies past the end");
      return;
    }
    ByteView p = src_.page(id.page);
    if (p.u8(0) != jet::kDataPage || p.u32(4) != 0) {
      problem(who + " map row is not on a map page");
      return;
    }
    if (claimed_[id.page].empty()) claimed_[id.page] = "map rows";
    const ByteView row = jet::rowAt(src_, fmt_, id);
    if (row.u8(0) == 0x01) {
      for (size_t k = 1; k + 4 <= row.size(); k += 4) {
        const uint32_t mp = row.u32(k);
        if (mp != 0) claim(mp, who + " reference map page");
      }
    }
  }

  void checkDataPage(uint32_t pg, uint32_t owner, const std::string& who, size_t& live) {
    ByteView p = src_.page(pg);
    if (p.u8(0) != jet::kDataPage || p.u32(4) != owner) {
      problem(who + ": " + pageName(pg) + " is not its data page");
      return;
    }
    const uint16_t rows = p.u16(fmt_.data_row_count);
    const size_t first = fmt_.data_slots + 2u * rows;
    size_t used = 0, end = fmt_.page_size;
    for (uint16_t r = 0; r < rows; ++r) {
      const uint16_t slot = p.u16(fmt_.data_slots + 2u * r);
      const size_t start = slot & jet::kSlotOffsetMask;
      if (start < first || start > end) {
        problem(who + ": " + pageName(pg) + " row " + std::to_string(r) + " out of place");
        return;
      }
      if ((slot & 0xC000) == 0) ++live;
      used += end - start;
      end = start;
    }
    if (p.u16(2) != fmt_.page_size - first - used) {
      problem(who + ": " + pageName(pg) + " free space " + std::to_string(p.u16(2)) +
              ", expected " + std::to_string(fmt_.page_size - first - used));
    }
  }

  void checkTable(const jet::CatalogEntry& e) {
    const jet::TableDef& def = db_.tableDefAt(e.tdefPage(), e.name);
    const std::string who = "table " + e.name;
    for (uint32_t p : def.pages) claim(p, who + " definition");
    jet::Table table(db_, def);

    // Owned and free-space maps against the pages that say they belong here.
    claimMapRow(def.used_map, who + " owned");
    claimMapRow(def.free_map, who + " free");
    std::vector<uint32_t> owned = jet::readUsageMap(src_, fmt_, def.used_map);
    std::vector<uint32_t> free = jet::readUsageMap(src_, fmt_, def.free_map);
    std::set<uint32_t> owned_set(owned.begin(), owned.end());
    std::set<uint32_t> actual;
    for (uint32_t p = 2; p < src_.pageCount(); ++p) {
      ByteView b = src_.page(p);
      if (b.u8(0) == jet::kDataPage && b.u32(4) == def.page) actual.insert(p);
    }
    if (owned_set != actual) problem(who + ": owned map differs from its data pages");
    for (uint32_t p : free) {
      if (!owned_set.count(p)) problem(who + ": free-space map names an unowned page");
    }
    size_t live = 0;
    for (uint32_t p : owned) {
      claim(p, who + " data");
      checkDataPage(p, def.page, who, live);
    }
    if (live != def.row_count) {
      problem(who + ": row count " + std::to_string(def.row_count) + ", live rows " +
              std::to_string(live));
    }

    const std::vector<jet::RowId> ids = table.rowIds();
    std::vector<std::vector<jet::Value>> rows;
    rows.reserve(ids.size());
    for (jet::RowId id : ids) rows.push_back(table.readRow(id));

    for (size_t c = 0; c < def.columns.size(); ++c) {
      if (!def.columns[c].isAutonumber()) continue;
      for (const auto& r : rows) {
        if (!r[c].isNull() && r[c].asInt() > static_cast<int64_t>(def.autonumber)) {
          problem(who + ": autonumber counter below a stored value");
          break;
        }
      }
    }

    for (const auto& [column, owned_map, free_map] : longValueMaps(def)) {
      const std::string lv = who + " long values of column " + std::to_string(column);
      claimMapRow(owned_map, lv + " owned");
      claimMapRow(free_map, lv + " free");
      const std::vector<uint32_t> pages = jet::readUsageMap(src_, fmt_, owned_map);
      const std::set<uint32_t> set(pages.begin(), pages.end());
      for (uint32_t p : pages) {
        ByteView b = src_.page(p);
        if (b.u8(0) != jet::kDataPage || b.u32(4) != kLval) problem(lv + ": not an LVAL page");
        claim(p, lv);
        size_t rows = 0;
        checkDataPage(p, kLval, lv, rows);
      }
      for (uint32_t p : jet::readUsageMap(src_, fmt_, free_map)) {
        if (!set.count(p)) problem(lv + ": free-space map names an unowned page");
      }
    }

    const std::vector<jet::SortOrder> sorts = jet::readSortOrders(src_, fmt_, def);
    for (size_t r = 0; r < def.real_indexes.size(); ++r) {
      checkIndex(def, r, ids, rows, sorts, who + " index " + std::to_string(r));
    }
  }

  void checkIndex(const jet::TableDef& def, size_t r, const std::vector<jet::RowId>& ids,
                  const std::vector<std::vector<jet::Value>>& rows,
                  const std::vector<jet::SortOrder>& sorts, const std::string& who) {
    const jet::RealIndex& real = def.real_indexes[r];
    jet::IndexWalker walker(src_, fmt_, real.root_page, def.page);
    const std::vector<std::vector<uint32_t>> levels = walker.levels();
    IndexShape shape;
    shape.table = def.name;
    shape.real_index = r;
    shape.levels = levels.size();

    std::set<uint32_t> tree;
    std::map<uint32_t, IndexPage> pages;
    for (const auto& level : levels) {
      for (uint32_t p : level) {
        tree.insert(p);
        pages.emplace(p, walker.page(p));
        claim(p, who);
      }
    }
    shape.pages = tree.size();
    claimMapRow(real.used_map, who);
    const std::vector<uint32_t> map = jet::readUsageMap(src_, fmt_, real.used_map);
    if (std::set<uint32_t>(map.begin(), map.end()) != tree) {
      problem(who + ": usage map differs from the tree's pages");
    }

    const IndexPage& root = pages.at(real.root_page);
    if (root.prev != 0 || root.next != 0) problem(who + ": root has siblings");
    for (size_t l = 0; l < levels.size(); ++l) {
      const bool leaves = l + 1 == levels.size();
      const auto& level = levels[l];
      for (size_t k = 0; k < level.size(); ++k) {
        const IndexPage& p = pages.at(level[k]);
        const std::string at = who + " " + pageName(p.number);
        if (p.leaf != leaves) problem(at + ": leaf and node levels mixed");
        if (p.node_flag != (leaves ? 0 : 1)) problem(at + ": node flag");
        if (p.free_space != fmt_.page_size - fmt_.index_first_entry - p.data_length) {
          problem(at + ": free space");
        }
        if (p.prev != (k == 0 ? 0 : level[k - 1])) problem(at + ": previous link");
        if (p.next != (k + 1 == level.size() ? 0 : level[k + 1])) problem(at + ": next link");
        for (size_t i = 1; i < p.entries.size(); ++i) {
          if (IndexEntry::compare(p.entries[i - 1], p.entries[i]) >= 0) {
            problem(at + ": entries out of order");
          }
        }
        if (leaves) {
          if (p.tail != 0) problem(at + ": leaf with a tail");
          if (p.entries.empty() && level.size() > 1) problem(at + ": empty leaf");
          continue;
        }
        const size_t children = p.entries.size() + (p.tail != 0 ? 1 : 0);
        if (children >= 2 && p.tail == 0) problem(at + ": node without a tail");
        if (children < 2 && levels.size() > 1 && level.size() > 1) {
          problem(at + ": node with a single child");
        }
        for (const IndexEntry& e : p.entries) {
          if (e.child == p.tail) problem(at + ": the tail child also has an entry");
          const IndexEntry last = lastEntry(e.child, pages);
          if (last.key != e.key || last.row != e.row) {
            problem(at + ": node entry is not its child's last entry");
          }
        }
      }
    }

    // The leaves against the rows.
    std::vector<IndexEntry> stored = walker.entries();
    shape.entries = stored.size();
    for (size_t i = 1; i < stored.size(); ++i) {
      if (IndexEntry::compare(stored[i - 1], stored[i]) >= 0) {
        problem(who + ": leaf chain out of order");
        break;
      }
    }
    jet::IndexKeyEncoder encoder(fmt_, def, real, sorts);
    std::vector<IndexEntry> expected;
    for (size_t i = 0; i < ids.size(); ++i) {
      if ((real.flags & jet::RealIndex::kIgnoreNulls) && encoder.allNull(rows[i])) continue;
      jet::KeyResult key = encoder.encode(rows[i]);
      if (!key.ok()) {
        problem(who + ": no key for a row: " + key.problem);
        return;
      }
      IndexEntry e;
      e.key = std::move(key.bytes);
      e.row = ids[i];
      expected.push_back(std::move(e));
    }
    std::sort(expected.begin(), expected.end(), [](const IndexEntry& a, const IndexEntry& b) {
      return IndexEntry::compare(a, b) < 0;
    });
    if (expected.size() != stored.size()) {
      problem(who + ": " + std::to_string(stored.size()) + " entries for " +
              std::to_string(expected.size()) + " rows");
    } else {
      for (size_t i = 0; i < stored.size(); ++i) {
        if (stored[i].key != expected[i].key || stored[i].row != expected[i].row) {
          problem(who + ": entry " + std::to_string(i) + " differs from its row's key");
          break;
        }
      }
    }
    if (real.flags & jet::RealIndex::kUnique) {
      std::vector<uint8_t> null_key;
      for (const jet::IndexColumn& c : real.columns) null_key.push_back(c.ascending ? 0 : 0xFF);
      for (size_t i = 1; i < stored.size(); ++i) {
        if (stored[i].key == stored[i - 1].key && stored[i].key != null_key) {
          problem(who + ": unique index holds a key twice");
          break;
        }
      }
    }
    report_.indexes.push_back(shape);
  }

  // The long-value column maps at the end of the definition: column
  // number, owned map, free-space map.
  std::vector<std::tuple<uint16_t, uint32_t, uint32_t>> longValueMaps(const jet::TableDef& def) {
    std::vector<uint8_t> buf;
    for (size_t i = 0; i < def.pages.size(); ++i) {
      ByteView p = src_.page(def.pages[i]);
      buf.insert(buf.end(), p.data() + (i == 0 ? 0 : 8), p.data() + p.size());
    }
    ByteView v(buf.data(), buf.size());
    const size_t names = fmt_.name_length_size;
    size_t pos = fmt_.tdef_header_end + def.real_indexes.size() * fmt_.real_count_entry +
                 def.columns.size() * fmt_.col_size;
    auto skipName = [&] { pos += names + (names == 1 ? v.u8(pos) : v.u16(pos)); };
    for (size_t i = 0; i < def.columns.size(); ++i) skipName();
    pos +=
        def.real_indexes.size() * fmt_.real_size + def.logical_indexes.size() * fmt_.logical_size;
    for (size_t i = 0; i < def.logical_indexes.size(); ++i) skipName();
    std::vector<std::tuple<uint16_t, uint32_t, uint32_t>> out;
    while (v.u16(pos) != 0xFFFF) {
      out.emplace_back(v.u16(pos), v.u32(pos + 2), v.u32(pos + 6));
      pos += 10;
    }
    if (pos + 2 != v.u32(8)) problem(def.name + ": definition length does not end at FF FF");
    size_t lv_columns = 0;
    for (const jet::Column& c : def.columns) lv_columns += c.isLongValue();
    if (out.size() != lv_columns) problem(def.name + ": long-value maps missing");
    return out;
  }

  IndexEntry lastEntry(uint32_t page, const std::map<uint32_t, IndexPage>& pages) {
    const IndexPage& p = pages.at(page);
    if (p.leaf) return p.entries.empty() ? IndexEntry{} : p.entries.back();
    return lastEntry(p.tail != 0 ? p.tail : p.entries.back().child, pages);
  }

  // Page 1, row 0: set bits are free pages. None inside the file is free;
  // every page past the end that the map names is.
  void checkGlobalMap() {
    ByteView row = jet::rowAt(src_, fmt_, jet::RowId{1, 0});
    const uint32_t n = src_.pageCount();
    auto check = [&](ByteView bits, uint64_t first) {
      for (size_t i = 0; i < bits.size() * 8; ++i) {
        const uint64_t page = first + i;
        const bool free = (bits.u8(i / 8) >> (i % 8)) & 1;
        if (page < n && free) problem("global map marks " + pageName(uint32_t(page)) + " free");
        if (page >= n && !free) problem("global map keeps a page past the end in use");
      }
    };
    if (row.u8(0) == 0x00) {
      check(row.from(5), row.u32(1));
      if (row.u32(1) != 0) problem("global map does not start at page 0");
      if ((row.size() - 5) * 8 < n) problem("global map does not cover the file");
    } else if (row.u8(0) == 0x01) {
      const uint64_t per_page = (fmt_.page_size - 4) * 8;
      uint64_t covered = 0;
      for (size_t k = 0; 1 + 4 * k + 4 <= row.size(); ++k) {
        const uint32_t mp = row.u32(1 + 4 * k);
        if (mp == 0) continue;
        claim(mp, "global map page");
        ByteView page = src_.page(mp);
        if (page.u8(0) != 0x05) problem("global map page of the wrong type");
        check(page.from(4), k * per_page);
        covered = std::max(covered, (k + 1) * per_page);
      }
      if (covered < n) problem("global map does not cover the file");
    } else {
      problem("global map of unknown type");
    }
  }

  // Every page must be accounted for.
  void checkEveryPage() {
    for (uint32_t p = 0; p < claimed_.size(); ++p) {
      if (claimed_[p].empty()) problem(pageName(p) + " belongs to nothing");
    }
  }

  jet::Database db_;
  const jet::PageSource& src_;
  const jet::Format& fmt_;
  std::vector<std::string> claimed_;
  Report report_;
};

}  // namespace

Report checkFile(const std::string& path) {
  return Checker(path).run();
}

}  // namespace createcheck
