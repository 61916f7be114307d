#include "connections.h"

#include <filesystem>
#include <map>

#include "jet/error.h"

namespace db {

std::shared_ptr<jet::Database> openShared(const std::string& path, jet::Os& os) {
  // By layer as well as by file: a test's own layer never shares a database
  // opened on the real system.
  static std::map<std::pair<const jet::Os*, std::string>, std::weak_ptr<jet::Database>> open;
  std::error_code ec;
  std::string key = std::filesystem::weakly_canonical(path, ec).string();
  if (ec || key.empty()) key = path;
  if (auto existing = open[{&os, key}].lock()) return existing;
  // Channels open their file for reading and writing; a file this user may
  // only read still opens, and refuses deletions when they come.
  std::shared_ptr<jet::Database> database;
  try {
    database = std::make_shared<jet::Database>(path, jet::OpenMode::ReadWrite, os);
  } catch (const jet::JetError& e) {
    if (e.number() != jet::err::kCannotOpen) throw;
    database = std::make_shared<jet::Database>(path, jet::OpenMode::ReadOnly, os);
  }
  open[{&os, key}] = database;
  return database;
}

}  // namespace db
