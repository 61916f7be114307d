#include "index/index_page_writer.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "format/bytes.h"

namespace jet {

namespace {

constexpr size_t kRowPointerSize = 4;
constexpr size_t kChildSize = 4;
// Longer than any entry that fits a page.
constexpr size_t kMaxStoredEntry = 4096;

// Key and row pointer as stored (big-endian page, then row), and the child
// on node pages. Returns the bytes written.
size_t storeEntry(uint8_t* out, const IndexEntry& e, bool leaf) {
  if (e.key.size() + kRowPointerSize + kChildSize > kMaxStoredEntry) {
    throw std::length_error("index key too long");
  }
  size_t n = e.key.size();
  if (n > 0) std::memcpy(out, e.key.data(), n);
  out[n++] = static_cast<uint8_t>(e.row.page >> 16);
  out[n++] = static_cast<uint8_t>(e.row.page >> 8);
  out[n++] = static_cast<uint8_t>(e.row.page);
  out[n++] = e.row.row;
  if (!leaf) {
    for (int i = 3; i >= 0; --i) out[n++] = static_cast<uint8_t>(e.child >> (8 * i));
  }
  return n;
}

size_t maxPrefixField(const Format& fmt) {
  return fmt.index_prefix_len_size == 1 ? 0xFF : 0xFFFF;
}

}  // namespace

size_t indexEntrySize(const IndexEntry& entry, bool leaf) {
  return entry.key.size() + kRowPointerSize + (leaf ? 0 : kChildSize);
}

size_t indexPageCapacity(const Format& fmt) {
  const size_t by_space = fmt.page_size - fmt.index_first_entry;
  const size_t by_bitmap = (fmt.index_first_entry - fmt.index_bitmap) * 8 - 1;
  return std::min(by_space, by_bitmap);
}

size_t indexPagePrefix(const Format& fmt, std::span<const IndexEntry> entries, bool share) {
  if (!share || entries.size() < 2) return 0;
  const std::vector<uint8_t> first = entries.front().sortBytes();
  // Never into the row byte: the last byte of the row pointer.
  size_t common = first.size() - 1;
  for (size_t i = 1; i < entries.size() && common > 0; ++i) {
    const std::vector<uint8_t> other = entries[i].sortBytes();
    size_t n = std::min({common, other.size() - 1});
    size_t k = 0;
    while (k < n && first[k] == other[k]) ++k;
    common = k;
  }
  return std::min(common, maxPrefixField(fmt));
}

size_t indexPageDataLength(const Format& fmt, std::span<const IndexEntry> entries, bool leaf,
                           bool share_prefix) {
  const size_t prefix = indexPagePrefix(fmt, entries, share_prefix);
  size_t total = 0;
  for (size_t i = 0; i < entries.size(); ++i) {
    total += indexEntrySize(entries[i], leaf) - (i == 0 ? 0 : prefix);
  }
  return total;
}

bool fitsIndexPage(const Format& fmt, std::span<const IndexEntry> entries, bool leaf,
                   bool share_prefix) {
  return indexPageDataLength(fmt, entries, leaf, share_prefix) <= indexPageCapacity(fmt);
}

void encodeIndexPage(const Format& fmt, const IndexPageLayout& layout,
                     std::span<const IndexEntry> entries, uint8_t* out) {
  for (size_t i = 0; i < entries.size(); ++i) {
    if (!layout.leaf && entries[i].child == 0) {
      throw std::invalid_argument("index node entry without a child page");
    }
    if (i > 0 && IndexEntry::compare(entries[i - 1], entries[i]) >= 0) {
      throw std::invalid_argument("index entries out of order");
    }
  }
  const size_t prefix = indexPagePrefix(fmt, entries, layout.share_prefix);
  const size_t length = indexPageDataLength(fmt, entries, layout.leaf, layout.share_prefix);
  if (length > indexPageCapacity(fmt)) throw std::length_error("index entries exceed one page");

  std::memset(out, 0, fmt.page_size);
  out[0] = layout.leaf ? kIndexLeafPage : kIndexNodePage;
  out[1] = 0x01;
  putU16(out + 2, static_cast<uint16_t>(fmt.page_size - fmt.index_first_entry - length));
  putU32(out + 4, layout.owner);
  putU32(out + fmt.index_prev, layout.prev);
  putU32(out + fmt.index_next, layout.next);
  putU32(out + fmt.index_tail, layout.leaf ? 0 : layout.tail);
  if (fmt.index_prefix_len_size == 1) {
    out[fmt.index_prefix_len] = static_cast<uint8_t>(prefix);
  } else {
    putU16(out + fmt.index_prefix_len, static_cast<uint16_t>(prefix));
  }
  out[fmt.index_prefix_len + fmt.index_prefix_len_size] = layout.leaf ? 0 : 1;

  uint8_t stored[kMaxStoredEntry];
  size_t at = 0;
  for (size_t i = 0; i < entries.size(); ++i) {
    const size_t n = storeEntry(stored, entries[i], layout.leaf);
    const size_t skip = i == 0 ? 0 : prefix;
    std::memcpy(out + fmt.index_first_entry + at, stored + skip, n - skip);
    at += n - skip;
    out[fmt.index_bitmap + at / 8] |= static_cast<uint8_t>(1u << (at % 8));
  }
}

std::vector<uint8_t> encodeIndexPage(const Format& fmt, const IndexPageLayout& layout,
                                     std::span<const IndexEntry> entries) {
  std::vector<uint8_t> page(fmt.page_size);
  encodeIndexPage(fmt, layout, entries, page.data());
  return page;
}

std::vector<uint8_t> encodeIndexPage(const Format& fmt, const IndexPage& page, bool share_prefix) {
  IndexPageLayout layout;
  layout.leaf = page.leaf;
  layout.owner = page.owner;
  layout.prev = page.prev;
  layout.next = page.next;
  layout.tail = page.tail;
  layout.share_prefix = share_prefix;
  return encodeIndexPage(fmt, layout, page.entries);
}

std::vector<uint8_t> emptyIndexLeaf(const Format& fmt, uint32_t owner) {
  IndexPageLayout layout;
  layout.owner = owner;
  return encodeIndexPage(fmt, layout, {});
}

}  // namespace jet
