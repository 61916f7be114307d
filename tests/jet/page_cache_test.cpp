// A cache of a few pages against one without limit: a unit whose changes
// outgrow the cache writes some of them early ("spills"), through the
// journal, and must come out of a commit, a rollback, a savepoint taken
// back, a failed call or a power cut exactly as the unlimited cache does.
// Files live in memory (support/crash_os.h), so every write and sync is
// seen, and a cut can be taken at any call.
#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <set>

#include "io/journal.h"
#include "io/page_source.h"
#include "jet/checker.h"
#include "jet/creator.h"
#include "jet/database.h"
#include "jet/error.h"
#include "jet/query.h"
#include "support/crash_os.h"
#include "support/faulty_os.h"
#include "support/write_protocol.h"

namespace {

using testsupport::CrashOs;
using testsupport::FileEvent;
using testsupport::OsOp;

const std::string kPath = "base/clientes.mdb";
constexpr size_t kFewPages = 6;

// Three tables of clients' rows with long notes and indexes, so that a
// delete touches data, index, long-value and usage-map pages.
void build(CrashOs& os) {
  jet::DatabaseCreator db(kPath, {}, os);
  jet::TableDesign clients{
      "clientes", {{"CLICOD", jet::ColumnType::Long}, {"nombre", jet::ColumnType::Text}}, {}};
  clients.indexes = {{"PrimaryKey", {{"CLICOD"}}, true}, {"nombre", {{"nombre"}}}};
  jet::TableDesign products{
      "cliprod", {{"codcli", jet::ColumnType::Long}, {"nota", jet::ColumnType::Memo}}, {}};
  products.indexes = {{"codcli", {{"codcli"}}}};
  jet::TableDesign hours{"horascli", {{"codcli", jet::ColumnType::Long}}, {}};
  hours.indexes = {{"codcli", {{"codcli"}}}};
  const size_t c = db.addTable(clients), p = db.addTable(products), h = db.addTable(hours);
  for (int code = 0; code < 300; ++code) {
    db.insert(c, {jet::Value::integer(code), jet::Value::text("cliente " + std::to_string(code))});
  }
  for (int i = 0; i < 900; ++i) {
    db.insert(p,
              {jet::Value::integer(i * 7 % 300), jet::Value::text(std::string(i % 9 * 250, 'n'))});
    db.insert(h, {jet::Value::integer(i * 11 % 300)});
  }
  db.finish();
}

// Deletes, as jetsql does, the rows of every table whose client code is
// `code`.
void deleteClient(jet::Database& db, int code) {
  for (const char* t : {"cliprod", "horascli", "clientes"}) {
    const std::string column = std::string(t) == "clientes" ? "CLICOD" : "codcli";
    const jet::BoundQuery q =
        jet::bind(jet::parseDelete("DELETE FROM " + std::string(t) + " WHERE " + column + " = " +
                                   std::to_string(code)),
                  db);
    for (jet::RowId id : jet::select(q)) {
      if (q.table.isLive(id)) db.deleteRow(q.table, id);
    }
  }
}

// One unit deleting clients in rounds, each behind a savepoint, every
// third round taken back; `limit` pages of cache (0: none). Deferred, the
// deletes are all made by the commit, in page order, as the purge makes them.
struct Outcome {
  std::vector<uint8_t> file;
  uint64_t spills = 0;
};
Outcome deleteRounds(size_t limit, const std::function<void(jet::Database&)>& end, bool deferred) {
  CrashOs os;
  build(os);
  Outcome run;
  {
    jet::Database db(kPath, jet::OpenMode::ReadWrite, os);
    db.setCacheLimit(limit);
    db.begin();
    if (deferred) db.deferDeletes();
    for (int round = 0; round < 12; ++round) {
      db.savepoint();
      for (int code = round; code < 300; code += 12) deleteClient(db, code);
      if (round % 3 == 1) db.rollbackToSavepoint();
    }
    end(db);
    run.spills = db.pages().spills();
  }
  run.file = *os.contents(kPath);
  EXPECT_FALSE(os.contents(jet::journalPath(kPath))) << "a journal outlived its unit";
  jet::Database check(kPath, jet::OpenMode::ReadOnly, os);
  const jet::CheckReport report = jet::checkDatabase(check);
  EXPECT_TRUE(report.ok()) << (report.problems.empty() ? "" : report.problems[0].text());
  return run;
}

std::vector<uint8_t> builtFile() {
  CrashOs os;
  build(os);
  return *os.contents(kPath);
}

// Whatever the cache's size, a commit leaves the same bytes, and a
// rollback the file as it was.
TEST(PageCache, EvictionNeverLosesAChange) {
  const std::vector<uint8_t> before = builtFile();
  struct Case {
    const char* name;
    std::function<void(jet::Database&)> end;
    bool changes;
  };
  const std::vector<Case> cases = {
      {"commit", [](jet::Database& db) { db.commit(); }, true},
      {"rollback", [](jet::Database& db) { db.rollback(); }, false},
      {"unit left open", [](jet::Database&) {}, false},
  };
  for (const Case& c : cases) {
    for (const bool deferred : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (deferred ? ", deferred" : ""));
      const Outcome unlimited = deleteRounds(0, c.end, deferred);
      const Outcome few = deleteRounds(kFewPages, c.end, deferred);
      EXPECT_EQ(unlimited.spills, 0u);
      // Deferred deletes change nothing before the commit.
      if (!deferred || c.changes) {
        EXPECT_GE(few.spills, 2u) << "the small cache never spilled: the test proves nothing";
      }
      EXPECT_TRUE(few.file == unlimited.file) << "a small cache changed the outcome";
      EXPECT_EQ(unlimited.file != before, c.changes);
    }
  }
}

// A savepoint taken back after its pages were spilled gives back exactly
// them; the unit's earlier changes stay and reach the file at commit.
TEST(PageCache, ASavepointTakenBackAfterASpillKeepsWhatCameBefore) {
  auto run = [](size_t limit, bool later_deletes) {
    CrashOs os;
    build(os);
    jet::Database db(kPath, jet::OpenMode::ReadWrite, os);
    db.setCacheLimit(limit);
    db.begin();
    for (int code = 0; code < 300; code += 5) deleteClient(db, code);
    db.savepoint();
    const uint64_t spills = db.pages().spills();
    if (later_deletes) {
      for (int code = 1; code < 300; code += 2) deleteClient(db, code);
      if (limit) {
        EXPECT_GT(db.pages().spills(), spills) << "nothing spilled after the savepoint";
      }
      db.rollbackToSavepoint();
    }
    db.commit();
    return *os.contents(kPath);
  };
  EXPECT_TRUE(run(kFewPages, true) == run(0, false));
}

// The calls of a unit with a small cache, from its first delete on.
std::vector<FileEvent> spillingUnit(CrashOs& os, jet::Os& through, bool commit,
                                    size_t limit = kFewPages) {
  jet::Database db(kPath, jet::OpenMode::ReadWrite, through);
  db.setCacheLimit(limit);
  const size_t from = os.events().size();
  db.begin();
  try {
    for (int code = 0; code < 300; code += 2) deleteClient(db, code);
    if (commit) db.commit();
  } catch (const jet::JetError&) {
  }
  return std::vector<FileEvent>(os.events().begin() + static_cast<std::ptrdiff_t>(from),
                                os.events().end());
}

bool is(const FileEvent& e, OsOp op, const std::string& path) {
  return e.op == op && e.path == path;
}

// Spills keep the write order (no page is written before the journal
// records that cover it are synced and counted), and a change is
// written about once: a unit that fits the cache writes each changed page
// once, in few calls, and syncs the file once.
TEST(PageCache, SpillsKeepTheWriteOrderAndWriteEachPageAboutOnce) {
  struct Counts {
    uint64_t pages = 0, writes = 0, syncs = 0;
    std::set<uint64_t> distinct;
  };
  auto count = [](const std::vector<FileEvent>& events) {
    Counts c;
    for (const FileEvent& e : events) {
      if (is(e, OsOp::Write, kPath)) {
        ++c.writes;
        c.pages += e.size / 4096;
        for (uint64_t at = e.offset; at < e.offset + e.size; at += 4096) c.distinct.insert(at);
      }
      if (e.op == OsOp::Sync) ++c.syncs;
    }
    return c;
  };
  Counts fits, spilled, tiny;
  std::vector<FileEvent> spill_events;
  {
    CrashOs os;
    build(os);
    const std::vector<FileEvent> events = [&] {
      jet::Database db(kPath, jet::OpenMode::ReadWrite, os);
      const size_t from = os.events().size();
      db.begin();
      for (int code = 0; code < 300; code += 2) deleteClient(db, code);
      db.commit();
      return std::vector<FileEvent>(os.events().begin() + static_cast<std::ptrdiff_t>(from),
                                    os.events().end());
    }();
    fits = count(events);
  }
  {
    CrashOs os;
    build(os);
    spill_events = spillingUnit(os, os, true);
    tiny = count(spill_events);
    EXPECT_EQ(testsupport::writeProtocolBreaches(spill_events, kPath), std::vector<std::string>());
  }
  {
    // A cache a quarter of what the unit changes.
    CrashOs os;
    build(os);
    const std::vector<FileEvent> events = spillingUnit(os, os, true, fits.distinct.size() / 4);
    spilled = count(events);
    EXPECT_EQ(testsupport::writeProtocolBreaches(events, kPath), std::vector<std::string>());
  }
  EXPECT_EQ(fits.pages, fits.distinct.size()) << "a page written twice in a unit that fits";
  EXPECT_LT(fits.writes, fits.pages) << "pages that follow each other go in one write";
  EXPECT_EQ(fits.syncs, 2u);  // the journal's and the file's
  EXPECT_EQ(tiny.distinct, fits.distinct);
  EXPECT_EQ(spilled.distinct, fits.distinct);
  EXPECT_LE(spilled.pages, 2 * fits.pages) << "spilled pages written again and again";
  // Three syncs a spill (the records, the header that counts them, the
  // file): each spill writes at least a quarter of the cache's pages.
  EXPECT_GE(spilled.pages * 3, spilled.syncs * (fits.distinct.size() / 16));
  std::cout << "pages written (calls, syncs): fitting " << fits.pages << " (" << fits.writes << ", "
            << fits.syncs << "), a quarter " << spilled.pages << " (" << spilled.writes << ", "
            << spilled.syncs << "), " << kFewPages << " pages " << tiny.pages << " (" << tiny.writes
            << ", " << tiny.syncs << ")\n";

  // The header that counts a batch, synced before the batch's first page
  // write; moved after it, the rules see a page written uncovered.
  const std::string journal = jet::journalPath(kPath);
  size_t moved = 0;
  for (size_t i = 0; i + 1 < spill_events.size() && moved == 0; ++i) {
    const FileEvent& e = spill_events[i];
    if (!is(e, OsOp::Write, journal) || e.offset != 0) continue;
    for (size_t j = i + 1; j < spill_events.size(); ++j) {
      if (!is(spill_events[j], OsOp::Write, kPath)) continue;
      std::vector<FileEvent> out = spill_events;
      out.insert(out.begin() + static_cast<std::ptrdiff_t>(j) + 1, e);
      out.erase(out.begin() + static_cast<std::ptrdiff_t>(i));
      EXPECT_NE(testsupport::writeProtocolBreaches(out, kPath), std::vector<std::string>());
      moved = j;
      break;
    }
  }
  EXPECT_GT(moved, 0u) << "no batch was appended to a journal under its own name";
}

// A unit cut short after a spill, by a power cut at any call or by a call
// that fails, leaves the file as it was before the unit once opened again
// (or at once, when the engine saw the failure).
TEST(PageCache, AUnitCutShortAfterASpillIsUndone) {
  const std::vector<uint8_t> before = builtFile();
  size_t calls = 0, first_page = 0;
  {
    CrashOs os;
    build(os);
    const std::vector<FileEvent> events = spillingUnit(os, os, false);
    calls = events.size();
    for (size_t i = 0; i < events.size() && first_page == 0; ++i) {
      if (is(events[i], OsOp::Write, kPath)) first_page = i + 1;
    }
  }
  ASSERT_GT(first_page, 0u) << "nothing spilled";
  for (size_t cut = first_page; cut <= calls;
       cut += std::max<size_t>(1, (calls - first_page) / 8)) {
    for (uint64_t seed = 0; seed < 2; ++seed) {
      SCOPED_TRACE("power cut at call " + std::to_string(cut) + ", seed " + std::to_string(seed));
      CrashOs os;
      build(os);
      std::optional<testsupport::CrashImage> image;
      const size_t base = os.events().size();
      os.before_change = [&](const FileEvent&) {
        if (!image && os.events().size() + 1 == base + cut) {
          // Taken on the tested machine before this call lands; the run
          // goes on, the image is the disk after the cut.
          image = os.imageAfterCut(seed);
        }
      };
      spillingUnit(os, os, false);
      ASSERT_TRUE(image);
      CrashOs after;
      after.addFiles(*image);
      { jet::Database db(kPath, jet::OpenMode::ReadWrite, after); }
      EXPECT_TRUE(*after.contents(kPath) == before);
      EXPECT_FALSE(after.contents(jet::journalPath(kPath)));
    }
  }
  for (OsOp op : {OsOp::Write, OsOp::Sync}) {
    for (int nth : {2, 3, 5}) {
      SCOPED_TRACE(std::string("failed ") + testsupport::opName(op) + " " + std::to_string(nth));
      CrashOs os;
      build(os);
      testsupport::FaultyOs faulty(os);
      bool armed = false;
      os.before_change = [&](const FileEvent& e) {
        if (!armed && is(e, OsOp::Write, kPath)) {  // the first spill's first page
          faulty.failCall(op, nth);
          armed = true;
        }
      };
      {
        jet::Database db(kPath, jet::OpenMode::ReadWrite, faulty);
        db.setCacheLimit(kFewPages);
        db.begin();
        bool failed = false;
        try {
          for (int code = 0; code < 300; code += 2) deleteClient(db, code);
        } catch (const jet::JetError& e) {
          failed = true;
          EXPECT_EQ(e.number(), jet::err::kCannotOpen) << e.what();
          EXPECT_FALSE(db.inUnit());
          EXPECT_THROW(db.commit(), jet::JetError);
        }
        EXPECT_TRUE(failed);
        EXPECT_TRUE(*os.contents(kPath) == before) << "not put back at once";
        // The rows are there again to read.
        EXPECT_EQ(jet::select(db, "SELECT * FROM clientes").size(), 300u);
      }
      { jet::Database db(kPath, jet::OpenMode::ReadWrite, os); }
      EXPECT_TRUE(*os.contents(kPath) == before);
    }
  }
}

// Views handed out stay valid while their scope is open, however small the
// cache; pages touched outside any scope stay until released; pages read
// ahead are the file's.
TEST(PageCache, PinnedPagesStayWhileTheirViewsMayBeHeld) {
  CrashOs os;
  build(os);
  jet::PageSource src(kPath, jet::OpenMode::ReadWrite, os);
  src.setPageSize(4096);
  src.setCacheLimit(2);
  const uint32_t n = src.pageCount();
  ASSERT_GT(n, 20u);
  std::vector<std::pair<const uint8_t*, std::vector<uint8_t>>> seen;
  {
    const jet::PageSource::Scope outer(src);
    for (uint32_t p = 1; p < 10; ++p) {
      jet::ByteView v = src.page(p);
      seen.emplace_back(v.data(), std::vector<uint8_t>(v.data(), v.data() + v.size()));
      const jet::PageSource::Scope inner(src);  // may drop what no scope holds
      for (uint32_t q = 10; q < n; ++q) src.page(q);
    }
    for (const auto& [data, bytes] : seen) {
      EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), data));  // ASan: no use after free
    }
  }
  jet::ByteView held = src.page(3);  // no scope: held until released
  for (uint32_t q = 10; q < n; ++q) {
    const jet::PageSource::Scope s(src);
    src.page(q);
  }
  EXPECT_EQ(held.data(), src.page(3).data());
  EXPECT_LE(src.readPagesHeld(), 12u);
  src.releaseReadPages();
  EXPECT_EQ(src.readPagesHeld(), 0u);
  // Pages read in order come several to a read: each is the file's own.
  const auto file = *os.contents(kPath);
  for (uint32_t q = 1; q < n; ++q) {
    const jet::PageSource::Scope s(src);
    const jet::ByteView v = src.page(q);
    EXPECT_TRUE(std::equal(v.data(), v.data() + v.size(), file.begin() + q * 4096)) << q;
  }
}

}  // namespace
