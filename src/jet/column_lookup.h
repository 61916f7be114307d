// A lookup of one column of one table: value -> the live rows that hold it.
// Built once by a scan and kept true as rows are deleted, so finding a
// client's rows, or a row's related rows, costs no scan per question.
#pragma once

#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "data_page.h"
#include "value.h"

namespace jet {

class Table;

// The key under which equal values meet: numbers of every type by their
// numeric value (a date by its day count), text without regard to case,
// bytes as they are. Null has no key: it equals nothing.
std::optional<std::string> equalityKey(const Value& v);

class ColumnLookup {
 public:
  ColumnLookup(const Table& table, size_t column);

  // The live rows whose value equals `v`, in the table's scan order.
  std::vector<RowId> find(const Value& v) const;
  void erase(RowId id);

 private:
  std::unordered_map<std::string, std::vector<RowId>> rows_;
  std::unordered_map<uint32_t, std::string> key_of_;  // row pointer -> key
};

}  // namespace jet
