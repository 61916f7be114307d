#include "index_numbers.h"

#include <bit>
#include <cstring>
#include <unordered_set>

#include "error.h"
#include "index_walk.h"

namespace jet {

namespace {

constexpr uint8_t kLeafPage = 0x04;
constexpr size_t kRowPointerSize = 4;
constexpr uint8_t kAscending = 0x7F, kDescending = 0x80;  // flags of a value
constexpr uint8_t kNullAscending = 0x00, kNullDescending = 0xFF;

size_t valueWidth(ColumnType t) {
  switch (t) {
    case ColumnType::Byte:
      return 1;
    case ColumnType::Integer:
      return 2;
    case ColumnType::Long:
      return 4;
    default:
      return 0;
  }
}

// One leaf's entries, appended to `out`; false when the page is unusual.
bool readLeaf(ByteView page, const Format& fmt, size_t width, bool signed_value, bool ascending,
              std::vector<IndexNumber>& out, size_t& nulls) {
  const size_t room = fmt.page_size - fmt.index_first_entry;
  const size_t free_space = page.u16(2);
  if (free_space > room) return false;
  const size_t length = room - free_space;
  const size_t prefix = fmt.index_prefix_len_size == 1 ? page.u8(fmt.index_prefix_len)
                                                       : page.u16(fmt.index_prefix_len);
  if (length / 8 + 1 > fmt.index_first_entry - fmt.index_bitmap) return false;
  const uint8_t* bitmap = page.data() + fmt.index_bitmap;
  const uint8_t* data = page.data() + fmt.index_first_entry;
  const size_t whole_value = 1 + width + kRowPointerSize;
  const size_t whole_null = 1 + kRowPointerSize;
  if (prefix >= whole_value) return false;
  uint8_t entry[16];
  size_t start = 0;
  for (size_t byte = 0; byte <= length / 8; ++byte) {
    for (uint8_t bits = bitmap[byte]; bits != 0; bits &= static_cast<uint8_t>(bits - 1)) {
      const size_t end = byte * 8 + static_cast<size_t>(std::countr_zero(bits));
      if (end > length || end <= start) return false;
      // The prefix comes from the first entry; later ones store the rest.
      const size_t head = start == 0 ? 0 : prefix;
      const size_t size = head + end - start;
      if (size != whole_value && size != whole_null) return false;
      if (start == 0 && end < prefix) return false;
      std::memcpy(entry, data, head);
      std::memcpy(entry + head, data + start, end - start);
      start = end;
      const uint8_t flag = entry[0];
      if (size == whole_null) {
        if (flag != (ascending ? kNullAscending : kNullDescending)) return false;
        ++nulls;
        continue;
      }
      if (flag != (ascending ? kAscending : kDescending)) return false;
      uint32_t bits_value = 0;
      for (size_t k = 0; k < width; ++k) {
        const uint8_t b = ascending ? entry[1 + k] : static_cast<uint8_t>(~entry[1 + k]);
        bits_value = bits_value << 8 | b;
      }
      // Signed values are stored with their sign bit flipped.
      int32_t value = static_cast<int32_t>(bits_value);
      if (signed_value) {
        const uint32_t raw = bits_value ^ (uint32_t{1} << (8 * width - 1));
        value = width == 2 ? static_cast<int16_t>(raw) : static_cast<int32_t>(raw);
      }
      const uint8_t* p = entry + 1 + width;
      const uint32_t pointer = uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | p[2];
      out.push_back({value, pointer << 8 | p[3]});
    }
  }
  return start == length;
}

}  // namespace

std::optional<std::vector<IndexNumber>> readIndexNumbers(const Table& table, size_t column) {
  const TableDef& def = table.def();
  const Column& c = def.columns.at(column);
  const size_t width = valueWidth(c.type());
  if (width == 0) return std::nullopt;
  const RealIndex* index = nullptr;
  for (const RealIndex& ri : def.real_indexes) {
    if (ri.columns.size() == 1 && ri.columns[0].column_number == c.number) index = &ri;
  }
  if (!index) return std::nullopt;

  const Database& db = table.database();
  const PageSource& src = db.pages();
  const Format& fmt = db.format();
  std::vector<IndexNumber> out;
  size_t nulls = 0;
  try {
    std::unordered_set<uint32_t> seen;
    for (uint32_t n = IndexWalker(src, fmt, index->root_page, def.page).firstLeaf(); n != 0;) {
      if (n >= src.pageCount() || !seen.insert(n).second) return std::nullopt;
      ByteView page = src.page(n);
      if (page.u8(0) != kLeafPage || page.u32(4) != def.page) return std::nullopt;
      if (!readLeaf(page, fmt, width, c.type() != ColumnType::Byte, index->columns[0].ascending,
                    out, nulls)) {
        return std::nullopt;
      }
      n = page.u32(fmt.index_next);
    }
  } catch (const JetError&) {
    return std::nullopt;  // the rows will tell
  }
  // Every live row has its entry, but a null one where nulls are left out.
  // (The count as the definition page holds it now, deletes included.)
  const size_t rows = src.page(def.page).u32(fmt.tdef_row_count);
  const size_t entries = out.size() + nulls;
  const bool complete =
      (index->flags & RealIndex::kIgnoreNulls) ? entries <= rows : entries == rows;
  if (!complete) return std::nullopt;
  return out;
}

}  // namespace jet
