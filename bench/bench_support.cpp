#include "bench_support.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>

extern char** environ;

#ifndef JET_BENCH_MKCLIENTES
#define JET_BENCH_MKCLIENTES "mkclientes"
#endif

namespace bench {

namespace fs = std::filesystem;

namespace {

// The scratch folder, removed on every way out (also on Ctrl-C).
char g_scratch[4096] = {};

void removeScratch() {
  if (g_scratch[0] == '\0') return;
  std::error_code ec;
  fs::remove_all(g_scratch, ec);
  g_scratch[0] = '\0';
}

void onSignal(int sig) {
  removeScratch();  // best effort: the process ends right after
  std::signal(sig, SIG_DFL);
  std::raise(sig);
}

}  // namespace

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

double median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

std::string makeScratch(const char* prefix) {
  std::string pattern = (fs::temp_directory_path() / (std::string(prefix) + ".XXXXXX")).string();
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  if (!::mkdtemp(buf.data())) {
    throw std::runtime_error("cannot create a scratch folder under " + pattern);
  }
  std::snprintf(g_scratch, sizeof g_scratch, "%s", buf.data());
  std::atexit(removeScratch);
  std::signal(SIGINT, onSignal);
  std::signal(SIGTERM, onSignal);
  return buf.data();
}

// Runs mkclientes; throws with its exit status when it fails.
void generate(const std::string& out, uint64_t clients, uint64_t max_deps) {
  const char* env = std::getenv("MKCLIENTES");
  const std::string tool = env && *env ? env : JET_BENCH_MKCLIENTES;
  std::vector<std::string> args = {tool,         out,
                                   "--clients",  std::to_string(clients),
                                   "--max-deps", std::to_string(max_deps),
                                   "--quiet",    "--force",
                                   "--scatter"};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int rc = posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ);
  if (rc != 0) throw std::runtime_error("cannot run " + tool + ": " + std::strerror(rc));
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) throw std::runtime_error("waitpid failed");
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    throw std::runtime_error(tool + " failed (status " + std::to_string(status) + ")");
  }
}

uint64_t fold(const jet::Value& v) {
  return static_cast<uint64_t>(v.kind()) + static_cast<uint64_t>(v.asInt()) + v.asString().size() +
         (v.asDouble() != 0 ? 1 : 0);
}

// Bytes this process has handed to write calls so far.
uint64_t bytesWritten() {
  FILE* f = std::fopen("/proc/self/io", "r");
  if (!f) return 0;
  char key[64];
  unsigned long long value = 0, out = 0;
  while (std::fscanf(f, "%63s %llu", key, &value) == 2) {
    if (std::strcmp(key, "wchar:") == 0) out = value;
  }
  std::fclose(f);
  return out;
}

bool numberArg(int argc, char** argv, int& i, uint64_t& out) {
  if (i + 1 >= argc) return false;
  char* end = nullptr;
  const unsigned long long v = std::strtoull(argv[++i], &end, 10);
  if (*end != '\0' || argv[i][0] == '-') return false;
  out = v;
  return true;
}

}  // namespace bench
