// Deleting a row slot on a data page as Access leaves it: the slot keeps its
// number, flagged deleted (0xC000) with zero length, the rows stored below
// it move up over its bytes, and the page's free-space count grows by them.
#pragma once

#include <cstdint>

#include "format/format.h"

namespace jet {

// `page` is a whole data page of `fmt.page_size` bytes; `row` < its row count.
// Returns false (changing nothing) when the page's slots are inconsistent.
bool deleteSlot(uint8_t* page, const Format& fmt, uint16_t row);

}  // namespace jet
