#include "row_delete.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "delete_plan.h"
#include "format/data_page.h"
#include "format/long_value.h"
#include "format/row_layout.h"
#include "format/value_decoder.h"
#include "index/index_lookup.h"
#include "jet/error.h"
#include "row_read.h"

namespace jet {

namespace {

// A row's slot, or a slot it held a part in, left incoherent.
[[noreturn]] void throwBadSlots(const std::string& path, uint32_t page) {
  throwBadFormat(path,
                 "los huecos de filas de la página " + std::to_string(page) + " no son coherentes");
}

}  // namespace

void PendingRows::add(RowId id) {
  const uint32_t p = id.toPointer();
  if ((p >> 6) >= bits_.size()) {
    // Grown by half again, so that rows recorded up a large file cost few copies.
    bits_.resize(std::max<size_t>((p >> 6) + 1, bits_.size() + bits_.size() / 2), 0);
  }
  bits_[p >> 6] |= uint64_t{1} << (p & 63);
  log_.push_back(p);
}

void PendingRows::rollbackToMark() {
  for (size_t i = mark_; i < log_.size(); ++i) unset(log_[i]);
  log_.resize(mark_);
}

void PendingRows::clear() {
  std::vector<uint32_t>().swap(log_);
  std::vector<uint64_t>().swap(bits_);
  mark_ = 0;
}

std::vector<uint32_t> PendingRows::takeSorted() {
  std::vector<uint32_t> rows = std::move(log_);
  clear();
  std::sort(rows.begin(), rows.end());
  return rows;
}

RowDeleter::RowDeleter(Database& db, PageSource& pages, LookupCache& lookups)
    : db_(db), pages_(pages), lookups_(lookups) {}

void RowDeleter::deleteRow(const Table& table, RowId id) {
  db_.requireDeletable(table);
  const std::vector<DeleteStep> plan = planDelete(db_, table, id);
  // A relationship may cascade into a system table only in a damaged or
  // forged catalog; no row of one goes all the same.
  for (const DeleteStep& step : plan) db_.requireDeletable(Table(db_, *step.def));
  if (defer_ && db_.inUnit()) {
    // Every row is read as the delete would read it (a row no longer live,
    // a damaged row or long value are refused here, the plan whole or not
    // at all); then they are only recorded.
    for (const DeleteStep& step : plan) readParts(*step.def, step.row, indexedColumns(*step.def));
    for (const DeleteStep& step : plan) pending_.add(step.row);
    return;
  }
  const bool own_unit = !db_.inUnit();
  if (own_unit) db_.begin();
  try {
    for (const DeleteStep& step : plan) deleteOne(*step.def, step.row);
  } catch (...) {
    if (own_unit) db_.rollback();
    throw;
  }
  if (own_unit) db_.commit();
}

void RowDeleter::endUnit() {
  defer_ = false;
  pending_.clear();
}

void RowDeleter::forgetLeaves() {
  for (auto& [page, removers] : removers_) {
    for (IndexEntryRemover& r : removers) r.forgetLeaf();
  }
}

std::vector<IndexEntryRemover>& RowDeleter::removersOf(const TableDef& def) {
  auto removers = removers_.find(def.page);
  if (removers == removers_.end()) {
    std::vector<IndexEntryRemover> made;
    for (const RealIndex& index : def.real_indexes) {
      made.emplace_back(pages_, db_.format(), def, index);
    }
    removers = removers_.emplace(def.page, std::move(made)).first;
  }
  return removers->second;
}

// The columns the indexes of the table key on; the other columns (a long
// memo, say) are not decoded.
std::vector<bool> RowDeleter::indexedColumns(const TableDef& def) const {
  std::vector<bool> needed(def.columns.size(), false);
  for (const RealIndex& index : def.real_indexes) {
    for (const IndexColumn& ic : index.columns) {
      for (size_t i = 0; i < def.columns.size(); ++i) {
        if (def.columns[i].number == ic.column_number) needed[i] = true;
      }
    }
  }
  return needed;
}

RowDeleter::RowParts RowDeleter::readParts(const TableDef& def, RowId id,
                                           const std::vector<bool>& needed) {
  Table table(db_, def);
  const Format& fmt = db_.format();
  // Copied: reading long values may read other pages.
  const std::vector<uint8_t> bytes = [&] {
    ByteView b = table.rowBytes(id);
    return std::vector<uint8_t>(b.data(), b.data() + b.size());
  }();
  RowParts parts;
  parts.slot = DataPage(pages_, fmt, id.page).slot(id.row);
  parts.values.resize(def.columns.size());
  guarded(
      db_.path(), [id] { return rowName(id); },
      [&] {
        RowLayout layout(ByteView(bytes.data(), bytes.size()), fmt, def.var_slots > 0);
        for (size_t i = 0; i < def.columns.size(); ++i) {
          if (needed[i]) parts.values[i] = db_.decoder().decode(layout, def.columns[i]);
        }
        for (const Column& c : def.columns) {
          if (!c.isLongValue() || !layout.present(c)) continue;
          if (std::optional<ByteView> field = layout.variable(c)) {
            for (RowId r : longValueRows(pages_, fmt, *field)) parts.freed.push_back(r);
          }
        }
        return 0;
      });
  if (parts.slot & kSlotMoved) {
    ByteView pointer = DataPage(pages_, fmt, id.page).row(id.row);
    parts.freed.push_back(RowId::fromPointer(pointer.u32(0)));
  }
  return parts;
}

void RowDeleter::deleteSlotOf(RowId r) {
  if (!deleteSlot(pages_.writablePage(r.page), db_.format(), r.row)) {
    throwBadSlots(db_.path(), r.page);
  }
}

void RowDeleter::dropFromRowCount(const TableDef& def, uint32_t count) {
  const Format& fmt = db_.format();
  uint8_t* tdef = pages_.writablePage(def.page);
  uint32_t rows;
  std::memcpy(&rows, tdef + fmt.tdef_row_count, 4);
  rows = rows > count ? rows - count : 0;
  std::memcpy(tdef + fmt.tdef_row_count, &rows, 4);
}

void RowDeleter::deleteOne(const TableDef& def, RowId id) {
  // Everything the delete needs is read before the first page changes.
  std::vector<bool> needed = indexedColumns(def);
  lookups_.markColumns(def.page, needed);
  const RowParts parts = readParts(def, id, needed);
  for (IndexEntryRemover& remover : removersOf(def)) remover.remove(pages_, parts.values, id);
  for (RowId r : parts.freed) deleteSlotOf(r);
  deleteSlotOf(id);
  dropFromRowCount(def, 1);
  lookups_.forget(def.page, id, parts.values);
}

void RowDeleter::applyPending() {
  if (pending_.empty()) return;
  const std::vector<uint32_t> rows = pending_.takeSorted();
  // The tables in the order of their first pending row; each table's rows
  // go in one pass over its pages.
  std::vector<uint32_t> owners;
  std::vector<uint32_t> owner_of_page;  // parallel to the distinct pages of `rows`
  for (size_t i = 0; i < rows.size(); ++i) {
    if (i > 0 && (rows[i] >> 8) == (rows[i - 1] >> 8)) continue;
    const PageSource::Scope scope(pages_);
    const uint32_t owner = DataPage(pages_, db_.format(), rows[i] >> 8).owner();
    owner_of_page.push_back(owner);
    if (std::find(owners.begin(), owners.end(), owner) == owners.end()) owners.push_back(owner);
  }
  for (uint32_t owner : owners) {
    std::vector<uint32_t> mine;
    size_t page = 0;
    for (size_t i = 0; i < rows.size(); ++i) {
      if (i > 0 && (rows[i] >> 8) != (rows[i - 1] >> 8)) ++page;
      if (owner_of_page[page] == owner) mine.push_back(rows[i]);
    }
    applyTable(db_.tableDefAt(owner), mine);
  }
  // The lookups still list the rows that went.
  lookups_.clear();
}

void RowDeleter::applyTable(const TableDef& def, const std::vector<uint32_t>& rows) {
  std::vector<IndexEntryRemover>& removers = removersOf(def);
  const std::vector<bool> needed = indexedColumns(def);
  // First every row is read, in page order, nothing changed: its index
  // entries set aside, its slot and those of its parts listed. Each step
  // below has a page scope of its own, so that the cache may write and drop
  // the pages done with (a large table's pages do not all fit in memory).
  std::vector<EntryBatch> entries(removers.size());
  std::vector<std::pair<RowId, std::vector<Value>>> by_row;  // keys the encoder cannot build
  std::vector<uint32_t> slots = rows;
  for (uint32_t pointer : rows) {
    const PageSource::Scope scope(pages_);
    const RowId id = RowId::fromPointer(pointer);
    RowParts parts = readParts(def, id, needed);
    bool keyed = true;
    for (size_t i = 0; i < removers.size(); ++i) {
      keyed = removers[i].setAside(parts.values, id, entries[i]) && keyed;
    }
    if (!keyed) by_row.emplace_back(id, std::move(parts.values));
    for (RowId r : parts.freed) slots.push_back(r.toPointer());
  }
  // Then the data pages, each once, in the file's order; then the row
  // count; then each index, its leaves in key order.
  std::sort(slots.begin(), slots.end());
  for (uint32_t pointer : slots) {
    const PageSource::Scope scope(pages_);
    deleteSlotOf(RowId::fromPointer(pointer));
  }
  {
    const PageSource::Scope scope(pages_);
    dropFromRowCount(def, static_cast<uint32_t>(rows.size()));
  }
  for (size_t i = 0; i < removers.size(); ++i) removers[i].removeAll(pages_, entries[i]);
  for (auto& [id, values] : by_row) {
    const PageSource::Scope scope(pages_);
    // Removing an entry already gone would fail: only the indexes whose key
    // could not be built find theirs by row.
    for (IndexEntryRemover& remover : removers) {
      EntryBatch probe;
      if (!remover.setAside(values, id, probe)) remover.remove(pages_, values, id);
    }
  }
}

}  // namespace jet
