// Writing usage maps: the row that names the pages a table, an index or a
// long-value column owns (or, for the file's global map, the pages that are
// free).
//
// A map row is either inline, `00 | start page (4) | bitmap` with bit i for
// page start + i, or a reference, `01 | map page (4) × n`, where map page k
// (type 0x05, `05 01 00 00 | bitmap`) covers pages k·B .. (k+1)·B − 1 with
// B = (page size − 4) · 8, and 0 stands for a map page with no bits. Rows are
// as long as Access makes them: 69 bytes in Jet 4, 133 in Jet 3.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "format/format.h"

namespace jet {

inline constexpr uint8_t kUsageMapPage = 0x05;

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
