// A data page's row slots. Rows are addressed by row id (page, row number);
// slots are never renumbered, so an id stays valid while the file is open.
#pragma once

#include <cstdint>

#include "format/bytes.h"
#include "format/format.h"
#include "io/page_source.h"
#include "jet/types.h"

namespace jet {

inline constexpr uint8_t kDataPage = 0x01;
inline constexpr uint16_t kSlotDeleted = 0x8000;  // with 0x4000: deleted; alone: overflow target
inline constexpr uint16_t kSlotMoved = 0x4000;    // alone: the row's data lies elsewhere
inline constexpr uint16_t kSlotOffsetMask = 0x1FFF;

class DataPage {
 public:
  // Checks the page type; throws a format error naming the file otherwise.
  DataPage(const PageSource& src, const Format& fmt, uint32_t page);

  uint32_t number() const { return number_; }
  uint32_t owner() const { return bytes_.u32(4); }
  uint16_t rowCount() const { return row_count_; }
  uint16_t slot(uint16_t row) const { return bytes_.u16(fmt_.data_slots + 2u * row); }
  // The row's bytes, between its offset and the previous slot's offset.
  ByteView row(uint16_t row) const;

 private:
  const PageSource& src_;
  const Format& fmt_;
  uint32_t number_;
  ByteView bytes_;
  uint16_t row_count_;
};

// The bytes of the row a pointer names (used for usage maps and long values).
ByteView rowAt(const PageSource& src, const Format& fmt, RowId id);

}  // namespace jet
