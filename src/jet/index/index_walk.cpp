#include "index/index_walk.h"

#include <unordered_set>

#include "jet/error.h"

namespace jet {

IndexWalker::IndexWalker(const PageSource& src, const Format& fmt, uint32_t root, uint32_t owner)
    : src_(&src), fmt_(&fmt), root_(root), owner_(owner) {}

void IndexWalker::fail(const std::string& reason) const {
  throwBadFormat(src_->path(),
                 "el índice con raíz en la página " + std::to_string(root_) + " " + reason);
}

IndexPage IndexWalker::page(uint32_t number) const {
  if (number == 0 || number >= src_->pageCount()) {
    fail("apunta a la página " + std::to_string(number) + ", fuera del archivo");
  }
  IndexPage p = readIndexPage(*src_, *fmt_, number);
  if (owner_ != 0 && p.owner != owner_) {
    fail("incluye la página " + std::to_string(number) + ", que pertenece a otra tabla");
  }
  return p;
}

uint32_t IndexWalker::childToFollow(const IndexPage& node, bool first) const {
  uint32_t child = 0;
  if (first) {
    child = node.entries.empty() ? node.tail : node.entries.front().child;
  } else {
    child = node.tail != 0 ? node.tail : node.entries.empty() ? 0 : node.entries.back().child;
  }
  if (child == 0) fail("tiene la página de nodo " + std::to_string(node.number) + " sin hijos");
  return child;
}

uint32_t IndexWalker::descend(const std::function<uint32_t(const IndexPage&)>& child) const {
  std::unordered_set<uint32_t> seen;
  uint32_t n = root_;
  for (;;) {
    if (!seen.insert(n).second) fail("forma un ciclo en la página " + std::to_string(n));
    IndexPage p = page(n);
    if (p.leaf) return n;
    n = child(p);
  }
}

uint32_t IndexWalker::edgeLeaf(bool first) const {
  return descend([&](const IndexPage& p) { return childToFollow(p, first); });
}

uint32_t IndexWalker::firstLeaf() const {
  return edgeLeaf(true);
}

uint32_t IndexWalker::lastLeaf() const {
  return edgeLeaf(false);
}

uint32_t IndexWalker::leafFor(const IndexEntry& target) const {
  return descend([&](const IndexPage& p) {
    for (const IndexEntry& e : p.entries) {
      if (IndexEntry::compare(e, target) < 0) continue;
      if (e.child != 0) return e.child;
      break;
    }
    return childToFollow(p, false);
  });
}

std::vector<uint32_t> IndexWalker::leafChain() const {
  std::vector<uint32_t> chain;
  forEachLeaf([&](const IndexPage& p) { chain.push_back(p.number); });
  return chain;
}

void IndexWalker::forEachLeaf(const std::function<void(const IndexPage&)>& fn) const {
  std::unordered_set<uint32_t> seen;
  uint32_t n = firstLeaf();
  while (n != 0) {
    if (!seen.insert(n).second) {
      fail("forma un ciclo de páginas hermanas en la página " + std::to_string(n));
    }
    IndexPage p = page(n);
    if (!p.leaf) {
      fail("enlaza la página de nodo " + std::to_string(n) + " entre sus hojas");
    }
    fn(p);
    n = p.next;
  }
}

void IndexWalker::forEachEntry(
    const std::function<void(const IndexEntry&, const IndexPage&)>& fn) const {
  forEachLeaf([&](const IndexPage& p) {
    for (const IndexEntry& e : p.entries) fn(e, p);
  });
}

std::vector<IndexEntry> IndexWalker::entries() const {
  std::vector<IndexEntry> out;
  forEachEntry([&](const IndexEntry& e, const IndexPage&) { out.push_back(e); });
  return out;
}

std::vector<std::vector<uint32_t>> IndexWalker::levels(
    const std::function<void()>& after_page) const {
  std::vector<std::vector<uint32_t>> out;
  std::unordered_set<uint32_t> seen{root_};
  std::vector<uint32_t> level{root_};
  for (;;) {
    out.push_back(level);
    std::vector<uint32_t> below;
    bool leaves = false, nodes = false;
    for (uint32_t n : level) {
      IndexPage p = page(n);
      if (after_page) after_page();
      (p.leaf ? leaves : nodes) = true;
      if (p.leaf) continue;
      std::vector<uint32_t> children;
      for (const IndexEntry& e : p.entries) children.push_back(e.child);
      if (p.tail != 0 && (children.empty() || children.back() != p.tail)) {
        children.push_back(p.tail);
      }
      if (children.empty()) fail("tiene la página de nodo " + std::to_string(n) + " sin hijos");
      for (uint32_t c : children) {
        if (!seen.insert(c).second) fail("forma un ciclo en la página " + std::to_string(c));
        below.push_back(c);
      }
    }
    if (leaves && nodes) fail("mezcla hojas y nodos en un mismo nivel");
    if (leaves) return out;
    level = std::move(below);
  }
}

}  // namespace jet
