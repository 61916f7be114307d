// Deletes deferred to the commit (Database::deferDeletes) against the same
// deletes made one by one: on real Jet 3 and Jet 4 files, the client
// fixtures and a generated client database with its rows scattered and
// relationships enforced, both ways must leave the same rows, row counts and
// index entries, a file the checker passes and the independent readers read
// alike. While pending, a row is gone for every reader; a savepoint takes
// back exactly the rows recorded after it; a row the commit finds it cannot
// delete takes back its own savepoint and those after it; a commit whose
// deletes fail otherwise leaves the file byte for byte as it was and
// reports the error.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "delete_test_support.h"
#include "format/data_page.h"
#include "format/table_def.h"
#include "index/index_delete.h"
#include "index/index_walk.h"
#include "jet/checker.h"
#include "jet/database.h"
#include "jet/error.h"
#include "jet/query.h"
#include "support/faulty_os.h"
#include "support/shared_fixtures.h"

namespace {

namespace fs = std::filesystem;
using deltest::fileBytes;

// A client database as one that grew over years leaves it.
fs::path generatedClients() {
  static const fs::path file = [] {
    const fs::path f = testsupport::scratchDir() / "scattered.mdb";
    const std::string cmd = std::string("'") + DEFERRED_TEST_MKCLIENTES + "' '" + f.string() +
                            "' --clients 300 --max-deps 4 --seed 11 --relations --scatter --quiet";
    return std::system(cmd.c_str()) == 0 ? f : fs::path();
  }();
  return file;
}

std::string valueText(const jet::Value& v) {
  char number[64];
  std::snprintf(number, sizeof number, "%d:%lld:%a:", static_cast<int>(v.kind()),
                static_cast<long long>(v.asInt()), v.asDouble());
  return number + v.asString() + "|";
}

// What a reader sees of every user table: its live rows by id with their
// values, its row count, and each index's leaf entries in chain order.
struct Seen {
  std::map<std::string, std::map<jet::RowId, std::string>> rows;
  std::map<std::string, uint32_t> counts;
  std::map<std::string, std::vector<std::string>> entries;
  bool operator==(const Seen&) const = default;
};

// `sound`: the file must pass the checker (one damaged on purpose need not).
Seen seen(const fs::path& file, bool sound = true) {
  jet::Database db(file.string());
  if (sound) {
    EXPECT_TRUE(jet::checkDatabase(db).ok()) << file.filename() << " fails the checker";
  }
  Seen out;
  for (const std::string& name : db.tableNames()) {
    const jet::Table t = db.table(name);
    t.scan([&](jet::RowId id) {
      std::string text;
      for (const jet::Value& v : t.readRow(id)) text += valueText(v);
      out.rows[name][id] = text;
    });
    out.counts[name] = jet::readTableDef(db.pages(), db.format(), t.def().page, 0).row_count;
    for (const jet::RealIndex& index : t.def().real_indexes) {
      jet::IndexWalker w(db.pages(), db.format(), index.root_page, t.def().page);
      w.forEachEntry([&](const jet::IndexEntry& e, const jet::IndexPage&) {
        out.entries[name].push_back(deltest::hex(e.key) + "@" + std::to_string(e.row.toPointer()));
      });
    }
  }
  return out;
}

// `name`: the fixture's path under fixtures/, by which the readers' known
// faults are listed.
void expectReadersAgree(const fs::path& file, const std::string& name) {
  const std::string node = DEFERRED_TEST_NODE;
  if (node.empty()) {
    if (testsupport::requireShared()) ADD_FAILURE() << "Node.js is needed to compare readers";
    return;
  }
  const std::string cmd = "TZ=UTC '" + node + "' '" DEFERRED_TEST_COMPARE "' --jetdump '" +
                          DEFERRED_TEST_JETDUMP + "' --name '" + name + "' '" + file.string() +
                          "' 2>&1";
  FILE* pipe = ::popen(cmd.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string out;
  char buf[4096];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;) out.append(buf, n);
  const int status = ::pclose(pipe);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << out;
}

// Every `step`th row of every user table, in table order, tried in one
// unit; a row a cascade already took is passed over, a refused one (3200)
// noted. Returns the rows refused, as table:pointer.
std::vector<std::string> deleteSpread(const fs::path& file, size_t step, bool deferred) {
  jet::Database db(file.string(), jet::OpenMode::ReadWrite);
  db.begin();
  if (deferred) db.deferDeletes();
  std::vector<std::string> refused;
  for (const std::string& name : db.tableNames()) {
    const jet::Table t = db.table(name);
    const std::vector<jet::RowId> ids = t.rowIds();
    for (size_t i = step / 2; i < ids.size(); i += step) {
      if (!t.isLive(ids[i])) continue;
      try {
        db.deleteRow(t, ids[i]);
      } catch (const jet::JetError& e) {
        if (e.number() != jet::err::kRelatedRecords) throw;
        refused.push_back(name + ":" + std::to_string(ids[i].toPointer()));
      }
    }
  }
  db.commit();
  return refused;
}

struct FileCase {
  const char* fixture;  // under fixtures/, or null for the generated client database
  size_t step;
};

TEST(DeferredDeletes, LeaveWhatDeletingOneByOneLeaves) {
  REQUIRE_FIXTURES();
  const FileCase cases[] = {
      {"real/jet3/nwind.mdb", 3},
      {"real/jet3/overflowTestV1997.mdb", 2},
      {"real/jet3/testIndexCodesV1997.mdb", 3},
      {"real/jet4/compIndexTestV2000.mdb", 3},
      {"real/jet4/testIndexPropertiesV2000.mdb", 2},
      {"real/jet4/overflowTestV2000.mdb", 2},
      {"real/jet4/testV2000.mdb", 3},
      {"clientes/clientes-v2000-small.mdb", 2},
      {"clientes/clientes-v2003-rel.mdb", 3},
      {nullptr, 2},
  };
  for (const FileCase& c : cases) {
    const fs::path source = c.fixture ? testsupport::fixture(c.fixture) : generatedClients();
    SCOPED_TRACE(source.filename().string());
    ASSERT_FALSE(source.empty()) << "mkclientes failed";
    const fs::path dir = testsupport::scratchDir();
    const fs::path one = dir / "one_by_one.mdb", deferred = dir / "deferred.mdb";
    fs::copy_file(source, one, fs::copy_options::overwrite_existing);
    fs::copy_file(source, deferred, fs::copy_options::overwrite_existing);
    EXPECT_EQ(deleteSpread(one, c.step, false), deleteSpread(deferred, c.step, true));
    const Seen expected = seen(one), got = seen(deferred);
    EXPECT_EQ(got.rows, expected.rows);
    EXPECT_EQ(got.counts, expected.counts);
    EXPECT_EQ(got.entries, expected.entries);
    EXPECT_NE(got.rows, seen(source).rows) << "nothing was deleted";
    expectReadersAgree(deferred, c.fixture ? c.fixture : "clientes.mdb");
  }
}

class PendingRows : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_FIXTURES();
    file_ = testsupport::scratchCopy("clientes/clientes-v2003-rel.mdb", "clientes.mdb");
    original_ = fileBytes(file_);
  }

  // The rows of a dependent table with the client's code, through the
  // index lookup and through a scan.
  static std::pair<std::vector<jet::RowId>, std::vector<jet::RowId>> rowsOf(const jet::Database& db,
                                                                            int64_t code) {
    const std::string c = std::to_string(code);
    return {jet::select(db, "SELECT * FROM cliprod WHERE codcli = " + c),
            jet::select(db, "SELECT * FROM cliprod WHERE codcli >= " + c + " AND codcli <= " + c)};
  }

  // A client that has rows in cliprod, its row and theirs.
  struct Client {
    int64_t code = 0;
    jet::RowId row;
    std::vector<jet::RowId> products;
  };
  static std::vector<Client> clientsWithProducts(const jet::Database& db, size_t n) {
    std::vector<Client> out;
    const jet::Table clients = db.table("clientes");
    for (jet::RowId id : clients.rowIds()) {
      const int64_t code = clients.read(id, 0).asInt();
      std::vector<jet::RowId> products = rowsOf(db, code).first;
      if (!products.empty() && out.size() < n) out.push_back({code, id, products});
    }
    return out;
  }

  // Deletes the client as the purge does: its rows in the dependent tables
  // first (the relationships do not cascade), then its own. Returns every
  // row deleted, with its table.
  static std::vector<std::pair<std::string, jet::RowId>> deleteClient(jet::Database& db,
                                                                      const Client& c) {
    std::vector<std::pair<std::string, jet::RowId>> out;
    for (const char* name : {"cliprod", "horascli", "diascli"}) {
      const jet::Table t = db.table(name);
      for (jet::RowId id : jet::select(db, std::string("SELECT * FROM ") + name +
                                               " WHERE codcli = " + std::to_string(c.code))) {
        db.deleteRow(t, id);
        out.emplace_back(name, id);
      }
    }
    db.deleteRow(db.table("clientes"), c.row);
    out.emplace_back("clientes", c.row);
    return out;
  }

  fs::path file_;
  std::vector<uint8_t> original_;
};

// A pending row is gone for every reader of the database, as a deleted one.
TEST_F(PendingRows, AreGoneForEveryReader) {
  jet::Database db(file_.string(), jet::OpenMode::ReadWrite);
  const std::vector<Client> clients = clientsWithProducts(db, 2);
  ASSERT_EQ(clients.size(), 2u);
  const jet::Table t = db.table("clientes"), products = db.table("cliprod");
  const size_t rows_before = t.rowIds().size(), products_before = products.rowIds().size();
  db.begin();
  db.deferDeletes();
  db.deleteRow(products, clients[0].products[0]);  // one dependent row
  // A client, which its pending rows no longer hold back.
  std::vector<std::pair<std::string, jet::RowId>> gone = deleteClient(db, clients[1]);
  gone.emplace_back("cliprod", clients[0].products[0]);
  EXPECT_EQ(db.pendingDeletes(), gone.size());
  for (const auto& [name, id] : gone) {
    const jet::Table table = db.table(name);
    SCOPED_TRACE(name + " " + std::to_string(id.toPointer()));
    EXPECT_FALSE(table.isLive(id));
    const std::vector<jet::RowId> ids = table.rowIds();
    EXPECT_EQ(std::count(ids.begin(), ids.end(), id), 0);
    EXPECT_THROW(table.read(id, 0), jet::JetError);
    EXPECT_THROW(db.deleteRow(table, id), jet::JetError) << "a pending row deleted again";
  }
  EXPECT_EQ(t.rowIds().size(), rows_before - 1);
  EXPECT_EQ(products.rowIds().size(), products_before - 1 - clients[1].products.size());
  const auto [by_lookup, by_scan] = rowsOf(db, clients[0].code);
  EXPECT_EQ(by_lookup.size(), clients[0].products.size() - 1);
  EXPECT_EQ(by_scan, by_lookup);
  EXPECT_TRUE(rowsOf(db, clients[1].code).first.empty());
  EXPECT_TRUE(rowsOf(db, clients[1].code).second.empty());
  EXPECT_EQ(
      jet::select(db, "SELECT * FROM clientes WHERE CLICOD = " + std::to_string(clients[1].code))
          .size(),
      0u);
  db.rollback();
  EXPECT_EQ(db.pendingDeletes(), 0u);
  EXPECT_TRUE(t.isLive(clients[1].row));
  EXPECT_EQ(rowsOf(db, clients[1].code).first, clients[1].products);
  EXPECT_EQ(fileBytes(file_), original_);
}

// rollbackToSavepoint takes back the rows recorded since the savepoint and
// no others; the commit deletes exactly the rows left pending.
TEST_F(PendingRows, ASavepointTakesBackItsRowsOnly) {
  std::vector<Client> clients;
  {
    jet::Database db(file_.string(), jet::OpenMode::ReadWrite);
    clients = clientsWithProducts(db, 3);
    ASSERT_EQ(clients.size(), 3u);
    const jet::Table t = db.table("clientes");
    db.begin();
    db.deferDeletes();
    db.savepoint();
    deleteClient(db, clients[0]);
    const size_t kept = db.pendingDeletes();
    db.savepoint();
    deleteClient(db, clients[1]);
    EXPECT_GT(db.pendingDeletes(), kept);
    db.rollbackToSavepoint();
    EXPECT_EQ(db.pendingDeletes(), kept);
    EXPECT_TRUE(t.isLive(clients[1].row));
    EXPECT_EQ(rowsOf(db, clients[1].code).first, clients[1].products);
    EXPECT_FALSE(t.isLive(clients[0].row));
    db.savepoint();
    deleteClient(db, clients[2]);
    db.commit();
    EXPECT_EQ(db.pendingDeletes(), 0u);
  }
  const fs::path expected = file_.parent_path() / "expected.mdb";
  {
    std::ofstream(expected, std::ios::binary)
        .write(reinterpret_cast<const char*>(original_.data()),
               static_cast<std::streamsize>(original_.size()));
    jet::Database db(expected.string(), jet::OpenMode::ReadWrite);
    db.begin();
    deleteClient(db, clients[0]);
    deleteClient(db, clients[2]);
    db.commit();
  }
  const Seen got = seen(file_), want = seen(expected);
  EXPECT_EQ(got.rows, want.rows);
  EXPECT_EQ(got.counts, want.counts);
  EXPECT_EQ(got.entries, want.entries);
}

// Rows are read only at the commit. A row found dead there (its slot
// deleted, the index still pointing at it) stops the unit as its delete
// would have: the clients recorded before its savepoint are deleted, its
// own client and those after it stay whole, and the error goes on.
TEST_F(PendingRows, ARowFoundDeadAtTheCommitTakesBackItsClientAndTheRest) {
  std::vector<Client> clients;
  {
    jet::Database db(file_.string(), jet::OpenMode::ReadWrite);
    clients = clientsWithProducts(db, 3);
    ASSERT_EQ(clients.size(), 3u);
    const jet::RowId dead = clients[1].products.back();
    db.begin();
    ASSERT_TRUE(jet::deleteSlot(const_cast<jet::PageSource&>(db.pages()).writablePage(dead.page),
                                db.format(), dead.row));
    db.commit();
  }
  const fs::path expected = file_.parent_path() / "expected.mdb";
  fs::copy_file(file_, expected, fs::copy_options::overwrite_existing);
  fs::copy_file(file_, file_.parent_path() / "damaged.mdb", fs::copy_options::overwrite_existing);
  {
    jet::Database db(file_.string(), jet::OpenMode::ReadWrite);
    db.begin();
    db.deferDeletes();
    for (const Client& c : clients) {
      db.savepoint();
      deleteClient(db, c);
    }
    try {
      db.commit();
      ADD_FAILURE() << "the dead row went unnoticed";
    } catch (const jet::JetError& e) {
      EXPECT_EQ(e.number(), jet::err::kBadFormat);
      EXPECT_NE(std::string(e.what()).find("no es una fila viva"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(db.inUnit());
    EXPECT_EQ(db.pendingDeletes(), 0u);
  }
  {
    jet::Database db(expected.string(), jet::OpenMode::ReadWrite);
    db.begin();
    deleteClient(db, clients[0]);
    db.commit();
  }
  const Seen got = seen(file_, false), want = seen(expected, false);
  EXPECT_EQ(got.rows, want.rows);
  EXPECT_EQ(got.counts, want.counts);
  EXPECT_EQ(got.entries, want.entries);
  EXPECT_NE(got.rows, seen(file_.parent_path() / "damaged.mdb", false).rows) << "nothing went";
}

// A commit whose deferred deletes cannot be made: a write of the commit
// failing (first, second and last of the database file's writes), or an
// index found without the entry of a pending row. The error goes on and
// the file is as it was, byte for byte.
TEST_F(PendingRows, ACommitThatFailsChangesNothing) {
  // The index entry of one row taken out beforehand: the file is damaged
  // in a way only the deletes of the commit find.
  jet::RowId lost;
  {
    jet::Database db(file_.string(), jet::OpenMode::ReadWrite);
    const jet::Table products = db.table("cliprod");
    lost = products.rowIds().at(products.rowIds().size() / 2);
    const jet::TableDef& def = products.def();
    db.begin();
    jet::removeIndexEntry(const_cast<jet::PageSource&>(db.pages()), db.format(), def,
                          def.real_indexes.at(0), products.readRow(lost), lost);
    db.commit();
  }
  const std::vector<uint8_t> damaged = fileBytes(file_);

  struct Case {
    const char* name;
    testsupport::OsOp op;
    int nth;  // of the commit's calls of `op`; 0: none fails
    bool with_lost_row;
  };
  const Case cases[] = {
      {"the first write", testsupport::OsOp::Write, 1, false},
      {"the second write", testsupport::OsOp::Write, 2, false},
      {"the first sync", testsupport::OsOp::Sync, 1, false},
      {"a row the index has lost", testsupport::OsOp::Write, 0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testsupport::FaultyOs os;
    jet::Database db(file_.string(), jet::OpenMode::ReadWrite, os);
    const jet::Table products = db.table("cliprod");
    db.begin();
    db.deferDeletes();
    for (jet::RowId id : products.rowIds()) {
      if (id.toPointer() % 3 == 0 && id != lost) db.deleteRow(products, id);
    }
    if (c.with_lost_row) db.deleteRow(products, lost);
    if (c.nth > 0) os.failCall(c.op, c.nth);
    EXPECT_THROW(db.commit(), jet::JetError);
    EXPECT_FALSE(db.inUnit());
    EXPECT_EQ(db.pendingDeletes(), 0u);
    EXPECT_TRUE(products.isLive(products.rowIds().front()));
    EXPECT_EQ(fileBytes(file_), damaged);
  }
}

}  // namespace
