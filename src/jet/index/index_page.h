// One page of an index B-tree: a leaf (0x04) holding an entry per row, or a
// node (0x03) holding an entry per child page. Everything about the page's
// layout lives here: its offsets, decoding it, reading it in place (the hot
// paths), editing it in place, and encoding it.
//
// Header (offsets per version in Format): free bytes, owning table, the
// previous and next page on the same level, the tail page (a node's last
// child, which has no entry of its own), the length of the prefix shared by
// the page's entries, the node flag (1 on node pages), and a bitmap with one
// bit per byte of entry data: a set bit marks where an entry ends. Entries
// lie back to back from the first entry offset; when the prefix length is
// not zero, every entry after the first omits that many leading bytes, equal
// to the first entry's.
//
// An entry (big-endian, prefix restored) is the key, the row's data page
// (3 bytes) and row number (1 byte), and on node pages the child page (4).
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "format/bytes.h"
#include "format/data_page.h"
#include "format/format.h"
#include "io/page_source.h"

namespace jet {

inline constexpr uint8_t kIndexNodePage = 0x03;
inline constexpr uint8_t kIndexLeafPage = 0x04;
inline constexpr size_t kIndexFreeSpace = 2;  // u16: bytes the entries leave free
inline constexpr size_t kIndexOwner = 4;      // u32: the table's first TDEF page

inline constexpr size_t kRowPointerSize = 4;  // data page (3, big-endian) and row (1)
inline constexpr size_t kChildSize = 4;       // node entries: the child page, big-endian

// Bytes of entry data an empty page leaves free (what its free-space field says).
inline size_t indexEntryRoom(const Format& fmt) {
  return fmt.page_size - fmt.index_first_entry;
}
inline size_t indexBitmapSize(const Format& fmt) {
  return fmt.index_first_entry - fmt.index_bitmap;
}
inline size_t indexNodeFlagOffset(const Format& fmt) {
  return fmt.index_prefix_len + fmt.index_prefix_len_size;
}
// The entry data of a whole page.
inline uint8_t* indexEntryData(uint8_t* page, const Format& fmt) {
  return page + fmt.index_first_entry;
}
// The shared prefix length of the page at `page` (a whole page).
inline size_t indexPrefixLength(ByteView page, const Format& fmt) {
  return fmt.index_prefix_len_size == 1 ? page.u8(fmt.index_prefix_len)
                                        : page.u16(fmt.index_prefix_len);
}

// The row pointer and the child page as entries store them.
inline void putIndexRowPointer(uint8_t* out, RowId row) {
  out[0] = static_cast<uint8_t>(row.page >> 16);
  out[1] = static_cast<uint8_t>(row.page >> 8);
  out[2] = static_cast<uint8_t>(row.page);
  out[3] = row.row;
}
inline RowId getIndexRowPointer(const uint8_t* p) {
  return {uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | p[2], p[3]};
}
inline void putIndexChild(uint8_t* out, uint32_t child) {
  for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(child >> (24 - 8 * i));
}
inline uint32_t getIndexChild(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

// ---------------------------------------------------------------------------
// Decoded pages

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

// ---------------------------------------------------------------------------
// Pages read in place, without copying their entries: what the hot paths
// (removing an entry, reading a whole-number index's values) use instead of
// decodeIndexPage.
//
// The bitmap has one bit per byte of entry data, set where an entry ends;
// the entry around any byte is found from the nearest set bits on either
// side, so a search halves the page's bytes instead of first listing every
// entry. `ok` is false when anything about the page is unusual (an empty
// page included); the caller then takes a way that reports damage properly
// (decodeIndexPage). An entry too short for its row pointer (and child) is
// found when it is looked at, and sets `bad`.
struct IndexPageView {
  const uint8_t* bytes = nullptr;
  const uint8_t* bitmap = nullptr;
  const uint8_t* data = nullptr;  // the entry data
  bool ok = false;
  mutable bool bad = false;
  bool leaf = true;
  size_t prefix = 0;
  size_t length = 0;  // bytes of entry data
  size_t trailer = 0;
  size_t bitmap_bytes = 0;

  // One stored entry: data bytes [from, to); the first entry holds the
  // prefix the others omit.
  struct Span {
    size_t from = 0;
    size_t to = 0;
  };

  IndexPageView(const PageSource& src, const Format& fmt, uint32_t number, uint32_t owner) {
    if (number == 0 || number >= src.pageCount()) return;
    ByteView page = src.page(number);
    bytes = page.data();
    bitmap = bytes + fmt.index_bitmap;
    data = bytes + fmt.index_first_entry;
    if (bytes[0] != kIndexNodePage && bytes[0] != kIndexLeafPage) return;
    if (owner != 0 && page.u32(kIndexOwner) != owner) return;
    leaf = bytes[0] == kIndexLeafPage;
    prefix = indexPrefixLength(page, fmt);
    trailer = kRowPointerSize + (leaf ? 0 : kChildSize);
    // The free-space count bounds the bitmap to read; the last entry must
    // end exactly there, no bit may lie beyond it, and none at 0. An empty
    // page goes the general way.
    const size_t room = indexEntryRoom(fmt);
    const size_t free_space = page.u16(kIndexFreeSpace);
    if (free_space >= room) return;
    length = room - free_space;
    bitmap_bytes = length / 8 + 1;
    if (bitmap_bytes > indexBitmapSize(fmt)) return;
    if (bit(0) || (bitmap[length / 8] >> (length % 8)) != 1) return;
    ok = true;
  }

  uint32_t tail(const Format& fmt) const {
    return ByteView(bytes, fmt.page_size).u32(fmt.index_tail);
  }

  bool bit(size_t at) const { return (bitmap[at / 8] >> (at % 8)) & 1; }

  // The first set bit at or after `at` (there is one: the bit at `length`);
  // past the bitmap, `at` itself.
  size_t nextSet(size_t at) const {
    for (;;) {
      const size_t byte = at / 8;
      // Past the bitmap (after the last entry) there is no entry to find.
      if (byte >= bitmap_bytes) return at;
      uint64_t w = 0;
      if (byte + 8 <= bitmap_bytes) {
        std::memcpy(&w, bitmap + byte, 8);  // one load
      } else {
        std::memcpy(&w, bitmap + byte, bitmap_bytes - byte);
      }
      w >>= at % 8;
      if (w != 0) return at + static_cast<size_t>(std::countr_zero(w));
      at = (byte + 8) * 8;  // none up to the end of the eight bytes read
    }
  }
  // The last set bit at or before `at`, or 0 when there is none.
  size_t prevSet(size_t at) const {
    for (;;) {
      const size_t byte = at / 8;
      const size_t first = byte >= 7 ? byte - 7 : 0;
      uint64_t w = 0;
      std::memcpy(&w, bitmap + first, byte - first + 1);
      const size_t top = (byte - first) * 8 + at % 8;  // at's place in w
      if (top < 63) w &= (uint64_t{2} << top) - 1;
      if (w != 0) return first * 8 + 63 - static_cast<size_t>(std::countl_zero(w));
      if (first == 0) return 0;
      at = first * 8 - 1;
    }
  }

  // The entry that holds data byte `at`.
  Span around(size_t at) const { return {prevSet(at), nextSet(at + 1)}; }
  Span last() const { return around(length - 1); }
  // The entry after `e`.
  Span after(Span e) const { return {e.to, nextSet(e.to + 1)}; }

  // The entry with its prefix restored: head(e) bytes of the first entry,
  // then its own bytes from data + e.from; whole(e) bytes in all.
  size_t head(Span e) const { return e.from == 0 ? 0 : prefix; }
  size_t whole(Span e) const { return head(e) + e.to - e.from; }

  // Whether the span can be an entry; sets `bad` when not.
  bool valid(Span e) const {
    if (whole(e) < trailer || (e.from == 0 && prefix > e.to)) {
      bad = true;
      return false;
    }
    return true;
  }

  // Compares the entry (key and row pointer, prefix restored) with the
  // target: below 0 when the entry comes first.
  int compare(Span e, const std::vector<uint8_t>& key, const uint8_t (&pointer)[4]) const {
    if (!valid(e)) return 0;
    const uint8_t* head_bytes = data;  // the first entry holds the shared bytes
    const size_t head_size = head(e);
    const uint8_t* tail_bytes = data + e.from;
    const size_t key_size = whole(e) - trailer;
    if (head_size == 0) {
      // Stored whole: the bytes compare as they lie (keys are short; a loop
      // costs less than a call).
      const size_t n = std::min(key_size, key.size());
      for (size_t k = 0; k < n; ++k) {
        if (tail_bytes[k] != key[k]) return tail_bytes[k] < key[k] ? -1 : 1;
      }
      if (key_size != key.size()) return key_size < key.size() ? -1 : 1;
      for (size_t k = 0; k < kRowPointerSize; ++k) {
        if (tail_bytes[key_size + k] != pointer[k]) {
          return tail_bytes[key_size + k] < pointer[k] ? -1 : 1;
        }
      }
      return 0;
    }
    auto at = [&](size_t k) { return k < head_size ? head_bytes[k] : tail_bytes[k - head_size]; };
    const size_t n = std::min(key_size, key.size());
    for (size_t k = 0; k < n; ++k) {
      const uint8_t b = at(k);
      if (b != key[k]) return b < key[k] ? -1 : 1;
    }
    if (key_size != key.size()) return key_size < key.size() ? -1 : 1;
    for (size_t k = 0; k < kRowPointerSize; ++k) {
      const uint8_t b = at(key_size + k);
      if (b != pointer[k]) return b < pointer[k] ? -1 : 1;
    }
    return 0;
  }

  // The first entry not below the target (entries are in order), or an
  // empty span at `length` when every entry is below it.
  Span lowerBound(const std::vector<uint8_t>& key, const uint8_t (&pointer)[4]) const {
    return lowerBound(key, pointer, 0, length);
  }
  // The same among the entries between boundaries `lo` and `hi`.
  Span lowerBound(const std::vector<uint8_t>& key, const uint8_t (&pointer)[4], size_t lo,
                  size_t hi) const {
    Span found{length, length};
    while (lo < hi && !bad) {
      const Span e = around(lo + (hi - lo) / 2);
      if (compare(e, key, pointer) < 0) {
        lo = e.to;
      } else {
        hi = e.from;
        found = e;
      }
    }
    return found;
  }

  // The entry equal to the target, or an empty span at `length` when the
  // page does not hold it. A target outside the page's first and last
  // entries is told at once; otherwise the search starts at data byte `at`
  // (where the last entry removed was) and strides ahead 1, 2, 4... entries
  // before it halves what is left.
  Span find(size_t at, const std::vector<uint8_t>& key, const uint8_t (&pointer)[4]) const {
    const Span none{length, length};
    const Span last_entry = last();
    const int after_last = compare(last_entry, key, pointer);
    if (bad || after_last < 0) return none;
    if (after_last == 0) return last_entry;
    const Span first_entry = around(0);
    const int before_first = compare(first_entry, key, pointer);
    if (bad || before_first > 0) return none;
    if (before_first == 0) return first_entry;
    size_t lo = 0, hi = length;  // entry boundaries around the target
    if (at < length) {
      Span e = around(at);
      for (size_t stride = 1;; stride *= 2) {
        const int c = compare(e, key, pointer);
        if (bad) return none;
        if (c == 0) return e;
        if (c > 0) {
          hi = e.from;
          break;
        }
        lo = e.to;
        for (size_t k = 0; k < stride && e.to < length; ++k) e = after(e);
        if (e.from < lo) break;  // no entry left past lo
      }
    }
    const Span e = lowerBound(key, pointer, lo, hi);
    if (bad || e.from == length || compare(e, key, pointer) != 0 || bad) return none;
    return e;
  }

  uint32_t child(Span e) const {
    if (!valid(e)) return 0;
    return getIndexChild(data + e.to - kChildSize);
  }

  // Takes the entry's stored bytes out of `page` (this page, writable):
  // the later entries move down over it with their end bits, the bytes the
  // data no longer covers are cleared, and the free-space count grows.
  void remove(const Format& fmt, Span e, uint8_t* page) const {
    const size_t gap = e.to - e.from;
    uint8_t* out = indexEntryData(page, fmt);
    std::memmove(out + e.from, out + e.to, length - e.to);
    std::memset(out + length - gap, 0, gap);
    removeBits(e, page + fmt.index_bitmap);
    putU16(page + kIndexFreeSpace, static_cast<uint16_t>(indexEntryRoom(fmt) - (length - gap)));
  }

  // Removes the entries `gone` (ascending, none of them the page's last,
  // nor on a page sharing a prefix its first) in one pass: the entries
  // left close up and the bitmap is written again.
  void removeMany(const Format& fmt, const std::vector<Span>& gone, uint8_t* page) const {
    constexpr size_t kMaxBitmap = 512;  // more than any page has
    uint8_t new_bitmap[kMaxBitmap] = {};
    uint8_t* out = indexEntryData(page, fmt);
    size_t kept = 0, from = 0;
    auto keep = [&](size_t a, size_t b) {  // data bytes [a, b), whole entries
      if (a == b) return;
      std::memmove(out + kept, out + a, b - a);
      for (Span e = around(a); e.from < b; e = after(e)) {
        const size_t end = kept + (e.to - a);
        new_bitmap[end / 8] = static_cast<uint8_t>(new_bitmap[end / 8] | (1u << (end % 8)));
      }
      kept += b - a;
    };
    for (const Span& e : gone) {
      keep(from, e.from);
      from = e.to;
    }
    keep(from, length);
    std::memset(out + kept, 0, length - kept);
    std::memcpy(page + fmt.index_bitmap, new_bitmap, bitmap_bytes);
    putU16(page + kIndexFreeSpace, static_cast<uint16_t>(indexEntryRoom(fmt) - kept));
  }

  // Writes the bitmap with the entry's bits taken out into `out` (this
  // page's bitmap, writable): bits up to `from` stay, the bits after `to`
  // move down by to - from.
  void removeBits(Span e, uint8_t* out) const {
    constexpr size_t kMaxWords = 64;  // 512 bitmap bytes, more than any page has
    uint64_t words[kMaxWords];
    // Words before the one holding `from` keep their bits.
    const size_t first = e.from / 64;
    const size_t count = (bitmap_bytes + 7) / 8;
    words[count - 1] = 0;
    std::memcpy(words + first, bitmap + first * 8, bitmap_bytes - first * 8);
    const size_t gap = e.to - e.from;
    const size_t q = gap / 64, r = gap % 64;
    const size_t b = e.from % 64;
    const uint64_t keep = b == 63 ? ~uint64_t{0} : (uint64_t{2} << b) - 1;  // in the first word
    for (size_t w = first; w < count; ++w) {
      const uint64_t lo = w + q < count ? words[w + q] : 0;
      const uint64_t hi = w + q + 1 < count ? words[w + q + 1] : 0;
      const uint64_t shifted = r == 0 ? lo : (lo >> r) | (hi << (64 - r));
      words[w] = w == first ? (words[w] & keep) | (shifted & ~keep) : shifted;
    }
    std::memcpy(out + first * 8, words + first, bitmap_bytes - first * 8);
  }
};

// ---------------------------------------------------------------------------
// Encoding pages: the inverse of decodeIndexPage.
//
// A page is given by its kind (leaf or node), its links (previous and next
// page on the same level, and on nodes the tail) and its entries in index
// order, each whole (key, row pointer, and on node pages the child). The
// entries go back to back from the first-entry offset, with one bitmap bit
// where each entry ends, the free-space field filled in and, when asked,
// the prefix common to all entries shared: the first entry is stored whole
// and every later one without those bytes. The prefix never reaches the row
// byte of the row pointer. Node pages carry the node flag (1) that Access
// writes.
//
// Typical use when changing a page: decode it, edit its entries, encode it
// again (fitsIndexPage tells whether the edited entries still fit).

struct IndexPageLayout {
  bool leaf = true;
  uint32_t owner = 0;  // first TDEF page of the table
  uint32_t prev = 0;
  uint32_t next = 0;
  uint32_t tail = 0;  // node pages only
  bool share_prefix = false;
};

// Bytes an entry takes stored whole: key, row pointer, child page on node
// pages.
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
