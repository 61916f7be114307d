// Walking an index B-tree in key order.
//
// Leaves hold the entries; nodes hold, per child page, a copy of the
// child's last entry, except for the last child, which only the node's tail
// pointer names. Pages of one level are chained by previous/next pointers.
// The walk goes down the first child of each node to the leftmost leaf and
// then along the next pointers; the last leaf is reached down the tail
// pointers. Every page number is checked against the file, every page must
// be an index page of the table, and a page met twice on one way down or
// along one chain (a loop) is a format error (3343) rather than a hang.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "format/format.h"
#include "index/index_page.h"
#include "io/page_source.h"

namespace jet {

class IndexWalker {
 public:
  // `owner` is the table's first TDEF page; 0 skips the ownership check.
  IndexWalker(const PageSource& src, const Format& fmt, uint32_t root, uint32_t owner = 0);

  uint32_t root() const { return root_; }

  // Reads one page of this index, with the checks above.
  IndexPage page(uint32_t number) const;

  // The leftmost leaf, down the first entry of each node (the tail when a
  // node has no entries).
  uint32_t firstLeaf() const;
  // The rightmost leaf, down the tail pointers (the last entry's child when
  // a node has no tail).
  uint32_t lastLeaf() const;
  // The leaf where `target` (key and row pointer) belongs: at each node the
  // child of the first entry not below it, else the tail.
  uint32_t leafFor(const IndexEntry& target) const;

  // The leaves from the first along the next pointers.
  std::vector<uint32_t> leafChain() const;
  // The leaf pages in chain order.
  void forEachLeaf(const std::function<void(const IndexPage&)>& fn) const;
  // Every leaf entry in chain order, with the leaf it lies on.
  void forEachEntry(const std::function<void(const IndexEntry&, const IndexPage&)>& fn) const;
  std::vector<IndexEntry> entries() const;

  // The node pages level by level from the root, each level in child order
  // (entries, then the tail); the last level holds the leaves. For checks of
  // the tree's shape. `after_page`, when given, runs after each page is read
  // (the file checker lets go of the pages read so far there).
  std::vector<std::vector<uint32_t>> levels(const std::function<void()>& after_page = {}) const;

 private:
  uint32_t childToFollow(const IndexPage& node, bool first) const;
  // The leaf reached from the root taking the child `child` chooses at each
  // node, with the loop checks above.
  uint32_t descend(const std::function<uint32_t(const IndexPage&)>& child) const;
  // The first or last leaf, down the first or last child of each node.
  uint32_t edgeLeaf(bool first) const;
  [[noreturn]] void fail(const std::string& reason) const;

  const PageSource* src_;
  const Format* fmt_;
  uint32_t root_;
  uint32_t owner_;
};

}  // namespace jet
