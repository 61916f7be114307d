// purge_bench: the whole purge, as "Borrar" runs it, on a large generated
// client database.
//
//   purge_bench [--clients N] [--max-deps K] [--date DD/MM/YYYY]
//
// Generates, with mkclientes, a database of N clients (100 000 by default)
// with 0..K rows per client in each dependent table (K = 3) in a scratch
// folder that is removed at the end. Times, on one copy of it, one full read
// of the four tables (scan and readRow of every row) as the reference, and
// then the purge itself: runPurge with the scripted runtime answering Yes to
// the backup reminder, the date box holding the cut-off date (31/12/2010),
// and a form whose progress bar is as wide as the window's (170 pixels).
//
// The form notes the time at each step the purge shows it (the code box
// read before each dependent query, the channels opening and moving, the
// bar advancing), so the run splits into: the selection, the dependent
// queries, deleting the dependent rows, deleting the client row together
// with committing its batch of clients when one is due, and setting up the
// next client (its savepoint, or a new unit of work). The
// program also stands between the engine and the C library's write, pwrite,
// fsync, fdatasync, open, close and unlink, and adds up what those calls
// take while the purge runs: the file work of the commits.
// The C library calls below are replaced by timing wrappers; the fortified
// inline versions of them would clash with those definitions.
#undef _FORTIFY_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bench_support.h"
#include "db/record_channel.h"
#include "jet/database.h"
#include "jet/error.h"
#include "purge/purge_form.h"
#include "purge/purge_run.h"
#include "support/fake_runtime.h"

namespace {

namespace fs = std::filesystem;
using namespace bench;

constexpr int kBarWidth = 170;  // Bar1's width in pixels at 96 DPI (2550 twips)
constexpr const char* kTables[] = {"clientes", "cliprod", "horascli", "diascli"};

volatile uint64_t g_sink = 0;

double seconds(Clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

// ---------------------------------------------------------------------------
// Time spent in the C library's write and sync calls while `g_io.on`.

struct IoTimes {
  bool on = false;
  Clock::duration write{}, sync{}, files{};
  uint64_t writes = 0, syncs = 0, file_calls = 0, bytes = 0;
};
IoTimes g_io;

template <typename Fn>
Fn realFunction(const char* name) {
  void* f = ::dlsym(RTLD_NEXT, name);
  if (!f) {
    std::fprintf(stderr, "purge_bench: no %s in the C library\n", name);
    std::abort();
  }
  return reinterpret_cast<Fn>(f);
}

enum class Io { Write, Sync, Files };

template <typename Call>
auto timed(Io kind, size_t bytes, Call call) {
  if (!g_io.on) return call();
  const auto t0 = Clock::now();
  auto result = call();
  const auto spent = Clock::now() - t0;
  switch (kind) {
    case Io::Write:
      g_io.write += spent;
      ++g_io.writes;
      g_io.bytes += bytes;
      break;
    case Io::Sync:
      g_io.sync += spent;
      ++g_io.syncs;
      break;
    case Io::Files:
      g_io.files += spent;
      ++g_io.file_calls;
      break;
  }
  return result;
}

}  // namespace

extern "C" {

ssize_t write(int fd, const void* buf, size_t n) {
  static auto real = realFunction<ssize_t (*)(int, const void*, size_t)>("write");
  return timed(Io::Write, n, [&] { return real(fd, buf, n); });
}

ssize_t pwrite(int fd, const void* buf, size_t n, off_t offset) {
  static auto real = realFunction<ssize_t (*)(int, const void*, size_t, off_t)>("pwrite");
  return timed(Io::Write, n, [&] { return real(fd, buf, n, offset); });
}

int fsync(int fd) {
  static auto real = realFunction<int (*)(int)>("fsync");
  return timed(Io::Sync, 0, [&] { return real(fd); });
}

int fdatasync(int fd) {
  static auto real = realFunction<int (*)(int)>("fdatasync");
  return timed(Io::Sync, 0, [&] { return real(fd); });
}

// Creating, closing and removing files (the journal, the folder synced).
int open(const char* path, int flags, ...) {
  static auto real = realFunction<int (*)(const char*, int, ...)>("open");
  mode_t mode = 0;
  if (flags & (O_CREAT | O_TMPFILE)) {
    va_list args;
    va_start(args, flags);
    mode = static_cast<mode_t>(va_arg(args, unsigned));
    va_end(args);
  }
  return timed(Io::Files, 0, [&] { return real(path, flags, mode); });
}

int close(int fd) {
  static auto real = realFunction<int (*)(int)>("close");
  return timed(Io::Files, 0, [&] { return real(fd); });
}

int unlink(const char* path) {
  static auto real = realFunction<int (*)(const char*)>("unlink");
  return timed(Io::Files, 0, [&] { return real(path); });
}

}  // extern "C"

namespace {

// ---------------------------------------------------------------------------
// Scratch folder and generation.

// One full read of the four tables; fills the row count of each.
double fullRead(const std::string& path, std::vector<uint64_t>& rows) {
  jet::Database db(path);
  const auto t0 = Clock::now();
  uint64_t acc = 0;
  rows.clear();
  for (const char* name : kTables) {
    jet::Table t = db.table(name);
    uint64_t n = 0;
    t.scan([&](jet::RowId id) {
      for (const jet::Value& v : t.readRow(id)) acc += fold(v);
      ++n;
    });
    rows.push_back(n);
  }
  g_sink = g_sink + acc;
  return secondsSince(t0);
}

// ---------------------------------------------------------------------------
// The window's part in the run, without a display, noting when each step
// happens.

class TimedForm : public purge::PurgeForm {
 public:
  struct Split {
    Clock::duration selection{}, queries{}, dependents{}, client_commit{}, begin{}, finish{};
    uint64_t clients = 0, queries_run = 0;
  };

  TimedForm(const std::string& path, const std::string& date) : text1_(date) {
    for (db::RecordChannel* c : {&ch_.Data2, &ch_.Data3, &ch_.Data4}) {
      // The channel opened: its query is done, its rows' deletion starts.
      c->onCursorMoved([this](const db::Recordset&) {
        if (state_ == State::Query) mark(State::DeleteDependents, split_.queries);
      });
    }
    // After the client row's deletion and the commit, the cursor moves on.
    ch_.Data1.onCursorMoved([this](const db::Recordset&) {
      if (state_ == State::ClientAndCommit) mark(State::Begin, split_.client_commit);
    });
    ch_.Data1.setDatabaseName(path);
    ch_.Data1.Refresh();
  }

  void start() {
    state_ = State::Selection;
    last_ = Clock::now();
  }
  const Split& finish() {
    mark(State::Idle, split_.finish);
    return split_;
  }

  std::string Text1() const override { return text1_; }
  void setText1(const std::string& t) override { text1_ = t; }
  float Bar1Value() const override { return value_; }
  void setBar1Value(float v) override {
    // The bar advances once a client's dependent rows are gone.
    if (state_ == State::DeleteDependents) {
      mark(State::ClientAndCommit, split_.dependents);
      ++split_.clients;
    }
    value_ = v;
  }
  void setBar1Max(float m) override { max_ = m; }
  int Bar1DrawnLength() const override {
    return max_ > 0 ? static_cast<int>(kBarWidth * value_ / max_) : 0;
  }
  purge::FormChannels& channels() override { return ch_; }
  // Read once before each dependent query.
  std::string Text2() override {
    switch (state_) {
      case State::Selection:
        mark(State::Query, split_.selection);
        break;
      case State::Begin:
        mark(State::Query, split_.begin);
        break;
      case State::DeleteDependents:
        mark(State::Query, split_.dependents);
        break;
      default:
        break;
    }
    ++split_.queries_run;
    return ch_.Text2.text();
  }

 private:
  enum class State { Idle, Selection, Query, DeleteDependents, ClientAndCommit, Begin };

  // The time since the last step goes to `into`; the run is now in `next`.
  void mark(State next, Clock::duration& into) {
    const auto now = Clock::now();
    into += now - last_;
    last_ = now;
    state_ = next;
  }

  std::string text1_;
  float value_ = 0, max_ = 100;
  purge::FormChannels ch_;
  State state_ = State::Idle;
  Clock::time_point last_{};
  Split split_;
};

int usage() {
  std::fprintf(stderr, "uso: purge_bench [--clients N] [--max-deps K] [--date DD/MM/AAAA]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  uint64_t clients = 100000, max_deps = 3;
  std::string date = "31/12/2010";
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--clients") {
      if (!numberArg(argc, argv, i, clients) || clients == 0) return usage();
    } else if (a == "--max-deps") {
      if (!numberArg(argc, argv, i, max_deps)) return usage();
    } else if (a == "--date" && i + 1 < argc) {
      date = argv[++i];
    } else {
      return usage();
    }
  }

  try {
    const std::string dir = makeScratch("purge_bench");
    const std::string path = dir + "/clientes.mdb";
    auto t0 = Clock::now();
    generate(path, clients, max_deps);
    const double generation = secondsSince(t0);

    std::vector<uint64_t> before, after;
    fullRead(path, before);  // warms the page cache; not counted
    std::vector<double> reads;
    for (int i = 0; i < 3; ++i) reads.push_back(fullRead(path, before));
    std::sort(reads.begin(), reads.end());
    const double read = reads[1];
    std::printf(
        "purge_bench: %llu clients, 0..%llu dependent rows per client and table, %.1f MB; "
        "generated in %.2f s\n",
        static_cast<unsigned long long>(before[0]), static_cast<unsigned long long>(max_deps),
        static_cast<double>(fs::file_size(path)) / 1e6, generation);
    std::printf(
        "  rows: clientes %llu, cliprod %llu, horascli %llu, diascli %llu\n",
        static_cast<unsigned long long>(before[0]), static_cast<unsigned long long>(before[1]),
        static_cast<unsigned long long>(before[2]), static_cast<unsigned long long>(before[3]));

    testsupport::FakeRuntime rt;
    rt.answers = {runtime::kResultYes};
    TimedForm::Split split;
    double total = 0;
    uint64_t written = 0;
    struct rusage usage_before {
    }, usage_after{};
    {
      TimedForm form(path, date);
      ::getrusage(RUSAGE_SELF, &usage_before);
      const uint64_t written_before = bytesWritten();
      g_io.on = true;
      t0 = Clock::now();
      form.start();
      purge::runPurge(rt, form);
      split = form.finish();
      total = secondsSince(t0);
      g_io.on = false;
      written = bytesWritten() - written_before;
      ::getrusage(RUSAGE_SELF, &usage_after);
    }
    if (rt.messages.size() != 2 || rt.messages[1].prompt != purge::kDoneMessage) {
      throw std::runtime_error("the purge did not end with its closing message");
    }

    fullRead(path, after);
    const uint64_t purged = before[0] - after[0];
    if (purged != split.clients || split.queries_run != 3 * purged) {
      throw std::runtime_error("the bar advanced " + std::to_string(split.clients) + " times and " +
                               std::to_string(split.queries_run) + " dependent queries ran, but " +
                               std::to_string(purged) + " clients went");
    }

    auto cpu = [](const struct rusage& a, const struct rusage& b, bool system) {
      const timeval& x = system ? a.ru_stime : a.ru_utime;
      const timeval& y = system ? b.ru_stime : b.ru_utime;
      return static_cast<double>(y.tv_sec - x.tv_sec) +
             static_cast<double>(y.tv_usec - x.tv_usec) / 1e6;
    };
    const double per = 100.0 / total;
    const double sync = seconds(g_io.sync), writes = seconds(g_io.write);
    std::printf("seconds; ratio = time / one full read of the four tables\n");
    std::printf("  %-40s %8.3f\n", "reference: full read of the 4 tables", read);
    std::printf("  %-40s %8.3f  ratio %.1fx; %llu clients, %.0f clients/s\n",
                "the purge (runPurge)", total, total / read,
                static_cast<unsigned long long>(purged), static_cast<double>(purged) / total);
    std::printf("  rows deleted: clientes %llu, cliprod %llu, horascli %llu, diascli %llu\n",
                static_cast<unsigned long long>(purged),
                static_cast<unsigned long long>(before[1] - after[1]),
                static_cast<unsigned long long>(before[2] - after[2]),
                static_cast<unsigned long long>(before[3] - after[3]));
    std::printf("  Frame1 repaints: %zu (bar width %d px; %s)\n", rt.repaints.size(), kBarWidth,
                rt.repaints.size() <= static_cast<size_t>(kBarWidth) ? "at most one per pixel"
                                                                     : "MORE than one per pixel");
    std::printf("  where the time went:\n");
    auto part = [&](const char* label, Clock::duration d) {
      std::printf("    %-46s %8.3f  %5.1f %%\n", label, seconds(d), seconds(d) * per);
    };
    part("selection (reminder, select, count)", split.selection);
    part("dependent queries (3 per client)", split.queries);
    part("deleting the dependent rows", split.dependents);
    part("deleting the client row and committing", split.client_commit);
    part("beginning the next client", split.begin);
    part("closing message", split.finish);
    std::printf("    %-46s %8.3f  %5.1f %%  (%llu calls)\n", "  of all that: fsync/fdatasync", sync,
                sync * per, static_cast<unsigned long long>(g_io.syncs));
    std::printf("    %-46s %8.3f  %5.1f %%  (%llu calls, %.1f MB)\n", "  of all that: write/pwrite",
                writes, writes * per, static_cast<unsigned long long>(g_io.writes),
                static_cast<double>(g_io.bytes) / 1e6);
    const double files = seconds(g_io.files);
    std::printf("    %-46s %8.3f  %5.1f %%  (%llu calls)\n", "  of all that: open/close/unlink",
                files, files * per, static_cast<unsigned long long>(g_io.file_calls));
    std::printf(
        "  per client: %.1f us in all, %.1f us committing and deleting its row, %.1f us in "
        "syncs (%.1f calls), %.1f KB written\n",
        1e6 * total / static_cast<double>(purged),
        1e6 * seconds(split.client_commit) / static_cast<double>(purged),
        1e6 * sync / static_cast<double>(purged),
        static_cast<double>(g_io.syncs) / static_cast<double>(purged),
        static_cast<double>(written) / 1e3 / static_cast<double>(purged));
    std::printf("  process time during the purge: %.3f s user, %.3f s system\n",
                cpu(usage_before, usage_after, false), cpu(usage_before, usage_after, true));
  } catch (const jet::JetError& e) {
    std::fprintf(stderr, "purge_bench: error %d: %s\n", e.number(), e.what());
    return 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "purge_bench: %s\n", e.what());
    return 1;
  }
  return 0;
}
