// read_bench: how long a full read of a database takes with the engine,
// against mdb-export (mdbtools) reading the same tables.
//
//   read_bench [--repeats N] [--ours-only] [FILE...]
//
// Without files it reads the two largest real fixtures, found under the
// SHARED_DIR environment variable or the folder CMake was configured with.
// For every user table of a file, each run times:
//   ours        open the database, scan the table and decode every column of
//               every live row (readRow), as mdb-export opens the file once
//               per table;
//   ours+json   the same, also formatting every row as a JSON line;
//   mdb-export  one `mdb-export FILE TABLE` process per table, its output to
//               /dev/null (it decodes and prints every value of every row).
// The figures are medians over the runs, after one run that is not counted.
// A missing fixture or a missing mdb-export is reported, and the program
// still exits 0: this is a measurement, not a test.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "jet/database.h"
#include "jet/error.h"
#include "row_json.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

#ifndef JET_BENCH_SHARED_DIR
#define JET_BENCH_SHARED_DIR ""
#endif

const char* const kDefaultFixtures[] = {"fixtures/real/jet4/testV2000.mdb",
                                        "fixtures/real/jet3/nwind.mdb"};

// Keeps the decoded values observable so the optimizer cannot drop the work.
volatile uint64_t g_sink = 0;

double millisSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

struct Counts {
  uint64_t rows = 0;
  uint64_t values = 0;
  uint64_t json_bytes = 0;
};

uint64_t fold(const jet::Value& v) {
  return static_cast<uint64_t>(v.kind()) + static_cast<uint64_t>(v.asInt()) + v.asString().size() +
         (v.asDouble() != 0 ? 1 : 0);
}

// Reads one table the way mdb-export does its job: a fresh open of the file,
// then every value of every live row. With `json`, every row is also
// formatted as the JSON line jetdump prints.
void readTable(const std::string& path, const std::string& name, bool json, Counts& counts) {
  jet::Database db(path);
  jet::Table t = db.table(name);
  uint64_t acc = 0;
  std::string line;
  t.scan([&](jet::RowId id) {
    std::vector<jet::Value> row = t.readRow(id);
    for (const jet::Value& v : row) acc += fold(v);
    if (json) {
      line = tools::rowToJson(t.def(), row);
      line.push_back('\n');
      counts.json_bytes += line.size();
    }
    ++counts.rows;
    counts.values += row.size();
  });
  g_sink = g_sink + acc;
}

// Runs `argv` with its output thrown away; false (with the reason in `why`)
// when it cannot be started or does not exit 0.
bool runQuiet(const std::vector<std::string>& args, std::string& why) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    why = "cannot run " + args[0] + ": " + std::strerror(rc);
    return false;
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) {
      why = std::string("waitpid: ") + std::strerror(errno);
      return false;
    }
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    why = args[0] + " failed on " + args[args.size() - 1];
    return false;
  }
  return true;
}

struct FileRun {
  std::string path;
  std::string label;
  std::vector<std::string> tables;
  Counts counts;
  std::vector<double> ours, ours_json, mdb;
};

std::string sharedDir() {
  const char* env = std::getenv("SHARED_DIR");
  if (env && *env) return env;
  return JET_BENCH_SHARED_DIR;
}

std::string labelFor(const std::string& path) {
  fs::path p(path);
  return (p.parent_path().filename() / p.filename()).string();
}

int usage() {
  std::fprintf(stderr, "uso: read_bench [--repeats N] [--ours-only] [ARCHIVO...]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  int repeats = 15;
  bool ours_only = false;  // no mdb-export: for profiling the engine alone
  std::vector<std::string> paths;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--ours-only") {
      ours_only = true;
    } else if (a == "--repeats" && i + 1 < argc) {
      repeats = std::atoi(argv[++i]);
      if (repeats < 1) return usage();
    } else if (!a.empty() && a[0] == '-') {
      return usage();
    } else {
      paths.push_back(a);
    }
  }

  if (paths.empty()) {
    const std::string shared = sharedDir();
    if (shared.empty() || !fs::is_directory(shared)) {
      std::printf("read_bench: no shared fixtures folder (SHARED_DIR='%s'); nothing measured.\n",
                  shared.c_str());
      return 0;
    }
    for (const char* rel : kDefaultFixtures) {
      fs::path p = fs::path(shared) / rel;
      if (!fs::is_regular_file(p)) {
        std::printf("read_bench: fixture %s is missing; nothing measured.\n", p.string().c_str());
        return 0;
      }
      paths.push_back(p.string());
    }
  }

  std::vector<FileRun> files;
  try {
    for (const std::string& path : paths) {
      FileRun f;
      f.path = path;
      f.label = labelFor(path);
      f.tables = jet::Database(path).tableNames();
      files.push_back(std::move(f));
    }
  } catch (const jet::JetError& e) {
    std::fprintf(stderr, "read_bench: %s\n", e.what());
    return 1;
  }

  std::string why = "--ours-only";
  bool have_mdb = !ours_only && runQuiet({"mdb-export", "--version"}, why);
  if (!have_mdb)
    std::printf("read_bench: mdb-export unavailable (%s); only our times.\n", why.c_str());

  std::vector<double> spawn_floor;
  try {
    // Run 0 warms the page cache and the allocator and is not counted.
    for (int run = 0; run <= repeats; ++run) {
      for (FileRun& f : files) {
        // Alternating which of the two goes first keeps either from always
        // running right after the mdb-export processes.
        Counts c, cj;
        double ours = 0, ours_json = 0;
        for (int k = 0; k < 2; ++k) {
          const bool json = (k == 0) == (run % 2 == 0);
          const auto t0 = Clock::now();
          for (const std::string& name : f.tables) readTable(f.path, name, json, json ? cj : c);
          (json ? ours_json : ours) = millisSince(t0);
        }

        double mdb = 0;
        if (have_mdb) {
          const auto t0 = Clock::now();
          for (const std::string& name : f.tables) {
            if (!runQuiet({"mdb-export", f.path, name}, why)) {
              std::printf("read_bench: %s; only our times.\n", why.c_str());
              have_mdb = false;
              break;
            }
          }
          mdb = millisSince(t0);
        }
        if (run == 0) {
          f.counts = cj;
          continue;
        }
        f.ours.push_back(ours);
        f.ours_json.push_back(ours_json);
        f.mdb.push_back(mdb);
      }
      if (have_mdb && run > 0) {
        // What starting the mdb-export process costs, without any file work.
        const auto t0 = Clock::now();
        runQuiet({"mdb-export", "--version"}, why);
        spawn_floor.push_back(millisSince(t0));
      }
    }
  } catch (const jet::JetError& e) {
    std::fprintf(stderr, "read_bench: %s\n", e.what());
    return 1;
  }

  // Totals are the medians of each run's sum over the files.
  std::vector<double> tot_ours(repeats, 0), tot_json(repeats, 0), tot_mdb(repeats, 0);
  Counts total;
  size_t total_tables = 0;
  for (const FileRun& f : files) {
    for (int r = 0; r < repeats; ++r) {
      tot_ours[r] += f.ours[r];
      tot_json[r] += f.ours_json[r];
      tot_mdb[r] += f.mdb[r];
    }
    total.rows += f.counts.rows;
    total.values += f.counts.values;
    total.json_bytes += f.counts.json_bytes;
    total_tables += f.tables.size();
  }

  auto ratio = [](double mdb, double ours) { return ours > 0 ? mdb / ours : 0.0; };
  std::printf("read_bench: medians of %d runs; times in ms; ratio = mdb-export / ours\n", repeats);
  std::printf("%-24s %6s %7s %8s %10s %10s %11s %8s %10s\n", "file", "tables", "rows", "values",
              "ours", "ours+json", "mdb-export", "ratio", "ratio+json");
  auto line = [&](const std::string& label, size_t tables, const Counts& c, double ours,
                  double json, double mdb) {
    std::printf("%-24s %6zu %7llu %8llu %10.3f %10.3f", label.c_str(), tables,
                static_cast<unsigned long long>(c.rows), static_cast<unsigned long long>(c.values),
                ours, json);
    if (have_mdb) {
      std::printf(" %11.3f %7.1fx %9.1fx\n", mdb, ratio(mdb, ours), ratio(mdb, json));
    } else {
      std::printf(" %11s %8s %10s\n", "-", "-", "-");
    }
  };
  for (const FileRun& f : files) {
    line(f.label, f.tables.size(), f.counts, median(f.ours), median(f.ours_json), median(f.mdb));
  }
  const double ours = median(tot_ours), json = median(tot_json), mdb = median(tot_mdb);
  line("total", total_tables, total, ours, json, mdb);
  std::printf("JSON produced by ours+json: %llu bytes\n",
              static_cast<unsigned long long>(total.json_bytes));

  if (have_mdb) {
    // The ratio above charges mdb-export for starting a process per table,
    // which the in-process read does not pay; show it without that cost too.
    const double floor = median(spawn_floor);
    const double mdb_work = std::max(0.0, mdb - floor * static_cast<double>(total_tables));
    std::printf(
        "mdb-export process start (mdb-export --version): %.3f ms; total without %zu starts: "
        "%.3f ms, ratio %.1fx (ours+json %.1fx)\n",
        floor, total_tables, mdb_work, ratio(mdb_work, ours), ratio(mdb_work, json));
    std::printf("goal (ours at least 3x faster than mdb-export): %s\n",
                ratio(mdb, ours) >= 3 ? "met" : "NOT met");
  }
  return 0;
}
