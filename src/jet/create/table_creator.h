// The definition side of a new table: from a description of its columns and
// indexes to the columns and indexes a TDEF stores (numbers, fixed offsets,
// variable slots, flags); format/table_def encodes them.
//
// Columns are numbered in the order given. Fixed-size columns get offsets in
// that order; variable ones get slots in that order, memo and OLE columns
// last (so that the short values come first in a row). Every index is one
// real index and one logical index of the same number. Relationships add
// foreign-key logical indexes that share the real index on their columns.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "format/format.h"
#include "format/table_def.h"
#include "jet/creator.h"
#include "jet/table_def.h"

namespace jet {

// The columns and indexes of `design` as a TDEF stores them (no pages yet).
// `system` marks the engine's own tables (type 'S', their column flags,
// their variable slots in column order). Throws JetError 3343 when a name
// repeats, an index names a missing column or has more than 10 columns, a
// table has more than 255 columns or 32 indexes, or a column is not one the
// writer supports.
TableDef layoutTable(const Format& fmt, const TableDesign& design, bool system = false);

// Adds a foreign-key logical index (kind ForeignKey) over `columns` to
// `def`, sharing the real index on exactly those columns (ascending) when
// there is one, else adding a real index. Returns the new index number.
// `referenced_side`: the table whose key is referenced (name ".rB", ".rC",
// ... as Access names them), else the referencing table (name `name`).
uint32_t addForeignKeyIndex(TableDef& def, const std::vector<uint16_t>& columns,
                            bool referenced_side, const std::string& name,
                            uint32_t related_table_page, bool cascade_updates,
                            bool cascade_deletes);

// The engine's own tables as Jet creates them in a new file: MSysObjects,
// MSysACEs, MSysQueries, MSysRelationships, in that order (TDEF pages 2-5).
std::vector<TableDesign> systemTableDesigns(const Format& fmt);

}  // namespace jet
