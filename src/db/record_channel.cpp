#include "record_channel.h"

#include "db/connections.h"
#include "db/record_source.h"
#include "jet/error.h"

namespace db {

RecordChannel::RecordChannel(std::string record_source, jet::Os& os)
    : os_(&os), record_source_(std::move(record_source)) {}

void RecordChannel::setDatabaseName(const std::string& path) {
  database_name_ = path;
  for (RecordChannel* f : followers_) f->setDatabaseName(path);
}

void RecordChannel::Refresh() {
  if (!database_ || opened_name_ != database_name_) {
    database_ = openShared(database_name_, *os_);
    opened_name_ = database_name_;
  }
  Selection sel = selectRows(*database_, record_source_);
  recordset_ = std::make_unique<Recordset>(database_, sel.table, std::move(sel.rows));
  recordset_->setMoveListener([this] { notify(); });
  notify();
}

Recordset& RecordChannel::recordset() {
  if (!recordset_) throw jet::JetError(jet::Msg::kNoCurrentRecord);
  return *recordset_;
}

void RecordChannel::notify() {
  for (auto& l : listeners_) l(*recordset_);
}

}  // namespace db
