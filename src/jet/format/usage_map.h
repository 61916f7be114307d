// Usage maps: the bitmaps that list the pages a table, an index or a
// long-value column owns (bit set = the owner uses the page), and the file's
// global map on page 1 (bit set = the page is free). Everything about their
// layout lives here: reading a map, finding and changing one page's bit in
// place, and encoding new maps.
//
// A map row starts with its type. Inline (type 0): `00 | start page (4) |
// bitmap`, bit i for page start + i. Reference (type 1): `01 | map page (4)
// × n`, where map page k (type 0x05, `05 01 00 00 | bitmap`) covers pages
// k·B .. (k+1)·B − 1 with B = (page size − 4)·8, and 0 stands for a map page
// with no bits. Rows are as long as Access makes them: 69 bytes in Jet 4,
// 133 in Jet 3.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "format/format.h"
#include "io/page_source.h"

namespace jet {

inline constexpr uint8_t kInlineMap = 0x00;
inline constexpr uint8_t kReferenceMap = 0x01;
inline constexpr size_t kInlineMapHeader = 5;       // type, start page
inline constexpr size_t kMapPageReferenceSize = 4;  // each map page number of a reference row
inline constexpr uint8_t kMapPage = 0x05;           // type byte of a reference map's pages
inline constexpr size_t kMapPageHeader = 4;

// The global page map: row 0 of page 1.
inline constexpr uint32_t kGlobalMapPage = 1;
inline constexpr uint32_t kGlobalMapPointer = kGlobalMapPage << 8;

// ---------------------------------------------------------------------------
// Reading

// What a marked page beyond the end of the file means: damage in an owner's
// map; nothing in the global map, whose bits stand set (free) beyond the
// end of the file.
enum class PagesBeyondFile { AreDamage, AreSkipped };

// The pages the map at `pointer` (a row pointer) marks, ascending. Throws a
// format error naming the file when the row is no usage map, is cut short,
// or names a map page that is none.
std::vector<uint32_t> readUsageMap(const PageSource& src, const Format& fmt, uint32_t pointer,
                                   PagesBeyondFile beyond = PagesBeyondFile::AreDamage);

// A usage map as stored, for checks of the file.
struct UsageMapContents {
  uint8_t type = kInlineMap;
  std::vector<uint32_t> pages;    // marked, inside the file, ascending
  std::vector<uint64_t> beyond;   // marked, past the end of the file
  std::vector<uint32_t> storage;  // pages the map itself occupies: its row's, then map pages
  // The pages the map can name, [first, end): the inline window, or the
  // range of each map page a reference row names. Empty for an empty row.
  struct Window {
    uint64_t first;
    uint64_t end;
  };
  std::vector<Window> windows;
};

// The map at `pointer`, with the errors of readUsageMap (pages past the end
// of the file are listed, not thrown).
UsageMapContents readUsageMapContents(const PageSource& src, const Format& fmt, uint32_t pointer);

// ---------------------------------------------------------------------------
// Changing single bits in place. A map is never widened or converted here: a
// page outside what the map can name is reported back, and nothing changes.
// A page of the file is touched only when its bit really changes.

enum class MapBitResult {
  Changed,    // the bit had the other value and now has `value`
  Unchanged,  // it already had `value`
  OutOfRange  // the map cannot name the page (beyond an inline window, or
              // in a reference map page that does not exist)
};

// Sets (`value` true) or clears page `page`'s bit in the map whose row
// pointer is `pointer`. Must run inside a unit of work when a bit changes.
// Throws as readUsageMap does.
MapBitResult setUsageMapBit(PageSource& pages, const Format& fmt, uint32_t pointer, uint32_t page,
                            bool value);

// Whether the map names `page` (bit set); false also when it cannot name it.
bool usageMapBit(const PageSource& pages, const Format& fmt, uint32_t pointer, uint32_t page);

// ---------------------------------------------------------------------------
// Encoding new maps

// Bytes of a map row (type byte included).
size_t usageMapRowSize(const Format& fmt);
// Pages one inline row names.
size_t inlineMapCapacity(const Format& fmt);
// Pages one map page of a reference row names.
size_t mapPageCapacity(const Format& fmt);

struct UsageMapImage {
  std::vector<uint8_t> row;
  // Map pages of a reference row: page number and its bytes.
  std::vector<std::pair<uint32_t, std::vector<uint8_t>>> pages;
};

// The map of `pages` (any order, no repeats). Inline when they fit one
// window (starting at page 0 when possible, else at the first page rounded
// down to a multiple of 8); otherwise a reference row whose map pages get
// numbers from `allocate`, called once per map page needed, in page order.
// Throws std::length_error when the pages lie beyond what a reference row
// can name.
UsageMapImage buildUsageMap(const Format& fmt, std::vector<uint32_t> pages,
                            const std::function<uint32_t()>& allocate);

// The row of the global map on page 1 for a file of `page_count` pages, all
// in use: an inline bitmap as long as the file needs (at least the usual
// 64/128 bytes, in whole 4-byte steps), with every bit from `page_count` to
// the end of the row set (free). Empty when that row would be longer than
// `max_row_size`.
std::vector<uint8_t> inlineGlobalMap(const Format& fmt, uint32_t page_count, size_t max_row_size);

// The global map as a reference row over `map_pages` (globalMapPagesNeeded
// of them, pages of the file itself), with the bits of pages at or past
// `page_count` set.
UsageMapImage referenceGlobalMap(const Format& fmt, uint32_t page_count,
                                 const std::vector<uint32_t>& map_pages);

// How many map pages a reference global map needs for a file of
// `page_count` pages.
size_t globalMapPagesNeeded(const Format& fmt, uint32_t page_count);

}  // namespace jet
