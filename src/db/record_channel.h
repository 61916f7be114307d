// A record channel: a database name, a record source (a table name or a
// SELECT text) and the recordset it last opened.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "db/recordset.h"
#include "jet/types.h"

namespace db {

class RecordChannel {
 public:
  // The channel reaches its files through `os` (tests pass their own).
  explicit RecordChannel(std::string record_source = {}, jet::Os& os = jet::systemOs());

  const std::string& DatabaseName() const { return database_name_; }
  void setDatabaseName(const std::string& path);
  const std::string& RecordSource() const { return record_source_; }
  void setRecordSource(const std::string& source) { record_source_ = source; }

  // Opens a recordset over the current database name and record source,
  // replacing the previous one; the cursor stands on the first row.
  void Refresh();

  // The open recordset. Throws 3021 before the first Refresh.
  Recordset& recordset();
  bool isOpen() const { return recordset_ != nullptr; }

  // Channels that follow this one's database name.
  void addFollower(RecordChannel* other) { followers_.push_back(other); }
  // Called after every Refresh and cursor move, with the recordset (the
  // bound field view listens).
  void onCursorMoved(std::function<void(const Recordset&)> listener) {
    listeners_.push_back(std::move(listener));
  }

 private:
  void notify();

  jet::Os* os_;
  std::string database_name_;
  std::string record_source_;
  std::unique_ptr<Recordset> recordset_;
  std::shared_ptr<jet::Database> database_;  // kept while the database name stays
  std::string opened_name_;
  std::vector<RecordChannel*> followers_;
  std::vector<std::function<void(const Recordset&)>> listeners_;
};

}  // namespace db
