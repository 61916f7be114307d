// Removing one leaf entry from an index B-tree in place, leaving the tree as
// Access leaves it:
//
//  - the leaf is written again without the entry; a page that shared a
//    prefix among its entries shares the prefix of the entries left (so the
//    first entry may go);
//  - when the entry was the leaf's last, the node entries that repeat the
//    leaf's last entry take the new last one, up the tree as far as the
//    page is its parent's last child;
//  - a leaf left empty (and not the root) is unlinked from its siblings,
//    removed from its parent and freed. A parent whose tail page goes takes
//    its last entry's child as the new tail; a parent left with one child
//    keeps it as a plain entry without a tail; a parent left without
//    children goes the same way as the leaf. A freed page gets a zero page
//    type, its bit in the file's global map (free) and loses its bit in the
//    index's usage map;
//  - a root left without entries becomes an empty leaf.
//
// Pages are not merged when they become sparse, as in Access. The common
// case, an entry inside a leaf without a shared prefix that is neither the
// leaf's last nor its only entry, is done in place on the leaf's bytes,
// without decoding the pages on the way down. Every page changes through
// PageSource::writablePage, so the caller must have begun a unit of work.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <vector>

#include "format/data_page.h"
#include "format/format.h"
#include "index/index_page.h"
#include "index/index_walk.h"
#include "io/page_source.h"

namespace jet {

// Where the last entry removed from an index was: its leaf and the byte of
// the leaf's entry data it started at, where the entry after it now starts.
// Rows removed in the index's order find their entry there at once.
struct LeafHint {
  uint32_t page = 0;  // 0: none
  uint32_t at = 0;
};

class IndexTreeEditor {
 public:
  // `owner`: the table's first TDEF page; `used_map`: the row pointer of the
  // index's usage map.
  IndexTreeEditor(PageSource& pages, const Format& fmt, uint32_t root, uint32_t owner,
                  uint32_t used_map);

  // Removes the leaf entry equal to `target` (key and row pointer), found
  // from the root down. Returns false, changing nothing, when there is none.
  // `hint`, when given, names a leaf of this index to look in first and is
  // set to where the entry was, or to none.
  bool removeEntry(const IndexEntry& target, LeafHint* hint = nullptr);
  // Removes the leaf entry that points at `row`, found along the leaf chain.
  // Returns false, changing nothing, when there is none.
  bool removeRow(RowId row);
  // The same, looking only in `leaf`; false, changing nothing, when that
  // page is no leaf of this index or holds no entry for the row.
  bool removeRowFrom(uint32_t leaf, RowId row);
  // Every leaf entry's row pointer with its leaf, in the leaf chain's order.
  std::vector<std::pair<uint32_t, uint32_t>> rowLeaves();

  // The pages freed so far by this editor.
  const std::vector<uint32_t>& freedPages() const { return freed_; }

 private:
  // A node on the way down: its page and the child taken, as the position of
  // its entry, or -1 for the tail.
  struct Step {
    uint32_t page;
    int slot;
  };

  bool removeInPlace(const IndexEntry& target, LeafHint& hint);
  IndexPage& load(uint32_t number);
  void touch(uint32_t number) { dirty_.insert(number); }

  std::vector<Step> pathFor(const IndexEntry& target, uint32_t& leaf);
  bool pathTo(uint32_t leaf, const IndexEntry& entry, std::vector<Step>& path);
  void removeAt(std::vector<Step>& path, uint32_t leaf, size_t position);
  void newLast(const std::vector<Step>& path, size_t depth, const IndexEntry& last);
  void removeEmpty(const std::vector<Step>& path, size_t depth, uint32_t page);
  IndexEntry lastOfSubtree(uint32_t page);
  void unlinkLeaf(uint32_t page);
  // Node pages on the path grown too long are split (index_node_split.cpp).
  void splitOverfull(const std::vector<Step>& path);
  void splitNode(uint32_t page, uint32_t parent);
  void splitRoot(uint32_t root);
  uint32_t newPage();
  void write();

  PageSource* pages_;
  const Format* fmt_;
  IndexWalker walker_;
  uint32_t owner_;
  uint32_t used_map_;
  std::map<uint32_t, IndexPage> loaded_;
  std::set<uint32_t> dirty_;
  std::vector<uint32_t> freeing_;
  std::vector<uint32_t> freed_;
};

}  // namespace jet
