#include "format/usage_map.h"

#include <algorithm>
#include <optional>
#include <stdexcept>
#include <string>

#include "format/bytes.h"
#include "format/data_page.h"
#include "jet/error.h"

namespace jet {

namespace {

// Offset of the k-th map page number in a reference row.
size_t referenceAt(size_t k) {
  return 1 + kMapPageReferenceSize * k;
}

uint8_t bitMask(uint64_t bit) {
  return static_cast<uint8_t>(1u << (bit % 8));
}

void setBit(uint8_t* bits, uint64_t i) {
  bits[i / 8] |= bitMask(i);
}

// A map row, read and checked once: its type, and what that type stores.
class MapRow {
 public:
  MapRow(const PageSource& src, const Format& fmt, uint32_t pointer)
      : src_(src), id_(RowId::fromPointer(pointer)), row_(rowAt(src, fmt, id_)) {
    if (row_.empty()) return;
    type_ = row_.u8(0);
    if (type_ == kInlineMap) {
      if (row_.size() < kInlineMapHeader) fail(" está incompleto");
    } else if (type_ != kReferenceMap) {
      fail(" es de un tipo desconocido (" + std::to_string(type_) + ")");
    }
  }

  RowId id() const { return id_; }
  ByteView row() const { return row_; }
  bool empty() const { return row_.empty(); }
  uint8_t type() const { return type_; }

  // Inline rows: the first page the bitmap names, and the bitmap.
  uint32_t start() const { return row_.u32(1); }
  ByteView bitmap() const { return row_.from(kInlineMapHeader); }

  // Reference rows: how many map page numbers the row holds, and each (0:
  // none).
  size_t references() const { return (row_.size() - 1) / kMapPageReferenceSize; }
  uint32_t reference(size_t k) const { return row_.u32(referenceAt(k)); }
  // The bitmap of map page `number`, which must be one.
  ByteView mapPageBits(uint32_t number) const {
    if (number >= src_.pageCount()) {
      fail(" señala la página " + std::to_string(number) + ", fuera del archivo");
    }
    ByteView page = src_.page(number);
    if (page.u8(0) != kMapPage) {
      fail(" señala la página " + std::to_string(number) + ", que no es una página de mapa de uso");
    }
    return page.from(kMapPageHeader);
  }

  [[noreturn]] void fail(const std::string& what) const {
    throwBadFormat(src_.path(), "el mapa de uso de la fila " + std::to_string(id_.row) +
                                    " de la página " + std::to_string(id_.page) + what);
  }

 private:
  const PageSource& src_;
  RowId id_;
  ByteView row_;
  uint8_t type_ = kInlineMap;
};

// Calls `mark` for each page a bitmap covering pages from `first` marks.
template <class Mark>
void forEachBit(ByteView bits, uint64_t first, Mark& mark) {
  for (size_t i = 0; i < bits.size(); ++i) {
    const uint8_t b = bits.data()[i];
    for (unsigned j = 0; b != 0 && j < 8; ++j) {
      if (b & (1u << j)) mark(first + i * 8 + j);
    }
  }
}

// Every page the map marks, ascending, to `mark`; each map page read to
// `stored`; each window of pages the map can name to `window`.
template <class Mark, class Stored, class Window>
void walk(const MapRow& m, const Format& fmt, Mark mark, Stored stored, Window window) {
  if (m.empty()) return;
  if (m.type() == kInlineMap) {
    const ByteView bits = m.bitmap();
    window(m.start(), m.start() + uint64_t{bits.size()} * 8);
    forEachBit(bits, m.start(), mark);
    return;
  }
  const uint64_t per_page = mapPageCapacity(fmt);
  for (size_t k = 0; k < m.references(); ++k) {
    const uint32_t map_page = m.reference(k);
    if (map_page == 0) continue;
    const ByteView bits = m.mapPageBits(map_page);
    stored(map_page);
    window(k * per_page, (k + 1) * per_page);
    forEachBit(bits, k * per_page, mark);
  }
}

// Where one page's bit lives: the page holding it, the byte, the bit.
struct BitPlace {
  uint32_t page;
  size_t offset;
  uint8_t mask;
};

std::optional<BitPlace> locate(const PageSource& src, const Format& fmt, uint32_t pointer,
                               uint32_t page) {
  const MapRow m(src, fmt, pointer);
  if (m.empty()) return std::nullopt;  // a map without pages
  if (m.type() == kInlineMap) {
    const uint32_t start = m.start();
    if (page < start) return std::nullopt;
    const uint64_t bit = page - start;
    if (bit >= m.bitmap().size() * 8) return std::nullopt;
    const size_t row_offset = static_cast<size_t>(m.row().data() - src.page(m.id().page).data());
    return BitPlace{m.id().page, row_offset + kInlineMapHeader + bit / 8, bitMask(bit)};
  }
  const uint64_t per_page = mapPageCapacity(fmt);
  const uint64_t k = page / per_page;
  if (k >= m.references()) return std::nullopt;
  const uint32_t map_page = m.reference(k);
  if (map_page == 0) return std::nullopt;
  m.mapPageBits(map_page);
  const uint64_t bit = page - k * per_page;
  return BitPlace{map_page, kMapPageHeader + bit / 8, bitMask(bit)};
}

std::vector<uint8_t> newMapPage(const Format& fmt) {
  std::vector<uint8_t> p(fmt.page_size, 0);
  p[0] = kMapPage;
  p[1] = kPageMark;
  return p;
}

size_t referenceSlots(const Format& fmt) {
  return (usageMapRowSize(fmt) - 1) / kMapPageReferenceSize;
}

}  // namespace

std::vector<uint32_t> readUsageMap(const PageSource& src, const Format& fmt, uint32_t pointer,
                                   PagesBeyondFile beyond) {
  std::vector<uint32_t> pages;
  const MapRow m(src, fmt, pointer);
  const uint64_t count = src.pageCount();
  walk(
      m, fmt,
      [&](uint64_t page) {
        if (page < count) {
          pages.push_back(static_cast<uint32_t>(page));
        } else if (beyond == PagesBeyondFile::AreDamage) {
          m.fail(" marca la página " + std::to_string(page) + ", fuera del archivo");
        }
      },
      [](uint32_t) {}, [](uint64_t, uint64_t) {});
  return pages;
}

UsageMapContents readUsageMapContents(const PageSource& src, const Format& fmt, uint32_t pointer) {
  UsageMapContents out;
  const MapRow m(src, fmt, pointer);
  out.type = m.type();
  out.storage.push_back(m.id().page);
  const uint64_t count = src.pageCount();
  walk(
      m, fmt,
      [&](uint64_t page) {
        if (page < count) {
          out.pages.push_back(static_cast<uint32_t>(page));
        } else {
          out.beyond.push_back(page);
        }
      },
      [&](uint32_t page) { out.storage.push_back(page); },
      [&](uint64_t first, uint64_t end) {
        out.windows.push_back({first, end});
      });
  return out;
}

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

size_t usageMapRowSize(const Format& fmt) {
  return fmt.is_jet4() ? 69 : 133;
}

size_t inlineMapCapacity(const Format& fmt) {
  return (usageMapRowSize(fmt) - kInlineMapHeader) * 8;
}

size_t mapPageCapacity(const Format& fmt) {
  return (fmt.page_size - kMapPageHeader) * 8;
}

UsageMapImage buildUsageMap(const Format& fmt, std::vector<uint32_t> pages,
                            const std::function<uint32_t()>& allocate) {
  std::sort(pages.begin(), pages.end());
  UsageMapImage img;
  img.row.assign(usageMapRowSize(fmt), 0);
  const size_t window = inlineMapCapacity(fmt);
  uint32_t start = 0;
  if (!pages.empty() && pages.back() >= window) start = pages.front() & ~7u;
  if (pages.empty() || pages.back() - start < window) {
    img.row[0] = kInlineMap;
    putU32(img.row.data() + 1, start);
    for (uint32_t p : pages) setBit(img.row.data() + kInlineMapHeader, p - start);
    return img;
  }

  img.row[0] = kReferenceMap;
  const size_t per_page = mapPageCapacity(fmt);
  if (pages.back() / per_page >= referenceSlots(fmt)) {
    throw std::length_error("usage map beyond what a reference map names");
  }
  size_t i = 0;
  while (i < pages.size()) {
    const size_t k = pages[i] / per_page;
    std::vector<uint8_t> page = newMapPage(fmt);
    for (; i < pages.size() && pages[i] / per_page == k; ++i) {
      setBit(page.data() + kMapPageHeader, pages[i] - k * per_page);
    }
    const uint32_t number = allocate();
    putU32(img.row.data() + referenceAt(k), number);
    img.pages.emplace_back(number, std::move(page));
  }
  return img;
}

std::vector<uint8_t> inlineGlobalMap(const Format& fmt, uint32_t page_count, size_t max_row_size) {
  size_t bytes = std::max<size_t>(usageMapRowSize(fmt) - kInlineMapHeader, (page_count + 7) / 8);
  bytes = (bytes + 3) / 4 * 4;
  if (kInlineMapHeader + bytes > max_row_size) return {};
  std::vector<uint8_t> row(kInlineMapHeader + bytes, 0);
  row[0] = kInlineMap;
  for (size_t p = page_count; p < bytes * 8; ++p) setBit(row.data() + kInlineMapHeader, p);
  return row;
}

size_t globalMapPagesNeeded(const Format& fmt, uint32_t page_count) {
  return (page_count + mapPageCapacity(fmt) - 1) / mapPageCapacity(fmt);
}

UsageMapImage referenceGlobalMap(const Format& fmt, uint32_t page_count,
                                 const std::vector<uint32_t>& map_pages) {
  const size_t per_page = mapPageCapacity(fmt);
  if (map_pages.size() != globalMapPagesNeeded(fmt, page_count) ||
      map_pages.size() > referenceSlots(fmt)) {
    throw std::length_error("global usage map does not cover the file");
  }
  UsageMapImage img;
  img.row.assign(usageMapRowSize(fmt), 0);
  img.row[0] = kReferenceMap;
  for (size_t k = 0; k < map_pages.size(); ++k) {
    std::vector<uint8_t> page = newMapPage(fmt);
    for (size_t j = 0; j < per_page; ++j) {
      if (k * per_page + j >= page_count) setBit(page.data() + kMapPageHeader, j);
    }
    putU32(img.row.data() + referenceAt(k), map_pages[k]);
    img.pages.emplace_back(map_pages[k], std::move(page));
  }
  return img;
}

}  // namespace jet
