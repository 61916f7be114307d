// Deleting rows as Access does. One row goes with everything that belongs to
// it: its entries in every index of its table, its long values and an
// overflow part, its slot, and one from the table's row count; the lookups
// of its table forget it. Rows that cascading relationships take with it go
// first (see delete_plan.h), all in one unit of work.
//
// Deletes may also be deferred to the commit of the unit (see
// Database::deferDeletes): the row is only recorded, and the commit reads
// and deletes every recorded row at once, in the file's order, so that a
// unit that deletes rows all over a large file reads and changes each page
// once instead of reading a page for every row.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "index/index_delete.h"
#include "jet/database.h"

namespace jet {

class LookupCache;

// The log of recorded rows: each row's pointer and table, in blocks of a
// fixed size, so that a log of millions of rows never holds room for twice
// as many while it grows, as a vector does.
class RecordLog {
 public:
  size_t size() const { return size_; }
  void push(uint32_t pointer, uint8_t table);
  uint32_t pointer(size_t i) const { return blocks_[i >> kShift]->pointers[i & kMask]; }
  uint8_t table(size_t i) const { return blocks_[i >> kShift]->tables[i & kMask]; }
  // Calls visit(pointer, table) for each record, in order: a block at a
  // time, for the commit's passes over millions of records.
  template <typename Visit>
  void forEach(Visit visit) const {
    for (size_t b = 0; b < blocks_.size(); ++b) {
      const Block& block = *blocks_[b];
      const size_t n = std::min(size_ - (b << kShift), size_t{1} << kShift);
      for (size_t i = 0; i < n; ++i) visit(block.pointers[i], block.tables[i]);
    }
  }
  // Keeps the first `count` records.
  void truncate(size_t count);
  void clear();

 private:
  static constexpr size_t kShift = 16;
  static constexpr size_t kMask = (size_t{1} << kShift) - 1;
  struct Block {
    uint32_t pointers[size_t{1} << kShift];
    uint8_t tables[size_t{1} << kShift];
  };
  std::vector<std::unique_ptr<Block>> blocks_;
  size_t size_ = 0;
};

// The rows a unit deferred, as row pointers: a log in the order they were
// recorded, with the table each was recorded for, and one bit per row
// pointer for the question every reader asks, whether a row is pending.
// Each savepoint is a length of the log: rollbackToMark takes back to the
// last one, and keepBefore to any earlier one.
class PendingRows {
 public:
  bool has(RowId id) const {
    const uint32_t p = id.toPointer();
    return (p >> 6) < bits_.size() && ((bits_[p >> 6] >> (p & 63)) & 1) != 0;
  }
  size_t size() const { return log_.size(); }
  bool empty() const { return log_.size() == 0; }
  // Room for the bit of every row of a file of `pages` pages, at once.
  void reserveFor(uint32_t pages);
  // `table`: the table's number among those the deleter has seen.
  void add(RowId id, uint8_t table);
  // The rows recorded from here on are those rollbackToMark takes back.
  void mark();
  void rollbackToMark();
  void clear();
  // The tables with rows recorded, in the order of their lowest row pointer.
  std::vector<uint8_t> tables() const;
  // Page numbers that cut the rows recorded for `table` into slices of
  // about `most` rows (a page's rows never apart), in order; the last is
  // past every page.
  std::vector<uint32_t> sliceEnds(uint8_t table, uint32_t pages, size_t most) const;
  // The pointers of the rows recorded for `table` on pages [first, end),
  // ascending (the file's order), into `rows`.
  void rowsOf(uint8_t table, uint32_t first, uint32_t end, std::vector<uint32_t>& rows) const;
  // Readers see the rows again (the commit is deleting them); the log
  // stays. Returns their bits, as RowMarks takes them.
  std::vector<uint64_t> unhide() { return std::move(bits_); }
  // Where the savepoint that holds the first recording of the row begins
  // (0 when none before it, or when the row is not recorded).
  size_t savepointOf(uint32_t pointer, uint8_t table) const;
  // Keeps the first `count` rows recorded, hidden again from readers.
  void keepBefore(size_t count);

 private:
  void set(uint32_t p);
  void unset(uint32_t p) { bits_[p >> 6] &= ~(uint64_t{1} << (p & 63)); }

  RecordLog log_;
  std::vector<uint64_t> bits_;
  uint32_t pages_ = 0;  // reserveFor's
  // The savepoints' lengths of the log, ascending (a file holds far fewer
  // than 2^32 rows).
  std::vector<uint32_t> marks_;
};

class RowDeleter {
 public:
  // `pages` is the database's own page source, written through; `lookups`
  // the database's lookups, kept true.
  RowDeleter(Database& db, PageSource& pages, LookupCache& lookups);

  // Database::deleteRow: the row and the rows it takes with it, inside the
  // open unit of work or in one of their own; recorded only while deletes
  // are deferred.
  void deleteRow(const Table& table, RowId id);

  // Database::deferDeletes, until endUnit.
  void deferDeletes() {
    defer_ = true;
    pending_.reserveFor(pages_.pageCount());
  }
  const PendingRows& pending() const { return pending_; }
  void savepoint() { pending_.mark(); }
  void rollbackToSavepoint() { pending_.rollbackToMark(); }
  // Deletes every pending row, inside the open unit. On an error the unit
  // holds part of the changes: the caller takes it back. When the error is
  // a recorded row that cannot be deleted (damaged, no longer live, not of
  // its table), retryPoint() says where that row's savepoint begins.
  void applyPending();
  // After a failed applyPending: the length of the log up to the savepoint
  // of the row that failed (0: none, or a failure of another kind).
  size_t retryPoint() const { return retry_point_; }
  // Keeps the rows recorded before `count` pending, for another commit.
  void keepBefore(size_t count) { pending_.keepBefore(count); }
  // The unit ended (committed or taken back): nothing is pending any more
  // and deletes are immediate again.
  void endUnit();

  // Forgets the index leaves remembered between rows (after a rollback put
  // pages back).
  void forgetLeaves();

 private:
  // What deleting a row changes besides its slot, read before any page
  // changes.
  struct RowParts {
    uint16_t slot = 0;
    std::vector<Value> values;  // those `needed` names, others null
    std::vector<RowId> freed;   // long-value rows and an overflow part
  };

  RowParts readParts(const TableDef& def, RowId id, const std::vector<bool>& needed);
  std::vector<bool> indexedColumns(const TableDef& def) const;
  void deleteOne(const TableDef& def, RowId id);
  void applyTable(const TableDef& def, uint8_t number, const RowMarks& marks);
  // The table's number in the log; none when 256 tables have one already.
  std::optional<uint8_t> numberOf(const TableDef& def);
  void dropFromRowCount(const TableDef& def, uint32_t count);
  void deleteSlotOf(RowId r);
  std::vector<IndexEntryRemover>& removersOf(const TableDef& def);

  Database& db_;
  PageSource& pages_;
  LookupCache& lookups_;
  // Per table (first TDEF page), one remover per real index, in order.
  std::map<uint32_t, std::vector<IndexEntryRemover>> removers_;
  bool defer_ = false;
  PendingRows pending_;
  std::vector<const TableDef*> tables_;  // by number, for PendingRows
  size_t retry_point_ = 0;
};

}  // namespace jet
