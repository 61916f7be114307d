#include "format/page_allocator.h"

#include <cstring>

#include "format/catalog.h"
#include "format/usage_map.h"

namespace jet {

namespace {

// Gives the page to the owner; false, changing nothing, when the owner's map
// or the global map cannot name it. (A page outside the global map's window
// would count as free to other programs, which would hand it out again.)
bool take(PageSource& pages, const Format& fmt, uint32_t owner_map, uint32_t page) {
  const MapBitResult owned = setUsageMapBit(pages, fmt, owner_map, page, true);
  if (owned == MapBitResult::OutOfRange) return false;
  if (setUsageMapBit(pages, fmt, kGlobalMapPointer, page, false) == MapBitResult::OutOfRange) {
    if (owned == MapBitResult::Changed) setUsageMapBit(pages, fmt, owner_map, page, false);
    return false;
  }
  std::memset(pages.writablePage(page), 0, pages.pageSize());
  return true;
}

}  // namespace

uint32_t allocatePage(PageSource& pages, const Format& fmt, uint32_t owner_map) {
  for (uint32_t page : readUsageMap(pages, fmt, kGlobalMapPointer, PagesBeyondFile::AreSkipped)) {
    // Never the header, the global map or the catalog's definition.
    if (page <= kCatalogTdefPage || page >= pages.pageCount()) continue;
    if (pages.page(page).u8(0) != 0) continue;  // free, yet still holding something
    if (take(pages, fmt, owner_map, page)) return page;
  }
  const uint32_t page = pages.appendPage();
  if (take(pages, fmt, owner_map, page)) return page;
  return 0;  // the caller gives up, and the rollback takes the new page back
}

}  // namespace jet
