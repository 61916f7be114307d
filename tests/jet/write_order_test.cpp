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

void build(CrashOs& os) {
  jet::DatabaseCreator db(kPath, {}, os);
  jet::TableDesign design;
  design.name = "clientes";
  design.columns = {{"codcli", jet::ColumnType::Long, 0, true},
                    {"nombre", jet::ColumnType::Text, 50},
                    {"notas", jet::ColumnType::Memo}};
  design.indexes = {{"PrimaryKey", {{"codcli"}}, true}, {"nombre", {{"nombre"}}}};
  const size_t t = db.addTable(design);
  for (int i = 0; i < 300; ++i) {
    db.insert(t, {jet::Value::null(), jet::Value::text("Cliente " + std::to_string(i)),
                  jet::Value::text(std::string(100 + i % 7 * 300, 'n'))});
  }
  db.finish();
}

// Three commits in a row, each deleting rows spread over the table, through
// `through` (`os` or a layer over it); the calls `os` records from the first
// commit on, up to the first commit that fails.
std::vector<FileEvent> threeCommits(CrashOs& os, jet::Os& through) {
  jet::Database db(kPath, jet::OpenMode::ReadWrite, through);
  const jet::Table t = db.table("clientes");
  const size_t from = os.events().size();
  for (int unit = 0; unit < 3; ++unit) {
    const std::vector<jet::RowId> rows = t.rowIds();
    db.begin();
    for (size_t i = static_cast<size_t>(unit); i < rows.size(); i += 25) db.deleteRow(t, rows[i]);
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
    return e.path == kJournal && e.op != OsOp::Sync && e.op != OsOp::SyncFolder;
  };

  int steps = 0;
  bool created = false;  // the journal was created and its folder not yet synced
  for (size_t i = 0; i < events.size(); ++i) {
    const FileEvent& e = events[i];
    if (is(e, OsOp::Open, kJournal) && e.created) created = true;
    std::string step;
    std::function<bool(const FileEvent&)> relies;
    if (is(e, OsOp::Sync, kJournal)) {
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
