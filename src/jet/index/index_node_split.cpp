// Splitting node pages that a removal has made too long for one page.
//
// A removal can lengthen a node page: an entry that repeats a child's last
// entry takes the new last, whose text key may be longer. (Entries never
// lose shared prefix bytes: every entry between a page's first and last
// shares what those two share.) When the page no longer holds its entries,
// it is split the way Access splits pages: a new page takes the
// first entries and goes before it on its level, the last of those entries'
// children becoming the new page's tail, and the parent takes an entry for
// the new page (the last entry under it) just before the entry for the page
// split, splitting in turn if that is too much. A root too long for its page
// moves its content to a new page and keeps a single entry for it, which is
// then split, so the tree grows a level and the root stays where the table
// definition names it. Children keep their links: the leaf chain runs on
// unchanged.
#include <stdexcept>

#include "format/page_allocator.h"
#include "index/index_page.h"
#include "index/index_tree_edit.h"
#include "jet/error.h"

namespace jet {

namespace {

bool fits(const Format& fmt, const IndexPage& p) {
  return fitsIndexPage(fmt, p.entries, p.leaf, p.prefix_length > 0);
}

}  // namespace

void IndexTreeEditor::splitOverfull(const std::vector<Step>& path) {
  for (size_t depth = path.size(); depth-- > 0;) {
    const uint32_t n = path[depth].page;
    if (dirty_.count(n) == 0) continue;
    if (fits(*fmt_, load(n))) continue;
    if (depth == 0) {
      splitRoot(n);
    } else {
      splitNode(n, path[depth - 1].page);
    }
  }
}

uint32_t IndexTreeEditor::newPage() {
  const uint32_t page = allocatePage(*pages_, *fmt_, used_map_);
  if (page == 0) {
    throw JetError(Msg::kIndexNoFreePage, pages_->path());
  }
  return page;
}

void IndexTreeEditor::splitNode(uint32_t n, uint32_t parent) {
  IndexPage& p = load(n);
  const size_t count = p.entries.size();
  // The new page takes entries [0, k): at least two, so that it keeps a
  // plain entry besides its tail; the page split keeps one at least.
  auto halvesFit = [&](size_t k) {
    IndexPage left;
    left.leaf = false;
    left.prefix_length = p.prefix_length;
    left.entries.assign(p.entries.begin(), p.entries.begin() + static_cast<std::ptrdiff_t>(k - 1));
    IndexPage right;
    right.leaf = false;
    right.prefix_length = p.prefix_length;
    right.entries.assign(p.entries.begin() + static_cast<std::ptrdiff_t>(k), p.entries.end());
    return fits(*fmt_, left) && fits(*fmt_, right);
  };
  size_t k = 0;
  for (size_t step = 0; step < count && k == 0; ++step) {
    // From the middle outwards.
    const size_t candidate = step % 2 == 0 ? count / 2 + step / 2 : count / 2 - (step + 1) / 2;
    if (candidate >= 2 && candidate < count && halvesFit(candidate)) k = candidate;
  }
  if (k == 0) {
    throw JetError(Msg::kIndexPageFull, pages_->path(), std::to_string(n));
  }

  const uint32_t q = newPage();
  IndexPage left;
  left.number = q;
  left.leaf = false;
  left.owner = p.owner;
  left.node_flag = p.node_flag;
  left.prefix_length = p.prefix_length;
  left.entries.assign(p.entries.begin(), p.entries.begin() + static_cast<std::ptrdiff_t>(k));
  IndexEntry separator = left.entries.back();  // the last entry under the new page
  left.tail = separator.child;
  left.entries.pop_back();
  separator.child = q;
  p.entries.erase(p.entries.begin(), p.entries.begin() + static_cast<std::ptrdiff_t>(k));
  left.prev = p.prev;
  left.next = n;
  if (p.prev != 0) {
    load(p.prev).next = q;
    touch(p.prev);
  }
  p.prev = q;
  loaded_.emplace(q, std::move(left));
  touch(q);
  touch(n);

  IndexPage& up = load(parent);
  const bool single_child = up.tail == 0 && up.entries.size() == 1;
  if (up.tail == n) {
    up.entries.push_back(std::move(separator));
  } else {
    auto at = up.entries.begin();
    while (at != up.entries.end() && at->child != n) ++at;
    if (at == up.entries.end()) {
      throwBadFormat(pages_->path(), "la página de índice " + std::to_string(parent) +
                                         " no enlaza su hija " + std::to_string(n));
    }
    up.entries.insert(at, std::move(separator));
  }
  if (single_child) {
    // Two children now: the last one is the tail, without an entry.
    up.tail = up.entries.back().child;
    up.entries.pop_back();
  }
  touch(parent);
}

void IndexTreeEditor::splitRoot(uint32_t root) {
  const uint32_t a = newPage();
  IndexPage moved = load(root);
  moved.number = a;
  moved.prev = moved.next = 0;
  loaded_.emplace(a, std::move(moved));
  touch(a);
  IndexEntry only = lastOfSubtree(a);
  only.child = a;
  IndexPage& r = load(root);
  r.entries.assign(1, std::move(only));
  r.tail = 0;
  touch(root);
  splitNode(a, root);
}

}  // namespace jet
