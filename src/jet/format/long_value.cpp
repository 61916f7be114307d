#include "format/long_value.h"

#include <algorithm>
#include <unordered_set>

#include "format/data_page.h"
#include "jet/error.h"

namespace jet {

std::string readLongValue(const PageSource& src, const Format& fmt, ByteView field) {
  if (field.size() < kLongValueHeader) throwBadFormat(src.path(), "un valor largo está incompleto");
  const uint32_t word = field.u32(0);
  const size_t length = word & 0x3FFFFFFF;
  const uint8_t kind = static_cast<uint8_t>((word >> 24) & 0xC0);
  const uint32_t pointer = field.u32(4);
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
      if (row.size() < 4) throwBadFormat(src.path(), "un valor largo está incompleto");
      next = row.u32(0);
      out.append(reinterpret_cast<const char*>(row.data()) + 4, row.size() - 4);
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
  const uint8_t kind = static_cast<uint8_t>((field.u32(0) >> 24) & 0xC0);
  uint32_t next = field.u32(4);
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
      next = row.size() >= 4 ? row.u32(0) : 0;
    }
  }
  return rows;
}

}  // namespace jet
