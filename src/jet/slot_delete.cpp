#include "slot_delete.h"

#include <cstring>

#include "bytes.h"
#include "data_page.h"

namespace jet {

namespace {

uint16_t get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
void put16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

}  // namespace

bool deleteSlot(uint8_t* page, const Format& fmt, uint16_t row) {
  const size_t ps = fmt.page_size;
  const uint16_t count = get16(page + fmt.data_row_count);
  const size_t slots = fmt.data_slots;
  const size_t first_row_byte = slots + 2u * count;
  if (row >= count || first_row_byte > ps) return false;
  auto offset = [&](uint16_t i) -> size_t { return get16(page + slots + 2u * i) & kSlotOffsetMask; };

  const size_t start = offset(row);
  const size_t end = row == 0 ? ps : offset(static_cast<uint16_t>(row - 1));
  if (start < first_row_byte || start > end || end > ps) return false;
  const size_t n = end - start;

  // The lowest row start on the page: everything from there up to `start` moves up by n.
  size_t low = start;
  for (uint16_t i = 0; i < count; ++i) {
    const size_t o = offset(i);
    if (o < first_row_byte || o > ps) return false;
    if (o < low) low = o;
  }
  if (n > 0) {
    std::memmove(page + low + n, page + low, start - low);
    std::memset(page + low, 0, n);
    for (uint16_t i = 0; i < count; ++i) {
      if (i == row) continue;
      const size_t o = offset(i);
      // Rows below, and zero-length slots that sat right at the deleted row's start.
      if (o < start || (o == start && i > row)) {
        uint8_t* s = page + slots + 2u * i;
        put16(s, static_cast<uint16_t>((get16(s) & ~kSlotOffsetMask) | (o + n)));
      }
    }
    put16(page + 2, static_cast<uint16_t>(get16(page + 2) + n));
  }
  put16(page + slots + 2u * row, static_cast<uint16_t>(end | kSlotDeleted | kSlotMoved));
  return true;
}

}  // namespace jet
