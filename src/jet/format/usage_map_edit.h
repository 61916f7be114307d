// Changing single page bits of existing usage maps in place: the maps of a
// table, an index or a long-value column (bit set = the owner uses the page)
// and the file's global map on page 1 (bit set = the page is free).
//
// The map row is found by its row pointer; an inline row (type 0) names the
// pages start .. start + 8·(bitmap bytes) − 1, a reference row (type 1)
// names map pages (type 0x05), each covering (page size − 4)·8 pages. A map
// is never widened or converted here: a page outside what the map can name
// is reported back, and nothing changes. A page of the file is touched only
// when its bit really changes.
#pragma once

#include <cstdint>

#include "format/format.h"
#include "io/page_source.h"

namespace jet {

// The row pointer of the global page map: row 0 of page 1.
inline constexpr uint32_t kGlobalMapPointer = 1u << 8;

enum class MapBitResult {
  Changed,    // the bit had the other value and now has `value`
  Unchanged,  // it already had `value`
  OutOfRange  // the map cannot name the page (beyond an inline window, or
              // in a reference map page that does not exist)
};

// Sets (`value` true) or clears page `page`'s bit in the map whose row
// pointer is `pointer`. Must run inside a unit of work when a bit changes.
// Throws a format error naming the file when the row is no usage map, or a
// reference names a page that is no map page.
MapBitResult setUsageMapBit(PageSource& pages, const Format& fmt, uint32_t pointer, uint32_t page,
                            bool value);

// Whether the map names `page` (bit set); false also when it cannot name it.
bool usageMapBit(const PageSource& pages, const Format& fmt, uint32_t pointer, uint32_t page);

}  // namespace jet
