// An open Access database file: its header, its catalog and its tables.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "catalog.h"
#include "data_page.h"
#include "format.h"
#include "header.h"
#include "page_source.h"
#include "properties.h"
#include "table_def.h"
#include "value.h"
#include "value_decoder.h"

namespace jet {

class Table;

class Database {
 public:
  // Opens the file read-only. Throws JetError: 3024 when it does not exist,
  // 3051 when it cannot be opened, 3343 (naming the file and the reason)
  // when it is no Access 97-2003 database or is damaged.
  explicit Database(const std::string& path);
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
  // Removes a live row from its table. Not yet possible: the file is opened
  // read-only, and the call throws 3027.
  void deleteRow(const Table& table, RowId id);

  // The definition at a TDEF page (cached for the life of the database).
  const TableDef& tableDefAt(uint32_t page, const std::string& name = {}) const;

 private:
  void loadCatalog();

  std::unique_ptr<PageSource> pages_;
  Header header_;
  const Format* format_ = nullptr;
  ValueDecoder decoder_;
  std::vector<CatalogEntry> catalog_;
  mutable std::map<uint32_t, std::unique_ptr<TableDef>> defs_;
};

// A table of an open database. Rows are named by row id; a moved row keeps
// the id of the slot that points to its data.
class Table {
 public:
  Table(const Database& db, const TableDef& def) : db_(&db), def_(&def) {}

  const TableDef& def() const { return *def_; }
  const std::string& name() const { return def_->name; }

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
