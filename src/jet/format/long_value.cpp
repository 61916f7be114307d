#include "format/long_value.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>

#include "format/bytes.h"
#include "format/data_page.h"
#include "jet/error.h"

namespace jet {

namespace {

// The field's row pointer, after the length and kind.
constexpr size_t kFieldPointer = 4;

uint8_t kindOf(uint32_t word) {
  return static_cast<uint8_t>((word >> 24) & 0xC0);
}

}  // namespace

size_t maxLongValueRow(const Format& fmt) {
  return fmt.is_jet4() ? 4076 : 2032;
}

std::string readLongValue(const PageSource& src, const Format& fmt, ByteView field) {
  if (field.size() < kLongValueHeader) throwBadFormat(src.path(), "un valor largo está incompleto");
  const uint32_t word = field.u32(0);
  const size_t length = word & kLongValueLengthMask;
  const uint8_t kind = kindOf(word);
  const uint32_t pointer = field.u32(kFieldPointer);
  std::string out;

  if (kind == kLongValueInline) {
    if (length > field.size() - kLongValueHeader) {
      throwBadFormat(src.path(), "un valor largo en la fila está incompleto");
    }
    ByteView data = field.sub(kLongValueHeader, length);
    out.assign(reinterpret_cast<const char*>(data.data()), data.size());
  } else if (kind == kLongValueSingleRow) {
    ByteView row = rowAt(src, fmt, RowId::fromPointer(pointer));
    if (length > row.size()) throwBadFormat(src.path(), "un valor largo está incompleto");
    out.assign(reinterpret_cast<const char*>(row.data()), length);
  } else if (kind == kLongValueChain) {
    // No chain holds more than the file: a longer length is damage, and
    // reserving it could exhaust the memory of a 32-bit process.
    if (length > src.fileSize()) {
      throwBadFormat(src.path(), "un valor largo es más largo que el archivo");
    }
    std::unordered_set<uint32_t> seen;
    out.reserve(length);
    uint32_t next = pointer;
    while (next != 0 && out.size() < length) {
      if (!seen.insert(next).second) {
        throwBadFormat(src.path(), "la cadena de un valor largo forma un ciclo");
      }
      ByteView row = rowAt(src, fmt, RowId::fromPointer(next));
      if (row.size() < kLongValueChainLink) {
        throwBadFormat(src.path(), "un valor largo está incompleto");
      }
      next = row.u32(0);
      out.append(reinterpret_cast<const char*>(row.data()) + kLongValueChainLink,
                 row.size() - kLongValueChainLink);
    }
    if (out.size() < length) throwBadFormat(src.path(), "un valor largo está incompleto");
    out.resize(length);
  } else {
    throwBadFormat(src.path(), "valor largo de tipo desconocido");
  }
  return out;
}

std::vector<RowId> longValueRows(const PageSource& src, const Format& fmt, ByteView field) {
  std::vector<RowId> rows;
  if (field.size() < kLongValueHeader) return rows;
  const uint8_t kind = kindOf(field.u32(0));
  uint32_t next = field.u32(kFieldPointer);
  if (kind == kLongValueSingleRow) {
    if (next != 0) rows.push_back(RowId::fromPointer(next));
  } else if (kind == kLongValueChain) {
    while (next != 0) {
      const RowId id = RowId::fromPointer(next);
      if (std::find(rows.begin(), rows.end(), id) != rows.end()) {
        throwBadFormat(src.path(), "la cadena de un valor largo forma un ciclo");
      }
      rows.push_back(id);
      ByteView row = rowAt(src, fmt, id);
      next = row.size() >= kLongValueChainLink ? row.u32(0) : 0;
    }
  }
  return rows;
}

void putLongValueField(uint8_t* field, size_t length, bool inline_value, LongValueRef ref) {
  const uint32_t kind = inline_value     ? kLongValueInline
                        : ref.single_row ? kLongValueSingleRow
                                         : kLongValueChain;
  std::memset(field, 0, kLongValueHeader);
  putU32(field, static_cast<uint32_t>(length) | (kind << 24));
  putU32(field + kFieldPointer, inline_value ? 0 : ref.pointer);
}

LongValueRef layOutLongValue(const Format& fmt, const std::vector<uint8_t>& bytes,
                             const std::function<uint32_t(const uint8_t*, size_t)>& place) {
  const size_t max_row = maxLongValueRow(fmt);
  if (bytes.size() <= max_row) return {place(bytes.data(), bytes.size()), true};
  const size_t chunk = max_row - kLongValueChainLink;
  const size_t parts = (bytes.size() + chunk - 1) / chunk;
  uint32_t next = 0;
  std::vector<uint8_t> row;
  for (size_t k = parts; k-- > 0;) {
    const size_t from = k * chunk;
    const size_t n = std::min(chunk, bytes.size() - from);
    row.assign(kLongValueChainLink, 0);
    putU32(row.data(), next);
    row.insert(row.end(), bytes.begin() + static_cast<std::ptrdiff_t>(from),
               bytes.begin() + static_cast<std::ptrdiff_t>(from + n));
    next = place(row.data(), row.size());
  }
  return {next, false};
}

}  // namespace jet
