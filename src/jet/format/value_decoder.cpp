#include "format/value_decoder.h"

#include <array>
#include <cstring>

#include "format/long_value.h"
#include "format/text_codec.h"
#include "jet/error.h"

namespace jet {

namespace {

__extension__ typedef unsigned __int128 uint128;

template <typename T>
T load(ByteView b) {
  T v;
  std::memcpy(&v, b.data(), sizeof v);
  return v;
}

std::string raw(ByteView b) {
  return std::string(reinterpret_cast<const char*>(b.data()), b.size());
}

}  // namespace

std::string numericToString(ByteView b, uint8_t scale) {
  uint128 mag = 0;
  for (size_t w = 0; w < 4; ++w) mag = (mag << 32) | b.u32(1 + 4 * w);
  const bool negative = (b.u8(0) & 0x80) && mag != 0;  // a signed zero shows as 0
  std::string digits;
  do {
    digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(mag % 10)));
    mag /= 10;
  } while (mag != 0);
  if (scale > 0) {
    if (digits.size() <= scale) digits.insert(0, scale + 1 - digits.size(), '0');
    digits.insert(digits.size() - scale, 1, '.');
  }
  return (negative ? "-" : "") + digits;
}

std::string ValueDecoder::decodeText(ByteView bytes) const {
  return fmt_->is_jet4() ? decodeJet4Text(bytes) : decodeCp1252(bytes);
}

Value ValueDecoder::decodeBytes(const Column& c, ByteView b) const {
  const ColumnType t = c.type();
  const size_t need = fixedValueSize(t);
  if (need != 0 && b.size() < need) {
    if (b.empty()) return Value::null();
    throw OutOfRange("valor de longitud fija incompleto");
  }
  switch (t) {
    case ColumnType::Boolean:
      return Value::boolean(true);
    case ColumnType::Byte:
      return Value::integer(b.u8(0));
    case ColumnType::Integer:
      return Value::integer(static_cast<int16_t>(b.u16(0)));
    case ColumnType::Long:
      return Value::integer(static_cast<int32_t>(b.u32(0)));
    case ColumnType::Currency:
      return Value::currency(static_cast<int64_t>(b.u64(0)));
    case ColumnType::Single:
      return Value::single(load<float>(b));
    case ColumnType::Double:
      return Value::real(load<double>(b));
    case ColumnType::DateTime:
      return Value::dateTime(load<double>(b));
    case ColumnType::Text:
      return Value::text(decodeText(b));
    case ColumnType::Memo: {
      std::string data = readLongValue(*src_, *fmt_, b);
      return Value::text(
          decodeText(ByteView(reinterpret_cast<const uint8_t*>(data.data()), data.size())));
    }
    case ColumnType::Ole:
      return Value::bytes(readLongValue(*src_, *fmt_, b));
    case ColumnType::Guid: {
      std::array<uint8_t, 16> g{};
      std::memcpy(g.data(), b.data(), 16);
      return Value::guid(g);
    }
    case ColumnType::Numeric:
      return Value::decimal(numericToString(b, c.scale));
    case ColumnType::Binary:
    default:
      return Value::bytes(raw(b));
  }
}

Value ValueDecoder::decode(const RowLayout& row, const Column& c) const {
  const bool present = row.present(c);
  if (c.type() == ColumnType::Boolean) return Value::boolean(present);
  if (!present) return Value::null();
  if (c.isFixed()) {
    size_t size = fixedValueSize(c.type());
    if (size == 0) size = c.length;
    return decodeBytes(c, row.fixed(c, size));
  }
  std::optional<ByteView> bytes = row.variable(c);
  if (!bytes) return Value::null();
  if (bytes->empty()) {
    if (c.type() == ColumnType::Memo) return Value::text("");
    if (c.type() == ColumnType::Ole) return Value::bytes("");
  }
  return decodeBytes(c, *bytes);
}

}  // namespace jet
