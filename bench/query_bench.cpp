// query_bench: what the purge's queries cost on a large client database.
//
//   query_bench [--clients N] [--max-deps K] [--repeats R] [--no-channels]
//
// Generates, with mkclientes, a database of N clients (100 000 by default)
// whose three dependent tables hold 0..K rows per client (K = 8 by default,
// which gives about 1 080 000 dependent rows), in a scratch folder that is
// removed at the end. Each run then times, every time on a freshly opened
// database:
//   scan      the reference: one full scan of cliprod, horascli and diascli,
//             reading the codcli column of every row;
//   engine    the purge's selection ("Select * from clientes where clies =
//             'H' and clifre <= #12-31-2010#") through jet::prepare/select,
//             then for every selected client the three dependent queries
//             ("Select * from cliprod where codcli = N", horascli, diascli);
//   channels  the same through record channels (RecordChannel::Refresh), as
//             the purge runs them, without deleting anything.
// The goal: the dependent queries of a whole purge cost less than three full
// scans of the dependent tables. Figures are medians over R runs (3) after
// one run that is not counted.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bench_support.h"
#include "db/record_channel.h"
#include "jet/database.h"
#include "jet/error.h"
#include "jet/query.h"

namespace {

namespace fs = std::filesystem;
using namespace bench;

constexpr const char* kSelection =
    "Select * from clientes where clies = 'H' and clifre <= #12-31-2010#";
constexpr const char* kDependents[] = {"cliprod", "horascli", "diascli"};

volatile uint64_t g_sink = 0;

// One full scan of the dependent tables, reading codcli of every row.
double scanDependents(const std::string& path, uint64_t& rows) {
  jet::Database db(path);
  const auto t0 = Clock::now();
  uint64_t acc = 0;
  rows = 0;
  for (const char* name : kDependents) {
    jet::Table t = db.table(name);
    const size_t codcli = *t.def().findColumn("codcli");
    t.scan([&](jet::RowId id) {
      acc += static_cast<uint64_t>(t.read(id, codcli).asInt());
      ++rows;
    });
  }
  g_sink = g_sink + acc;
  return secondsSince(t0);
}

struct QueryTimes {
  double selection = 0;   // the selection of the due clients
  double first = 0;       // the first client's three queries (they build the lookups)
  double dependents = 0;  // every client's three queries, the first included
  double prepare = 0;     // the same queries parsed and bound again, not run
  uint64_t clients = 0;
  uint64_t dependent_rows = 0;
};

// The purge's queries through jet::prepare/select.
QueryTimes engineQueries(const std::string& path) {
  QueryTimes q;
  jet::Database db(path);
  auto t0 = Clock::now();
  jet::BoundQuery selection = jet::prepare(db, kSelection);
  const std::vector<jet::RowId> due = jet::select(selection);
  const size_t clicod = *selection.table.def().findColumn("CLICOD");
  std::vector<int64_t> codes;
  codes.reserve(due.size());
  for (jet::RowId id : due) codes.push_back(selection.table.read(id, clicod).asInt());
  q.selection = secondsSince(t0);
  q.clients = codes.size();

  t0 = Clock::now();
  for (size_t i = 0; i < codes.size(); ++i) {
    for (const char* dep : kDependents) {
      const std::string text =
          std::string("Select * from ") + dep + " where codcli = " + std::to_string(codes[i]);
      q.dependent_rows += jet::select(jet::prepare(db, text)).size();
    }
    if (i == 0) q.first = secondsSince(t0);
  }
  q.dependents = secondsSince(t0);

  // What parsing and binding alone take of that.
  t0 = Clock::now();
  size_t columns = 0;
  for (int64_t code : codes) {
    for (const char* dep : kDependents) {
      const std::string text =
          std::string("Select * from ") + dep + " where codcli = " + std::to_string(code);
      columns += jet::prepare(db, text).columns.size();
    }
  }
  q.prepare = secondsSince(t0);
  g_sink = g_sink + columns;
  return q;
}

// The same through record channels, as the purge opens them.
QueryTimes channelQueries(const std::string& path) {
  QueryTimes q;
  db::RecordChannel data1("CLIENTES");
  std::vector<std::unique_ptr<db::RecordChannel>> deps;
  for (const char* dep : kDependents) {
    deps.push_back(std::make_unique<db::RecordChannel>(dep));
    data1.addFollower(deps.back().get());
  }
  data1.setDatabaseName(path);
  auto t0 = Clock::now();
  data1.setRecordSource(kSelection);
  data1.Refresh();
  db::Recordset& rs = data1.recordset();
  if (rs.isEOF() && rs.isBOF()) return q;
  rs.MoveFirst();
  rs.MoveLast(0);
  q.clients = static_cast<uint64_t>(rs.RecordCount());
  rs.MoveFirst();
  q.selection = secondsSince(t0);

  t0 = Clock::now();
  bool first = true;
  while (!rs.isEOF()) {
    const std::string code = std::to_string(rs.field("CLICOD").asInt());
    for (size_t k = 0; k < deps.size(); ++k) {
      deps[k]->setRecordSource(std::string("Select * from ") + kDependents[k] +
                               " where codcli = " + code);
      deps[k]->Refresh();
      q.dependent_rows += static_cast<uint64_t>(deps[k]->recordset().RecordCount());
    }
    if (first) q.first = secondsSince(t0);
    first = false;
    rs.MoveNext();
  }
  q.dependents = secondsSince(t0);
  return q;
}

int usage() {
  std::fprintf(stderr,
               "uso: query_bench [--clients N] [--max-deps K] [--repeats R] [--no-channels]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  uint64_t clients = 100000, max_deps = 8, repeats = 3;
  bool channels = true;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--clients") {
      if (!numberArg(argc, argv, i, clients) || clients == 0) return usage();
    } else if (a == "--max-deps") {
      if (!numberArg(argc, argv, i, max_deps)) return usage();
    } else if (a == "--repeats") {
      if (!numberArg(argc, argv, i, repeats) || repeats == 0) return usage();
    } else if (a == "--no-channels") {
      channels = false;
    } else {
      return usage();
    }
  }

  try {
    const std::string dir = makeScratch("query_bench");
    const std::string path = dir + "/clientes.mdb";
    auto t0 = Clock::now();
    generate(path, clients, max_deps);
    const double generation = secondsSince(t0);

    uint64_t dependent_rows = 0;
    {
      jet::Database db(path);
      std::printf(
          "query_bench: %llu clients, 0..%llu rows per client and table; generated in %.2f s\n",
          static_cast<unsigned long long>(db.table("clientes").def().row_count),
          static_cast<unsigned long long>(max_deps), generation);
      for (const char* dep : kDependents) {
        const uint32_t n = db.table(dep).def().row_count;
        std::printf("  %-9s %u rows\n", dep, n);
        dependent_rows += n;
      }
      std::printf("  dependent rows in all: %llu%s\n",
                  static_cast<unsigned long long>(dependent_rows),
                  dependent_rows >= 1000000 ? "" : " (fewer than the goal's million)");
    }

    std::vector<double> scan, sel, first, deps, prep, ch_sel, ch_first, ch_deps;
    QueryTimes last, last_ch;
    uint64_t scanned = 0;
    // Run 0 warms the page cache and the allocator and is not counted.
    for (uint64_t run = 0; run <= repeats; ++run) {
      const double s = scanDependents(path, scanned);
      const QueryTimes q = engineQueries(path);
      QueryTimes c;
      if (channels) c = channelQueries(path);
      if (run == 0) continue;
      scan.push_back(s);
      sel.push_back(q.selection);
      first.push_back(q.first);
      deps.push_back(q.dependents);
      prep.push_back(q.prepare);
      last = q;
      if (channels) {
        ch_sel.push_back(c.selection);
        ch_first.push_back(c.first);
        ch_deps.push_back(c.dependents);
        last_ch = c;
      }
    }
    if (scanned != dependent_rows) {
      std::fprintf(stderr, "query_bench: the scan read %llu rows, the tables hold %llu\n",
                   static_cast<unsigned long long>(scanned),
                   static_cast<unsigned long long>(dependent_rows));
      return 1;
    }
    if (channels &&
        (last_ch.clients != last.clients || last_ch.dependent_rows != last.dependent_rows)) {
      std::fprintf(stderr, "query_bench: channels and engine disagree on what they select\n");
      return 1;
    }

    const double ref = median(scan);
    std::printf("selected clients: %llu; their dependent rows: %llu; %llu dependent queries\n",
                static_cast<unsigned long long>(last.clients),
                static_cast<unsigned long long>(last.dependent_rows),
                static_cast<unsigned long long>(3 * last.clients));
    const double queries = static_cast<double>(3 * last.clients);
    std::printf("medians of %llu runs, seconds; ratio = time / one full scan\n",
                static_cast<unsigned long long>(repeats));
    std::printf("  %-52s %9.4f\n", "reference: one full scan of the dependent tables", ref);
    std::printf("  %-52s %9s %9s\n", "", "engine", channels ? "channels" : "");
    auto row = [&](const char* label, double engine, double channel, const char* format) {
      std::printf("  %-52s ", label);
      std::printf(format, engine);
      if (channels && channel >= 0) {
        std::printf(" ");
        std::printf(format, channel);
      }
      std::printf("\n");
    };
    const double dm = median(deps), cm = channels ? median(ch_deps) : -1;
    row("selection of the due clients", median(sel), channels ? median(ch_sel) : -1, "%9.4f");
    row("all dependent queries", dm, cm, "%9.4f");
    row("  of which the first client's (building the lookups)", median(first),
        channels ? median(ch_first) : -1, "%9.4f");
    row("  per dependent query, microseconds", queries > 0 ? dm * 1e6 / queries : 0,
        channels && queries > 0 ? cm * 1e6 / queries : -1, "%9.2f");
    row("parse and bind alone, all dependent queries", median(prep), -1, "%9.4f");
    row("ratio: all dependent queries / one full scan", ref > 0 ? dm / ref : 0,
        channels && ref > 0 ? cm / ref : -1, "%8.2fx");
    std::printf("goal (all dependent queries < 3 full scans): engine %s",
                dm < 3 * ref ? "met" : "NOT met");
    if (channels) std::printf(", channels %s", cm < 3 * ref ? "met" : "NOT met");
    std::printf("\n");
  } catch (const jet::JetError& e) {
    std::fprintf(stderr, "query_bench: error %d: %s\n", e.number(), e.what());
    return 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "query_bench: %s\n", e.what());
    return 1;
  }
  return 0;
}
