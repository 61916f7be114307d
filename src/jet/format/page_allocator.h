// Handing out a page of the file to an owner (an index, when a node page is
// split): a page the file's global map lists as free and that holds nothing
// (type byte 0), or else a new page at the end of the file. The page is
// marked used in the global map and named in the owner's usage map. Must
// run inside a unit of work.
#pragma once

#include <cstdint>

#include "format/format.h"
#include "io/page_source.h"

namespace jet {

// The page number, zero-filled; 0 when the owner's usage map (`owner_map`,
// a row pointer) can name neither a free page nor a new one.
uint32_t allocatePage(PageSource& pages, const Format& fmt, uint32_t owner_map);

}  // namespace jet
