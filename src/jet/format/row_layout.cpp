#include "format/row_layout.h"

namespace jet {

RowLayout::RowLayout(ByteView row, const Format& fmt, bool has_variable_columns)
    : row_(row), count_size_(fmt.row_count_size) {
  const bool jet4 = fmt.is_jet4();
  const long len = static_cast<long>(row.size());
  stored_columns_ = jet4 ? row.u16(0) : row.u8(0);
  const long mask_len = (stored_columns_ + 7) / 8;
  if (mask_len + static_cast<long>(count_size_) > len) throw OutOfRange("máscara de nulos");
  null_mask_ = row.sub(static_cast<size_t>(len - mask_len), static_cast<size_t>(mask_len));
  if (!has_variable_columns) return;

  if (jet4) {
    const long v_pos = len - mask_len - 2;
    if (v_pos < 2) throw OutOfRange("número de columnas variables");
    const uint16_t v = row.u16(static_cast<size_t>(v_pos));
    const long first = len - mask_len - 4 - 2L * v;  // position of off[V]
    if (first < 2) throw OutOfRange("tabla de desplazamientos");
    // Jet 4 offsets are read where they lie, when a column asks.
    jet4_offsets_end_ = static_cast<size_t>(len - mask_len - 4);
    jet4_var_count_ = v;
  } else {
    const long v_pos = len - mask_len - 1;
    if (v_pos < 1) throw OutOfRange("número de columnas variables");
    const uint8_t v = row.u8(static_cast<size_t>(v_pos));
    long jumps = (len - 1) / 256;
    const long p0 = len - mask_len - 2 - jumps;
    if (p0 - v < 1) throw OutOfRange("tabla de desplazamientos");
    if ((p0 - v) / 256 < jumps) --jumps;  // the last jump byte is filler
    offsets_.resize(v + 1u);
    long k = 0;
    for (long i = 0; i <= v; ++i) {
      while (k < jumps && row.u8(static_cast<size_t>(len - mask_len - 2 - k)) == i) ++k;
      offsets_[static_cast<size_t>(i)] =
          static_cast<uint16_t>(row.u8(static_cast<size_t>(p0 - i)) + 256 * k);
    }
  }
}

bool RowLayout::present(const Column& c) const {
  if (c.number >= stored_columns_) return false;
  return (null_mask_.u8(c.number / 8) >> (c.number % 8)) & 1;
}

ByteView RowLayout::fixed(const Column& c, size_t size) const {
  return row_.sub(count_size_ + c.fixed_offset, size);
}

std::optional<ByteView> RowLayout::variable(const Column& c) const {
  size_t start, end;
  if (jet4_offsets_end_ != 0) {
    if (c.var_index >= jet4_var_count_) return std::nullopt;
    start = row_.u16(jet4_offsets_end_ - 2u * c.var_index);
    end = row_.u16(jet4_offsets_end_ - 2u * (c.var_index + 1u));
  } else {
    if (offsets_.empty() || c.var_index + 1u >= offsets_.size()) return std::nullopt;
    start = offsets_[c.var_index];
    end = offsets_[c.var_index + 1u];
  }
  if (end < start) throw OutOfRange("desplazamiento de columna variable");
  return row_.sub(start, end - start);
}

}  // namespace jet
