#include "format/usage_map_writer.h"

#include <algorithm>
#include <stdexcept>

#include "format/bytes.h"
#include "format/usage_map.h"

namespace jet {

namespace {

void setBit(uint8_t* bits, size_t i) {
  bits[i / 8] |= static_cast<uint8_t>(1u << (i % 8));
}

std::vector<uint8_t> newMapPage(const Format& fmt) {
  std::vector<uint8_t> p(fmt.page_size, 0);
  p[0] = kUsageMapPage;
  p[1] = 0x01;
  return p;
}

size_t referenceSlots(const Format& fmt) {
  return (usageMapRowSize(fmt) - 1) / 4;
}

}  // namespace

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
  const size_t slots = referenceSlots(fmt);
  if (pages.back() / per_page >= slots) {
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
    putU32(img.row.data() + 1 + 4 * k, number);
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
    putU32(img.row.data() + 1 + 4 * k, map_pages[k]);
    img.pages.emplace_back(map_pages[k], std::move(page));
  }
  return img;
}

}  // namespace jet
