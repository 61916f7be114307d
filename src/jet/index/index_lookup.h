// An index lookup: the live rows of one table by the value of one of its
// columns. Built once, from the column's own index when the table has one
// (as Access answers such questions), else from one reading of the rows,
// and kept true as rows are deleted, so finding the rows that hold a value
// costs no scan per question.
//
// Whole-number columns (the keys tables usually relate by) keep one flat
// list of (value, row) sorted by value, rows of a value in scan order: no
// allocation per value, and a question is a binary search. A deleted row
// stays in the list as an empty row pointer. A row the index puts under
// another value than the row holds is found out when the row is deleted
// (the delete then ends in an error naming the file, and its unit of work
// is taken back). Other columns use a hash of equalityKey.
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
  // Forgets a deleted row; `v` is the value it held in the column. Throws a
  // format error when the lookup came from the column's index and the index
  // did not have the row under that value.
  void erase(RowId id, const Value& v);

 private:
  struct Entry {
    int32_t value;     // Byte, Integer and Long values all fit
    uint32_t pointer;  // RowId::toPointer(); 0 once the row is deleted
  };

  static std::optional<int64_t> wholeNumber(const Value& v);
  std::vector<RowId>* rowsFor(const Value& v);
  // The entries holding `value`.
  std::pair<const Entry*, const Entry*> range(int64_t value) const;

  const Database* db_;
  const TableDef* def_;
  size_t column_;
  bool whole_numbers_;
  bool from_index_ = false;
  std::vector<Entry> entries_;
  std::unordered_map<std::string, std::vector<RowId>> by_key_;
};

// A whole-number value as an index on its column alone holds it, with the
// row that holds it.
struct IndexNumber {
  int32_t value;
  uint32_t pointer;  // RowId::toPointer()
};

// The values of a whole-number column read from the leaves of an index on
// that column alone, without reading a single row. Entries come in the
// index's order (by value, then by row pointer, which is also the table's
// scan order); rows whose value is null are left out. Empty when the table
// has no such index (one column, this column, of type Byte, Integer or
// Long), or when anything about its leaves is unusual or their entries do
// not add up to the table's row count: the lookup then reads the rows.
std::optional<std::vector<IndexNumber>> readIndexNumbers(const Table& table, size_t column);

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
