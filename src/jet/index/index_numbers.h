// The values of a whole-number column read from the leaves of an index on
// that column alone, with the rows that hold them: what a lookup of the
// column needs, without reading a single row. Entries come in the index's
// order (by value, then by row pointer, which is also the table's scan
// order); rows whose value is null are left out.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "jet/database.h"

namespace jet {

struct IndexNumber {
  int32_t value;
  uint32_t pointer;  // RowId::toPointer()
};

// Empty when the table has no such index (one column, this column, of type
// Byte, Integer or Long), or when anything about its leaves is unusual or
// their entries do not add up to the table's row count: the caller then
// reads the rows instead.
std::optional<std::vector<IndexNumber>> readIndexNumbers(const Table& table, size_t column);

}  // namespace jet
