// The purge killed (SIGKILL) at 50 moments of its run, a generated database
// each time: while it writes a journal, while it writes pages, while it
// removes the journal or the lock file, and while the next open plays a
// journal back (that open killed too). After each, the next open gives a
// file that jetcheck passes and mdb-export and mdb-reader read as we do,
// where every selected client is whole with all its rows or gone with all
// of them, and nothing outside the selection changed; the selection is made
// here, from the original file, without the purge's query.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "io/journal.h"
#include "io/lock_file.h"
#include "jet/database.h"
#include "row_json.h"
#include "support/shared_fixtures.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kCutOff = "31/12/2010";
constexpr const char* kDependents[] = {"cliprod", "horascli", "diascli"};
constexpr const char* kPhases[] = {"journal", "pages", "retire", "lock", "playback"};

// What the file holds, client by client: the client's row and the rows of
// each dependent table with its code, as JSON lines.
struct Contents {
  std::map<int64_t, std::string> clients;
  std::map<int64_t, std::multiset<std::string>> dependents;  // by code, every table's rows
};

Contents contentsOf(const fs::path& file) {
  jet::Database db(file.string());
  Contents out;
  jet::Table clients = db.table("clientes");
  clients.scan([&](jet::RowId id) {
    out.clients[clients.read(id, 0).asInt()] = tools::rowToJson(clients.def(), clients.readRow(id));
  });
  for (const char* name : kDependents) {
    jet::Table t = db.table(name);
    const size_t code = *t.def().findColumn("codcli");
    t.scan([&](jet::RowId id) {
      out.dependents[t.read(id, code).asInt()].insert(name +
                                                      tools::rowToJson(t.def(), t.readRow(id)));
    });
  }
  return out;
}

// The clients the purge is to take, read from the file here: status H (in
// any case, as Jet compares text) and a date on or before the cut-off day.
std::set<int64_t> selection(const fs::path& file) {
  jet::Database db(file.string());
  jet::Table t = db.table("clientes");
  const size_t status = *t.def().findColumn("clies"), date = *t.def().findColumn("clifre");
  const double limit = jet::joinDateTime({2010, 12, 31, 0, 0, 0});
  std::set<int64_t> out;
  t.scan([&](jet::RowId id) {
    const jet::Value s = t.read(id, status), d = t.read(id, date);
    if (!s.isNull() && !d.isNull() && (s.asString() == "H" || s.asString() == "h") &&
        d.asDouble() <= limit) {
      out.insert(t.read(id, 0).asInt());
    }
  });
  return out;
}

int run(const std::string& command) {
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Runs the child; returns the phase it was killed in ("" when it ended).
std::string child(const std::string& args, long crash_at, const fs::path& trace = {}) {
  static const fs::path out = testsupport::scratchDir() / "killed.txt";
  std::string env = "CRASH_AT=" + std::to_string(crash_at);
  if (!trace.empty()) env += " CRASH_TRACE='" + trace.string() + "'";
  run(env + " '" PURGE_CRASH_CHILD "' " + args + " 2>'" + out.string() + "'");
  std::ifstream in(out);
  std::string phase;
  std::getline(in, phase);
  return std::find(std::begin(kPhases), std::end(kPhases), phase) != std::end(kPhases) ? phase : "";
}

std::vector<std::string> readTrace(const fs::path& trace) {
  std::vector<std::string> out;
  std::ifstream in(trace);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

// `count` call numbers (1-based) of `phase`, spread over the run: one from
// each of `count` equal stretches of that phase's calls.
std::vector<long> spread(const std::vector<std::string>& trace, const std::string& phase,
                         size_t count, std::mt19937& random) {
  std::vector<long> calls;
  for (size_t i = 0; i < trace.size(); ++i) {
    if (trace[i] == phase) calls.push_back(static_cast<long>(i) + 1);
  }
  std::vector<long> out;
  for (size_t k = 0; k < count && !calls.empty(); ++k) {
    const size_t from = k * calls.size() / count,
                 to = std::max(from + 1, (k + 1) * calls.size() / count);
    out.push_back(calls[from + random() % (to - from)]);
  }
  return out;
}

TEST(PurgeCrash, EveryKillLeavesClientsWholeOrGone) {
  const fs::path dir = testsupport::scratchDir();
  const fs::path original = dir / "original.mdb";
  ASSERT_EQ(run("'" PURGE_CRASH_MKCLIENTES "' '" + original.string() +
                "' --clients 400 --max-deps 4 --seed 7 --scatter --relations --quiet"),
            0);
  const Contents before = contentsOf(original);
  const std::set<int64_t> due = selection(original);
  ASSERT_GT(due.size(), 50u);
  ASSERT_LT(due.size(), before.clients.size());
  const fs::path work = dir / "clientes.mdb";
  const std::string purge = std::string("purge '") + work.string() + "' " + kCutOff;
  auto fresh = [&] {
    for (const fs::path& p : {work, fs::path(jet::journalPath(work.string())),
                              fs::path(jet::unfinishedJournalPath(work.string())),
                              fs::path(jet::lockFilePath(work.string()))}) {
      fs::remove(p);
    }
    fs::copy_file(original, work);
  };

  // A run that is not killed: the moments to kill at, and what it leaves.
  fresh();
  const fs::path trace_file = dir / "trace.txt";
  ASSERT_EQ(child(purge, 0, trace_file), "");
  const std::vector<std::string> trace = readTrace(trace_file);
  {
    const Contents after = contentsOf(work);
    for (int64_t code : due) EXPECT_FALSE(after.clients.count(code)) << code << " stayed";
    EXPECT_EQ(after.clients.size(), before.clients.size() - due.size());
  }

  std::mt19937 random(20261207);
  struct Kill {
    std::string phase;
    long at;
  };
  std::vector<Kill> kills;
  const std::pair<const char*, size_t> plan[] = {
      {"journal", 14}, {"pages", 16}, {"retire", 5}, {"lock", 5}};
  for (const auto& [phase, count] : plan) {
    for (long at : spread(trace, phase, count, random)) kills.push_back({phase, at});
  }
  for (long at : spread(trace, "pages", 10, random)) kills.push_back({"playback", at});
  ASSERT_EQ(kills.size(), 50u);

  std::map<std::string, int> hit;
  // Each file is also read by mdb-export and mdb-reader (compare.mjs), under
  // a name of its own so that the readers' known faults with purged files
  // apply to it.
  const std::string node = PURGE_TEST_NODE;
  if (node.empty()) {
    std::printf("Node.js is not installed: the files are not read by the other readers\n");
    if (testsupport::requireShared()) ADD_FAILURE() << "Node.js is needed (scripts/setup.sh)";
  }
  const std::string compare = "TZ=UTC '" + node +
                              "' '" PURGE_TEST_COMPARE "' --jetdump '" PURGE_TEST_JETDUMP
                              "' --name purged/clientes.mdb '" +
                              work.string() + "' >'" + (dir / "compare.txt").string() + "' 2>&1";
  for (const Kill& k : kills) {
    SCOPED_TRACE(k.phase + " at call " + std::to_string(k.at));
    fresh();
    std::string phase = child(purge, k.at);
    ASSERT_FALSE(phase.empty()) << "the purge was not killed";
    if (k.phase == "playback") {
      // The next open is killed too, at one of its own calls.
      const fs::path state = dir / "state.mdb";
      fs::copy_file(work, state, fs::copy_options::overwrite_existing);
      fs::copy_file(jet::journalPath(work.string()), jet::journalPath(state.string()),
                    fs::copy_options::overwrite_existing);
      const fs::path open_trace = dir / "open.txt";
      ASSERT_EQ(child("open '" + state.string() + "'", 0, open_trace), "");
      const std::vector<long> at = spread(readTrace(open_trace), "playback", 1, random);
      ASSERT_EQ(at.size(), 1u);
      phase = child("open '" + work.string() + "'", at[0]);
      ASSERT_EQ(phase, "playback");
    }
    ++hit[phase];

    // The next open; a lock file the killed program left is stale, and the
    // next unit takes it over.
    {
      jet::Database reopened(work.string(), jet::OpenMode::ReadWrite);
      reopened.begin();
      reopened.rollback();
    }
    EXPECT_FALSE(fs::exists(jet::journalPath(work.string())));
    EXPECT_FALSE(fs::exists(jet::lockFilePath(work.string())));
    EXPECT_EQ(run("'" PURGE_CRASH_JETCHECK "' '" + work.string() + "' >/dev/null 2>&1"), 0);
    if (!node.empty() && run(compare) != 0) {
      std::ifstream in(dir / "compare.txt");
      ADD_FAILURE() << "the readers disagree:\n"
                    << std::string(std::istreambuf_iterator<char>(in), {});
    }
    const Contents after = contentsOf(work);
    for (const auto& [code, row] : before.clients) {
      const auto it = after.clients.find(code);
      const auto deps = after.dependents.find(code);
      const bool whole =
          it != after.clients.end() && it->second == row &&
          (before.dependents.count(code)
               ? deps != after.dependents.end() && deps->second == before.dependents.at(code)
               : deps == after.dependents.end());
      const bool gone = it == after.clients.end() && deps == after.dependents.end();
      if (due.count(code)) {
        EXPECT_TRUE(whole || gone) << "client " << code << " is neither whole nor gone";
      } else {
        EXPECT_TRUE(whole) << "client " << code << " was not to change";
      }
    }
    for (const auto& [code, rows] : after.dependents) {
      EXPECT_TRUE(before.clients.count(code) || before.dependents.at(code) == rows)
          << "rows of " << code;
    }
  }
  std::printf("kills by phase:");
  for (const char* phase : kPhases) std::printf(" %s %d", phase, hit[phase]);
  std::printf("\n");
  EXPECT_EQ(hit["playback"], 10);
}

}  // namespace
