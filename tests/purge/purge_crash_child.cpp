// The purge as a program that a crash test kills: runs the whole purge
// (runPurge with the scripted runtime) on a file, or only opens the file for
// writing (which plays back a journal a killed purge left), and counts its
// calls that change files: writes, syncs, cuts, renames and removes, each
// filed under the phase it belongs to by the file it goes to:
//   journal   the journal being written (under its temporary name) and renamed
//   pages     the database file written by a commit
//   retire    the journal removed (or marked ended) after a commit
//   lock      the lock file
//   playback  the database file written while a journal is played back
// With CRASH_AT=N the program kills itself (SIGKILL) just before its Nth
// such call, after printing the phase to stderr; with CRASH_TRACE=FILE it
// writes the phase of every call, one a line, when it ends.
//
//   purge_crash_child purge DB DD/MM/YYYY
//   purge_crash_child open DB
//
// The steady clock is made to advance ten milliseconds per reading, so that
// the purge commits its batches after the same clients on every run and a
// call number names the same moment in each.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "jet/database.h"
#include "jet/error.h"
#include "purge/purge_form.h"
#include "purge/purge_run.h"
#include "support/fake_runtime.h"
#include "support/scripted_form.h"

namespace {

bool g_playback = false;  // the program only opens the file
long g_crash_at = 0;
std::vector<const char*> g_trace;
const char* g_last_phase = "other";

template <typename Fn>
Fn realFunction(const char* name) {
  void* f = ::dlsym(RTLD_NEXT, name);
  if (!f) std::abort();
  return reinterpret_cast<Fn>(f);
}

bool endsWith(const std::string& s, const char* tail) {
  const size_t n = std::strlen(tail);
  return s.size() >= n && s.compare(s.size() - n, n, tail) == 0;
}

const char* phaseOfPath(const std::string& path, bool renamed) {
  if (renamed || endsWith(path, "-journal~")) return "journal";
  if (endsWith(path, "-journal")) return "retire";
  if (endsWith(path, ".ldb")) return "lock";
  if (endsWith(path, ".mdb")) return g_playback ? "playback" : "pages";
  return nullptr;
}

std::string pathOf(int fd) {
  char link[64], target[4096];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  const ssize_t n = ::readlink(link, target, sizeof target - 1);
  return n > 0 ? std::string(target, static_cast<size_t>(n)) : std::string();
}

// Counts a call; a call on a folder (its sync) belongs to the phase before.
long g_calls = 0;
void count(const char* phase) {
  ++g_calls;
  if (!phase) phase = g_last_phase;
  g_last_phase = phase;
  if (std::getenv("CRASH_TRACE")) g_trace.push_back(phase);
  if (g_calls == g_crash_at) {
    const std::string line = std::string(phase) + "\n";
    (void)!::write(2, line.data(), line.size());
    std::raise(SIGKILL);
  }
}

void countFd(int fd) {
  const std::string path = pathOf(fd);
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) return count(nullptr);
  if (const char* phase = phaseOfPath(path, false)) count(phase);
}

}  // namespace

extern "C" {

ssize_t pwrite(int fd, const void* buf, size_t n, off_t offset) {
  static auto real = realFunction<ssize_t (*)(int, const void*, size_t, off_t)>("pwrite");
  countFd(fd);
  return real(fd, buf, n, offset);
}
ssize_t pwrite64(int fd, const void* buf, size_t n, off_t offset) {
  return pwrite(fd, buf, n, offset);
}
int fdatasync(int fd) {
  static auto real = realFunction<int (*)(int)>("fdatasync");
  countFd(fd);
  return real(fd);
}
int fsync(int fd) {
  static auto real = realFunction<int (*)(int)>("fsync");
  countFd(fd);
  return real(fd);
}
int ftruncate(int fd, off_t size) {
  static auto real = realFunction<int (*)(int, off_t)>("ftruncate");
  countFd(fd);
  return real(fd, size);
}
int ftruncate64(int fd, off_t size) {
  return ftruncate(fd, size);
}
int rename(const char* from, const char* to) {
  static auto real = realFunction<int (*)(const char*, const char*)>("rename");
  if (phaseOfPath(from, true)) count("journal");
  return real(from, to);
}
int unlink(const char* path) {
  static auto real = realFunction<int (*)(const char*)>("unlink");
  if (const char* phase = phaseOfPath(path, false)) count(phase);
  return real(path);
}

// A steady clock that moves ten milliseconds per reading: a batch of the
// purge lasts a dozen clients or so.
int clock_gettime(clockid_t clock, struct timespec* out) {
  static auto real = realFunction<int (*)(clockid_t, struct timespec*)>("clock_gettime");
  if (clock != CLOCK_MONOTONIC) return real(clock, out);
  static long readings = 0;
  ++readings;
  out->tv_sec = readings / 100;
  out->tv_nsec = readings % 100 * 10000000;
  return 0;
}

}  // extern "C"

int main(int argc, char** argv) {
  const std::string mode = argc > 2 ? argv[1] : "";
  if (!(mode == "purge" && argc == 4) && !(mode == "open" && argc == 3)) {
    std::fprintf(stderr, "uso: purge_crash_child purge BD DD/MM/AAAA | open BD\n");
    return 2;
  }
  if (const char* at = std::getenv("CRASH_AT")) g_crash_at = std::atol(at);
  g_playback = mode == "open";
  try {
    if (g_playback) {
      jet::Database db(argv[2], jet::OpenMode::ReadWrite);
    } else {
      testsupport::FakeRuntime rt;
      rt.answers = {runtime::kResultYes};
      testsupport::ScriptedForm form(argv[2], argv[3]);
      purge::runPurge(rt, form);
      if (rt.messages.size() != 2 || rt.messages[1].prompt != purge::kDoneMessage) return 1;
    }
  } catch (const jet::JetError& e) {
    std::fprintf(stderr, "%d: %s\n", e.number(), e.what());
    return 1;
  }
  if (const char* trace = std::getenv("CRASH_TRACE")) {
    FILE* f = std::fopen(trace, "w");
    if (!f) return 1;
    for (const char* phase : g_trace) std::fprintf(f, "%s\n", phase);
    std::fclose(f);
  }
  return 0;
}
