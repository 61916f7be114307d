// Taking entries out of index B-trees, on trees built for the purpose (deeper
// than any in the fixtures, in Jet 3 and Jet 4 pages) and on real tables:
// the leaf rewritten with its prefix, parent entries that repeat a leaf's
// last entry, leaves and nodes that become empty, the root that becomes an
// empty leaf, page freeing in the usage maps, and a missing entry reported
// as a damaged file. Also the single-bit edits of usage maps.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "delete_test_support.h"
#include "format/data_page.h"
#include "format/format.h"
#include "format/page_allocator.h"
#include "format/usage_map.h"
#include "index/index_delete.h"
#include "index/index_key.h"
#include "index/index_page.h"
#include "index/index_tree_edit.h"
#include "jet/creator.h"
#include "jet/database.h"
#include "jet/error.h"
#include "support/shared_fixtures.h"

namespace {

namespace fs = std::filesystem;
using deltest::fileBytes;

constexpr uint32_t kOwner = 2;  // the catalog's TDEF, owner of the trees built here

jet::IndexEntry entry(std::vector<uint8_t> key, uint32_t page, uint8_t row) {
  jet::IndexEntry e;
  e.key = std::move(key);
  e.row = {page, row};
  return e;
}

// A Long key as an ascending index stores it.
std::vector<uint8_t> longKey(uint32_t v) {
  return {0x7F, static_cast<uint8_t>(0x80 | (v >> 24)), static_cast<uint8_t>(v >> 16),
          static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
}

// The entries 0..n-1 with Long keys, each row on its own slot.
std::vector<jet::IndexEntry> longEntries(size_t n) {
  std::vector<jet::IndexEntry> out;
  for (uint32_t i = 0; i < n; ++i) {
    out.push_back(entry(longKey(1000 + 7 * i), 300 + i / 16, static_cast<uint8_t>(i % 16)));
  }
  return out;
}

bool sameEntry(const jet::IndexEntry& a, const jet::IndexEntry& b) {
  return a.key == b.key && a.row == b.row;
}

// A scratch copy of a small real file with room at its end for trees built
// here. The trees use the usage map of the catalog's first index (its bits
// are rewritten to name exactly the tree) and the file's global map.
class TreeFile {
 public:
  TreeFile(jet::Version version, size_t extra_pages) : fmt_(&jet::formatFor(version)) {
    dir_ = testsupport::scratchDir();
    path_ = dir_ / "tree.mdb";
    fs::copy_file(testsupport::fixture(version == jet::Version::Jet3 ? "real/jet3/delTestV1997.mdb"
                                                                     : "real/jet4/emptyJet4.mdb"),
                  path_);
    fs::permissions(path_, fs::perms::owner_read | fs::perms::owner_write);
    {
      jet::Database db(path_.string());
      map_ = db.table("MSysObjects").def().real_indexes.at(0).used_map;
      first_free_ = db.pages().pageCount();
    }
    std::ofstream out(path_, std::ios::binary | std::ios::app);
    std::vector<char> zeros(fmt_->page_size * extra_pages, 0);
    out.write(zeros.data(), static_cast<std::streamsize>(zeros.size()));
    out.close();
    pages_ = std::make_unique<jet::PageSource>(path_.string(), jet::OpenMode::ReadWrite);
    pages_->setPageSize(fmt_->page_size);
  }
  ~TreeFile() {
    pages_.reset();
    fs::remove_all(dir_);
  }

  jet::PageSource& pages() { return *pages_; }
  const jet::Format& fmt() const { return *fmt_; }
  uint32_t map() const { return map_; }
  const fs::path& path() const { return path_; }

  // Builds a tree over `entries` (in order) with at most `per_leaf` entries
  // a leaf and `per_node` children a node, the way Access shapes them: each
  // node names its last child only as its tail. Returns the root (the
  // first page handed out), and marks the pages used in both maps.
  uint32_t build(const std::vector<jet::IndexEntry>& entries, size_t per_leaf, size_t per_node,
                 bool share_prefix) {
    struct Built {
      uint32_t page;
      std::vector<jet::IndexEntry> entries;
      uint32_t tail = 0;
      bool leaf = true;
    };
    const uint32_t root = first_free_;
    uint32_t next_page = root + 1;
    std::vector<Built> level;
    for (size_t i = 0; i < entries.size(); i += per_leaf) {
      Built b{0, {}};
      for (size_t j = i; j < entries.size() && j < i + per_leaf; ++j)
        b.entries.push_back(entries[j]);
      level.push_back(std::move(b));
    }
    if (level.empty()) level.push_back(Built{0, {}});
    std::vector<Built> all;
    auto last_of = [&](const Built& b) {
      jet::IndexEntry e;
      const Built* c = &b;
      while (!c->leaf) {
        const uint32_t child = c->tail != 0 ? c->tail : c->entries.back().child;
        c = &*std::find_if(all.begin(), all.end(), [&](const Built& x) { return x.page == child; });
      }
      e = c->entries.back();
      e.child = 0;
      return e;
    };
    for (;;) {
      for (Built& b : level) b.page = level.size() == 1 ? root : next_page++;
      all.insert(all.end(), level.begin(), level.end());
      if (level.size() == 1) break;
      std::vector<Built> up;
      for (size_t i = 0; i < level.size(); i += per_node) {
        Built n{0, {}};
        n.leaf = false;
        const size_t end = std::min(level.size(), i + per_node);
        for (size_t j = i; j < end; ++j) {
          if (j + 1 == end && end - i > 1) {
            n.tail = level[j].page;
          } else {
            jet::IndexEntry e = last_of(level[j]);
            e.child = level[j].page;
            n.entries.push_back(e);
          }
        }
        up.push_back(std::move(n));
      }
      level = std::move(up);
    }
    // Written level by level, each level chained left to right.
    pages_->beginUnit();
    std::map<uint32_t, const Built*> by_page;
    for (const Built& b : all) by_page[b.page] = &b;
    std::vector<uint32_t> current{root};
    while (!current.empty()) {
      std::vector<uint32_t> below;
      for (size_t i = 0; i < current.size(); ++i) {
        const Built& b = *by_page.at(current[i]);
        jet::IndexPageLayout layout;
        layout.leaf = b.leaf;
        layout.owner = kOwner;
        layout.prev = i == 0 ? 0 : current[i - 1];
        layout.next = i + 1 == current.size() ? 0 : current[i + 1];
        layout.tail = b.tail;
        layout.share_prefix = share_prefix;
        jet::encodeIndexPage(fmt(), layout, b.entries, pages_->writablePage(b.page));
        if (!b.leaf) {
          for (const jet::IndexEntry& e : b.entries) below.push_back(e.child);
          if (b.tail != 0) below.push_back(b.tail);
        }
      }
      current = std::move(below);
    }
    // The index map names exactly the tree; the global map counts it used.
    std::set<uint32_t> used;
    for (const Built& b : all) used.insert(b.page);
    for (uint32_t p = 1; p < pages_->pageCount(); ++p) {
      jet::setUsageMapBit(*pages_, fmt(), map_, p, used.count(p) > 0);
      if (used.count(p)) jet::setUsageMapBit(*pages_, fmt(), jet::kGlobalMapPointer, p, false);
    }
    pages_->commitUnit();
    pages_->beginUnit();
    return root;
  }

 private:
  const jet::Format* fmt_;
  fs::path dir_, path_;
  uint32_t map_ = 0;
  uint32_t first_free_ = 0;
  std::unique_ptr<jet::PageSource> pages_;
};

// Everything a tree must satisfy after removals: its shape (no empty leaf
// below the root), exactly the entries expected, a usage map naming exactly
// its pages, the pages in use counted used by the global map, and every page
// it lost freed.
void expectSound(TreeFile& f, uint32_t root, const std::vector<jet::IndexEntry>& want,
                 const std::set<uint32_t>& all_pages, const std::string& where) {
  deltest::TreeShape shape = deltest::checkTreeShape(f.pages(), f.fmt(), root, kOwner, true);
  for (const std::string& p : shape.problems) ADD_FAILURE() << where << ": " << p;
  ASSERT_EQ(shape.entries.size(), want.size()) << where;
  for (size_t i = 0; i < want.size(); ++i) {
    ASSERT_TRUE(sameEntry(shape.entries[i], want[i])) << where << ": entry " << i;
  }
  std::vector<uint32_t> mapped = jet::readUsageMap(f.pages(), f.fmt(), f.map());
  EXPECT_EQ(std::set<uint32_t>(mapped.begin(), mapped.end()), shape.pages) << where;
  for (uint32_t p : all_pages) {
    const bool free = jet::usageMapBit(f.pages(), f.fmt(), jet::kGlobalMapPointer, p);
    if (shape.pages.count(p)) {
      EXPECT_FALSE(free) << where << ": tree page " << p << " is free in the global map";
    } else {
      EXPECT_TRUE(free) << where << ": page " << p << " left the tree but is not free";
      jet::ByteView b = f.pages().page(p);
      EXPECT_EQ(b.u32(0), 0u) << where << ": freed page " << p << " keeps its page type";
    }
  }
}

std::set<uint32_t> treePages(TreeFile& f, uint32_t root) {
  return deltest::checkTreeShape(f.pages(), f.fmt(), root, kOwner, true).pages;
}

class TreeEdits : public ::testing::TestWithParam<jet::Version> {
 protected:
  void SetUp() override { REQUIRE_FIXTURES(); }
};

// Three levels: a root over two nodes, the first over three leaves, the
// second over two; three entries a leaf.
struct ThreeLevels {
  std::vector<jet::IndexEntry> entries = longEntries(15);
  uint32_t root = 0;
  jet::IndexPage rootPage(TreeFile& f) const {
    return jet::readIndexPage(f.pages(), f.fmt(), root);
  }
};

TEST_P(TreeEdits, BuiltTreesHaveTheShapeUnderTest) {
  TreeFile f(GetParam(), 16);
  ThreeLevels t;
  t.root = f.build(t.entries, 3, 3, false);
  deltest::TreeShape shape = deltest::checkTreeShape(f.pages(), f.fmt(), t.root, kOwner, true);
  EXPECT_TRUE(shape.problems.empty());
  EXPECT_EQ(shape.levels, 3u);
  EXPECT_EQ(shape.pages.size(), 1u + 2u + 5u);
  expectSound(f, t.root, t.entries, shape.pages, "as built");
}

TEST_P(TreeEdits, EntryInsideALeafOnlyChangesTheLeaf) {
  TreeFile f(GetParam(), 16);
  ThreeLevels t;
  t.root = f.build(t.entries, 3, 3, false);
  const std::set<uint32_t> pages = treePages(f, t.root);
  const std::vector<uint8_t> before = fileBytes(f.path());
  jet::IndexTreeEditor ed(f.pages(), f.fmt(), t.root, kOwner, f.map());
  ASSERT_TRUE(ed.removeEntry(t.entries[4]));  // the middle of the second leaf
  f.pages().commitUnit();
  const std::vector<uint8_t> after = fileBytes(f.path());
  size_t changed = 0;
  for (size_t p = 0; p * f.fmt().page_size < after.size(); ++p) {
    changed += !std::equal(after.begin() + p * f.fmt().page_size,
                           after.begin() + (p + 1) * f.fmt().page_size,
                           before.begin() + p * f.fmt().page_size);
  }
  EXPECT_EQ(changed, 1u);
  t.entries.erase(t.entries.begin() + 4);
  expectSound(f, t.root, t.entries, pages, "middle entry");
  // The leaf holds what the page writer makes of its two entries left.
  const uint32_t leaf = jet::IndexWalker(f.pages(), f.fmt(), t.root, kOwner).leafFor(t.entries[4]);
  const jet::IndexPage p = jet::readIndexPage(f.pages(), f.fmt(), leaf);
  ASSERT_EQ(p.entries.size(), 2u);
  const std::vector<uint8_t> want = jet::encodeIndexPage(f.fmt(), p);
  EXPECT_TRUE(std::equal(want.begin(), want.end(), f.pages().page(leaf).data()));
}

TEST_P(TreeEdits, LastEntryOfALeafIsCopiedIntoItsParents) {
  TreeFile f(GetParam(), 16);
  ThreeLevels t;
  t.root = f.build(t.entries, 3, 3, false);
  const std::set<uint32_t> pages = treePages(f, t.root);
  jet::IndexTreeEditor ed(f.pages(), f.fmt(), t.root, kOwner, f.map());
  // Entry 8 closes the first node's tail leaf: the root's entry for that
  // node repeats it and must take entry 7.
  ASSERT_TRUE(ed.removeEntry(t.entries[8]));
  t.entries.erase(t.entries.begin() + 8);
  expectSound(f, t.root, t.entries, pages, "last of a tail leaf");
  EXPECT_TRUE(sameEntry(t.rootPage(f).entries.at(0), t.entries[7]));
  // Entry 2 closes the first leaf: only its node's entry changes.
  ASSERT_TRUE(ed.removeEntry(t.entries[2]));
  t.entries.erase(t.entries.begin() + 2);
  expectSound(f, t.root, t.entries, pages, "last of a first leaf");
  // The very last entry: no node repeats it.
  ASSERT_TRUE(ed.removeEntry(t.entries.back()));
  t.entries.pop_back();
  expectSound(f, t.root, t.entries, pages, "last of the tree");
}

TEST_P(TreeEdits, EmptiedLeafIsUnlinkedRemovedFromItsParentAndFreed) {
  TreeFile f(GetParam(), 16);
  ThreeLevels t;
  t.root = f.build(t.entries, 3, 3, false);
  const std::set<uint32_t> pages = treePages(f, t.root);
  jet::IndexTreeEditor ed(f.pages(), f.fmt(), t.root, kOwner, f.map());
  // The middle leaf of the first node.
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(ed.removeEntry(t.entries[3 + i]));
  t.entries.erase(t.entries.begin() + 3, t.entries.begin() + 6);
  expectSound(f, t.root, t.entries, pages, "middle leaf emptied");
  EXPECT_EQ(ed.freedPages().size(), 1u);
  EXPECT_EQ(treePages(f, t.root).size(), pages.size() - 1);
}

TEST_P(TreeEdits, EmptiedTailLeafHandsTheTailToTheLastEntrysChild) {
  TreeFile f(GetParam(), 16);
  ThreeLevels t;
  t.root = f.build(t.entries, 3, 3, false);
  const std::set<uint32_t> pages = treePages(f, t.root);
  const jet::IndexPage node_before =
      jet::readIndexPage(f.pages(), f.fmt(), t.rootPage(f).entries[0].child);
  jet::IndexTreeEditor ed(f.pages(), f.fmt(), t.root, kOwner, f.map());
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(ed.removeEntry(t.entries[6 + i]));
  t.entries.erase(t.entries.begin() + 6, t.entries.begin() + 9);
  expectSound(f, t.root, t.entries, pages, "tail leaf emptied");
  const jet::IndexPage node = jet::readIndexPage(f.pages(), f.fmt(), node_before.number);
  EXPECT_EQ(node.tail, node_before.entries[1].child);
  ASSERT_EQ(node.entries.size(), 1u);
  // The root's entry for the node now repeats the node's new last entry.
  EXPECT_TRUE(sameEntry(t.rootPage(f).entries.at(0), t.entries[5]));
}

TEST_P(TreeEdits, NodeLeftWithOneChildKeepsItAsAPlainEntry) {
  TreeFile f(GetParam(), 16);
  ThreeLevels t;
  t.root = f.build(t.entries, 3, 3, false);
  const std::set<uint32_t> pages = treePages(f, t.root);
  const uint32_t second = t.rootPage(f).tail;
  jet::IndexTreeEditor ed(f.pages(), f.fmt(), t.root, kOwner, f.map());
  // The second node has one entry (leaf 4) and a tail (leaf 5); empty leaf 4.
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(ed.removeEntry(t.entries[9 + i]));
  t.entries.erase(t.entries.begin() + 9, t.entries.begin() + 12);
  expectSound(f, t.root, t.entries, pages, "first child of a two-child node emptied");
  const jet::IndexPage node = jet::readIndexPage(f.pages(), f.fmt(), second);
  EXPECT_EQ(node.tail, 0u);
  ASSERT_EQ(node.entries.size(), 1u);
  EXPECT_TRUE(sameEntry(node.entries[0], t.entries.back()));
  // Now its only leaf: the node goes too, and the root keeps the first node
  // as its only (plain) child.
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(ed.removeEntry(t.entries[9 + i]));
  t.entries.erase(t.entries.begin() + 9, t.entries.end());
  expectSound(f, t.root, t.entries, pages, "second node emptied");
  const jet::IndexPage root = t.rootPage(f);
  EXPECT_EQ(root.tail, 0u);
  ASSERT_EQ(root.entries.size(), 1u);
  EXPECT_TRUE(sameEntry(root.entries[0], t.entries.back()));
  EXPECT_EQ(treePages(f, t.root).size(), pages.size() - 3);
}

TEST_P(TreeEdits, EmptiedTreeLeavesAnEmptyRootLeaf) {
  TreeFile f(GetParam(), 16);
  ThreeLevels t;
  t.root = f.build(t.entries, 3, 3, false);
  const std::set<uint32_t> pages = treePages(f, t.root);
  jet::IndexTreeEditor ed(f.pages(), f.fmt(), t.root, kOwner, f.map());
  while (!t.entries.empty()) {
    ASSERT_TRUE(ed.removeEntry(t.entries.back()));
    t.entries.pop_back();
  }
  expectSound(f, t.root, t.entries, pages, "emptied");
  EXPECT_EQ(ed.freedPages().size(), pages.size() - 1);
  // Byte for byte the empty leaf a new index starts with.
  f.pages().commitUnit();
  jet::ByteView root = f.pages().page(t.root);
  const std::vector<uint8_t> empty = jet::emptyIndexLeaf(f.fmt(), kOwner);
  EXPECT_TRUE(std::equal(empty.begin(), empty.end(), root.data()));
}

TEST_P(TreeEdits, FirstEntryOfAPrefixedPageCanGo) {
  TreeFile f(GetParam(), 16);
  // Keys that share four bytes, then differ: the page shares a prefix.
  std::vector<jet::IndexEntry> entries;
  for (uint8_t i = 0; i < 6; ++i)
    entries.push_back(entry({0x7F, 0x4A, 0x4C, 0x4D, i, 0x00}, 40, i));
  const uint32_t root = f.build(entries, 6, 3, true);
  ASSERT_GT(jet::readIndexPage(f.pages(), f.fmt(), root).prefix_length, 0u);
  const std::set<uint32_t> pages = treePages(f, root);
  jet::IndexTreeEditor ed(f.pages(), f.fmt(), root, kOwner, f.map());
  ASSERT_TRUE(ed.removeEntry(entries[0]));
  entries.erase(entries.begin());
  expectSound(f, root, entries, pages, "first entry of a prefixed page");
  const jet::IndexPage page = jet::readIndexPage(f.pages(), f.fmt(), root);
  EXPECT_EQ(page.prefix_length, jet::indexPagePrefix(f.fmt(), entries, true));
  EXPECT_GE(page.prefix_length, 4u);
  // The stored bytes are what the page writer makes of the entries left.
  jet::IndexPageLayout layout;
  layout.owner = kOwner;
  layout.share_prefix = true;
  const std::vector<uint8_t> want = jet::encodeIndexPage(f.fmt(), layout, entries);
  EXPECT_TRUE(std::equal(want.begin(), want.end(), f.pages().page(root).data()));
}

TEST_P(TreeEdits, UnprefixedPageStaysUnprefixed) {
  TreeFile f(GetParam(), 16);
  std::vector<jet::IndexEntry> entries = longEntries(6);
  const uint32_t root = f.build(entries, 6, 3, false);
  jet::IndexTreeEditor ed(f.pages(), f.fmt(), root, kOwner, f.map());
  ASSERT_TRUE(ed.removeEntry(entries[0]));
  EXPECT_EQ(jet::readIndexPage(f.pages(), f.fmt(), root).prefix_length, 0u);
}

TEST_P(TreeEdits, EntryIsFoundByItsRowWhenTheKeyIsUnknown) {
  TreeFile f(GetParam(), 16);
  ThreeLevels t;
  t.root = f.build(t.entries, 3, 3, false);
  const std::set<uint32_t> pages = treePages(f, t.root);
  jet::IndexTreeEditor ed(f.pages(), f.fmt(), t.root, kOwner, f.map());
  jet::IndexEntry wrong = t.entries[11];
  wrong.key = longKey(5);  // a key the row does not have
  EXPECT_FALSE(ed.removeEntry(wrong));
  ASSERT_TRUE(ed.removeRow(t.entries[11].row));
  t.entries.erase(t.entries.begin() + 11);
  expectSound(f, t.root, t.entries, pages, "found by row");
}

// Rows found by their pointer in the leaf a row-to-leaf list names: the
// list read once stays good while entries go (they never change leaves), a
// leaf that does not hold the row changes nothing.
TEST_P(TreeEdits, RowsAreFoundInTheLeafTheirListNames) {
  TreeFile f(GetParam(), 128);
  std::vector<jet::IndexEntry> entries = longEntries(160);
  const uint32_t root = f.build(entries, 4, 3, true);
  const std::set<uint32_t> pages = treePages(f, root);
  jet::IndexTreeEditor ed(f.pages(), f.fmt(), root, kOwner, f.map());
  const std::vector<std::pair<uint32_t, uint32_t>> list = ed.rowLeaves();
  ASSERT_EQ(list.size(), entries.size());
  std::map<uint32_t, uint32_t> leaf_of(list.begin(), list.end());
  const uint32_t some_leaf = leaf_of.at(entries[0].row.toPointer());
  EXPECT_FALSE(ed.removeRowFrom(some_leaf, entries[100].row)) << "not in that leaf";
  EXPECT_FALSE(ed.removeRowFrom(root, entries[100].row)) << "no leaf";
  std::mt19937 rng(5);
  while (!entries.empty()) {
    const size_t i = std::uniform_int_distribution<size_t>(0, entries.size() - 1)(rng);
    ASSERT_TRUE(ed.removeRowFrom(leaf_of.at(entries[i].row.toPointer()), entries[i].row));
    entries.erase(entries.begin() + static_cast<std::ptrdiff_t>(i));
    expectSound(f, root, entries, pages, std::to_string(entries.size()) + " left");
    if (HasFailure()) return;
  }
}

TEST_P(TreeEdits, MissingEntryChangesNothing) {
  TreeFile f(GetParam(), 16);
  ThreeLevels t;
  t.root = f.build(t.entries, 3, 3, false);
  f.pages().commitUnit();
  const std::vector<uint8_t> before = fileBytes(f.path());
  f.pages().beginUnit();
  jet::IndexTreeEditor ed(f.pages(), f.fmt(), t.root, kOwner, f.map());
  EXPECT_FALSE(ed.removeEntry(entry(longKey(999999), 1, 1)));
  EXPECT_FALSE(ed.removeRow({999, 3}));
  f.pages().commitUnit();
  EXPECT_TRUE(fileBytes(f.path()) == before);
}

// Random removals from deep trees, by key and by row, with and without a
// shared prefix, checked after every one.
TEST_P(TreeEdits, RandomRemovalsKeepTheTreeSound) {
  for (bool prefix : {false, true}) {
    SCOPED_TRACE(prefix ? "shared prefix" : "no prefix");
    TreeFile f(GetParam(), 128);
    std::vector<jet::IndexEntry> entries = longEntries(160);
    const uint32_t root = f.build(entries, 4, 3, prefix);
    const std::set<uint32_t> pages = treePages(f, root);
    ASSERT_GE(deltest::checkTreeShape(f.pages(), f.fmt(), root, kOwner, true).levels, 5u);
    std::mt19937 rng(20240611);
    jet::IndexTreeEditor ed(f.pages(), f.fmt(), root, kOwner, f.map());
    size_t step = 0;
    while (!entries.empty()) {
      const size_t i = std::uniform_int_distribution<size_t>(0, entries.size() - 1)(rng);
      if (step % 3 == 2) {
        ASSERT_TRUE(ed.removeRow(entries[i].row));
      } else {
        ASSERT_TRUE(ed.removeEntry(entries[i]));
      }
      entries.erase(entries.begin() + static_cast<std::ptrdiff_t>(i));
      if (step % 10 == 0 || entries.size() < 20) f.pages().commitUnit(), f.pages().beginUnit();
      expectSound(f, root, entries, pages, "after removal " + std::to_string(step));
      if (HasFailure()) return;
      ++step;
    }
    EXPECT_EQ(ed.freedPages().size(), pages.size() - 1);
  }
}

// Removals done on the pages' bytes in place must leave exactly what the
// page writer makes of the entries left. Text-like keys run from one byte
// to well over 64 (an entry's end bits move across bitmap words); Long keys
// all have one size, so a leaf's last entry goes in place too, its parents'
// entries taking the one before it; and on pages sharing a prefix the
// entries between the first and the last go in place.
TEST_P(TreeEdits, InPlaceRemovalsMatchThePageWriter) {
  const size_t flag_at = jet::formatFor(GetParam()).index_prefix_len +
                         jet::formatFor(GetParam()).index_prefix_len_size;
  enum class Keys { ManySizes, Long, LongSharingAPrefix };
  for (Keys kind : {Keys::ManySizes, Keys::Long, Keys::LongSharingAPrefix}) {
    SCOPED_TRACE(kind == Keys::ManySizes ? "keys of many sizes"
                 : kind == Keys::Long    ? "Long keys"
                                         : "Long keys, pages sharing a prefix");
    TreeFile f(GetParam(), 64);
    std::mt19937 rng(77);
    std::vector<jet::IndexEntry> entries;
    if (kind == Keys::ManySizes) {
      for (uint32_t i = 0; i < 60; ++i) {
        std::vector<uint8_t> key{static_cast<uint8_t>(0x10 + i / 16), static_cast<uint8_t>(i)};
        key.resize(1 + std::uniform_int_distribution<size_t>(1, 140)(rng), static_cast<uint8_t>(i));
        entries.push_back(entry(std::move(key), 400 + i, static_cast<uint8_t>(i % 7)));
      }
    } else {
      entries = longEntries(400);
    }
    const bool share = kind == Keys::LongSharingAPrefix;
    const uint32_t root = f.build(entries, kind == Keys::ManySizes ? 20 : 12, 4, share);
    const std::set<uint32_t> pages = treePages(f, root);
    jet::IndexTreeEditor ed(f.pages(), f.fmt(), root, kOwner, f.map());
    jet::LeafHint hint;
    for (int step = 0; step < (kind == Keys::ManySizes ? 40 : 300); ++step) {
      size_t i = std::uniform_int_distribution<size_t>(0, entries.size() - 1)(rng);
      ASSERT_TRUE(ed.removeEntry(entries[i], &hint));
      entries.erase(entries.begin() + static_cast<std::ptrdiff_t>(i));
      expectSound(f, root, entries, pages, "after removal " + std::to_string(step));
      for (uint32_t n : treePages(f, root)) {
        const jet::IndexPage p = jet::readIndexPage(f.pages(), f.fmt(), n);
        std::vector<uint8_t> want = jet::encodeIndexPage(f.fmt(), p, p.prefix_length > 0);
        if (!p.leaf) want[flag_at] = p.node_flag;
        EXPECT_TRUE(std::equal(want.begin(), want.end(), f.pages().page(n).data()))
            << "page " << n << " after removal " << step;
      }
      if (HasFailure()) return;
    }
  }
}

// Leaves of two entries each: a 250-byte key, then a 100-byte one. When a
// leaf's last entry goes, the entry that repeats it in the parent takes the
// one before it and grows by 150 bytes.
std::vector<jet::IndexEntry> longThenShort(size_t leaves) {
  std::vector<jet::IndexEntry> entries;
  for (uint32_t j = 0; j < leaves; ++j) {
    for (uint8_t second : {0, 1}) {
      std::vector<uint8_t> key{static_cast<uint8_t>(j >> 8), static_cast<uint8_t>(j), second};
      key.resize(second == 0 ? 250 : 100, 0x41);
      entries.push_back(entry(std::move(key), 500 + j, second));
    }
  }
  return entries;
}

// Children of a node page filled with as many 100-byte entries as it holds
// (the last child being the tail).
size_t childrenOfAFullNode(const jet::Format& fmt) {
  return jet::indexPageCapacity(fmt) / (100 + 8) + 1;
}

// A node page as full as its entries allow, whose entry for a leaf takes the
// leaf's new last entry, 150 bytes longer, when the old last goes: the page
// no longer holds its entries and is split. Two shapes: the full node under
// a root (a new page takes its first half, the root an entry for it), and
// the full node being the root (its content moves down a level first). The
// first finds free pages in the file, the second must add them at its end.
// More removals then run on the grown tree.
TEST_P(TreeEdits, NodePagesGrownTooLongAreSplit) {
  const jet::Format& fmt = jet::formatFor(GetParam());
  const size_t per_node = childrenOfAFullNode(fmt);
  for (bool root_is_full : {false, true}) {
    SCOPED_TRACE(root_is_full ? "full root" : "full node under the root");
    const size_t leaves = root_is_full ? per_node : 2 * per_node;
    std::vector<jet::IndexEntry> entries = longThenShort(leaves);
    const size_t tree_pages = 1 + leaves + (root_is_full ? 0 : 2);
    TreeFile f(GetParam(), root_is_full ? tree_pages : tree_pages + 8);
    const uint32_t root = f.build(entries, 2, per_node, false);
    const uint32_t pages_before = f.pages().pageCount();
    std::set<uint32_t> pages = treePages(f, root);
    ASSERT_EQ(deltest::checkTreeShape(f.pages(), f.fmt(), root, kOwner, true).levels,
              root_is_full ? 2u : 3u);

    jet::IndexTreeEditor ed(f.pages(), f.fmt(), root, kOwner, f.map());
    ASSERT_TRUE(ed.removeEntry(entries[1]));  // leaf 0's last: its parent's entry grows
    entries.erase(entries.begin() + 1);
    const std::set<uint32_t> grown = treePages(f, root);
    EXPECT_EQ(grown.size(), pages.size() + (root_is_full ? 2u : 1u));
    pages.insert(grown.begin(), grown.end());
    expectSound(f, root, entries, pages, "after the split");
    EXPECT_EQ(deltest::checkTreeShape(f.pages(), f.fmt(), root, kOwner, true).levels, 3u);
    EXPECT_EQ(f.pages().pageCount(), pages_before + (root_is_full ? 2u : 0u))
        << "free pages are used first, then the file grows";
    f.pages().commitUnit();
    EXPECT_EQ(fs::file_size(f.path()), uint64_t{f.pages().pageCount()} * fmt.page_size);
    f.pages().beginUnit();

    std::mt19937 rng(9);
    for (int step = 0; step < 60 && !entries.empty(); ++step) {
      const size_t i = std::uniform_int_distribution<size_t>(0, entries.size() - 1)(rng);
      ASSERT_TRUE(ed.removeEntry(entries[i]));
      entries.erase(entries.begin() + static_cast<std::ptrdiff_t>(i));
      const std::set<uint32_t> now = treePages(f, root);
      pages.insert(now.begin(), now.end());
      expectSound(f, root, entries, pages, "after removal " + std::to_string(step));
      if (HasFailure()) return;
    }
  }
}

// A unit that added pages to the file and is rolled back leaves the file as
// it was, size included.
TEST_P(TreeEdits, RolledBackSplitLeavesTheFileAsItWas) {
  const size_t per_node = childrenOfAFullNode(jet::formatFor(GetParam()));
  const std::vector<jet::IndexEntry> entries = longThenShort(per_node);
  TreeFile f(GetParam(), 1 + per_node);
  const uint32_t root = f.build(entries, 2, per_node, false);
  const std::vector<uint8_t> before = fileBytes(f.path());
  const uint32_t count = f.pages().pageCount();
  {
    jet::IndexTreeEditor ed(f.pages(), f.fmt(), root, kOwner, f.map());
    ASSERT_TRUE(ed.removeEntry(entries[1]));
  }
  EXPECT_GT(f.pages().pageCount(), count);
  f.pages().rollbackUnit();
  EXPECT_EQ(f.pages().pageCount(), count);
  f.pages().beginUnit();
  f.pages().commitUnit();
  EXPECT_TRUE(fileBytes(f.path()) == before);
  f.pages().beginUnit();
}

INSTANTIATE_TEST_SUITE_P(Versions, TreeEdits,
                         ::testing::Values(jet::Version::Jet3, jet::Version::Jet4),
                         [](const ::testing::TestParamInfo<jet::Version>& info) {
                           return std::string(info.param == jet::Version::Jet3 ? "Jet3" : "Jet4");
                         });

// Usage maps edited one bit at a time.
class UsageMapEdits : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_FIXTURES();
    file_ = std::make_unique<TreeFile>(jet::Version::Jet4, 8);
    file_->pages().beginUnit();
  }
  std::unique_ptr<TreeFile> file_;
};

TEST_F(UsageMapEdits, InlineMapBitsWithinTheirWindow) {
  jet::PageSource& src = file_->pages();
  const jet::Format& fmt = file_->fmt();
  const uint32_t map = file_->map();
  const std::vector<uint32_t> before = jet::readUsageMap(src, fmt, map);
  ASSERT_FALSE(before.empty());
  const uint32_t used = before.front();
  EXPECT_EQ(jet::setUsageMapBit(src, fmt, map, used, true), jet::MapBitResult::Unchanged);
  EXPECT_EQ(jet::setUsageMapBit(src, fmt, map, 20, true), jet::MapBitResult::Changed);
  EXPECT_EQ(jet::setUsageMapBit(src, fmt, map, used, false), jet::MapBitResult::Changed);
  EXPECT_EQ(jet::setUsageMapBit(src, fmt, map, used, false), jet::MapBitResult::Unchanged);
  std::vector<uint32_t> want(before.begin() + 1, before.end());
  want.push_back(20);
  std::sort(want.begin(), want.end());
  EXPECT_EQ(jet::readUsageMap(src, fmt, map), want);
  // 64 bitmap bytes from page 0: page 512 is beyond the window.
  EXPECT_EQ(jet::setUsageMapBit(src, fmt, map, 512, true), jet::MapBitResult::OutOfRange);
  EXPECT_FALSE(jet::usageMapBit(src, fmt, map, 512));
  // The global map: pages past the end of the file are free.
  EXPECT_TRUE(jet::usageMapBit(src, fmt, jet::kGlobalMapPointer, 400));
  EXPECT_FALSE(jet::usageMapBit(src, fmt, jet::kGlobalMapPointer, 2));
}

TEST_F(UsageMapEdits, ReferenceMapBitsLiveOnTheirMapPages) {
  jet::PageSource& src = file_->pages();
  const jet::Format& fmt = file_->fmt();
  const uint32_t map = file_->map();
  // Make the map a reference map with one map page (the file's last page),
  // covering pages 0 .. 32735.
  const uint32_t map_page = src.pageCount() - 1;
  const jet::RowId id = jet::RowId::fromPointer(map);
  jet::ByteView row = jet::rowAt(src, fmt, id);
  const size_t at = static_cast<size_t>(row.data() - src.page(id.page).data());
  const size_t len = row.size();
  uint8_t* p = src.writablePage(id.page);
  std::memset(p + at, 0, len);
  p[at] = 0x01;
  std::memcpy(p + at + 1, &map_page, 4);  // little-endian host
  uint8_t* mp = src.writablePage(map_page);
  std::memset(mp, 0, fmt.page_size);
  mp[0] = 0x05;
  mp[1] = 0x01;
  EXPECT_TRUE(jet::readUsageMap(src, fmt, map).empty());
  EXPECT_EQ(jet::setUsageMapBit(src, fmt, map, 9, true), jet::MapBitResult::Changed);
  EXPECT_EQ(jet::setUsageMapBit(src, fmt, map, 17, true), jet::MapBitResult::Changed);
  EXPECT_EQ(mp[4 + 1], 0x02);  // page 9: byte 1, bit 1
  EXPECT_EQ(jet::readUsageMap(src, fmt, map), (std::vector<uint32_t>{9, 17}));
  EXPECT_EQ(jet::setUsageMapBit(src, fmt, map, 9, false), jet::MapBitResult::Changed);
  EXPECT_EQ(jet::readUsageMap(src, fmt, map), (std::vector<uint32_t>{17}));
  // The second map page is not there: nothing to set.
  EXPECT_EQ(jet::setUsageMapBit(src, fmt, map, 40000, true), jet::MapBitResult::OutOfRange);
  // A reference to a page that is no map page is a damaged file.
  mp[0] = 0x04;
  EXPECT_THROW(jet::setUsageMapBit(src, fmt, map, 9, true), jet::JetError);
}

// Real tables: what removeIndexEntry does with real rows and indexes.
class RealIndexDelete : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_FIXTURES();
    dir_ = testsupport::scratchDir();
  }
  void TearDown() override { fs::remove_all(dir_); }
  fs::path copyOf(const std::string& fixture) {
    fs::path p = dir_ / fs::path(fixture).filename();
    fs::copy_file(testsupport::fixture(fixture), p);
    fs::permissions(p, fs::perms::owner_read | fs::perms::owner_write);
    return p;
  }
  fs::path dir_;
};

// The definition of a table and one of its rows, read before the file is
// opened for writing.
struct RealRow {
  const jet::Format* fmt = nullptr;
  jet::TableDef def;
  jet::RowId id;
  std::vector<jet::Value> values;
};

RealRow readRow(const fs::path& file, const std::string& table, size_t position) {
  jet::Database db(file.string());
  jet::Table t = db.table(table);
  RealRow r{&db.format(), t.def(), t.rowIds().at(position), {}};
  r.values = t.readRow(r.id);
  return r;
}

std::unique_ptr<jet::PageSource> openPages(const fs::path& file, const jet::Format& fmt) {
  auto src = std::make_unique<jet::PageSource>(file.string(), jet::OpenMode::ReadWrite);
  src->setPageSize(fmt.page_size);
  return src;
}

// A file another writer grew moves the global map's window up (to page 768
// here): the pages below are named by no map, and none of them is free,
// however blank it looks. A split's new page comes from inside the window
// or from the end of the file.
TEST_F(RealIndexDelete, AllocatorNeverTakesAPageTheGlobalMapCannotName) {
  const fs::path file = copyOf("large/clientes-v2003-3k.mdb");
  const RealRow row = readRow(file, "clientes", 0);
  const jet::Format& fmt = *row.fmt;
  constexpr uint32_t kBlank = 15;  // a leftover below the window, made to look unused
  {
    std::fstream f(file, std::ios::in | std::ios::out | std::ios::binary);
    const std::vector<char> zeros(fmt.page_size, 0);
    f.seekp(static_cast<std::streamoff>(kBlank * fmt.page_size));
    f.write(zeros.data(), static_cast<std::streamsize>(zeros.size()));
    ASSERT_TRUE(f.good());
  }
  auto src = openPages(file, fmt);
  const jet::UsageMapContents global = jet::readUsageMapContents(*src, fmt, jet::kGlobalMapPointer);
  ASSERT_EQ(global.windows.size(), 1u);
  const uint64_t window = global.windows.front().first;
  ASSERT_GT(window, kBlank);
  const uint32_t pages = src->pageCount();
  src->beginUnit();
  for (const jet::RealIndex& index : row.def.real_indexes) {
    const uint32_t page = jet::allocatePage(*src, fmt, index.used_map);
    ASSERT_NE(page, 0u);
    EXPECT_GE(page, window);
    EXPECT_FALSE(jet::usageMapBit(*src, fmt, jet::kGlobalMapPointer, page)) << page;
    EXPECT_TRUE(jet::usageMapBit(*src, fmt, index.used_map, page)) << page;
  }
  EXPECT_EQ(src->pageCount(), pages + row.def.real_indexes.size()) << "no free page in the window";
  EXPECT_EQ(src->page(kBlank).u8(0), 0) << "the blank page was not taken";
  src->rollbackUnit();
}

TEST_F(RealIndexDelete, RowWithoutItsIndexEntryIsADamagedFile) {
  const fs::path file = copyOf("clientes/clientes-v2000-small.mdb");
  const RealRow row = readRow(file, "clientes", 5);
  {
    // Damage the file: take the row's entry out of the primary key's tree.
    auto src = openPages(file, *row.fmt);
    const jet::RealIndex& pk = row.def.real_indexes.at(0);
    src->beginUnit();
    jet::IndexTreeEditor ed(*src, *row.fmt, pk.root_page, row.def.page, pk.used_map);
    ASSERT_TRUE(ed.removeRow(row.id));
    src->commitUnit();
  }
  const std::vector<uint8_t> damaged = fileBytes(file);
  {
    auto src = openPages(file, *row.fmt);
    src->beginUnit();
    try {
      jet::removeIndexEntry(*src, *row.fmt, row.def, row.def.real_indexes.at(0), row.values,
                            row.id);
      FAIL() << "an index without the row's entry was accepted";
    } catch (const jet::JetError& e) {
      EXPECT_EQ(e.number(), jet::err::kBadFormat);
      EXPECT_NE(std::string(e.what()).find(file.string()), std::string::npos) << e.what();
    }
    src->rollbackUnit();
  }
  {
    // The whole delete fails the same way and leaves the file as it was.
    jet::Database db(file.string(), jet::OpenMode::ReadWrite);
    jet::Table t = db.table("clientes");
    try {
      db.deleteRow(t, row.id);
      FAIL() << "a row without its index entry was deleted";
    } catch (const jet::JetError& e) {
      EXPECT_EQ(e.number(), jet::err::kBadFormat);
      EXPECT_NE(std::string(e.what()).find("no tiene la entrada de la fila"), std::string::npos)
          << e.what();
    }
  }
  EXPECT_TRUE(fileBytes(file) == damaged) << "the failed delete changed the file";
}

TEST_F(RealIndexDelete, AllNullRowOfAnIndexThatIgnoresNullsHasNoEntryToRemove) {
  const fs::path file = copyOf("real/jet4/testIndexPropertiesV2000.mdb");
  jet::Database db(file.string(), jet::OpenMode::ReadWrite);
  size_t found = 0;
  for (const std::string& name : db.tableNames()) {
    jet::Table t = db.table(name);
    const jet::TableDef& def = t.def();
    const std::vector<jet::SortOrder> sorts = jet::readSortOrders(db.pages(), db.format(), def);
    for (const jet::RealIndex& idx : def.real_indexes) {
      if (!(idx.flags & jet::RealIndex::kIgnoreNulls)) continue;
      jet::IndexKeyEncoder enc(db.format(), def, idx, sorts);
      for (jet::RowId id : t.rowIds()) {
        if (!enc.allNull(t.readRow(id))) continue;
        ++found;
        jet::IndexWalker w(db.pages(), db.format(), idx.root_page, def.page);
        const size_t entries_before = w.entries().size();
        db.begin();
        EXPECT_NO_THROW(db.deleteRow(t, id)) << name;
        EXPECT_EQ(w.entries().size(), entries_before) << name;
        db.rollback();
      }
    }
  }
  EXPECT_GT(found, 0u) << "the fixture has all-null rows in indexes that ignore nulls";
}

TEST_F(RealIndexDelete, KeyedEntryGoesFromEveryIndexOfAMultiLevelTable) {
  const fs::path file = copyOf("real/jet3/nwind.mdb");
  const RealRow row = readRow(file, "Order Details", 100);
  auto src = openPages(file, *row.fmt);
  src->beginUnit();
  size_t multi_level = 0;
  for (const jet::RealIndex& idx : row.def.real_indexes) {
    jet::IndexWalker w(*src, *row.fmt, idx.root_page, row.def.page);
    multi_level += w.levels().size() > 1;
    const size_t before = w.entries().size();
    jet::removeIndexEntry(*src, *row.fmt, row.def, idx, row.values, row.id);
    const std::vector<jet::IndexEntry> after = w.entries();
    EXPECT_EQ(after.size(), before - 1);
    for (const jet::IndexEntry& e : after) ASSERT_NE(e.row, row.id);
    deltest::TreeShape shape =
        deltest::checkTreeShape(*src, *row.fmt, idx.root_page, row.def.page, false);
    for (const std::string& p : shape.problems) ADD_FAILURE() << p;
  }
  EXPECT_GT(multi_level, 0u);
  src->rollbackUnit();
}

// A text index in a sort order the key encoder does not know: no key can be
// built, so each row's entry is found by its pointer, in the leaf a list
// read once from the index names. Deleting every other row leaves each
// index with exactly the entries of the rows left, in a sound tree.
TEST(UnknownSortOrder, EntriesAreFoundByTheirRowsLeaf) {
  const fs::path dir = testsupport::scratchDir();
  const fs::path file = dir / "nombres.mdb";
  {
    jet::DatabaseCreator db(file.string(), {jet::Version::Jet4});
    jet::TableDesign t{"nombres", {}, {}};
    t.columns = {{"id", jet::ColumnType::Long}, {"nombre", jet::ColumnType::Text, 100}};
    t.indexes = {{"PrimaryKey", {{"id"}}, true}, {"nombre", {{"nombre"}}}};
    const size_t table = db.addTable(t);
    std::mt19937 rng(3);
    for (int i = 0; i < 1500; ++i) {
      std::string name(std::uniform_int_distribution<size_t>(1, 60)(rng), 'a');
      for (char& c : name)
        c = static_cast<char>('a' + std::uniform_int_distribution<int>(0, 25)(rng));
      db.insert(table, {jet::Value::integer(i), jet::Value::text(name)});
    }
    db.finish();
  }
  // The name column's sort order becomes Spanish (traditional), 1034.
  {
    jet::Database db(file.string());
    const jet::Table t = db.table("nombres");
    const jet::Format& fmt = db.format();
    const size_t at = t.def().page * fmt.page_size + fmt.tdef_header_end +
                      t.def().real_indexes.size() * fmt.real_count_entry + fmt.col_size +
                      fmt.col_sort_lcid;
    std::fstream out(file, std::ios::in | std::ios::out | std::ios::binary);
    out.seekp(static_cast<std::streamoff>(at));
    out.put(static_cast<char>(1034 & 0xFF));
    out.put(static_cast<char>(1034 >> 8));
  }
  std::set<uint32_t> left;
  {
    jet::Database db(file.string(), jet::OpenMode::ReadWrite);
    const jet::Table t = db.table("nombres");
    ASSERT_EQ(t.def().columns[1].sort_lcid, 1034);
    db.begin();
    for (jet::RowId id : t.rowIds()) {
      if (t.read(id, 0).asInt() % 2) {
        db.deleteRow(t, id);
      } else {
        left.insert(id.toPointer());
      }
    }
    db.commit();
  }
  {
    // Closed before its folder goes: Windows keeps an open file's name.
    jet::Database db(file.string());
    const jet::Table t = db.table("nombres");
    EXPECT_EQ(t.rowIds().size(), 750u);
    for (const jet::RealIndex& index : t.def().real_indexes) {
      const deltest::TreeShape shape =
          deltest::checkTreeShape(db.pages(), db.format(), index.root_page, t.def().page, true);
      for (const std::string& p : shape.problems) ADD_FAILURE() << p;
      std::set<uint32_t> rows;
      for (const jet::IndexEntry& e : shape.entries) rows.insert(e.row.toPointer());
      EXPECT_EQ(rows, left);
      EXPECT_EQ(shape.entries.size(), left.size());
    }
  }
  fs::remove_all(dir);
}

}  // namespace
