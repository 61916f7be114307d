#include "connections.h"

#include <filesystem>
#include <map>

namespace db {

std::shared_ptr<jet::Database> openShared(const std::string& path) {
  static std::map<std::string, std::weak_ptr<jet::Database>> open;
  std::error_code ec;
  std::string key = std::filesystem::weakly_canonical(path, ec).string();
  if (ec || key.empty()) key = path;
  if (auto existing = open[key].lock()) return existing;
  auto database = std::make_shared<jet::Database>(path);
  open[key] = database;
  return database;
}

}  // namespace db
