#include "jet/checker.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <set>
#include <unordered_set>

#include "check/checker_context.h"
#include "format/catalog.h"
#include "format/usage_map.h"
#include "index/index_lookup.h"
#include "jet/error.h"
#include "relationships.h"

namespace jet {

std::string CheckProblem::text() const {
  std::string s = where;
  if (page != 0) s += (s.empty() ? "página " : ", página ") + std::to_string(page);
  return s + ": " + message;
}

size_t CheckReport::problemCount() const {
  size_t n = problems.size();
  for (const auto& [where, count] : suppressed) n += count;
  return n;
}

namespace check {

namespace {

constexpr size_t kMaxProblemsPerStructure = 100;

}  // namespace

std::string rowText(RowId id) {
  return std::to_string(id.page) + ":" + std::to_string(id.row);
}

std::string valueText(const Value& v) {
  switch (v.kind()) {
    case Value::Kind::Null:
      return "Null";
    case Value::Kind::Bool:
      return v.asBool() ? "Sí" : "No";
    case Value::Kind::Int:
      return std::to_string(v.asInt());
    case Value::Kind::Text:
      return "'" + v.asString() + "'";
    case Value::Kind::Decimal:
      return v.asString();
    case Value::Kind::Single:
    case Value::Kind::Double:
    case Value::Kind::DateTime: {
      char buf[32];
      std::snprintf(buf, sizeof buf, "%.17g", v.asDouble());
      return buf;
    }
    case Value::Kind::Currency:
      return std::to_string(v.asInt() / 10000) + "." +
             std::to_string(10000 + (v.asInt() < 0 ? -v.asInt() : v.asInt()) % 10000).substr(1);
    case Value::Kind::Bytes:
    case Value::Kind::Guid:
      return "(" + std::to_string(v.asString().size()) + " bytes)";
  }
  return "?";
}

Context::Context(const Database& database, CheckReport& r)
    : db(database), src(database.pages()), fmt(database.format()), report(r) {}

void Context::problem(const std::string& where, uint32_t page, const std::string& message) {
  if (++per_where_[where] > kMaxProblemsPerStructure) {
    ++report.suppressed[where];
    return;
  }
  report.problems.push_back({where, page, message});
}

void Context::note(const std::string& where, uint32_t page, const std::string& message) {
  report.notes.push_back({where, page, message});
}

void Context::use(uint32_t page, const std::string& what) {
  if (page >= src.pageCount()) return;
  if (used_by_.empty()) used_by_.resize(src.pageCount(), 0);
  if (used_by_[page] != 0) return;
  auto [it, added] = user_index_.try_emplace(what, static_cast<uint32_t>(users_.size()));
  if (added) users_.push_back(what);
  used_by_[page] = it->second + 1;
}

const std::string* Context::usedBy(uint32_t page) const {
  if (page >= used_by_.size() || used_by_[page] == 0) return nullptr;
  return &users_[used_by_[page] - 1];
}

void Context::settle() const {
  if (src.readPagesHeld() > kCheckerPageBudget) src.releaseReadPages();
}

const std::vector<uint32_t>& Context::dataPagesOwnedBy(uint32_t tdef) const {
  static const std::vector<uint32_t> kNone;
  auto it = by_owner_.find(tdef);
  return it == by_owner_.end() ? kNone : it->second;
}

namespace {

const std::string kGlobalMap = "mapa global de páginas";

// Page 1, row 0: a usage map whose set bits mark the pages that are free.
// A page the map cannot name is not known to be free, and is not taken for
// one. Another Access-file library moves an inline map's window up when the
// file outgrows it, so that it names none of the pages below (all in use):
// a note, not damage.
void readGlobalMap(Context& ctx) {
  using State = Context::MapState;
  const uint32_t count = ctx.src.pageCount();
  std::vector<State> states(count, State::Unnamed);
  ctx.use(0, "la cabecera del archivo");
  ctx.use(kGlobalMapPage, kGlobalMap);
  try {
    const UsageMapContents map = readUsageMapContents(ctx.src, ctx.fmt, kGlobalMapPointer);
    for (uint32_t p : map.storage) ctx.use(p, kGlobalMap);
    if (map.type == kInlineMap && !map.windows.empty()) {
      // Access keeps the pages past the end of the file marked free: they
      // are the ones it takes when the file grows.
      const UsageMapContents::Window& w = map.windows.front();
      const uint64_t from = std::max<uint64_t>(w.first, count);
      if (w.end > from && map.beyond.size() != w.end - from) {
        ctx.problem(kGlobalMap, 0,
                    "no marca libres " + std::to_string(w.end - from - map.beyond.size()) +
                        " de las páginas más allá del final del archivo");
      }
    }
    for (const UsageMapContents::Window& w : map.windows) {
      for (uint64_t p = w.first; p < w.end && p < count; ++p) states[p] = State::InUse;
    }
    for (uint32_t p : map.pages) states[p] = State::Free;
    for (uint32_t first = 0; first < count;) {
      if (states[first] != State::Unnamed) {
        ++first;
        continue;
      }
      uint32_t end = first;
      while (end < count && states[end] == State::Unnamed) ++end;
      ctx.note(kGlobalMap, 0,
               "no nombra las páginas " + std::to_string(first) + " a " + std::to_string(end - 1) +
                   ", que se tienen por ocupadas (otra biblioteca de archivos Access mueve así la "
                   "ventana del mapa cuando el archivo crece)");
      first = end;
    }
  } catch (const JetError& e) {
    // Unreadable: every page counts as in use, and nothing more is said of it.
    ctx.problem(kGlobalMap, kGlobalMapPage, std::string("no se puede leer: ") + e.what());
    std::fill(states.begin(), states.end(), State::InUse);
  }
  ctx.setMapStates(std::move(states));
}

std::string tableWhere(const std::string& name) {
  return "tabla '" + name + "'";
}

// Every data page of the file that the global map does not free: its
// layout, and an owner that exists. A page the map does not name may be a
// leftover nobody uses (a data page of a table no longer in the catalog):
// noted, since nothing says it is not free.
void checkDataPages(Context& ctx, const std::unordered_map<uint32_t, std::string>& tables) {
  std::vector<uint32_t> leftovers;
  for (uint32_t pg = 1; pg < ctx.src.pageCount(); ++pg) {
    ctx.settle();
    ByteView p = ctx.src.page(pg);
    if (p.u8(0) != kDataPage) continue;
    const uint32_t owner = p.u32(kDataOwner);
    ctx.addDataPage(pg, owner);
    if (ctx.markedFree(pg)) continue;  // freed pages keep whatever they held
    std::string where;
    if (owner == kLongValueOwner) {
      where = "valores largos";
    } else if (owner == 0) {
      where = "mapas de uso";
    } else if (pg == kGlobalMapPage) {
      where = kGlobalMap;
    } else if (auto it = tables.find(owner); it != tables.end()) {
      where = tableWhere(it->second);
    } else if (ctx.unnamed(pg)) {
      leftovers.push_back(pg);
      continue;
    } else {
      ctx.problem("página de datos", pg,
                  "pertenece a la definición de la página " + std::to_string(owner) +
                      ", que no es ninguna tabla del catálogo");
      continue;
    }
    checkDataPageLayout(ctx, pg, where);
  }
  if (leftovers.empty()) return;
  std::string list;
  for (size_t i = 0; i < leftovers.size() && i < 10; ++i) {
    list += (i ? ", " : "") + std::to_string(leftovers[i]);
  }
  if (leftovers.size() > 10) list += "...";
  ctx.note("páginas de datos", 0,
           std::to_string(leftovers.size()) + " páginas (" + list +
               ") pertenecen a definiciones que no están en el catálogo y el mapa global no las "
               "nombra: restos que nadie usa");
}

// No page that a structure uses may be marked free: Access would hand it
// out again and overwrite it.
void checkUsedNotFree(Context& ctx) {
  for (uint32_t page = 0; page < ctx.src.pageCount(); ++page) {
    const std::string* what = ctx.usedBy(page);
    if (what && ctx.markedFree(page)) {
      ctx.problem(kGlobalMap, page, "la marca libre, pero está en uso (" + *what + ")");
    }
  }
}

// The key under which the values of several columns meet; nothing when one
// of them is null (such a row refers to nothing).
std::optional<std::string> compositeKey(const std::vector<Value>& row,
                                        const std::vector<size_t>& columns) {
  std::string key;
  for (size_t c : columns) {
    std::optional<std::string> part = equalityKey(row[c]);
    if (!part) return std::nullopt;
    key += std::to_string(part->size()) + ":" + *part;
  }
  return key;
}

// Calls `fn` for every live row of the table, a page at a time, settling
// between pages (a table's scan would hold every page it passes).
void forEachLiveRow(Context& ctx, const Table& table, const std::function<void(RowId)>& fn) {
  const TableDef& def = table.def();
  for (uint32_t pg : readUsageMap(ctx.src, ctx.fmt, def.used_map)) {
    std::vector<RowId> rows;
    {
      DataPage page(ctx.src, ctx.fmt, pg);
      if (page.owner() != def.page) continue;
      const size_t n = std::min<size_t>(page.rowCount(), kRowNumbers);
      for (uint16_t r = 0; r < n; ++r) {
        if (!(page.slot(r) & kSlotDeleted)) rows.push_back({pg, static_cast<uint8_t>(r)});
      }
    }
    for (RowId id : rows) fn(id);
    ctx.settle();
  }
}

void checkRelationships(Context& ctx) {
  std::vector<Relationship> rels;
  try {
    rels = readRelationships(ctx.db);
  } catch (const JetError& e) {
    ctx.problem("relaciones", 0, std::string("no se pueden leer: ") + e.what());
    return;
  }
  for (const Relationship& rel : rels) {
    if (!rel.enforced()) continue;
    const std::string where = "relación '" + rel.name + "'";
    if (!ctx.db.hasTable(rel.table) || !ctx.db.hasTable(rel.referenced_table)) {
      ctx.problem(where, 0,
                  "une las tablas '" + rel.table + "' y '" + rel.referenced_table +
                      "', y alguna no existe");
      continue;
    }
    try {
      Table many = ctx.db.table(rel.table);
      Table one = ctx.db.table(rel.referenced_table);
      std::vector<size_t> many_cols, one_cols;
      bool missing = false;
      for (size_t i = 0; i < rel.columns.size() && i < rel.referenced_columns.size(); ++i) {
        auto a = many.def().findColumn(rel.columns[i]);
        auto b = one.def().findColumn(rel.referenced_columns[i]);
        if (!a || !b) {
          ctx.problem(where, 0,
                      "nombra el campo '" + (a ? rel.referenced_columns[i] : rel.columns[i]) +
                          "', que no existe");
          missing = true;
          break;
        }
        many_cols.push_back(*a);
        one_cols.push_back(*b);
      }
      if (missing || many_cols.empty()) continue;
      std::unordered_set<std::string> referenced;
      forEachLiveRow(ctx, one, [&](RowId id) {
        if (auto key = compositeKey(one.readRow(id), one_cols)) referenced.insert(*key);
      });
      forEachLiveRow(ctx, many, [&](RowId id) {
        std::vector<Value> row = many.readRow(id);
        std::optional<std::string> key = compositeKey(row, many_cols);
        if (!key || referenced.count(*key)) return;
        std::string values;
        for (size_t i = 0; i < many_cols.size(); ++i) {
          values += (i ? ", " : "") + rel.columns[i] + " = " + valueText(row[many_cols[i]]);
        }
        ctx.problem(where, id.page,
                    "la fila " + rowText(id) + " de '" + rel.table + "' (" + values +
                        ") no tiene registro relacionado en '" + rel.referenced_table + "'");
      });
    } catch (const JetError& e) {
      ctx.problem(where, 0, std::string("no se puede comprobar: ") + e.what());
    }
  }
}

}  // namespace

}  // namespace check

CheckReport checkDatabase(const Database& db) {
  CheckReport report;
  check::Context ctx(db, report);
  report.pages = db.pages().pageCount();
  const size_t page_size = db.format().page_size;
  if (db.pages().fileSize() % page_size != 0) {
    ctx.problem("archivo", 0,
                "su tamaño (" + std::to_string(db.pages().fileSize()) +
                    " bytes) no es múltiplo del tamaño de página (" + std::to_string(page_size) +
                    ")");
  }

  check::readGlobalMap(ctx);

  // The catalog: every local table has a definition that can be read.
  std::vector<const CatalogEntry*> tables;
  std::unordered_map<uint32_t, std::string> by_page;
  for (const CatalogEntry& e : db.catalog()) {
    if (e.type != CatalogEntry::kLocalTable) continue;
    try {
      db.tableDefAt(e.tdefPage(), e.name);
      tables.push_back(&e);
      by_page.emplace(e.tdefPage(), e.name);
    } catch (const JetError& err) {
      ctx.problem("catálogo", e.tdefPage(),
                  "la tabla '" + e.name + "' no tiene una definición legible: " + err.what());
    }
  }

  check::checkDataPages(ctx, by_page);

  for (const CatalogEntry* e : tables) {
    ctx.settle();
    Table table(db, db.tableDefAt(e->tdefPage(), e->name));
    ++report.tables;
    // A structure too damaged to go on with ends the table's checks, not the file's.
    try {
      std::vector<RowId> live;
      check::checkTable(ctx, table, !e->isUserTable(), live);
      report.rows += live.size();
      check::checkIndexes(ctx, table, live);
    } catch (const JetError& err) {
      ctx.problem("tabla '" + e->name + "'", 0,
                  std::string("su comprobación no pudo terminar: ") + err.what());
    } catch (const OutOfRange&) {
      ctx.problem("tabla '" + e->name + "'", 0, "su comprobación no pudo terminar: datos dañados");
    }
  }

  check::checkUsedNotFree(ctx);
  check::checkRelationships(ctx);
  return report;
}

}  // namespace jet
