// Memo and OLE values: kept inline in the row, in one long-value row, or in
// a chain of long-value rows.
#pragma once

#include <string>
#include <vector>

#include "format/bytes.h"
#include "format/data_page.h"
#include "format/format.h"
#include "io/page_source.h"

namespace jet {

inline constexpr size_t kLongValueHeader = 12;
inline constexpr uint8_t kLongValueInline = 0x80;
inline constexpr uint8_t kLongValueSingleRow = 0x40;
inline constexpr uint8_t kLongValueChain = 0x00;

// The whole value the 12-byte reference (and inline data) `field` describes.
// Throws a format error naming the file when it points outside the file,
// loops or ends early.
std::string readLongValue(const PageSource& src, const Format& fmt, ByteView field);

// The long-value rows the reference `field` keeps outside the row (none for
// an inline value), in chain order. Throws a format error naming the file
// when the chain loops.
std::vector<RowId> longValueRows(const PageSource& src, const Format& fmt, ByteView field);

}  // namespace jet
