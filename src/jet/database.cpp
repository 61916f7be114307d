#include "jet/database.h"

#include <exception>
#include <map>
#include <optional>

#include "format/catalog.h"
#include "format/data_page.h"
#include "format/format.h"
#include "format/header.h"
#include "format/properties.h"
#include "format/row_layout.h"
#include "format/table_def.h"
#include "format/text_codec.h"
#include "format/usage_map.h"
#include "format/value_decoder.h"
#include "index/index_lookup.h"
#include "io/page_source.h"
#include "jet/error.h"
#include "relationships.h"
#include "row_delete.h"
#include "row_read.h"

namespace jet {

namespace {

constexpr int kMaxMoveHops = 8;

}  // namespace

// What an open database holds: the file's pages, what its header says, the
// catalog, and what is read or built once and kept (table definitions,
// relationships, lookups, the row deleter's index removers).
struct Database::State {
  State(const std::string& path, OpenMode mode, Os& os)
      : pages(std::make_unique<PageSource>(path, mode, os)),
        decoder(*pages, formatFor(Version::Jet4)) {}

  std::unique_ptr<PageSource> pages;
  Header header;
  const Format* format = nullptr;
  ValueDecoder decoder;
  std::vector<CatalogEntry> catalog;
  std::map<uint32_t, std::unique_ptr<TableDef>> defs;
  std::optional<std::vector<Relationship>> relationships;
  LookupCache lookups;
  std::unique_ptr<RowDeleter> deleter;
};

Database::Database(const std::string& path, OpenMode mode, Os& os)
    : state_(std::make_unique<State>(path, mode, os)) {
  PageSource& pages = *state_->pages;
  std::vector<uint8_t> prefix = pages.readPrefix(4096);
  state_->header = parseHeader(prefix, pages.fileSize(), path);
  state_->format = &formatFor(state_->header.version);
  state_->decoder = ValueDecoder(pages, *state_->format);
  pages.setPageSize(state_->format->page_size);
  std::vector<uint8_t> page0(prefix.begin(),
                             prefix.begin() + static_cast<long>(state_->format->page_size));
  unmaskHeader(page0, state_->header.version);
  pages.setPage(0, std::move(page0));
  // Before the catalog is read: every scan asks it whether a row's delete is pending.
  state_->deleter = std::make_unique<RowDeleter>(*this, pages, state_->lookups);
  loadCatalog();
  // Refused before anything is handed out or written, but after the
  // catalog: a damaged file is reported as damaged, whatever its header's
  // password area holds.
  if (state_->header.has_password) throw JetError(Msg::kPasswordNeeded, path);
}

Database::~Database() = default;

const std::string& Database::path() const {
  return state_->pages->path();
}
Version Database::version() const {
  return state_->header.version;
}
const Header& Database::header() const {
  return state_->header;
}
const Format& Database::format() const {
  return *state_->format;
}
const PageSource& Database::pages() const {
  return *state_->pages;
}
const ValueDecoder& Database::decoder() const {
  return state_->decoder;
}
const std::vector<CatalogEntry>& Database::catalog() const {
  return state_->catalog;
}

void Database::loadCatalog() {
  const TableDef& sys = tableDefAt(kCatalogTdefPage, "MSysObjects");
  auto col = [&](const char* name) {
    auto i = sys.findColumn(name);
    if (!i) throwBadFormat(path(), std::string("al catálogo le falta la columna ") + name);
    return *i;
  };
  const size_t id = col("Id"), parent = col("ParentId"), name = col("Name"), type = col("Type"),
               flags = col("Flags");
  Table t(*this, sys);
  t.scan([&](RowId r) {
    std::vector<Value> row = t.readRow(r);
    CatalogEntry e;
    e.id = static_cast<int32_t>(row[id].asInt());
    e.parent_id = static_cast<int32_t>(row[parent].asInt());
    e.name = row[name].asString();
    e.type = static_cast<int16_t>(row[type].asInt());
    e.flags = static_cast<uint32_t>(row[flags].asInt());
    e.row = r;
    state_->catalog.push_back(std::move(e));
  });
}

std::vector<std::string> Database::tableNames() const {
  std::vector<std::string> names;
  for (const CatalogEntry& e : state_->catalog) {
    if (e.isUserTable()) names.push_back(e.name);
  }
  return names;
}

const CatalogEntry* Database::findTable(std::string_view name) const {
  const CatalogEntry* found = nullptr;
  for (const CatalogEntry& e : state_->catalog) {
    if (e.type != CatalogEntry::kLocalTable || !equalsIgnoreCase(e.name, name)) continue;
    // A user table wins over a system table of the same name.
    if (!found || e.isUserTable()) found = &e;
  }
  return found;
}

std::vector<PropertyBlock> Database::properties(std::string_view table) const {
  const CatalogEntry* entry = findTable(table);
  if (!entry) return {};
  const TableDef& sys = tableDefAt(kCatalogTdefPage, "MSysObjects");
  auto col = sys.findColumn("LvProp");
  if (!col) return {};
  Value blob = Table(*this, sys).read(entry->row, *col);
  if (blob.isNull()) return {};
  return guarded(
      path(), [&] { return "el bloque de propiedades de '" + entry->name + "'"; },
      [&] { return parseProperties(blob.asString(), state_->decoder, state_->format->is_jet4()); });
}

bool Database::writable() const {
  return state_->pages->writable();
}

bool Database::inUnit() const {
  return state_->pages->inUnit();
}

void Database::begin() {
  state_->pages->beginUnit();
}

void Database::commit() {
  PageSource& pages = *state_->pages;
  RowDeleter& deleter = *state_->deleter;
  // The lock stays through a second try, so that nobody writes in between.
  const bool held = pages.inUnit();
  if (held) pages.holdWriteLock();  // held already by the unit: no call to the system
  struct Release {
    PageSource& pages;
    bool held;
    ~Release() {
      if (held) pages.releaseWriteLock();
    }
  } release{pages, held};
  std::exception_ptr refused;  // a row the deferred deletes could not delete
  try {
    pages.releaseSavepoint();
    // Deferred deletes are the unit's only changes when nothing is changed yet.
    const bool only_deferred = !pages.hasChanges();
    for (;;) {
      try {
        deleter.applyPending();
        break;
      } catch (const JetError&) {
        // A recorded row that cannot be deleted takes back its savepoint and
        // those after it, as if the unit had stopped there; what was recorded
        // before is committed, and then the row's error goes on.
        const size_t keep = deleter.retryPoint();
        if (!only_deferred || keep == 0 || !pages.inUnit()) throw;
        refused = std::current_exception();
        pages.rollbackUnit();
        forgetRowCaches();
        pages.beginUnit();
        deleter.keepBefore(keep);
      }
    }
    pages.commitUnit();
  } catch (...) {
    // A commit that fails puts every page back as it was before the unit:
    // the rows the unit deleted are live again, so what was kept about
    // them goes, as after a rollback. Deferred deletes that failed left the
    // unit open with part of them made: it is taken back here.
    if (inUnit()) {
      try {
        state_->pages->rollbackUnit();
      } catch (...) {
        // The error that stopped the commit is the one to report.
      }
    }
    state_->deleter->endUnit();
    forgetRowCaches();
    throw;
  }
  state_->deleter->endUnit();
  if (refused) std::rethrow_exception(refused);
}

void Database::rollback() {
  state_->deleter->endUnit();
  try {
    state_->pages->rollbackUnit();
  } catch (...) {
    forgetRowCaches();  // the pages are back as far as they could be put back
    throw;
  }
  forgetRowCaches();
}

Database::WriteSession::WriteSession(Database& db) : db_(&db) {
  db.state_->pages->holdWriteLock();
}

Database::WriteSession::~WriteSession() {
  db_->state_->pages->releaseWriteLock();
}

void Database::savepoint() {
  state_->pages->savepoint();
  state_->deleter->savepoint();
}

void Database::rollbackToSavepoint() {
  state_->pages->rollbackToSavepoint();
  state_->deleter->rollbackToSavepoint();
  forgetRowCaches();
}

void Database::deferDeletes() {
  if (inUnit()) state_->deleter->deferDeletes();
}

size_t Database::pendingDeletes() const {
  return state_->deleter->pending().size();
}

bool Database::isPendingDelete(RowId id) const {
  return state_->deleter->pending().has(id);
}

void Database::forgetRowCaches() {
  state_->lookups.clear();  // rows they no longer list are back
  state_->deleter->forgetLeaves();
}

const std::vector<Relationship>& Database::relationships() const {
  if (!state_->relationships) state_->relationships = readRelationships(*this);
  return *state_->relationships;
}

const IndexLookup& Database::lookup(const Table& table, size_t column) const {
  const PageSource::Scope scope(*state_->pages);
  return state_->lookups.get(table, column);
}

void Database::prepareLookup(const Table& table, size_t column, std::vector<int64_t> values) const {
  lookup(table, column).prepare(std::move(values));
}

void Database::deleteRow(const Table& table, RowId id) {
  const bool in_unit = inUnit();
  try {
    // The pages the delete touches stay put until it is done; opening the
    // scope may first write changed pages of the unit to make room.
    const PageSource::Scope scope(*state_->pages);
    state_->deleter->deleteRow(table, id);
  } catch (...) {
    // A unit whose pages could not be written was rolled back whole.
    if (in_unit && !inUnit()) forgetRowCaches();
    throw;
  }
}

void Database::setCacheLimit(size_t pages) {
  state_->pages->setCacheLimit(pages);
}

void Database::requireDeletable(const Table& table) const {
  if (!writable()) throw JetError(Msg::kReadOnlyDatabase, path());
  const TableDef& def = table.def();
  bool system = equalsIgnoreCase(std::string_view(def.name).substr(0, 4), "MSys");
  for (const CatalogEntry& e : state_->catalog) {
    if (e.type == CatalogEntry::kLocalTable && e.tdefPage() == def.page &&
        (e.flags & CatalogEntry::kSystemFlags) != 0) {
      system = true;
    }
  }
  if (system) throw JetError(Msg::kSystemTable, def.name);
}

bool Database::hasTable(std::string_view name) const {
  return findTable(name) != nullptr;
}

Table Database::table(std::string_view name) const {
  const CatalogEntry* e = findTable(name);
  if (!e) throw JetError(Msg::kUnknownTable, std::string(name));
  return Table(*this, tableDefAt(e->tdefPage(), e->name));
}

const TableDef& Database::tableDefAt(uint32_t page, const std::string& name) const {
  auto& defs = state_->defs;
  auto it = defs.find(page);
  if (it == defs.end()) {
    const PageSource::Scope scope(*state_->pages);
    auto def = std::make_unique<TableDef>(
        readTableDef(*state_->pages, *state_->format, page, state_->header.code_page));
    def->name = name;
    it = defs.emplace(page, std::move(def)).first;
  }
  return *it->second;
}
std::vector<uint32_t> Table::dataPages() const {
  const PageSource& src = db_->pages();
  std::vector<uint32_t> used;
  {
    const PageSource::Scope scope(src);
    used = readUsageMap(src, db_->format(), def_->used_map);
  }
  std::vector<uint32_t> out;
  for (uint32_t pg : used) {
    // A page at a time: a large table's pages do not all fit in the cache.
    const PageSource::Scope scope(src);
    ByteView p = src.page(pg);
    if (p.u8(0) == kDataPage && p.u32(4) == def_->page) out.push_back(pg);
  }
  return out;
}

void Table::scan(const std::function<void(RowId)>& fn) const {
  const PageSource& src = db_->pages();
  const Format& fmt = db_->format();
  for (uint32_t pg : dataPages()) {
    // A page at a time: what `fn` reads of other pages may go after it.
    const PageSource::Scope scope(src);
    DataPage page(src, fmt, pg);
    const uint16_t n = page.rowCount();
    for (uint16_t r = 0; r < n && r < 256; ++r) {
      if (page.slot(r) & kSlotDeleted) continue;  // deleted, or reached through its pointer
      if (db_->isPendingDelete(RowId{pg, static_cast<uint8_t>(r)})) continue;
      fn(RowId{pg, static_cast<uint8_t>(r)});
    }
  }
}

std::vector<RowId> Table::rowIds() const {
  std::vector<RowId> ids;
  scan([&](RowId id) { ids.push_back(id); });
  return ids;
}

bool Table::isLive(RowId id) const {
  const PageSource::Scope scope(db_->pages());
  return !(DataPage(db_->pages(), db_->format(), id.page).slot(id.row) & kSlotDeleted) &&
         !db_->isPendingDelete(id);
}

ByteView Table::rowBytes(RowId id) const {
  const PageSource& src = db_->pages();
  const Format& fmt = db_->format();
  RowId at = id;
  for (int hop = 0; hop <= kMaxMoveHops; ++hop) {
    DataPage page(src, fmt, at.page);
    if (page.owner() != def_->page) {
      throwBadFormat(src.path(), rowName(at) + " no pertenece a la tabla '" + def_->name + "'");
    }
    if (at.row >= page.rowCount()) throwBadFormat(src.path(), rowName(at) + " no existe");
    const uint16_t slot = page.slot(at.row);
    ByteView bytes = page.row(at.row);
    if (hop == 0 && ((slot & kSlotDeleted) || db_->isPendingDelete(at))) {
      throwBadFormat(src.path(), rowName(at) + " no es una fila viva de la tabla");
    }
    const bool deleted = (slot & kSlotDeleted) && (slot & kSlotMoved);
    if (deleted) throwBadFormat(src.path(), rowName(id) + " apunta a una fila borrada");
    // An overflow target (0x8000 alone) holds the data; a moved slot points on.
    if (!(slot & kSlotMoved)) return bytes;
    if (bytes.size() < 4) throwBadFormat(src.path(), rowName(at) + " está dañada");
    at = RowId::fromPointer(bytes.u32(0));
  }
  throwBadFormat(src.path(), rowName(id) + " apunta a una cadena de filas movidas demasiado larga");
}

Value Table::read(RowId id, size_t index) const {
  const PageSource::Scope scope(db_->pages());
  ByteView bytes = rowBytes(id);
  return guarded(
      db_->path(), [id] { return rowName(id); },
      [&] {
        RowLayout layout(bytes, db_->format(), def_->var_slots > 0);
        return db_->decoder().decode(layout, def_->columns.at(index));
      });
}

std::vector<Value> Table::readRow(RowId id) const {
  const PageSource::Scope scope(db_->pages());
  ByteView bytes = rowBytes(id);
  return guarded(
      db_->path(), [id] { return rowName(id); },
      [&] {
        RowLayout layout(bytes, db_->format(), def_->var_slots > 0);
        std::vector<Value> out;
        out.reserve(def_->columns.size());
        for (const Column& c : def_->columns) out.push_back(db_->decoder().decode(layout, c));
        return out;
      });
}

}  // namespace jet
