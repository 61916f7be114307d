// Removing a row's entry from an index B-tree, as Access leaves the tree:
// the leaf rewritten (prefix compression recomputed), parent entries that
// held the leaf's last key updated, and a leaf that becomes empty unlinked
// from its siblings, removed from its parent and freed.
#pragma once

#include <cstdint>
#include <vector>

#include "format/data_page.h"
#include "format/format.h"
#include "format/table_def.h"
#include "index/index_key.h"
#include "index/index_tree_edit.h"
#include "io/page_source.h"
#include "jet/value.h"

namespace jet {

// Removes rows' entries from one index of a table, keeping between rows
// what does not change: the key encoder, and the leaf the last entry left,
// where the next row's entry is looked for first (rows deleted in file
// order mostly share leaves). The table definition must outlive it.
class IndexEntryRemover {
 public:
  IndexEntryRemover(const PageSource& pages, const Format& fmt, const TableDef& def,
                    const RealIndex& index);

  // `values` are the row's values in the order of `def.columns`. Must run
  // inside a unit of work of `pages`. Throws a format error naming the file
  // when the index has no entry for the row (the file is damaged).
  void remove(PageSource& pages, const std::vector<Value>& values, RowId row);

  // Forgets the remembered leaf (after a rollback put pages back).
  void forgetLeaf() { hint_ = {}; }

 private:
  const Format* fmt_;
  const TableDef* def_;
  const RealIndex* index_;
  IndexKeyEncoder encoder_;
  LeafHint hint_;
  // For rows whose entry the key does not find (a key the encoder cannot
  // build): each row pointer's leaf, sorted by pointer, read once from the
  // leaves when first needed. Rows are only deleted, so an entry stays in
  // its leaf until it goes; a leaf that no longer holds it sends the search
  // along the chain as before.
  std::vector<std::pair<uint32_t, uint32_t>> row_leaves_;
  bool row_leaves_read_ = false;
};

// One removal without anything kept.
void removeIndexEntry(PageSource& pages, const Format& fmt, const TableDef& def,
                      const RealIndex& index, const std::vector<Value>& values, RowId row);

}  // namespace jet
