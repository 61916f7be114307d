// The purge run on small client databases built for the case at hand: which
// rows go, how the bar moves, and that the file stays sound for Access and
// for other readers.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <set>

#include "format/data_page.h"
#include "jet/checker.h"
#include "jet/creator.h"
#include "jet/database.h"
#include "jet/error.h"
#include "jet/query.h"
#include "purge/purge_run.h"
#include "support/fake_runtime.h"
#include "support/shared_fixtures.h"

namespace fs = std::filesystem;

namespace {

using jet::ColumnType;
using jet::Value;

// A client: code, status, date (null when `year` is 0), and its rows in
// cliprod, horascli and diascli.
struct Client {
  int code;
  const char* status;
  int year, month, day, hour, minute;
  int products, hours, days;
};

jet::TableDesign clientsDesign() {
  jet::TableDesign t{"clientes", {}, {}};
  t.columns = {{"CLICOD", ColumnType::Long},
               {"clinom", ColumnType::Text, 50},
               {"clies", ColumnType::Text, 1},
               {"clifre", ColumnType::DateTime},
               {"clinotas", ColumnType::Memo}};
  t.indexes = {{"PrimaryKey", {{"CLICOD"}}, true}, {"clies", {{"clies"}}}};
  return t;
}

jet::TableDesign dependentDesign(const char* name, ColumnType value_type) {
  jet::TableDesign t{name, {}, {}};
  jet::ColumnDesign id{"id", ColumnType::Long};
  id.autonumber = true;
  t.columns = {id, {"codcli", ColumnType::Long}, {"valor", value_type}};
  t.indexes = {{"PrimaryKey", {{"id"}}, true}, {"codcli", {{"codcli"}}}};
  return t;
}

void build(const fs::path& file, jet::Version version, const std::vector<Client>& clients,
           bool relations) {
  jet::DatabaseCreator db(file.string(), {version});
  const size_t c = db.addTable(clientsDesign());
  const size_t deps[3] = {db.addTable(dependentDesign("cliprod", ColumnType::Double)),
                          db.addTable(dependentDesign("horascli", ColumnType::Single)),
                          db.addTable(dependentDesign("diascli", ColumnType::Integer))};
  if (relations) {
    for (const char* dep : {"cliprod", "horascli", "diascli"}) {
      db.addRelationship({std::string("clientes") + dep, "clientes", {"CLICOD"}, dep, {"codcli"}});
    }
  }
  for (const Client& k : clients) {
    Value date =
        k.year == 0
            ? Value::null()
            : Value::dateTime(jet::joinDateTime({k.year, k.month, k.day, k.hour, k.minute, 0}));
    db.insert(c, {Value::integer(k.code), Value::text("Cliente " + std::to_string(k.code)),
                  Value::text(k.status), date,
                  k.code % 2 ? Value::text(std::string(300, 'n')) : Value::null()});
  }
  // Dependent rows interleaved between clients, as years of use leave them.
  for (int round = 0; round < 3; ++round) {
    for (const Client& k : clients) {
      const int want[3] = {k.products, k.hours, k.days};
      for (int t = 0; t < 3; ++t) {
        if (round < want[t]) {
          Value v = t == 0   ? Value::real(1.5 * k.code)
                    : t == 1 ? Value::single(2.5f)
                             : Value::integer(3);
          db.insert(deps[t], {Value::null(), Value::integer(k.code), v});
        }
      }
    }
  }
  db.finish();
}

// Rows per client code, per dependent table.
std::map<std::string, std::map<int64_t, int>> dependentRows(const fs::path& file) {
  jet::Database db(file.string());
  std::map<std::string, std::map<int64_t, int>> out;
  for (const char* name : {"cliprod", "horascli", "diascli"}) {
    jet::Table t = db.table(name);
    t.scan([&](jet::RowId id) { ++out[name][t.read(id, 1).asInt()]; });
  }
  return out;
}

std::set<int64_t> clientCodes(const fs::path& file) {
  jet::Database db(file.string());
  jet::Table t = db.table("clientes");
  std::set<int64_t> out;
  t.scan([&](jet::RowId id) { out.insert(t.read(id, 0).asInt()); });
  return out;
}

class Form : public purge::PurgeForm {
 public:
  explicit Form(const std::string& path) {
    ch_.Data1.setDatabaseName(path);
    ch_.Data1.Refresh();
  }
  std::string Text1() const override { return text1; }
  void setText1(const std::string& t) override { text1 = t; }
  float Bar1Value() const override { return value; }
  void setBar1Value(float v) override {
    value = v;
    positions.push_back(v);
  }
  void setBar1Max(float m) override { max = m; }
  int Bar1DrawnLength() const override { return static_cast<int>(170 * value / max); }
  purge::FormChannels& channels() override { return ch_; }
  std::string Text2() override {
    // The given client's code reads empty from its second read on, once its
    // cliprod rows are gone, as a client without a code would.
    if (!blank_code_for.empty() && blank_code_for == ch_.Text2.text() && ++blank_reads_ >= 2) {
      return {};
    }
    return ch_.Text2.text();
  }

  std::string text1;
  float value = 0, max = 100;
  std::vector<float> positions;
  std::string blank_code_for;

 private:
  purge::FormChannels ch_;
  int blank_reads_ = 0;
};

// mdb-export and mdb-reader read the file as our reader does.
void expectReadersAgree(const fs::path& file) {
  const std::string node = PURGE_TEST_NODE;
  if (node.empty()) {
    if (testsupport::requireShared()) ADD_FAILURE() << "Node.js is needed to compare readers";
    return;
  }
  const std::string cmd = "TZ=UTC '" + node +
                          "' '" PURGE_TEST_COMPARE "' --jetdump '" PURGE_TEST_JETDUMP "' '" +
                          file.string() + "' 2>&1";
  FILE* pipe = ::popen(cmd.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string out;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) out.append(buf, n);
  const int status = ::pclose(pipe);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << out;
}

class PurgeOnBuiltDatabase : public ::testing::TestWithParam<jet::Version> {
 protected:
  void SetUp() override {
    dir_ = testsupport::scratchDir();
    file_ = dir_ / "clientes.mdb";
    rt_.answers = {runtime::kResultYes};
  }
  fs::path dir_, file_;
  testsupport::FakeRuntime rt_;
};

TEST_P(PurgeOnBuiltDatabase, ThreeClientsTakeTheirNineRowsAndNothingElse) {
  const std::vector<Client> clients = {
      {101, "H", 2005, 3, 14, 0, 0, 2, 0, 1},    {102, "A", 1995, 1, 1, 0, 0, 1, 1, 1},  // active
      {103, "h", 2010, 12, 31, 0, 0, 2, 0, 1},    // on the cut-off day at midnight
      {104, "H", 2010, 12, 31, 10, 30, 1, 2, 1},  // on the cut-off day, later
      {105, "B", 2000, 6, 1, 0, 0, 2, 2, 2},      // another status
      {106, "H", 1999, 12, 31, 23, 59, 2, 0, 1}, {107, "H", 0, 0, 0, 0, 0, 1, 1, 1},  // no date
  };
  build(file_, GetParam(), clients, true);
  auto before = dependentRows(file_);
  {
    Form form(file_.string());
    form.text1 = "31/12/2010";
    purge::runPurge(rt_, form);
    EXPECT_EQ(form.max, 3.0f);
    EXPECT_EQ(form.positions, (std::vector<float>{0, 1, 2, 3}));
    ASSERT_EQ(rt_.messages.size(), 2u);
    EXPECT_EQ(rt_.messages[1].prompt, "Borrado Terminado");
  }
  EXPECT_EQ(clientCodes(file_), (std::set<int64_t>{102, 104, 105, 107}));
  auto after = dependentRows(file_);
  int gone = 0;
  for (const auto& [table, per_client] : before) {
    for (const auto& [code, rows] : per_client) {
      const bool due = code == 101 || code == 103 || code == 106;
      const int left = after[table].count(code) ? after[table][code] : 0;
      EXPECT_EQ(left, due ? 0 : rows) << table << " client " << code;
      if (due) gone += rows;
    }
  }
  EXPECT_EQ(gone, 9);

  jet::Database db(file_.string());
  const jet::CheckReport report = jet::checkDatabase(db);
  for (const auto& p : report.problems) ADD_FAILURE() << p.text();
  expectReadersAgree(file_);
}

TEST_P(PurgeOnBuiltDatabase, AClientWithoutRowsStillAdvancesTheBar) {
  build(file_, GetParam(),
        {{201, "H", 2001, 1, 1, 0, 0, 0, 0, 0}, {202, "A", 2001, 1, 1, 0, 0, 1, 1, 1}}, false);
  {
    Form form(file_.string());
    form.text1 = "01/01/2020";
    purge::runPurge(rt_, form);
    EXPECT_EQ(form.max, 1.0f);
    EXPECT_EQ(form.value, 1.0f);
    EXPECT_EQ(rt_.repaints, std::vector<std::string>{"Frame1"});
  }
  EXPECT_EQ(clientCodes(file_), std::set<int64_t>{202});
  jet::Database db(file_.string());
  EXPECT_TRUE(jet::checkDatabase(db).problems.empty());
}

TEST_P(PurgeOnBuiltDatabase, RepaintsFollowTheDrawnBarNotTheClients) {
  std::vector<Client> clients;
  for (int i = 0; i < 600; ++i) clients.push_back({1000 + i, "H", 2001, 1, 1, 0, 0, i % 2, 0, 0});
  build(file_, GetParam(), clients, false);
  Form form(file_.string());
  form.text1 = "01/01/2020";
  purge::runPurge(rt_, form);
  EXPECT_EQ(form.value, 600.0f);
  EXPECT_LE(rt_.repaints.size(), 171u) << "at most once per pixel of the bar";
  EXPECT_GE(rt_.repaints.size(), 100u);
}

// Clients are committed in batches of at most 500; a client failing after a
// batch was committed (the 520th) is taken back alone: the 519 before it
// are gone with their rows, it and those after it are whole.
TEST_P(PurgeOnBuiltDatabase, AFailureAfterABatchTakesBackOnlyTheFailingClient) {
  std::vector<Client> clients;
  for (int i = 0; i < 600; ++i) clients.push_back({1000 + i, "H", 2001, 1, 1, 0, 0, 1, 1, 0});
  build(file_, GetParam(), clients, false);
  {
    Form form(file_.string());
    form.text1 = "01/01/2020";
    form.blank_code_for = "1519";
    EXPECT_THROW(purge::runPurge(rt_, form), jet::JetError);
  }
  const std::set<int64_t> left = clientCodes(file_);
  std::set<int64_t> want;
  for (int code = 1519; code < 1600; ++code) want.insert(code);
  EXPECT_EQ(left, want);
  const auto rows = dependentRows(file_);
  for (const char* table : {"cliprod", "horascli"}) {
    std::map<int64_t, int> expected;
    for (int64_t code : want) expected[code] = 1;
    EXPECT_EQ(rows.at(table), expected) << table;
  }
  jet::Database db(file_.string());
  EXPECT_TRUE(jet::checkDatabase(db).ok());
}

// A client's row that is found dead only when the deletes are made (its
// slot deleted, its index entry left): that client and those after it stay,
// the ones before it are gone with their rows, and the error is reported.
TEST_P(PurgeOnBuiltDatabase, ARowFoundDeadAtTheEndFailsItsClientOnly) {
  std::vector<Client> clients;
  for (int i = 0; i < 40; ++i) clients.push_back({1000 + i, "H", 2001, 1, 1, 0, 0, 1, 1, 0});
  build(file_, GetParam(), clients, false);
  {
    jet::Database db(file_.string(), jet::OpenMode::ReadWrite);
    const std::vector<jet::RowId> rows =
        jet::select(db, "SELECT * FROM horascli WHERE codcli = 1019");
    ASSERT_EQ(rows.size(), 1u);
    db.begin();
    ASSERT_TRUE(jet::deleteSlot(const_cast<jet::PageSource&>(db.pages()).writablePage(rows[0].page),
                                db.format(), rows[0].row));
    db.commit();
  }
  {
    Form form(file_.string());
    form.text1 = "01/01/2020";
    try {
      purge::runPurge(rt_, form);
      ADD_FAILURE() << "the dead row went unnoticed";
    } catch (const jet::JetError& e) {
      EXPECT_EQ(e.number(), jet::err::kBadFormat);
    }
  }
  std::set<int64_t> want;
  for (int code = 1019; code < 1040; ++code) want.insert(code);
  EXPECT_EQ(clientCodes(file_), want);
  const auto rows = dependentRows(file_);
  std::map<int64_t, int> products, hours;
  for (int64_t code : want) products[code] = hours[code] = 1;
  hours.erase(1019);  // the dead row
  EXPECT_EQ(rows.at("cliprod"), products);
  EXPECT_EQ(rows.at("horascli"), hours);
}

INSTANTIATE_TEST_SUITE_P(Formats, PurgeOnBuiltDatabase,
                         ::testing::Values(jet::Version::Jet4, jet::Version::Jet3),
                         [](const auto& info) {
                           return info.param == jet::Version::Jet4 ? "Jet4" : "Jet3";
                         });

}  // namespace
