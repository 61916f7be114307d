// A dynaset over one table: the row ids a record source selected, fixed when
// it is opened, with a cursor. Rows are read from the file when asked for;
// a deletion goes to the file at once.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "jet/database.h"
#include "jet/value.h"

namespace db {

class Recordset {
 public:
  Recordset(std::shared_ptr<jet::Database> database, jet::Table table,
            std::vector<jet::RowId> rows);

  // True when the cursor is after the last row (isEOF) or before the first
  // (isBOF); both on an empty recordset. (EOF is a C macro, hence the names.)
  bool isEOF() const;
  bool isBOF() const;

  void MoveFirst();
  void MoveNext();
  void MoveLast(int options = 0);
  // The rows the recordset holds, less those it deleted.
  long RecordCount() const;

  // Removes the current row from its table at once. The cursor stays on the
  // removed row; the next MoveNext goes to the row that followed it.
  void Delete();

  // A field of the current row, by name without regard to case.
  jet::Value field(std::string_view name) const;
  // Reads the field of the live rows from the current one on, at most
  // `count` of them, for a caller about to visit them one by one.
  void readAhead(std::string_view name, size_t count,
                 const std::function<void(const jet::Value&)>& visit) const;
  bool hasCurrentRow() const;
  const jet::Table& table() const { return table_; }
  jet::Database& database() const { return *database_; }

  // Called after every cursor move (the channel's bound views listen).
  void setMoveListener(std::function<void()> listener) { on_move_ = std::move(listener); }

 private:
  void requireCurrent() const;
  long nextLive(long from) const;
  void moved();

  std::shared_ptr<jet::Database> database_;
  jet::Table table_;
  std::vector<jet::RowId> rows_;
  std::vector<bool> deleted_;
  long deleted_count_ = 0;
  long position_ = 0;  // -1 = BOF, rows_.size() = EOF
  std::function<void()> on_move_;
};

}  // namespace db
