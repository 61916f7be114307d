// An index lookup: the live rows of one table by the value of one of its
// columns.
//
// A whole-number column with an index of its own (one column, this column:
// the keys tables relate by, such as codcli) is answered by that index, as
// Access answers such questions: each question goes down the tree to the
// leaf that holds the value's first entry and reads the value's entries
// along the leaves, a few pages per question. Nothing is kept per row, so a table of millions
// of rows costs no memory here, and a row deleted in the open unit of work
// is gone from the answers at once: the delete takes its entry out of the
// index, and a rollback puts the index's pages back with the rows. A
// damaged index (a loop, a page of another kind or table, a page number
// beyond the file) ends the question in a format error naming the file. A
// row the index puts under another value than the row holds is found out
// when that row, given in an answer, is deleted: the delete ends in an
// error naming the file, and its unit of work is taken back.
//
// Other columns, and whole-number columns without such an index (small
// tables: the files this tool meets index every key they relate by), are
// read once, every row, into memory kept true as rows are deleted: a flat
// list of (value, row) for whole numbers (8 bytes a row), a hash of
// equalityKey for the rest (a key and a row pointer a row).
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "jet/database.h"

namespace jet {

// The key under which equal values meet: numbers of every type by their
// numeric value (a date by its day count), text without regard to case,
// bytes as they are. Null has no key: it equals nothing.
std::optional<std::string> equalityKey(const Value& v);

class IndexLookup {
 public:
  IndexLookup(const Table& table, size_t column);

  // The live rows whose value equals `v`, in the table's scan order.
  std::vector<RowId> find(const Value& v) const;
  // Asks ahead, in the index's order, the questions about to come for
  // `values`, so that find answers them from memory while no page has
  // changed since. Questions asked in another order (a purge asks in the
  // order of its client table) each go to another leaf, and at a million
  // rows most leaves have left the cache before they are asked again;
  // in the index's order each leaf is read once. A question that fails
  // ends the asking: it fails again, in its turn, when find asks it. No
  // values forget the answers asked ahead.
  void prepare(std::vector<int64_t> values) const;
  // Forgets a deleted row; `v` is the value it held in the column. Throws a
  // format error when the index gave the row, in its last answer, under
  // another value.
  void erase(RowId id, const Value& v);

  // Whether questions go down the column's index.
  bool walksIndex() const { return index_ != nullptr; }

 private:
  struct Entry {
    int32_t value;     // Byte, Integer and Long values all fit
    uint32_t pointer;  // RowId::toPointer(); 0 once the row is deleted
  };

  static std::optional<int64_t> wholeNumber(const Value& v);
  std::vector<RowId>* rowsFor(const Value& v);
  // The entries holding `value`.
  std::pair<const Entry*, const Entry*> range(int64_t value) const;
  // The row pointers the index holds under `value`, down the tree.
  std::vector<uint32_t> walk(int64_t value) const;
  // Sets answered_ to the rows asked ahead for `value`, when they still hold.
  bool prepared(int64_t value) const;
  [[noreturn]] void disagrees(RowId id) const;

  const Database* db_;
  const TableDef* def_;
  size_t column_;
  bool whole_numbers_;
  const RealIndex* index_ = nullptr;  // the column's own index, when questions walk it
  // The last answer the index gave, sorted: the rows a delete is about to
  // take, checked against the values they hold (a few rows, not a table's).
  mutable int64_t answered_value_ = 0;
  mutable std::vector<uint32_t> answered_;
  // Answers asked ahead: values sorted, where each one's rows start in
  // prepared_rows_ (one more start closes the last), and the pages' change
  // count they hold for.
  mutable std::vector<int64_t> prepared_values_;
  mutable std::vector<uint32_t> prepared_starts_;
  mutable std::vector<uint32_t> prepared_rows_;
  mutable uint64_t prepared_at_ = 0;
  std::vector<Entry> entries_;
  std::unordered_map<std::string, std::vector<RowId>> by_key_;
};

// The lookups a database has built, by table and column.
class LookupCache {
 public:
  // The table's lookup of the column, built on first use.
  const IndexLookup& get(const Table& table, size_t column);
  // Marks the columns of the table (by its first TDEF page) that have a
  // lookup: the values a delete must decode to keep them true.
  void markColumns(uint32_t table_page, std::vector<bool>& columns) const;
  // Forgets a deleted row of the table in each of its lookups; `values` are
  // the row's, in column order (those markColumns named at least).
  void forget(uint32_t table_page, RowId id, const std::vector<Value>& values);
  // Drops every lookup (after a rollback brought rows back).
  void clear() { lookups_.clear(); }

 private:
  std::map<std::pair<uint32_t, size_t>, std::unique_ptr<IndexLookup>> lookups_;
};

}  // namespace jet
