#include "index_tree_edit.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <stdexcept>
#include <unordered_set>

#include "error.h"
#include "index_page_writer.h"
#include "usage_map_edit.h"

namespace jet {

namespace {

// Deeper than any tree a page size allows; a longer way down is a loop.
constexpr size_t kMaxDepth = 64;
constexpr size_t kRowPointerSize = 4;
constexpr size_t kChildSize = 4;

// One index page read in place, without copying or listing its entries.
// The bitmap has one bit per byte of entry data, set where an entry ends;
// the entry around any byte is found from the nearest set bits on either
// side, so a search halves the page's bytes instead of first listing every
// entry. `ok` is false when anything about the page is unusual; the caller
// then takes the general way, which reports damage properly. An entry too
// short for its row pointer (and child) is found when it is looked at, and
// sets `bad`.
struct RawPage {
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

  RawPage(const PageSource& src, const Format& fmt, uint32_t number, uint32_t owner) {
    if (number == 0 || number >= src.pageCount()) return;
    ByteView page = src.page(number);
    bytes = page.data();
    bitmap = bytes + fmt.index_bitmap;
    if (bytes[0] != 0x03 && bytes[0] != 0x04) return;
    if (owner != 0 && page.u32(4) != owner) return;
    leaf = bytes[0] == 0x04;
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

// Whether the entry can go from the leaf's bytes alone: it is not the last
// (whose going changes what the parents repeat), and on a page sharing a
// prefix not the first either (the first holds the shared bytes, and the
// first and last set how many there are).
bool leavesInPlace(const RawPage& p, RawPage::Span e) {
  return e.to < p.length && (p.prefix == 0 || e.from > 0);
}

// Takes the entry's stored bytes out of the page.
void removeSpan(PageSource& pages, const Format& fmt, const RawPage& p, uint32_t n,
                RawPage::Span found) {
  // Close the gap, clear the bytes the data no longer covers, move the later
  // entries' end bits down with their bytes.
  const size_t gap = found.to - found.from;
  const size_t length = p.length;
  uint8_t* page = pages.writablePage(n);
  uint8_t* data = page + fmt.index_first_entry;
  std::memmove(data + found.from, data + found.to, length - found.to);
  std::memset(data + length - gap, 0, gap);
  p.removeBits(found, page + fmt.index_bitmap);
  const uint16_t free_space =
      static_cast<uint16_t>(fmt.page_size - fmt.index_first_entry - (length - gap));
  page[2] = static_cast<uint8_t>(free_space);
  page[3] = static_cast<uint8_t>(free_space >> 8);
}

}  // namespace

// The common cases, done in place, when the leaf keeps entries: an entry
// inside the leaf goes (on a page that shares a prefix, neither its first
// nor its last), and its other entries keep their bytes; the last entry of
// a leaf that shares no prefix goes, and the node entries that repeat it
// take the entry before it where that keeps their size and the shared
// prefix of their pages. The leaf named by `hint` is looked at first, from
// the hinted byte on: a leaf of this index that holds the entry is the one
// place the entry can be (the pages this engine hands to an index are node
// pages, which never become leaves, so a leaf stays with its index; a
// rollback puts back pages that were this index's). Returns
// false, having changed nothing, when the general way must decide; `hint`
// then names no leaf.
bool IndexTreeEditor::removeInPlace(const IndexEntry& target, LeafHint& hint) {
  const Format& fmt = *fmt_;
  const uint8_t pointer[4] = {static_cast<uint8_t>(target.row.page >> 16),
                              static_cast<uint8_t>(target.row.page >> 8),
                              static_cast<uint8_t>(target.row.page), target.row.row};
  if (hint.page != 0) {
    RawPage p(*pages_, fmt, hint.page, owner_);
    if (p.ok && p.leaf) {
      const RawPage::Span found = p.find(fmt, hint.at, target.key, pointer);
      if (!p.bad && leavesInPlace(p, found)) {
        removeSpan(*pages_, fmt, p, hint.page, found);
        hint.at = static_cast<uint32_t>(found.from);
        return true;
      }
    }
  }
  hint = {};

  // The way down: each node, and the entry whose child was taken (none for
  // the tail).
  struct Down {
    uint32_t page;
    RawPage::Span entry;
    bool tail;
  };
  Down path[kMaxDepth];
  size_t depth = 0;
  uint32_t n = walker_.root();
  for (;;) {
    RawPage p(*pages_, fmt, n, owner_);
    if (!p.ok) return false;
    const RawPage::Span found = p.lowerBound(fmt, target.key, pointer);
    if (p.bad) return false;
    if (!p.leaf) {
      if (depth == kMaxDepth) return false;
      Down step{n, found, false};
      uint32_t child = found.from < p.length ? p.child(fmt, found) : 0;
      if (child == 0) {
        step.tail = true;
        child = ByteView(p.bytes, fmt.page_size).u32(fmt.index_tail);
        if (child == 0) {
          // No tail: the last entry's child holds the largest entries.
          step = Down{n, p.last(), false};
          child = p.child(fmt, step.entry);
        }
      }
      if (child == 0 || p.bad) return false;
      path[depth++] = step;
      n = child;
      continue;
    }
    if (found.from >= p.length || p.compare(fmt, found, target.key, pointer) != 0 || p.bad) {
      return false;
    }
    if (!leavesInPlace(p, found)) {
      // The leaf's last entry, on a leaf that keeps others and shares no prefix.
      if (p.prefix != 0 || found.from == 0) return false;
      const RawPage::Span before = p.around(found.from - 1);
      if (!p.valid(before)) return false;
      const uint8_t* data = p.bytes + fmt.index_first_entry;
      const std::vector<uint8_t> last(data + before.from, data + before.to);
      // Every node entry to change is checked before the first byte changes.
      Down edits[kMaxDepth];
      size_t count = 0;
      for (size_t k = depth; k-- > 0;) {
        const Down& up = path[k];
        if (up.tail) continue;  // no entry for the child; the node's own last changed
        RawPage q(*pages_, fmt, up.page, owner_);
        if (!q.ok || !q.valid(up.entry)) return false;
        const size_t whole = up.entry.to - up.entry.from + (up.entry.from == 0 ? 0 : q.prefix);
        if (whole != last.size() + kChildSize) return false;
        if (q.prefix != 0) {
          // The page's first and last entries, which set its prefix, stay.
          if (up.entry.from == 0 || up.entry.to == q.length || q.prefix > last.size()) {
            return false;
          }
          const uint8_t* shared = q.bytes + fmt.index_first_entry;
          if (!std::equal(last.begin(), last.begin() + static_cast<std::ptrdiff_t>(q.prefix),
                          shared)) {
            return false;
          }
        }
        edits[count++] = up;
        const bool tail = ByteView(q.bytes, fmt.page_size).u32(fmt.index_tail) != 0;
        if (up.entry.to != q.length || tail) break;  // the node's last entry stays
      }
      for (size_t k = 0; k < count; ++k) {
        RawPage q(*pages_, fmt, edits[k].page, owner_);
        const size_t skip = edits[k].entry.from == 0 ? 0 : q.prefix;
        uint8_t* page = pages_->writablePage(edits[k].page);
        std::memcpy(page + fmt.index_first_entry + edits[k].entry.from, last.data() + skip,
                    last.size() - skip);
      }
    }
    removeSpan(*pages_, fmt, p, n, found);
    hint = {n, static_cast<uint32_t>(found.from)};
    return true;
  }
}

IndexTreeEditor::IndexTreeEditor(PageSource& pages, const Format& fmt, uint32_t root,
                                 uint32_t owner, uint32_t used_map)
    : pages_(&pages),
      fmt_(&fmt),
      walker_(pages, fmt, root, owner),
      owner_(owner),
      used_map_(used_map) {}

IndexPage& IndexTreeEditor::load(uint32_t number) {
  auto it = loaded_.find(number);
  if (it == loaded_.end()) it = loaded_.emplace(number, walker_.page(number)).first;
  return it->second;
}

std::vector<IndexTreeEditor::Step> IndexTreeEditor::pathFor(const IndexEntry& target,
                                                            uint32_t& leaf) {
  std::vector<Step> path;
  uint32_t n = walker_.root();
  for (;;) {
    const IndexPage& p = load(n);
    if (p.leaf) break;
    if (path.size() >= kMaxDepth) {
      throwBadFormat(pages_->path(), "el índice con raíz en la página " +
                                         std::to_string(walker_.root()) + " forma un ciclo");
    }
    Step step{n, -1};
    uint32_t child = p.tail;
    for (size_t i = 0; i < p.entries.size(); ++i) {
      if (IndexEntry::compare(p.entries[i], target) >= 0) {
        step.slot = static_cast<int>(i);
        child = p.entries[i].child;
        break;
      }
    }
    if (step.slot < 0 && child == 0 && !p.entries.empty()) {
      // No tail: the last entry's child holds the largest entries.
      step.slot = static_cast<int>(p.entries.size() - 1);
      child = p.entries.back().child;
    }
    if (child == 0) {
      throwBadFormat(pages_->path(),
                     "la página de índice " + std::to_string(n) + " es un nodo sin hijos");
    }
    path.push_back(step);
    n = child;
  }
  leaf = n;
  return path;
}

// The way from the root to `leaf`, which holds `entry`: the search for the
// entry, or, in a tree whose node entries do not lead there, a search of
// the whole tree for the page.
bool IndexTreeEditor::pathTo(uint32_t leaf, const IndexEntry& entry, std::vector<Step>& path) {
  uint32_t reached = 0;
  path = pathFor(entry, reached);
  if (reached == leaf) return true;

  struct Frame {
    uint32_t page;
    size_t next_child = 0;
  };
  std::vector<Frame> stack{{walker_.root()}};
  std::unordered_set<uint32_t> seen{walker_.root()};
  path.clear();
  while (!stack.empty()) {
    Frame& top = stack.back();
    const IndexPage& p = load(top.page);
    if (p.leaf) {
      if (top.page == leaf) return true;
      stack.pop_back();
      if (!path.empty()) path.pop_back();
      continue;
    }
    const size_t children = p.entries.size() + (p.tail != 0 ? 1 : 0);
    if (top.next_child >= children || stack.size() > kMaxDepth) {
      stack.pop_back();
      if (!path.empty()) path.pop_back();
      continue;
    }
    const size_t k = top.next_child++;
    const bool tail = k == p.entries.size();
    const uint32_t child = tail ? p.tail : p.entries[k].child;
    if (child == 0 || !seen.insert(child).second) continue;
    path.push_back({top.page, tail ? -1 : static_cast<int>(k)});
    stack.push_back({child});
  }
  return false;
}

bool IndexTreeEditor::removeEntry(const IndexEntry& target, LeafHint* hint) {
  LeafHint none;
  if (removeInPlace(target, hint != nullptr ? *hint : none)) return true;
  uint32_t leaf = 0;
  std::vector<Step> path = pathFor(target, leaf);
  const std::vector<IndexEntry>& entries = load(leaf).entries;
  auto it = std::lower_bound(
      entries.begin(), entries.end(), target,
      [](const IndexEntry& a, const IndexEntry& b) { return IndexEntry::compare(a, b) < 0; });
  if (it == entries.end() || IndexEntry::compare(*it, target) != 0) {
    loaded_.clear();
    return false;
  }
  removeAt(path, leaf, static_cast<size_t>(it - entries.begin()));
  write();
  return true;
}

bool IndexTreeEditor::removeRow(RowId row) {
  std::unordered_set<uint32_t> seen;
  for (uint32_t n = walker_.firstLeaf(); n != 0;) {
    if (!seen.insert(n).second) {
      throwBadFormat(pages_->path(),
                     "el índice con raíz en la página " + std::to_string(walker_.root()) +
                         " forma un ciclo de páginas hermanas en la página " + std::to_string(n));
    }
    const IndexPage& p = load(n);
    if (!p.leaf) {
      throwBadFormat(pages_->path(),
                     "el índice con raíz en la página " + std::to_string(walker_.root()) +
                         " enlaza la página de nodo " + std::to_string(n) + " entre sus hojas");
    }
    for (size_t i = 0; i < p.entries.size(); ++i) {
      if (p.entries[i].row != row) continue;
      std::vector<Step> path;
      if (!pathTo(n, p.entries[i], path)) {
        throwBadFormat(pages_->path(), "la hoja de índice " + std::to_string(n) +
                                           " no se alcanza desde la raíz " +
                                           std::to_string(walker_.root()));
      }
      removeAt(path, n, i);
      write();
      return true;
    }
    n = p.next;
  }
  loaded_.clear();
  return false;
}

bool IndexTreeEditor::removeRowFrom(uint32_t leaf, RowId row) {
  if (leaf == 0 || leaf >= pages_->pageCount() || pages_->page(leaf).u8(0) != kIndexLeafPage) {
    return false;
  }
  const IndexPage& p = load(leaf);
  for (size_t i = 0; i < p.entries.size(); ++i) {
    if (p.entries[i].row != row) continue;
    std::vector<Step> path;
    if (!pathTo(leaf, p.entries[i], path)) break;  // not this index's leaf
    removeAt(path, leaf, i);
    write();
    return true;
  }
  loaded_.clear();
  return false;
}

std::vector<std::pair<uint32_t, uint32_t>> IndexTreeEditor::rowLeaves() {
  std::vector<std::pair<uint32_t, uint32_t>> out;
  walker_.forEachLeaf([&](const IndexPage& p) {
    for (const IndexEntry& e : p.entries) out.emplace_back(e.row.toPointer(), p.number);
  });
  return out;
}

void IndexTreeEditor::removeAt(std::vector<Step>& path, uint32_t leaf, size_t position) {
  IndexPage& p = load(leaf);
  const bool was_last = position + 1 == p.entries.size();
  p.entries.erase(p.entries.begin() + static_cast<std::ptrdiff_t>(position));
  if (p.entries.empty()) {
    removeEmpty(path, path.size(), leaf);
  } else {
    touch(leaf);
    if (was_last) newLast(path, path.size(), p.entries.back());
  }
  splitOverfull(path);
}

// The page at `depth` on the path (the leaf at path.size()) has a new last
// entry: the node entries that repeat it follow.
void IndexTreeEditor::newLast(const std::vector<Step>& path, size_t depth, const IndexEntry& last) {
  while (depth > 0) {
    const Step& up = path[depth - 1];
    --depth;
    if (up.slot < 0) continue;  // the tail has no entry; the parent's last changed too
    IndexPage& q = load(up.page);
    IndexEntry& e = q.entries[static_cast<size_t>(up.slot)];
    e.key = last.key;
    e.row = last.row;
    touch(up.page);
    if (static_cast<size_t>(up.slot) + 1 != q.entries.size() || q.tail != 0) return;
  }
}

// The page at `depth` on the path lost its last entry or child.
void IndexTreeEditor::removeEmpty(const std::vector<Step>& path, size_t depth, uint32_t page) {
  if (depth == 0) {
    // The root stays where the table definition names it, as an empty leaf.
    IndexPage& root = load(page);
    root.leaf = true;
    root.entries.clear();
    root.prev = root.next = root.tail = 0;
    root.prefix_length = 0;
    root.node_flag = 0;
    touch(page);
    return;
  }
  unlink(page);
  dirty_.erase(page);
  freeing_.push_back(page);

  const Step& up = path[depth - 1];
  IndexPage& q = load(up.page);
  if (up.slot < 0) {
    if (q.entries.empty()) {
      removeEmpty(path, depth - 1, up.page);
      return;
    }
    // The last entry's child becomes the tail; its entry was the node's new last.
    IndexEntry last = q.entries.back();
    q.entries.pop_back();
    q.tail = last.child;
    if (q.entries.empty()) {
      // One child left: a plain entry, no tail.
      q.entries.push_back(last);
      q.tail = 0;
    }
    touch(up.page);
    newLast(path, depth - 1, last);
    return;
  }
  const size_t slot = static_cast<size_t>(up.slot);
  const bool was_last = slot + 1 == q.entries.size();
  q.entries.erase(q.entries.begin() + static_cast<std::ptrdiff_t>(slot));
  if (q.entries.empty()) {
    if (q.tail == 0) {
      removeEmpty(path, depth - 1, up.page);
      return;
    }
    // Only the tail left: it becomes a plain entry.
    IndexEntry last = lastOfSubtree(q.tail);
    last.child = q.tail;
    q.entries.push_back(std::move(last));
    q.tail = 0;
  } else if (was_last && q.tail == 0) {
    touch(up.page);
    newLast(path, depth - 1, q.entries.back());
    return;
  }
  touch(up.page);
}

IndexEntry IndexTreeEditor::lastOfSubtree(uint32_t page) {
  for (size_t depth = 0; depth < kMaxDepth; ++depth) {
    const IndexPage& p = load(page);
    if (p.leaf) {
      if (p.entries.empty()) break;
      IndexEntry last = p.entries.back();
      last.child = 0;
      return last;
    }
    page = p.tail != 0 ? p.tail : p.entries.empty() ? 0 : p.entries.back().child;
    if (page == 0) break;
  }
  throwBadFormat(pages_->path(), "el índice con raíz en la página " +
                                     std::to_string(walker_.root()) +
                                     " tiene un subárbol sin entradas");
}

void IndexTreeEditor::unlink(uint32_t page) {
  const IndexPage& p = load(page);
  const uint32_t prev = p.prev, next = p.next;
  if (prev != 0) {
    load(prev).next = next;
    touch(prev);
  }
  if (next != 0) {
    load(next).prev = prev;
    touch(next);
  }
}

void IndexTreeEditor::write() {
  const size_t flag_at = fmt_->index_prefix_len + fmt_->index_prefix_len_size;
  for (uint32_t n : dirty_) {
    const IndexPage& p = loaded_.at(n);
    std::vector<uint8_t> bytes;
    try {
      bytes = encodeIndexPage(*fmt_, p, p.prefix_length > 0);
    } catch (const std::invalid_argument&) {
      throwBadFormat(pages_->path(), "las entradas de la página de índice " + std::to_string(n) +
                                         " no están en orden");
    } catch (const std::length_error&) {
      throw JetError(err::kReadOnly, "No se puede actualizar el índice de '" + pages_->path() +
                                         "': la página " + std::to_string(n) +
                                         " no admite sus entradas nuevas.");
    }
    if (!p.leaf) bytes[flag_at] = p.node_flag;
    std::memcpy(pages_->writablePage(n), bytes.data(), bytes.size());
  }
  for (uint32_t n : freeing_) {
    std::memset(pages_->writablePage(n), 0, 4);
    setUsageMapBit(*pages_, *fmt_, kGlobalMapPointer, n, true);
    setUsageMapBit(*pages_, *fmt_, used_map_, n, false);
    freed_.push_back(n);
  }
  dirty_.clear();
  freeing_.clear();
  loaded_.clear();
}

}  // namespace jet
