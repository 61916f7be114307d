#include "format/data_page.h"

#include <cstring>

#include "jet/error.h"

namespace jet {

DataPage::DataPage(const PageSource& src, const Format& fmt, uint32_t page)
    : src_(src), fmt_(fmt), number_(page), bytes_(src.page(page)) {
  if (bytes_.u8(0) != kDataPage) {
    throwBadFormat(src.path(), "la página " + std::to_string(page) + " no es una página de datos");
  }
  row_count_ = bytes_.u16(fmt.data_row_count);
  if (slotOffset(fmt, row_count_) > fmt.page_size) {
    throwBadFormat(src.path(), "la página " + std::to_string(page) + " declara demasiadas filas");
  }
}

ByteView DataPage::row(uint16_t r) const {
  if (r >= row_count_) {
    throwBadFormat(src_.path(), "la fila " + std::to_string(r) + " de la página " +
                                    std::to_string(number_) + " no existe");
  }
  size_t start = slot(r) & kSlotOffsetMask;
  size_t end = r == 0 ? fmt_.page_size : (slot(static_cast<uint16_t>(r - 1)) & kSlotOffsetMask);
  size_t first = slotOffset(fmt_, row_count_);
  if (start < first || start > end || end > fmt_.page_size) {
    throwBadFormat(src_.path(), "la fila " + std::to_string(r) + " de la página " +
                                    std::to_string(number_) + " tiene límites no válidos");
  }
  return bytes_.sub(start, end - start);
}

ByteView rowAt(const PageSource& src, const Format& fmt, RowId id) {
  return DataPage(src, fmt, id.page).row(id.row);
}

bool deleteSlot(uint8_t* page, const Format& fmt, uint16_t row) {
  const size_t ps = fmt.page_size;
  const uint16_t count = getU16(page + fmt.data_row_count);
  const size_t slots = fmt.data_slots;
  const size_t first_row_byte = slotOffset(fmt, count);
  if (row >= count || first_row_byte > ps) return false;

  // The slot words, read once (pages hold a hundred rows and more).
  constexpr size_t kMaxSlots = kMaxPageSize / kSlotSize;
  uint16_t raw[kMaxSlots];
  for (size_t i = 0; i < count; ++i) raw[i] = getU16(page + slots + kSlotSize * i);

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
    putU16(page + kDataFreeSpace, static_cast<uint16_t>(getU16(page + kDataFreeSpace) + n));
  }
  raw[row] = static_cast<uint16_t>(end | kSlotDeleted | kSlotMoved);
  for (size_t i = 0; i < count; ++i) putU16(page + slots + kSlotSize * i, raw[i]);
  return true;
}

void DataPageBuilder::start(uint32_t number) {
  number_ = number;
  page_.assign(fmt_->page_size, 0);
  rows_ = 0;
  end_ = fmt_->page_size;
}

std::vector<uint8_t> DataPageBuilder::finish() {
  page_[0] = kDataPage;
  page_[1] = kPageMark;
  putU16(page_.data() + kDataFreeSpace, static_cast<uint16_t>(freeSpace()));
  putU32(page_.data() + kDataOwner, owner_);
  putU16(page_.data() + fmt_->data_row_count, rows_);
  std::vector<uint8_t> out;
  out.swap(page_);
  return out;
}

}  // namespace jet
