// A lookup of one column of one table: value -> the live rows that hold it.
// Built once by a scan and kept true as rows are deleted, so finding a
// client's rows, or a row's related rows, costs no scan per question.
//
// Whole-number columns (the keys tables usually relate by) keep one flat
// list of (value, row) sorted by value, rows of a value in scan order: no
// allocation per value, and a question is a binary search. A deleted row
// stays in the list as an empty row pointer. The list comes from the
// column's own index when the table has one (see index_numbers.h), as
// Access answers such questions; a row the index puts under another value
// than the row holds is found out when the row is deleted (the delete then
// ends in an error naming the file, and its unit of work is taken back).
// Other columns use a hash of equalityKey.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "format/data_page.h"
#include "jet/value.h"

namespace jet {

class Database;
class Table;
struct TableDef;

// The key under which equal values meet: numbers of every type by their
// numeric value (a date by its day count), text without regard to case,
// bytes as they are. Null has no key: it equals nothing.
std::optional<std::string> equalityKey(const Value& v);

class ColumnLookup {
 public:
  ColumnLookup(const Table& table, size_t column);

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

}  // namespace jet
