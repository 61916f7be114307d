// Creating a new database file from nothing: Jet 4 (Access 2000-2003) by
// default, Jet 3 (Access 97) on request.
//
// The file gets what Jet itself writes into a new database: the header page
// with its masked block, the global page map, the catalog (MSysObjects) with
// the Tables, Databases and Relationships containers and the MSysDb object,
// the permissions table (MSysACEs), and the empty query and relationship
// tables, each with its indexes. Tables are then added, filled in bulk and
// optionally related:
//
//   DatabaseCreator db(path);                 // Jet 4
//   size_t t = db.addTable(design);
//   db.insert(t, {Value::integer(1), Value::text("Ana")});
//   db.completeTable(t);                      // optional: builds its indexes now
//   db.finish();
//
// Rows fill data pages in the order they come, each page packed until the
// next row does not fit. Long values (memo, OLE) longer than 64 bytes go to
// long-value pages of their column. Index entries are gathered as rows come
// and each index is built in one pass once its table is complete. Finishing
// writes the catalog rows, the usage maps, the table definitions with their
// row counts and autonumber counters, the global page map and the header,
// and flushes the file to disk. Pages are written as soon as they are full,
// so memory holds only the index entries.
//
// The same calls give the same bytes: nothing depends on the clock (the
// creation date is an option) or on memory addresses.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "jet/column.h"
#include "jet/table_def.h"
#include "jet/types.h"
#include "jet/value.h"

namespace jet {

struct Format;

// A new table as a program describes it: its columns in order and its
// indexes by column name.
struct ColumnDesign {
  std::string name;
  ColumnType type = ColumnType::Long;
  // Text: characters (default 255); Binary: bytes (default 255); other
  // types take their own size.
  uint16_t size = 0;
  bool autonumber = false;         // Long Integer only
  bool compressed_unicode = true;  // Jet 4 Text and Memo
  uint8_t extra_flags = 0;         // more column flag bits (system tables)
};

struct IndexColumnDesign {
  std::string column;
  bool ascending = true;
};

struct IndexDesign {
  std::string name;
  std::vector<IndexColumnDesign> columns;
  bool primary_key = false;  // also unique and required
  bool unique = false;
  bool ignore_nulls = false;
  bool required = false;
};

struct TableDesign {
  std::string name;
  std::vector<ColumnDesign> columns;
  std::vector<IndexDesign> indexes;
};

struct CreateOptions {
  Version version = Version::Jet4;
  // Stamped into the header and on every catalog row (days since
  // 1899-12-30); negative means the default, 2026-01-01 00:00:00.
  double creation_date = -1;
};

struct RelationshipDesign {
  std::string name;
  std::string primary_table;  // the "one" side, whose key is referenced
  std::vector<std::string> primary_columns;
  std::string foreign_table;  // the "many" side
  std::vector<std::string> foreign_columns;
  bool enforce_integrity = true;
  bool cascade_updates = false;
  bool cascade_deletes = false;
};

class DatabaseCreator {
 public:
  // Creates (or truncates) the file at `path`. Throws JetError 3051 when it
  // cannot be created. Until finish() succeeds the file is not a database;
  // a creator destroyed before that removes it. The file is written through
  // `os` (tests pass their own).
  explicit DatabaseCreator(std::string path, CreateOptions options = {}, Os& os = systemOs());
  ~DatabaseCreator();
  DatabaseCreator(const DatabaseCreator&) = delete;
  DatabaseCreator& operator=(const DatabaseCreator&) = delete;

  // Adds a user table; returns its handle. Throws JetError 3010 when a table
  // of that name exists, 3343 when the description is not valid.
  size_t addTable(const TableDesign& design);

  // Relates two tables. With integrity enforced, both tables get a
  // foreign-key index (sharing the index on those columns when there is one)
  // and finishing checks that every non-null foreign key has its row. Call
  // it before rows are inserted into either table.
  void addRelationship(const RelationshipDesign& design);

  // Appends a row: one value per column, in the table's column order. A null
  // in an autonumber column gets the next number. Returns where the row went.
  // Throws JetError (see RowPacker::pack; 13 when an index cannot encode a
  // value).
  RowId insert(size_t handle, const std::vector<Value>& values);

  // Declares a table complete: its last pages are written and its indexes
  // built, freeing their entries. Later inserts into it throw. Throws
  // JetError 3022 for a duplicate key in a unique index, 3201 for a foreign
  // key without its row.
  void completeTable(size_t handle);

  // Completes every table, writes the catalog, maps, definitions and header,
  // and flushes the file.
  void finish();

 private:
  struct Table;
  class PageFile;
  struct Relationship;

  Table& tableAt(size_t handle);
  size_t createTable(const TableDesign& design, bool system);
  RowId insertAt(size_t index, const std::vector<Value>& values);
  void completeAt(size_t index);
  void flushPages(Table& t);
  void buildIndexes(Table& t);
  void checkRelationships();
  void writeCatalog();
  void writeObjectRows();
  void writePermissionRows();
  void writeRelationshipRows();
  void writeMapsAndDefinitions();
  void writeGlobalMapAndHeader();

  std::string path_;
  CreateOptions options_;
  const Format* fmt_;
  Os* os_;
  std::unique_ptr<PageFile> file_;
  std::vector<std::unique_ptr<Table>> tables_;  // the 4 system tables, then the user tables
  std::vector<Relationship> relationships_;
  bool finished_ = false;
};

}  // namespace jet
