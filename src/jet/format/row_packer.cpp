#include "format/row_packer.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <stdexcept>

#include "format/bytes.h"
#include "format/text_codec.h"
#include "jet/error.h"

namespace jet {

namespace {

[[noreturn]] void typeMismatch() {
  throw JetError(Msg::kTypeMismatch);
}
[[noreturn]] void overflow() {
  throw JetError(Msg::kOverflow);
}
[[noreturn]] void tooSmall(const Column& c) {
  throw JetError(Msg::kFieldTooSmall, c.name);
}

int64_t asInteger(const Value& v) {
  switch (v.kind()) {
    case Value::Kind::Int:
    case Value::Kind::Bool:
      return v.asInt();
    default:
      typeMismatch();
  }
}

double asReal(const Value& v) {
  switch (v.kind()) {
    case Value::Kind::Int:
      return static_cast<double>(v.asInt());
    case Value::Kind::Single:
    case Value::Kind::Double:
    case Value::Kind::DateTime:
      return v.asDouble();
    default:
      typeMismatch();
  }
}

// The bytes of a fixed-size value, or of a variable non-long one.
std::vector<uint8_t> valueBytes(const Format& fmt, const Column& c, const Value& v) {
  std::vector<uint8_t> b;
  switch (c.type()) {
    case ColumnType::Byte: {
      const int64_t i = asInteger(v);
      if (i < 0 || i > 255) overflow();
      b.push_back(static_cast<uint8_t>(i));
      break;
    }
    case ColumnType::Integer: {
      const int64_t i = asInteger(v);
      if (i < INT16_MIN || i > INT16_MAX) overflow();
      b.resize(2);
      putU16(b.data(), static_cast<uint16_t>(i));
      break;
    }
    case ColumnType::Long: {
      const int64_t i = asInteger(v);
      if (i < INT32_MIN || i > INT32_MAX) overflow();
      b.resize(4);
      putU32(b.data(), static_cast<uint32_t>(i));
      break;
    }
    case ColumnType::Currency: {
      int64_t scaled;
      if (v.kind() == Value::Kind::Currency) {
        scaled = v.asInt();
      } else {
        const int64_t i = asInteger(v);
        if (i > INT64_MAX / 10000 || i < INT64_MIN / 10000) overflow();
        scaled = i * 10000;
      }
      b.resize(8);
      putU64(b.data(), static_cast<uint64_t>(scaled));
      break;
    }
    case ColumnType::Single: {
      const double d = asReal(v);
      if (std::isfinite(d) && std::fabs(d) > std::numeric_limits<float>::max()) overflow();
      b.resize(4);
      putU32(b.data(), std::bit_cast<uint32_t>(static_cast<float>(d)));
      break;
    }
    case ColumnType::Double:
    case ColumnType::DateTime:
      b.resize(8);
      putDouble(b.data(), asReal(v));
      break;
    case ColumnType::Guid:
      if (v.kind() != Value::Kind::Guid || v.asString().size() != 16) typeMismatch();
      b.assign(v.asString().begin(), v.asString().end());
      break;
    case ColumnType::Binary:
      if (v.kind() != Value::Kind::Bytes) typeMismatch();
      if (v.asString().size() > c.length) tooSmall(c);
      b.assign(v.asString().begin(), v.asString().end());
      break;
    case ColumnType::Text: {
      if (v.kind() != Value::Kind::Text) typeMismatch();
      size_t chars = 0;
      b = encodeText(fmt, v.asString(), (c.extra_flags & Column::kCompressedUnicodeFlag) != 0,
                     &chars);
      const size_t max_chars = fmt.is_jet4() ? c.length / 2u : c.length;
      if (chars > max_chars) tooSmall(c);
      break;
    }
    default:
      throw JetError(Msg::kColumnTypeNotWritable, columnTypeName(c.type_code));
  }
  return b;
}

void putLowByte(std::vector<uint8_t>& out, size_t v) {
  out.push_back(static_cast<uint8_t>(v));
}

}  // namespace

RowPacker::RowPacker(const Format& fmt, std::vector<Column> columns, uint16_t max_cols,
                     uint16_t var_slots)
    : fmt_(&fmt), columns_(std::move(columns)), max_cols_(max_cols), var_slots_(var_slots) {
  for (size_t i = 0; i < columns_.size(); ++i) {
    const Column& c = columns_[i];
    if (c.isFixed()) {
      if (c.type() == ColumnType::Boolean) continue;
      size_t size = fixedValueSize(c.type());
      if (size == 0) size = c.length;
      fixed_size_ = std::max(fixed_size_, size_t{c.fixed_offset} + size);
    } else if (c.var_index >= var_slots_) {
      throw std::invalid_argument("variable column beyond the table's variable slots");
    }
  }
}

size_t RowPacker::maxRowSize() const {
  return fmt_->is_jet4() ? 4060 : 2012;
}

void RowPacker::pack(const std::vector<Value>& values, LongValueStore* lv,
                     std::vector<uint8_t>& out) const {
  if (values.size() != columns_.size()) typeMismatch();
  std::vector<uint8_t> fixed(fixed_size_, 0);
  std::vector<bool> present(max_cols_, false);
  std::vector<std::vector<uint8_t>> var_data(var_slots_);
  // Long values: their data, and whether they stay in the row.
  struct Pending {
    size_t column;
    std::vector<uint8_t> data;
    bool inline_value;
  };
  std::vector<Pending> longs;

  for (size_t i = 0; i < columns_.size(); ++i) {
    const Column& c = columns_[i];
    const Value& v = values[i];
    if (c.type() == ColumnType::Boolean) {
      if (!v.isNull() && v.kind() != Value::Kind::Bool && v.kind() != Value::Kind::Int) {
        typeMismatch();
      }
      present[c.number] = !v.isNull() && v.asInt() != 0;
      continue;
    }
    if (v.isNull()) continue;
    present[c.number] = true;
    if (c.isLongValue()) {
      std::vector<uint8_t> data;
      if (c.type() == ColumnType::Memo) {
        if (v.kind() != Value::Kind::Text) typeMismatch();
        data =
            encodeText(*fmt_, v.asString(), (c.extra_flags & Column::kCompressedUnicodeFlag) != 0);
      } else {
        if (v.kind() != Value::Kind::Bytes) typeMismatch();
        data.assign(v.asString().begin(), v.asString().end());
      }
      if (data.size() >= (1u << 30)) {
        throw JetError(Msg::kRecordTooLarge);
      }
      longs.push_back({i, std::move(data), false});
      continue;
    }
    std::vector<uint8_t> b = valueBytes(*fmt_, c, v);
    if (c.isFixed()) {
      std::memcpy(fixed.data() + c.fixed_offset, b.data(), b.size());
    } else {
      var_data[c.var_index] = std::move(b);
    }
  }

  // Long values: empty ones take no bytes; short ones stay in the row while
  // it fits, the longest moving out first.
  size_t base = (fmt_->is_jet4() ? 2 : 1) + fixed_size_ + (max_cols_ + 7) / 8;
  if (var_slots_ > 0) {
    const size_t count = fmt_->is_jet4() ? 2 : 1;
    base += count * (var_slots_ + 2);
    for (const auto& d : var_data) base += d.size();
    base += 2;  // room for the Jet 3 jump bytes, a rough allowance
  }
  for (Pending& p : longs) p.inline_value = !p.data.empty() && p.data.size() <= kMaxInlineLongValue;
  auto total = [&] {
    size_t t = base;
    for (const Pending& p : longs) {
      if (p.data.empty()) continue;
      t += kLongValueHeader + (p.inline_value ? p.data.size() : 0);
    }
    return t;
  };
  while (total() > maxRowSize()) {
    Pending* largest = nullptr;
    for (Pending& p : longs) {
      if (p.inline_value && (!largest || p.data.size() > largest->data.size())) largest = &p;
    }
    if (!largest) break;
    largest->inline_value = false;
  }
  for (Pending& p : longs) {
    const Column& c = columns_[p.column];
    std::vector<uint8_t>& field = var_data[c.var_index];
    if (p.data.empty()) continue;
    field.assign(kLongValueHeader, 0);
    LongValueRef ref;
    if (p.inline_value) {
      field.insert(field.end(), p.data.begin(), p.data.end());
    } else {
      if (!lv) throw JetError(Msg::kRecordTooLarge);
      ref = lv->store(c, p.data);
    }
    putLongValueField(field.data(), p.data.size(), p.inline_value, ref);
  }

  if (fmt_->is_jet4()) {
    packJet4(var_data, present, fixed, out);
  } else {
    packJet3(var_data, present, fixed, out);
  }
  if (out.size() > maxRowSize()) {
    throw JetError(Msg::kRecordTooLarge);
  }
}

void RowPacker::packJet4(const std::vector<std::vector<uint8_t>>& var_data,
                         const std::vector<bool>& present, const std::vector<uint8_t>& fixed,
                         std::vector<uint8_t>& out) const {
  out.clear();
  out.resize(2);
  putU16(out.data(), max_cols_);
  out.insert(out.end(), fixed.begin(), fixed.end());
  if (var_slots_ > 0) {
    std::vector<uint16_t> offsets(var_slots_ + 1u);
    for (size_t i = 0; i < var_slots_; ++i) {
      offsets[i] = static_cast<uint16_t>(out.size());
      out.insert(out.end(), var_data[i].begin(), var_data[i].end());
    }
    offsets[var_slots_] = static_cast<uint16_t>(out.size());
    for (size_t i = var_slots_ + 1u; i-- > 0;) {
      out.push_back(static_cast<uint8_t>(offsets[i]));
      out.push_back(static_cast<uint8_t>(offsets[i] >> 8));
    }
    out.push_back(static_cast<uint8_t>(var_slots_));
    out.push_back(static_cast<uint8_t>(var_slots_ >> 8));
  }
  const size_t mask_at = out.size();
  out.resize(mask_at + (max_cols_ + 7) / 8, 0);
  for (size_t n = 0; n < present.size(); ++n) {
    if (present[n]) out[mask_at + n / 8] |= static_cast<uint8_t>(1u << (n % 8));
  }
}

void RowPacker::packJet3(const std::vector<std::vector<uint8_t>>& var_data,
                         const std::vector<bool>& present, const std::vector<uint8_t>& fixed,
                         std::vector<uint8_t>& out) const {
  out.clear();
  out.push_back(static_cast<uint8_t>(max_cols_));
  out.insert(out.end(), fixed.begin(), fixed.end());
  const size_t mask_size = (max_cols_ + 7) / 8;
  if (var_slots_ > 0) {
    std::vector<size_t> offsets(var_slots_ + 1u);
    for (size_t i = 0; i < var_slots_; ++i) {
      offsets[i] = out.size();
      out.insert(out.end(), var_data[i].begin(), var_data[i].end());
    }
    const size_t eod = out.size();
    offsets[var_slots_] = eod;
    // One jump byte per 256-byte boundary the variable data crosses: the
    // first offset at or past the boundary.
    const size_t jumps = eod / 256;
    std::vector<uint8_t> jump(jumps);
    for (size_t k = 0; k < jumps; ++k) {
      size_t i = 0;
      while (offsets[i] < 256 * (k + 1)) ++i;
      jump[k] = static_cast<uint8_t>(i);
    }
    size_t length = eod + (var_slots_ + 1u) + jumps + 1 + mask_size;
    // Readers take the jump count from the row length; a row long enough to
    // suggest one more gets a filler byte.
    const bool filler = (length - 1) / 256 > jumps;
    if (filler) ++length;
    if ((length - 1) / 256 != jumps + (filler ? 1 : 0)) {
      throw JetError(Msg::kRecordTooLarge);
    }
    for (size_t i = var_slots_ + 1u; i-- > 0;) putLowByte(out, offsets[i]);
    if (filler) out.push_back(0xFF);
    for (size_t k = jumps; k-- > 0;) out.push_back(jump[k]);
    out.push_back(static_cast<uint8_t>(var_slots_));
  }
  const size_t mask_at = out.size();
  out.resize(mask_at + mask_size, 0);
  for (size_t n = 0; n < present.size(); ++n) {
    if (present[n]) out[mask_at + n / 8] |= static_cast<uint8_t>(1u << (n % 8));
  }
}

}  // namespace jet
