// Memo and OLE values: kept inline in the row, in one long-value row, or in
// a chain of long-value rows. Everything about their layout lives here.
//
// The row holds a 12-byte field: the value's length (30 bits) with its kind
// in the top two bits, the row pointer of its first long-value row, and 4
// unused bytes; an inline value's bytes follow the field. Long-value rows
// lie on data pages whose owner field reads "LVAL"; a row of a chain starts
// with the row pointer of the next one (0 in the last).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "format/bytes.h"
#include "format/data_page.h"
#include "format/format.h"
#include "io/page_source.h"
#include "jet/column.h"

namespace jet {

inline constexpr size_t kLongValueHeader = 12;
inline constexpr uint32_t kLongValueLengthMask = 0x3FFFFFFF;
// Kinds, the top byte of the field's first word.
inline constexpr uint8_t kLongValueInline = 0x80;
inline constexpr uint8_t kLongValueSingleRow = 0x40;
inline constexpr uint8_t kLongValueChain = 0x00;
inline constexpr size_t kLongValueChainLink = 4;  // next row pointer, at the start of a chain row
// The owner field of a long-value page: the ASCII bytes "LVAL".
inline constexpr uint32_t kLongValueOwner = 0x4C41564C;
// The longest value a new row keeps inline.
inline constexpr size_t kMaxInlineLongValue = 64;

// The longest long-value row a new page takes.
size_t maxLongValueRow(const Format& fmt);

// The whole value the 12-byte reference (and inline data) `field` describes.
// Throws a format error naming the file when it points outside the file,
// loops or ends early.
std::string readLongValue(const PageSource& src, const Format& fmt, ByteView field);

// The long-value rows the reference `field` keeps outside the row (none for
// an inline value), in chain order. Throws a format error naming the file
// when the chain loops.
std::vector<RowId> longValueRows(const PageSource& src, const Format& fmt, ByteView field);

// Where a long value went outside the row.
struct LongValueRef {
  uint32_t pointer = 0;    // row pointer of its first long-value row
  bool single_row = true;  // false: a chain of rows
};

// Where a row being packed puts its long values.
class LongValueStore {
 public:
  virtual ~LongValueStore() = default;
  virtual LongValueRef store(const Column& column, const std::vector<uint8_t>& data) = 0;
};

// Writes the field (kLongValueHeader bytes) of a value of `length` bytes:
// inline, or at `ref`.
void putLongValueField(uint8_t* field, size_t length, bool inline_value, LongValueRef ref = {});

// Lays `bytes` out as long-value rows: one row when it fits
// maxLongValueRow, else a chain, placed last part first so that every link
// is known when its row is written. `place` stores one row and returns its
// row pointer.
LongValueRef layOutLongValue(const Format& fmt, const std::vector<uint8_t>& bytes,
                             const std::function<uint32_t(const uint8_t*, size_t)>& place);

}  // namespace jet
