// The file checker's table part: data pages, row slots, the row count, the
// usage maps of the table and of its long-value columns, and autonumbers.
#include <algorithm>
#include <set>

#include "check/checker_context.h"
#include "format/long_value.h"
#include "format/row_layout.h"
#include "format/table_def.h"
#include "jet/error.h"

namespace jet::check {

namespace {

constexpr uint16_t kSlotFlags = kSlotDeleted | kSlotMoved;

std::string hex16(uint16_t v) {
  static const char* digits = "0123456789ABCDEF";
  std::string s = "0x";
  for (int shift = 12; shift >= 0; shift -= 4) s += digits[(v >> shift) & 0xF];
  return s;
}

// The maps of the memo and OLE columns, listed at the end of the
// definition; the walk to them must end where the definition's length field
// says.
std::vector<LongValueColumnMaps> readDefinitionTail(Context& ctx, const TableDef& def,
                                                    const std::string& where) {
  DefinitionTail tail = readDefinitionTail(ctx.src, ctx.fmt, def);
  if (!tail.complete) {
    ctx.problem(where, def.page, "la lista de mapas de sus campos Memo u OLE no termina");
  } else if (tail.end != tail.length) {
    ctx.problem(where, def.page,
                "la definición dice medir " + std::to_string(tail.length) +
                    " bytes, pero termina en el byte " + std::to_string(tail.end));
  }
  return std::move(tail.long_value_maps);
}

std::string mapProblem(const UsageMapContents& m) {
  return "marca " + std::to_string(m.beyond.size()) + " páginas fuera del archivo (la primera, " +
         std::to_string(m.beyond.front()) + ")";
}

}  // namespace

void checkDataPageLayout(Context& ctx, uint32_t pg, const std::string& where) {
  const Format& f = ctx.fmt;
  ByteView p = ctx.src.page(pg);
  const uint16_t n = p.u16(f.data_row_count);
  const size_t first = slotOffset(f, n);
  if (first > f.page_size) {
    ctx.problem(where, pg, "declara " + std::to_string(n) + " filas, más de las que caben");
    return;
  }
  size_t end = f.page_size;
  size_t bytes = 0;
  for (uint16_t i = 0; i < n; ++i) {
    const size_t start = p.u16(slotOffset(f, i)) & kSlotOffsetMask;
    if (start < first || start > end) {
      ctx.problem(where, pg,
                  "la fila " + std::to_string(i) + " empieza en el byte " + std::to_string(start) +
                      ", fuera de su hueco [" + std::to_string(first) + ", " + std::to_string(end) +
                      "]");
      return;
    }
    bytes += end - start;
    end = start;
  }
  const size_t free = f.page_size - first - bytes;
  if (p.u16(kDataFreeSpace) != free) {
    ctx.problem(where, pg,
                "declara " + std::to_string(p.u16(kDataFreeSpace)) +
                    " bytes libres, pero le quedan " + std::to_string(free));
  }
}

// The parts of one table's check, in the order they report.
namespace {

// The table's data pages, as its owned-pages map lists them.
struct OwnedPages {
  std::vector<uint32_t> list;
  std::set<uint32_t> set;
};

// The owned-pages map lists exactly the table's data pages.
OwnedPages checkOwnedPagesMap(Context& ctx, const TableDef& def, const std::string& where) {
  OwnedPages owned;
  try {
    UsageMapContents m = readUsageMapContents(ctx.src, ctx.fmt, def.used_map);
    for (uint32_t s : m.storage) ctx.use(s, "el mapa de páginas de la " + where);
    if (!m.beyond.empty()) ctx.problem(where, 0, "su mapa de páginas " + mapProblem(m));
    for (uint32_t pg : m.pages) {
      ctx.settle();
      ByteView p = ctx.src.page(pg);
      if (p.u8(0) != kDataPage || p.u32(kDataOwner) != def.page) {
        ctx.problem(where, pg,
                    "su mapa de páginas la incluye, pero no es una página de datos de la tabla "
                    "(tipo " +
                        std::to_string(p.u8(0)) + ", dueño " + std::to_string(p.u32(kDataOwner)) +
                        ")");
        continue;
      }
      owned.list.push_back(pg);
      owned.set.insert(pg);
      ctx.use(pg, "los datos de la " + where);
    }
  } catch (const JetError& e) {
    ctx.problem(where, 0, std::string("su mapa de páginas no se puede leer: ") + e.what());
  }
  return owned;
}

// The free-space map is a part of the owned-pages map.
void checkFreeSpaceMap(Context& ctx, const TableDef& def, const std::string& where,
                       const OwnedPages& owned) {
  try {
    UsageMapContents m = readUsageMapContents(ctx.src, ctx.fmt, def.free_map);
    for (uint32_t s : m.storage) ctx.use(s, "el mapa de espacio libre de la " + where);
    if (!m.beyond.empty()) ctx.problem(where, 0, "su mapa de espacio libre " + mapProblem(m));
    for (uint32_t pg : m.pages) {
      if (!owned.set.count(pg)) {
        ctx.problem(where, pg, "su mapa de espacio libre la incluye, pero su mapa de páginas no");
      }
    }
  } catch (const JetError& e) {
    ctx.problem(where, 0, std::string("su mapa de espacio libre no se puede leer: ") + e.what());
  }
}

// Every data page that names the table as its owner is in the map.
// Access quirk: a page it frees keeps its type, owner and rows; only the
// global map (and the table's map, which no longer lists it) tell that it
// is free (nwind.mdb: 257 such pages of "Umsätze"). Those are tolerated,
// and so are such pages outside what the global map names.
void checkUnlistedDataPages(Context& ctx, const TableDef& def, const std::string& where,
                            const OwnedPages& owned) {
  size_t freed_pages = 0, unnamed_pages = 0;
  for (uint32_t pg : ctx.dataPagesOwnedBy(def.page)) {
    if (owned.set.count(pg)) continue;
    if (ctx.markedFree(pg)) {
      ++freed_pages;
    } else if (ctx.unnamed(pg)) {
      ++unnamed_pages;
    } else {
      ctx.problem(where, pg,
                  "es una página de datos de la tabla que su mapa de páginas no incluye y el mapa "
                  "global no libera");
    }
  }
  if (freed_pages > 0) {
    ctx.note(where, 0,
             std::to_string(freed_pages) +
                 " páginas liberadas conservan a la tabla como dueña (Access las deja así)");
  }
  if (unnamed_pages > 0) {
    ctx.note(where, 0,
             std::to_string(unnamed_pages) +
                 " páginas que su mapa de páginas no incluye conservan a la tabla como dueña, "
                 "fuera de lo que el mapa global nombra: restos que nadie usa");
  }
}

struct MovedRow {
  RowId from, to;
};

// What the slots of the data pages hold besides live rows.
struct SlotScan {
  std::vector<MovedRow> moved;
  std::set<RowId> overflow_parts;  // slots flagged 0x8000 alone
};

// Slots: live rows (into `live`), moved rows and their overflow parts,
// deleted rows.
SlotScan scanRowSlots(Context& ctx, const std::string& where, const OwnedPages& owned,
                      std::vector<RowId>& live) {
  SlotScan scan;
  for (uint32_t pg : owned.list) {
    ctx.settle();
    DataPage page(ctx.src, ctx.fmt, pg);
    const size_t n = std::min<size_t>(page.rowCount(), kRowNumbers);
    for (uint16_t r = 0; r < n; ++r) {
      const RowId id{pg, static_cast<uint8_t>(r)};
      const uint16_t flags = page.slot(r) & kSlotFlags;
      if (flags == 0) {
        live.push_back(id);
      } else if (flags == kSlotMoved) {
        live.push_back(id);
        try {
          ByteView bytes = page.row(r);
          if (bytes.size() < 4) {
            ctx.problem(where, pg, "la fila movida " + rowText(id) + " no guarda a dónde apunta");
          } else {
            scan.moved.push_back({id, RowId::fromPointer(bytes.u32(0))});
          }
        } catch (const JetError& e) {
          ctx.problem(where, pg, e.what());
        }
      } else if (flags == kSlotDeleted) {
        scan.overflow_parts.insert(id);
      }
    }
  }
  return scan;
}

// A moved row points at an overflow part of the same table (0x8000 alone,
// which scans skip); a slot with 0x8000 alone that nothing points at is a
// deleted row without its 0x4000 bit, which other readers would show.
void checkMovedRows(Context& ctx, const std::string& where, const OwnedPages& owned,
                    const SlotScan& scan) {
  std::set<RowId> reached;
  for (const MovedRow& m : scan.moved) {
    ctx.settle();
    const std::string what = "la fila movida " + rowText(m.from) + " apunta a " + rowText(m.to);
    if (!owned.set.count(m.to.page)) {
      ctx.problem(where, m.from.page, what + ", fuera de las páginas de la tabla");
      continue;
    }
    DataPage target(ctx.src, ctx.fmt, m.to.page);
    if (m.to.row >= target.rowCount()) {
      ctx.problem(where, m.from.page, what + ", que no existe");
    } else if ((target.slot(m.to.row) & kSlotFlags) != kSlotDeleted) {
      ctx.problem(where, m.from.page,
                  what + ", que no es una parte desbordada (marcas " +
                      hex16(target.slot(m.to.row) & kSlotFlags) + ")");
    } else if (!reached.insert(m.to).second) {
      ctx.problem(where, m.from.page, what + ", adonde ya apunta otra fila");
    }
  }
  for (RowId id : scan.overflow_parts) {
    if (reached.count(id)) continue;
    ctx.problem(where, id.page,
                "la fila " + rowText(id) +
                    " está marcada borrada solo con 0x8000 (le falta 0x4000) y ninguna fila "
                    "movida apunta a ella");
  }
}

// The stored row count. Access quirk: the counts of system tables lag
// behind their rows (testV2000.mdb MSysACEs: 61 stored, 64 live;
// queryTestV2000.mdb MSysQueries: 82 / 90); user tables' counts are exact.
void checkRowCount(Context& ctx, const TableDef& def, const std::string& where, bool system,
                   const std::vector<RowId>& live) {
  if (def.row_count == live.size()) return;
  const std::string text = "la definición guarda " + std::to_string(def.row_count) +
                           " filas, pero tiene " + std::to_string(live.size()) + " filas vivas";
  if (system) {
    ctx.note(where, def.page, text + " (Access deja atrasada la cuenta de las tablas del sistema)");
  } else {
    ctx.problem(where, def.page, text);
  }
}

// Where the rows keep their long values, per column, for the check of the
// columns' maps.
struct LongValueUse {
  std::map<uint16_t, std::set<uint32_t>> pages;  // column number -> pages
  std::map<uint16_t, RowId> example;             // a row per column, for messages
  std::set<RowId> reached;                       // every long-value row a live row reaches
  std::set<uint32_t> swept;                      // long-value pages searched for orphans
};

// The long values of one row lie on long-value pages, in rows not deleted.
void checkLongValuesOfRow(Context& ctx, const Table& table, const std::string& where, RowId id,
                          const std::vector<size_t>& long_values, LongValueUse& use) {
  const TableDef& def = table.def();
  RowLayout layout(table.rowBytes(id), ctx.fmt, def.var_slots > 0);
  for (size_t i : long_values) {
    const Column& c = def.columns[i];
    if (!layout.present(c)) continue;
    std::optional<ByteView> field = layout.variable(c);
    if (!field) continue;
    for (RowId lv : longValueRows(ctx.src, ctx.fmt, *field)) {
      ByteView p = ctx.src.page(lv.page);
      const uint16_t slot = DataPage(ctx.src, ctx.fmt, lv.page).slot(lv.row);
      if (p.u32(kDataOwner) != kLongValueOwner) {
        ctx.problem(where, lv.page,
                    "el campo '" + c.name + "' de la fila " + rowText(id) +
                        " guarda su valor en una página que no es de valores largos");
      } else if (slot & kSlotFlags) {
        ctx.problem(where, lv.page,
                    "el campo '" + c.name + "' de la fila " + rowText(id) +
                        " guarda su valor en la fila " + rowText(lv) + ", que está borrada");
      }
      use.pages[c.number].insert(lv.page);
      use.example.try_emplace(c.number, id);
      use.reached.insert(lv);
      ctx.use(lv.page, "los valores largos de la " + where);
    }
  }
}

// Every live row reads; autonumbers stay below the counter; long values
// lie on long-value pages. Returns where the long values lie.
LongValueUse checkLiveRows(Context& ctx, const Table& table, const std::string& where,
                           const std::vector<RowId>& live) {
  const TableDef& def = table.def();
  std::vector<size_t> autonumbers, long_values;
  for (size_t i = 0; i < def.columns.size(); ++i) {
    const Column& c = def.columns[i];
    if (c.isAutonumber() && c.type() == ColumnType::Long) autonumbers.push_back(i);
    if (c.isLongValue()) long_values.push_back(i);
  }
  std::vector<int64_t> max_auto(autonumbers.size(), 0);
  LongValueUse use;
  for (RowId id : live) {
    ctx.settle();
    try {
      const std::vector<Value> row = table.readRow(id);
      for (size_t k = 0; k < autonumbers.size(); ++k) {
        const Value& v = row[autonumbers[k]];
        if (!v.isNull()) max_auto[k] = std::max(max_auto[k], v.asInt());
      }
      if (long_values.empty()) continue;
      checkLongValuesOfRow(ctx, table, where, id, long_values, use);
    } catch (const JetError& e) {
      ctx.problem(where, id.page, "la fila " + rowText(id) + " no se puede leer: " + e.what());
    } catch (const OutOfRange&) {
      ctx.problem(where, id.page, "la fila " + rowText(id) + " está dañada");
    }
  }
  for (size_t k = 0; k < autonumbers.size(); ++k) {
    if (max_auto[k] > static_cast<int64_t>(def.autonumber)) {
      ctx.problem(where, def.page,
                  "el contador de autonumeración (" + std::to_string(def.autonumber) +
                      ") es menor que el valor " + std::to_string(max_auto[k]) + " del campo '" +
                      def.columns[autonumbers[k]].name + "'");
    }
  }
  return use;
}

// A long-value row on the column's pages that no live row reaches, neither
// directly nor along a chain, is a value a delete left behind: it takes room
// nobody can free, and a reader that walks the pages would bring it back.
void checkOrphanedLongValues(Context& ctx, const std::string& where, const std::string& column,
                             const std::set<uint32_t>& listed, LongValueUse& use) {
  for (uint32_t pg : listed) {
    if (!use.swept.insert(pg).second) continue;
    ctx.settle();
    DataPage page(ctx.src, ctx.fmt, pg);
    const size_t n = std::min<size_t>(page.rowCount(), kRowNumbers);
    for (uint16_t r = 0; r < n; ++r) {
      const RowId id{pg, static_cast<uint8_t>(r)};
      if ((page.slot(r) & kSlotFlags) != 0 || use.reached.count(id)) continue;
      ctx.problem(where, pg,
                  "el valor largo de la fila " + rowText(id) + ", en una página del campo " +
                      column + ", no lo alcanza ninguna fila viva (quedó huérfano)");
    }
  }
}

// One long-value column's maps: long-value pages only, every page holding a
// value of the column, the free map a part of the owned one. The column's
// pages are taken out of `use`.
void checkLongValueColumnMaps(Context& ctx, const TableDef& def, const std::string& where,
                              const LongValueColumnMaps& lv, LongValueUse& use) {
  const Column* c = def.columnByNumber(lv.column_number);
  const std::string name = c ? "'" + c->name + "'" : "#" + std::to_string(lv.column_number);
  std::set<uint32_t> listed;
  try {
    UsageMapContents m = readUsageMapContents(ctx.src, ctx.fmt, lv.owned);
    for (uint32_t s : m.storage) ctx.use(s, "el mapa del campo " + name + " de la " + where);
    if (!m.beyond.empty()) ctx.problem(where, 0, "el mapa del campo " + name + " " + mapProblem(m));
    for (uint32_t pg : m.pages) {
      ctx.settle();
      ByteView p = ctx.src.page(pg);
      if (p.u8(0) != kDataPage || p.u32(kDataOwner) != kLongValueOwner) {
        ctx.problem(
            where, pg,
            "el mapa del campo " + name + " la incluye, pero no es una página de valores largos");
        continue;
      }
      listed.insert(pg);
      ctx.use(pg, "los valores largos de la " + where);
    }
  } catch (const JetError& e) {
    ctx.problem(where, 0,
                "el mapa del campo " + name + " no se puede leer: " + std::string(e.what()));
    return;
  }
  for (uint32_t pg : use.pages[lv.column_number]) {
    if (!listed.count(pg)) {
      ctx.problem(where, pg,
                  "el campo " + name + " de la fila " + rowText(use.example[lv.column_number]) +
                      " (o de otra) guarda su valor en esta página, que el mapa del campo no "
                      "incluye");
    }
  }
  use.pages.erase(lv.column_number);
  checkOrphanedLongValues(ctx, where, name, listed, use);
  if (lv.free == 0) return;
  try {
    UsageMapContents m = readUsageMapContents(ctx.src, ctx.fmt, lv.free);
    for (uint32_t s : m.storage) ctx.use(s, "el mapa del campo " + name + " de la " + where);
    for (uint32_t pg : m.pages) {
      if (!listed.count(pg)) {
        ctx.problem(where, pg,
                    "el mapa de espacio libre del campo " + name +
                        " la incluye, pero su mapa de páginas no");
      }
    }
  } catch (const JetError& e) {
    ctx.problem(where, 0,
                "el mapa de espacio libre del campo " + name +
                    " no se puede leer: " + std::string(e.what()));
  }
}

// The maps of the long-value columns, listed at the end of the definition;
// a column that keeps values outside its rows must have one.
void checkLongValueMaps(Context& ctx, const TableDef& def, const std::string& where,
                        LongValueUse& use) {
  for (const LongValueColumnMaps& lv : readDefinitionTail(ctx, def, where)) {
    checkLongValueColumnMaps(ctx, def, where, lv, use);
  }
  for (const auto& [column, pages] : use.pages) {
    if (pages.empty()) continue;
    const Column* c = def.columnByNumber(column);
    ctx.problem(where, *pages.begin(),
                "el campo '" + (c ? c->name : std::to_string(column)) +
                    "' guarda valores fuera de la fila, pero la definición no le da mapa");
  }
}

}  // namespace

void checkTable(Context& ctx, const Table& table, bool system, std::vector<RowId>& live) {
  const TableDef& def = table.def();
  const std::string where = "tabla '" + def.name + "'";
  for (uint32_t p : def.pages) ctx.use(p, "la definición de la " + where);

  const OwnedPages owned = checkOwnedPagesMap(ctx, def, where);
  checkFreeSpaceMap(ctx, def, where, owned);
  checkUnlistedDataPages(ctx, def, where, owned);
  const SlotScan slots = scanRowSlots(ctx, where, owned, live);
  checkMovedRows(ctx, where, owned, slots);
  checkRowCount(ctx, def, where, system, live);
  LongValueUse long_values = checkLiveRows(ctx, table, where, live);
  checkLongValueMaps(ctx, def, where, long_values);
}

}  // namespace jet::check
