#include "format/usage_map_edit.h"

#include <optional>

#include "format/data_page.h"
#include "jet/error.h"
#include "format/usage_map.h"

namespace jet {

namespace {

// Where one page's bit lives: the page holding it, the byte, the bit.
struct BitPlace {
  uint32_t page;
  size_t offset;
  uint8_t mask;
};

std::optional<BitPlace> locate(const PageSource& src, const Format& fmt, uint32_t pointer,
                               uint32_t page) {
  const RowId id = RowId::fromPointer(pointer);
  const std::string where = "el mapa de uso de la fila " + std::to_string(id.row) +
                            " de la página " + std::to_string(id.page);
  DataPage data(src, fmt, id.page);
  ByteView row = data.row(id.row);
  if (row.empty()) return std::nullopt;  // a map without pages
  const size_t row_offset = static_cast<size_t>(row.data() - src.page(id.page).data());
  try {
    const uint8_t type = row.u8(0);
    if (type == kInlineMap) {
      if (row.size() < kInlineMapHeader) throwBadFormat(src.path(), where + " está incompleto");
      const uint32_t start = row.u32(1);
      if (page < start) return std::nullopt;
      const uint64_t bit = page - start;
      if (bit >= (row.size() - kInlineMapHeader) * 8) return std::nullopt;
      return BitPlace{id.page, row_offset + kInlineMapHeader + bit / 8,
                      static_cast<uint8_t>(1u << (bit % 8))};
    }
    if (type == kReferenceMap) {
      const uint64_t per_page = (fmt.page_size - kMapPageHeader) * 8;
      const uint64_t k = page / per_page;
      if (1 + 4 * k + 4 > row.size()) return std::nullopt;
      const uint32_t map_page = row.u32(1 + 4 * k);
      if (map_page == 0) return std::nullopt;
      if (map_page >= src.pageCount() || src.page(map_page).u8(0) != kMapPage) {
        throwBadFormat(src.path(), where + " señala la página " + std::to_string(map_page) +
                                       ", que no es una página de mapa de uso");
      }
      const uint64_t bit = page - k * per_page;
      return BitPlace{map_page, kMapPageHeader + bit / 8, static_cast<uint8_t>(1u << (bit % 8))};
    }
    throwBadFormat(src.path(), where + " es de un tipo desconocido (" + std::to_string(type) + ")");
  } catch (const OutOfRange&) {
    throwBadFormat(src.path(), where + " está incompleto");
  }
}

}  // namespace

MapBitResult setUsageMapBit(PageSource& pages, const Format& fmt, uint32_t pointer, uint32_t page,
                            bool value) {
  const std::optional<BitPlace> at = locate(pages, fmt, pointer, page);
  if (!at) return MapBitResult::OutOfRange;
  const bool now = (pages.page(at->page).u8(at->offset) & at->mask) != 0;
  if (now == value) return MapBitResult::Unchanged;
  uint8_t* bytes = pages.writablePage(at->page);
  if (value) {
    bytes[at->offset] |= at->mask;
  } else {
    bytes[at->offset] &= static_cast<uint8_t>(~at->mask);
  }
  return MapBitResult::Changed;
}

bool usageMapBit(const PageSource& pages, const Format& fmt, uint32_t pointer, uint32_t page) {
  const std::optional<BitPlace> at = locate(pages, fmt, pointer, page);
  return at && (pages.page(at->page).u8(at->offset) & at->mask) != 0;
}

}  // namespace jet
