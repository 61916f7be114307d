// An open Access database file: its tables, their rows, and deleting rows as
// Access does, in units of work.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "jet/table_def.h"
#include "jet/types.h"
#include "jet/value.h"

namespace jet {

// The engine's own parts, which its accessors below hand to the engine's
// layers; a program has no use for them.
class ByteView;
class IndexLookup;
class PageSource;
class ValueDecoder;
struct CatalogEntry;
struct Format;
struct Header;
struct Relationship;

class Table;

class Database {
 public:
  // Opens the file, read-only unless asked. Throws JetError: 3024 when it
  // does not exist, 3051 when it cannot be opened, 3031 when it has a
  // database password, 3343 (naming the file and the reason) when it is no
  // Access 97-2003 database, is larger than Access allows or is damaged, or
  // when the journal of an interrupted write beside it cannot be played
  // back (damaged, or made for another file; both files are named and left
  // as they are). The file is reached through `os` (tests pass their own).
  explicit Database(const std::string& path, OpenMode mode = OpenMode::ReadOnly,
                    Os& os = systemOs());
  ~Database();
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  const std::string& path() const;
  Version version() const;

  // The user tables' names, in catalog order.
  std::vector<std::string> tableNames() const;
  // A user or system table by name, without regard to case. Throws 3078.
  Table table(std::string_view name) const;
  bool hasTable(std::string_view name) const;
  // The properties of a table (its own block and its columns'), the table
  // named without regard to case; empty when it has none or there is no
  // such table.
  std::vector<PropertyBlock> properties(std::string_view table) const;

  // Units of work: every change between begin and commit reaches the file
  // whole at commit, or not at all (rollback, or a crash before the commit
  // completed). A change made outside a unit is a unit of its own.
  bool writable() const;
  void begin();
  void commit();
  void rollback();
  bool inUnit() const;
  // A savepoint in the open unit; rollbackToSavepoint takes back every
  // change made since and leaves the unit open.
  void savepoint();
  void rollbackToSavepoint();

  // Deletes deferred to the commit, for a unit that deletes many rows spread
  // over a large file. From this call to the end of the open unit, deleteRow
  // refuses what it can tell without reading the row (3027, 3200, a row
  // already pending or beyond the file, the rows a cascade takes checked
  // too) and then only records the rows: from then on they are gone for
  // every reader of this Database (Table::isLive, scan, rowIds, read, the
  // SQL select), as if deleted. rollbackToSavepoint takes back the rows
  // recorded since the savepoint, rollback all of them. commit reads and
  // deletes them all first, table by table, in the file's order: each data
  // page read and changed once, then each index in one pass along its
  // leaves, its entries found by row pointer and checked against the rows'
  // values (an index that disagrees with its rows fails the commit); the
  // file ends as deleting the rows one by one leaves it, but for the order
  // of free space on the pages.
  // A row the commit finds it cannot delete (damaged, no longer live, not
  // of its table) is treated as if its delete had failed when it was
  // recorded: when the unit changed nothing else, the rows recorded from
  // that row's savepoint on are taken back, the rows before it committed,
  // and then the row's error is thrown. Any other failure of the commit (a
  // damaged index, a failed write, a row with no savepoint before it)
  // takes the whole unit back and throws. Outside a unit it does nothing:
  // each delete is a unit of its own.
  void deferDeletes();
  // The rows recorded by deferred deletes in the open unit.
  size_t pendingDeletes() const;

  // The write lock (the lock file beside the database) is taken by begin
  // and let go when the unit ends, so that other programs may write
  // between units. A caller whose units belong together holds it across
  // them for the life of a session: no other program writes in between.
  // Throws as begin does (3045 when another program holds the lock, 3027
  // on a read-only database).
  class WriteSession {
   public:
    explicit WriteSession(Database& db);
    ~WriteSession();
    WriteSession(const WriteSession&) = delete;
    WriteSession& operator=(const WriteSession&) = delete;

   private:
    Database* db_;
  };

  // Removes a live row from its table, as Access does: its index entries,
  // its long values and an overflow part go too, and the table's row count
  // drops. Rows related to it through an enforced relationship go too where
  // the relationship cascades deletions; otherwise the delete is refused
  // with 3200 and nothing changes. Throws 3027 on a read-only database.
  // After deferDeletes, the changes wait for the commit.
  void deleteRow(const Table& table, RowId id);
  // The most pages of the file kept in memory between operations (about
  // 28 MB unless set; 0: no limit). Changed pages past it are written
  // before the commit, through the journal (see io/page_source.h).
  void setCacheLimit(size_t pages);
  // Throws 3027 unless rows of the table may be deleted: the database is
  // open for writing, and the table is none of Access's own (a name that
  // starts with MSys, or one the catalog flags as a system object), which
  // Access keeps read-only. deleteRow checks it; a statement checks it
  // before it selects anything.
  void requireDeletable(const Table& table) const;

  // For the engine's layers.
  const Header& header() const;
  const Format& format() const;
  const PageSource& pages() const;
  const ValueDecoder& decoder() const;
  // Every catalog entry, in catalog order.
  const std::vector<CatalogEntry>& catalog() const;
  // The catalog entry of a table, by name without regard to case; null when none.
  const CatalogEntry* findTable(std::string_view name) const;
  // The definition at a TDEF page (cached for the life of the database).
  const TableDef& tableDefAt(uint32_t page, const std::string& name = {}) const;
  // Relationships between the tables (read once).
  const std::vector<Relationship>& relationships() const;
  // The rows of one column by value, built on first use and kept true by
  // deleteRow. Rows whose delete was deferred may still be listed: the
  // caller leaves out those isPendingDelete names.
  const IndexLookup& lookup(const Table& table, size_t column) const;
  // Tells the lookup of a whole-number column the values it is about to be
  // asked for, one by one: it reads their rows ahead in the order of the
  // column's index, which reads each index page once (see
  // index/index_lookup.h). Changes nothing that is asked.
  void prepareLookup(const Table& table, size_t column, std::vector<int64_t> values) const;
  // Whether the row's delete was deferred to the commit of the open unit.
  bool isPendingDelete(RowId id) const;

 private:
  struct State;

  void loadCatalog();
  void forgetRowCaches();

  std::unique_ptr<State> state_;
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
  // Calls `fn` for every live row, in the file's order (rows whose delete is
  // pending are not live).
  void scan(const std::function<void(RowId)>& fn) const;
  std::vector<RowId> rowIds() const;
  // Whether the row's slot still holds a live row (a delete that cascaded
  // may have taken a row selected before it) whose delete is not pending.
  bool isLive(RowId id) const;

  // Column `index` (position in def().columns) of the row.
  Value read(RowId id, size_t index) const;
  std::vector<Value> readRow(RowId id) const;

  // The stored bytes of a live row, following a moved row to its data.
  // Throws a format error when the id names no live row. The view lasts as
  // long as the page source's scope it was taken in (for the engine's
  // layers; see io/page_source.h).
  ByteView rowBytes(RowId id) const;

 private:
  const Database* db_;
  const TableDef* def_;
};

}  // namespace jet
