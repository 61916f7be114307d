// Usage maps: the bitmaps that list the pages a table, index or long-value
// column owns. Inline (type 0) or spread over map pages (type 1).
#pragma once

#include <cstdint>
#include <vector>

#include "format.h"
#include "page_source.h"

namespace jet {

// The pages the map at `pointer` (a row pointer) marks, ascending.
std::vector<uint32_t> readUsageMap(const PageSource& src, const Format& fmt, uint32_t pointer);

}  // namespace jet
