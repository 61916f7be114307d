#include "index/index_page.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "jet/error.h"

namespace jet {

int IndexEntry::compare(const IndexEntry& a, const IndexEntry& b) {
  const size_t n = std::min(a.key.size(), b.key.size());
  for (size_t i = 0; i < n; ++i) {
    if (a.key[i] != b.key[i]) return a.key[i] < b.key[i] ? -1 : 1;
  }
  if (a.key.size() != b.key.size()) return a.key.size() < b.key.size() ? -1 : 1;
  if (a.row.page != b.row.page) return a.row.page < b.row.page ? -1 : 1;
  if (a.row.row != b.row.row) return a.row.row < b.row.row ? -1 : 1;
  return 0;
}

std::vector<uint8_t> IndexEntry::sortBytes() const {
  std::vector<uint8_t> out = key;
  out.resize(key.size() + kRowPointerSize);
  putIndexRowPointer(out.data() + key.size(), row);
  return out;
}

IndexPage decodeIndexPage(ByteView bytes, const Format& fmt, uint32_t number,
                          const std::string& path) {
  const std::string where = "la página de índice " + std::to_string(number);
  IndexPage p;
  p.number = number;
  try {
    const uint8_t type = bytes.u8(0);
    if (type != kIndexNodePage && type != kIndexLeafPage) {
      throwBadFormat(path, "la página " + std::to_string(number) + " no es una página de índice");
    }
    p.leaf = type == kIndexLeafPage;
    p.free_space = bytes.u16(kIndexFreeSpace);
    p.owner = bytes.u32(kIndexOwner);
    p.prev = bytes.u32(fmt.index_prev);
    p.next = bytes.u32(fmt.index_next);
    p.tail = bytes.u32(fmt.index_tail);
    p.prefix_length = static_cast<uint16_t>(indexPrefixLength(bytes, fmt));
    p.node_flag = bytes.u8(indexNodeFlagOffset(fmt));

    const size_t first = fmt.index_first_entry;
    const size_t bitmap_size = indexBitmapSize(fmt);
    ByteView bitmap = bytes.sub(fmt.index_bitmap, bitmap_size);
    const size_t trailer = kRowPointerSize + (p.leaf ? 0 : kChildSize);
    std::vector<uint8_t> prefix;
    size_t start = 0;
    for (size_t k = 0; k < bitmap_size * 8; ++k) {
      if (!(bitmap.u8(k / 8) & (1u << (k % 8)))) continue;
      if (k <= start) {
        throwBadFormat(path, where + " tiene una entrada vacía");
      }
      if (first + k > bytes.size()) {
        throwBadFormat(path, where + " marca entradas fuera de la página");
      }
      std::vector<uint8_t> full = prefix;
      full.insert(full.end(), bytes.data() + first + start, bytes.data() + first + k);
      if (full.size() < trailer) {
        throwBadFormat(path, where + " tiene una entrada demasiado corta");
      }
      if (p.entries.empty() && p.prefix_length > 0) {
        if (p.prefix_length > full.size()) {
          throwBadFormat(path, where + " declara un prefijo más largo que su primera entrada");
        }
        prefix.assign(full.begin(), full.begin() + p.prefix_length);
      }
      IndexEntry e;
      const size_t key_size = full.size() - trailer;
      e.key.assign(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(key_size));
      e.row = getIndexRowPointer(full.data() + key_size);
      if (!p.leaf) e.child = getIndexChild(full.data() + key_size + kRowPointerSize);
      p.entries.push_back(std::move(e));
      start = k;
    }
    p.data_length = start;
  } catch (const OutOfRange&) {
    throwBadFormat(path, where + " está incompleta");
  }
  return p;
}

IndexPage readIndexPage(const PageSource& src, const Format& fmt, uint32_t number) {
  return decodeIndexPage(src.page(number), fmt, number, src.path());
}

// ---------------------------------------------------------------------------
// Encoding

namespace {

// Longer than any entry that fits a page.
constexpr size_t kMaxStoredEntry = kMaxPageSize;

// Key and row pointer as stored (big-endian page, then row), and the child
// on node pages. Returns the bytes written.
size_t storeEntry(uint8_t* out, const IndexEntry& e, bool leaf) {
  if (e.key.size() + kRowPointerSize + kChildSize > kMaxStoredEntry) {
    throw std::length_error("index key too long");
  }
  size_t n = e.key.size();
  if (n > 0) std::memcpy(out, e.key.data(), n);
  putIndexRowPointer(out + n, e.row);
  n += kRowPointerSize;
  if (!leaf) {
    putIndexChild(out + n, e.child);
    n += kChildSize;
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
  const size_t by_space = indexEntryRoom(fmt);
  const size_t by_bitmap = indexBitmapSize(fmt) * 8 - 1;
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
  out[1] = kPageMark;
  putU16(out + kIndexFreeSpace, static_cast<uint16_t>(indexEntryRoom(fmt) - length));
  putU32(out + kIndexOwner, layout.owner);
  putU32(out + fmt.index_prev, layout.prev);
  putU32(out + fmt.index_next, layout.next);
  putU32(out + fmt.index_tail, layout.leaf ? 0 : layout.tail);
  if (fmt.index_prefix_len_size == 1) {
    out[fmt.index_prefix_len] = static_cast<uint8_t>(prefix);
  } else {
    putU16(out + fmt.index_prefix_len, static_cast<uint16_t>(prefix));
  }
  out[indexNodeFlagOffset(fmt)] = layout.leaf ? 0 : 1;

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
