// Usage maps: the bitmaps that list the pages a table, index or long-value
// column owns. Inline (type 0) or spread over map pages (type 1).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "format/format.h"
#include "io/page_source.h"

namespace jet {

// A map row starts with its type: inline (type, first page (4), bitmap) or
// reference (type, then the map pages (4 each), each page holding a header
// and a bitmap of (page size - 4) * 8 pages).
inline constexpr uint8_t kInlineMap = 0x00;
inline constexpr uint8_t kReferenceMap = 0x01;
inline constexpr size_t kInlineMapHeader = 5;
inline constexpr uint8_t kMapPage = 0x05;  // type byte of a reference map's pages
inline constexpr size_t kMapPageHeader = 4;

// What a marked page beyond the end of the file means: damage in an owner's
// map; nothing in the global map, whose bits stand set (free) beyond the
// end of the file.
enum class PagesBeyondFile { AreDamage, AreSkipped };

// The pages the map at `pointer` (a row pointer) marks, ascending.
std::vector<uint32_t> readUsageMap(const PageSource& src, const Format& fmt, uint32_t pointer,
                                   PagesBeyondFile beyond = PagesBeyondFile::AreDamage);

}  // namespace jet
