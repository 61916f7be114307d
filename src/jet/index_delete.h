// Removing a row's entry from an index B-tree, as Access leaves the tree:
// the leaf rewritten (prefix compression recomputed), parent entries that
// held the leaf's last key updated, and a leaf that becomes empty unlinked
// from its siblings, removed from its parent and freed.
#pragma once

#include <vector>

#include "data_page.h"
#include "format.h"
#include "page_source.h"
#include "table_def.h"
#include "value.h"

namespace jet {

// `values` are the row's values in the order of `def.columns`. Must run
// inside a unit of work of `pages`. Throws a format error naming the file
// when the index has no entry for the row (the file is damaged).
void removeIndexEntry(PageSource& pages, const Format& fmt, const TableDef& def,
                      const RealIndex& index, const std::vector<Value>& values, RowId row);

}  // namespace jet
