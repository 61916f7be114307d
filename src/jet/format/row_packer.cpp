#include "format/row_packer.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <stdexcept>

#include "format/bytes.h"
#include "format/row_layout.h"
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
  size_t base = rowOverhead(*fmt_, max_cols_, var_slots_) + fixed_size_;
  for (const auto& d : var_data) base += d.size();
  for (Pending& p : longs) p.inline_value = !p.data.empty() && p.data.size() <= kMaxInlineLongValue;
  auto total = [&] {
    size_t t = base;
    for (const Pending& p : longs) {
      if (p.data.empty()) continue;
      t += kLongValueHeader + (p.inline_value ? p.data.size() : 0);
    }
    return t;
  };
  while (total() > maxRowSize(*fmt_)) {
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

  encodeRow(*fmt_, max_cols_, fixed, var_data, present, out);
  if (out.size() > maxRowSize(*fmt_)) {
    throw JetError(Msg::kRecordTooLarge);
  }
}

}  // namespace jet
