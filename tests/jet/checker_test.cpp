// The file checker: every shared fixture passes as shipped (with the Access
// quirks it tolerates showing up where they are known to be), and copies
// broken on purpose, one fault each, in Jet 3 and Jet 4 files, give exactly
// the problem that fault is.
#include "jet/checker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <limits>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "check/checker_context.h"
#include "format/long_value.h"
#include "format/row_layout.h"
#include "index/index_key.h"
#include "index/index_page.h"
#include "index/index_walk.h"
#include "jet/database.h"
#include "jet/error.h"
#include "support/shared_fixtures.h"

namespace {

namespace fs = std::filesystem;

constexpr uint32_t kAnyPage = std::numeric_limits<uint32_t>::max();

std::vector<uint8_t> readFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFile(const fs::path& p, const std::vector<uint8_t>& bytes) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.good()) << p;
}

std::string listProblems(const jet::CheckReport& r) {
  std::string s;
  for (const jet::CheckProblem& p : r.problems) s += "  " + p.text() + "\n";
  for (const auto& [where, n] : r.suppressed)
    s += "  " + where + ": " + std::to_string(n) + " más\n";
  return s.empty() ? "  (ninguno)\n" : s;
}

// One expected problem: the structure's name contains `where`, the page is
// `page` (or any), the message contains `message`.
struct Expected {
  std::string where;
  uint32_t page;
  std::string message;

  bool matches(const jet::CheckProblem& p) const {
    return p.where.find(where) != std::string::npos && (page == kAnyPage || p.page == page) &&
           p.message.find(message) != std::string::npos;
  }
};

// The report holds every expected problem, and nothing else.
void expectExactly(const jet::CheckReport& r, const std::vector<Expected>& want) {
  EXPECT_TRUE(r.suppressed.empty()) << listProblems(r);
  for (const Expected& w : want) {
    EXPECT_TRUE(std::any_of(r.problems.begin(), r.problems.end(),
                            [&](const jet::CheckProblem& p) { return w.matches(p); }))
        << "missing: " << w.where << " page " << (w.page == kAnyPage ? -1 : int64_t{w.page})
        << ": ..." << w.message << "...\nproblems:\n"
        << listProblems(r);
  }
  for (const jet::CheckProblem& p : r.problems) {
    EXPECT_TRUE(
        std::any_of(want.begin(), want.end(), [&](const Expected& w) { return w.matches(p); }))
        << "unexpected: " << p.text();
  }
}

std::string indexWhere(const jet::TableDef& def, size_t real) {
  std::string names;
  for (const jet::LogicalIndex& l : def.logical_indexes) {
    if (l.real_index == real) names += (names.empty() ? "" : "/") + l.name;
  }
  return "índice '" + def.name + "." + names + "'";
}

// A copy of a fixture, broken in memory through `bytes`, then written out
// and checked. The original stays open to find the structures to break.
class BrokenCopy {
 public:
  explicit BrokenCopy(const std::string& fixture)
      : original_(testsupport::fixture(fixture)),
        db_(original_.string()),
        bytes_(readFile(original_)) {}

  const jet::Database& db() const { return db_; }
  const jet::Format& fmt() const { return db_.format(); }
  jet::Table table(const std::string& name) const { return db_.table(name); }

  uint8_t* page(uint32_t n) { return bytes_.data() + size_t{n} * fmt().page_size; }
  uint16_t get16(uint32_t pg, size_t off) {
    return static_cast<uint16_t>(page(pg)[off] | (page(pg)[off + 1] << 8));
  }
  uint32_t get32(uint32_t pg, size_t off) {
    uint32_t v;
    std::memcpy(&v, page(pg) + off, 4);
    return v;
  }
  void put16(uint32_t pg, size_t off, uint16_t v) { std::memcpy(page(pg) + off, &v, 2); }
  void put32(uint32_t pg, size_t off, uint32_t v) { std::memcpy(page(pg) + off, &v, 4); }

  // Where a row's bytes start on its page, in the copy.
  size_t rowStart(jet::RowId id) {
    return get16(id.page, fmt().data_slots + 2u * id.row) & jet::kSlotOffsetMask;
  }
  size_t slotOffset(jet::RowId id) const { return fmt().data_slots + 2u * id.row; }

  // Sets or clears page `target`'s bit in the inline usage map at `pointer`.
  void setMapBit(uint32_t pointer, uint32_t target, bool on) {
    const jet::RowId at = jet::RowId::fromPointer(pointer);
    uint8_t* row = page(at.page) + rowStart(at);
    ASSERT_EQ(row[0], 0) << "the map is not inline";
    uint32_t start;
    std::memcpy(&start, row + 1, 4);
    ASSERT_GE(target, start);
    uint8_t& byte = row[5 + (target - start) / 8];
    const uint8_t bit = static_cast<uint8_t>(1u << ((target - start) % 8));
    byte = on ? (byte | bit) : (byte & ~bit);
  }

  jet::CheckReport check() {
    const fs::path path = testsupport::scratchDir() / original_.filename();
    writeFile(path, bytes_);
    jet::Database broken(path.string());
    return jet::checkDatabase(broken);
  }

 private:
  fs::path original_;
  jet::Database db_;
  std::vector<uint8_t> bytes_;
};

// The long-value rows a row keeps outside itself, every column's, in chain order.
std::vector<jet::RowId> longValueRowsOf(const jet::Table& t, jet::RowId id) {
  const jet::Database& db = t.database();
  jet::RowLayout layout(t.rowBytes(id), db.format(), t.def().var_slots > 0);
  std::vector<jet::RowId> out;
  for (const jet::Column& c : t.def().columns) {
    if (!c.isLongValue() || !layout.present(c)) continue;
    if (std::optional<jet::ByteView> field = layout.variable(c)) {
      for (jet::RowId r : jet::longValueRows(db.pages(), db.format(), *field)) out.push_back(r);
    }
  }
  return out;
}

std::string rowName(jet::RowId id) {
  return std::to_string(id.page) + ":" + std::to_string(id.row);
}

// The problem an orphaned long-value row of the table is.
Expected orphanedLongValue(const std::string& table, jet::RowId lv) {
  return {"tabla '" + table + "'", lv.page, "la fila " + rowName(lv) + ", en una página del campo"};
}

// The real index on exactly this one column.
size_t indexOnColumn(const jet::TableDef& def, uint16_t column) {
  for (size_t r = 0; r < def.real_indexes.size(); ++r) {
    const auto& cols = def.real_indexes[r].columns;
    if (cols.size() == 1 && cols[0].column_number == column) return r;
  }
  ADD_FAILURE() << def.name << " has no index on column " << column;
  return 0;
}

// ---------------------------------------------------------------------------

TEST(Checker, EveryFixturePassesAsShipped) {
  REQUIRE_FIXTURES();
  const std::vector<fs::path> files = testsupport::allFixtures();
  ASSERT_FALSE(files.empty());
  size_t rows = 0, entries = 0;
  for (const fs::path& file : files) {
    SCOPED_TRACE(file.string());
    jet::Database db(file.string());
    const jet::CheckReport r = jet::checkDatabase(db);
    EXPECT_TRUE(r.ok()) << listProblems(r);
    EXPECT_GE(r.tables, 4u);  // the catalog and the other system tables at least
    EXPECT_GT(r.indexes, 0u);
    rows += r.rows;
    entries += r.index_entries;
  }
  EXPECT_GT(rows, 10000u);
  EXPECT_GT(entries, 30000u);
}

// What Access leaves that is tolerated is still seen: notes, not problems.
TEST(Checker, ToleratesTheAccessQuirksWhereTheyAre) {
  REQUIRE_FIXTURES();
  auto notes = [](const std::string& fixture) {
    jet::Database db(testsupport::fixture(fixture).string());
    return jet::checkDatabase(db).notes;
  };
  auto has = [](const std::vector<jet::CheckProblem>& ns, const std::string& where,
                const std::string& part) {
    return std::any_of(ns.begin(), ns.end(), [&](const jet::CheckProblem& n) {
      return n.where == where && n.message.find(part) != std::string::npos;
    });
  };
  // Freed pages that keep their owner and rows.
  EXPECT_TRUE(has(notes("real/jet3/nwind.mdb"), "tabla 'Umsätze'", "257 páginas liberadas"));
  // Stale row counts of system tables.
  EXPECT_TRUE(
      has(notes("real/jet4/testV2000.mdb"), "tabla 'MSysACEs'", "guarda 61 filas, pero tiene 64"));
  EXPECT_TRUE(has(notes("real/jet4/queryTestV2000.mdb"), "tabla 'MSysQueries'", "guarda 82 filas"));
  // Another Access-file library's: the global map's window moved up to page
  // 768, which leaves the pages below unnamed (in use, and a few leftovers of
  // a table no longer in the catalog), and node pages with a node byte of 0.
  const std::vector<jet::CheckProblem> large = notes("large/clientes-v2003-3k.mdb");
  EXPECT_TRUE(has(large, "mapa global de páginas", "no nombra las páginas 0 a 767"));
  EXPECT_TRUE(has(large, "páginas de datos", "5 páginas (15, 16, 43, 44, 45)"));
  EXPECT_TRUE(has(large, "índice 'clientes.PrimaryKey'", "1 página de nodo tiene la marca"));
}

// ---------------------------------------------------------------------------
// One fault each.

struct Case {
  std::string fixture;
  std::string table;
  bool related = false;  // takes part in enforced relationships
};

class CheckerFindsDamage : public ::testing::TestWithParam<Case> {
 protected:
  void SetUp() override { REQUIRE_FIXTURES(); }
};

// The fault that a delete forgetting the indexes leaves: the slot says
// deleted, the index entries still point at the row (and the count is off).
TEST_P(CheckerFindsDamage, RowFlaggedDeletedWhileItsIndexEntriesStay) {
  BrokenCopy copy(GetParam().fixture);
  const jet::Table t = copy.table(GetParam().table);
  ASSERT_FALSE(t.def().real_indexes.empty());
  const std::vector<jet::RowId> rows = t.rowIds();
  ASSERT_GT(rows.size(), 2u);
  const jet::RowId victim = rows[rows.size() / 2];
  const size_t slot = copy.slotOffset(victim);
  copy.put16(victim.page, slot, copy.get16(victim.page, slot) | 0xC000);

  std::vector<Expected> want = {{"tabla '" + t.name() + "'", t.def().page,
                                 "guarda " + std::to_string(t.def().row_count) +
                                     " filas, pero tiene " + std::to_string(rows.size() - 1) +
                                     " filas vivas"}};
  for (size_t r = 0; r < t.def().real_indexes.size(); ++r) {
    want.push_back({indexWhere(t.def(), r), kAnyPage,
                    "-> " + std::to_string(victim.page) + ":" + std::to_string(victim.row) +
                        " apunta a una fila que no está viva"});
  }
  // Its long values stay behind with nobody to reach them.
  for (jet::RowId lv : longValueRowsOf(t, victim)) want.push_back(orphanedLongValue(t.name(), lv));
  expectExactly(copy.check(), want);
}

TEST_P(CheckerFindsDamage, RowCountOffByOne) {
  BrokenCopy copy(GetParam().fixture);
  const jet::Table t = copy.table(GetParam().table);
  const uint32_t count = copy.get32(t.def().page, copy.fmt().tdef_row_count);
  ASSERT_EQ(count, t.rowIds().size());
  copy.put32(t.def().page, copy.fmt().tdef_row_count, count + 1);
  expectExactly(copy.check(), {{"tabla '" + t.name() + "'", t.def().page,
                                "guarda " + std::to_string(count + 1) + " filas, pero tiene " +
                                    std::to_string(count) + " filas vivas"}});
}

// The entries of a leaf page: where each one's stored bytes start and end,
// relative to the first entry.
std::vector<std::pair<size_t, size_t>> storedEntries(const uint8_t* page, const jet::Format& f) {
  std::vector<std::pair<size_t, size_t>> out;
  size_t start = 0;
  for (size_t k = 0; k < (f.index_first_entry - f.index_bitmap) * 8; ++k) {
    if (page[f.index_bitmap + k / 8] & (1u << (k % 8))) {
      out.emplace_back(start, k);
      start = k;
    }
  }
  return out;
}

// A stored key byte changed so that the index stays in order: only the key
// no longer matches the row's values.
// Raises the last key byte of one entry of an index page in the copy, where
// the page stays in order and the byte lies outside the shared prefix; never
// the page's last entry. Returns the entry as it was, or nothing.
std::optional<jet::IndexEntry> bumpKey(BrokenCopy& copy, const jet::IndexPage& p) {
  const jet::Format& f = copy.fmt();
  const auto stored = storedEntries(copy.page(p.number), f);
  EXPECT_EQ(stored.size(), p.entries.size());
  for (size_t k = 0; k + 1 < p.entries.size(); ++k) {
    std::vector<uint8_t> key = p.entries[k].key;
    const size_t j = key.size() - 1;
    if (j < p.prefix_length || key[j] == 0xFF) continue;
    ++key[j];
    if (key >= p.entries[k + 1].key) continue;
    uint8_t& byte = copy.page(
        p.number)[f.index_first_entry + stored[k].first + j - (k == 0 ? 0 : p.prefix_length)];
    EXPECT_EQ(byte, p.entries[k].key[j]);
    ++byte;
    return p.entries[k];
  }
  return std::nullopt;
}

// A stored key byte changed so that the index stays in order: only the key
// no longer matches the row's values.
TEST_P(CheckerFindsDamage, IndexEntryWithAWrongKey) {
  BrokenCopy copy(GetParam().fixture);
  const jet::Table t = copy.table(GetParam().table);
  for (size_t r = 0; r < t.def().real_indexes.size(); ++r) {
    const jet::RealIndex& idx = t.def().real_indexes[r];
    jet::IndexWalker walker(copy.db().pages(), copy.fmt(), idx.root_page, t.def().page);
    for (uint32_t leaf : walker.leafChain()) {
      // Not a leaf's last entry, which its parent repeats.
      if (auto changed = bumpKey(copy, walker.page(leaf))) {
        expectExactly(copy.check(),
                      {{indexWhere(t.def(), r), leaf,
                        "la entrada de la fila " + std::to_string(changed->row.page) + ":" +
                            std::to_string(changed->row.row) + " guarda la clave"}});
        return;
      }
    }
  }
  FAIL() << "no entry whose key could change in place";
}

TEST_P(CheckerFindsDamage, IndexUsageMapMissingAPage) {
  BrokenCopy copy(GetParam().fixture);
  const jet::Table t = copy.table(GetParam().table);
  const jet::RealIndex& idx = t.def().real_indexes.at(0);
  jet::IndexWalker walker(copy.db().pages(), copy.fmt(), idx.root_page, t.def().page);
  const uint32_t leaf = walker.leafChain().back();
  copy.setMapBit(idx.used_map, leaf, false);
  expectExactly(copy.check(), {{indexWhere(t.def(), 0), leaf,
                                "su mapa de uso no incluye esta página del árbol"}});
}

// The global map marks a page of the table's data free: Access would hand
// it out again.
TEST_P(CheckerFindsDamage, PageInUseMarkedFreeInTheGlobalMap) {
  BrokenCopy copy(GetParam().fixture);
  const jet::Table t = copy.table(GetParam().table);
  const uint32_t data_page = t.dataPages().at(0);
  copy.setMapBit(jet::RowId{1, 0}.toPointer(), data_page, true);
  expectExactly(copy.check(), {{"mapa global", data_page, "la marca libre, pero está en uso"}});
}

// A data page whose free-space count does not add up.
TEST_P(CheckerFindsDamage, DataPageFreeSpaceCountWrong) {
  BrokenCopy copy(GetParam().fixture);
  const jet::Table t = copy.table(GetParam().table);
  const uint32_t pg = t.dataPages().back();
  const uint16_t free = copy.get16(pg, 2);
  copy.put16(pg, 2, static_cast<uint16_t>(free + 2));
  expectExactly(copy.check(), {{"tabla '" + t.name() + "'", pg,
                                "declara " + std::to_string(free + 2) +
                                    " bytes libres, pero le quedan " + std::to_string(free)}});
}

// A page past the end of the file that the global map does not mark free.
TEST_P(CheckerFindsDamage, PagePastTheEndNotMarkedFree) {
  BrokenCopy copy(GetParam().fixture);
  const uint32_t past = copy.db().pages().pageCount() + 1;
  copy.setMapBit(jet::RowId{1, 0}.toPointer(), past, false);
  expectExactly(copy.check(),
                {{"mapa global", 0, "no marca libres 1 de las páginas más allá del final"}});
}

// A table definition that is no definition: the catalog names a table that
// cannot be read, and its data pages name an owner that is no table. The
// rest of the file is still checked.
TEST_P(CheckerFindsDamage, UnreadableTableDefinition) {
  BrokenCopy copy(GetParam().fixture);
  const jet::Table t = copy.table(GetParam().table);
  copy.page(t.def().page)[0] = 0x00;
  const jet::CheckReport r = copy.check();
  std::vector<Expected> want = {
      {"catálogo", t.def().page, "la tabla '" + t.name() + "' no tiene una definición legible"},
      {"página de datos", kAnyPage, "que no es ninguna tabla del catálogo"}};
  if (GetParam().related) want.push_back({"relación '", 0, "no se puede comprobar"});
  expectExactly(r, want);
  EXPECT_GE(r.tables, 4u);
}

INSTANTIATE_TEST_SUITE_P(Jet3, CheckerFindsDamage,
                         ::testing::Values(Case{"real/jet3/nwind.mdb", "Order Details", true}));
INSTANTIATE_TEST_SUITE_P(Jet4, CheckerFindsDamage,
                         ::testing::Values(Case{"clientes/clientes-v2000-small.mdb", "clientes"}));

// Sibling links need an index of several leaves: the first such index of
// the table has a leaf's next pointer cut.
void breakSiblingLink(const Case& c) {
  BrokenCopy copy(c.fixture);
  const jet::Table t = copy.table(c.table);
  for (size_t r = 0; r < t.def().real_indexes.size(); ++r) {
    const jet::RealIndex& idx = t.def().real_indexes[r];
    jet::IndexWalker walker(copy.db().pages(), copy.fmt(), idx.root_page, t.def().page);
    const std::vector<uint32_t> leaves = walker.leafChain();
    if (leaves.size() < 2) continue;
    const uint32_t broken = leaves[leaves.size() / 2 - 1];
    copy.put32(broken, copy.fmt().index_next, 0);
    expectExactly(copy.check(), {{indexWhere(t.def(), r), broken, "enlaza con las páginas"}});
    return;
  }
  ADD_FAILURE() << "no index of several leaves";
}

TEST(CheckerFindsDamage, LeafSiblingLinkBroken) {
  REQUIRE_FIXTURES();
  for (const Case& c : {Case{"real/jet3/nwind.mdb", "Orders"},
                        Case{"real/jet4/compIndexTestV2000.mdb", "Table1"}}) {
    SCOPED_TRACE(c.fixture);
    breakSiblingLink(c);
  }
}

// A deleted row needs both flags; with 0x8000 alone other readers still show it.
TEST(CheckerFindsDamage, DeletedSlotWithoutItsSecondFlag) {
  REQUIRE_FIXTURES();
  for (const char* fixture :
       {"real/jet3/overflowTestV1997.mdb", "real/jet4/overflowTestV2000.mdb"}) {
    SCOPED_TRACE(fixture);
    BrokenCopy copy(fixture);
    const jet::Table t = copy.table("Table1");
    ASSERT_TRUE(t.def().real_indexes.empty());
    const std::vector<jet::RowId> rows = t.rowIds();
    const jet::RowId victim = rows.front();
    const size_t slot = copy.slotOffset(victim);
    ASSERT_EQ(copy.get16(victim.page, slot) & 0xC000, 0);
    copy.put16(victim.page, slot, copy.get16(victim.page, slot) | 0x8000);
    expectExactly(
        copy.check(),
        {{"tabla 'Table1'", t.def().page, "pero tiene " + std::to_string(rows.size() - 1)},
         {"tabla 'Table1'", victim.page, "solo con 0x8000 (le falta 0x4000)"}});
  }
}

// A node entry that no longer repeats the last entry of its child page.
TEST(CheckerFindsDamage, NodeEntryNotTheLastOfItsChild) {
  REQUIRE_FIXTURES();
  BrokenCopy copy("real/jet3/nwind.mdb");
  const jet::Table t = copy.table("Orders");
  for (size_t r = 0; r < t.def().real_indexes.size(); ++r) {
    const jet::RealIndex& idx = t.def().real_indexes[r];
    jet::IndexWalker walker(copy.db().pages(), copy.fmt(), idx.root_page, t.def().page);
    const jet::IndexPage root = walker.page(idx.root_page);
    if (root.leaf) continue;
    if (auto changed = bumpKey(copy, root)) {
      expectExactly(copy.check(),
                    {{indexWhere(t.def(), r), root.number,
                      "no repite la última de su página hija " + std::to_string(changed->child)}});
      return;
    }
  }
  FAIL() << "no node entry could change in place";
}

// The node byte of index pages: 1 on Access's node pages, 0 on leaves.
// Another Access-file library leaves 0 on node pages too, which no reader
// uses: a note. Any other value, or 1 on a leaf, is damage.
TEST(CheckerFindsDamage, NodeByteOtherThanTheTwoWritersLeave) {
  REQUIRE_FIXTURES();
  struct Fault {
    bool on_leaf;
    uint8_t value;
    bool damage;
  };
  for (const Fault f : {Fault{false, 0, false}, Fault{false, 2, true}, Fault{true, 1, true}}) {
    SCOPED_TRACE(std::to_string(f.value) + (f.on_leaf ? " on a leaf" : " on a node"));
    BrokenCopy copy("real/jet3/nwind.mdb");
    const jet::Table t = copy.table("Orders");
    const jet::RealIndex& idx = t.def().real_indexes.at(0);
    jet::IndexWalker walker(copy.db().pages(), copy.fmt(), idx.root_page, t.def().page);
    ASSERT_FALSE(walker.page(idx.root_page).leaf);
    const uint32_t pg = f.on_leaf ? walker.firstLeaf() : idx.root_page;
    copy.page(pg)[jet::indexNodeFlagOffset(copy.fmt())] = f.value;
    const jet::CheckReport r = copy.check();
    if (f.damage) {
      expectExactly(r, {{indexWhere(t.def(), 0), pg, "su marca de nodo vale"}});
    } else {
      expectExactly(r, {});
      EXPECT_TRUE(std::any_of(r.notes.begin(), r.notes.end(), [&](const jet::CheckProblem& n) {
        return n.where == indexWhere(t.def(), 0) && n.message.find("1 página de nodo tiene") == 0;
      })) << "the node page is noted";
    }
  }
}

// The autonumber counter below a value the table holds: the next row would
// repeat it.
TEST(CheckerFindsDamage, AutonumberCounterBelowTheHighestValue) {
  REQUIRE_FIXTURES();
  for (const Case& c : {Case{"real/jet3/nwind.mdb", "Categories"},
                        Case{"clientes/clientes-v2000-small.mdb", "cliprod"}}) {
    SCOPED_TRACE(c.fixture);
    BrokenCopy copy(c.fixture);
    const jet::Table t = copy.table(c.table);
    size_t column = t.def().columns.size();
    for (size_t i = 0; i < t.def().columns.size(); ++i) {
      if (t.def().columns[i].isAutonumber()) column = i;
    }
    ASSERT_LT(column, t.def().columns.size());
    int64_t highest = 0;
    for (jet::RowId id : t.rowIds()) highest = std::max(highest, t.read(id, column).asInt());
    ASSERT_GE(t.def().autonumber, highest);
    copy.put32(t.def().page, copy.fmt().tdef_autonumber, static_cast<uint32_t>(highest - 1));
    expectExactly(copy.check(), {{"tabla '" + t.name() + "'", t.def().page,
                                  "el contador de autonumeración (" + std::to_string(highest - 1) +
                                      ") es menor que el valor " + std::to_string(highest)}});
  }
}

// A moved row pointing at a live row instead of its overflow part: the
// part is left with nothing pointing at it.
TEST(CheckerFindsDamage, MovedRowPointingElsewhere) {
  REQUIRE_FIXTURES();
  BrokenCopy copy("real/jet4/overflowTestV2000.mdb");
  const jet::Table t = copy.table("Table1");
  for (uint32_t pg : t.dataPages()) {
    jet::DataPage page(copy.db().pages(), copy.fmt(), pg);
    for (uint16_t r = 0; r < page.rowCount(); ++r) {
      if ((page.slot(r) & 0xC000) != 0x4000) continue;
      const jet::RowId moved{pg, static_cast<uint8_t>(r)};
      const jet::RowId part = jet::RowId::fromPointer(page.row(r).u32(0));
      const jet::RowId other = t.rowIds().front();
      ASSERT_EQ(page.slot(other.row) & 0xC000, 0);
      copy.put32(pg, copy.rowStart(moved), other.toPointer());
      auto text = [](jet::RowId id) {
        return std::to_string(id.page) + ":" + std::to_string(id.row);
      };
      expectExactly(copy.check(),
                    {{"tabla 'Table1'", pg,
                      "la fila movida " + text(moved) + " apunta a " + text(other) +
                          ", que no es una parte desbordada"},
                     {"tabla 'Table1'", part.page,
                      "la fila " + text(part) + " está marcada borrada solo con 0x8000"}});
      return;
    }
  }
  FAIL() << "no moved row";
}

// A memo value kept on a long-value page that its column's maps no longer
// list.
TEST(CheckerFindsDamage, LongValuePageOutsideItsColumnMap) {
  REQUIRE_FIXTURES();
  BrokenCopy copy("clientes/clientes-v2000-small.mdb");
  const jet::Format& f = copy.fmt();
  const jet::Table t = copy.table("clientes");
  const jet::Column& notes = t.def().columns[*t.def().findColumn("clinotas")];
  uint32_t lv_page = 0;
  for (jet::RowId id : t.rowIds()) {
    jet::RowLayout layout(t.rowBytes(id), f, true);
    if (!layout.present(notes)) continue;
    const jet::ByteView field = *layout.variable(notes);
    if (field.size() >= 12 && (field.u8(3) & 0x80) == 0) {
      lv_page = jet::RowId::fromPointer(field.u32(4)).page;
      break;
    }
  }
  ASSERT_NE(lv_page, 0u) << "no memo kept outside its row";
  // The inline maps that list the page: the column's owned and free maps.
  size_t cleared = 0;
  for (uint32_t pg = 2; pg < copy.db().pages().pageCount(); ++pg) {
    if (copy.page(pg)[0] != 0x01 || copy.get32(pg, 4) != 0) continue;
    jet::DataPage maps(copy.db().pages(), f, pg);
    for (uint16_t r = 0; r < maps.rowCount(); ++r) {
      if (maps.slot(r) & 0xC000) continue;
      const jet::ByteView row = maps.row(r);
      if (row.size() < 5 || row.u8(0) != 0 || lv_page < row.u32(1)) continue;
      const size_t bit = lv_page - row.u32(1);
      if (5 + bit / 8 < row.size() && (row.u8(5 + bit / 8) >> (bit % 8) & 1)) {
        copy.setMapBit(jet::RowId{pg, static_cast<uint8_t>(r)}.toPointer(), lv_page, false);
        ++cleared;
      }
    }
  }
  ASSERT_GE(cleared, 1u);
  expectExactly(copy.check(), {{"tabla 'clientes'", lv_page, "el campo 'clinotas' de la fila"},
                               {"tabla 'clientes'", lv_page, "que el mapa del campo no incluye"}});
}

// Damage anywhere: bytes changed at random (fixed seed) in the pages after
// the header. The checker reports, it never throws or reads out of bounds,
// and it sees most of the changes that land in structures.
TEST(CheckerFindsDamage, NeverThrowsOnRandomDamage) {
  REQUIRE_FIXTURES();
  for (const char* fixture :
       {"real/jet3/compIndexTestV1997.mdb", "clientes/clientes-v2000-small.mdb"}) {
    SCOPED_TRACE(fixture);
    const fs::path original = testsupport::fixture(fixture);
    const std::vector<uint8_t> bytes = readFile(original);
    const fs::path path = testsupport::scratchDir() / original.filename();
    std::mt19937 random(20240607);
    size_t opened = 0, found = 0;
    for (int round = 0; round < 150; ++round) {
      std::vector<uint8_t> copy = bytes;
      const size_t page_size = copy.size() % 4096 == 0 && copy[0x14] == 1 ? 4096 : 2048;
      for (int k = 0; k < 3; ++k) {
        const size_t at = page_size + random() % (copy.size() - page_size);
        copy[at] = static_cast<uint8_t>(random());
      }
      writeFile(path, copy);
      std::optional<jet::Database> db;
      try {
        db.emplace(path.string());
      } catch (const jet::JetError&) {
        continue;  // the catalog itself is gone: the tool reports the open error
      }
      ++opened;
      jet::CheckReport r;
      EXPECT_NO_THROW(r = jet::checkDatabase(*db)) << "round " << round;
      if (!r.ok()) ++found;
    }
    EXPECT_GT(opened, 50u);
    EXPECT_GT(found, opened / 4);
    std::printf("%s: %zu damaged copies opened, %zu found damaged\n", fixture, opened, found);
  }
}

// A dependent row whose client does not exist, in the file that enforces
// its relationships. The index entry of the row is changed with it where
// the stored bytes allow, so that only the relationship is broken.
TEST(CheckerFindsDamage, ForeignKeyWithoutReferencedRow) {
  REQUIRE_FIXTURES();
  BrokenCopy copy("clientes/clientes-v2003-rel.mdb");
  const jet::Format& f = copy.fmt();
  const jet::Table clients = copy.table("clientes");
  const jet::Table deps = copy.table("cliprod");
  const size_t code = *deps.def().findColumn("codcli");
  const jet::Column& col = deps.def().columns[code];
  ASSERT_TRUE(col.isFixed());

  int64_t max_code = 0;
  for (jet::RowId id : clients.rowIds()) {
    max_code = std::max(max_code, clients.read(id, *clients.def().findColumn("CLICOD")).asInt());
  }
  const int32_t orphan = static_cast<int32_t>(max_code + 1000);

  // The row with the highest codcli: the last entry of the codcli index, so
  // that a higher value keeps the index in order.
  const size_t real = indexOnColumn(deps.def(), col.number);
  const jet::RealIndex& idx = deps.def().real_indexes[real];
  jet::IndexWalker walker(copy.db().pages(), f, idx.root_page, deps.def().page);
  const uint32_t leaf = walker.leafChain().back();
  const jet::IndexPage p = walker.page(leaf);
  const jet::IndexEntry last = p.entries.back();
  std::vector<jet::Value> values = deps.readRow(last.row);
  values[code] = jet::Value::integer(orphan);
  jet::IndexKeyEncoder encoder(f, deps.def(), idx,
                               jet::readSortOrders(copy.db().pages(), f, deps.def()));
  const jet::KeyResult key = encoder.encode(values);
  ASSERT_TRUE(key.ok());

  // The row: the fixed column's bytes (after the column count).
  const size_t at = copy.rowStart(last.row) + (f.is_jet4() ? 2 : 1) + col.fixed_offset;
  std::memcpy(copy.page(last.row.page) + at, &orphan, 4);

  std::vector<Expected> want = {{"relación 'clientescliprod'", last.row.page,
                                 "la fila " + std::to_string(last.row.page) + ":" +
                                     std::to_string(last.row.row) + " de 'cliprod' (codcli = " +
                                     std::to_string(orphan) + ") no tiene registro relacionado"}};
  // The index entry, where the changed bytes lie outside the shared prefix
  // and the leaf is the root (no parent repeats its last entry).
  const auto stored = storedEntries(copy.page(leaf), f);
  size_t first_diff = 0;
  while (first_diff < key.bytes.size() && key.bytes[first_diff] == last.key[first_diff])
    ++first_diff;
  if (leaf == idx.root_page && key.bytes.size() == last.key.size() &&
      (p.entries.size() == 1 || first_diff >= p.prefix_length)) {
    const size_t skip = p.entries.size() == 1 ? 0 : p.prefix_length;
    std::memcpy(copy.page(leaf) + f.index_first_entry + stored.back().first + first_diff - skip,
                key.bytes.data() + first_diff, key.bytes.size() - first_diff);
  } else {
    want.push_back({indexWhere(deps.def(), real), leaf, "guarda la clave"});
  }
  expectExactly(copy.check(), want);
}

// ---------------------------------------------------------------------------
// Generated client databases (tools/mkclientes): half the clients have notes,
// some long enough to lie outside the row.

fs::path generated(const std::string& name, const std::string& options) {
  const fs::path file = testsupport::scratchDir() / name;
  const std::string cmd = testsupport::shellQuoted(CHECKER_TEST_MKCLIENTES) + " " +
                          testsupport::shellQuoted(file.string()) + " --quiet " + options;
  EXPECT_EQ(testsupport::runCommand(cmd), 0) << cmd;
  return file;
}

// Deletes rows as an Access-file library that leaves long values in place
// would: through the engine, with the long-value pages then put back as
// they were. Returns the long-value rows left behind.
std::vector<jet::RowId> deleteLeavingLongValues(const fs::path& file, const std::string& table,
                                                size_t how_many) {
  std::vector<jet::RowId> left;
  std::map<uint32_t, std::vector<uint8_t>> before;  // long-value pages
  {
    jet::Database db(file.string(), jet::OpenMode::ReadWrite);
    const jet::Table t = db.table(table);
    std::vector<jet::RowId> victims;
    for (jet::RowId id : t.rowIds()) {
      const std::vector<jet::RowId> lv = longValueRowsOf(t, id);
      if (lv.empty()) continue;
      victims.push_back(id);
      left.insert(left.end(), lv.begin(), lv.end());
      for (jet::RowId r : lv) {
        const jet::ByteView p = db.pages().page(r.page);
        before.emplace(r.page, std::vector<uint8_t>(p.data(), p.data() + p.size()));
      }
      if (victims.size() == how_many) break;
    }
    db.begin();
    for (jet::RowId id : victims) db.deleteRow(t, id);
    db.commit();
  }
  std::vector<uint8_t> bytes = readFile(file);
  for (const auto& [page, content] : before) {
    std::copy(content.begin(), content.end(), bytes.begin() + page * content.size());
  }
  writeFile(file, bytes);
  return left;
}

class CheckerOnGeneratedFiles : public ::testing::TestWithParam<const char*> {};

// Our own delete leaves no long value behind; another library's may, and
// each row it leaves is reported with its table, column and page.
TEST_P(CheckerOnGeneratedFiles, ReportsTheLongValuesADeleteLeftBehind) {
  const fs::path file = generated(
      "clientes.mdb", std::string("--clients 300 --max-deps 1 --seed 5 --format ") + GetParam());
  {
    jet::Database db(file.string(), jet::OpenMode::ReadWrite);
    const jet::Table t = db.table("clientes");
    size_t with_long_values = 0;
    db.begin();
    for (jet::RowId id : t.rowIds()) {
      if (longValueRowsOf(t, id).empty() || ++with_long_values > 10) continue;
      db.deleteRow(t, id);
    }
    db.commit();
    ASSERT_GT(with_long_values, 20u);
  }
  {
    jet::Database db(file.string());
    const jet::CheckReport r = jet::checkDatabase(db);
    EXPECT_TRUE(r.ok()) << listProblems(r);
  }
  const std::vector<jet::RowId> left = deleteLeavingLongValues(file, "clientes", 10);
  ASSERT_GE(left.size(), 10u);
  std::vector<Expected> want;
  for (jet::RowId lv : left) want.push_back(orphanedLongValue("clientes", lv));
  jet::Database db(file.string());
  const jet::CheckReport r = jet::checkDatabase(db);
  expectExactly(r, want);
  for (const jet::CheckProblem& p : r.problems) {
    EXPECT_NE(p.message.find("campo 'clinotas'"), std::string::npos) << p.text();
  }
}

// The checker reads a page at a time: on a file several times its page
// budget, the page source never holds much more than the budget.
TEST_P(CheckerOnGeneratedFiles, HoldsFewPagesAtOnce) {
  const fs::path file = generated(
      "grande.mdb",
      std::string("--clients 8000 --max-deps 4 --seed 6 --relations --format ") + GetParam());
  jet::Database db(file.string());
  ASSERT_GT(db.pages().pageCount(), 4 * jet::check::kCheckerPageBudget);
  db.pages().releaseReadPages();
  const jet::CheckReport r = jet::checkDatabase(db);
  EXPECT_TRUE(r.ok()) << listProblems(r);
  // Between two settles: one page more, or a row's long-value chain.
  EXPECT_LE(db.pages().peakReadPagesHeld(), jet::check::kCheckerPageBudget + 16);
}

INSTANTIATE_TEST_SUITE_P(Formats, CheckerOnGeneratedFiles, ::testing::Values("jet4", "jet3"));

}  // namespace
