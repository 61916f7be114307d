// Where things lie in Jet 3 (Access 97) and Jet 4 (Access 2000-2003) files.
// One table per version, so the readers are written once.
#pragma once

#include <cstddef>
#include <cstdint>

#include "jet/types.h"

namespace jet {

// Byte 1 of every data, table definition, index and usage map page.
inline constexpr uint8_t kPageMark = 0x01;

// The code page of Jet 3 text (in the header and each text column), and the
// "General" sort order (the header's and each text column's locale id): the
// only ones the engine reads and writes.
inline constexpr uint16_t kWindows1252 = 1252;
inline constexpr uint16_t kGeneralSortLcid = 1033;

// The largest page size (Jet 4's), for buffers sized at compile time.
inline constexpr size_t kMaxPageSize = 4096;

struct Format {
  Version version;
  size_t page_size;

  // Data pages.
  size_t data_row_count;  // u16 row count
  size_t data_slots;      // first slot

  // Table definition header.
  size_t tdef_row_count;
  size_t tdef_autonumber;
  size_t tdef_table_type;
  size_t tdef_max_cols;
  size_t tdef_var_slots;
  size_t tdef_num_cols;
  size_t tdef_num_logical;
  size_t tdef_num_real;
  size_t tdef_used_map;
  size_t tdef_free_map;
  size_t tdef_header_end;
  size_t real_count_entry;  // per real index, the counts block before the columns

  // Column descriptor.
  size_t col_size;
  size_t col_type;
  size_t col_number;
  size_t col_var_index;
  size_t col_sort_lcid;
  size_t col_sort_version;  // Jet 4 only
  size_t col_code_page;     // Jet 3 only
  size_t col_precision;     // Jet 4 only
  size_t col_scale;         // Jet 4 only
  size_t col_flags;
  size_t col_extra_flags;  // Jet 4 only
  size_t col_fixed_offset;
  size_t col_length;

  size_t name_length_size;  // 1 (Jet 3) or 2 (Jet 4) bytes before each name

  // Real index entry.
  size_t real_size;
  size_t real_columns;
  size_t real_used_map;
  size_t real_root;
  size_t real_flags;

  // Logical index entry.
  size_t logical_size;
  size_t logical_number;
  size_t logical_real;
  size_t logical_fk_role;
  size_t logical_related;
  size_t logical_related_table;
  size_t logical_cascade_updates;
  size_t logical_cascade_deletes;
  size_t logical_type;

  // Rows.
  size_t row_count_size;  // bytes of N, V and each variable offset

  // Index pages.
  size_t index_prev;
  size_t index_next;
  size_t index_tail;
  size_t index_prefix_len;
  size_t index_prefix_len_size;
  size_t index_bitmap;
  size_t index_first_entry;

  // Long-value page payload per chain row.
  bool is_jet4() const { return version == Version::Jet4; }
};

const Format& formatFor(Version v);

// The largest file Access opens: 1 GB for Access 97, 2 GB for Access
// 2000-2003. A larger file is none Access wrote, and sizes derived from it
// could not be trusted.
inline uint64_t maxFileSize(const Format& fmt) {
  return fmt.is_jet4() ? (uint64_t{2} << 30) : (uint64_t{1} << 30);
}

}  // namespace jet
