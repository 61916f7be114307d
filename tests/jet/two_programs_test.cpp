// Two programs on one database: while one writes (paused at a chosen call,
// a real process), a second opens the file for writing. The second never
// plays back nor removes the first's journal, cannot begin a unit, and
// reads the file as it was; the first's commit then stands, or its crash
// is undone by the next open.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "io/journal.h"
#include "jet/checker.h"
#include "jet/database.h"
#include "jet/delete_test_support.h"
#include "jet/error.h"
#include "support/shared_fixtures.h"

namespace {

namespace fs = std::filesystem;
using deltest::fileBytes;

size_t productRows(const std::string& path, jet::OpenMode mode) {
  jet::Database db(path, mode);
  return db.table("cliprod").rowIds().size();
}

// The journal files as they are now: name and bytes.
std::vector<std::pair<std::string, std::vector<uint8_t>>> journals(const std::string& db) {
  std::vector<std::pair<std::string, std::vector<uint8_t>>> out;
  for (const std::string& p : {jet::journalPath(db), jet::unfinishedJournalPath(db)}) {
    if (fs::exists(p)) out.emplace_back(p, fileBytes(p));
  }
  return out;
}

TEST(TwoPrograms, ASecondOpenerNeverTouchesAWritersJournal) {
  REQUIRE_FIXTURES();
  struct Case {
    const char* name;
    const char* stop;  // where the writer pauses while the second program opens
    const char* kill;  // where it dies afterwards; empty: it finishes
  };
  const std::vector<Case> cases = {
      {"while the writer writes its journal", "write:-journal:1", "write:clientes.mdb:2"},
      {"while it writes its pages", "write:clientes.mdb:2", "write:clientes.mdb:3"},
      {"after its pages, before its journal goes", "remove:-journal:1", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path file =
        testsupport::scratchCopy("clientes/clientes-v2000-small.mdb", "clientes.mdb");
    const std::string db = file.string();
    const std::vector<uint8_t> original = fileBytes(file);
    const size_t rows = productRows(db, jet::OpenMode::ReadOnly);

    const pid_t writer = ::fork();
    if (writer == 0) {
      ::execl(JET_PAUSING_WRITER, JET_PAUSING_WRITER, db.c_str(), c.stop,
              *c.kill ? c.kill : nullptr, static_cast<char*>(nullptr));
      ::_exit(127);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(writer, &status, WUNTRACED), writer);
    ASSERT_TRUE(WIFSTOPPED(status)) << "the writer did not reach " << c.stop;

    const std::vector<uint8_t> before = fileBytes(file);
    const auto journals_before = journals(db);
    {
      jet::Database second(db, jet::OpenMode::ReadWrite);
      EXPECT_EQ(second.table("cliprod").rowIds().size(), rows) << "the file as it was";
      try {
        second.begin();
        ADD_FAILURE() << "a second writer began a unit";
      } catch (const jet::JetError& e) {
        EXPECT_EQ(e.number(), jet::err::kFileInUse);
      }
    }
    EXPECT_EQ(fileBytes(file), before) << "the second program wrote the file";
    EXPECT_EQ(journals(db), journals_before) << "the second program touched the journal";

    ::kill(writer, SIGCONT);
    ASSERT_EQ(::waitpid(writer, &status, 0), writer);
    if (*c.kill) {
      EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
      EXPECT_EQ(productRows(db, jet::OpenMode::ReadWrite), rows);
      EXPECT_EQ(fileBytes(file), original) << "the crash was undone";
    } else {
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
      EXPECT_EQ(productRows(db, jet::OpenMode::ReadWrite), rows - (rows + 2) / 3)
          << "the writer's commit stands";
    }
    EXPECT_TRUE(journals(db).empty());
    jet::Database check(db);
    EXPECT_TRUE(jet::checkDatabase(check).ok());
    fs::remove_all(file.parent_path());
  }
}

}  // namespace
