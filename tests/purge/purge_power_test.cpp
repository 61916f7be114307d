// The purge when the machine fails under it, on a scattered client database
// from mkclientes held by an in-memory file layer: the power cut at every
// sync and at seeded writes between them, and every write, sync, truncate
// and remove of the run made to fail in turn. Whatever happens, the file
// opened again (its journal played back by the engine) passes the checker,
// each client is there with all its rows or gone with all of them, and
// nothing outside the selection changed.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <random>
#include <set>

#include "io/journal.h"
#include "io/lock_file.h"
#include "jet/checker.h"
#include "jet/database.h"
#include "jet/error.h"
#include "purge/purge_run.h"
#include "support/crash_os.h"
#include "support/fake_runtime.h"
#include "support/faulty_os.h"
#include "support/scripted_form.h"
#include "support/shared_fixtures.h"
#include "support/write_protocol.h"

namespace fs = std::filesystem;

namespace {

using testsupport::CrashImage;
using testsupport::CrashOs;
using testsupport::FaultyOs;
using testsupport::FileEvent;
using testsupport::OsOp;

const std::string kPath = "base/clientes.mdb";
const std::string kJournal = jet::journalPath(kPath);
constexpr const char* kCutoff = "31/12/2010";
// Three clients to a commit, whatever the time: the commits fall on the same
// clients on every run.
const purge::BatchLimits kBatching{3, std::chrono::hours(1)};

// A client database that grew over years: its dependent rows scattered,
// relationships enforced, notes long enough to need long-value pages.
const std::vector<uint8_t>& original() {
  static const std::vector<uint8_t> bytes = [] {
    const fs::path file = testsupport::scratchDir() / "clientes.mdb";
    const std::string cmd =
        testsupport::shellQuoted(PURGE_TEST_MKCLIENTES) + " " +
        testsupport::shellQuoted(file.string()) +
        " --clients 100 --max-deps 3 --seed 5 --relations --scatter --quiet";
    if (testsupport::runCommand(cmd) != 0) return std::vector<uint8_t>();
    std::ifstream in(file, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
  }();
  return bytes;
}

// Runs the purge on `os` as the window does; the errors the operator saw
// are in `rt`.
void purgeOn(jet::Os& os, testsupport::FakeRuntime& rt) {
  rt.answers = {runtime::kResultYes};
  std::optional<int> end = runtime::runEvent(rt, [&] {
    testsupport::ScriptedForm form(kPath, kCutoff, os);
    purge::runPurge(rt, form, kBatching);
  });
  if (end) rt.ends.push_back(*end);
}

// Every row of the four tables, by client code, each as text.
using Rows = std::multimap<int64_t, std::string>;
struct Contents {
  std::map<std::string, Rows> tables;
  bool operator==(const Contents&) const = default;
};

Contents contentsOf(const jet::Database& db) {
  Contents out;
  for (const char* name : {"clientes", "cliprod", "horascli", "diascli"}) {
    const jet::Table t = db.table(name);
    const size_t code = *t.def().findColumn(std::string(name) == "clientes" ? "CLICOD" : "codcli");
    t.scan([&](jet::RowId id) {
      std::string text;
      for (const jet::Value& v : t.readRow(id)) {
        char number[64];
        std::snprintf(number, sizeof number, "%d:%lld:%a:", static_cast<int>(v.kind()),
                      static_cast<long long>(v.asInt()), v.asDouble());
        text += number + v.asString() + "|";
      }
      out.tables[name].emplace(t.read(id, code).asInt(), text);
    });
  }
  return out;
}

// The clients the purge must select, found independently: status "H" in
// either case, a date on or before the cut-off day at midnight.
std::set<int64_t> dueClients(const jet::Database& db) {
  const jet::Table t = db.table("clientes");
  const size_t code = *t.def().findColumn("CLICOD"), status = *t.def().findColumn("clies"),
               date = *t.def().findColumn("clifre");
  const double cutoff = jet::joinDateTime({2010, 12, 31, 0, 0, 0});
  std::set<int64_t> out;
  t.scan([&](jet::RowId id) {
    const jet::Value s = t.read(id, status), d = t.read(id, date);
    if (!s.isNull() && (s.asString() == "H" || s.asString() == "h") && !d.isNull() &&
        d.asDouble() <= cutoff) {
      out.insert(t.read(id, code).asInt());
    }
  });
  return out;
}

// The original database and what the purge may leave of it.
struct Reference {
  Contents before;
  std::set<int64_t> due;

  Reference() {
    CrashOs os;
    os.addFile(kPath, original());
    jet::Database db(kPath, jet::OpenMode::ReadOnly, os);
    before = contentsOf(db);
    due = dueClients(db);
  }

  // Empty when `after` is the original without some of the due clients,
  // each gone with all its rows; else what is wrong. `gone` gets which went.
  std::string judge(const Contents& after, std::set<int64_t>* gone = nullptr) const {
    std::set<int64_t> went;
    for (const auto& [code, row] : before.tables.at("clientes")) {
      if (!after.tables.count("clientes") || !after.tables.at("clientes").count(code)) {
        went.insert(code);
      }
    }
    for (int64_t code : went) {
      if (!due.count(code)) return "client " + std::to_string(code) + " went but was not due";
    }
    Contents want;
    for (const auto& [table, rows] : before.tables) {
      for (const auto& [code, row] : rows) {
        if (!went.count(code)) want.tables[table].emplace(code, row);
      }
    }
    if (gone) *gone = went;
    if (after == want) return {};
    for (const auto& [table, rows] : want.tables) {
      const Rows& got = after.tables.count(table) ? after.tables.at(table) : Rows();
      if (got != rows) {
        return "table " + table + ": " + std::to_string(got.size()) + " rows, " +
               std::to_string(rows.size()) +
               " wanted (clients gone: " + std::to_string(went.size()) + ")";
      }
    }
    return "a table appeared";
  }
};

const Reference& reference() {
  static const Reference r;
  return r;
}

// What the file holds once opened again on `os`: the engine plays back any
// journal, then the checker and the reference judge it. Empty when sound.
std::string reopenAndJudge(CrashOs& os, std::set<int64_t>* gone = nullptr) {
  try {
    { jet::Database recovering(kPath, jet::OpenMode::ReadWrite, os); }
    if (os.exists(kJournal)) return "the journal is still there after the reopening";
    jet::Database db(kPath, jet::OpenMode::ReadOnly, os);
    const jet::CheckReport report = jet::checkDatabase(db);
    if (!report.ok()) return "checker: " + report.problems.at(0).text();
    return reference().judge(contentsOf(db), gone);
  } catch (const jet::JetError& e) {
    return std::string("reopening failed: ") + e.what();
  }
}

// Whether the database file of an image, read on its own without its
// journal, is damaged.
bool damagedWithoutJournal(const CrashImage& image) {
  CrashOs os;
  os.addFile(kPath, image.files.at(kPath));
  try {
    jet::Database db(kPath, jet::OpenMode::ReadOnly, os);
    return !jet::checkDatabase(db).ok();
  } catch (const jet::JetError&) {
    return true;
  }
}

class PurgePower : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(original().empty()) << "mkclientes failed";
    ASSERT_GE(reference().due.size(), 10u) << "too few clients due to cut between commits";
  }
};

// The purge on the in-memory layer does what it does on the disk, and keeps
// the write order (support/write_protocol.h) over all its commits.
TEST_F(PurgePower, ThePurgeOnTheLayerMatchesTheDiskAndKeepsTheWriteOrder) {
  CrashOs os;
  os.addFile(kPath, original());
  testsupport::FakeRuntime rt;
  purgeOn(os, rt);
  ASSERT_TRUE(rt.errors.empty()) << rt.errors[0].description;
  EXPECT_TRUE(os.exists(kPath) && !os.exists(kJournal) && !os.exists(jet::lockFilePath(kPath)));
  EXPECT_EQ(testsupport::writeProtocolBreaches(os.events(), kPath), std::vector<std::string>());

  const fs::path dir = testsupport::scratchDir();
  const fs::path file = dir / "clientes.mdb";
  std::ofstream(file, std::ios::binary)
      .write(reinterpret_cast<const char*>(original().data()),
             static_cast<std::streamsize>(original().size()));
  testsupport::FakeRuntime disk_rt;
  disk_rt.answers = {runtime::kResultYes};
  {
    testsupport::ScriptedForm form(file.string(), kCutoff);
    purge::runPurge(disk_rt, form, kBatching);
  }
  std::ifstream in(file, std::ios::binary);
  EXPECT_EQ(std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {}), *os.contents(kPath))
      << "the layer and the disk end with different bytes";
  fs::remove_all(dir);
}

// The power cut before every sync of the run (of the journal, the database
// or a folder; twice, with different damage), after it, and before one
// write in three, each cut keeping a seeded part of what was not synced.
TEST_F(PurgePower, EveryCutRecoversToWholeClients) {
  std::mt19937_64 rng(20261207);
  std::vector<CrashImage> images;
  CrashOs os;
  os.addFile(kPath, original());
  bool after_sync = false;
  os.before_change = [&](const FileEvent& e) {
    const bool sync = e.op == OsOp::Sync || e.op == OsOp::SyncFolder;
    // Two cuts at a sync, which differ in what of the unsynced they keep.
    for (int k = sync ? 2 : after_sync || (e.op == OsOp::Write && rng() % 3 == 0); k > 0; --k) {
      images.push_back(os.imageAfterCut(rng()));
    }
    after_sync = sync;
  };
  testsupport::FakeRuntime rt;
  purgeOn(os, rt);
  ASSERT_TRUE(rt.errors.empty()) << rt.errors[0].description;
  images.push_back(os.imageAfterCut(rng()));

  size_t torn = 0, damaged = 0, some_gone = 0, torn_journal = 0;
  for (size_t i = 0; i < images.size(); ++i) {
    SCOPED_TRACE("cut " + std::to_string(i + 1) + " of " + std::to_string(images.size()));
    const CrashImage& image = images[i];
    ASSERT_TRUE(image.files.count(kPath)) << "the database file is gone";
    torn_journal += image.torn.count(kJournal);
    if (image.torn.count(kPath)) {
      ++torn;
      damaged += damagedWithoutJournal(image);
    }
    CrashOs after;
    after.addFiles(image);
    std::set<int64_t> gone;
    EXPECT_EQ(reopenAndJudge(after, &gone), "");
    some_gone += !gone.empty() && gone.size() < reference().due.size();
  }
  // The last image is the finished run: every due client gone.
  std::set<int64_t> gone;
  CrashOs last;
  last.addFiles(images.back());
  EXPECT_EQ(reopenAndJudge(last, &gone), "");
  EXPECT_EQ(gone, reference().due);
  EXPECT_GT(torn, 0u) << "no cut tore the database: the cuts test nothing";
  EXPECT_GT(some_gone, 0u) << "no cut fell between commits";
  std::cout << "power cuts: " << images.size() << " (due clients " << reference().due.size() << ", "
            << os.events().size() << " changes); database torn at " << torn << " cuts, " << damaged
            << " of them damaged without the journal; journal torn at " << torn_journal << "; "
            << some_gone << " cuts left part of the clients purged\n";
}

// A cut that stops the machine mid-run: the run ends with the engine's
// error, and the disk as the cut left it recovers.
TEST_F(PurgePower, ARunWhoseMachineStopsReportsAndRecovers) {
  CrashOs os;
  os.addFile(kPath, original());
  size_t database_writes = 0;
  CrashImage image;
  os.before_change = [&](const FileEvent& e) {
    if (e.path == kPath && e.op == OsOp::Write && ++database_writes == 20) {
      image = os.imageAfterCut(7);
      os.cutPower();
    }
  };
  testsupport::FakeRuntime rt;
  purgeOn(os, rt);
  ASSERT_EQ(rt.errors.size(), 1u);
  EXPECT_EQ(rt.errors[0].number, jet::err::kCannotOpen) << rt.errors[0].description;
  EXPECT_EQ(rt.ends, std::vector<int>{1});
  CrashOs after;
  after.addFiles(image);
  EXPECT_EQ(reopenAndJudge(after), "");
}

// Every write, sync, truncate, remove and folder sync of the run fails in
// turn: its first, second, middle and last call of each kind on each file,
// and the file's put-back failing after a page write. A failure that
// leaves a commit undone reaches the operator in Spanish and takes back the
// clients of that commit; one after the commit was made durable (removing
// the journal, syncing the folder after, the lock file's calls) costs
// nothing. Either way the file is sound with whole clients only.
TEST_F(PurgePower, EveryFailingCallReachesTheOperatorAndKeepsClientsWhole) {
  std::vector<testsupport::OsCall> calls;  // of a run that nothing disturbs
  {
    CrashOs os;
    os.addFile(kPath, original());
    FaultyOs faulty(os);
    testsupport::FakeRuntime rt;
    purgeOn(faulty, rt);
    ASSERT_TRUE(rt.errors.empty());
    calls = faulty.calls();
  }
  auto site = [](const testsupport::OsCall& c) {
    return std::string(testsupport::opName(c.op)) + " on the " +
           (c.path == kPath      ? "database"
            : c.path == kJournal ? "journal"
                                 : "lock file");
  };
  auto counted = [](OsOp op) {
    return op == OsOp::Write || op == OsOp::Sync || op == OsOp::Truncate || op == OsOp::Remove ||
           op == OsOp::SyncFolder;
  };
  std::map<std::string, int> per_site;
  for (const testsupport::OsCall& c : calls) per_site[site(c)] += counted(c.op);

  struct Case {
    std::string name;
    std::vector<std::pair<OsOp, int>> faults;  // by kind, counted over all files
    bool reported;
  };
  std::vector<Case> cases;
  std::map<OsOp, int> overall;
  std::map<std::string, int> nth;
  bool journal_removed = false;  // the journal's last change was its removal
  int first_database_write = 0;
  for (const testsupport::OsCall& c : calls) {
    const int number = ++overall[c.op];
    if (c.path == kJournal && c.op == OsOp::Open) journal_removed = false;
    if (c.path == kJournal && c.op == OsOp::Remove) journal_removed = true;
    if (c.op == OsOp::Write && c.path == kPath && first_database_write == 0) {
      first_database_write = number;
    }
    if (!counted(c.op)) continue;
    const int n = ++nth[site(c)], last = per_site[site(c)];
    if (n != 1 && n != 2 && n != (last + 1) / 2 && n != last) continue;
    const bool after_commit = c.path == jet::lockFilePath(kPath) ||
                              (c.path == kJournal && c.op == OsOp::Remove) ||
                              (c.op == OsOp::SyncFolder && journal_removed);
    cases.push_back({site(c) + (c.op == OsOp::SyncFolder && journal_removed ? " (removed)" : "") +
                         ", " + std::to_string(n) + " of " + std::to_string(last),
                     {{c.op, number}},
                     !after_commit});
  }
  cases.push_back({"a page write, then the put-back's truncate",
                   {{OsOp::Write, first_database_write + 1}, {OsOp::Truncate, 1}},
                   true});

  std::cout << "failing calls: " << cases.size() << " runs\n";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CrashOs os;
    os.addFile(kPath, original());
    FaultyOs faulty(os);
    for (const auto& [op, n] : c.faults) faulty.failCall(op, n);
    testsupport::FakeRuntime rt;
    purgeOn(faulty, rt);
    // The lock file a failed removal left would keep the next run out.
    os.remove(jet::lockFilePath(kPath));
    std::set<int64_t> gone;
    EXPECT_EQ(reopenAndJudge(os, &gone), "");
    if (c.reported) {
      ASSERT_EQ(rt.errors.size(), 1u) << "the operator was not told";
      const std::string& said = rt.errors[0].description;
      EXPECT_EQ(said.rfind("No se puede", 0), 0u) << said;
      EXPECT_NE(said.find("clientes.mdb"), std::string::npos) << said;
      EXPECT_LT(gone.size(), reference().due.size()) << "the failed commit's clients went";
    } else {
      EXPECT_TRUE(rt.errors.empty()) << rt.errors[0].description;
      EXPECT_EQ(gone, reference().due) << "a commit made durable was undone";
    }
  }
}

}  // namespace
