// Packing a row's values into the bytes a data page stores: the inverse of
// RowLayout and ValueDecoder.
//
// Jet 4: column count (2) | fixed area | variable data | end of variable
// data (2) | variable offsets, last first (2 each) | variable count (2) |
// null mask. Jet 3 has 1-byte counts and offsets, with a jump byte per 256
// bytes of row so that offsets past 255 can be told apart. Tables without
// variable columns store just the count, the fixed area and the null mask.
// The fixed area is always whole; a null fixed column leaves zeros. Booleans
// live in the null mask only. Memo and OLE values up to 64 bytes stay in the
// row while the row fits; longer ones go to long-value pages through a
// LongValueStore.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "format/format.h"
#include "format/long_value.h"
#include "jet/column.h"
#include "jet/value.h"

namespace jet {

class RowPacker {
 public:
  // `columns` sorted by column number; `max_cols` and `var_slots` as the
  // table definition counts them.
  RowPacker(const Format& fmt, std::vector<Column> columns, uint16_t max_cols, uint16_t var_slots);

  const std::vector<Column>& columns() const { return columns_; }
  size_t maxRowSize() const;

  // Packs `values` (one per column, in `columns` order) into `out`. Throws
  // JetError: 13 for a value of the wrong kind, 6 for a number out of the
  // column's range, 3163 for text or binary longer than the column, 3047
  // when the row cannot fit a page even with its long values moved out.
  void pack(const std::vector<Value>& values, LongValueStore* lv, std::vector<uint8_t>& out) const;

 private:
  void packJet4(const std::vector<std::vector<uint8_t>>& var_data, const std::vector<bool>& present,
                const std::vector<uint8_t>& fixed, std::vector<uint8_t>& out) const;
  void packJet3(const std::vector<std::vector<uint8_t>>& var_data, const std::vector<bool>& present,
                const std::vector<uint8_t>& fixed, std::vector<uint8_t>& out) const;

  const Format* fmt_;
  std::vector<Column> columns_;
  uint16_t max_cols_;
  uint16_t var_slots_;
  size_t fixed_size_ = 0;
};

}  // namespace jet
