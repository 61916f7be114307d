#include "format/row_layout.h"

#include "jet/error.h"

namespace jet {

namespace {

// A Jet 3 row has a jump byte for each this many bytes.
constexpr size_t kJumpSpan = 256;

size_t nullMaskSize(size_t columns) {
  return (columns + 7) / 8;
}

void appendNullMask(const std::vector<bool>& present, uint16_t max_cols,
                    std::vector<uint8_t>& out) {
  const size_t mask_at = out.size();
  out.resize(mask_at + nullMaskSize(max_cols), 0);
  for (size_t n = 0; n < present.size(); ++n) {
    if (present[n]) out[mask_at + n / 8] |= static_cast<uint8_t>(1u << (n % 8));
  }
}

void encodeJet4(uint16_t max_cols, const std::vector<uint8_t>& fixed,
                const std::vector<std::vector<uint8_t>>& var_data, const std::vector<bool>& present,
                std::vector<uint8_t>& out) {
  const size_t var_slots = var_data.size();
  out.clear();
  out.resize(2);
  putU16(out.data(), max_cols);
  out.insert(out.end(), fixed.begin(), fixed.end());
  if (var_slots > 0) {
    std::vector<uint16_t> offsets(var_slots + 1u);
    for (size_t i = 0; i < var_slots; ++i) {
      offsets[i] = static_cast<uint16_t>(out.size());
      out.insert(out.end(), var_data[i].begin(), var_data[i].end());
    }
    offsets[var_slots] = static_cast<uint16_t>(out.size());
    for (size_t i = var_slots + 1u; i-- > 0;) {
      out.push_back(static_cast<uint8_t>(offsets[i]));
      out.push_back(static_cast<uint8_t>(offsets[i] >> 8));
    }
    out.push_back(static_cast<uint8_t>(var_slots));
    out.push_back(static_cast<uint8_t>(var_slots >> 8));
  }
  appendNullMask(present, max_cols, out);
}

void encodeJet3(uint16_t max_cols, const std::vector<uint8_t>& fixed,
                const std::vector<std::vector<uint8_t>>& var_data, const std::vector<bool>& present,
                std::vector<uint8_t>& out) {
  const size_t var_slots = var_data.size();
  out.clear();
  out.push_back(static_cast<uint8_t>(max_cols));
  out.insert(out.end(), fixed.begin(), fixed.end());
  if (var_slots > 0) {
    std::vector<size_t> offsets(var_slots + 1u);
    for (size_t i = 0; i < var_slots; ++i) {
      offsets[i] = out.size();
      out.insert(out.end(), var_data[i].begin(), var_data[i].end());
    }
    const size_t eod = out.size();
    offsets[var_slots] = eod;
    // One jump byte per 256-byte boundary the variable data crosses: the
    // first offset at or past the boundary.
    const size_t jumps = eod / kJumpSpan;
    std::vector<uint8_t> jump(jumps);
    for (size_t k = 0; k < jumps; ++k) {
      size_t i = 0;
      while (offsets[i] < kJumpSpan * (k + 1)) ++i;
      jump[k] = static_cast<uint8_t>(i);
    }
    size_t length = eod + (var_slots + 1u) + jumps + 1 + nullMaskSize(max_cols);
    // Readers take the jump count from the row length; a row long enough to
    // suggest one more gets a filler byte.
    const bool filler = (length - 1) / kJumpSpan > jumps;
    if (filler) ++length;
    if ((length - 1) / kJumpSpan != jumps + (filler ? 1 : 0)) {
      throw JetError(Msg::kRecordTooLarge);
    }
    for (size_t i = var_slots + 1u; i-- > 0;) out.push_back(static_cast<uint8_t>(offsets[i]));
    if (filler) out.push_back(0xFF);
    for (size_t k = jumps; k-- > 0;) out.push_back(jump[k]);
    out.push_back(static_cast<uint8_t>(var_slots));
  }
  appendNullMask(present, max_cols, out);
}

}  // namespace

RowLayout::RowLayout(ByteView row, const Format& fmt, bool has_variable_columns)
    : row_(row), count_size_(fmt.row_count_size) {
  const bool jet4 = fmt.is_jet4();
  const long len = static_cast<long>(row.size());
  stored_columns_ = jet4 ? row.u16(0) : row.u8(0);
  const long mask_len = static_cast<long>(nullMaskSize(stored_columns_));
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
    long jumps = (len - 1) / static_cast<long>(kJumpSpan);
    const long p0 = len - mask_len - 2 - jumps;
    if (p0 - v < 1) throw OutOfRange("tabla de desplazamientos");
    if ((p0 - v) / static_cast<long>(kJumpSpan) < jumps) --jumps;  // the last jump byte is filler
    offsets_.resize(v + 1u);
    long k = 0;
    for (long i = 0; i <= v; ++i) {
      while (k < jumps && row.u8(static_cast<size_t>(len - mask_len - 2 - k)) == i) ++k;
      offsets_[static_cast<size_t>(i)] =
          static_cast<uint16_t>(row.u8(static_cast<size_t>(p0 - i)) + kJumpSpan * k);
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

size_t maxRowSize(const Format& fmt) {
  return fmt.is_jet4() ? 4060 : 2012;
}

size_t rowOverhead(const Format& fmt, uint16_t max_cols, size_t var_slots) {
  size_t bytes = fmt.row_count_size + nullMaskSize(max_cols);
  if (var_slots > 0) {
    bytes += fmt.row_count_size * (var_slots + 2);
    bytes += 2;  // room for the Jet 3 jump bytes, a rough allowance
  }
  return bytes;
}

void encodeRow(const Format& fmt, uint16_t max_cols, const std::vector<uint8_t>& fixed,
               const std::vector<std::vector<uint8_t>>& var_data, const std::vector<bool>& present,
               std::vector<uint8_t>& out) {
  if (fmt.is_jet4()) {
    encodeJet4(max_cols, fixed, var_data, present, out);
  } else {
    encodeJet3(max_cols, fixed, var_data, present, out);
  }
}

}  // namespace jet
