// One index page read in place, without copying its entries: what the hot
// paths (removing an entry, reading a whole-number index's values) use
// instead of decodeIndexPage.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "format/bytes.h"
#include "format/format.h"
#include "index/index_page.h"
#include "io/page_source.h"

namespace jet {

// The bitmap has one bit per byte of entry data, set where an entry ends;
// the entry around any byte is found from the nearest set bits on either
// side, so a search halves the page's bytes instead of first listing every
// entry. `ok` is false when anything about the page is unusual (an empty
// page included); the caller then takes a way that reports damage properly
// (decodeIndexPage). An entry too short for its row pointer (and child) is
// found when it is looked at, and sets `bad`.
struct IndexPageView {
  static constexpr size_t kRowPointerSize = 4;
  static constexpr size_t kChildSize = 4;

  const uint8_t* bytes = nullptr;
  const uint8_t* bitmap = nullptr;
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
    if (bytes[0] != kIndexNodePage && bytes[0] != kIndexLeafPage) return;
    if (owner != 0 && page.u32(4) != owner) return;
    leaf = bytes[0] == kIndexLeafPage;
    prefix = fmt.index_prefix_len_size == 1 ? page.u8(fmt.index_prefix_len)
                                            : page.u16(fmt.index_prefix_len);
    trailer = kRowPointerSize + (leaf ? 0 : kChildSize);
    // The free-space count bounds the bitmap to read; the last entry must
    // end exactly there, no bit may lie beyond it, and none at 0. An empty
    // page goes the general way.
    const size_t room = fmt.page_size - fmt.index_first_entry;
    const size_t free_space = page.u16(2);
    if (free_space >= room) return;
    length = room - free_space;
    bitmap_bytes = length / 8 + 1;
    if (bitmap_bytes > fmt.index_first_entry - fmt.index_bitmap) return;
    if (bit(0) || (bitmap[length / 8] >> (length % 8)) != 1) return;
    ok = true;
  }

  bool bit(size_t at) const { return (bitmap[at / 8] >> (at % 8)) & 1; }

  // The first set bit at or after `at` (there is one: the bit at `length`).
  size_t nextSet(size_t at) const {
    for (;;) {
      const size_t byte = at / 8;
      uint64_t w = 0;
      std::memcpy(&w, bitmap + byte, std::min<size_t>(8, bitmap_bytes - byte));
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

  // Whether the span can be an entry; sets `bad` when not.
  bool valid(Span e) const {
    const size_t whole = e.to - e.from + (e.from == 0 ? 0 : prefix);
    if (whole < trailer || (e.from == 0 && prefix > e.to)) {
      bad = true;
      return false;
    }
    return true;
  }

  // Compares the entry (key and row pointer, prefix restored) with the
  // target: below 0 when the entry comes first.
  int compare(const Format& fmt, Span e, const std::vector<uint8_t>& key,
              const uint8_t (&pointer)[4]) const {
    if (!valid(e)) return 0;
    const uint8_t* data = bytes + fmt.index_first_entry;
    const uint8_t* head = data;  // the first entry holds the shared bytes
    const size_t head_size = e.from == 0 ? 0 : prefix;
    const uint8_t* tail = data + e.from;
    const size_t whole = head_size + e.to - e.from;
    const size_t key_size = whole - trailer;
    if (head_size == 0) {
      // Stored whole: the bytes compare as they lie (keys are short; a loop
      // costs less than a call).
      const size_t n = std::min(key_size, key.size());
      for (size_t k = 0; k < n; ++k) {
        if (tail[k] != key[k]) return tail[k] < key[k] ? -1 : 1;
      }
      if (key_size != key.size()) return key_size < key.size() ? -1 : 1;
      for (size_t k = 0; k < kRowPointerSize; ++k) {
        if (tail[key_size + k] != pointer[k]) return tail[key_size + k] < pointer[k] ? -1 : 1;
      }
      return 0;
    }
    auto at = [&](size_t k) { return k < head_size ? head[k] : tail[k - head_size]; };
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
  Span lowerBound(const Format& fmt, const std::vector<uint8_t>& key,
                  const uint8_t (&pointer)[4]) const {
    return lowerBound(fmt, key, pointer, 0, length);
  }
  // The same among the entries between boundaries `lo` and `hi`.
  Span lowerBound(const Format& fmt, const std::vector<uint8_t>& key, const uint8_t (&pointer)[4],
                  size_t lo, size_t hi) const {
    Span found{length, length};
    while (lo < hi && !bad) {
      const Span e = around(lo + (hi - lo) / 2);
      if (compare(fmt, e, key, pointer) < 0) {
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
  Span find(const Format& fmt, size_t at, const std::vector<uint8_t>& key,
            const uint8_t (&pointer)[4]) const {
    const Span none{length, length};
    const Span last_entry = last();
    const int after_last = compare(fmt, last_entry, key, pointer);
    if (bad || after_last < 0) return none;
    if (after_last == 0) return last_entry;
    const Span first_entry = around(0);
    const int before_first = compare(fmt, first_entry, key, pointer);
    if (bad || before_first > 0) return none;
    if (before_first == 0) return first_entry;
    size_t lo = 0, hi = length;  // entry boundaries around the target
    if (at < length) {
      Span e = around(at);
      for (size_t stride = 1;; stride *= 2) {
        const int c = compare(fmt, e, key, pointer);
        if (bad) return none;
        if (c == 0) return e;
        if (c > 0) {
          hi = e.from;
          break;
        }
        lo = e.to;
        for (size_t k = 0; k < stride && e.to < length; ++k) e = Span{e.to, nextSet(e.to + 1)};
        if (e.from < lo) break;  // no entry left past lo
      }
    }
    const Span e = lowerBound(fmt, key, pointer, lo, hi);
    if (bad || e.from == length || compare(fmt, e, key, pointer) != 0 || bad) return none;
    return e;
  }

  uint32_t child(const Format& fmt, Span e) const {
    if (!valid(e)) return 0;
    const uint8_t* c = bytes + fmt.index_first_entry + e.to - kChildSize;
    return uint32_t{c[0]} << 24 | uint32_t{c[1]} << 16 | uint32_t{c[2]} << 8 | c[3];
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

}  // namespace jet
