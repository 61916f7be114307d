#include "recordset.h"

#include "jet/error.h"

namespace db {

namespace {

[[noreturn]] void throwNoCurrentRecord() {
  throw jet::JetError(jet::Msg::kNoCurrentRecord);
}

}  // namespace

Recordset::Recordset(std::shared_ptr<jet::Database> database, jet::Table table,
                     std::vector<jet::RowId> rows)
    : database_(std::move(database)),
      table_(table),
      rows_(std::move(rows)),
      deleted_(rows_.size(), false) {}

bool Recordset::isEOF() const {
  return rows_.empty() || position_ >= static_cast<long>(rows_.size());
}
bool Recordset::isBOF() const {
  return rows_.empty() || position_ < 0;
}

bool Recordset::hasCurrentRow() const {
  return !isEOF() && !isBOF() && !deleted_[static_cast<size_t>(position_)];
}

long Recordset::nextLive(long from) const {
  long n = static_cast<long>(rows_.size());
  while (from < n && deleted_[static_cast<size_t>(from)]) ++from;
  return from;
}

void Recordset::moved() {
  if (on_move_) on_move_();
}

void Recordset::MoveFirst() {
  if (rows_.empty()) throwNoCurrentRecord();
  position_ = nextLive(0);
  moved();
}

void Recordset::MoveNext() {
  if (isEOF()) throwNoCurrentRecord();
  position_ = nextLive(position_ + 1);
  moved();
}

void Recordset::MoveLast(int /*options*/) {
  if (rows_.empty()) throwNoCurrentRecord();
  long p = static_cast<long>(rows_.size()) - 1;
  while (p >= 0 && deleted_[static_cast<size_t>(p)]) --p;
  position_ = p < 0 ? static_cast<long>(rows_.size()) : p;
  moved();
}

long Recordset::RecordCount() const {
  return static_cast<long>(rows_.size()) - deleted_count_;
}

void Recordset::requireCurrent() const {
  if (isEOF() || isBOF()) throwNoCurrentRecord();
  if (deleted_[static_cast<size_t>(position_)]) {
    throw jet::JetError(jet::Msg::kRecordDeleted);
  }
}

void Recordset::Delete() {
  requireCurrent();
  database_->deleteRow(table_, rows_[static_cast<size_t>(position_)]);
  deleted_[static_cast<size_t>(position_)] = true;
  ++deleted_count_;
}

jet::Value Recordset::field(std::string_view name) const {
  requireCurrent();
  auto index = table_.def().findColumn(name);
  if (!index) {
    throw jet::JetError(jet::Msg::kItemNotFound);
  }
  return table_.read(rows_[static_cast<size_t>(position_)], *index);
}

void Recordset::readAhead(std::string_view name, size_t count,
                          const std::function<void(const jet::Value&)>& visit) const {
  auto index = table_.def().findColumn(name);
  if (!index) throw jet::JetError(jet::Msg::kItemNotFound);
  long p = nextLive(std::max(position_, 0L));
  for (size_t n = 0; n < count && p < static_cast<long>(rows_.size()); ++n, p = nextLive(p + 1)) {
    visit(table_.read(rows_[static_cast<size_t>(p)], *index));
  }
}

}  // namespace db
