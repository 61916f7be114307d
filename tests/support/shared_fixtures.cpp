#include "support/shared_fixtures.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>

namespace fs = std::filesystem;

namespace testsupport {

fs::path sharedDir() {
  const char* env = std::getenv("SHARED_DIR");
  fs::path dir = env && *env ? fs::path(env) : fs::path(JET_SHARED_DIR);
  std::error_code ec;
  if (fs::is_directory(dir / "fixtures", ec)) return dir;
  return {};
}

bool requireShared() {
  const char* env = std::getenv("REQUIRE_SHARED");
  return env && std::string(env) == "1";
}

std::string missingWhy() {
  return "the shared fixtures folder (../shared/fixtures beside the checkout, or $SHARED_DIR) "
         "is absent";
}

std::vector<fs::path> allFixtures() {
  std::vector<fs::path> out;
  fs::path dir = sharedDir();
  if (dir.empty()) return out;
  for (const char* sub : {"fixtures/real", "fixtures/clientes", "fixtures/large"}) {
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(dir / sub, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
      if (it->is_regular_file() && it->path().extension() == ".mdb") out.push_back(it->path());
    }
  }
  std::sort(out.begin(), out.end());
  return out;
}

fs::path fixture(const std::string& relative) {
  return sharedDir() / "fixtures" / relative;
}

namespace {

// Windows refuses to remove a read-only file, as the copies of the
// read-only fixtures are: they are made writable first.
void removeTree(const fs::path& dir) {
  std::error_code ec;
#ifdef _WIN32
  for (fs::recursive_directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code ignored;
    fs::permissions(it->path(), fs::perms::owner_write, fs::perm_options::add, ignored);
  }
#endif
  fs::remove_all(dir, ec);
}

}  // namespace

fs::path scratchDir() {
  // Every folder handed out goes when the test program ends, unless
  // JET_KEEP_SCRATCH is set to look at a failure's files.
  struct Folders {
    std::vector<fs::path> paths;
    ~Folders() {
      if (std::getenv("JET_KEEP_SCRATCH")) return;
      for (const fs::path& p : paths) removeTree(p);
    }
  };
  static Folders folders;
  static int counter = 0;
  fs::path dir = fs::temp_directory_path() /
                 ("jet-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
  // Process numbers come round again soon under Wine: a folder a finished
  // program kept is cleared.
  removeTree(dir);
  fs::create_directories(dir);
  folders.paths.push_back(dir);
  return dir;
}

std::string shellQuoted(const std::string& word) {
#ifdef _WIN32
  return "\"" + word + "\"";
#else
  return "'" + word + "'";
#endif
}

// cmd.exe drops the first and the last quote of a line that holds more than
// two: the whole line goes in one more pair.
int runCommand(const std::string& command) {
#ifdef _WIN32
  return std::system(("\"" + command + "\"").c_str());
#else
  return std::system(command.c_str());
#endif
}

fs::path scratchCopy(const std::string& relative, const std::string& name) {
  const fs::path copy = scratchDir() / name;
  fs::copy_file(fixture(relative), copy);
  fs::permissions(copy, fs::perms::owner_read | fs::perms::owner_write);
  return copy;
}

}  // namespace testsupport
