// Where each column's bytes lie inside one stored row: the column count the
// row was written with, its null mask, its fixed area and variable offsets.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "format/bytes.h"
#include "jet/column.h"
#include "format/format.h"

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

}  // namespace jet
