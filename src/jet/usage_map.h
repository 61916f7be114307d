// Usage maps: the bitmaps that list the pages a table, index or long-value
// column owns. Inline (type 0) or spread over map pages (type 1).
#pragma once

#include <cstdint>
#include <vector>

#include "format.h"
#include "page_source.h"

namespace jet {

// What a marked page beyond the end of the file means: damage in an owner's
// map; nothing in the global map, whose bits stand set (free) beyond the
// end of the file.
enum class PagesBeyondFile { AreDamage, AreSkipped };

// The pages the map at `pointer` (a row pointer) marks, ascending.
std::vector<uint32_t> readUsageMap(const PageSource& src, const Format& fmt, uint32_t pointer,
                                   PagesBeyondFile beyond = PagesBeyondFile::AreDamage);

}  // namespace jet
