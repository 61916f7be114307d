#include "format/slot_delete.h"

#include <cstring>

#include "format/bytes.h"
#include "format/data_page.h"

namespace jet {

bool deleteSlot(uint8_t* page, const Format& fmt, uint16_t row) {
  const size_t ps = fmt.page_size;
  const uint16_t count = getU16(page + fmt.data_row_count);
  const size_t slots = fmt.data_slots;
  const size_t first_row_byte = slots + 2u * count;
  if (row >= count || first_row_byte > ps) return false;

  // The slot words, read once (pages hold a hundred rows and more).
  constexpr size_t kMaxSlots = 4096 / 2;
  uint16_t raw[kMaxSlots];
  for (size_t i = 0; i < count; ++i) raw[i] = getU16(page + slots + 2 * i);

  const size_t start = raw[row] & kSlotOffsetMask;
  const size_t end = row == 0 ? ps : raw[row - 1] & kSlotOffsetMask;
  if (start < first_row_byte || start > end || end > ps) return false;
  const size_t n = end - start;

  // The lowest row start on the page: everything from there up to `start`
  // moves up by n. (32-bit lanes, so that the compiler can take several
  // slots a step.)
  const uint32_t mask = kSlotOffsetMask;
  const auto first = static_cast<uint32_t>(first_row_byte), last = static_cast<uint32_t>(ps);
  uint32_t low = static_cast<uint32_t>(start);
  uint32_t sound = 1;
  for (size_t i = 0; i < count; ++i) {
    const uint32_t o = raw[i] & mask;
    sound &= static_cast<uint32_t>(o >= first) & static_cast<uint32_t>(o <= last);
    low = o < low ? o : low;
  }
  if (!sound) return false;
  if (n > 0) {
    std::memmove(page + low + n, page + low, start - low);
    std::memset(page + low, 0, n);
    const auto at = static_cast<uint32_t>(start), by = static_cast<uint32_t>(n);
    for (uint32_t i = 0; i < count; ++i) {
      const uint32_t o = raw[i] & mask;
      // Rows below, and zero-length slots that sat right at the deleted row's start.
      const uint32_t below = static_cast<uint32_t>(o < at) |
                             (static_cast<uint32_t>(o == at) & static_cast<uint32_t>(i > row));
      raw[i] = static_cast<uint16_t>(below ? ((raw[i] & ~mask) | (o + by)) : raw[i]);
    }
    putU16(page + 2, static_cast<uint16_t>(getU16(page + 2) + n));
  }
  raw[row] = static_cast<uint16_t>(end | kSlotDeleted | kSlotMoved);
  for (size_t i = 0; i < count; ++i) putU16(page + slots + 2 * i, raw[i]);
  return true;
}

}  // namespace jet
