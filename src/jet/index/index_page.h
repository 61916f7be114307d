// One page of an index B-tree: a leaf (0x04) holding an entry per row, or a
// node (0x03) holding an entry per child page.
//
// Header (offsets per version in Format): free bytes, owning table, the
// previous and next page on the same level, the tail page (a node's last
// child, which has no entry of its own), the length of the prefix shared by
// the page's entries, and a bitmap with one bit per byte of entry data: a
// set bit marks where an entry ends. Entries lie back to back from the first
// entry offset; when the prefix length is not zero, every entry after the
// first omits that many leading bytes, equal to the first entry's.
//
// An entry (big-endian, prefix restored) is the key, the row's data page
// (3 bytes) and row number (1 byte), and on node pages the child page (4).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "format/bytes.h"
#include "format/data_page.h"
#include "format/format.h"
#include "io/page_source.h"

namespace jet {

inline constexpr uint8_t kIndexNodePage = 0x03;
inline constexpr uint8_t kIndexLeafPage = 0x04;

struct IndexEntry {
  std::vector<uint8_t> key;
  RowId row;
  uint32_t child = 0;  // node entries only

  // Index order: the keys as unsigned bytes (a key that is a prefix of
  // another comes first), then the row's page, then its row number.
  static int compare(const IndexEntry& a, const IndexEntry& b);
  // The key and row pointer as the page stores them (without the child).
  std::vector<uint8_t> sortBytes() const;
};

struct IndexPage {
  uint32_t number = 0;
  bool leaf = true;
  uint16_t free_space = 0;
  uint32_t owner = 0;  // first TDEF page of the table
  uint32_t prev = 0;
  uint32_t next = 0;
  uint32_t tail = 0;
  uint16_t prefix_length = 0;
  uint8_t node_flag = 0;   // 1 on node pages in files Access wrote
  size_t data_length = 0;  // bytes of entry data as stored (after prefix removal)
  std::vector<IndexEntry> entries;
};

// Decodes an index page. Throws a format error naming the file when the
// page is no index page, the bitmap marks data beyond the page, an entry
// is shorter than its row pointer (and child), or the prefix is longer
// than the first entry.
IndexPage decodeIndexPage(ByteView page, const Format& fmt, uint32_t number,
                          const std::string& path);
IndexPage readIndexPage(const PageSource& src, const Format& fmt, uint32_t number);

}  // namespace jet
