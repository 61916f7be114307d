// One stored row's layout, read and written here: the column count the row
// was written with, its fixed area, its variable data and offsets, and its
// null mask.
//
// Jet 4: column count (2) | fixed area | variable data | end of variable
// data (2) | variable offsets, last first (2 each) | variable count (2) |
// null mask. Jet 3 has 1-byte counts and offsets, with a jump byte per 256
// bytes of row so that offsets past 255 can be told apart. Tables without
// variable columns store just the count, the fixed area and the null mask.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "format/bytes.h"
#include "format/format.h"
#include "jet/column.h"

namespace jet {

class RowLayout {
 public:
  // `has_variable_columns`: whether the table's definition has variable
  // slots; rows of tables without them carry no offset table. Throws
  // OutOfRange when the row's own structure does not fit in its bytes.
  RowLayout(ByteView row, const Format& fmt, bool has_variable_columns);

  // True when the row holds a value for the column: written with it and its
  // null-mask bit set. For a Boolean column this is the value itself.
  bool present(const Column& c) const;

  // The column's bytes; nullopt when the row predates a variable column.
  ByteView fixed(const Column& c, size_t size) const;
  std::optional<ByteView> variable(const Column& c) const;

  uint16_t storedColumns() const { return stored_columns_; }

 private:
  ByteView row_;
  size_t count_size_;
  uint16_t stored_columns_ = 0;
  ByteView null_mask_;
  std::vector<uint16_t> offsets_;  // Jet 3: V+1 entries; the last is the end of variable data
  size_t jet4_offsets_end_ = 0;    // Jet 4: position of off[0]; off[i] lies 2i bytes before
  uint16_t jet4_var_count_ = 0;
};

// The longest row a new data page takes.
size_t maxRowSize(const Format& fmt);

// What a row of `max_cols` columns and `var_slots` variable ones takes
// besides its fixed area and variable data (with a rough allowance for
// Jet 3 jump bytes).
size_t rowOverhead(const Format& fmt, uint16_t max_cols, size_t var_slots);

// Lays a row out: `max_cols` columns, the fixed area, the data of each
// variable slot (the table's variable slot count of them) and the columns
// whose null-mask bit is set, by column number. Throws JetError 3047 when a
// Jet 3 row's offsets could not be told apart.
void encodeRow(const Format& fmt, uint16_t max_cols, const std::vector<uint8_t>& fixed,
               const std::vector<std::vector<uint8_t>>& var_data, const std::vector<bool>& present,
               std::vector<uint8_t>& out);

}  // namespace jet
