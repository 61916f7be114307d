// Turns a column's stored bytes into a Value.
#pragma once

#include "format/format.h"
#include "format/row_layout.h"
#include "io/page_source.h"
#include "jet/column.h"
#include "jet/value.h"

namespace jet {

class ValueDecoder {
 public:
  ValueDecoder(const PageSource& src, const Format& fmt) : src_(&src), fmt_(&fmt) {}

  // The column's value in the row. Throws OutOfRange when the column's bytes
  // lie outside the row, a format error for a broken long value.
  Value decode(const RowLayout& row, const Column& c) const;

  // Decodes raw bytes of a column of this type (the text rules of the file's version).
  Value decodeBytes(const Column& c, ByteView bytes) const;
  std::string decodeText(ByteView bytes) const;

 private:
  const PageSource* src_;
  const Format* fmt_;
};

// Exact decimal text of a Numeric value: sign, 128-bit magnitude, scale.
std::string numericToString(ByteView bytes17, uint8_t scale);

}  // namespace jet
