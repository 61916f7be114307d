// delete_bench: what deleting half of a million-row table with two indexes
// costs, against one full read of the same table.
//
//   delete_bench [--rows N] [--table clientes|cliprod] [--batch B] [--check]
//
// For each table (both unless --table names one) it generates, with
// mkclientes, a database in a scratch folder that is removed at the end:
//   clientes            N clients (1 000 000 by default) and no dependent
//                       rows: primary key CLICOD, index clies (five values,
//                       so long runs of equal keys), a memo column whose
//                       longer notes lie on long-value pages;
//   cliprod             about N product rows (0..20 for each of N/9 clients):
//                       primary key id (autonumber), index codcli.
// Then times, each on a freshly opened database:
//   read      the reference: scan the table and decode every column of every
//             row (readRow); the median of three reads after one uncounted;
//   one unit  on a copy of the file: every other row in scan order deleted
//             (deleteRow, with its index entries and long values) in one unit
//             of work, then committed;
//   batches   on another copy: the same, committing every B rows (1000).
// The goal: deleting half the rows costs less than five full reads. With
// --check the checker then proves both files sound (it takes a while).
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
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
#include <fstream>
#include <string>
#include <vector>

#include "bench_support.h"
#include "jet/checker.h"
#include "jet/database.h"
#include "jet/error.h"

namespace {

namespace fs = std::filesystem;
using namespace bench;

volatile uint64_t g_sink = 0;

// The peak resident size since the last resetPeak (Linux keeps it in
// /proc/self/status; writing 5 to clear_refs starts it again).
void resetPeak() {
  std::ofstream("/proc/self/clear_refs") << "5";
}

double peakMegabytes() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::strtod(line.c_str() + 6, nullptr) / 1024.0;
  }
  struct rusage usage {};
  ::getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

// One full read: every column of every live row.
double fullRead(const std::string& path, const std::string& table, uint64_t& rows) {
  jet::Database db(path);
  const auto t0 = Clock::now();
  jet::Table t = db.table(table);
  uint64_t acc = 0;
  rows = 0;
  t.scan([&](jet::RowId id) {
    for (const jet::Value& v : t.readRow(id)) acc += fold(v);
    ++rows;
  });
  g_sink = g_sink + acc;
  return secondsSince(t0);
}

struct DeleteRun {
  double ids = 0;       // listing the row ids (a scan), before the clock below starts
  double deleting = 0;  // the deleteRow calls, commits in between included
  double commit = 0;    // of that, the commits
  double total = 0;
  uint64_t deleted = 0;
  uint64_t units = 0;
  uint64_t written = 0;  // bytes written, journals included
  double peak_mb = 0;    // the process's peak resident size afterwards
};

// Deletes every other row of `table` in scan order, committing every `batch`
// rows (0: once, at the end).
DeleteRun deleteHalf(const std::string& path, const std::string& table, uint64_t batch) {
  DeleteRun r;
  resetPeak();
  jet::Database db(path, jet::OpenMode::ReadWrite);
  jet::Table t = db.table(table);
  auto t0 = Clock::now();
  const std::vector<jet::RowId> ids = t.rowIds();
  r.ids = secondsSince(t0);

  auto commit = [&] {
    const auto c0 = Clock::now();
    db.commit();
    r.commit += secondsSince(c0);
    ++r.units;
  };
  const uint64_t written = bytesWritten();
  t0 = Clock::now();
  db.begin();
  for (size_t i = 0; i < ids.size(); i += 2) {
    db.deleteRow(t, ids[i]);
    ++r.deleted;
    if (batch != 0 && r.deleted % batch == 0) {
      commit();
      db.begin();
    }
  }
  commit();
  r.total = secondsSince(t0);
  r.deleting = r.total - r.commit;
  r.written = bytesWritten() - written;
  r.peak_mb = peakMegabytes();
  return r;
}

// The rows left, counted by a scan, and the stored row count agree.
void verify(const std::string& path, const std::string& table, uint64_t expected, bool check) {
  jet::Database db(path);
  jet::Table t = db.table(table);
  uint64_t live = 0;
  t.scan([&](jet::RowId) { ++live; });
  if (live != expected || t.def().row_count != expected) {
    throw std::runtime_error("after the deletes " + std::to_string(live) + " rows are live and " +
                             std::to_string(t.def().row_count) + " counted; expected " +
                             std::to_string(expected));
  }
  if (check) {
    const auto t0 = Clock::now();
    const jet::CheckReport report = jet::checkDatabase(db);
    std::printf("  checker on %s: %s (%zu problems, %zu index entries, %.1f s)\n",
                fs::path(path).filename().c_str(), report.ok() ? "sound" : "DAMAGED",
                report.problemCount(), report.index_entries, secondsSince(t0));
    for (const jet::CheckProblem& p : report.problems) {
      std::printf("    %s\n", p.text().c_str());
      if (&p - report.problems.data() >= 9) break;
    }
    if (!report.ok()) throw std::runtime_error("the checker found damage");
  }
}

// Generates the table, reads it, deletes half of it twice; prints the figures.
void runTable(const std::string& dir, const std::string& table, uint64_t rows, uint64_t batch,
              bool check) {
  const std::string source = dir + "/source.mdb";
  auto t0 = Clock::now();
  // cliprod gets 0..20 rows for nine clients in ten: ten rows a client on average.
  if (table == "clientes") {
    generate(source, rows, 0);
  } else {
    generate(source, std::max<uint64_t>(1, rows / 9), 20);
  }
  const double generation = secondsSince(t0);

  uint32_t stored = 0;
  {
    jet::Database db(source);
    jet::Table t = db.table(table);
    stored = t.def().row_count;
    std::printf("delete_bench: table %s, %u rows, indexes:", table.c_str(), stored);
    for (const jet::LogicalIndex& li : t.def().logical_indexes) std::printf(" %s", li.name.c_str());
    std::printf("; file %.1f MB, generated in %.2f s\n",
                static_cast<double>(fs::file_size(source)) / 1e6, generation);
  }

  uint64_t read_rows = 0;
  fullRead(source, table, read_rows);  // warms the page cache; not counted
  std::vector<double> reads;
  for (int i = 0; i < 3; ++i) reads.push_back(fullRead(source, table, read_rows));
  std::sort(reads.begin(), reads.end());
  const double read = reads[1];  // the median
  if (read_rows != stored) throw std::runtime_error("the read saw a different row count");

  const std::string one = dir + "/one-unit.mdb", batched = dir + "/batches.mdb";
  fs::copy_file(source, one);
  fs::copy_file(source, batched);
  const DeleteRun a = deleteHalf(one, table, 0);
  const DeleteRun b = deleteHalf(batched, table, batch);
  verify(one, table, stored - a.deleted, check);
  verify(batched, table, stored - b.deleted, check);

  std::printf("seconds; ratio = time / one full read of the table\n");
  std::printf("  %-34s %8.3f  (%.0f rows/s)\n", "reference: full read (median of 3)", read,
              static_cast<double>(read_rows) / read);
  auto line = [&](const std::string& label, const DeleteRun& r) {
    std::printf("  %-34s %8.3f  %llu rows, %.0f rows/s, ratio %.2fx; goal < 5 reads: %s\n",
                label.c_str(), r.total, static_cast<unsigned long long>(r.deleted),
                static_cast<double>(r.deleted) / r.total, r.total / read,
                r.total < 5 * read ? "met" : "NOT met");
    std::printf(
        "  %-34s %8.3f  deleting, %.3f committing (%llu unit%s, %.1f MB written); ids listed "
        "in %.3f; peak memory %.0f MB\n",
        "", r.deleting, r.commit, static_cast<unsigned long long>(r.units), r.units == 1 ? "" : "s",
        static_cast<double>(r.written) / 1e6, r.ids, r.peak_mb);
  };
  line("delete every other row, one unit", a);
  line("the same, a commit every " + std::to_string(batch), b);
  for (const char* name : {"source.mdb", "one-unit.mdb", "batches.mdb"})
    fs::remove(dir + "/" + name);
}

int usage() {
  std::fprintf(stderr,
               "uso: delete_bench [--rows N] [--table clientes|cliprod] [--batch B] [--check]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  uint64_t rows = 1000000, batch = 1000;
  std::vector<std::string> tables = {"clientes", "cliprod"};
  bool check = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--rows") {
      if (!numberArg(argc, argv, i, rows) || rows < 2) return usage();
    } else if (a == "--batch") {
      if (!numberArg(argc, argv, i, batch) || batch == 0) return usage();
    } else if (a == "--table" && i + 1 < argc) {
      const std::string t = argv[++i];
      if (t != "clientes" && t != "cliprod") return usage();
      tables = {t};
    } else if (a == "--check") {
      check = true;
    } else {
      return usage();
    }
  }

  try {
    const std::string dir = makeScratch("delete_bench");
    for (const std::string& table : tables) runTable(dir, table, rows, batch, check);
  } catch (const jet::JetError& e) {
    std::fprintf(stderr, "delete_bench: error %d: %s\n", e.number(), e.what());
    return 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "delete_bench: %s\n", e.what());
    return 1;
  }
  return 0;
}
