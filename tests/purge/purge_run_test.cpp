// The purge run through the scripted runtime, on copies of the client
// fixtures: what is deleted, what is shown, and what a failure leaves.
#include "purge/purge_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>

#include "db/field_view.h"
#include "format/text_codec.h"
#include "jet/checker.h"
#include "jet/database.h"
#include "support/fake_runtime.h"
#include "support/shared_fixtures.h"

namespace fs = std::filesystem;

namespace {

using testsupport::FakeRuntime;

constexpr int kBarWidth = 170;  // pixels of Bar1 at 96 DPI

// The window's part in the run, without a display.
class TestForm : public purge::PurgeForm {
 public:
  explicit TestForm(const std::string& path) {
    for (db::RecordChannel* c : {&ch_.Data1, &ch_.Data2, &ch_.Data3, &ch_.Data4}) {
      c->onCursorMoved([this, c](const db::Recordset& rs) {
        if (last_opened_[c] != &rs) sources.push_back(c->RecordSource());
        last_opened_[c] = &rs;
      });
    }
    ch_.Data1.setDatabaseName(path);
    ch_.Data1.Refresh();
  }

  std::string Text1() const override { return text1; }
  void setText1(const std::string& t) override { text1 = t; }
  float Bar1Value() const override { return value; }
  void setBar1Value(float v) override { value = v; }
  void setBar1Max(float m) override { max = m; }
  int Bar1DrawnLength() const override { return static_cast<int>(kBarWidth * value / max); }
  purge::FormChannels& channels() override { return ch_; }
  std::string Text2() override {
    if (!blank_code_for.empty() && blank_code_for == ch_.Text2.text() && ++blank_reads_ >= 2) {
      return {};
    }
    return ch_.Text2.text();
  }

  std::string text1;
  float value = 0, max = 100;
  std::vector<std::string> sources;  // every record source opened, in order
  // Makes Text2 read empty once the given client's cliprod rows are gone
  // (its second read), as a client whose code is empty would.
  std::string blank_code_for;

 private:
  purge::FormChannels ch_;
  std::map<const db::RecordChannel*, const db::Recordset*> last_opened_;
  int blank_reads_ = 0;
};

std::vector<uint8_t> fileBytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
}

// Every row of a table, each as its values' text, as a sorted list.
using Rows = std::multiset<std::vector<std::string>>;
Rows readAll(const jet::Database& db, const std::string& table) {
  Rows out;
  jet::Table t = db.table(table);
  t.scan([&](jet::RowId id) {
    std::vector<std::string> row;
    for (const jet::Value& v : t.readRow(id))
      row.push_back(db::boundText(v) + "|" + std::to_string(static_cast<int>(v.kind())));
    out.insert(row);
  });
  return out;
}

struct Snapshot {
  std::map<std::string, Rows> tables;
};
Snapshot snapshot(const fs::path& file) {
  jet::Database db(file.string());
  Snapshot s;
  for (const char* t : {"clientes", "cliprod", "horascli", "diascli"}) s.tables[t] = readAll(db, t);
  return s;
}

// The clients an independent reading selects: status "H" in any case, a
// date on or before the cut-off day at midnight.
std::set<int64_t> dueClients(const fs::path& file, double cutoff_days) {
  jet::Database db(file.string());
  jet::Table t = db.table("clientes");
  const size_t code = *t.def().findColumn("CLICOD"), status = *t.def().findColumn("clies"),
               date = *t.def().findColumn("clifre");
  std::set<int64_t> out;
  t.scan([&](jet::RowId id) {
    jet::Value s = t.read(id, status), d = t.read(id, date);
    if (!s.isNull() && jet::foldCase(s.asString()) == "h" && !d.isNull() &&
        d.asDouble() <= cutoff_days) {
      out.insert(t.read(id, code).asInt());
    }
  });
  return out;
}

// What must remain: every row but the due clients and their dependent rows.
Snapshot expectedAfter(const fs::path& file, const std::set<int64_t>& due) {
  jet::Database db(file.string());
  Snapshot s;
  auto keep = [&](const std::string& table, const char* code_column) {
    jet::Table t = db.table(table);
    const size_t code = *t.def().findColumn(code_column);
    Rows rows;
    t.scan([&](jet::RowId id) {
      jet::Value c = t.read(id, code);
      if (!c.isNull() && due.count(c.asInt())) return;
      std::vector<std::string> row;
      for (const jet::Value& v : t.readRow(id))
        row.push_back(db::boundText(v) + "|" + std::to_string(static_cast<int>(v.kind())));
      rows.insert(row);
    });
    s.tables[table] = rows;
  };
  keep("clientes", "CLICOD");
  for (const char* t : {"cliprod", "horascli", "diascli"}) keep(t, "codcli");
  return s;
}

double midnight(int y, int m, int d) {
  return jet::joinDateTime({y, m, d, 0, 0, 0});
}

class PurgeRun : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    REQUIRE_FIXTURES();
    dir_ = testsupport::scratchDir();
    file_ = dir_ / "clientes.mdb";
    fs::copy_file(testsupport::fixture(GetParam()), file_);
    fs::permissions(file_, fs::perms::owner_read | fs::perms::owner_write);
    rt_.answers = {runtime::kResultYes};
  }
  void TearDown() override { fs::remove_all(dir_); }

  fs::path dir_, file_;
  FakeRuntime rt_;
};

TEST_P(PurgeRun, DeletesExactlyTheDueClientsWithTheirRows) {
  const std::set<int64_t> due = dueClients(file_, midnight(2010, 12, 31));
  const Snapshot expected = expectedAfter(file_, due);
  {
    TestForm form(file_.string());
    form.text1 = "31/12/2010";
    purge::runPurge(rt_, form);
    EXPECT_EQ(form.text1, "31/12/2010");
    EXPECT_EQ(form.max, static_cast<float>(due.size()));
    EXPECT_EQ(form.value, static_cast<float>(due.size()));
    ASSERT_EQ(rt_.messages.size(), 2u);
    EXPECT_EQ(rt_.messages[0].prompt, purge::kBackupPrompt);
    EXPECT_EQ(rt_.messages[0].style, 276);
    EXPECT_EQ(rt_.messages[0].title, std::optional<std::string>("Atención"));
    EXPECT_EQ(rt_.messages[1].prompt, "Borrado Terminado");
    EXPECT_EQ(rt_.messages[1].style, 0);
    EXPECT_EQ(rt_.messages[1].title, std::nullopt);
    EXPECT_EQ(rt_.pointers, (std::vector<int>{11, 0}));
    EXPECT_LE(rt_.repaints.size(), due.size());
    EXPECT_FALSE(rt_.repaints.empty());
    // The selection first, then three dependent selections per client, in order.
    ASSERT_EQ(form.sources.size(), 2 + 3 * due.size());  // start-up, selection, dependents
    EXPECT_EQ(form.sources[1],
              "Select * from clientes where clies = 'H' and clifre <= #12-31-2010#");
    EXPECT_EQ(form.sources[2].rfind("Select * from cliprod where codcli = ", 0), 0u);
    EXPECT_EQ(form.sources[3].rfind("Select * from horascli where codcli = ", 0), 0u);
    EXPECT_EQ(form.sources[4].rfind("Select * from diascli where codcli = ", 0), 0u);
  }
  const Snapshot after = snapshot(file_);
  for (const auto& [table, rows] : expected.tables) {
    EXPECT_EQ(after.tables.at(table), rows) << table;
  }
  // Sound before and after, no long value of a deleted client left behind
  // included.
  jet::Database original(testsupport::fixture(GetParam()).string());
  jet::Database purged(file_.string());
  for (const jet::Database* db : {&original, &purged}) {
    const jet::CheckReport report = jet::checkDatabase(*db);
    for (const jet::CheckProblem& p : report.problems)
      ADD_FAILURE() << db->path() << ": " << p.text();
    EXPECT_TRUE(report.ok()) << db->path();
  }
}

TEST_P(PurgeRun, AnEmptyBoxPurgesUpToToday) {
  rt_.now = {2026, 12, 6, 9, 15, 30};
  const std::set<int64_t> due = dueClients(file_, midnight(2026, 12, 6));
  TestForm form(file_.string());
  form.text1 = "";
  purge::runPurge(rt_, form);
  EXPECT_EQ(form.text1, "06-12-2026");
  EXPECT_EQ(form.sources[1], "Select * from clientes where clies = 'H' and clifre <= #12-06-2026#");
  EXPECT_EQ(form.value, static_cast<float>(due.size()));
}

TEST_P(PurgeRun, NothingDueChangesNothingAndSaysNothing) {
  const std::vector<uint8_t> before = fileBytes(file_);
  {
    TestForm form(file_.string());
    form.text1 = "01/01/1990";
    purge::runPurge(rt_, form);
    EXPECT_EQ(rt_.messages.size(), 1u) << "only the backup reminder";
    EXPECT_TRUE(rt_.pointers.empty());
    EXPECT_EQ(form.value, 0.0f);
    EXPECT_EQ(form.max, 100.0f);
  }
  EXPECT_EQ(fileBytes(file_), before);
}

TEST_P(PurgeRun, AnsweringNoEndsTheProgramWithTheFileUntouched) {
  const std::vector<uint8_t> before = fileBytes(file_);
  rt_.answers = {runtime::kResultNo};
  {
    TestForm form(file_.string());
    form.text1 = "31/12/2020";
    EXPECT_THROW(purge::runPurge(rt_, form), runtime::ProgramEnd);
    EXPECT_EQ(form.text1, "31/12/2020") << "the box was normalised before the question";
  }
  EXPECT_EQ(fileBytes(file_), before);
}

TEST_P(PurgeRun, ASecondRunCountsFromZeroAgain) {
  TestForm form(file_.string());
  form.text1 = "31/12/2010";
  purge::runPurge(rt_, form);
  const std::set<int64_t> due = dueClients(file_, midnight(2020, 12, 31));
  rt_.answers = {runtime::kResultYes};
  form.text1 = "31/12/2020";
  purge::runPurge(rt_, form);
  EXPECT_EQ(form.max, static_cast<float>(due.size()));
  EXPECT_EQ(form.value, static_cast<float>(due.size()));
  EXPECT_TRUE(dueClients(file_, midnight(2020, 12, 31)).empty());
}

TEST_P(PurgeRun, AFailureMidClientKeepsThatClientWhole) {
  const std::set<int64_t> due = dueClients(file_, midnight(2010, 12, 31));
  ASSERT_GE(due.size(), 3u);
  int failing = 0;
  std::set<int64_t> done_before;
  {
    TestForm form(file_.string());
    form.text1 = "31/12/2010";
    // Find the third client in the engine's order, then fail on its code.
    jet::Database db(file_.string());
    std::vector<int64_t> order;
    for (jet::RowId id : db.table("clientes").rowIds()) {
      int64_t c = db.table("clientes").read(id, 0).asInt();
      if (due.count(c)) order.push_back(c);
    }
    failing = static_cast<int>(order[2]);
    done_before = {order[0], order[1]};
    form.blank_code_for = std::to_string(failing);
    try {
      purge::runPurge(rt_, form);
      FAIL() << "an empty client code went through";
    } catch (const jet::JetError& e) {
      EXPECT_EQ(e.number(), 13);
    }
  }
  // The first two clients are gone whole; the failing one and the rest are whole.
  jet::Database db(file_.string());
  std::set<int64_t> left;
  jet::Table t = db.table("clientes");
  t.scan([&](jet::RowId id) { left.insert(t.read(id, 0).asInt()); });
  for (int64_t c : done_before) EXPECT_EQ(left.count(c), 0u);
  EXPECT_EQ(left.count(failing), 1u);
  // Its dependent rows are all still there.
  for (const char* table : {"cliprod", "horascli", "diascli"}) {
    jet::Table dep = db.table(table);
    const size_t code = *dep.def().findColumn("codcli");
    long failing_rows = 0, gone_rows = 0;
    dep.scan([&](jet::RowId id) {
      jet::Value v = dep.read(id, code);
      if (v.isNull()) return;
      if (v.asInt() == failing) ++failing_rows;
      if (done_before.count(v.asInt())) ++gone_rows;
    });
    EXPECT_EQ(gone_rows, 0) << table;
    const size_t original = [&] {
      jet::Database orig(testsupport::fixture(GetParam()).string());
      jet::Table o = orig.table(table);
      long n = 0;
      o.scan([&](jet::RowId id) {
        jet::Value v = o.read(id, code);
        if (!v.isNull() && v.asInt() == failing) ++n;
      });
      return static_cast<size_t>(n);
    }();
    EXPECT_EQ(static_cast<size_t>(failing_rows), original) << table;
  }
}

INSTANTIATE_TEST_SUITE_P(ClientFixtures, PurgeRun,
                         ::testing::Values("clientes/clientes-v2000-small.mdb",
                                           "clientes/clientes-v2000-spanish.mdb",
                                           "clientes/clientes-v2003-rel.mdb",
                                           "clientes/clientes-v2003-orphans.mdb",
                                           "large/clientes-v2003-3k.mdb"),
                         [](const auto& info) {
                           std::string n = info.param;
                           n = n.substr(n.find('/') + 1);
                           n = n.substr(0, n.find('.'));
                           std::replace(n.begin(), n.end(), '-', '_');
                           return n;
                         });

}  // namespace
