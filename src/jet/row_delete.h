// Deleting rows as Access does. One row goes with everything that belongs to
// it: its entries in every index of its table, its long values and an
// overflow part, its slot, and one from the table's row count; the lookups
// of its table forget it. Rows that cascading relationships take with it go
// first (see delete_plan.h), all in one unit of work.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "index/index_delete.h"
#include "jet/database.h"

namespace jet {

class LookupCache;

class RowDeleter {
 public:
  // `pages` is the database's own page source, written through; `lookups`
  // the database's lookups, kept true.
  RowDeleter(Database& db, PageSource& pages, LookupCache& lookups);

  // Database::deleteRow: the row and the rows it takes with it, inside the
  // open unit of work or in one of their own.
  void deleteRow(const Table& table, RowId id);

  // Forgets the index leaves remembered between rows (after a rollback put
  // pages back).
  void forgetLeaves();

 private:
  void deleteOne(const TableDef& def, RowId id);
  std::vector<IndexEntryRemover>& removersOf(const TableDef& def);

  Database& db_;
  PageSource& pages_;
  LookupCache& lookups_;
  // Per table (first TDEF page), one remover per real index, in order.
  std::map<uint32_t, std::vector<IndexEntryRemover>> removers_;
};

}  // namespace jet
