// Data pages: a header (type, free-space count, owner, row count), a slot
// table with each row's start offset and flags, and the rows themselves,
// stored from the end of the page downwards (row 0 last). Everything about
// their layout lives here: reading rows, deleting a slot in place, and
// filling new pages.
//
// Rows are addressed by row id (page, row number); slots are never
// renumbered, so an id stays valid while the file is open.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "format/bytes.h"
#include "format/format.h"
#include "io/page_source.h"
#include "jet/types.h"

namespace jet {

inline constexpr uint8_t kDataPage = 0x01;
inline constexpr size_t kDataFreeSpace = 2;  // u16: bytes between the slot table and the rows
inline constexpr size_t kDataOwner = 4;      // u32: the table's first TDEF page, or "LVAL"
inline constexpr size_t kSlotSize = 2;
inline constexpr uint16_t kSlotDeleted = 0x8000;  // with 0x4000: deleted; alone: overflow target
inline constexpr uint16_t kSlotMoved = 0x4000;    // alone: the row's data lies elsewhere
inline constexpr uint16_t kSlotOffsetMask = 0x1FFF;
// Row numbers are one byte.
inline constexpr size_t kRowNumbers = 256;

// Where slot `row` lies, and the first byte past a table of `rows` slots.
inline size_t slotOffset(const Format& fmt, size_t row) {
  return fmt.data_slots + kSlotSize * row;
}

class DataPage {
 public:
  // Checks the page type; throws a format error naming the file otherwise.
  DataPage(const PageSource& src, const Format& fmt, uint32_t page);

  uint32_t number() const { return number_; }
  uint32_t owner() const { return bytes_.u32(kDataOwner); }
  uint16_t rowCount() const { return row_count_; }
  uint16_t slot(uint16_t row) const { return bytes_.u16(slotOffset(fmt_, row)); }
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

// Deletes slot `row` of `page` (a whole data page) as Access leaves it: the
// slot keeps its number, flagged deleted (0xC000) with zero length, the
// rows stored below it move up over its bytes, and the page's free-space
// count grows by them. Returns false (changing nothing) when the page's
// slots are inconsistent or `row` is not below its row count.
bool deleteSlot(uint8_t* page, const Format& fmt, uint16_t row);

// A data page being filled for a new file.
class DataPageBuilder {
 public:
  DataPageBuilder(const Format& fmt, uint32_t owner) : fmt_(&fmt), owner_(owner) {}

  bool started() const { return !page_.empty(); }
  uint32_t number() const { return number_; }
  uint16_t rows() const { return rows_; }

  void start(uint32_t number);
  size_t freeSpace() const { return end_ - slotOffset(*fmt_, rows_); }
  bool fits(size_t length) const {
    return started() && rows_ < kMaxRowsWritten && freeSpace() >= length + kSlotSize;
  }
  // Adds a row; returns its row number.
  uint8_t add(const uint8_t* row, size_t length) {
    end_ -= length;
    if (length > 0) std::memcpy(page_.data() + end_, row, length);
    putU16(page_.data() + slotOffset(*fmt_, rows_), static_cast<uint16_t>(end_));
    return static_cast<uint8_t>(rows_++);
  }
  // The finished page's bytes; the builder is closed afterwards.
  std::vector<uint8_t> finish();

 private:
  static constexpr uint16_t kMaxRowsWritten = 255;

  const Format* fmt_;
  uint32_t owner_;
  uint32_t number_ = 0;
  std::vector<uint8_t> page_;
  uint16_t rows_ = 0;
  size_t end_ = 0;
};

}  // namespace jet
