// The file checker's index part: every real index's tree against itself
// (page types and headers, order, node entries, sibling links), against its
// usage map, and against the table's live rows.
#include <algorithm>
#include <set>
#include <unordered_map>

#include "check/checker_context.h"
#include "index/index_key.h"
#include "index/index_page.h"
#include "index/index_walk.h"
#include "jet/error.h"

namespace jet::check {

namespace {

std::string hex(const std::vector<uint8_t>& b) {
  static const char* digits = "0123456789ABCDEF";
  constexpr size_t kShown = 24;
  std::string s;
  for (size_t i = 0; i < b.size() && i < kShown; ++i) {
    if (i) s += ' ';
    s += digits[b[i] >> 4];
    s += digits[b[i] & 0xF];
  }
  if (b.size() > kShown) s += " …";
  return s;
}

std::string entryText(const IndexEntry& e) {
  return "[" + hex(e.key) + "] -> " + rowText(e.row);
}

std::string indexWhere(const TableDef& def, size_t real) {
  std::string names;
  for (const LogicalIndex& l : def.logical_indexes) {
    if (l.real_index == real) names += (names.empty() ? "" : "/") + l.name;
  }
  if (names.empty()) names = "#" + std::to_string(real);
  return "índice '" + def.name + "." + names + "'";
}

class IndexCheck {
 public:
  IndexCheck(Context& ctx, const Table& table, size_t real, const std::vector<SortOrder>& sorts,
             const std::vector<RowId>& live)
      : ctx_(ctx),
        table_(table),
        def_(table.def()),
        index_(def_.real_indexes[real]),
        where_(indexWhere(def_, real)),
        walker_(ctx.src, ctx.fmt, index_.root_page, def_.page),
        encoder_(ctx.fmt, def_, index_, sorts),
        live_(live),
        entries_of_row_(live.size(), 0) {
    for (const IndexColumn& ic : index_.columns) {
      for (size_t i = 0; i < def_.columns.size(); ++i) {
        if (def_.columns[i].number == ic.column_number) positions_.push_back(i);
      }
    }
  }

  void run() {
    std::vector<uint32_t> map_pages;
    bool map_read = false;
    try {
      UsageMapContents m = readUsageMapContents(ctx_.src, ctx_.fmt, index_.used_map);
      for (uint32_t s : m.storage) ctx_.use(s, "el mapa del " + where_);
      if (!m.beyond.empty()) {
        ctx_.problem(where_, 0,
                     "su mapa de uso marca " + std::to_string(m.beyond.size()) +
                         " páginas fuera del archivo");
      }
      map_pages = std::move(m.pages);
      map_read = true;
    } catch (const JetError& e) {
      ctx_.problem(where_, 0, std::string("su mapa de uso no se puede leer: ") + e.what());
    }

    std::vector<std::vector<uint32_t>> levels;
    try {
      levels = walker_.levels([this] { ctx_.settle(); });
    } catch (const JetError& e) {
      ctx_.problem(where_, index_.root_page,
                   std::string("el árbol no se puede recorrer: ") + e.what());
      for (uint32_t p : map_pages) ctx_.use(p, "el " + where_);
      return;
    }

    // The usage map lists exactly the tree's pages, and no other structure
    // uses them.
    std::set<uint32_t> tree;
    for (const auto& level : levels) tree.insert(level.begin(), level.end());
    for (uint32_t p : tree) {
      if (const std::string* other = ctx_.usedBy(p)) {
        ctx_.problem(where_, p, "la página del árbol también la usa " + *other);
      }
      ctx_.use(p, "el " + where_);
    }
    if (map_read) {
      const std::set<uint32_t> listed(map_pages.begin(), map_pages.end());
      for (uint32_t p : tree) {
        if (!listed.count(p))
          ctx_.problem(where_, p, "su mapa de uso no incluye esta página del árbol");
      }
      for (uint32_t p : listed) {
        if (!tree.count(p)) {
          ctx_.problem(where_, p, "su mapa de uso incluye esta página, que no está en el árbol");
          ctx_.use(p, "el mapa del " + where_);
        }
      }
    }

    // Bottom-up, so that each node finds its children's last entries.
    for (size_t lv = levels.size(); lv-- > 0;) {
      const bool leaves = lv + 1 == levels.size();
      const std::vector<uint32_t>& level = levels[lv];
      for (size_t i = 0; i < level.size(); ++i) {
        ctx_.settle();
        IndexPage page;
        try {
          page = walker_.page(level[i]);
        } catch (const JetError& e) {
          ctx_.problem(where_, level[i], e.what());
          continue;
        }
        checkHeader(page, leaves, i == 0 ? 0 : level[i - 1],
                    i + 1 == level.size() ? 0 : level[i + 1], lv == 0);
        if (leaves) {
          checkLeaf(page);
        } else {
          checkNode(page);
        }
      }
    }
    checkEveryRowHasOneEntry();
    if (unflagged_nodes_ > 0) {
      ctx_.note(
          where_, 0,
          (unflagged_nodes_ == 1 ? std::string("1 página de nodo tiene")
                                 : std::to_string(unflagged_nodes_) + " páginas de nodo tienen") +
              " la marca de nodo a 0, como las deja otra biblioteca de archivos Access "
              "(Access pone 1; ningún lector la usa: el tipo de página ya distingue nodos y "
              "hojas)");
    }
    if (unencodable_ > 0) {
      ctx_.note(where_, 0,
                std::to_string(unencodable_) + " claves no se pudieron calcular (" +
                    first_unencodable_ + "); se comprobó solo a qué fila apuntan");
    }
  }

 private:
  // Header, order on the page and sibling links.
  void checkHeader(const IndexPage& p, bool leaf_level, uint32_t want_prev, uint32_t want_next,
                   bool root) {
    const Format& f = ctx_.fmt;
    if (p.leaf != leaf_level) {
      ctx_.problem(
          where_, p.number,
          p.leaf ? "es una hoja en un nivel de nodos" : "es un nodo en el nivel de las hojas");
    }
    const size_t free = indexEntryRoom(f) - p.data_length;
    if (p.free_space != free) {
      ctx_.problem(where_, p.number,
                   "declara " + std::to_string(p.free_space) + " bytes libres, pero sus entradas " +
                       "dejan " + std::to_string(free));
    }
    // The entry count and the data length come from the bitmap itself (an
    // entry ends at each set bit); the prefix must stop before the row
    // number of the first entry.
    if (p.prefix_length > 0 && !p.entries.empty() &&
        p.prefix_length >= p.entries.front().key.size() + kRowPointerSize) {
      ctx_.problem(where_, p.number,
                   "su prefijo compartido (" + std::to_string(p.prefix_length) +
                       " bytes) llega al número de fila de la primera entrada");
    }
    if (!p.leaf && p.node_flag == 0) {
      ++unflagged_nodes_;
    } else if (p.node_flag != (p.leaf ? 0 : 1)) {
      ctx_.problem(where_, p.number,
                   "su marca de nodo vale " + std::to_string(p.node_flag) + " en una " +
                       (p.leaf ? "hoja" : "página de nodo"));
    }
    if (p.prev != want_prev || p.next != want_next) {
      ctx_.problem(where_, p.number,
                   "enlaza con las páginas " + std::to_string(p.prev) + " (anterior) y " +
                       std::to_string(p.next) + " (siguiente); su nivel pide " +
                       std::to_string(want_prev) + " y " + std::to_string(want_next));
    }
    if (p.leaf && p.tail != 0) {
      ctx_.problem(where_, p.number, "es una hoja con página final " + std::to_string(p.tail));
    }
    if (p.leaf && p.entries.empty() && !root) {
      ctx_.problem(where_, p.number, "es una hoja vacía que no es la raíz");
    }
    for (size_t k = 1; k < p.entries.size(); ++k) {
      if (IndexEntry::compare(p.entries[k - 1], p.entries[k]) >= 0) {
        ctx_.problem(where_, p.number,
                     "la entrada " + std::to_string(k) + " " + entryText(p.entries[k]) +
                         " no va después de la anterior " + entryText(p.entries[k - 1]));
      }
    }
  }

  // A node's entries repeat the last entry of their child; the last child
  // is named only by the tail pointer.
  void checkNode(const IndexPage& p) {
    if (p.tail == 0 && p.entries.size() >= 2) {
      ctx_.problem(where_, p.number, "tiene varias páginas hijas y ninguna página final");
    }
    for (size_t k = 0; k < p.entries.size(); ++k) {
      const IndexEntry& e = p.entries[k];
      if (p.tail != 0 && e.child == p.tail) {
        ctx_.problem(where_, p.number,
                     "su página final " + std::to_string(p.tail) + " tiene también una entrada");
      }
      auto it = last_.find(e.child);
      if (it == last_.end()) {
        ctx_.problem(where_, p.number,
                     "la entrada " + std::to_string(k) + " apunta a la página " +
                         std::to_string(e.child) + ", que no tiene entradas");
      } else if (it->second.key != e.key || it->second.row != e.row) {
        ctx_.problem(where_, p.number,
                     "la entrada " + std::to_string(k) + " " + entryText(e) +
                         " no repite la última de su página hija " + std::to_string(e.child) + " " +
                         entryText(it->second));
      }
    }
    const uint32_t last_child =
        p.tail != 0 ? p.tail : (p.entries.empty() ? 0 : p.entries.back().child);
    auto it = last_.find(last_child);
    if (it != last_.end()) last_.emplace(p.number, it->second);
  }

  // The leaf's entries in chain order against the rows.
  void checkLeaf(const IndexPage& p) {
    if (!p.entries.empty()) last_.emplace(p.number, p.entries.back());
    const bool unique = index_.flags & RealIndex::kUnique;
    for (const IndexEntry& e : p.entries) {
      ++ctx_.report.index_entries;
      if (have_previous_ && &e == &p.entries.front() && IndexEntry::compare(previous_, e) >= 0) {
        ctx_.problem(where_, p.number,
                     "su primera entrada " + entryText(e) +
                         " no va después de la última de la hoja anterior " + entryText(previous_));
      }
      auto it = std::lower_bound(live_.begin(), live_.end(), e.row);
      if (it == live_.end() || *it != e.row) {
        ctx_.problem(where_, p.number,
                     "la entrada " + entryText(e) + " apunta a una fila que no está viva");
      } else {
        ++entries_of_row_[static_cast<size_t>(it - live_.begin())];
        ctx_.settle();
        checkKey(p, e, unique);
      }
      previous_ = e;
      have_previous_ = true;
    }
  }

  std::vector<Value> indexedValues(RowId id) const {
    std::vector<Value> row(def_.columns.size());
    for (size_t pos : positions_) row[pos] = table_.read(id, pos);
    return row;
  }

  void checkKey(const IndexPage& p, const IndexEntry& e, bool unique) {
    std::vector<Value> row;
    try {
      row = indexedValues(e.row);
    } catch (const JetError& err) {
      ctx_.problem(where_, p.number,
                   "la fila " + rowText(e.row) + " de la entrada no se puede leer: " + err.what());
      return;
    }
    const KeyResult key = encoder_.encode(row);
    if (!key.ok()) {
      if (unencodable_++ == 0) first_unencodable_ = "fila " + rowText(e.row) + ": " + key.problem;
    } else if (key.bytes != e.key) {
      ctx_.problem(where_, p.number,
                   "la entrada de la fila " + rowText(e.row) + " guarda la clave [" + hex(e.key) +
                       "], pero sus valores dan [" + hex(key.bytes) + "]");
    }
    // Unique indexes: equal keys only when every indexed value is null.
    if (unique && have_previous_ && previous_.key == e.key && !encoder_.allNull(row)) {
      ctx_.problem(where_, p.number,
                   "índice único con la misma clave en las filas " + rowText(previous_.row) +
                       " y " + rowText(e.row));
    }
  }

  // Each live row has exactly one entry; an index that ignores nulls has
  // none for a row whose indexed values are all null.
  void checkEveryRowHasOneEntry() {
    const bool ignore_nulls = index_.flags & RealIndex::kIgnoreNulls;
    for (size_t i = 0; i < live_.size(); ++i) {
      const unsigned n = entries_of_row_[i];
      if (n == 1) continue;
      ctx_.settle();
      if (n == 0 && ignore_nulls) {
        try {
          if (encoder_.allNull(indexedValues(live_[i]))) continue;
        } catch (const JetError&) {
          // unreadable rows are reported by the table's checks
        }
      }
      ctx_.problem(where_, live_[i].page,
                   "la fila " + rowText(live_[i]) + " tiene " + std::to_string(n) +
                       (n == 1 ? " entrada" : " entradas") + " en el índice");
    }
  }

  Context& ctx_;
  const Table& table_;
  const TableDef& def_;
  const RealIndex& index_;
  const std::string where_;
  IndexWalker walker_;
  IndexKeyEncoder encoder_;
  const std::vector<RowId>& live_;
  std::vector<unsigned> entries_of_row_;
  std::vector<size_t> positions_;                  // of the indexed columns in def_.columns
  std::unordered_map<uint32_t, IndexEntry> last_;  // last entry under each page
  IndexEntry previous_;
  bool have_previous_ = false;
  size_t unencodable_ = 0;
  size_t unflagged_nodes_ = 0;  // node pages whose node byte is 0
  std::string first_unencodable_;
};

}  // namespace

void checkIndexes(Context& ctx, const Table& table, const std::vector<RowId>& live) {
  const TableDef& def = table.def();
  if (def.real_indexes.empty()) return;
  std::vector<SortOrder> sorts;
  try {
    sorts = readSortOrders(ctx.src, ctx.fmt, def);
  } catch (const JetError& e) {
    ctx.problem("tabla '" + def.name + "'", def.page,
                std::string("los órdenes de sus campos de texto no se pueden leer: ") + e.what());
    return;
  }
  // Unique-entry counts (kept per real index in the definition) are not
  // checked: Access does not keep them exact (above and below the number of
  // distinct keys in its own files).
  for (size_t r = 0; r < def.real_indexes.size(); ++r) {
    ++ctx.report.indexes;
    IndexCheck(ctx, table, r, sorts, live).run();
  }
}

}  // namespace jet::check
