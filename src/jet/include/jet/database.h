// An open Access database file: its header, its catalog and its tables.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "format/catalog.h"
#include "index/index_lookup.h"
#include "format/data_page.h"
#include "format/format.h"
#include "format/header.h"
#include "index/index_delete.h"
#include "io/page_source.h"
#include "format/properties.h"
#include "relationships.h"
#include "format/table_def.h"
#include "jet/value.h"
#include "format/value_decoder.h"

namespace jet {

class Table;

class Database {
 public:
  // Opens the file, read-only unless asked. Throws JetError: 3024 when it
  // does not exist, 3051 when it cannot be opened, 3343 (naming the file and
  // the reason) when it is no Access 97-2003 database or is damaged.
  explicit Database(const std::string& path, OpenMode mode = OpenMode::ReadOnly);
  ~Database();

  const std::string& path() const { return pages_->path(); }
  const Header& header() const { return header_; }
  const Format& format() const { return *format_; }
  const PageSource& pages() const { return *pages_; }
  const ValueDecoder& decoder() const { return decoder_; }

  // Every catalog entry, in catalog order.
  const std::vector<CatalogEntry>& catalog() const { return catalog_; }
  // The user tables' names, in catalog order.
  std::vector<std::string> tableNames() const;
  // A user or system table by name, without regard to case. Throws 3078.
  Table table(std::string_view name) const;
  bool hasTable(std::string_view name) const;
  // The catalog entry of a table, by name without regard to case; null when none.
  const CatalogEntry* findTable(std::string_view name) const;
  // The object's properties (the table's and its columns'); empty when it has none.
  std::vector<PropertyBlock> properties(const CatalogEntry& entry) const;
  // Units of work: every change between begin and commit reaches the file
  // whole at commit, or not at all (rollback, or a crash before the commit
  // completed). A change made outside a unit is a unit of its own.
  bool writable() const { return pages_->writable(); }
  void begin();
  void commit();
  void rollback();
  bool inUnit() const { return pages_->inUnit(); }
  // A savepoint in the open unit; rollbackToSavepoint takes back every
  // change made since and leaves the unit open.
  void savepoint();
  void rollbackToSavepoint();

  // Removes a live row from its table, as Access does: its index entries,
  // its long values and an overflow part go too, and the table's row count
  // drops. Rows related to it through an enforced relationship go too where
  // the relationship cascades deletions; otherwise the delete is refused
  // with 3200 and nothing changes. Throws 3027 on a read-only database.
  void deleteRow(const Table& table, RowId id);

  // Relationships between the tables (read once).
  const std::vector<Relationship>& relationships() const;
  // A lookup of one column's values, built on first use and kept true by deleteRow.
  const IndexLookup& lookup(const Table& table, size_t column) const;

  // The definition at a TDEF page (cached for the life of the database).
  const TableDef& tableDefAt(uint32_t page, const std::string& name = {}) const;

 private:
  void loadCatalog();
  void deleteOne(const TableDef& def, RowId id);
  void forgetRowCaches();

  std::unique_ptr<PageSource> pages_;
  Header header_;
  const Format* format_ = nullptr;
  ValueDecoder decoder_;
  std::vector<CatalogEntry> catalog_;
  mutable std::map<uint32_t, std::unique_ptr<TableDef>> defs_;
  mutable std::optional<std::vector<Relationship>> relationships_;
  mutable std::map<std::pair<uint32_t, size_t>, std::unique_ptr<IndexLookup>> lookups_;
  // Per table (first TDEF page), one remover per real index, in order.
  std::map<uint32_t, std::vector<IndexEntryRemover>> removers_;
};

// A table of an open database. Rows are named by row id; a moved row keeps
// the id of the slot that points to its data.
class Table {
 public:
  Table(const Database& db, const TableDef& def) : db_(&db), def_(&def) {}

  const TableDef& def() const { return *def_; }
  const std::string& name() const { return def_->name; }
  const Database& database() const { return *db_; }

  // The data pages the table's usage map lists and that the table owns.
  std::vector<uint32_t> dataPages() const;
  // Calls `fn` for every live row, in the file's order.
  void scan(const std::function<void(RowId)>& fn) const;
  std::vector<RowId> rowIds() const;

  // The stored bytes of a live row, following a moved row to its data.
  // Throws a format error when the id names no live row.
  ByteView rowBytes(RowId id) const;
  // Column `index` (position in def().columns) of the row.
  Value read(RowId id, size_t index) const;
  std::vector<Value> readRow(RowId id) const;

 private:
  const Database* db_;
  const TableDef* def_;
};

}  // namespace jet
