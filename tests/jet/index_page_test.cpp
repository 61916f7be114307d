// Index pages decoded from bytes built here (both versions' headers, the
// entry bitmap, prefix compression, node entries, damaged pages), and walks
// over copies of a real file whose index pages were damaged on purpose:
// loops and pointers out of range end in error 3343, never in a hang.
#include "index/index_page.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "index/index_walk.h"
#include "jet/database.h"
#include "jet/error.h"
#include "support/shared_fixtures.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

const jet::Format& jet3() {
  return jet::formatFor(jet::Version::Jet3);
}
const jet::Format& jet4() {
  return jet::formatFor(jet::Version::Jet4);
}

void putLE32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
void putBE32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

// A leaf entry: key, then page (3 bytes) and row, big-endian.
Bytes leafEntry(const Bytes& key, uint32_t page, uint8_t row) {
  Bytes e = key;
  e.insert(e.end(), {static_cast<uint8_t>(page >> 16), static_cast<uint8_t>(page >> 8),
                     static_cast<uint8_t>(page), row});
  return e;
}
Bytes nodeEntry(const Bytes& key, uint32_t page, uint8_t row, uint32_t child) {
  Bytes e = leafEntry(key, page, row);
  e.resize(e.size() + 4);
  putBE32(e, e.size() - 4, child);
  return e;
}

// An index page holding `entries` (whole), every one after the first stored
// without its first `prefix` bytes.
Bytes buildPage(const jet::Format& fmt, uint8_t type, const std::vector<Bytes>& entries,
                uint16_t prefix = 0, uint32_t owner = 2) {
  Bytes p(fmt.page_size, 0);
  p[0] = type;
  p[1] = 0x01;
  putLE32(p, 4, owner);
  if (fmt.index_prefix_len_size == 1) {
    p[fmt.index_prefix_len] = static_cast<uint8_t>(prefix);
  } else {
    p[fmt.index_prefix_len] = static_cast<uint8_t>(prefix);
    p[fmt.index_prefix_len + 1] = static_cast<uint8_t>(prefix >> 8);
  }
  p[fmt.index_prefix_len + fmt.index_prefix_len_size] = type == jet::kIndexNodePage ? 1 : 0;
  size_t end = 0;
  for (size_t i = 0; i < entries.size(); ++i) {
    size_t skip = i == 0 ? 0 : prefix;
    for (size_t k = skip; k < entries[i].size(); ++k)
      p[fmt.index_first_entry + end++] = entries[i][k];
    p[fmt.index_bitmap + end / 8] |= static_cast<uint8_t>(1u << (end % 8));
  }
  const uint16_t free_space = static_cast<uint16_t>(fmt.page_size - fmt.index_first_entry - end);
  p[2] = static_cast<uint8_t>(free_space);
  p[3] = static_cast<uint8_t>(free_space >> 8);
  return p;
}

jet::IndexPage decode(const Bytes& p, const jet::Format& fmt) {
  return jet::decodeIndexPage(jet::ByteView(p.data(), p.size()), fmt, 7, "x.mdb");
}

// The decoding error of a page, "" when it decodes.
std::string decodeError(const Bytes& p, const jet::Format& fmt) {
  try {
    decode(p, fmt);
  } catch (const jet::JetError& e) {
    EXPECT_EQ(e.number(), jet::err::kBadFormat);
    EXPECT_NE(std::string(e.what()).find("'x.mdb'"), std::string::npos) << e.what();
    return e.what();
  }
  return "";
}

TEST(IndexPageDecode, LeafEntriesAndHeader) {
  for (const jet::Format* fmt : {&jet3(), &jet4()}) {
    SCOPED_TRACE(fmt->is_jet4() ? "Jet 4" : "Jet 3");
    Bytes p = buildPage(*fmt, jet::kIndexLeafPage,
                        {leafEntry({0x7F, 0x80, 0, 0, 1}, 0x010203, 4),
                         leafEntry({0x7F, 0x80, 0, 0, 2}, 0x000100, 0), leafEntry({0x00}, 9, 255)});
    putLE32(p, fmt->index_prev, 11);
    putLE32(p, fmt->index_next, 12);
    jet::IndexPage ip = decode(p, *fmt);
    EXPECT_TRUE(ip.leaf);
    EXPECT_EQ(ip.number, 7u);
    EXPECT_EQ(ip.owner, 2u);
    EXPECT_EQ(ip.prev, 11u);
    EXPECT_EQ(ip.next, 12u);
    EXPECT_EQ(ip.tail, 0u);
    EXPECT_EQ(ip.data_length, 9u + 9u + 5u);
    EXPECT_EQ(ip.free_space, fmt->page_size - fmt->index_first_entry - ip.data_length);
    ASSERT_EQ(ip.entries.size(), 3u);
    EXPECT_EQ(ip.entries[0].key, (Bytes{0x7F, 0x80, 0, 0, 1}));
    EXPECT_EQ(ip.entries[0].row, (jet::RowId{0x010203, 4}));
    EXPECT_EQ(ip.entries[1].row, (jet::RowId{0x100, 0}));
    EXPECT_EQ(ip.entries[2].key, (Bytes{0x00}));
    EXPECT_EQ(ip.entries[2].row, (jet::RowId{9, 255}));
    EXPECT_EQ(ip.entries[0].sortBytes(), (Bytes{0x7F, 0x80, 0, 0, 1, 1, 2, 3, 4}));
  }
}

TEST(IndexPageDecode, EmptyLeafHasNoEntries) {
  jet::IndexPage ip = decode(buildPage(jet4(), jet::kIndexLeafPage, {}), jet4());
  EXPECT_TRUE(ip.entries.empty());
  EXPECT_EQ(ip.data_length, 0u);
  EXPECT_EQ(ip.free_space, 4096 - 480);
}

TEST(IndexPageDecode, SharedPrefixIsRestored) {
  std::vector<Bytes> entries = {leafEntry({0x7F, 0x4A, 0x4C, 0x01, 0x00}, 0x20, 1),
                                leafEntry({0x7F, 0x4A, 0x4D, 0x01, 0x00}, 0x20, 2),
                                leafEntry({0x7F, 0x4A, 0x4F, 0x01, 0x00}, 0x21, 0)};
  for (const jet::Format* fmt : {&jet3(), &jet4()}) {
    SCOPED_TRACE(fmt->is_jet4() ? "Jet 4" : "Jet 3");
    jet::IndexPage ip = decode(buildPage(*fmt, jet::kIndexLeafPage, entries, 2), *fmt);
    EXPECT_EQ(ip.prefix_length, 2u);
    EXPECT_EQ(ip.data_length, 9u + 7u + 7u);
    ASSERT_EQ(ip.entries.size(), 3u);
    for (size_t i = 0; i < 3; ++i) EXPECT_EQ(ip.entries[i].sortBytes(), entries[i]);
  }
  // The prefix may run into the row's page number.
  std::vector<Bytes> same_key = {leafEntry({0x7F, 0x01}, 0x000305, 1),
                                 leafEntry({0x7F, 0x01}, 0x000305, 2)};
  jet::IndexPage ip = decode(buildPage(jet4(), jet::kIndexLeafPage, same_key, 4), jet4());
  ASSERT_EQ(ip.entries.size(), 2u);
  EXPECT_EQ(ip.entries[1].sortBytes(), same_key[1]);
}

TEST(IndexPageDecode, NodeEntriesCarryTheirChild) {
  for (const jet::Format* fmt : {&jet3(), &jet4()}) {
    SCOPED_TRACE(fmt->is_jet4() ? "Jet 4" : "Jet 3");
    Bytes p = buildPage(
        *fmt, jet::kIndexNodePage,
        {nodeEntry({0x7F, 0x10}, 0x30, 3, 0x01020304), nodeEntry({0x7F, 0x20}, 0x31, 0, 77)});
    putLE32(p, fmt->index_tail, 78);
    jet::IndexPage ip = decode(p, *fmt);
    EXPECT_FALSE(ip.leaf);
    EXPECT_EQ(ip.node_flag, 1u);
    EXPECT_EQ(ip.tail, 78u);
    ASSERT_EQ(ip.entries.size(), 2u);
    EXPECT_EQ(ip.entries[0].key, (Bytes{0x7F, 0x10}));
    EXPECT_EQ(ip.entries[0].row, (jet::RowId{0x30, 3}));
    EXPECT_EQ(ip.entries[0].child, 0x01020304u);
    EXPECT_EQ(ip.entries[1].child, 77u);
  }
}

// In Jet 3 the prefix length is one byte and the node flag the next: a node
// page with no prefix has 00 01 there (as in nwind.mdb), not a prefix of 256.
TEST(IndexPageDecode, Jet3PrefixIsOneByteBesideTheNodeFlag) {
  Bytes p = buildPage(jet3(), jet::kIndexNodePage, {nodeEntry({0x7F, 0x10}, 0x30, 3, 5)});
  ASSERT_EQ(p[20], 0x00);
  ASSERT_EQ(p[21], 0x01);
  jet::IndexPage ip = decode(p, jet3());
  EXPECT_EQ(ip.prefix_length, 0u);
  ASSERT_EQ(ip.entries.size(), 1u);
  EXPECT_EQ(ip.entries[0].child, 5u);
}

TEST(IndexPageDecode, DamagedPagesAreFormatErrors) {
  Bytes good = buildPage(jet4(), jet::kIndexLeafPage, {leafEntry({0x7F, 0x01}, 5, 1)});
  ASSERT_EQ(decodeError(good, jet4()), "");

  Bytes data_page = good;
  data_page[0] = 0x01;
  EXPECT_NE(decodeError(data_page, jet4()).find("no es una página de índice"), std::string::npos);

  // The bitmap's last bits lie beyond the page's end (4096 - 480 < 453 * 8).
  Bytes beyond = good;
  beyond[jet4().index_first_entry - 1] = 0x80;
  EXPECT_NE(decodeError(beyond, jet4()).find("fuera de la página"), std::string::npos);
  Bytes beyond3 = buildPage(jet3(), jet::kIndexLeafPage, {});
  beyond3[jet3().index_first_entry - 1] = 0x80;
  EXPECT_NE(decodeError(beyond3, jet3()), "");

  // An entry of 3 bytes cannot hold a row pointer; a node entry of 7 no child.
  Bytes short_leaf = buildPage(jet4(), jet::kIndexLeafPage, {Bytes{1, 2, 3}});
  EXPECT_NE(decodeError(short_leaf, jet4()).find("demasiado corta"), std::string::npos);
  Bytes short_node = buildPage(jet4(), jet::kIndexNodePage, {leafEntry({0x7F, 0x01}, 5, 1)});
  EXPECT_NE(decodeError(short_node, jet4()).find("demasiado corta"), std::string::npos);

  Bytes long_prefix = buildPage(jet4(), jet::kIndexLeafPage, {leafEntry({0x7F}, 5, 1)});
  long_prefix[jet4().index_prefix_len] = 6;
  EXPECT_NE(decodeError(long_prefix, jet4()).find("prefijo"), std::string::npos);

  // A page cut short (a view smaller than the page).
  Bytes cut(good.begin(), good.begin() + 200);
  EXPECT_NE(decodeError(cut, jet4()), "");
}

TEST(IndexEntryOrder, KeyThenPageThenRow) {
  auto e = [](Bytes key, uint32_t page, uint8_t row) {
    jet::IndexEntry x;
    x.key = std::move(key);
    x.row = {page, row};
    return x;
  };
  EXPECT_LT(jet::IndexEntry::compare(e({1, 2}, 9, 9), e({1, 3}, 1, 1)), 0);
  EXPECT_LT(jet::IndexEntry::compare(e({1}, 9, 9), e({1, 0}, 1, 1)), 0);  // shorter key first
  EXPECT_LT(jet::IndexEntry::compare(e({1}, 1, 9), e({1}, 2, 0)), 0);
  EXPECT_LT(jet::IndexEntry::compare(e({1}, 1, 1), e({1}, 1, 2)), 0);
  EXPECT_EQ(jet::IndexEntry::compare(e({1}, 1, 1), e({1}, 1, 1)), 0);
  EXPECT_GT(jet::IndexEntry::compare(e({0xFF}, 1, 1), e({0x7F}, 1, 1)), 0);
}

// ---------------------------------------------------------------------------
// Walks over damaged copies of nwind.mdb's Orders indexes.

struct Tree {
  uint32_t owner = 0;
  uint32_t root = 0;
  std::vector<uint32_t> leaves;
  size_t entries = 0;
};

// The first multi-level index of a table, read from the intact file.
Tree multiLevelIndex(const fs::path& file, const std::string& table) {
  jet::Database db(file.string());
  jet::Table t = db.table(table);
  for (const jet::RealIndex& idx : t.def().real_indexes) {
    jet::IndexWalker w(db.pages(), db.format(), idx.root_page, t.def().page);
    std::vector<uint32_t> leaves = w.leafChain();
    if (leaves.size() >= 3) return {t.def().page, idx.root_page, leaves, w.entries().size()};
  }
  return {};
}

class DamagedIndex : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_FIXTURES();
    original_ = testsupport::fixture("real/jet3/nwind.mdb");
    tree_ = multiLevelIndex(original_, "Orders");
    ASSERT_NE(tree_.root, 0u) << "Orders has no index over three leaves";
    copy_ = testsupport::scratchDir() / "nwind.mdb";
    std::ifstream in(original_, std::ios::binary);
    bytes_.assign(std::istreambuf_iterator<char>(in), {});
  }

  size_t at(uint32_t page, size_t offset) const { return page * fmt().page_size + offset; }
  const jet::Format& fmt() const { return jet3(); }

  // The offset of the child field of a node page's first entry.
  size_t firstChildField(uint32_t page) const {
    for (size_t k = 0;; ++k) {
      if (bytes_[at(page, fmt().index_bitmap + k / 8)] & (1u << (k % 8))) {
        return at(page, fmt().index_first_entry + k - 4);
      }
    }
  }

  // Walks the damaged copy every way; returns the error, "" when none.
  std::string walkError() {
    {
      std::ofstream out(copy_, std::ios::binary | std::ios::trunc);
      out.write(reinterpret_cast<const char*>(bytes_.data()),
                static_cast<std::streamsize>(bytes_.size()));
    }
    try {
      jet::Database db(copy_.string());
      jet::IndexWalker w(db.pages(), db.format(), tree_.root, tree_.owner);
      size_t n = w.entries().size();
      w.lastLeaf();
      w.levels();
      EXPECT_EQ(n, tree_.entries);
    } catch (const jet::JetError& e) {
      EXPECT_EQ(e.number(), jet::err::kBadFormat) << e.what();
      EXPECT_NE(std::string(e.what()).find(copy_.string()), std::string::npos) << e.what();
      return e.what();
    }
    return "";
  }

  fs::path original_, copy_;
  Tree tree_;
  Bytes bytes_;
};

TEST_F(DamagedIndex, IntactCopyWalksCleanly) {
  EXPECT_EQ(walkError(), "");
}

TEST_F(DamagedIndex, SiblingLoopIsAnError) {
  // The last leaf leads back to the first.
  putLE32(bytes_, at(tree_.leaves.back(), fmt().index_next), tree_.leaves.front());
  EXPECT_NE(walkError().find("ciclo"), std::string::npos);
}

TEST_F(DamagedIndex, LeafPointingToItselfIsAnError) {
  putLE32(bytes_, at(tree_.leaves[1], fmt().index_next), tree_.leaves[1]);
  EXPECT_NE(walkError().find("ciclo"), std::string::npos);
}

TEST_F(DamagedIndex, ChildOutOfRangeIsAnError) {
  const uint32_t pages = static_cast<uint32_t>(bytes_.size() / fmt().page_size);
  putBE32(bytes_, firstChildField(tree_.root), pages + 100);
  EXPECT_NE(walkError().find("fuera del archivo"), std::string::npos);
}

TEST_F(DamagedIndex, TailOutOfRangeIsAnError) {
  putLE32(bytes_, at(tree_.root, fmt().index_tail), 0x00FFFFFF);
  EXPECT_NE(walkError().find("fuera del archivo"), std::string::npos);
}

TEST_F(DamagedIndex, NextOutOfRangeIsAnError) {
  putLE32(bytes_, at(tree_.leaves[0], fmt().index_next), 0xFFFFFFFF);
  EXPECT_NE(walkError().find("fuera del archivo"), std::string::npos);
}

TEST_F(DamagedIndex, ChildBackToTheRootIsAnError) {
  putBE32(bytes_, firstChildField(tree_.root), tree_.root);
  EXPECT_NE(walkError().find("ciclo"), std::string::npos);
}

TEST_F(DamagedIndex, LeafChainReachingANodeIsAnError) {
  putLE32(bytes_, at(tree_.leaves[0], fmt().index_next), tree_.root);
  EXPECT_NE(walkError().find("página de nodo"), std::string::npos);
}

TEST_F(DamagedIndex, ChildThatIsADataPageIsAnError) {
  // The table's first data page: any data page of the file will do.
  jet::Database db(original_.string());
  std::vector<uint32_t> data = db.table("Orders").dataPages();
  ASSERT_FALSE(data.empty());
  putBE32(bytes_, firstChildField(tree_.root), data.front());
  EXPECT_NE(walkError().find("no es una página de índice"), std::string::npos);
}

TEST_F(DamagedIndex, PageOfAnotherTableIsAnError) {
  putLE32(bytes_, at(tree_.leaves[1], 4), tree_.owner + 1);
  EXPECT_NE(walkError().find("otra tabla"), std::string::npos);
}

}  // namespace
