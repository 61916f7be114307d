#include "jet/database.h"

#include <cstring>

#include "delete_plan.h"
#include "jet/error.h"
#include "index/index_delete.h"
#include "format/long_value.h"
#include "format/row_layout.h"
#include "format/slot_delete.h"
#include "format/text_codec.h"
#include "format/usage_map.h"

namespace jet {

namespace {

constexpr int kMaxMoveHops = 8;

std::string rowName(RowId id) {
  return "la fila " + std::to_string(id.row) + " de la página " + std::to_string(id.page);
}

// A structural read that ran off its bytes is a damaged file; `where` names
// the structure, and is built only when that happens.
template <typename Fn, typename Where>
auto guarded(const std::string& path, Where&& where, Fn&& fn) -> decltype(fn()) {
  try {
    return fn();
  } catch (const OutOfRange&) {
    throwBadFormat(path, where() + " tiene datos dañados");
  }
}

}  // namespace

Database::Database(const std::string& path, OpenMode mode)
    : pages_(std::make_unique<PageSource>(path, mode)),
      decoder_(*pages_, formatFor(Version::Jet4)) {
  std::vector<uint8_t> prefix = pages_->readPrefix(4096);
  header_ = parseHeader(prefix, pages_->fileSize(), path);
  format_ = &formatFor(header_.version);
  decoder_ = ValueDecoder(*pages_, *format_);
  pages_->setPageSize(format_->page_size);
  std::vector<uint8_t> page0(prefix.begin(), prefix.begin() + static_cast<long>(format_->page_size));
  unmaskHeader(page0, header_.version);
  pages_->setPage(0, std::move(page0));
  loadCatalog();
}

Database::~Database() = default;

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
    catalog_.push_back(std::move(e));
  });
}

std::vector<std::string> Database::tableNames() const {
  std::vector<std::string> names;
  for (const CatalogEntry& e : catalog_) {
    if (e.isUserTable()) names.push_back(e.name);
  }
  return names;
}

const CatalogEntry* Database::findTable(std::string_view name) const {
  const CatalogEntry* found = nullptr;
  for (const CatalogEntry& e : catalog_) {
    if (e.type != CatalogEntry::kLocalTable || !equalsIgnoreCase(e.name, name)) continue;
    // A user table wins over a system table of the same name.
    if (!found || e.isUserTable()) found = &e;
  }
  return found;
}

std::vector<PropertyBlock> Database::properties(const CatalogEntry& entry) const {
  const TableDef& sys = tableDefAt(kCatalogTdefPage, "MSysObjects");
  auto col = sys.findColumn("LvProp");
  if (!col) return {};
  Value blob = Table(*this, sys).read(entry.row, *col);
  if (blob.isNull()) return {};
  return guarded(path(), [&] { return "el bloque de propiedades de '" + entry.name + "'"; }, [&] {
    return parseProperties(blob.asString(), decoder_, format_->is_jet4());
  });
}

void Database::begin() { pages_->beginUnit(); }

void Database::commit() { pages_->commitUnit(); }

void Database::rollback() {
  pages_->rollbackUnit();
  forgetRowCaches();
}

void Database::savepoint() { pages_->savepoint(); }

void Database::rollbackToSavepoint() {
  pages_->rollbackToSavepoint();
  forgetRowCaches();
}

void Database::forgetRowCaches() {
  lookups_.clear();  // rows they no longer list are back
  for (auto& [page, removers] : removers_) {
    for (IndexEntryRemover& r : removers) r.forgetLeaf();
  }
}

const std::vector<Relationship>& Database::relationships() const {
  if (!relationships_) relationships_ = readRelationships(*this);
  return *relationships_;
}

const IndexLookup& Database::lookup(const Table& table, size_t column) const {
  auto& slot = lookups_[{table.def().page, column}];
  if (!slot) slot = std::make_unique<IndexLookup>(table, column);
  return *slot;
}

void Database::deleteRow(const Table& table, RowId id) {
  if (!writable()) {
    throw JetError(Msg::kReadOnlyDatabase, path());
  }
  const std::vector<DeleteStep> plan = planDelete(*this, table, id);
  const bool own_unit = !inUnit();
  if (own_unit) begin();
  try {
    for (const DeleteStep& step : plan) deleteOne(*step.def, step.row);
  } catch (...) {
    if (own_unit) rollback();
    throw;
  }
  if (own_unit) commit();
}

void Database::deleteOne(const TableDef& def, RowId id) {
  Table table(*this, def);
  const Format& fmt = *format_;
  // Everything the delete needs is read before the first page changes.
  const std::vector<uint8_t> bytes = [&] {
    ByteView b = table.rowBytes(id);
    return std::vector<uint8_t>(b.data(), b.data() + b.size());
  }();
  const uint16_t slot = DataPage(*pages_, fmt, id.page).slot(id.row);
  // The values the indexes and the lookups of the table key on; the other
  // columns (a long memo, say) are not decoded.
  std::vector<bool> needed(def.columns.size(), false);
  for (const RealIndex& index : def.real_indexes) {
    for (const IndexColumn& ic : index.columns) {
      for (size_t i = 0; i < def.columns.size(); ++i) {
        if (def.columns[i].number == ic.column_number) needed[i] = true;
      }
    }
  }
  for (const auto& [key, lookup] : lookups_) {
    if (key.first == def.page && key.second < needed.size()) needed[key.second] = true;
  }
  std::vector<Value> values(def.columns.size());
  std::vector<RowId> freed;  // long-value rows and an overflow part
  guarded(path(), [id] { return rowName(id); }, [&] {
    RowLayout layout(ByteView(bytes.data(), bytes.size()), fmt, def.var_slots > 0);
    for (size_t i = 0; i < def.columns.size(); ++i) {
      if (needed[i]) values[i] = decoder_.decode(layout, def.columns[i]);
    }
    for (const Column& c : def.columns) {
      if (!c.isLongValue() || !layout.present(c)) continue;
      if (std::optional<ByteView> field = layout.variable(c)) {
        for (RowId r : longValueRows(*pages_, fmt, *field)) freed.push_back(r);
      }
    }
    return 0;
  });
  if (slot & kSlotMoved) {
    ByteView pointer = DataPage(*pages_, fmt, id.page).row(id.row);
    freed.push_back(RowId::fromPointer(pointer.u32(0)));
  }

  auto removers = removers_.find(def.page);
  if (removers == removers_.end()) {
    std::vector<IndexEntryRemover> made;
    for (const RealIndex& index : def.real_indexes) made.emplace_back(*pages_, fmt, def, index);
    removers = removers_.emplace(def.page, std::move(made)).first;
  }
  for (IndexEntryRemover& remover : removers->second) remover.remove(*pages_, values, id);
  for (RowId r : freed) {
    if (!deleteSlot(pages_->writablePage(r.page), fmt, r.row)) {
      throwBadFormat(path(), "los huecos de filas de la página " + std::to_string(r.page) +
                                 " no son coherentes");
    }
  }
  if (!deleteSlot(pages_->writablePage(id.page), fmt, id.row)) {
    throwBadFormat(path(), "los huecos de filas de la página " + std::to_string(id.page) +
                               " no son coherentes");
  }
  uint8_t* tdef = pages_->writablePage(def.page);
  uint32_t rows;
  std::memcpy(&rows, tdef + fmt.tdef_row_count, 4);
  if (rows > 0) --rows;
  std::memcpy(tdef + fmt.tdef_row_count, &rows, 4);

  for (auto& [key, lookup] : lookups_) {
    if (key.first == def.page) lookup->erase(id, values[key.second]);
  }
}

bool Database::hasTable(std::string_view name) const { return findTable(name) != nullptr; }

Table Database::table(std::string_view name) const {
  const CatalogEntry* e = findTable(name);
  if (!e) throw JetError(Msg::kUnknownTable, std::string(name));
  return Table(*this, tableDefAt(e->tdefPage(), e->name));
}

const TableDef& Database::tableDefAt(uint32_t page, const std::string& name) const {
  auto it = defs_.find(page);
  if (it == defs_.end()) {
    auto def = std::make_unique<TableDef>(readTableDef(*pages_, *format_, page, header_.code_page));
    def->name = name;
    it = defs_.emplace(page, std::move(def)).first;
  }
  return *it->second;
}

std::vector<uint32_t> Table::dataPages() const {
  const PageSource& src = db_->pages();
  std::vector<uint32_t> out;
  for (uint32_t pg : readUsageMap(src, db_->format(), def_->used_map)) {
    ByteView p = src.page(pg);
    if (p.u8(0) == kDataPage && p.u32(4) == def_->page) out.push_back(pg);
  }
  return out;
}

void Table::scan(const std::function<void(RowId)>& fn) const {
  const PageSource& src = db_->pages();
  const Format& fmt = db_->format();
  for (uint32_t pg : dataPages()) {
    DataPage page(src, fmt, pg);
    const uint16_t n = page.rowCount();
    for (uint16_t r = 0; r < n && r < 256; ++r) {
      if (page.slot(r) & kSlotDeleted) continue;  // deleted, or reached through its pointer
      fn(RowId{pg, static_cast<uint8_t>(r)});
    }
  }
}

std::vector<RowId> Table::rowIds() const {
  std::vector<RowId> ids;
  scan([&](RowId id) { ids.push_back(id); });
  return ids;
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
    if (hop == 0 && (slot & kSlotDeleted)) {
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
  ByteView bytes = rowBytes(id);
  return guarded(db_->path(), [id] { return rowName(id); }, [&] {
    RowLayout layout(bytes, db_->format(), def_->var_slots > 0);
    return db_->decoder().decode(layout, def_->columns.at(index));
  });
}

std::vector<Value> Table::readRow(RowId id) const {
  ByteView bytes = rowBytes(id);
  return guarded(db_->path(), [id] { return rowName(id); }, [&] {
    RowLayout layout(bytes, db_->format(), def_->var_slots > 0);
    std::vector<Value> out;
    out.reserve(def_->columns.size());
    for (const Column& c : def_->columns) out.push_back(db_->decoder().decode(layout, c));
    return out;
  });
}

}  // namespace jet
