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

fs::path scratchDir() {
  // Every folder handed out goes when the test program ends, unless
  // JET_KEEP_SCRATCH is set to look at a failure's files.
  struct Folders {
    std::vector<fs::path> paths;
    ~Folders() {
      if (std::getenv("JET_KEEP_SCRATCH")) return;
      std::error_code ec;
      for (const fs::path& p : paths) fs::remove_all(p, ec);
    }
  };
  static Folders folders;
  static int counter = 0;
  fs::path dir = fs::temp_directory_path() /
                 ("jet-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
  fs::remove_all(dir);
  fs::create_directories(dir);
  folders.paths.push_back(dir);
  return dir;
}

fs::path scratchCopy(const std::string& relative, const std::string& name) {
  const fs::path copy = scratchDir() / name;
  fs::copy_file(fixture(relative), copy);
  fs::permissions(copy, fs::perms::owner_read | fs::perms::owner_write);
  return copy;
}

}  // namespace testsupport
