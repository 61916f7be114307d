#include "index/index_tree_edit.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <stdexcept>
#include <unordered_set>

#include "format/usage_map.h"
#include "index/index_page.h"
#include "jet/error.h"

namespace jet {

namespace {

// Deeper than any tree a page size allows; a longer way down is a loop.
constexpr size_t kMaxDepth = 64;

// Whether the entry can go from the leaf's bytes alone: it is not the last
// (whose going changes what the parents repeat), and on a page sharing a
// prefix not the first either (the first holds the shared bytes, and the
// first and last set how many there are).
bool leavesInPlace(const IndexPageView& p, IndexPageView::Span e) {
  return e.to < p.length && (p.prefix == 0 || e.from > 0);
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
  uint8_t pointer[kRowPointerSize];
  putIndexRowPointer(pointer, target.row);
  if (hint.page != 0) {
    IndexPageView p(*pages_, fmt, hint.page, owner_);
    if (p.ok && p.leaf) {
      const IndexPageView::Span found = p.find(hint.at, target.key, pointer);
      if (!p.bad && leavesInPlace(p, found)) {
        p.remove(fmt, found, pages_->writablePage(hint.page));
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
    IndexPageView::Span entry;
    bool tail;
  };
  Down path[kMaxDepth];
  size_t depth = 0;
  uint32_t n = walker_.root();
  for (;;) {
    IndexPageView p(*pages_, fmt, n, owner_);
    if (!p.ok) return false;
    const IndexPageView::Span found = p.lowerBound(target.key, pointer);
    if (p.bad) return false;
    if (!p.leaf) {
      if (depth == kMaxDepth) return false;
      Down step{n, found, false};
      uint32_t child = found.from < p.length ? p.child(found) : 0;
      if (child == 0) {
        step.tail = true;
        child = p.tail(fmt);
        if (child == 0) {
          // No tail: the last entry's child holds the largest entries.
          step = Down{n, p.last(), false};
          child = p.child(step.entry);
        }
      }
      if (child == 0 || p.bad) return false;
      path[depth++] = step;
      n = child;
      continue;
    }
    if (found.from >= p.length || p.compare(found, target.key, pointer) != 0 || p.bad) {
      return false;
    }
    if (!leavesInPlace(p, found)) {
      // The leaf's last entry, on a leaf that keeps others and shares no prefix.
      if (p.prefix != 0 || found.from == 0) return false;
      const IndexPageView::Span before = p.around(found.from - 1);
      if (!p.valid(before)) return false;
      const std::vector<uint8_t> last(p.data + before.from, p.data + before.to);
      // Every node entry to change is checked before the first byte changes:
      // where it lies, and how many leading bytes it leaves to the prefix.
      struct Edit {
        uint32_t page;
        size_t from;
        size_t skip;
      };
      Edit edits[kMaxDepth];
      size_t count = 0;
      for (size_t k = depth; k-- > 0;) {
        const Down& up = path[k];
        if (up.tail) continue;  // no entry for the child; the node's own last changed
        IndexPageView q(*pages_, fmt, up.page, owner_);
        if (!q.ok || !q.valid(up.entry)) return false;
        if (q.whole(up.entry) != last.size() + kChildSize) return false;
        if (q.prefix != 0) {
          // The page's first and last entries, which set its prefix, stay.
          if (up.entry.from == 0 || up.entry.to == q.length || q.prefix > last.size()) {
            return false;
          }
          if (!std::equal(last.begin(), last.begin() + static_cast<std::ptrdiff_t>(q.prefix),
                          q.data)) {
            return false;
          }
        }
        edits[count++] = {up.page, up.entry.from, q.head(up.entry)};
        const bool tail = q.tail(fmt) != 0;
        if (up.entry.to != q.length || tail) break;  // the node's last entry stays
      }
      for (size_t k = 0; k < count; ++k) {
        uint8_t* page = pages_->writablePage(edits[k].page);
        std::memcpy(indexEntryData(page, fmt) + edits[k].from, last.data() + edits[k].skip,
                    last.size() - edits[k].skip);
      }
    }
    p.remove(fmt, found, pages_->writablePage(n));
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
  unlinkLeaf(page);
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

void IndexTreeEditor::unlinkLeaf(uint32_t page) {
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
  const size_t flag_at = indexNodeFlagOffset(*fmt_);
  for (uint32_t n : dirty_) {
    const IndexPage& p = loaded_.at(n);
    std::vector<uint8_t> bytes;
    try {
      bytes = encodeIndexPage(*fmt_, p, p.prefix_length > 0);
    } catch (const std::invalid_argument&) {
      throwBadFormat(pages_->path(), "las entradas de la página de índice " + std::to_string(n) +
                                         " no están en orden");
    } catch (const std::length_error&) {
      throw JetError(Msg::kIndexPageFull, pages_->path(), std::to_string(n));
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
