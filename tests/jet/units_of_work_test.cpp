// Units of work on a copy of a real file: what reaches the file and when, the
// rollback journal after an interrupted write, the lock file, and a file
// changed behind the engine's back.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "io/journal.h"
#include "io/lock_file.h"
#include "io/page_source.h"
#include "jet/checker.h"
#include "jet/database.h"
#include "jet/delete_test_support.h"
#include "jet/error.h"
#include "jet/query.h"
#include "support/shared_fixtures.h"

namespace fs = std::filesystem;

namespace {

using deltest::fileBytes;

class UnitsOfWork : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_FIXTURES();
    file_ = testsupport::scratchCopy("clientes/clientes-v2000-small.mdb", "clientes.mdb");
    dir_ = file_.parent_path();
    original_ = fileBytes(file_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Opens a page source sized for the fixture (Jet 4 pages).
  std::unique_ptr<jet::PageSource> open(jet::OpenMode mode) {
    auto src = std::make_unique<jet::PageSource>(file_.string(), mode);
    src->setPageSize(4096);
    return src;
  }

  fs::path dir_, file_;
  std::vector<uint8_t> original_;
};

TEST_F(UnitsOfWork, ChangesReachTheFileOnlyAtCommit) {
  auto src = open(jet::OpenMode::ReadWrite);
  src->beginUnit();
  src->writablePage(5)[100] ^= 0xFF;
  EXPECT_EQ(src->page(5).u8(100), static_cast<uint8_t>(original_[5 * 4096 + 100] ^ 0xFF));
  EXPECT_EQ(fileBytes(file_), original_) << "nothing is written before commit";
  EXPECT_TRUE(fs::exists(jet::lockFilePath(file_.string()))) << "the lock file is claimed";
  src->commitUnit();
  std::vector<uint8_t> now = fileBytes(file_);
  EXPECT_EQ(now[5 * 4096 + 100], static_cast<uint8_t>(original_[5 * 4096 + 100] ^ 0xFF));
  EXPECT_FALSE(fs::exists(jet::journalPath(file_.string()))) << "a finished unit leaves no journal";
  src.reset();
  EXPECT_FALSE(fs::exists(jet::lockFilePath(file_.string()))) << "closing removes the lock file";
}

TEST_F(UnitsOfWork, RollbackForgetsTheChanges) {
  auto src = open(jet::OpenMode::ReadWrite);
  src->beginUnit();
  src->writablePage(7)[10] ^= 0x55;
  src->writablePage(7)[11] ^= 0x55;  // a second change to the same page keeps the first original
  src->rollbackUnit();
  EXPECT_EQ(src->page(7).u8(10), original_[7 * 4096 + 10]);
  EXPECT_EQ(src->page(7).u8(11), original_[7 * 4096 + 11]);
  src.reset();
  EXPECT_EQ(fileBytes(file_), original_);
}

// A savepoint takes back what changed after it, pages first changed before
// it keep those changes, and the unit stays open for more.
TEST_F(UnitsOfWork, SavepointsTakeBackOnlyWhatFollowedThem) {
  auto src = open(jet::OpenMode::ReadWrite);
  src->beginUnit();
  src->writablePage(5)[100] ^= 0x0F;
  src->savepoint();
  src->writablePage(5)[100] ^= 0xF0;
  src->writablePage(6)[200] ^= 0xFF;
  src->rollbackToSavepoint();
  EXPECT_EQ(src->page(5).u8(100), static_cast<uint8_t>(original_[5 * 4096 + 100] ^ 0x0F));
  EXPECT_EQ(src->page(6).u8(200), original_[6 * 4096 + 200]);
  // Still a savepoint: a second change and rollback behave alike, and a page
  // added since goes again.
  const uint32_t pages = src->pageCount();
  src->writablePage(6)[201] ^= 0xFF;
  src->writablePage(src->appendPage())[0] = 0x03;
  src->rollbackToSavepoint();
  EXPECT_EQ(src->pageCount(), pages);
  src->savepoint();
  src->writablePage(7)[300] ^= 0x01;
  src->commitUnit();
  std::vector<uint8_t> want = original_;
  want[5 * 4096 + 100] ^= 0x0F;
  want[7 * 4096 + 300] ^= 0x01;
  EXPECT_EQ(fileBytes(file_), want);
  EXPECT_THROW(src->rollbackToSavepoint(), std::logic_error) << "a commit ends the savepoint";
}

// Deletes taken back to a savepoint: the rows are live again, a lookup
// built in between answers with them, and the commit keeps the rest.
TEST_F(UnitsOfWork, DeletesTakenBackToASavepointComeBackWhole) {
  auto ids = [](jet::Database& db, const char* sql) { return jet::select(db, sql); };
  {
    jet::Database db(file_.string(), jet::OpenMode::ReadWrite);
    const jet::Table products = db.table("cliprod");
    const auto first = ids(db, "Select * from cliprod where codcli = 135");
    const auto second = ids(db, "Select * from cliprod where codcli = 137");
    ASSERT_FALSE(first.empty());
    ASSERT_FALSE(second.empty());
    db.begin();
    for (jet::RowId id : first) db.deleteRow(products, id);
    db.savepoint();
    for (jet::RowId id : second) db.deleteRow(products, id);
    EXPECT_TRUE(ids(db, "Select * from cliprod where codcli = 137").empty());
    db.rollbackToSavepoint();
    EXPECT_EQ(ids(db, "Select * from cliprod where codcli = 137"), second);
    EXPECT_TRUE(ids(db, "Select * from cliprod where codcli = 135").empty());
    db.commit();
  }
  jet::Database db(file_.string());
  EXPECT_TRUE(ids(db, "Select * from cliprod where codcli = 135").empty());
  EXPECT_FALSE(ids(db, "Select * from cliprod where codcli = 137").empty());
  const jet::CheckReport report = jet::checkDatabase(db);
  EXPECT_TRUE(report.ok()) << (report.problems.empty() ? "" : report.problems[0].text());
}

TEST_F(UnitsOfWork, AnInterruptedWriteIsUndoneWhenTheFileIsOpenedAgain) {
  // The state a crash leaves between the journal's sync and the end of the
  // page writes: journal complete, pages half written, and two pages the
  // unit added already at the end of the file.
  jet::JournalContents j;
  j.page_size = 4096;
  j.file_size = original_.size();
  for (uint32_t p : {3u, 9u}) {
    j.pages[p] =
        std::vector<uint8_t>(original_.begin() + p * 4096, original_.begin() + (p + 1) * 4096);
  }
  jet::Journal(jet::systemOs(), file_.string()).write(j);
  {
    std::fstream f(file_, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(3 * 4096);
    std::string junk(4096, '\x5A');
    f.write(junk.data(), static_cast<std::streamsize>(junk.size()));
    f.seekp(0, std::ios::end);
    f.write(junk.data(), static_cast<std::streamsize>(junk.size()));
    f.write(junk.data(), static_cast<std::streamsize>(junk.size()));
  }
  {
    // A reader sees the file as it was before the unit, and leaves it alone.
    auto ro = open(jet::OpenMode::ReadOnly);
    EXPECT_EQ(ro->page(3).u8(0), original_[3 * 4096]);
    EXPECT_EQ(ro->pageCount(), original_.size() / 4096) << "added pages are not there yet";
    EXPECT_TRUE(fs::exists(jet::journalPath(file_.string())));
  }
  jet::Database db(file_.string(), jet::OpenMode::ReadWrite);
  EXPECT_EQ(fileBytes(file_), original_) << "the journal put every page back, and the size";
  EXPECT_FALSE(fs::exists(jet::journalPath(file_.string())));
  EXPECT_EQ(db.tableNames().size(), 4u);
}

TEST_F(UnitsOfWork, AJournalCutShortIsDiscardedBecauseTheFileWasNotTouched) {
  jet::JournalContents j;
  j.page_size = 4096;
  j.file_size = original_.size();
  j.pages[3] = std::vector<uint8_t>(4096, 0x11);
  jet::Journal(jet::systemOs(), file_.string()).write(j);
  fs::resize_file(jet::journalPath(file_.string()), 100);
  jet::Database db(file_.string(), jet::OpenMode::ReadWrite);
  EXPECT_EQ(fileBytes(file_), original_);
  EXPECT_FALSE(fs::exists(jet::journalPath(file_.string())));
}

TEST_F(UnitsOfWork, AnotherProgramsLockFileStopsEveryWrite) {
  { std::ofstream(jet::lockFilePath(file_.string())) << "PC-OFICINA"; }
  auto src = open(jet::OpenMode::ReadWrite);
  try {
    src->beginUnit();
    FAIL() << "a unit began while another program holds the database";
  } catch (const jet::JetError& e) {
    EXPECT_EQ(e.number(), jet::err::kFileInUse);
    EXPECT_NE(std::string(e.what()).find("ya está en uso"), std::string::npos);
  }
  EXPECT_FALSE(src->inUnit());
  src.reset();
  EXPECT_TRUE(fs::exists(jet::lockFilePath(file_.string()))) << "another program's lock file stays";
  EXPECT_EQ(fileBytes(file_), original_);
}

TEST_F(UnitsOfWork, AFileChangedBehindTheEngineIsNotWritten) {
  auto src = open(jet::OpenMode::ReadWrite);
  (void)src->page(4);
  {
    std::ofstream f(file_, std::ios::app | std::ios::binary);
    f << std::string(4096, '\0');
  }
  try {
    src->beginUnit();
    FAIL() << "a unit began on a file another program changed";
  } catch (const jet::JetError& e) {
    EXPECT_EQ(e.number(), jet::err::kChangedByOther);
  }
}

TEST_F(UnitsOfWork, ReadOnlyDatabasesRefuseToChange) {
  jet::Database db(file_.string());
  jet::Table t = db.table("clientes");
  try {
    db.deleteRow(t, t.rowIds().front());
    FAIL() << "a read-only database deleted a row";
  } catch (const jet::JetError& e) {
    EXPECT_EQ(e.number(), jet::err::kReadOnly);
  }
  EXPECT_EQ(fileBytes(file_), original_);
}

}  // namespace
