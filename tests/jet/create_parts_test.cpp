// The creator's parts on their own: index pages written and read back by the
// reader's decoder, index trees built into memory and walked, usage-map rows,
// rows packed and taken apart by the reader's row layout, text encoding.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <stdexcept>

#include "format/row_layout.h"
#include "format/row_packer.h"
#include "format/text_codec.h"
#include "format/usage_map.h"
#include "index/index_builder.h"
#include "index/index_page.h"
#include "jet/error.h"

namespace {

using jet::ByteView;
using jet::Format;
using jet::IndexEntry;
using jet::RowId;
using jet::Version;

const Format& fmt(Version v) {
  return jet::formatFor(v);
}

IndexEntry entry(std::vector<uint8_t> key, uint32_t page, uint8_t row, uint32_t child = 0) {
  IndexEntry e;
  e.key = std::move(key);
  e.row = {page, row};
  e.child = child;
  return e;
}

// ---------------------------------------------------------------------------
// Index pages

class IndexPages : public ::testing::TestWithParam<Version> {};

TEST_P(IndexPages, LeafAndNodePagesDecodeToWhatWasWritten) {
  const Format& f = fmt(GetParam());
  const std::vector<IndexEntry> leaf = {entry({0x7F, 0x80, 0, 0, 1}, 10, 0),
                                        entry({0x7F, 0x80, 0, 0, 1}, 10, 1),
                                        entry({0x7F, 0x80, 0, 2, 0}, 11, 7), entry({0x00}, 12, 3)};
  // Out of order: the null key sorts first.
  EXPECT_THROW(jet::encodeIndexPage(f, jet::IndexPageLayout{}, leaf), std::invalid_argument);
  std::vector<IndexEntry> sorted = leaf;
  std::sort(sorted.begin(), sorted.end(),
            [](const IndexEntry& a, const IndexEntry& b) { return IndexEntry::compare(a, b) < 0; });

  for (bool share : {false, true}) {
    jet::IndexPageLayout layout;
    layout.owner = 6;
    layout.prev = 20;
    layout.next = 22;
    layout.share_prefix = share;
    const auto bytes = jet::encodeIndexPage(f, layout, sorted);
    const jet::IndexPage p = jet::decodeIndexPage(ByteView(bytes.data(), bytes.size()), f, 21, "x");
    EXPECT_TRUE(p.leaf);
    EXPECT_EQ(p.owner, 6u);
    EXPECT_EQ(p.prev, 20u);
    EXPECT_EQ(p.next, 22u);
    EXPECT_EQ(p.node_flag, 0);
    EXPECT_EQ(p.prefix_length, share ? 0u : 0u);  // the null key shares nothing
    ASSERT_EQ(p.entries.size(), sorted.size());
    for (size_t i = 0; i < sorted.size(); ++i) {
      EXPECT_EQ(p.entries[i].key, sorted[i].key);
      EXPECT_EQ(p.entries[i].row, sorted[i].row);
    }
    EXPECT_EQ(p.free_space, f.page_size - f.index_first_entry - p.data_length);
  }

  // Without the null key the entries share "7F 80 00"; the prefix never
  // takes the row byte.
  sorted.erase(sorted.begin());
  jet::IndexPageLayout layout;
  layout.share_prefix = true;
  const auto bytes = jet::encodeIndexPage(f, layout, sorted);
  const jet::IndexPage p = jet::decodeIndexPage(ByteView(bytes.data(), bytes.size()), f, 3, "x");
  EXPECT_EQ(p.prefix_length, 3u);
  EXPECT_EQ(p.data_length, jet::indexPageDataLength(f, sorted, true, true));
  EXPECT_EQ(p.data_length, 9u + 6u + 6u);
  for (size_t i = 0; i < sorted.size(); ++i) EXPECT_EQ(p.entries[i].key, sorted[i].key);

  // Equal keys on one row page share the page bytes too, never the row byte.
  const std::vector<IndexEntry> same = {entry({0x7F, 0x41}, 0x010203, 1),
                                        entry({0x7F, 0x41}, 0x010203, 2)};
  EXPECT_EQ(jet::indexPagePrefix(f, same, true), 5u);

  // A node: entries with children, the tail apart, the node flag set.
  jet::IndexPageLayout node;
  node.leaf = false;
  node.tail = 99;
  const std::vector<IndexEntry> children = {entry({0x7F, 1}, 5, 0, 40), entry({0x7F, 2}, 5, 1, 41)};
  const auto nb = jet::encodeIndexPage(f, node, children);
  const jet::IndexPage n = jet::decodeIndexPage(ByteView(nb.data(), nb.size()), f, 7, "x");
  EXPECT_FALSE(n.leaf);
  EXPECT_EQ(n.node_flag, 1);
  EXPECT_EQ(n.tail, 99u);
  ASSERT_EQ(n.entries.size(), 2u);
  EXPECT_EQ(n.entries[1].child, 41u);
  const std::vector<IndexEntry> orphan = {entry({0x7F}, 1, 1)};
  EXPECT_THROW(jet::encodeIndexPage(f, node, orphan), std::invalid_argument);
  // Re-encoding a decoded page gives the same bytes.
  EXPECT_EQ(jet::encodeIndexPage(f, n), nb);
}

TEST_P(IndexPages, CapacityIsTheLastByteTheBitmapCanMark) {
  const Format& f = fmt(GetParam());
  const size_t cap = jet::indexPageCapacity(f);
  EXPECT_EQ(cap, GetParam() == Version::Jet4 ? 3616u : 1800u);
  // Entries of 8 bytes (4 key + 4 pointer): exactly cap / 8 fit.
  std::vector<IndexEntry> full;
  for (uint32_t i = 0; i < cap / 8; ++i) {
    full.push_back(entry({0x7F, static_cast<uint8_t>(i >> 16), static_cast<uint8_t>(i >> 8),
                          static_cast<uint8_t>(i)},
                         1, 0));
  }
  EXPECT_TRUE(jet::fitsIndexPage(f, full, true, false));
  const auto bytes = jet::encodeIndexPage(f, jet::IndexPageLayout{}, full);
  const auto p = jet::decodeIndexPage(ByteView(bytes.data(), bytes.size()), f, 1, "x");
  EXPECT_EQ(p.entries.size(), full.size());
  EXPECT_EQ(p.free_space, f.page_size - f.index_first_entry - cap);
  full.push_back(entry({0x7F, 0xFF, 0xFF, 0xFF}, 1, 0));
  EXPECT_FALSE(jet::fitsIndexPage(f, full, true, false));
  EXPECT_THROW(jet::encodeIndexPage(f, jet::IndexPageLayout{}, full), std::length_error);

  const auto empty = jet::emptyIndexLeaf(f, 9);
  const auto e = jet::decodeIndexPage(ByteView(empty.data(), empty.size()), f, 1, "x");
  EXPECT_TRUE(e.leaf);
  EXPECT_TRUE(e.entries.empty());
  EXPECT_EQ(e.owner, 9u);
}

INSTANTIATE_TEST_SUITE_P(Versions, IndexPages, ::testing::Values(Version::Jet4, Version::Jet3),
                         [](const auto& i) { return i.param == Version::Jet4 ? "Jet4" : "Jet3"; });

// ---------------------------------------------------------------------------
// Index trees, built into memory and walked here by hand.

struct MemoryTree {
  explicit MemoryTree(const Format& f) : page_size(f.page_size) {}
  size_t page_size;
  std::map<uint32_t, std::vector<uint8_t>> pages;
  uint32_t next = 100;
  jet::IndexPageSink sink() {
    return {[this] { return next++; },
            [this](uint32_t p, const uint8_t* b) {
              EXPECT_EQ(pages.count(p), 0u) << "page written twice";
              pages[p].assign(b, b + page_size);
            }};
  }
  jet::IndexPage page(const Format& f, uint32_t n) const {
    const auto& b = pages.at(n);
    return jet::decodeIndexPage(ByteView(b.data(), b.size()), f, n, "x");
  }
};

// Walks the tree: returns its leaf entries in order and checks node entries,
// tails and level links.
std::vector<IndexEntry> walk(const MemoryTree& t, const Format& f, uint32_t root, size_t& levels) {
  std::vector<uint32_t> level = {root};
  levels = 0;
  for (;;) {
    ++levels;
    std::vector<uint32_t> below;
    for (size_t k = 0; k < level.size(); ++k) {
      const jet::IndexPage p = t.page(f, level[k]);
      EXPECT_EQ(p.prev, k == 0 ? 0u : level[k - 1]);
      EXPECT_EQ(p.next, k + 1 == level.size() ? 0u : level[k + 1]);
      if (p.leaf) continue;
      for (const IndexEntry& e : p.entries) {
        below.push_back(e.child);
        // The entry repeats the last entry under its child.
        jet::IndexPage c = t.page(f, e.child);
        while (!c.leaf) c = t.page(f, c.tail ? c.tail : c.entries.back().child);
        EXPECT_EQ(c.entries.back().key, e.key);
        EXPECT_EQ(c.entries.back().row, e.row);
      }
      if (p.tail) below.push_back(p.tail);
      EXPECT_TRUE(p.tail != 0 || p.entries.size() == 1);
      EXPECT_GE(p.entries.size() + (p.tail ? 1 : 0), level.size() == 1 ? 2u : 2u);
    }
    if (below.empty()) break;
    level = below;
  }
  std::vector<IndexEntry> out;
  for (uint32_t n : level) {
    for (IndexEntry& e : t.page(f, n).entries) out.push_back(std::move(e));
  }
  return out;
}

TEST(IndexBuilder, BuildsLevelsFromUnsortedEntries) {
  const Format& f = fmt(Version::Jet4);
  for (size_t count : {0u, 1u, 400u, 401u, 20000u}) {
    jet::IndexEntryBuffer buf;
    std::vector<IndexEntry> all;
    uint64_t s = 12345;
    for (size_t i = 0; i < count; ++i) {
      s = s * 6364136223846793005ull + 1;
      const uint32_t v = static_cast<uint32_t>(s >> 40) % 5000;  // repeats
      std::vector<uint8_t> key = {0x7F, static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
      const RowId row{static_cast<uint32_t>(1 + i / 200), static_cast<uint8_t>(i % 200)};
      buf.add(key, row);
      all.push_back(entry(key, row.page, row.row));
    }
    std::sort(all.begin(), all.end(), [](const IndexEntry& a, const IndexEntry& b) {
      return IndexEntry::compare(a, b) < 0;
    });
    MemoryTree t(f);
    jet::IndexBuildOptions o;
    o.owner = 7;
    const jet::BuiltIndex built = jet::buildIndex(f, buf, o, t.sink());
    EXPECT_EQ(built.pages.size(), t.pages.size());
    EXPECT_EQ(built.entries, count);
    size_t levels = 0;
    const std::vector<IndexEntry> got = walk(t, f, built.root, levels);
    EXPECT_EQ(levels, built.levels);
    ASSERT_EQ(got.size(), all.size());
    for (size_t i = 0; i < got.size(); ++i) {
      ASSERT_EQ(got[i].key, all[i].key) << i;
      ASSERT_EQ(got[i].row, all[i].row) << i;
    }
    size_t distinct = 0;
    for (size_t i = 0; i < all.size(); ++i) distinct += i == 0 || all[i].key != all[i - 1].key;
    EXPECT_EQ(built.distinct_keys, distinct);
    if (count == 20000) {
      EXPECT_EQ(levels, 2u);
    }
    if (count <= 1) {
      EXPECT_EQ(levels, 1u);
    }
  }
}

TEST(IndexBuilder, LongKeysMakeDeepTreesAndShortKeysMixIn) {
  // Keys over 11 bytes switch the buffer to its general form midway.
  const Format& f = fmt(Version::Jet3);
  jet::IndexEntryBuffer buf;
  size_t n = 0;
  for (uint32_t i = 0; i < 3000; ++i) {
    std::vector<uint8_t> key(i % 3 == 0 ? 4 : 150, static_cast<uint8_t>(0x60 + i % 26));
    key[0] = 0x7F;
    key.push_back(static_cast<uint8_t>(i >> 8));
    key.push_back(static_cast<uint8_t>(i));
    buf.add(key, {1 + i / 100, static_cast<uint8_t>(i % 100)});
    ++n;
  }
  MemoryTree t(f);
  const jet::BuiltIndex built = jet::buildIndex(f, buf, {}, t.sink());
  size_t levels = 0;
  const auto got = walk(t, f, built.root, levels);
  EXPECT_EQ(got.size(), n);
  EXPECT_GE(levels, 3u);
  for (size_t i = 1; i < got.size(); ++i) EXPECT_LT(IndexEntry::compare(got[i - 1], got[i]), 0);
}

TEST(IndexBuilder, UniqueIndexesRejectRepeatsButNotNulls) {
  const Format& f = fmt(Version::Jet4);
  jet::IndexBuildOptions o;
  o.unique = true;
  o.null_key = {0x00};
  {
    jet::IndexEntryBuffer buf;
    buf.add({0x00}, {1, 0});
    buf.add({0x00}, {1, 1});
    buf.add({0x7F, 1}, {1, 2});
    MemoryTree t(f);
    EXPECT_NO_THROW(jet::buildIndex(f, buf, o, t.sink()));
  }
  jet::IndexEntryBuffer buf;
  buf.add({0x7F, 1}, {2, 0});
  buf.add({0x7F, 1}, {1, 5});
  MemoryTree t(f);
  try {
    jet::buildIndex(f, buf, o, t.sink());
    FAIL() << "no error";
  } catch (const jet::DuplicateKeyError& e) {
    EXPECT_EQ(e.first, (RowId{1, 5}));
    EXPECT_EQ(e.second, (RowId{2, 0}));
  }
}

// ---------------------------------------------------------------------------
// Usage maps

std::vector<uint32_t> inlinePages(const std::vector<uint8_t>& row) {
  std::vector<uint32_t> out;
  const uint32_t start = row[1] | row[2] << 8 | row[3] << 16 | static_cast<uint32_t>(row[4]) << 24;
  for (size_t i = 0; i < (row.size() - 5) * 8; ++i) {
    if (row[5 + i / 8] >> (i % 8) & 1) out.push_back(start + static_cast<uint32_t>(i));
  }
  return out;
}

TEST(UsageMaps, InlineWhenOneWindowHoldsThePagesElseReference) {
  const Format& f = fmt(Version::Jet4);
  auto never = []() -> uint32_t { throw std::logic_error("no map pages expected"); };
  jet::UsageMapImage a = jet::buildUsageMap(f, {7, 3, 511}, never);
  ASSERT_EQ(a.row.size(), 69u);
  EXPECT_EQ(a.row[0], 0);
  EXPECT_EQ(inlinePages(a.row), (std::vector<uint32_t>{3, 7, 511}));
  jet::UsageMapImage b = jet::buildUsageMap(f, {1000, 1300}, never);  // a window from 1000
  EXPECT_EQ(inlinePages(b.row), (std::vector<uint32_t>{1000, 1300}));
  EXPECT_EQ(jet::buildUsageMap(f, {}, never).row, std::vector<uint8_t>(69, 0));

  uint32_t next = 900;
  std::vector<uint32_t> pages = {5, 600, 40000, 40001};
  jet::UsageMapImage c = jet::buildUsageMap(f, pages, [&] { return next++; });
  EXPECT_EQ(c.row[0], 1);
  ASSERT_EQ(c.pages.size(), 2u);  // pages 0..32735 and 32736..65471
  EXPECT_EQ(c.row[1], 0x84);      // 900
  EXPECT_EQ(c.row[5], 0x85);      // 901
  std::vector<uint32_t> named;
  for (size_t k = 0; k < c.pages.size(); ++k) {
    const auto& bytes = c.pages[k].second;
    EXPECT_EQ(bytes[0], 0x05);
    const uint32_t base = (k == 0 ? 0 : 1) * static_cast<uint32_t>(jet::mapPageCapacity(f));
    for (size_t i = 0; i < (bytes.size() - 4) * 8; ++i) {
      if (bytes[4 + i / 8] >> (i % 8) & 1) named.push_back(base + static_cast<uint32_t>(i));
    }
  }
  EXPECT_EQ(named, pages);
  EXPECT_THROW(jet::buildUsageMap(f, {5u, 17u * 32736u}, [&] { return next++; }),
               std::length_error);
}

TEST(UsageMaps, GlobalMapMarksThePagesPastTheEndFree) {
  const Format& f = fmt(Version::Jet3);
  auto row = jet::inlineGlobalMap(f, 20, 2000);
  ASSERT_EQ(row.size(), 133u);  // never shorter than Access's 128 bytes
  const auto free = inlinePages(row);
  EXPECT_EQ(free.front(), 20u);
  EXPECT_EQ(free.size(), 128u * 8 - 20);
  row = jet::inlineGlobalMap(f, 1466, 2000);
  EXPECT_EQ(row.size(), 5u + 184u);  // whole 4-byte steps, as nwind.mdb has it
  EXPECT_TRUE(jet::inlineGlobalMap(f, 16000, 1900).empty());

  ASSERT_EQ(jet::globalMapPagesNeeded(f, 20000), 2u);
  const auto ref = jet::referenceGlobalMap(f, 20000, {17000, 17001});
  EXPECT_EQ(ref.row[0], 1);
  const auto& second = ref.pages[1].second;
  const size_t first_free = 20000 - jet::mapPageCapacity(f);
  EXPECT_FALSE(second[4 + (first_free - 1) / 8] >> ((first_free - 1) % 8) & 1);
  EXPECT_TRUE(second[4 + first_free / 8] >> (first_free % 8) & 1);
}

// ---------------------------------------------------------------------------
// Rows

jet::Column column(const char* name, jet::ColumnType type, uint16_t number, uint16_t var_index,
                   uint16_t fixed_offset, uint16_t length, bool fixed) {
  jet::Column c;
  c.name = name;
  c.type_code = static_cast<uint8_t>(type);
  c.number = number;
  c.var_index = var_index;
  c.fixed_offset = fixed_offset;
  c.length = length;
  c.flags = static_cast<uint8_t>(0x02 | (fixed ? 0x01 : 0));
  return c;
}

TEST(RowPacker, RowsTakeApartWithTheReadersLayout) {
  for (Version v : {Version::Jet4, Version::Jet3}) {
    const Format& f = fmt(v);
    const bool j4 = v == Version::Jet4;
    std::vector<jet::Column> cols = {
        column("n", jet::ColumnType::Long, 0, 0, 0, 4, true),
        column("t", jet::ColumnType::Text, 1, 0, 0, j4 ? 510 : 255, false),
        column("b", jet::ColumnType::Boolean, 2, 1, 0, 1, true),
        column("u", jet::ColumnType::Text, 3, 1, 0, j4 ? 510 : 255, false),
        column("d", jet::ColumnType::Double, 4, 2, 4, 8, true)};
    jet::RowPacker packer(f, cols, 5, 2);
    std::vector<uint8_t> row;
    // Row lengths around every 256-byte mark exercise the Jet 3 jump bytes.
    for (size_t len = 0; len < 256; len += 3) {
      const std::string a(len, 'a'), b(255 - len / 2, 'b');
      packer.pack({jet::Value::integer(-5), jet::Value::text(a), jet::Value::boolean(true),
                   len % 2 ? jet::Value::null() : jet::Value::text(b), jet::Value::real(2.5)},
                  nullptr, row);
      const ByteView view(row.data(), row.size());
      jet::RowLayout layout(view, f, true);
      EXPECT_EQ(layout.storedColumns(), 5);
      EXPECT_TRUE(layout.present(cols[0]));
      EXPECT_TRUE(layout.present(cols[2]));
      EXPECT_EQ(layout.present(cols[3]), len % 2 == 0);
      EXPECT_EQ(layout.fixed(cols[0], 4).u32(0), static_cast<uint32_t>(-5));
      const auto t = layout.variable(cols[1]);
      ASSERT_TRUE(t.has_value());
      EXPECT_EQ(t->size(), jet::encodeText(f, a, false).size()) << "length " << len;
      const auto u = layout.variable(cols[3]);
      ASSERT_TRUE(u.has_value());
      EXPECT_EQ(u->size(), len % 2 ? 0u : jet::encodeText(f, b, false).size()) << "length " << len;
    }
  }
}

TEST(RowPacker, TextIsCompressedOnlyWhenAllowedAndWorthIt) {
  const Format& j4 = fmt(Version::Jet4);
  EXPECT_EQ(jet::encodeText(j4, "abc", true), (std::vector<uint8_t>{0xFF, 0xFE, 'a', 'b', 'c'}));
  EXPECT_EQ(jet::encodeText(j4, "ab", true), (std::vector<uint8_t>{'a', 0, 'b', 0}));
  EXPECT_EQ(jet::encodeText(j4, "abc", false).size(), 6u);
  EXPECT_EQ(jet::encodeText(j4, "Peña", true),
            (std::vector<uint8_t>{0xFF, 0xFE, 'P', 'e', 0xF1, 'a'}));
  EXPECT_EQ(jet::encodeText(j4, "Мир", true).size(), 6u);  // not Latin-1: UCS-2
  EXPECT_EQ(jet::encodeText(j4, std::string(1025, 'x'), true).size(), 2050u);
  const Format& j3 = fmt(Version::Jet3);
  EXPECT_EQ(jet::encodeText(j3, "Peña €", true),
            (std::vector<uint8_t>{'P', 'e', 0xF1, 'a', ' ', 0x80}));
  EXPECT_THROW(jet::encodeText(j3, "Мир", true), jet::JetError);
}

}  // namespace
