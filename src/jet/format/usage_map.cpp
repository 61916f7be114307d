#include "format/usage_map.h"

#include "format/data_page.h"
#include "jet/error.h"

namespace jet {

namespace {

void addBits(const PageSource& src, ByteView bits, uint64_t first_page, PagesBeyondFile beyond,
             std::vector<uint32_t>& out) {
  for (size_t i = 0; i < bits.size(); ++i) {
    uint8_t b = bits.data()[i];
    if (b == 0) continue;
    for (int j = 0; j < 8; ++j) {
      if (!(b & (1u << j))) continue;
      uint64_t page = first_page + i * 8 + static_cast<unsigned>(j);
      if (page >= src.pageCount()) {
        if (beyond == PagesBeyondFile::AreSkipped) return;  // and every later one
        throwBadFormat(src.path(), "un mapa de uso señala la página " + std::to_string(page) +
                                       ", fuera del archivo");
      }
      out.push_back(static_cast<uint32_t>(page));
    }
  }
}

}  // namespace

std::vector<uint32_t> readUsageMap(const PageSource& src, const Format& fmt, uint32_t pointer,
                                   PagesBeyondFile beyond) {
  std::vector<uint32_t> pages;
  ByteView map = rowAt(src, fmt, RowId::fromPointer(pointer));
  if (map.empty()) return pages;
  try {
    uint8_t type = map.u8(0);
    if (type == kInlineMap) {
      addBits(src, map.from(5), map.u32(1), beyond, pages);
    } else if (type == kReferenceMap) {
      const uint64_t per_page = (fmt.page_size - 4) * 8;
      for (size_t k = 0; 1 + 4 * k + 4 <= map.size(); ++k) {
        uint32_t map_page = map.u32(1 + 4 * k);
        if (map_page == 0) continue;
        ByteView mp = src.page(map_page);
        if (mp.u8(0) != kMapPage) {
          throwBadFormat(src.path(), "la página " + std::to_string(map_page) +
                                         " no es una página de mapa de uso");
        }
        addBits(src, mp.from(4), k * per_page, beyond, pages);
      }
    } else {
      throwBadFormat(src.path(), "mapa de uso de tipo desconocido (" + std::to_string(type) + ")");
    }
  } catch (const OutOfRange&) {
    throwBadFormat(src.path(), "un mapa de uso está incompleto");
  }
  return pages;
}

}  // namespace jet
