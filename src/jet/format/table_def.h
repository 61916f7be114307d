// A table definition (TDEF): its columns, its real and logical indexes and
// the maps of its pages, in one or several chained pages. Everything about
// its layout lives here: reading a definition, and encoding a new one.
//
// Each page starts with its type (0x02), 0x01, the free space (Jet 4) or
// "VC" (Jet 3) and the next page of the chain (0 in the last); the first
// page's header goes on with the definition's length. A continuation page
// adds its bytes after its 8-byte header. After the header fields, the
// definition holds per real index a count block, the columns, their names,
// the real indexes, the logical indexes, their names, and the usage maps
// of each memo and OLE column, ending with FF FF.
#pragma once

#include <cstdint>

#include "format/format.h"
#include "io/page_source.h"
#include "jet/table_def.h"

namespace jet {

inline constexpr uint8_t kTdefPage = 0x02;
inline constexpr size_t kTdefNextPage = 4;  // u32, every page of the chain
inline constexpr size_t kTdefLength = 8;    // u32, the first page: bytes of the definition
inline constexpr size_t kTdefContinuationHeader = 8;  // header of every page but the first
inline constexpr size_t kIndexColumnSlots = 10;       // columns a real index entry holds
inline constexpr uint16_t kNoIndexColumn = 0xFFFF;    // an unused one
inline constexpr uint16_t kEndOfLongValueMaps = 0xFFFF;

// Reads the definition starting at `page`. Throws a format error naming the
// file when the page is not a table definition, a chain loops or a field
// lies outside the definition.
TableDef readTableDef(const PageSource& pages, const Format& fmt, uint32_t page,
                      uint16_t code_page);

// The usage maps of one memo or OLE column, listed at the end of the
// definition.
struct LongValueColumnMaps {
  uint16_t column_number = 0;
  uint32_t owned = 0;  // row pointers of the column's usage maps
  uint32_t free = 0;   // 0 when none
};

// The end of a definition as stored, for checks of the file: the memo and
// OLE column maps, and where their list ends against the length field.
struct DefinitionTail {
  std::vector<LongValueColumnMaps> long_value_maps;
  bool complete = false;  // the list ends inside the definition
  size_t end = 0;         // where it ends
  uint32_t length = 0;    // the definition's length field
};
// Walks the definition of `def` (read by readTableDef) past its names to
// the column maps. Damage ends the walk: `complete` stays false and the
// maps read so far are kept.
DefinitionTail readDefinitionTail(const PageSource& src, const Format& fmt, const TableDef& def);

// Raw definition facts the reader's TableDef does not keep.
struct TableExtras {
  bool system = false;
  std::vector<uint32_t> distinct_keys;               // per real index
  std::vector<LongValueColumnMaps> long_value_maps;  // in column number order
};

// The TDEF bytes as one buffer: the first page's header included (next page
// 0), the definition length filled in, ending with FF FF. The logical
// indexes are stored sorted by name, as Access stores them.
std::vector<uint8_t> encodeTableDefinition(const Format& fmt, const TableDef& def,
                                           const TableExtras& extras);

// Splits an encoded definition over `pages` (first the table's own page,
// then continuations): each page gets its header (type, free space or "VC",
// next page) and its share of the bytes. `pages` must hold
// tableDefinitionPages() numbers.
size_t tableDefinitionPages(const Format& fmt, size_t definition_size);
std::vector<std::vector<uint8_t>> splitTableDefinition(const Format& fmt,
                                                       const std::vector<uint8_t>& definition,
                                                       const std::vector<uint32_t>& pages);

}  // namespace jet
