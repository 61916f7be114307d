// The engine on an operating system that fails: whichever write, sync or
// truncate of a commit fails, the commit reports the engine's error and the
// database file ends as it was, checker-clean; a file being created that
// cannot be finished is not left behind; and one commit makes its calls in
// the order a crash at any point can be recovered from.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "index/index_lookup.h"
#include "io/journal.h"
#include "io/lock_file.h"
#include "jet/checker.h"
#include "jet/creator.h"
#include "jet/database.h"
#include "jet/delete_test_support.h"
#include "jet/error.h"
#include "support/faulty_os.h"
#include "support/shared_fixtures.h"

namespace {

namespace fs = std::filesystem;
using deltest::fileBytes;
using testsupport::FaultyOs;
using testsupport::OsCall;
using testsupport::OsOp;

struct Fault {
  OsOp op;
  int nth;  // counted from the start of the commit
};

class OsFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_FIXTURES();
    file_ = testsupport::scratchCopy("clientes/clientes-v2000-small.mdb", "clientes.mdb");
    dir_ = file_.parent_path();
    original_ = fileBytes(file_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string journal() const { return jet::journalPath(file_.string()); }
  // Where the journal is written before it is renamed to journal().
  std::string newJournal() const { return jet::unfinishedJournalPath(file_.string()); }

  // Deletes rows spread over the products table in a unit opened on `os`
  // and commits it, the faults armed just before the commit. Returns the
  // commit's error (number 0 when it succeeded); `calls` gets what the
  // commit asked of the system.
  jet::JetError commit(FaultyOs& os, const std::vector<Fault>& faults,
                       std::vector<OsCall>* calls = nullptr) {
    jet::JetError result(0, "");
    jet::Database db(file_.string(), jet::OpenMode::ReadWrite, os);
    const jet::Table products = db.table("cliprod");
    const std::vector<jet::RowId> all = products.rowIds();
    std::vector<jet::RowId> rows;
    const size_t step = std::max<size_t>(1, all.size() / 12);
    for (size_t i = 0; i < all.size() && rows.size() < 12; i += step) {
      rows.push_back(all[i]);
    }
    // The lookup is built before the unit, so the unit's deletes change it.
    const size_t code = *products.def().findColumn("codcli");
    db.lookup(products, code);
    db.begin();
    for (jet::RowId id : rows) db.deleteRow(products, id);
    os.clearCalls();
    for (const Fault& f : faults) os.failCall(f.op, f.nth);
    try {
      db.commit();
    } catch (const jet::JetError& e) {
      result = e;
      // The rows are back, so the lookup must find them again.
      for (jet::RowId id : rows) {
        const std::vector<jet::RowId> found =
            db.lookup(products, code).find(products.read(id, code));
        EXPECT_NE(std::find(found.begin(), found.end(), id), found.end()) << "row back, not found";
      }
    }
    if (calls) *calls = os.calls();
    EXPECT_FALSE(db.inUnit());
    return result;
  }

  // "write journal", "sync database", ... for the calls that change files,
  // a run of the same call on the same file given once.
  std::vector<std::string> changes(const std::vector<OsCall>& calls) const {
    std::vector<std::string> out;
    for (const OsCall& c : calls) {
      if (c.op == OsOp::Read || c.op == OsOp::Size || c.op == OsOp::Identity ||
          c.op == OsOp::Exists) {
        continue;
      }
      std::string s = testsupport::opName(c.op);
      if (c.op != OsOp::SyncFolder) {
        s += c.path == file_.string()                      ? " database"
             : c.path == journal()                         ? " journal"
             : c.path == newJournal()                      ? " new journal"
             : c.path == jet::lockFilePath(file_.string()) ? " lock file"
                                                           : " " + c.path;
      }
      if (out.empty() || out.back() != s) out.push_back(s);
    }
    return out;
  }

  fs::path dir_, file_;
  std::vector<uint8_t> original_;
};

TEST_F(OsFaults, ACommitSyncsTheJournalBeforeThePagesAndTheFileBeforeRemovingIt) {
  FaultyOs os;
  std::vector<OsCall> calls;
  ASSERT_EQ(commit(os, {}, &calls).number(), 0);
  // The journal appears under its name only once complete and synced, and
  // the write lock goes with the unit.
  const std::vector<std::string> want = {
      "open new journal",   "write new journal", "sync new journal", "close new journal",
      "rename new journal", "sync folder",       "write database",   "sync database",
      "remove journal",     "sync folder",       "remove lock file"};
  EXPECT_EQ(changes(calls), want);
  EXPECT_NE(fileBytes(file_), original_);
}

TEST_F(OsFaults, AFailedCommitLeavesTheFileAsItWas) {
  // The writes and syncs of the commit as it goes when nothing fails.
  std::vector<OsCall> calls;
  {
    FaultyOs os;
    ASSERT_EQ(commit(os, {}, &calls).number(), 0);
    std::ofstream(file_, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(original_.data()),
               static_cast<std::streamsize>(original_.size()));
    ASSERT_EQ(fileBytes(file_), original_);
  }
  std::vector<std::string> writes, syncs;  // the file each goes to
  for (const OsCall& c : calls) {
    if (c.op == OsOp::Write) writes.push_back(c.path);
    if (c.op == OsOp::Sync) syncs.push_back(c.path);
  }
  const int journal_writes =
      static_cast<int>(std::count(writes.begin(), writes.end(), newJournal()));
  const int page_writes = static_cast<int>(writes.size()) - journal_writes;
  ASSERT_GT(page_writes, 1);
  ASSERT_EQ(syncs.size(), 2u);

  struct Case {
    std::string name;
    std::vector<Fault> faults;
    std::string named;   // the file the error names
    bool journal_stays;  // the put-back failed too: the next open plays it
  };
  std::vector<Case> cases;
  for (size_t k = 0; k < writes.size(); ++k) {
    cases.push_back({"write " + std::to_string(k + 1) + " of " + writes[k],
                     {{OsOp::Write, static_cast<int>(k) + 1}},
                     writes[k],
                     false});
  }
  for (size_t k = 0; k < syncs.size(); ++k) {
    cases.push_back(
        {"sync of " + syncs[k], {{OsOp::Sync, static_cast<int>(k) + 1}}, syncs[k], false});
  }
  const std::string db = file_.string();
  const int first_page = journal_writes + 1;
  const int first_put_back = journal_writes + page_writes + 1;  // after every page was written
  cases.push_back({"a page write, then the put-back's truncate",
                   {{OsOp::Write, first_page}, {OsOp::Truncate, 1}},
                   db,
                   true});
  cases.push_back({"a page write, then the put-back's sync",
                   {{OsOp::Write, first_page}, {OsOp::Sync, 2}},
                   db,
                   true});
  cases.push_back({"the file's sync, then a put-back write",
                   {{OsOp::Sync, 2}, {OsOp::Write, first_put_back + 1}},
                   db,
                   true});
  cases.push_back({"a page write, then removing the journal after the put-back",
                   {{OsOp::Write, first_page + 1}, {OsOp::Remove, 1}},
                   db,
                   true});

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FaultyOs os;
    const jet::JetError e = commit(os, c.faults);
    EXPECT_EQ(e.number(), jet::err::kCannotOpen);
    EXPECT_NE(std::string(e.what()).find("'" + c.named + "'"), std::string::npos) << e.what();
    EXPECT_EQ(fs::exists(journal()), c.journal_stays);
    EXPECT_FALSE(fs::exists(jet::lockFilePath(db)));
    if (!c.journal_stays) {
      EXPECT_EQ(fileBytes(file_), original_) << "put back at once";
    }
    { jet::Database reopened(db, jet::OpenMode::ReadWrite); }
    EXPECT_EQ(fileBytes(file_), original_);
    EXPECT_FALSE(fs::exists(journal()));
    jet::Database check(db);
    const jet::CheckReport report = jet::checkDatabase(check);
    EXPECT_TRUE(report.ok()) << (report.problems.empty() ? "" : report.problems[0].text());
  }
}

// A journal that outlives its commit would undo it at the next open: one
// that cannot be removed is marked as ended in place, and when even that
// fails the commit fails and the file is put back.
TEST_F(OsFaults, AJournalThatCannotBeRemovedNeverUndoesItsCommit) {
  struct Case {
    const char* name;
    std::vector<Fault> faults;
    int number;  // of the commit's error, 0 when it succeeds
  };
  const std::vector<Case> cases = {
      {"removing the journal", {{OsOp::Remove, 1}}, 0},
      {"removing it and reopening it to mark it", {{OsOp::Remove, 1}, {OsOp::Open, 2}}, 3051},
      {"removing it and syncing the mark", {{OsOp::Remove, 1}, {OsOp::Sync, 3}}, 3051},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::ofstream(file_, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(original_.data()),
               static_cast<std::streamsize>(original_.size()));
    FaultyOs os;
    const jet::JetError e = commit(os, c.faults);
    EXPECT_EQ(e.number(), c.number) << e.what();
    const std::vector<uint8_t> committed = fileBytes(file_);
    EXPECT_EQ(committed == original_, c.number != 0);
    { jet::Database reopened(file_.string(), jet::OpenMode::ReadWrite); }
    EXPECT_EQ(fileBytes(file_), committed) << "the next open changed nothing";
    EXPECT_FALSE(fs::exists(journal()));
  }
}

// A folder that refuses the lock file is named as the reason, whatever the
// system calls the refusal; any other failure names the lock file.
// A commit put back whole leaves the file as the program knew it: the next
// unit on the same database is not refused as another program's change.
TEST_F(OsFaults, AFailedCommitPutBackLetsTheSameDatabaseWriteAgain) {
  FaultyOs os;
  jet::Database db(file_.string(), jet::OpenMode::ReadWrite, os);
  const jet::Table products = db.table("cliprod");
  const jet::RowId row = products.rowIds().front();
  db.begin();
  db.deleteRow(products, row);
  const auto syncs = std::count_if(os.calls().begin(), os.calls().end(),
                                   [](const OsCall& c) { return c.op == OsOp::Sync; });
  os.failCall(OsOp::Sync, static_cast<int>(syncs) + 2);  // the database's, after the journal's
  EXPECT_THROW(db.commit(), jet::JetError);
  ASSERT_FALSE(fs::exists(journal()));
  EXPECT_EQ(fileBytes(file_), original_);
  db.begin();
  db.deleteRow(products, row);
  EXPECT_NO_THROW(db.commit());
  EXPECT_NE(fileBytes(file_), original_);
}

TEST_F(OsFaults, ALockFileTheFolderRefusesNamesTheFolder) {
  const std::string db_path = file_.string();
  const std::string folder = "'" + dir_.string() + "'";
  const std::string lock = "'" + jet::lockFilePath(db_path) + "'";
  const std::vector<std::pair<jet::OsStatus, std::string>> cases = {
#ifdef _WIN32
      // ERROR_ACCESS_DENIED, ERROR_WRITE_PROTECT, ERROR_NOT_SUPPORTED, ERROR_CRC
      {{jet::OsFailure::Other, 5}, "No se puede escribir en la carpeta " + folder},
      {{jet::OsFailure::Other, 19}, "No se puede escribir en la carpeta " + folder},
      {{jet::OsFailure::Other, 50}, "No se puede escribir en la carpeta " + folder},
      {{jet::OsFailure::Other, 23}, "No se puede abrir el archivo " + lock},
#else
      {{jet::OsFailure::Other, EACCES}, "No se puede escribir en la carpeta " + folder},
      {{jet::OsFailure::Other, EPERM}, "No se puede escribir en la carpeta " + folder},
      {{jet::OsFailure::Other, EROFS}, "No se puede escribir en la carpeta " + folder},
      {{jet::OsFailure::Other, EIO}, "No se puede abrir el archivo " + lock},
#endif
  };
  for (const auto& [failure, says] : cases) {
    SCOPED_TRACE(failure.code);
    FaultyOs os;
    jet::Database db(db_path, jet::OpenMode::ReadWrite, os);
    const jet::Table products = db.table("cliprod");
    os.failCall(OsOp::Open, 1, failure);
    try {
      db.deleteRow(products, products.rowIds().front());
      ADD_FAILURE() << "deleted without a lock file";
    } catch (const jet::JetError& e) {
      EXPECT_EQ(e.number(), jet::err::kCannotOpen);
      EXPECT_EQ(std::string(e.what()).rfind(says, 0), 0u) << e.what();
    }
  }
  EXPECT_EQ(fileBytes(file_), original_);
}

// A creator that cannot write, cut or sync its file, or cannot create it,
// reports the engine's error and leaves nothing in the folder.
TEST(OsFaultsCreate, AFailedCreateLeavesNoFileBehind) {
  const fs::path dir = testsupport::scratchDir() / "create";
  fs::create_directories(dir);
  const std::string path = (dir / "nueva.mdb").string();
  auto create = [&](FaultyOs& os) {
    jet::DatabaseCreator db(path, {}, os);
    jet::TableDesign design;
    design.name = "clientes";
    design.columns = {{"codcli", jet::ColumnType::Long, 0, true},
                      {"nombre", jet::ColumnType::Text, 50},
                      {"notas", jet::ColumnType::Memo}};
    design.indexes = {{"PrimaryKey", {{"codcli"}}, true}, {"nombre", {{"nombre"}}}};
    const size_t t = db.addTable(design);
    for (int i = 0; i < 400; ++i) {
      db.insert(t, {jet::Value::null(), jet::Value::text("Cliente " + std::to_string(i)),
                    jet::Value::text(std::string(100 + i % 7 * 30, 'n'))});
    }
    db.finish();
  };
  int writes = 0;
  {
    FaultyOs os;
    create(os);
    writes = os.count(OsOp::Write);
    ASSERT_GT(writes, 2);
    ASSERT_EQ(os.count(OsOp::Truncate), 1);
    ASSERT_EQ(os.count(OsOp::Sync), 1);
    fs::remove(path);
  }

  struct Case {
    std::string name;
    Fault fault;
    jet::OsStatus failure;
    int number;
    std::string says;
  };
  const jet::OsStatus io_error{jet::OsFailure::Other, 5};
  const jet::OsStatus disk_full{jet::OsFailure::DiskFull, 28};
  std::vector<Case> cases = {
      {"creating the file", {OsOp::Open, 1}, io_error, jet::err::kCannotOpen, "No se puede abrir"},
      {"the first write, disk full",
       {OsOp::Write, 1},
       disk_full,
       jet::err::kDiskFull,
       "No hay espacio"},
      {"cutting the file",
       {OsOp::Truncate, 1},
       io_error,
       jet::err::kDiskFull,
       "error del sistema 5"},
      {"syncing the file", {OsOp::Sync, 1}, disk_full, jet::err::kDiskFull, "No hay espacio"},
      {"closing the file", {OsOp::Close, 1}, io_error, jet::err::kDiskFull, "error del sistema 5"},
  };
  for (int k = 1; k <= writes; ++k) {
    cases.push_back({"write " + std::to_string(k),
                     {OsOp::Write, k},
                     io_error,
                     jet::err::kDiskFull,
                     "error del sistema 5"});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FaultyOs os;
    os.failCall(c.fault.op, c.fault.nth, c.failure);
    try {
      create(os);
      ADD_FAILURE() << "the file was created";
    } catch (const jet::JetError& e) {
      EXPECT_EQ(e.number(), c.number);
      EXPECT_NE(std::string(e.what()).find(c.says), std::string::npos) << e.what();
    }
    EXPECT_TRUE(fs::is_empty(dir));
  }
  fs::remove_all(dir);
}

}  // namespace
