#include "format/data_page.h"

#include "jet/error.h"

namespace jet {

DataPage::DataPage(const PageSource& src, const Format& fmt, uint32_t page)
    : src_(src), fmt_(fmt), number_(page), bytes_(src.page(page)) {
  if (bytes_.u8(0) != kDataPage) {
    throwBadFormat(src.path(), "la página " + std::to_string(page) + " no es una página de datos");
  }
  row_count_ = bytes_.u16(fmt.data_row_count);
  if (fmt.data_slots + 2u * row_count_ > fmt.page_size) {
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
  size_t first = fmt_.data_slots + 2u * row_count_;
  if (start < first || start > end || end > fmt_.page_size) {
    throwBadFormat(src_.path(), "la fila " + std::to_string(r) + " de la página " +
                                    std::to_string(number_) + " tiene límites no válidos");
  }
  return bytes_.sub(start, end - start);
}

ByteView rowAt(const PageSource& src, const Format& fmt, RowId id) {
  return DataPage(src, fmt, id.page).row(id.row);
}

}  // namespace jet
