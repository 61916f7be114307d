// Deleting rows from copies of every shared fixture, in rounds, through the
// engine's own delete (Database opened read-write, deleteRow).
//
// For each user table, rows are chosen with a fixed seed: the first row, the
// last, one from the middle, rows sharing a page, rows whose index entries
// are the first or last of an index page, moved (overflow) rows, rows with
// memo or OLE values, every row of one page, and finally every row left.
// Tables are taken with the referring side of enforced relationships first,
// so that the last round empties every table; a delete that a relationship
// still refuses (error 3200) must leave the file byte for byte as it was.
//
// After every round the file must hold exactly the rows expected:
//  (a) our reader reads exactly the remaining rows, with the values they had,
//      and each table's row count says as many;
//  (b) mdb-export and mdb-reader read them too (tests/node/compare.mjs on a
//      snapshot of the file, run beside the next rounds);
//  (c) every index of a changed table has one entry per live row (none for an
//      all-null row of an index that ignores nulls) with the key the encoder
//      builds, in strictly increasing order, in a tree whose nodes repeat
//      their children's last entries, whose siblings and tails agree, whose
//      usage map names exactly its pages and whose pages the global map
//      counts as used;
//  (d) the pages of tables that were not changed are byte for byte as before,
//      and no page changed outside the changed tables' pages, their maps,
//      long-value pages and the global map;
//  (e) the file did not grow, but for node pages an index needed when a
//      removal made a node page too long (a split takes a free page of the
//      file first, and adds one at its end only when there is none).
//
// Besides the fixtures, generated files: client databases from mkclientes,
// and a table whose text index holds names from 1 to 200 characters, on
// full node pages, where a leaf's new last entry is often longer than the
// one that went.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#if __has_include("jet/checker.h")
#include "jet/checker.h"
#define DELETE_TEST_HAS_CHECKER 1
#endif
#include "delete_plan.h"
#include "delete_test_support.h"
#include "format/data_page.h"
#include "format/usage_map.h"
#include "index/index_key.h"
#include "index/index_walk.h"
#include "jet/creator.h"
#include "jet/database.h"
#include "jet/error.h"
#include "relationships.h"
#include "support/shared_fixtures.h"

namespace {

namespace fs = std::filesystem;
using deltest::fileBytes;

constexpr uint32_t kSeed = 20240611;

const char* const kRoundNames[] = {
    "the first row",
    "the last row",
    "a middle row",
    "rows on one page",
    "rows at the ends of index pages",
    "moved rows",
    "rows with long values",
    "every row of a page",
    "all rows left",
};
constexpr size_t kRounds = sizeof kRoundNames / sizeof kRoundNames[0];

// Counts over all files, printed by the last test.
struct Tally {
  size_t files = 0, tables = 0, rounds = 0, deleted = 0, cascaded = 0, refused = 0;
  size_t pages_freed = 0, index_checks = 0, entries_checked = 0, compares = 0, file_checks = 0;
  size_t moved_deleted = 0, long_value_rows_deleted = 0, edge_rows_deleted = 0;
  size_t pages_added = 0;
};
Tally& tally() {
  static Tally t;
  return t;
}

uint32_t fnv(const std::string& s) {
  uint32_t h = 2166136261u;
  for (unsigned char c : s) h = (h ^ c) * 16777619u;
  return h;
}

std::string rowName(jet::RowId r) {
  return std::to_string(r.page) + ":" + std::to_string(r.row);
}

struct TableState {
  std::string name;
  uint32_t tdef = 0;
  bool has_long_values = false;
  bool unflagged_nodes = false;  // node pages shipped with node flag 0 (another writer's)
  std::map<jet::RowId, std::vector<jet::Value>> rows;  // the live rows, as first read
  std::vector<std::vector<jet::RowId>> rounds;
};

// The tables in an order where a table that refers to another (an enforced
// relationship's "many" side) comes before the table it refers to.
std::vector<std::string> referringFirst(const jet::Database& db) {
  std::vector<std::string> names = db.tableNames();
  auto lower = [](std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
  };
  std::vector<std::string> out;
  std::set<std::string> placed;
  while (out.size() < names.size()) {
    bool progress = false;
    for (const std::string& n : names) {
      if (placed.count(lower(n))) continue;
      bool waits = false;
      for (const jet::Relationship& r : db.relationships()) {
        if (!r.enforced() || lower(r.referenced_table) != lower(n)) continue;
        if (lower(r.table) != lower(n) && !placed.count(lower(r.table)) && db.hasTable(r.table)) {
          waits = true;
        }
      }
      if (waits) continue;
      out.push_back(n);
      placed.insert(lower(n));
      progress = true;
    }
    if (!progress) {  // a cycle: take the rest as they come
      for (const std::string& n : names) {
        if (placed.insert(lower(n)).second) out.push_back(n);
      }
    }
  }
  return out;
}

// Chooses the rows of every round for one table.
void chooseRounds(const jet::Database& db, const jet::Table& table, TableState& st,
                  std::mt19937& rng) {
  const jet::Format& fmt = db.format();
  const jet::TableDef& def = table.def();
  std::vector<jet::RowId> ids = table.rowIds();
  st.rounds.assign(kRounds, {});
  std::set<jet::RowId> taken;
  auto take = [&](size_t round, jet::RowId id) {
    if (taken.insert(id).second) st.rounds[round].push_back(id);
  };
  auto pick = [&](size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng); };
  if (ids.empty()) return;

  take(0, ids.front());
  take(1, ids.back());
  take(2, ids[ids.size() / 2]);

  std::map<uint32_t, std::vector<jet::RowId>> by_page;
  for (jet::RowId id : ids) by_page[id.page].push_back(id);
  auto left = [&](uint32_t page) {
    std::vector<jet::RowId> out;
    for (jet::RowId id : by_page[page]) {
      if (!taken.count(id)) out.push_back(id);
    }
    return out;
  };

  // Two or three rows of one page.
  std::vector<uint32_t> shared;
  for (const auto& [page, rows] : by_page) {
    if (left(page).size() >= 2) shared.push_back(page);
  }
  if (!shared.empty()) {
    std::vector<jet::RowId> rows = left(shared[pick(shared.size())]);
    std::shuffle(rows.begin(), rows.end(), rng);
    for (size_t i = 0; i < rows.size() && i < 3; ++i) take(3, rows[i]);
  }

  // Rows whose entries open or close a leaf: the first and last leaf's ends
  // and those of one leaf in between, for each index.
  for (const jet::RealIndex& idx : def.real_indexes) {
    jet::IndexWalker w(db.pages(), fmt, idx.root_page, def.page);
    std::vector<jet::IndexPage> leaves;
    w.forEachLeaf([&](const jet::IndexPage& p) {
      if (!p.entries.empty()) leaves.push_back(p);
    });
    if (leaves.empty()) continue;
    std::vector<const jet::IndexPage*> chosen{&leaves.front(), &leaves.back(),
                                              &leaves[pick(leaves.size())]};
    for (const jet::IndexPage* p : chosen) {
      if (st.rounds[4].size() >= 8) break;
      take(4, p->entries.front().row);
      take(4, p->entries.back().row);
    }
  }

  // Moved rows: a slot that points at the row's data elsewhere.
  std::vector<jet::RowId> moved;
  for (jet::RowId id : ids) {
    const uint16_t slot = jet::DataPage(db.pages(), fmt, id.page).slot(id.row);
    if ((slot & jet::kSlotMoved) && !(slot & jet::kSlotDeleted) && !taken.count(id)) {
      moved.push_back(id);
    }
  }
  std::shuffle(moved.begin(), moved.end(), rng);
  for (size_t i = 0; i < moved.size() && i < 4; ++i) take(5, moved[i]);

  // Rows with memo or OLE values, the longest first (those lie outside the row).
  std::vector<std::pair<size_t, jet::RowId>> with_lv;
  for (jet::RowId id : ids) {
    if (taken.count(id)) continue;
    size_t longest = 0;
    bool any = false;
    for (size_t c = 0; c < def.columns.size(); ++c) {
      if (!def.columns[c].isLongValue()) continue;
      const jet::Value& v = st.rows.at(id)[c];
      if (v.isNull()) continue;
      any = true;
      longest = std::max(longest, v.asString().size());
    }
    if (any) with_lv.emplace_back(longest, id);
  }
  std::stable_sort(with_lv.begin(), with_lv.end(),
                   [](const auto& a, const auto& b) { return a.first > b.first; });
  for (size_t i = 0; i < with_lv.size() && i < 3; ++i) take(6, with_lv[i].second);

  // Every row of a page: not the fullest page when there are others.
  std::vector<uint32_t> pages;
  size_t fullest = 0;
  uint32_t fullest_page = 0;
  for (const auto& [page, rows] : by_page) {
    const size_t n = left(page).size();
    if (n == 0) continue;
    pages.push_back(page);
    if (n > fullest) fullest = n, fullest_page = page;
  }
  if (pages.size() > 1) std::erase(pages, fullest_page);
  if (!pages.empty()) {
    for (jet::RowId id : left(pages[pick(pages.size())])) take(7, id);
  }

  // The last round takes every row still there when it comes (also rows
  // that a relationship kept in earlier rounds).
}

std::string indexName(const jet::TableDef& def, size_t real) {
  std::string names;
  for (const jet::LogicalIndex& l : def.logical_indexes) {
    if (l.real_index == real) names += (names.empty() ? "" : "/") + l.name;
  }
  return names.empty() ? "#" + std::to_string(real) : names;
}

// The pages that belong to a table: its definition, its data pages, the
// pages of its index trees and the map pages of its reference-type maps;
// `maps` gets the row pointers of its maps.
std::set<uint32_t> tablePages(const jet::Database& db, const jet::TableDef& def,
                              std::vector<uint32_t>* maps = nullptr) {
  std::set<uint32_t> out(def.pages.begin(), def.pages.end());
  for (uint32_t p : jet::readUsageMap(db.pages(), db.format(), def.used_map)) out.insert(p);
  std::vector<uint32_t> pointers{def.used_map, def.free_map};
  for (const jet::RealIndex& idx : def.real_indexes) {
    jet::IndexWalker w(db.pages(), db.format(), idx.root_page, def.page);
    for (const auto& level : w.levels()) out.insert(level.begin(), level.end());
    pointers.push_back(idx.used_map);
  }
  for (uint32_t m : pointers) {
    if (m == 0) continue;
    const jet::UsageMapContents c = jet::readUsageMapContents(db.pages(), db.format(), m);
    out.insert(c.storage.begin() + 1, c.storage.end());  // after the row's own page
  }
  if (maps) *maps = pointers;
  return out;
}

// Whether the global map's windows take in the page.
bool globalMapNames(const jet::Database& db, uint32_t page) {
  const jet::UsageMapContents c =
      jet::readUsageMapContents(db.pages(), db.format(), jet::kGlobalMapPointer);
  return std::any_of(c.windows.begin(), c.windows.end(),
                     [&](const auto& w) { return page >= w.first && page < w.end; });
}

// Where a map row lies in the file: offset and length.
std::pair<size_t, size_t> mapRowSpan(const jet::Database& db, uint32_t pointer) {
  jet::ByteView row = jet::rowAt(db.pages(), db.format(), jet::RowId::fromPointer(pointer));
  const jet::RowId id = jet::RowId::fromPointer(pointer);
  const size_t in_page = static_cast<size_t>(row.data() - db.pages().page(id.page).data());
  return {id.page * db.format().page_size + in_page, row.size()};
}

// (c): every index of one table against the rows expected.
void checkIndexes(const jet::Database& db, const TableState& st, const std::string& where) {
  const jet::Table table = db.table(st.name);
  const jet::TableDef& def = table.def();
  const jet::Format& fmt = db.format();
  const std::vector<jet::SortOrder> sorts = jet::readSortOrders(db.pages(), fmt, def);
  for (size_t r = 0; r < def.real_indexes.size(); ++r) {
    const jet::RealIndex& idx = def.real_indexes[r];
    const std::string at = where + " " + st.name + "." + indexName(def, r);
    ++tally().index_checks;
    deltest::TreeShape shape =
        deltest::checkTreeShape(db.pages(), fmt, idx.root_page, def.page,
                                /*no_empty_leaves=*/false, st.unflagged_nodes);
    for (const std::string& p : shape.problems) ADD_FAILURE() << at << ": " << p;
    if (!shape.problems.empty()) continue;

    const std::vector<uint32_t> mapped = jet::readUsageMap(db.pages(), fmt, idx.used_map);
    if (std::set<uint32_t>(mapped.begin(), mapped.end()) != shape.pages) {
      std::ostringstream s;
      s << at << ": usage map names";
      for (uint32_t p : mapped) s << " " << p;
      s << "; the tree has";
      for (uint32_t p : shape.pages) s << " " << p;
      ADD_FAILURE() << s.str();
    }
    for (uint32_t p : shape.pages) {
      if (jet::usageMapBit(db.pages(), fmt, jet::kGlobalMapPointer, p)) {
        ADD_FAILURE() << at << ": tree page " << p << " is free in the global map";
      }
    }

    jet::IndexKeyEncoder encoder(fmt, def, idx, sorts);
    std::map<jet::RowId, size_t> seen;
    size_t bad = 0;
    for (const jet::IndexEntry& e : shape.entries) {
      ++tally().entries_checked;
      auto it = st.rows.find(e.row);
      if (it == st.rows.end()) {
        if (++bad <= 5) ADD_FAILURE() << at << ": entry for row " << rowName(e.row) << ", gone";
        continue;
      }
      ++seen[e.row];
      jet::KeyResult key = encoder.encode(it->second);
      if (key.ok() && key.bytes != e.key) {
        if (++bad <= 5) {
          ADD_FAILURE() << at << ": row " << rowName(e.row) << " stored key " << deltest::hex(e.key)
                        << ", computed " << deltest::hex(key.bytes);
        }
      }
    }
    const bool ignore_nulls = idx.flags & jet::RealIndex::kIgnoreNulls;
    for (const auto& [id, values] : st.rows) {
      const size_t n = seen.count(id) ? seen[id] : 0;
      const size_t want = ignore_nulls && encoder.allNull(values) ? 0 : 1;
      if (n != want && ++bad <= 5) {
        ADD_FAILURE() << at << ": live row " << rowName(id) << " has " << n << " entries, not "
                      << want;
      }
    }
  }
}

// The engine's file checker, when it is built in: no problem anywhere.
void checkWholeFile(const jet::Database& db, const std::string& where) {
#ifdef DELETE_TEST_HAS_CHECKER
  const jet::CheckReport report = jet::checkDatabase(db);
  ++tally().file_checks;
  for (size_t i = 0; i < report.problems.size() && i < 10; ++i) {
    ADD_FAILURE() << where << ": " << report.problems[i].text();
  }
  EXPECT_TRUE(report.ok()) << where << ": " << report.problemCount() << " problems";
#else
  (void)db;
  (void)where;
#endif
}

// (a): the rows our reader reads, their values and the stored row count.
void checkRows(const jet::Database& db, const TableState& st, const std::string& where) {
  const jet::Table table = db.table(st.name);
  std::vector<jet::RowId> ids = table.rowIds();
  std::vector<jet::RowId> want;
  for (const auto& [id, values] : st.rows) want.push_back(id);
  std::sort(ids.begin(), ids.end());
  if (ids != want) {
    ADD_FAILURE() << where << " " << st.name << ": " << ids.size() << " rows read, " << want.size()
                  << " expected";
    return;
  }
  EXPECT_EQ(table.def().row_count, want.size()) << where << " " << st.name << ": row count";
  size_t bad = 0;
  for (jet::RowId id : ids) {
    if (table.readRow(id) != st.rows.at(id) && ++bad <= 3) {
      ADD_FAILURE() << where << " " << st.name << ": row " << rowName(id) << " reads otherwise";
    }
  }
}

std::string shellQuote(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

struct CommandResult {
  int status = -1;
  std::string output;
};

CommandResult runCommand(const std::string& command) {
  CommandResult r;
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return r;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) r.output.append(buf, n);
  const int status = ::pclose(pipe);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

// Whether the comparison failed only because a reader fault listed for the
// fixture no longer occurs: the rows that showed it are gone.
bool onlyUnusedFaults(const std::string& output) {
  std::istringstream in(output);
  std::string line;
  size_t unused = 0, summaries = 0;
  while (std::getline(in, line)) {
    if (line.rfind("FAIL", 0) == 0) {
      if (line.find("is listed for this file, but no value needed it") == std::string::npos) {
        return false;
      }
      ++unused;
    }
    if (line.find(": the readers disagree (" + std::to_string(unused) + " problems)") !=
        std::string::npos) {
      ++summaries;
    }
  }
  return unused > 0 && summaries == 1;
}

// (b): mdb-export and mdb-reader against jetdump, on a snapshot of the file.
class ReaderCompare {
 public:
  static std::string unavailable() {
    if (std::string(DELETE_TEST_NODE).empty()) return "Node.js (node) not found";
    return {};
  }
  void start(const fs::path& snapshot, const std::string& name) {
    const std::string cmd = "TZ=UTC " + shellQuote(DELETE_TEST_NODE) + " " +
                            shellQuote(DELETE_TEST_COMPARE) + " --jetdump " +
                            shellQuote(DELETE_TEST_JETDUMP) + " --name " + shellQuote(name) + " " +
                            shellQuote(snapshot.string());
    pending_.push_back({snapshot.filename().string(),
                        std::async(std::launch::async, [cmd] { return runCommand(cmd); })});
  }
  void finish() {
    for (auto& [label, result] : pending_) {
      CommandResult r = result.get();
      ++tally().compares;
      if (r.status == 77 && !testsupport::requireShared()) {
        std::printf("reader comparison skipped after %s:\n%s", label.c_str(), r.output.c_str());
        continue;
      }
      if (r.status == 1 && onlyUnusedFaults(r.output)) continue;
      EXPECT_EQ(r.status, 0) << "readers disagree after " << label << ":\n" << r.output;
    }
    pending_.clear();
  }

 private:
  std::vector<std::pair<std::string, std::future<CommandResult>>> pending_;
};

// Client databases the generator writes, named generated/<format>-<options>.mdb.
const fs::path kGenerated = "generated";

std::vector<fs::path> fixtureList() {
  std::vector<fs::path> files = testsupport::allFixtures();
  if (files.empty()) files.push_back({});  // one test that says why it cannot run
  for (const char* name : {"jet4-relations.mdb", "jet3.mdb", "jet4-names.mdb", "jet3-names.mdb"}) {
    files.push_back(kGenerated / name);
  }
  return files;
}

bool isGenerated(const fs::path& file) {
  return file.parent_path() == kGenerated;
}

std::string relativeName(const fs::path& file) {
  if (file.empty()) return "none";
  if (isGenerated(file)) return file.generic_string();
  return fs::relative(file, testsupport::sharedDir() / "fixtures").generic_string();
}

// 3 000 names of 1 to 200 letters under a text index, in random order.
void buildNames(const fs::path& file, jet::Version version) {
  jet::DatabaseCreator db(file.string(), {version});
  jet::TableDesign t{"nombres", {}, {}};
  jet::ColumnDesign id{"id", jet::ColumnType::Long};
  id.autonumber = true;
  t.columns = {id, {"nombre", jet::ColumnType::Text, 255}};
  t.indexes = {{"PrimaryKey", {{"id"}}, true}, {"nombre", {{"nombre"}}}};
  const size_t table = db.addTable(t);
  std::mt19937 rng(31);
  for (int i = 0; i < 3000; ++i) {
    std::string name(std::uniform_int_distribution<size_t>(1, 200)(rng), 'a');
    for (char& c : name)
      c = static_cast<char>('a' + std::uniform_int_distribution<int>(0, 25)(rng));
    db.insert(table, {jet::Value::null(), jet::Value::text(name)});
  }
  db.finish();
}

// The file a round starts from: a copy of the fixture, or a generated one.
void materialize(const fs::path& param, const fs::path& copy) {
  if (!isGenerated(param)) {
    fs::copy_file(param, copy);
    return;
  }
  const std::string name = param.stem().string();
  if (name.find("names") != std::string::npos) {
    buildNames(copy, name.substr(0, 4) == "jet3" ? jet::Version::Jet3 : jet::Version::Jet4);
    return;
  }
  std::string cmd = shellQuote(DELETE_TEST_MKCLIENTES) + " " + shellQuote(copy.string()) +
                    " --clients 1500 --max-deps 3 --seed 7 --quiet --format " + name.substr(0, 4);
  if (name.find("relations") != std::string::npos) cmd += " --relations";
  CommandResult r = runCommand(cmd);
  ASSERT_EQ(r.status, 0) << r.output;
}

class DeleteRounds : public ::testing::TestWithParam<fs::path> {};

TEST_P(DeleteRounds, RowsGoAndTheFileStaysSound) {
  if (!isGenerated(GetParam())) REQUIRE_FIXTURES();
  const std::string rel = relativeName(GetParam());
  const fs::path dir = testsupport::scratchDir();
  const fs::path copy = dir / "db.mdb";
  materialize(GetParam(), copy);
  if (HasFatalFailure()) return;
  fs::permissions(copy, fs::perms::owner_read | fs::perms::owner_write);
  Tally& t = tally();
  ++t.files;

  const std::string why_no_compare = ReaderCompare::unavailable();
  if (!why_no_compare.empty()) {
    if (testsupport::requireShared()) FAIL() << why_no_compare << " (REQUIRE_SHARED=1)";
    std::printf("reader comparison skipped: %s\n", why_no_compare.c_str());
  }
  ReaderCompare compare;

  // The rows before anything changes, the rounds, and a check of the file
  // as shipped with the same measures.
  std::vector<TableState> tables;
  {
    jet::Database db(copy.string());
    for (const std::string& name : referringFirst(db)) {
      jet::Table table = db.table(name);
      TableState st;
      st.name = name;
      st.tdef = table.def().page;
      for (const jet::Column& c : table.def().columns) st.has_long_values |= c.isLongValue();
      for (const jet::RealIndex& idx : table.def().real_indexes) {
        jet::IndexWalker w(db.pages(), db.format(), idx.root_page, table.def().page);
        const auto levels = w.levels();
        for (size_t lv = 0; lv + 1 < levels.size(); ++lv) {
          for (uint32_t pg : levels[lv]) st.unflagged_nodes |= w.page(pg).node_flag == 0;
        }
      }
      for (jet::RowId id : table.rowIds()) st.rows.emplace(id, table.readRow(id));
      std::mt19937 rng(kSeed ^ fnv(rel + "/" + name));
      chooseRounds(db, table, st, rng);
      tables.push_back(std::move(st));
      ++t.tables;
    }
    for (const TableState& st : tables) {
      checkRows(db, st, rel + " as shipped");
      checkIndexes(db, st, rel + " as shipped");
    }
    checkWholeFile(db, rel + " as shipped");
  }
  if (HasFailure()) return;
  std::map<uint32_t, TableState*> by_tdef;
  for (TableState& st : tables) by_tdef[st.tdef] = &st;

  for (size_t round = 0; round < kRounds; ++round) {
    const std::string where =
        rel + " round " + std::to_string(round + 1) + " (" + kRoundNames[round] + ")";
    SCOPED_TRACE(where);
    bool any = false;
    for (const TableState& st : tables) {
      any |= !st.rounds[round].empty() || (round + 1 == kRounds && !st.rows.empty());
    }
    if (!any) continue;
    ++t.rounds;

    const std::vector<uint8_t> before = fileBytes(copy);
    // The pages each table holds now, and where its maps lie.
    std::map<uint32_t, std::set<uint32_t>> pages_before;
    std::map<uint32_t, std::vector<uint32_t>> maps_before;
    {
      jet::Database db(copy.string());
      for (const TableState& st : tables) {
        pages_before[st.tdef] = tablePages(db, db.table(st.name).def(), &maps_before[st.tdef]);
      }
    }

    std::set<uint32_t> touched;
    {
      jet::Database db(copy.string(), jet::OpenMode::ReadWrite);
      for (TableState& st : tables) {
        const jet::Table table = db.table(st.name);
        std::vector<jet::RowId> ids = st.rounds[round];
        // The last round deletes a table's rows in one unit of work, the
        // others each row in its own.
        const bool one_unit = round + 1 == kRounds;
        if (one_unit) {
          for (const auto& [id, values] : st.rows) ids.push_back(id);
          if (!ids.empty()) db.begin();
        }
        for (jet::RowId id : ids) {
          if (!st.rows.count(id)) continue;  // gone with a cascading delete
          std::vector<jet::DeleteStep> plan;
          try {
            plan = jet::planDelete(db, table, id);
          } catch (const jet::JetError& e) {
            ASSERT_EQ(e.number(), jet::err::kRelatedRecords) << e.what();
            const std::vector<uint8_t> now = fileBytes(copy);
            try {
              db.deleteRow(table, id);
              ADD_FAILURE() << st.name << " row " << rowName(id) << ": not refused";
            } catch (const jet::JetError& again) {
              EXPECT_EQ(again.number(), jet::err::kRelatedRecords) << again.what();
            }
            EXPECT_TRUE(fileBytes(copy) == now)
                << st.name << " row " << rowName(id) << ": a refused delete changed the file";
            ++t.refused;
            continue;
          }
          std::vector<uint16_t> slots;
          for (const jet::DeleteStep& step : plan) {
            slots.push_back(
                jet::DataPage(db.pages(), db.format(), step.row.page).slot(step.row.row));
          }
          ASSERT_NO_THROW(db.deleteRow(table, id)) << st.name << " row " << rowName(id);
          if (round == 4) ++t.edge_rows_deleted;
          for (size_t k = 0; k < plan.size(); ++k) {
            const jet::DeleteStep& step = plan[k];
            TableState* owner = by_tdef.at(step.def->page);
            if (slots[k] & jet::kSlotMoved) ++t.moved_deleted;
            if (owner->rows.count(step.row)) {
              const std::vector<jet::Value>& values = owner->rows.at(step.row);
              for (size_t c = 0; c < values.size(); ++c) {
                if (step.def->columns[c].isLongValue() && !values[c].isNull()) {
                  ++t.long_value_rows_deleted;
                  break;
                }
              }
            }
            ASSERT_EQ(owner->rows.erase(step.row), 1u)
                << owner->name << " row " << rowName(step.row) << " was not live";
            touched.insert(owner->tdef);
            ++t.deleted;
            if (owner != &st || step.row != id) ++t.cascaded;
          }
        }
        if (db.inUnit()) db.commit();
      }
    }

    const std::vector<uint8_t> after = fileBytes(copy);
    {
      jet::Database db(copy.string());
      const size_t page_size = db.format().page_size;
      bool lv_touched = false;
      std::set<uint32_t> allowed{1};
      checkWholeFile(db, where);
      for (const TableState& st : tables) {
        checkRows(db, st, where);  // (a)
        if (!touched.count(st.tdef)) continue;
        checkIndexes(db, st, where);  // (c)
        lv_touched |= st.has_long_values;
        allowed.insert(pages_before[st.tdef].begin(), pages_before[st.tdef].end());
        for (uint32_t m : maps_before[st.tdef]) allowed.insert(jet::RowId::fromPointer(m).page);
      }
      // (d) Untouched tables: their pages whole, their map rows byte for byte.
      for (const TableState& st : tables) {
        if (touched.count(st.tdef)) continue;
        for (uint32_t p : pages_before[st.tdef]) {
          if (!std::equal(before.begin() + p * page_size, before.begin() + (p + 1) * page_size,
                          after.begin() + p * page_size)) {
            ADD_FAILURE() << st.name << " was not changed, but its page " << p << " was";
          }
        }
        for (uint32_t m : maps_before[st.tdef]) {
          const auto [at, len] = mapRowSpan(db, m);
          if (!std::equal(before.begin() + at, before.begin() + at + len, after.begin() + at)) {
            ADD_FAILURE() << st.name << " was not changed, but its map row "
                          << rowName(jet::RowId::fromPointer(m)) << " was";
          }
        }
      }
      // Every page that changed belongs to a changed table, and freed pages
      // are free in the global map. A page that became a node page of a
      // changed table's index (a free page taken, or one added) is a split's.
      std::set<uint32_t> touched_tdefs;
      for (const TableState& st : tables) {
        if (touched.count(st.tdef)) touched_tdefs.insert(st.tdef);
      }
      size_t added_at_end = 0;
      for (size_t p = 1; p * page_size < after.size(); ++p) {
        const size_t at = p * page_size;
        const bool beyond = at >= before.size();
        const bool was_free = beyond || before[at] == 0x00;
        const jet::ByteView now(after.data() + at, page_size);
        if (was_free && after[at] == 0x03 && touched_tdefs.count(now.u32(4))) {
          ++t.pages_added;
          added_at_end += beyond;
          continue;
        }
        if (beyond) {
          // Added by a split and freed again when its node emptied.
          EXPECT_EQ(now.u32(0), 0u) << "page " << p << " was added, but is no index node page";
          EXPECT_TRUE(jet::usageMapBit(db.pages(), db.format(), jet::kGlobalMapPointer,
                                       static_cast<uint32_t>(p)))
              << "page " << p << " was added and freed, but is not free in the global map";
          ++added_at_end;
          continue;
        }
        if (std::equal(before.begin() + at, before.begin() + at + page_size, after.begin() + at)) {
          continue;
        }
        const bool freed = (before[at] == 0x03 || before[at] == 0x04) && after[at] == 0 &&
                           after[at + 1] == 0 && after[at + 2] == 0 && after[at + 3] == 0;
        if (freed) {
          ++t.pages_freed;
          // Unless the global map cannot name the page (a window moved up by
          // another writer): then it stays unnamed, free to nobody.
          EXPECT_TRUE(jet::usageMapBit(db.pages(), db.format(), jet::kGlobalMapPointer,
                                       static_cast<uint32_t>(p)) ||
                      !globalMapNames(db, static_cast<uint32_t>(p)))
              << "freed page " << p << " is not free in the global map";
        }
        const bool long_value_page =
            after[at] == 0x01 && std::equal(after.begin() + at + 4, after.begin() + at + 8,
                                            reinterpret_cast<const uint8_t*>("LVAL"));
        if (!allowed.count(static_cast<uint32_t>(p)) && !(long_value_page && lv_touched)) {
          ADD_FAILURE() << "page " << p << " changed, but belongs to no table that changed";
        }
      }
      EXPECT_LE(after.size(), before.size() + added_at_end * page_size) << "the file grew";  // (e)
    }
    if (why_no_compare.empty()) {
      const fs::path snapshot = dir / ("round" + std::to_string(round + 1) + ".mdb");
      fs::copy_file(copy, snapshot);
      compare.start(snapshot, rel);  // (b)
    }
    if (HasFatalFailure()) break;
  }
  compare.finish();
  for (const TableState& st : tables) {
    EXPECT_TRUE(st.rows.empty()) << st.name << ": " << st.rows.size() << " rows left";
  }
  fs::remove_all(dir);

  std::printf(
      "after %s: %zu files, %zu tables, %zu rounds, %zu rows deleted (%zu by cascade, %zu moved, "
      "%zu with long values, %zu at index page ends), %zu refused, %zu index pages freed, "
      "%zu node pages taken by splits, "
      "%zu index checks over %zu entries, %zu reader comparisons, %zu whole-file checks\n",
      rel.c_str(), t.files, t.tables, t.rounds, t.deleted, t.cascaded, t.moved_deleted,
      t.long_value_rows_deleted, t.edge_rows_deleted, t.refused, t.pages_freed, t.pages_added,
      t.index_checks, t.entries_checked, t.compares, t.file_checks);
}

INSTANTIATE_TEST_SUITE_P(EveryFixture, DeleteRounds, ::testing::ValuesIn(fixtureList()),
                         [](const ::testing::TestParamInfo<fs::path>& info) {
                           std::string s = relativeName(info.param);
                           for (char& c : s) {
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           }
                           return s;
                         });

}  // namespace
