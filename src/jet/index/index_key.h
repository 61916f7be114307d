// Index keys: the bytes an index entry stores for a row's values, so that
// plain unsigned byte order of the keys is the index's order.
//
// Per index column: a flag byte (0x7F ascending, 0x80 descending; a null
// value is the single byte 0x00 ascending or 0xFF descending), then the
// value's bytes, all of them inverted in a descending column. Text is
// written as collation weights of the column's sort order; the encoder
// knows Access's "General" order: Jet 3 (Windows-1252 text) and the Jet 4
// "legacy" version for characters up to U+00FF. A value it has no rule for
// is reported as not encodable, never approximated: a caller that needs the
// entry of such a row must find it by its row pointer instead.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "format/format.h"
#include "format/table_def.h"
#include "io/page_source.h"
#include "jet/column.h"
#include "jet/value.h"

namespace jet {

// The text sort order of a column: the locale id and, in Jet 4, the version
// byte that follows it (0 for the order Access 2000-2007 write).
struct SortOrder {
  uint16_t lcid = 0;
  uint8_t version = 0;
  bool operator==(const SortOrder&) const = default;
};

// The byte each column's part of a key starts with: a value, or null, in an
// ascending or descending index column.
inline constexpr uint8_t kFlagAsc = 0x7F;
inline constexpr uint8_t kFlagDesc = 0x80;
inline constexpr uint8_t kNullAsc = 0x00;
inline constexpr uint8_t kNullDesc = 0xFF;

// What an attempt to build a key produced.
struct KeyResult {
  std::vector<uint8_t> bytes;
  // Empty when the key is complete; otherwise why it could not be built.
  std::string problem;
  // The characters of text values that no rule covers (code points, each
  // once per occurrence).
  std::vector<uint32_t> unsupported_chars;

  bool ok() const { return problem.empty(); }
};

// Encodes the key of one index column. `sort` is the text column's sort
// order (ignored for other types).
KeyResult encodeKeyColumn(const Format& fmt, const Column& column, SortOrder sort, bool ascending,
                          const Value& value);

// The value bytes of a text (or memo) value in the given sort order, without
// the flag byte; Jet 3 text is taken as Windows-1252 (encodeKeyColumn checks
// the column's code page).
KeyResult encodeTextKey(const Format& fmt, SortOrder sort, bool ascending, const std::string& utf8);

// The sort orders of a table's text and memo columns, read from the column
// descriptors of the definition's pages: one per entry of `def.columns`, in
// its order (other columns get {0, 0}).
std::vector<SortOrder> readSortOrders(const PageSource& src, const Format& fmt,
                                      const TableDef& def);

// Builds the keys of one real index of a table.
class IndexKeyEncoder {
 public:
  IndexKeyEncoder(const Format& fmt, const TableDef& def, const RealIndex& index,
                  std::vector<SortOrder> sort_orders);

  // `row` holds the values in the order of def.columns (Table::readRow).
  KeyResult encode(const std::vector<Value>& row) const;

  // Whether every indexed value of the row is null (such rows have no entry
  // in an index that ignores nulls).
  bool allNull(const std::vector<Value>& row) const;

 private:
  struct Part {
    size_t position;  // in def.columns
    bool ascending;
  };
  const Format* fmt_;
  const TableDef* def_;
  std::vector<Part> parts_;
  std::vector<SortOrder> sorts_;
  std::string problem_;  // set when an index column is missing from the table
};

}  // namespace jet
