// Packing a row's values into the bytes a data page stores: the inverse of
// ValueDecoder, each value turned into its bytes and laid out by encodeRow
// (format/row_layout). The fixed area is always whole; a null fixed column
// leaves zeros. Booleans live in the null mask only. Memo and OLE values up
// to 64 bytes stay in the row while the row fits; longer ones go to
// long-value pages through a LongValueStore.
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

  // Packs `values` (one per column, in `columns` order) into `out`. Throws
  // JetError: 13 for a value of the wrong kind, 6 for a number out of the
  // column's range, 3163 for text or binary longer than the column, 3047
  // when the row cannot fit a page even with its long values moved out.
  void pack(const std::vector<Value>& values, LongValueStore* lv, std::vector<uint8_t>& out) const;

 private:
  const Format* fmt_;
  std::vector<Column> columns_;
  uint16_t max_cols_;
  uint16_t var_slots_;
  size_t fixed_size_ = 0;
};

}  // namespace jet
