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

// Rows marked for deletion, one bit per row pointer.
class RowMarks {
 public:
  // Bit p % 64 of word p / 64 marks row pointer p.
  explicit RowMarks(std::vector<uint64_t> bits) : bits_(std::move(bits)) {}
  bool has(uint32_t pointer) const {
    return (pointer >> 6) < bits_.size() && ((bits_[pointer >> 6] >> (pointer & 63)) & 1) != 0;
  }

 private:
  std::vector<uint64_t> bits_;
};

// What a set of index entries (key and row pointer each) adds up to: a sum
// of 64-bit hashes, so that the entries removed can be set against the
// entries the rows' values give without keeping either.
struct EntryTally {
  uint64_t count = 0;
  uint64_t sum = 0;
  void add(const uint8_t* key, size_t size, uint32_t pointer);
  bool operator==(const EntryTally&) const = default;
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

  // Deferred deletes. tally: adds the entry the index keeps for the row,
  // as its values give it, to `expected` (nothing when the index keeps none
  // for the row). False when the key cannot be built: the row is then left
  // out of the tallies on both sides.
  bool tally(const std::vector<Value>& values, RowId row, EntryTally& expected) const;
  // removeMarked: removes the entry of every marked row, going along the
  // leaves once in the chain's order, and tallies what it removed in
  // `removed`, leaving out the rows in `untallied` (sorted pointers).
  // Errors as remove.
  void removeMarked(PageSource& pages, const RowMarks& rows, const std::vector<uint32_t>& untallied,
                    EntryTally& removed);

  // Forgets the remembered leaf (after a rollback put pages back).
  void forgetLeaf() { hint_ = {}; }

 private:
  // removeMarked on one leaf: its entries on the leaf's bytes in one pass,
  // but for the last and, on a page sharing a prefix, the first, which go
  // the general way after them. False, changing nothing, when this view
  // cannot read the leaf; else `leaf` becomes the next leaf.
  bool removeInLeaf(PageSource& pages, uint32_t& leaf, const RowMarks& rows,
                    const std::vector<uint32_t>& untallied, EntryTally& removed);
  // Throws the format error of an index without the row's entry.
  [[noreturn]] void missing(const PageSource& pages, RowId row) const;
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
