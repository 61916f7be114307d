// Writing one index page: the inverse of decodeIndexPage.
//
// A page is given by its kind (leaf or node), its links (previous and next
// page on the same level, and on nodes the tail: the last child, which has
// no entry of its own) and its entries in index order, each whole (key, row
// pointer, and on node pages the child). The writer lays the entries back
// to back from the first-entry offset, sets one bitmap bit where each entry
// ends, fills in the free-space field and, when asked, shares the prefix
// common to all entries: the first entry is stored whole and every later one
// without those bytes. The prefix never reaches the row byte of the row
// pointer. Node pages carry the node flag (1) that Access writes.
//
// Typical use when changing a page: decode it, edit its entries, encode it
// again (fitsIndexPage tells whether the edited entries still fit).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "format/format.h"
#include "index/index_page.h"

namespace jet {

struct IndexPageLayout {
  bool leaf = true;
  uint32_t owner = 0;  // first TDEF page of the table
  uint32_t prev = 0;
  uint32_t next = 0;
  uint32_t tail = 0;  // node pages only
  bool share_prefix = false;
};

// Bytes an entry takes stored whole: key, row pointer (4), child page (4)
// on node pages.
size_t indexEntrySize(const IndexEntry& entry, bool leaf);

// The most entry bytes one page holds (Jet 3: 1800, Jet 4: 3616).
size_t indexPageCapacity(const Format& fmt);

// The prefix length the page would share: 0 unless `share`, else the
// common prefix of all entries' key and row-pointer bytes, short of the row
// byte and at most what the page's prefix field holds.
size_t indexPagePrefix(const Format& fmt, std::span<const IndexEntry> entries, bool share);

// Entry bytes the page would store (after the shared prefix is taken off
// every entry but the first).
size_t indexPageDataLength(const Format& fmt, std::span<const IndexEntry> entries, bool leaf,
                           bool share_prefix);

bool fitsIndexPage(const Format& fmt, std::span<const IndexEntry> entries, bool leaf,
                   bool share_prefix);

// Writes the whole page (fmt.page_size bytes) into `out`. Throws
// std::length_error when the entries do not fit, std::invalid_argument when
// they are not in strictly increasing index order or a node entry has no
// child.
void encodeIndexPage(const Format& fmt, const IndexPageLayout& layout,
                     std::span<const IndexEntry> entries, uint8_t* out);
std::vector<uint8_t> encodeIndexPage(const Format& fmt, const IndexPageLayout& layout,
                                     std::span<const IndexEntry> entries);

// Re-encodes a decoded page with its own kind, owner and links.
std::vector<uint8_t> encodeIndexPage(const Format& fmt, const IndexPage& page,
                                     bool share_prefix = false);

// An empty leaf, the root of an index without entries.
std::vector<uint8_t> emptyIndexLeaf(const Format& fmt, uint32_t owner);

}  // namespace jet
