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

void RecordLog::push(uint32_t pointer, uint8_t table) {
  if ((size_ >> kShift) == blocks_.size()) blocks_.push_back(std::make_unique<Block>());
  Block& b = *blocks_[size_ >> kShift];
  b.pointers[size_ & kMask] = pointer;
  b.tables[size_ & kMask] = table;
  ++size_;
}

void RecordLog::truncate(size_t count) {
  if (count >= size_) return;
  size_ = count;
  blocks_.resize((size_ + kMask) >> kShift);
}

void RecordLog::clear() {
  std::vector<std::unique_ptr<Block>>().swap(blocks_);
  size_ = 0;
}

void PendingRows::reserveFor(uint32_t pages) {
  pages_ = pages;
  if (bits_.empty()) bits_.assign((size_t{pages} << 8) / 64 + 1, 0);
}

void PendingRows::set(uint32_t p) {
  if ((p >> 6) >= bits_.size()) {
    // Grown by half again, so that rows recorded up a large file cost few copies.
    bits_.resize(std::max<size_t>((p >> 6) + 1, bits_.size() + bits_.size() / 2), 0);
  }
  bits_[p >> 6] |= uint64_t{1} << (p & 63);
}

void PendingRows::add(RowId id, uint8_t table) {
  const uint32_t p = id.toPointer();
  set(p);
  log_.push(p, table);
}

void PendingRows::mark() {
  if (marks_.empty() || marks_.back() != log_.size())
    marks_.push_back(static_cast<uint32_t>(log_.size()));
}

void PendingRows::rollbackToMark() {
  const size_t mark = marks_.empty() ? 0 : marks_.back();
  for (size_t i = mark; i < log_.size(); ++i) unset(log_.pointer(i));
  log_.truncate(mark);
}

void PendingRows::clear() {
  log_.clear();
  std::vector<uint64_t>().swap(bits_);
  std::vector<uint32_t>().swap(marks_);
}

std::vector<uint8_t> PendingRows::tables() const {
  // The lowest pointer of each table, by its number.
  std::vector<uint32_t> lowest(size_t{UINT8_MAX} + 1, UINT32_MAX);
  std::vector<bool> seen(lowest.size(), false);
  log_.forEach([&](uint32_t pointer, uint8_t t) {
    lowest[t] = std::min(lowest[t], pointer);
    seen[t] = true;
  });
  std::vector<uint8_t> out;
  for (size_t t = 0; t < lowest.size(); ++t) {
    if (seen[t]) out.push_back(static_cast<uint8_t>(t));
  }
  std::sort(out.begin(), out.end(), [&](uint8_t a, uint8_t b) {
    return std::pair(lowest[a], a) < std::pair(lowest[b], b);
  });
  return out;
}

std::vector<uint32_t> PendingRows::sliceEnds(uint8_t table, uint32_t pages, size_t most) const {
  // Rows counted by runs of pages, a few thousand runs over the file.
  unsigned shift = 0;
  while ((pages >> shift) > 4096) ++shift;
  std::vector<size_t> count((size_t{pages} >> shift) + 2, 0);
  const size_t last = count.size() - 1;
  log_.forEach([&](uint32_t pointer, uint8_t t) {
    if (t == table) ++count[std::min<size_t>((pointer >> 8) >> shift, last)];
  });
  std::vector<uint32_t> ends;
  size_t in = 0;
  for (size_t run = 0; run + 1 < count.size(); ++run) {
    if (in > 0 && in + count[run] > most) {
      ends.push_back(static_cast<uint32_t>(run << shift));
      in = 0;
    }
    in += count[run];
  }
  ends.push_back(UINT32_MAX);
  return ends;
}

void PendingRows::rowsOf(uint8_t table, uint32_t first, uint32_t end,
                         std::vector<uint32_t>& rows) const {
  rows.clear();
  log_.forEach([&](uint32_t pointer, uint8_t t) {
    const uint32_t page = pointer >> 8;
    if (t == table && page >= first && page < end) rows.push_back(pointer);
  });
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
}

size_t PendingRows::savepointOf(uint32_t pointer, uint8_t table) const {
  for (size_t i = 0; i < log_.size(); ++i) {
    if (log_.pointer(i) != pointer || log_.table(i) != table) continue;
    const auto after = std::upper_bound(marks_.begin(), marks_.end(), i);
    return after == marks_.begin() ? 0 : *(after - 1);
  }
  return 0;
}

void PendingRows::keepBefore(size_t count) {
  log_.truncate(count);
  while (!marks_.empty() && marks_.back() > log_.size()) marks_.pop_back();
  std::vector<uint64_t>().swap(bits_);
  reserveFor(pages_);
  for (size_t i = 0; i < log_.size(); ++i) set(log_.pointer(i));
}

RowDeleter::RowDeleter(Database& db, PageSource& pages, LookupCache& lookups)
    : db_(db), pages_(pages), lookups_(lookups) {}

void RowDeleter::deleteRow(const Table& table, RowId id) {
  db_.requireDeletable(table);
  const std::vector<DeleteStep> plan = planDelete(db_, table, id);
  // A relationship may cascade into a system table only in a damaged or
  // forged catalog; no row of one goes all the same.
  for (const DeleteStep& step : plan) db_.requireDeletable(Table(db_, *step.def));
  // A unit defers the rows of 256 tables at most (the log keeps a byte
  // for the table); a plan that reaches further is deleted at once.
  const bool deferring =
      defer_ && db_.inUnit() && std::all_of(plan.begin(), plan.end(), [&](const DeleteStep& step) {
        return numberOf(*step.def).has_value();
      });
  if (deferring) {
    // Nothing is read here: reading each row where it lies would read a
    // page for every row of a purge. The commit reads them in the file's
    // order and refuses a damaged row or one no longer live then. What
    // needs no page is refused now: a row already pending, or one beyond
    // the file.
    for (const DeleteStep& step : plan) {
      if (pending_.has(step.row)) {
        throwBadFormat(db_.path(), rowName(step.row) + " no es una fila viva de la tabla");
      }
      if (step.row.page >= pages_.pageCount()) {
        throwBadFormat(db_.path(), rowName(step.row) + " no existe");
      }
    }
    for (const DeleteStep& step : plan) pending_.add(step.row, *numberOf(*step.def));
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
  tables_.clear();
  retry_point_ = 0;
}

std::optional<uint8_t> RowDeleter::numberOf(const TableDef& def) {
  for (size_t i = 0; i < tables_.size(); ++i) {
    if (tables_[i]->page == def.page) return static_cast<uint8_t>(i);
  }
  if (tables_.size() > UINT8_MAX) return std::nullopt;
  tables_.push_back(&def);
  return static_cast<uint8_t>(tables_.size() - 1);
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
  retry_point_ = 0;
  if (pending_.empty()) return;
  // The rows are read again below as the delete reads them; their marks
  // tell the indexes' entries to remove (a row pointer names one row of
  // the file, so one set of marks serves every table).
  const RowMarks marks(pending_.unhide());
  for (uint8_t number : pending_.tables()) {
    applyTable(*tables_[number], number, marks);
  }
  pending_.clear();
  tables_.clear();
  // The lookups still list the rows that went.
  lookups_.clear();
}

void RowDeleter::applyTable(const TableDef& def, uint8_t number, const RowMarks& marks) {
  std::vector<IndexEntryRemover>& removers = removersOf(def);
  const std::vector<bool> needed = indexedColumns(def);
  // Each row in page order: read (the entries its values give each index
  // tallied, its long values and overflow part listed), then its slot
  // deleted, so that each data page is read and changed in one visit. Each
  // step has a page scope of its own, so that the cache may write and drop
  // the pages done with (a large table's pages do not all fit in memory).
  std::vector<EntryTally> expected(removers.size()), removed(removers.size());
  std::vector<std::vector<uint32_t>> untallied(removers.size());  // keys the encoder cannot build
  std::vector<uint32_t> parts_freed;
  // The rows a slice of the file's pages at a time, so that a large table's
  // rows are never all listed at once (a megabyte of them at most).
  constexpr size_t kSliceRows = size_t{1} << 18;
  uint32_t count = 0, first = 0;
  std::vector<uint32_t> rows;
  for (uint32_t end : pending_.sliceEnds(number, pages_.pageCount(), kSliceRows)) {
    pending_.rowsOf(number, first, end, rows);
    first = end;
    count += static_cast<uint32_t>(rows.size());
    for (uint32_t pointer : rows) {
      const PageSource::Scope scope(pages_);
      const RowId id = RowId::fromPointer(pointer);
      RowParts parts;
      try {
        parts = readParts(def, id, needed);
      } catch (const JetError&) {
        retry_point_ = pending_.savepointOf(pointer, number);
        throw;
      }
      for (size_t i = 0; i < removers.size(); ++i) {
        if (!removers[i].tally(parts.values, id, expected[i])) untallied[i].push_back(pointer);
      }
      for (RowId r : parts.freed) parts_freed.push_back(r.toPointer());
      deleteSlotOf(id);
    }
  }
  // Then the parts, the row count, and each index in one pass along its
  // leaves, the rows' entries found by their row pointers. The entries
  // removed must be those the rows' values give: an index that disagrees
  // with its rows may have chosen rows that were not meant to go.
  std::sort(parts_freed.begin(), parts_freed.end());
  for (uint32_t pointer : parts_freed) {
    const PageSource::Scope scope(pages_);
    deleteSlotOf(RowId::fromPointer(pointer));
  }
  {
    const PageSource::Scope scope(pages_);
    dropFromRowCount(def, count);
  }
  for (size_t i = 0; i < removers.size(); ++i) {
    removers[i].removeMarked(pages_, marks, untallied[i], removed[i]);
    if (!(removed[i] == expected[i])) {
      throwBadFormat(db_.path(), "el índice con raíz en la página " +
                                     std::to_string(def.real_indexes[i].root_page) +
                                     " de la tabla '" + def.name +
                                     "' no coincide con las filas que se borran; repare la base "
                                     "de datos");
    }
  }
}

}  // namespace jet
