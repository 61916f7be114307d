// Removing a row's entry from an index B-tree, as Access leaves the tree:
// the leaf rewritten (prefix compression recomputed), parent entries that
// held the leaf's last key updated, and a leaf that becomes empty unlinked
// from its siblings, removed from its parent and freed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "format/data_page.h"
#include "format/format.h"
#include "format/table_def.h"
#include "index/index_key.h"
#include "index/index_page.h"
#include "index/index_tree_edit.h"
#include "io/page_source.h"
#include "jet/value.h"

namespace jet {

// Index entries set aside by deferred deletes, removed later in the index's
// order. Each entry is packed into one buffer (the key's length, the key,
// the row pointer) and reached through a 4-byte offset: at a million rows
// a table's entries take a few megabytes, not a heap block each.
class EntryBatch {
 public:
  void add(const std::vector<uint8_t>& key, RowId row);
  size_t size() const { return starts_.size(); }
  // Puts the entries in the index's order (IndexEntry::compare).
  void sort();
  IndexEntry at(size_t i) const;
  void clear();

 private:
  std::vector<uint8_t> bytes_;
  std::vector<uint32_t> starts_;
};

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

  // Deferred deletes: sets the row's entry aside in `batch` (nothing when
  // the index keeps none for the row). False when the key cannot be built:
  // the entry is then to be removed with remove, which finds it by its row.
  bool setAside(const std::vector<Value>& values, RowId row, EntryBatch& batch) const;
  // Removes the entries set aside, in the index's order: the remembered leaf
  // holds the next entry, so each leaf is edited in one stretch. Errors as
  // remove. Empties the batch.
  void removeAll(PageSource& pages, EntryBatch& batch);

  // Forgets the remembered leaf (after a rollback put pages back).
  void forgetLeaf() { hint_ = {}; }

 private:
  // The entry with this key (none: a key the encoder cannot build), else
  // the one that points at the row.
  void removeKey(PageSource& pages, std::vector<uint8_t>* key, RowId row);

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
