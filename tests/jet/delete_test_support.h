// Checks shared by the deletion tests: the shape of an index B-tree after
// entries were taken out of it, as Access keeps its trees.
#pragma once

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "format/format.h"
#include "index/index_page.h"
#include "index/index_walk.h"
#include "io/page_source.h"

namespace deltest {

inline std::string hex(const std::vector<uint8_t>& b) {
  std::string s;
  char buf[4];
  for (size_t i = 0; i < b.size(); ++i) {
    std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", b[i]);
    s += buf;
  }
  return s;
}

inline std::vector<uint8_t> fileBytes(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
}

// What a walk of one tree found.
struct TreeShape {
  std::vector<std::string> problems;
  std::set<uint32_t> pages;              // every page of the tree, root included
  std::vector<jet::IndexEntry> entries;  // the leaf entries along the chain
  size_t levels = 0;
};

// The last entry of the subtree under `page` (a node's last entry is its
// tail child's); empty key and row when the subtree has none.
inline jet::IndexEntry lastOfSubtree(const jet::IndexWalker& w, uint32_t page) {
  for (int depth = 0; depth < 64; ++depth) {
    jet::IndexPage p = w.page(page);
    if (p.leaf) {
      if (p.entries.empty()) break;
      jet::IndexEntry e = p.entries.back();
      e.child = 0;
      return e;
    }
    page = p.tail != 0 ? p.tail : p.entries.back().child;
  }
  return {};
}

// Walks the tree from `root` and checks what every tree Access writes keeps:
// leaves (tail 0, node flag 0) and nodes (node flag 1) on separate levels;
// each level chained by previous/next in child order, its ends at 0; free
// space that matches the entry bytes; a shared prefix no longer than the
// first entry short of its row byte; node entries in order, each a copy of
// its child's last entry; a tail on every node with two children or more
// and none on a node with one; the tails leading to the chain's last leaf;
// leaf entries strictly increasing along the chain. With `no_empty_leaves`,
// only a root leaf may be empty (what deleting leaves behind). With
// `unflagged_nodes`, a node may carry node flag 0 too, as another
// Access-file library leaves its nodes (and the engine keeps them).
inline TreeShape checkTreeShape(const jet::PageSource& src, const jet::Format& fmt, uint32_t root,
                                uint32_t owner, bool no_empty_leaves,
                                bool unflagged_nodes = false) {
  TreeShape out;
  auto fail = [&](const std::string& s) {
    if (out.problems.size() < 20) out.problems.push_back(s);
  };
  try {
    jet::IndexWalker w(src, fmt, root, owner);
    std::vector<std::vector<uint32_t>> levels = w.levels();
    out.levels = levels.size();
    for (size_t lv = 0; lv < levels.size(); ++lv) {
      for (size_t i = 0; i < levels[lv].size(); ++i) {
        jet::IndexPage p = w.page(levels[lv][i]);
        out.pages.insert(p.number);
        const std::string at = "page " + std::to_string(p.number);
        if (p.free_space != fmt.page_size - fmt.index_first_entry - p.data_length) {
          fail(at + ": free space " + std::to_string(p.free_space) + " for " +
               std::to_string(p.data_length) + " bytes of entries");
        }
        if (p.prefix_length > 0 &&
            (p.entries.empty() || p.prefix_length >= p.entries.front().sortBytes().size())) {
          fail(at + ": prefix of " + std::to_string(p.prefix_length) + " bytes");
        }
        const uint32_t want_prev = i == 0 ? 0 : levels[lv][i - 1];
        const uint32_t want_next = i + 1 == levels[lv].size() ? 0 : levels[lv][i + 1];
        if (p.prev != want_prev || p.next != want_next) {
          fail(at + ": prev/next " + std::to_string(p.prev) + "/" + std::to_string(p.next) +
               ", expected " + std::to_string(want_prev) + "/" + std::to_string(want_next));
        }
        if (p.leaf) {
          if (p.tail != 0) fail(at + ": leaf with a tail");
          if (p.node_flag != 0) fail(at + ": leaf with the node flag");
          if (no_empty_leaves && p.entries.empty() && p.number != root) {
            fail(at + ": empty leaf below the root");
          }
          continue;
        }
        if (p.node_flag != 1 && !(unflagged_nodes && p.node_flag == 0)) {
          fail(at + ": node without the node flag");
        }
        const size_t children = p.entries.size() + (p.tail != 0 ? 1 : 0);
        if (children >= 2 && p.tail == 0) fail(at + ": node with several children and no tail");
        if (children == 1 && p.tail != 0) fail(at + ": node with a single child as its tail");
        for (size_t k = 0; k < p.entries.size(); ++k) {
          const jet::IndexEntry& e = p.entries[k];
          jet::IndexEntry last = lastOfSubtree(w, e.child);
          if (last.key != e.key || last.row != e.row) {
            fail(at + ": node entry " + std::to_string(k) + " (" + hex(e.sortBytes()) +
                 ") is not the last entry of child " + std::to_string(e.child) + " (" +
                 hex(last.sortBytes()) + ")");
          }
          if (k > 0 && jet::IndexEntry::compare(p.entries[k - 1], e) >= 0) {
            fail(at + ": node entries out of order at " + std::to_string(k));
          }
        }
      }
    }
    jet::IndexPage r = w.page(root);
    if (r.prev != 0 || r.next != 0) fail("the root has siblings");
    if (w.lastLeaf() != levels.back().back()) {
      fail("the tails lead to leaf " + std::to_string(w.lastLeaf()) + ", the chain ends at " +
           std::to_string(levels.back().back()));
    }
    w.forEachEntry([&](const jet::IndexEntry& e, const jet::IndexPage& leaf) {
      if (!out.entries.empty() && jet::IndexEntry::compare(out.entries.back(), e) >= 0) {
        fail("leaf " + std::to_string(leaf.number) + ": entry " + hex(e.sortBytes()) +
             " not above " + hex(out.entries.back().sortBytes()));
      }
      // A search for an entry ends on its leaf. Searches are monotone in
      // the key over nodes in order, so a leaf's first and last entries
      // answer for the ones between (each search decodes a page per level).
      const bool edge = jet::IndexEntry::compare(e, leaf.entries.front()) == 0 ||
                        jet::IndexEntry::compare(e, leaf.entries.back()) == 0;
      if (edge && w.leafFor(e) != leaf.number) {
        fail("leaf " + std::to_string(leaf.number) + ": a search for " + hex(e.sortBytes()) +
             " ends on leaf " + std::to_string(w.leafFor(e)));
      }
      out.entries.push_back(e);
    });
  } catch (const std::exception& e) {
    fail(std::string("walk failed: ") + e.what());
  }
  return out;
}

}  // namespace deltest
