#include "index/index_numbers.h"

#include <cstring>
#include <unordered_set>

#include "index/index_key.h"
#include "index/index_page.h"
#include "index/index_walk.h"
#include "jet/error.h"

namespace jet {

namespace {

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
bool readLeaf(const IndexPageView& page, size_t width, bool signed_value, bool ascending,
              std::vector<IndexNumber>& out, size_t& nulls) {
  const size_t whole_value = 1 + width + kRowPointerSize;
  const size_t whole_null = 1 + kRowPointerSize;
  if (page.prefix >= whole_value) return false;
  const uint8_t* data = page.data;
  uint8_t entry[16];
  for (IndexPageView::Span e = page.around(0);; e = page.after(e)) {
    if (!page.valid(e)) return false;
    // The prefix comes from the first entry; later ones store the rest.
    const size_t head = page.head(e);
    const size_t size = page.whole(e);
    if (size != whole_value && size != whole_null) return false;
    std::memcpy(entry, data, head);
    std::memcpy(entry + head, data + e.from, e.to - e.from);
    const uint8_t flag = entry[0];
    if (size == whole_null) {
      if (flag != (ascending ? kNullAsc : kNullDesc)) return false;
      ++nulls;
    } else {
      if (flag != (ascending ? kFlagAsc : kFlagDesc)) return false;
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
      out.push_back({value, getIndexRowPointer(entry + 1 + width).toPointer()});
    }
    if (e.to == page.length) return true;
  }
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
      const IndexPageView page(src, fmt, n, def.page);
      const ByteView bytes = src.page(n);
      const bool empty = bytes.u16(kIndexFreeSpace) == indexEntryRoom(fmt);
      if (bytes.u8(0) != kIndexLeafPage || bytes.u32(kIndexOwner) != def.page) return std::nullopt;
      if (!empty && (!page.ok || !readLeaf(page, width, c.type() != ColumnType::Byte,
                                           index->columns[0].ascending, out, nulls))) {
        return std::nullopt;
      }
      n = bytes.u32(fmt.index_next);
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
