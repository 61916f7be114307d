// The order of a unit of work's calls, judged by the rules a crash at any
// point relies on (support/write_protocol.h) rather than by one expected
// sequence: commits in a row, and a commit whose page write fails and is
// put back, keep them; and each step of the order, moved, breaks them, so
// the rules would see an engine that moved it.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "io/journal.h"
#include "jet/creator.h"
#include "jet/database.h"
#include "jet/error.h"
#include "support/crash_os.h"
#include "support/faulty_os.h"
#include "support/write_protocol.h"

namespace {

using testsupport::CrashOs;
using testsupport::FileEvent;
using testsupport::OsOp;

const std::string kPath = "base/clientes.mdb";
const std::string kJournal = jet::journalPath(kPath);
const std::string kUnfinished = jet::unfinishedJournalPath(kPath);

// Clients, and their products scattered over the products table with long
// notes, so that a commit touches data, index and long-value pages of two
// tables.
void build(CrashOs& os) {
  jet::DatabaseCreator db(kPath, {}, os);
  jet::TableDesign clients{"clientes", {{"CLICOD", jet::ColumnType::Long}}, {}};
  clients.indexes = {{"PrimaryKey", {{"CLICOD"}}, true}};
  jet::TableDesign products{
      "cliprod", {{"codcli", jet::ColumnType::Long}, {"nota", jet::ColumnType::Memo}}, {}};
  products.indexes = {{"codcli", {{"codcli"}}}};
  const size_t c = db.addTable(clients), p = db.addTable(products);
  for (int code = 0; code < 200; ++code) db.insert(c, {jet::Value::integer(code)});
  for (int i = 0; i < 600; ++i) {
    db.insert(p,
              {jet::Value::integer(i * 7 % 200), jet::Value::text(std::string(i % 9 * 250, 'n'))});
  }
  db.finish();
}

// Three commits in a row, each deleting rows spread over the table, through
// `through` (`os` or a layer over it); the calls `os` records from the first
// commit on, up to the first commit that fails.
std::vector<FileEvent> threeCommits(CrashOs& os, jet::Os& through) {
  jet::Database db(kPath, jet::OpenMode::ReadWrite, through);
  const size_t from = os.events().size();
  for (int unit = 0; unit < 3; ++unit) {
    db.begin();
    for (const char* name : {"cliprod", "clientes"}) {
      const jet::Table t = db.table(name);
      const std::vector<jet::RowId> rows = t.rowIds();
      for (size_t i = static_cast<size_t>(unit); i < rows.size(); i += 25) db.deleteRow(t, rows[i]);
    }
    try {
      db.commit();
    } catch (const jet::JetError&) {
      break;  // the put-back's calls are in
    }
  }
  return std::vector<FileEvent>(os.events().begin() + static_cast<std::ptrdiff_t>(from),
                                os.events().end());
}

bool is(const FileEvent& e, OsOp op, const std::string& path) {
  return e.op == op && e.path == path;
}

TEST(WriteOrder, CommitsAndAPutBackKeepTheRules) {
  {
    CrashOs os;
    build(os);
    const std::vector<FileEvent> events = threeCommits(os, os);
    ASSERT_EQ(std::count_if(events.begin(), events.end(),
                            [](const FileEvent& e) { return is(e, OsOp::Sync, kPath); }),
              3);
    EXPECT_EQ(testsupport::writeProtocolBreaches(events, kPath), std::vector<std::string>());
  }
  {
    // The second page write fails: the pages written go back from the
    // journal before it goes.
    CrashOs os;
    build(os);
    testsupport::FaultyOs faulty(os);
    os.before_change = [&](const FileEvent& e) {
      if (is(e, OsOp::Write, kPath)) {
        faulty.failCall(OsOp::Write, 1);
        os.before_change = nullptr;
      }
    };
    const std::vector<FileEvent> events = threeCommits(os, faulty);
    ASSERT_TRUE(std::any_of(events.begin(), events.end(), [](const FileEvent& e) {
      return is(e, OsOp::Truncate, kPath);
    })) << "no put-back happened";
    EXPECT_EQ(testsupport::writeProtocolBreaches(events, kPath), std::vector<std::string>());
  }
}

// Each protocol step of each commit, moved to just after the call that
// relies on it (or dropped), must break a rule.
TEST(WriteOrder, EachStepMovedBreaksTheRules) {
  CrashOs os;
  build(os);
  const std::vector<FileEvent> events = threeCommits(os, os);
  ASSERT_EQ(testsupport::writeProtocolBreaches(events, kPath), std::vector<std::string>());

  // Moves events[i] to just after the first later event `relies` picks;
  // nullopt when none does.
  auto moved = [&](size_t i, const std::function<bool(const FileEvent&)>& relies)
      -> std::optional<std::vector<FileEvent>> {
    for (size_t j = i + 1; j < events.size(); ++j) {
      if (!relies(events[j])) continue;
      std::vector<FileEvent> out = events;
      const FileEvent step = out[i];
      out.erase(out.begin() + static_cast<std::ptrdiff_t>(i));
      out.insert(out.begin() + static_cast<std::ptrdiff_t>(j), step);
      return out;
    }
    return std::nullopt;
  };
  auto page_write = [](const FileEvent& e) { return is(e, OsOp::Write, kPath); };
  auto journal_goes = [](const FileEvent& e) {
    return e.path == kJournal && e.op != OsOp::Sync && e.op != OsOp::SyncFolder &&
           e.op != OsOp::Rename;
  };

  int steps = 0;
  bool created = false;  // the journal was created and its folder not yet synced
  for (size_t i = 0; i < events.size(); ++i) {
    const FileEvent& e = events[i];
    // The journal is written under a name of its own, then renamed.
    if ((is(e, OsOp::Open, kJournal) && e.created) || is(e, OsOp::Rename, kJournal)) created = true;
    std::string step;
    std::function<bool(const FileEvent&)> relies;
    if (is(e, OsOp::Sync, kJournal) || is(e, OsOp::Sync, kUnfinished)) {
      step = "the journal's sync";
      relies = page_write;
    } else if (e.op == OsOp::SyncFolder && created) {
      step = "the folder's sync after the journal's creation";
      relies = page_write;
      created = false;
    } else if (is(e, OsOp::Sync, kPath)) {
      step = "the database's sync";
      relies = journal_goes;
    } else {
      continue;
    }
    SCOPED_TRACE(step + " (call " + std::to_string(i + 1) + ")");
    const std::optional<std::vector<FileEvent>> later = moved(i, relies);
    ASSERT_TRUE(later) << "nothing relies on it";
    EXPECT_FALSE(testsupport::writeProtocolBreaches(*later, kPath).empty()) << "moved, unseen";
    std::vector<FileEvent> dropped = events;
    dropped.erase(dropped.begin() + static_cast<std::ptrdiff_t>(i));
    EXPECT_FALSE(testsupport::writeProtocolBreaches(dropped, kPath).empty()) << "dropped, unseen";
    ++steps;
  }
  EXPECT_EQ(steps, 9) << "three steps in each of three commits";
  // The first page write moved before the journal is written at all.
  for (size_t i = 0; i < events.size(); ++i) {
    if (!page_write(events[i])) continue;
    std::vector<FileEvent> early = events;
    const FileEvent write = early[i];
    early.erase(early.begin() + static_cast<std::ptrdiff_t>(i));
    early.insert(early.begin(), write);
    EXPECT_FALSE(testsupport::writeProtocolBreaches(early, kPath).empty());
    break;
  }
}

}  // namespace
