// Units of work on a copy of a real file: what reaches the file and when, the
// rollback journal after an interrupted write (damaged, or of another file),
// the lock file (live, stale, held across units), symbolic links, and a file
// changed behind the engine's back.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>

#include "io/journal.h"
#include "io/lock_file.h"
#include "io/page_source.h"
#include "jet/checker.h"
#include "jet/database.h"
#include "jet/delete_test_support.h"
#include "jet/error.h"
#include "jet/query.h"
#include "support/faulty_os.h"
#include "support/shared_fixtures.h"

namespace fs = std::filesystem;

namespace {

using deltest::fileBytes;
using testsupport::OsOp;

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

  // A journal of the original bytes of `pages`, as a unit that wrote them
  // unchanged would leave it.
  jet::JournalContents journalOf(std::initializer_list<uint32_t> pages) const {
    jet::JournalContents j;
    j.page_size = 4096;
    j.file_size = original_.size();
    j.first_page_crc = jet::journalCrc(original_.data(), 4096);
    for (uint32_t p : pages) {
      j.pages[p] =
          std::vector<uint8_t>(original_.begin() + p * 4096, original_.begin() + (p + 1) * 4096);
      j.written_crc[p] = jet::sectorCrcs(j.pages[p].data(), 4096);
    }
    return j;
  }

  static void writeBytes(const fs::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
  }

  // Deletes every `step`th product row from `first` on and commits, with
  // the faults armed after the deletes (a failed commit is expected then).
  void deleteProducts(size_t first, size_t step, const std::vector<std::pair<OsOp, int>>& faults,
                      const fs::path& path = {}) {
    testsupport::FaultyOs os;
    jet::Database db((path.empty() ? file_ : path).string(), jet::OpenMode::ReadWrite, os);
    const jet::Table products = db.table("cliprod");
    const std::vector<jet::RowId> all = products.rowIds();
    db.begin();
    for (size_t i = first; i < all.size(); i += step) db.deleteRow(products, all[i]);
    for (const auto& [op, nth] : faults) os.failCall(op, nth);
    if (faults.empty()) {
      db.commit();
    } else {
      EXPECT_THROW(db.commit(), jet::JetError);
    }
  }

#ifndef _WIN32
  // A child process that holds a lock on all of `path`, as a live Access
  // holds byte locks in its .ldb, until it is killed.
  static pid_t holdLockInChild(const std::string& path) {
    int ready[2];
    if (::pipe(ready) != 0) return -1;
    const pid_t pid = ::fork();
    if (pid == 0) {
      const int fd = ::open(path.c_str(), O_RDWR);
      struct flock lk {};
      lk.l_type = F_WRLCK;
      lk.l_whence = SEEK_SET;
      const char ok = fd >= 0 && ::fcntl(fd, F_SETLK, &lk) == 0 ? '1' : '0';
      (void)!::write(ready[1], &ok, 1);
      for (;;) ::pause();
    }
    char ok = '0';
    (void)!::read(ready[0], &ok, 1);
    ::close(ready[0]);
    ::close(ready[1]);
    EXPECT_EQ(ok, '1') << "the child could not lock " << path;
    return pid;
  }
#endif

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
  // page writes: journal complete, pages half written (one cut after its
  // third sector by a power cut), and two pages the unit added already at
  // the end of the file.
  const std::string junk(4096, '\x5A');
  jet::JournalContents j = journalOf({3, 9});
  j.written_crc[3] = j.written_crc[9] =
      jet::sectorCrcs(reinterpret_cast<const uint8_t*>(junk.data()), junk.size());
  jet::Journal(jet::systemOs(), file_.string(), file_.string()).write(j);
  {
    std::fstream f(file_, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(3 * 4096);
    f.write(junk.data(), static_cast<std::streamsize>(junk.size()));
    f.seekp(9 * 4096);
    f.write(junk.data(), 3 * 512);
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

// A journal is written under a temporary name and renamed once synced, so
// one cut short is found only under that name, and the file was never
// touched.
TEST_F(UnitsOfWork, AJournalCutShortIsDiscardedBecauseTheFileWasNotTouched) {
  jet::JournalContents j = journalOf({3});
  j.pages[3] = std::vector<uint8_t>(4096, 0x11);
  jet::Journal(jet::systemOs(), file_.string(), file_.string()).write(j);
  const std::string unfinished = jet::unfinishedJournalPath(file_.string());
  fs::rename(jet::journalPath(file_.string()), unfinished);
  fs::resize_file(unfinished, 100);
  jet::Database db(file_.string(), jet::OpenMode::ReadWrite);
  EXPECT_EQ(fileBytes(file_), original_);
  EXPECT_FALSE(fs::exists(jet::journalPath(file_.string())));
  EXPECT_FALSE(fs::exists(unfinished));
}

// A journal that cannot be played back whole, while the file may be half
// written, stops every open, readers' too, and both files stay as they are.
TEST_F(UnitsOfWork, ADamagedJournalStopsEveryOpenAndIsKept) {
  const std::string journal = jet::journalPath(file_.string());
  jet::JournalContents j = journalOf({3, 9, 20});
  jet::Journal(jet::systemOs(), file_.string(), file_.string()).write(j);
  const std::vector<uint8_t> whole = fileBytes(journal);
  struct Case {
    const char* name;
    std::function<void(std::vector<uint8_t>&)> damage;
  };
  const std::vector<Case> cases = {
      {"cut in the middle of a record", [](auto& b) { b.resize(b.size() - 3000); }},
      {"a byte flipped in the middle", [](auto& b) { b[b.size() / 2] ^= 0x01; }},
      {"a byte flipped in the header", [](auto& b) { b[13] ^= 0x10; }},
      {"its last byte flipped", [](auto& b) { b.back() ^= 0x80; }},
      {"emptied", [](auto& b) { b.clear(); }},
      {"its header zeroed", [](auto& b) { std::fill(b.begin(), b.begin() + 64, 0); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> bytes = whole;
    c.damage(bytes);
    writeBytes(journal, bytes);
    for (jet::OpenMode mode : {jet::OpenMode::ReadWrite, jet::OpenMode::ReadOnly}) {
      try {
        jet::Database db(file_.string(), mode);
        ADD_FAILURE() << "opened past a damaged journal";
      } catch (const jet::JetError& e) {
        EXPECT_EQ(e.number(), jet::err::kBadFormat);
        const std::string what = e.what();
        EXPECT_NE(what.find("'" + journal + "'"), std::string::npos) << what;
        EXPECT_NE(what.find("'" + file_.string() + "'"), std::string::npos) << what;
      }
    }
    EXPECT_EQ(fileBytes(journal), bytes);
    EXPECT_EQ(fileBytes(file_), original_);
    EXPECT_FALSE(fs::exists(jet::lockFilePath(file_.string())));
  }
}

// After a crash, the operator puts back a copy of the database from before
// the last purge, with the crashed unit's journal still beside it; or
// another database under the same name. Playing the journal back would
// write pages of one file into another: the open is refused, and neither
// file is written or removed.
TEST_F(UnitsOfWork, AJournalOfAnotherFileIsRefused) {
  const std::string path = file_.string();
  const std::string journal = jet::journalPath(path);
  struct Case {
    const char* name;
    std::string database;  // what is put back under the database's name
  };
  const std::vector<Case> cases = {
      {"a copy from before the last commit", "backup"},
      {"another database", "other"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    writeBytes(path, original_);
    fs::remove(journal);
    deleteProducts(0, 30, {});  // the commit after the backup
    // The next unit dies with its journal whole and the file half written.
    deleteProducts(0, 30, {{OsOp::Write, 3}, {OsOp::Truncate, 1}});
    ASSERT_TRUE(fs::exists(journal));
    const std::vector<uint8_t> journal_bytes = fileBytes(journal);
    const std::vector<uint8_t> put_back =
        c.database == "backup"
            ? original_
            : fileBytes(testsupport::fixture("clientes/clientes-v2000-spanish.mdb"));
    writeBytes(path, put_back);
    try {
      jet::Database db(path, jet::OpenMode::ReadWrite);
      ADD_FAILURE() << "played a journal into another file";
    } catch (const jet::JetError& e) {
      EXPECT_EQ(e.number(), jet::err::kBadFormat);
      const std::string what = e.what();
      EXPECT_NE(what.find("'" + journal + "'"), std::string::npos) << what;
      EXPECT_NE(what.find("'" + path + "'"), std::string::npos) << what;
    }
    EXPECT_EQ(fileBytes(path), put_back);
    EXPECT_EQ(fileBytes(journal), journal_bytes);
  }
}

// Through a symbolic link, the journal and the lock file are those of the
// file the link leads to: a crash while writing through the link is undone
// by the next open of the file by its own name.
TEST_F(UnitsOfWork, JournalAndLockFileFollowSymbolicLinks) {
#ifdef _WIN32
  GTEST_SKIP() << "symbolic links need a privilege on Windows; operators do not use them";
#else
  const fs::path link = dir_ / "enlace.mdb";
  fs::create_symlink(file_.filename(), link);
  {
    auto src = std::make_unique<jet::PageSource>(link.string(), jet::OpenMode::ReadWrite);
    src->setPageSize(4096);
    src->beginUnit();
    EXPECT_TRUE(fs::exists(jet::lockFilePath(file_.string())));
    EXPECT_FALSE(fs::exists(jet::lockFilePath(link.string())));
    src->rollbackUnit();
  }
  deleteProducts(0, 30, {{OsOp::Write, 3}, {OsOp::Truncate, 1}}, link);
  EXPECT_FALSE(fs::exists(jet::journalPath(link.string())));
  ASSERT_TRUE(fs::exists(jet::journalPath(file_.string())));
  jet::Database db(file_.string(), jet::OpenMode::ReadWrite);
  EXPECT_EQ(fileBytes(file_), original_);
  EXPECT_FALSE(fs::exists(jet::journalPath(file_.string())));
#endif
}

// A lock file is in use while an open file holds a lock on it, here another
// program's; one nobody holds a lock on was left by a program that died,
// and is taken over.
TEST_F(UnitsOfWork, AnotherProgramsLockFileStopsEveryWrite) {
#ifdef _WIN32
  GTEST_SKIP() << "a child killed by signal is POSIX; os_win32_test holds the lock by a handle";
#else
  const std::string lock = jet::lockFilePath(file_.string());
  { std::ofstream(lock) << "PC-OFICINA"; }
  const pid_t holder = holdLockInChild(lock);
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
  EXPECT_TRUE(fs::exists(lock)) << "another program's lock file stays";
  EXPECT_EQ(fileBytes(file_), original_);

  // The holder is killed: its lock file stays, stale, and no longer stops a write.
  ::kill(holder, SIGKILL);
  ::waitpid(holder, nullptr, 0);
  ASSERT_TRUE(fs::exists(lock));
  src = open(jet::OpenMode::ReadWrite);
  src->beginUnit();
  src->writablePage(5)[100] ^= 0xFF;
  src->commitUnit();
  EXPECT_FALSE(fs::exists(lock)) << "the lock goes with the unit";
#endif
}

// The write lock lasts a unit, or a write session: a database left open
// after its work no longer stops another's, and one holding a session
// stops others until the session ends.
TEST_F(UnitsOfWork, TheWriteLockLastsAUnitOrASession) {
  jet::Database first(file_.string(), jet::OpenMode::ReadWrite);
  const jet::Table products = first.table("cliprod");
  first.deleteRow(products, products.rowIds().front());
  EXPECT_FALSE(fs::exists(jet::lockFilePath(file_.string())));
  jet::Database second(file_.string(), jet::OpenMode::ReadWrite);
  second.begin();
  second.rollback();
  auto expectInUse = [&](jet::Database& db) {
    try {
      db.begin();
      ADD_FAILURE() << "a unit began while the other database holds the lock";
    } catch (const jet::JetError& e) {
      EXPECT_EQ(e.number(), jet::err::kFileInUse);
    }
  };
  {
    jet::Database::WriteSession session(first);
    for (int unit = 0; unit < 2; ++unit) {
      first.begin();
      first.deleteRow(first.table("cliprod"), first.table("cliprod").rowIds().front());
      first.commit();
      EXPECT_TRUE(fs::exists(jet::lockFilePath(file_.string())));
      expectInUse(second);
    }
  }
  EXPECT_FALSE(fs::exists(jet::lockFilePath(file_.string())));
  jet::Database third(file_.string(), jet::OpenMode::ReadWrite);
  third.begin();
  third.rollback();
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
