#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <optional>
#include <stdexcept>

#include "create/table_creator.h"
#include "format/catalog.h"
#include "format/header.h"
#include "format/long_value.h"
#include "format/row_packer.h"
#include "format/text_codec.h"
#include "format/usage_map.h"
#include "index/index_builder.h"
#include "index/index_key.h"
#include "jet/creator.h"
#include "jet/error.h"
#include "relationships.h"

namespace jet {

namespace {

// Catalog identities (MSysObjects Id / ParentId).
constexpr int32_t kRootContainer = 0x0F000000;
constexpr int32_t kDatabasesContainer = 0x0F000002;
constexpr int32_t kRelationshipsContainer = 0x0F000003;
constexpr int32_t kDatabaseObject = 0x10000000;
constexpr uint32_t kFirstSyntheticId = 0x80000000u;
constexpr int16_t kTypeDatabase = 2;
constexpr int16_t kTypeContainer = 3;
constexpr int16_t kTypeRelationship = 8;
constexpr uint32_t kSystemObject = 0x80000000u;

// Security identifiers of the built-in accounts, as Jet 3 stores them.
const std::string kSidEngine("\x02\x03", 2);
const std::string kSidCreator("\x02\x04", 2);
const std::string kSidAdmin("\x03\x01", 2);
const std::string kSidAdmins("\x02\x01", 2);

constexpr uint32_t kGlobalMapOwner = 1;
constexpr size_t kSystemTables = 4;

[[noreturn]] void writeFailed(const std::string& path, const OsStatus& status) {
  if (status.failure == OsFailure::DiskFull) {
    throw JetError(Msg::kDiskFull, path);
  }
  throw JetError(Msg::kWriteFailed, path, std::to_string(status.code));
}

}  // namespace

// ---------------------------------------------------------------------------
// Pages to the file: consecutive pages are gathered and written together.

class DatabaseCreator::PageFile {
 public:
  PageFile(Os& os, const std::string& path, const Format& fmt) : path_(path), fmt_(fmt) {
    if (!os.open(path, OpenFor::Create, file_)) throw JetError(Msg::kCannotOpen, path);
  }

  uint32_t count() const { return count_; }
  uint32_t allocate() {
    if (uint64_t{count_ + 1} * fmt_.page_size > maxFileSize(fmt_)) {
      throw JetError(Msg::kFileTooLarge, path_);
    }
    return count_++;
  }
  void write(uint32_t page, const uint8_t* bytes) {
    const size_t size = fmt_.page_size;
    if (!run_.empty() && page == run_start_ + run_.size() / size && run_.size() < kRunBytes) {
      run_.insert(run_.end(), bytes, bytes + size);
      return;
    }
    flush();
    run_start_ = page;
    run_.assign(bytes, bytes + size);
  }
  void write(uint32_t page, const std::vector<uint8_t>& bytes) { write(page, bytes.data()); }
  void flush() {
    if (run_.empty()) return;
    const OsStatus s =
        file_->write(uint64_t{run_start_} * fmt_.page_size, run_.data(), run_.size());
    if (!s) writeFailed(path_, s);
    run_.clear();
  }
  void close() {
    flush();
    OsStatus s = file_->truncate(uint64_t{count_} * fmt_.page_size);
    if (s) s = file_->sync();
    if (s) s = file_->close();
    if (!s) writeFailed(path_, s);
  }

 private:
  static constexpr size_t kRunBytes = 1 << 20;
  std::string path_;
  const Format& fmt_;
  std::unique_ptr<OsFile> file_;
  uint32_t count_ = 0;
  std::vector<uint8_t> run_;
  uint32_t run_start_ = 0;
};

// ---------------------------------------------------------------------------
// A table being written.

struct DatabaseCreator::Table : LongValueStore {
  Table(const Format& f, PageFile& file) : fmt(f), file(file), data(f, 0) {}

  const Format& fmt;
  PageFile& file;
  std::unique_ptr<TableDef> def;
  TableExtras extras;
  std::unique_ptr<RowPacker> packer;
  std::vector<IndexKeyEncoder> encoders;  // per real index
  std::vector<IndexEntryBuffer> entries;  // per real index
  std::vector<BuiltIndex> built;          // per real index, once complete
  std::vector<uint32_t> tdef_pages;
  DataPageBuilder data;
  std::vector<uint32_t> data_pages;
  struct LongValueColumn {
    uint16_t number;
    DataPageBuilder page;
    std::vector<uint32_t> pages;
  };
  std::vector<LongValueColumn> long_values;
  std::optional<size_t> autonumber_column;
  int64_t autonumber = 0;
  uint32_t rows = 0;
  bool complete = false;
  std::vector<Value> scratch;
  std::vector<uint8_t> row_bytes;

  uint32_t page() const { return def->page; }

  LongValueRef store(const Column& column, const std::vector<uint8_t>& bytes) override {
    LongValueColumn* lv = nullptr;
    for (LongValueColumn& c : long_values) {
      if (c.number == column.number) lv = &c;
    }
    if (!lv) throw std::logic_error("long value for a column without long-value pages");
    return layOutLongValue(fmt, bytes,
                           [&](const uint8_t* row, size_t size) { return place(*lv, row, size); });
  }

  uint32_t place(LongValueColumn& lv, const uint8_t* bytes, size_t size) {
    if (!lv.page.fits(size)) {
      if (lv.page.started()) file.write(lv.page.number(), lv.page.finish());
      lv.page.start(file.allocate());
      lv.pages.push_back(lv.page.number());
    }
    const uint8_t row = lv.page.add(bytes, size);
    return RowId{lv.page.number(), row}.toPointer();
  }
};

struct DatabaseCreator::Relationship {
  RelationshipDesign design;
  size_t primary = 0, foreign = 0;
  uint32_t primary_real = 0, foreign_real = 0;
  bool checked = false;
};

DatabaseCreator::DatabaseCreator(std::string path, CreateOptions options, Os& os)
    : path_(std::move(path)), options_(options), fmt_(&formatFor(options.version)), os_(&os) {
  if (options_.creation_date < 0) options_.creation_date = joinDateTime({2026, 1, 1, 0, 0, 0});
  file_ = std::make_unique<PageFile>(os, path_, *fmt_);
  // Page 0 (header), page 1 (global map), pages 2-5 (system TDEFs).
  file_->allocate();
  file_->allocate();
  for (const TableDesign& design : systemTableDesigns(*fmt_)) createTable(design, true);
}

DatabaseCreator::~DatabaseCreator() {
  if (!finished_) {
    file_.reset();
    os_->remove(path_);
  }
}

DatabaseCreator::Table& DatabaseCreator::tableAt(size_t handle) {
  if (handle >= tables_.size() - kSystemTables) throw std::out_of_range("no such table");
  return *tables_[handle + kSystemTables];
}

size_t DatabaseCreator::createTable(const TableDesign& design, bool system) {
  auto t = std::make_unique<Table>(*fmt_, *file_);
  t->def = std::make_unique<TableDef>(layoutTable(*fmt_, design, system));
  t->extras.system = system;
  t->def->page = file_->allocate();
  t->tdef_pages.push_back(t->def->page);
  t->data = DataPageBuilder(*fmt_, t->def->page);
  for (size_t i = 0; i < t->def->columns.size(); ++i) {
    const Column& c = t->def->columns[i];
    if (c.isLongValue())
      t->long_values.push_back({c.number, DataPageBuilder(*fmt_, kLongValueOwner), {}});
    if (c.isAutonumber() && c.type() == ColumnType::Long) t->autonumber_column = i;
  }
  t->packer =
      std::make_unique<RowPacker>(*fmt_, t->def->columns, t->def->max_cols, t->def->var_slots);
  std::vector<SortOrder> sorts(t->def->columns.size());
  for (size_t i = 0; i < sorts.size(); ++i) {
    if (t->def->columns[i].type() == ColumnType::Text) sorts[i] = {kGeneralSortLcid, 0};
  }
  for (const RealIndex& r : t->def->real_indexes) {
    t->encoders.emplace_back(*fmt_, *t->def, r, sorts);
    t->entries.emplace_back();
  }
  tables_.push_back(std::move(t));
  return tables_.size() - 1;
}

size_t DatabaseCreator::addTable(const TableDesign& design) {
  if (finished_) throw std::logic_error("database already finished");
  for (const auto& t : tables_) {
    if (equalsIgnoreCase(t->def->name, design.name)) {
      throw JetError(Msg::kTableExists, design.name);
    }
  }
  return createTable(design, false) - kSystemTables;
}

void DatabaseCreator::addRelationship(const RelationshipDesign& design) {
  if (finished_) throw std::logic_error("database already finished");
  auto find = [&](const std::string& name) -> size_t {
    for (size_t i = kSystemTables; i < tables_.size(); ++i) {
      if (equalsIgnoreCase(tables_[i]->def->name, name)) return i;
    }
    throw JetError(Msg::kUnknownTable, name);
  };
  Relationship rel;
  rel.design = design;
  rel.primary = find(design.primary_table);
  rel.foreign = find(design.foreign_table);
  Table& p = *tables_[rel.primary];
  Table& f = *tables_[rel.foreign];
  if (design.primary_columns.empty() ||
      design.primary_columns.size() != design.foreign_columns.size() ||
      design.primary_columns.size() > kIndexColumnSlots) {
    throw JetError(Msg::kRelationNoColumns, design.name);
  }
  if (p.rows > 0 || f.rows > 0 || p.complete || f.complete) {
    throw std::logic_error("relationships must be added before rows");
  }
  for (const Relationship& other : relationships_) {
    if (equalsIgnoreCase(other.design.name, design.name)) {
      throw JetError(Msg::kRelationExists, design.name);
    }
  }
  auto columns = [&](Table& t, const std::vector<std::string>& names) {
    std::vector<uint16_t> numbers;
    for (const std::string& n : names) {
      auto pos = t.def->findColumn(n);
      if (!pos) throw JetError(Msg::kUnknownField, n);
      numbers.push_back(t.def->columns[*pos].number);
    }
    return numbers;
  };
  const std::vector<uint16_t> pc = columns(p, design.primary_columns);
  const std::vector<uint16_t> fc = columns(f, design.foreign_columns);
  for (size_t k = 0; k < pc.size(); ++k) {
    if (p.def->columnByNumber(pc[k])->type_code != f.def->columnByNumber(fc[k])->type_code) {
      throw JetError(Msg::kRelationTypes, design.name);
    }
  }
  if (design.enforce_integrity) {
    const uint32_t p_index = addForeignKeyIndex(*p.def, pc, true, design.name, f.def->page,
                                                design.cascade_updates, design.cascade_deletes);
    const uint32_t f_index = addForeignKeyIndex(*f.def, fc, false, design.name, p.def->page,
                                                design.cascade_updates, design.cascade_deletes);
    p.def->logical_indexes[p_index].related_index = static_cast<int32_t>(f_index);
    f.def->logical_indexes[f_index].related_index = static_cast<int32_t>(p_index);
    rel.primary_real = p.def->logical_indexes[p_index].real_index;
    rel.foreign_real = f.def->logical_indexes[f_index].real_index;
    if (!(p.def->real_indexes[rel.primary_real].flags & RealIndex::kUnique)) {
      throw JetError(Msg::kRelationNotUnique, design.name, design.primary_table);
    }
    // A real index added for the key gets its encoder and entry buffer.
    for (Table* t : {&p, &f}) {
      std::vector<SortOrder> sorts(t->def->columns.size());
      for (size_t i = 0; i < sorts.size(); ++i) {
        if (t->def->columns[i].type() == ColumnType::Text) sorts[i] = {kGeneralSortLcid, 0};
      }
      t->encoders.clear();
      for (const RealIndex& r : t->def->real_indexes)
        t->encoders.emplace_back(*fmt_, *t->def, r, sorts);
      t->entries.resize(t->def->real_indexes.size());
    }
  }
  relationships_.push_back(std::move(rel));
}

RowId DatabaseCreator::insert(size_t handle, const std::vector<Value>& values) {
  tableAt(handle);
  return insertAt(handle + kSystemTables, values);
}

RowId DatabaseCreator::insertAt(size_t index, const std::vector<Value>& values) {
  if (finished_) throw std::logic_error("database already finished");
  Table& t = *tables_[index];
  if (t.complete) throw std::logic_error("table already complete");
  const std::vector<Value>* row = &values;
  if (t.autonumber_column) {
    const size_t a = *t.autonumber_column;
    if (a < values.size() && values[a].isNull()) {
      t.scratch = values;
      t.scratch[a] = Value::integer(t.autonumber + 1);
      row = &t.scratch;
    }
  }
  if (row->size() != t.def->columns.size()) {
    throw JetError(Msg::kTypeMismatch);
  }
  t.packer->pack(*row, &t, t.row_bytes);
  if (!t.data.fits(t.row_bytes.size())) {
    if (t.data.started()) file_->write(t.data.number(), t.data.finish());
    t.data.start(file_->allocate());
    t.data_pages.push_back(t.data.number());
  }
  const RowId id{t.data.number(), t.data.add(t.row_bytes.data(), t.row_bytes.size())};

  for (size_t r = 0; r < t.encoders.size(); ++r) {
    const RealIndex& real = t.def->real_indexes[r];
    if ((real.flags & RealIndex::kIgnoreNulls) && t.encoders[r].allNull(*row)) continue;
    KeyResult key = t.encoders[r].encode(*row);
    if (!key.ok()) {
      throw JetError(Msg::kRowNotIndexable, t.def->name, key.problem);
    }
    t.entries[r].add(key.bytes, id);
  }
  if (t.autonumber_column) {
    t.autonumber = std::max<int64_t>(t.autonumber, (*row)[*t.autonumber_column].asInt());
  }
  ++t.rows;
  return id;
}

void DatabaseCreator::flushPages(Table& t) {
  if (t.data.started()) file_->write(t.data.number(), t.data.finish());
  for (Table::LongValueColumn& lv : t.long_values) {
    if (lv.page.started()) file_->write(lv.page.number(), lv.page.finish());
  }
}

void DatabaseCreator::buildIndexes(Table& t) {
  IndexPageSink sink;
  sink.allocate = [this] { return file_->allocate(); };
  sink.write = [this](uint32_t page, const uint8_t* bytes) { file_->write(page, bytes); };
  t.built.clear();
  for (size_t r = 0; r < t.def->real_indexes.size(); ++r) {
    RealIndex& real = t.def->real_indexes[r];
    IndexBuildOptions options;
    options.owner = t.page();
    options.unique = (real.flags & RealIndex::kUnique) != 0;
    for (const IndexColumn& c : real.columns)
      options.null_key.push_back(c.ascending ? kNullAsc : kNullDesc);
    try {
      t.built.push_back(buildIndex(*fmt_, t.entries[r], options, sink));
    } catch (const DuplicateKeyError&) {
      std::string index;
      for (const LogicalIndex& l : t.def->logical_indexes) {
        if (l.real_index == r && index.empty()) index = l.name;
      }
      throw JetError(Msg::kDuplicateKey, t.def->name, index);
    }
    real.root_page = t.built.back().root;
    t.extras.distinct_keys.push_back(static_cast<uint32_t>(t.built.back().distinct_keys));
  }
}

void DatabaseCreator::completeTable(size_t handle) {
  tableAt(handle);
  completeAt(handle + kSystemTables);
}

void DatabaseCreator::completeAt(size_t index) {
  Table& t = *tables_[index];
  if (t.complete) return;
  flushPages(t);
  buildIndexes(t);
  t.complete = true;
  checkRelationships();
}

// Every enforced relationship whose two tables are complete: each non-null
// foreign key must be a key of the referenced index. Both entry lists are
// sorted by now; a list no unchecked relationship needs is freed.
void DatabaseCreator::checkRelationships() {
  for (Relationship& rel : relationships_) {
    if (rel.checked || !rel.design.enforce_integrity) continue;
    Table& p = *tables_[rel.primary];
    Table& f = *tables_[rel.foreign];
    if (!p.complete || !f.complete) continue;
    IndexEntryBuffer& keys = p.entries[rel.primary_real];
    IndexEntryBuffer& refs = f.entries[rel.foreign_real];
    std::vector<uint8_t> null_key;
    for (const IndexColumn& c : f.def->real_indexes[rel.foreign_real].columns) {
      null_key.push_back(c.ascending ? kNullAsc : kNullDesc);
    }
    std::vector<uint8_t> key, ref;
    RowId row;
    size_t k = 0;
    for (size_t i = 0; i < refs.size(); ++i) {
      refs.get(i, ref, row);
      if (ref == null_key) continue;  // all columns null
      bool found = false;
      while (k < keys.size()) {
        keys.get(k, key, row);
        if (key < ref) {
          ++k;
          continue;
        }
        found = key == ref;
        break;
      }
      if (!found) {
        throw JetError(Msg::kRelatedRecordNeeded, p.def->name);
      }
    }
    rel.checked = true;
  }
  // Free the entries nothing waits for.
  for (size_t i = 0; i < tables_.size(); ++i) {
    Table& t = *tables_[i];
    if (!t.complete) continue;
    for (size_t r = 0; r < t.entries.size(); ++r) {
      bool needed = false;
      for (const Relationship& rel : relationships_) {
        if (rel.checked || !rel.design.enforce_integrity) continue;
        needed = needed || (rel.primary == i && rel.primary_real == r) ||
                 (rel.foreign == i && rel.foreign_real == r);
      }
      if (!needed) t.entries[r].clear();
    }
  }
}

namespace {

// Positions of the system tables, in the order systemTableDesigns() gives
// them.
constexpr size_t kObjectsTable = 0;
constexpr size_t kAcesTable = 1;
constexpr size_t kRelationshipsTable = 3;

// The catalog Id of relationship `k`.
int32_t relationshipId(size_t k) {
  return static_cast<int32_t>(kFirstSyntheticId + k);
}

}  // namespace

// The catalog rows of every object, the permission rows of Jet's own
// objects and of the new tables and relationships, and one row per column
// pair of each relationship.
void DatabaseCreator::writeCatalog() {
  writeObjectRows();
  writePermissionRows();
  writeRelationshipRows();
}

// MSysObjects: the containers, the database, the tables (the engine's own
// first) and the relationships.
void DatabaseCreator::writeObjectRows() {
  const Value date = Value::dateTime(options_.creation_date);
  auto object = [&](int32_t id, int32_t parent, const std::string& name, int16_t type,
                    uint32_t flags, const std::string& owner) {
    std::vector<Value> row(tables_[kObjectsTable]->def->columns.size());
    row[0] = Value::integer(id);
    row[1] = Value::integer(parent);
    row[2] = Value::text(name);
    row[3] = Value::integer(type);
    row[4] = date;
    row[5] = date;
    row[6] = Value::bytes(owner);
    row[7] = Value::integer(static_cast<int32_t>(flags));
    insertAt(kObjectsTable, row);
  };
  object(CatalogEntry::kTablesContainer, kRootContainer, "Tables", kTypeContainer, kSystemObject,
         kSidEngine);
  object(kDatabasesContainer, kRootContainer, "Databases", kTypeContainer, kSystemObject,
         kSidEngine);
  object(kRelationshipsContainer, kRootContainer, "Relationships", kTypeContainer, kSystemObject,
         kSidEngine);
  object(kDatabaseObject, kDatabasesContainer, "MSysDb", kTypeDatabase, kSystemObject, kSidAdmin);
  for (size_t i = 0; i < kSystemTables; ++i) {
    object(static_cast<int32_t>(tables_[i]->page()), CatalogEntry::kTablesContainer,
           tables_[i]->def->name, CatalogEntry::kLocalTable, kSystemObject, kSidEngine);
  }
  for (size_t i = kSystemTables; i < tables_.size(); ++i) {
    object(static_cast<int32_t>(tables_[i]->page()), CatalogEntry::kTablesContainer,
           tables_[i]->def->name, CatalogEntry::kLocalTable, 0, kSidAdmin);
  }
  for (size_t k = 0; k < relationships_.size(); ++k) {
    object(relationshipId(k), kRelationshipsContainer, relationships_[k].design.name,
           kTypeRelationship, 0, kSidAdmin);
  }
}

// MSysACEs: who may do what with each object.
void DatabaseCreator::writePermissionRows() {
  auto ace = [&](int32_t id, const std::string& sid, int32_t acm, bool inheritable) {
    insertAt(kAcesTable, {Value::integer(id), Value::bytes(sid), Value::integer(acm),
                          Value::boolean(inheritable)});
  };
  // Jet's own objects, as a new file has them.
  ace(2, kSidAdmin, 393216, false);
  ace(3, kSidAdmin, 393216, false);
  ace(4, kSidAdmin, 393216, false);
  ace(5, kSidAdmin, 917504, false);
  ace(CatalogEntry::kTablesContainer, kSidCreator, 983294, true);
  ace(CatalogEntry::kTablesContainer, kSidAdmin, 393217, false);
  ace(kRelationshipsContainer, kSidCreator, 983294, true);
  ace(kRelationshipsContainer, kSidAdmin, 393217, false);
  ace(kDatabasesContainer, kSidAdmin, 393216, false);
  ace(kDatabaseObject, kSidAdmin, 393230, false);
  ace(kDatabaseObject, kSidAdmins, 14, false);
  ace(4, kSidAdmins, 20, false);
  ace(5, kSidAdmins, 20, false);
  ace(2, kSidAdmins, 20, false);
  ace(CatalogEntry::kTablesContainer, kSidAdmins, 1048319, true);
  ace(kRelationshipsContainer, kSidAdmins, 1048575, true);
  // What the containers pass on to the objects made in them.
  for (size_t i = kSystemTables; i < tables_.size(); ++i) {
    const int32_t id = static_cast<int32_t>(tables_[i]->page());
    ace(id, kSidAdmin, 1048319, false);
    ace(id, kSidAdmins, 1048319, false);
  }
  for (size_t k = 0; k < relationships_.size(); ++k) {
    ace(relationshipId(k), kSidAdmin, 1048575, false);
    ace(relationshipId(k), kSidAdmins, 1048575, false);
  }
}

// MSysRelationships: one row per column pair.
void DatabaseCreator::writeRelationshipRows() {
  for (const Relationship& rel : relationships_) {
    const RelationshipDesign& s = rel.design;
    uint32_t grbit = 0;
    if (!s.enforce_integrity) grbit |= jet::Relationship::kNotEnforced;
    if (s.cascade_updates) grbit |= jet::Relationship::kCascadeUpdates;
    if (s.cascade_deletes) grbit |= jet::Relationship::kCascadeDeletes;
    const TableDef& fd = *tables_[rel.foreign]->def;
    const TableDef& pd = *tables_[rel.primary]->def;
    for (size_t k = 0; k < s.primary_columns.size(); ++k) {
      insertAt(
          kRelationshipsTable,
          {Value::text(s.name), Value::integer(static_cast<int32_t>(grbit)),
           Value::integer(static_cast<int64_t>(s.primary_columns.size())),
           Value::integer(static_cast<int64_t>(k)), Value::text(fd.name),
           Value::text(fd.columns[*fd.findColumn(s.foreign_columns[k])].name), Value::text(pd.name),
           Value::text(pd.columns[*pd.findColumn(s.primary_columns[k])].name)});
    }
  }
}

// Usage maps of every table (one map page per table holding its rows), then
// the table definitions with their final counts and pointers.
void DatabaseCreator::writeMapsAndDefinitions() {
  auto allocate = [this] { return file_->allocate(); };
  for (auto& tp : tables_) {
    Table& t = *tp;
    struct Map {
      std::vector<uint32_t> pages;
      uint32_t* pointer;
    };
    std::vector<Map> maps;
    auto lastOf = [](const std::vector<uint32_t>& pages) {
      return pages.empty() ? std::vector<uint32_t>{} : std::vector<uint32_t>{pages.back()};
    };
    maps.push_back({t.data_pages, &t.def->used_map});
    maps.push_back({lastOf(t.data_pages), &t.def->free_map});
    for (size_t r = 0; r < t.def->real_indexes.size(); ++r) {
      maps.push_back({t.built[r].pages, &t.def->real_indexes[r].used_map});
    }
    t.extras.long_value_maps.clear();
    t.extras.long_value_maps.resize(t.long_values.size());
    for (size_t k = 0; k < t.long_values.size(); ++k) {
      t.extras.long_value_maps[k].column_number = t.long_values[k].number;
      maps.push_back({t.long_values[k].pages, &t.extras.long_value_maps[k].owned});
      maps.push_back({lastOf(t.long_values[k].pages), &t.extras.long_value_maps[k].free});
    }
    DataPageBuilder page(*fmt_, 0);
    for (Map& m : maps) {
      UsageMapImage img = buildUsageMap(*fmt_, m.pages, allocate);
      for (const auto& [number, bytes] : img.pages) file_->write(number, bytes);
      if (!page.fits(img.row.size())) {
        if (page.started()) file_->write(page.number(), page.finish());
        page.start(file_->allocate());
      }
      const uint8_t row = page.add(img.row.data(), img.row.size());
      *m.pointer = RowId{page.number(), row}.toPointer();
    }
    file_->write(page.number(), page.finish());

    t.def->row_count = t.rows;
    t.def->autonumber = static_cast<uint32_t>(t.autonumber);
    const std::vector<uint8_t> definition = encodeTableDefinition(*fmt_, *t.def, t.extras);
    const size_t count = tableDefinitionPages(*fmt_, definition.size());
    while (t.tdef_pages.size() < count) t.tdef_pages.push_back(file_->allocate());
    const auto pages = splitTableDefinition(*fmt_, definition, t.tdef_pages);
    for (size_t i = 0; i < pages.size(); ++i) file_->write(t.tdef_pages[i], pages[i]);
  }
}

// Page 1 holds the global map: row 0 marks the free pages (none inside the
// file; every page past its end), row 1 is zeros as Jet leaves it. A file
// too large for an inline row gets a reference row and map pages.
void DatabaseCreator::writeGlobalMapAndHeader() {
  const size_t row1 = usageMapRowSize(*fmt_);
  const size_t room = fmt_->page_size - slotOffset(*fmt_, 2) - row1;
  std::vector<uint8_t> row0 = inlineGlobalMap(*fmt_, file_->count(), room);
  if (row0.empty()) {
    size_t needed = globalMapPagesNeeded(*fmt_, file_->count());
    while (globalMapPagesNeeded(*fmt_, static_cast<uint32_t>(file_->count() + needed)) > needed) {
      ++needed;
    }
    std::vector<uint32_t> map_pages;
    for (size_t i = 0; i < needed; ++i) map_pages.push_back(file_->allocate());
    UsageMapImage img = referenceGlobalMap(*fmt_, file_->count(), map_pages);
    for (const auto& [number, bytes] : img.pages) file_->write(number, bytes);
    row0 = std::move(img.row);
  }
  DataPageBuilder page1(*fmt_, kGlobalMapOwner);
  page1.start(kGlobalMapPage);
  page1.add(row0.data(), row0.size());
  const std::vector<uint8_t> zeros(row1, 0);
  page1.add(zeros.data(), zeros.size());
  file_->write(kGlobalMapPage, page1.finish());
  file_->write(0, encodeHeaderPage(*fmt_, options_.creation_date));
}

void DatabaseCreator::finish() {
  if (finished_) throw std::logic_error("database already finished");
  for (size_t i = kSystemTables; i < tables_.size(); ++i) completeAt(i);
  writeCatalog();
  for (size_t i = 0; i < kSystemTables; ++i) completeAt(i);
  writeMapsAndDefinitions();
  writeGlobalMapAndHeader();
  file_->close();
  finished_ = true;
}

}  // namespace jet
