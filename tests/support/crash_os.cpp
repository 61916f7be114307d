#include "support/crash_os.h"

#include <algorithm>
#include <cstring>
#include <random>

namespace testsupport {

namespace {

using jet::OsFailure;
using jet::OsStatus;

constexpr OsStatus kDead{OsFailure::Other, 5};  // what a stopped machine answers
constexpr size_t kSector = 512;                 // the unit a disk writes whole

std::string folderOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

}  // namespace

struct CrashOs::Node {
  // A change since the last sync, kept to be replayed in part at a cut.
  struct Change {
    bool truncate = false;
    uint64_t offset = 0;  // a truncate's new size
    std::vector<uint8_t> bytes;
  };
  std::vector<uint8_t> synced;
  std::vector<uint8_t> current;
  std::vector<Change> unsynced;
  uint64_t modified = 0;
  uint64_t number = 0;  // tells files apart, as a file system's file number

  void write(uint64_t offset, const uint8_t* data, size_t count) {
    if (offset + count > current.size()) current.resize(offset + count);
    std::memcpy(current.data() + offset, data, count);
    unsynced.push_back({false, offset, std::vector<uint8_t>(data, data + count)});
  }
  void truncate(uint64_t size) {
    current.resize(size);
    unsynced.push_back({true, size, {}});
  }

  // The bytes on the disk after a cut: the synced ones with, chosen by
  // `rng`, none, all or part of the changes since.
  std::vector<uint8_t> afterCut(std::mt19937_64& rng) const {
    if (unsynced.empty()) return synced;
    std::vector<uint8_t> out = synced;
    auto apply = [&](const Change& c, auto keepSector) {
      if (c.truncate) {
        out.resize(c.offset);
        return;
      }
      for (size_t at = 0; at < c.bytes.size(); at += kSector) {
        if (!keepSector(at / kSector)) continue;
        const size_t n = std::min(kSector, c.bytes.size() - at);
        if (c.offset + at + n > out.size()) out.resize(c.offset + at + n);
        std::memcpy(out.data() + c.offset + at, c.bytes.data() + at, n);
      }
    };
    switch (rng() % 4) {
      case 0:  // nothing reached the disk
        break;
      case 1:  // everything did
        out = current;
        break;
      case 2: {  // the changes in order, up to one torn part-way
        const size_t whole = rng() % unsynced.size();
        for (size_t i = 0; i < whole; ++i) apply(unsynced[i], [](size_t) { return true; });
        const Change& last = unsynced[whole];
        if (!last.truncate) {
          const size_t sectors = (last.bytes.size() + kSector - 1) / kSector;
          const size_t kept = rng() % sectors;
          apply(last, [&](size_t sector) { return sector < kept; });
        }
        break;
      }
      default:  // any sector of any change, in any order
        for (const Change& c : unsynced) {
          if (c.truncate) {
            if (rng() % 2) apply(c, [](size_t) { return true; });
          } else {
            apply(c, [&](size_t) { return rng() % 2 == 1; });
          }
        }
    }
    return out;
  }
};

namespace {

class CrashFile final : public jet::OsFile {
 public:
  CrashFile(CrashOs& os, std::shared_ptr<CrashOs::Node> node, std::string path)
      : os_(&os), node_(std::move(node)), path_(std::move(path)) {}

  OsStatus read(uint64_t offset, uint8_t* out, size_t count) override {
    if (!alive()) return kDead;
    if (offset + count > node_->current.size()) return {OsFailure::PastEnd, 0};
    std::memcpy(out, node_->current.data() + offset, count);
    return {};
  }
  OsStatus write(uint64_t offset, const uint8_t* data, size_t count) override {
    if (!os_->change({OsOp::Write, path_, offset, count, false, {}})) return kDead;
    node_->write(offset, data, count);
    node_->modified = os_->tick();
    return {};
  }
  OsStatus sync() override {
    if (!os_->change({OsOp::Sync, path_, 0, 0, false, {}})) return kDead;
    node_->synced = node_->current;
    node_->unsynced.clear();
    return {};
  }
  OsStatus truncate(uint64_t size) override {
    if (!os_->change({OsOp::Truncate, path_, size, 0, false, {}})) return kDead;
    node_->truncate(size);
    node_->modified = os_->tick();
    return {};
  }
  OsStatus size(uint64_t& out) override {
    if (!alive()) return kDead;
    out = node_->current.size();
    return {};
  }
  OsStatus identity(jet::FileIdentity& out) override {
    if (!alive()) return kDead;
    out = {node_->current.size(), static_cast<int64_t>(node_->modified), 1, node_->number};
    return {};
  }
  // One program at a time runs on this layer: a lock is always free.
  OsStatus tryLock(uint64_t, uint64_t) override { return alive() ? OsStatus{} : kDead; }
  OsStatus close() override { return alive() ? OsStatus{} : kDead; }

 private:
  bool alive() const { return os_->powered(); }

  CrashOs* os_;
  std::shared_ptr<CrashOs::Node> node_;
  std::string path_;
};

}  // namespace

CrashOs::CrashOs() = default;
CrashOs::~CrashOs() = default;

void CrashOs::addFile(const std::string& path, std::vector<uint8_t> bytes) {
  auto node = std::make_shared<Node>();
  node->number = tick();
  node->synced = bytes;
  node->current = std::move(bytes);
  names_[path] = node;
  on_disk_[path] = node;
}

void CrashOs::addFiles(const CrashImage& image) {
  for (const auto& [path, bytes] : image.files) addFile(path, bytes);
}

std::optional<std::vector<uint8_t>> CrashOs::contents(const std::string& path) const {
  auto it = names_.find(path);
  if (it == names_.end()) return std::nullopt;
  return it->second->current;
}

CrashImage CrashOs::imageAfterCut(uint64_t seed) const {
  std::mt19937_64 rng(seed);
  std::set<std::string> paths;
  for (const auto& entry : names_) paths.insert(entry.first);
  for (const auto& entry : on_disk_) paths.insert(entry.first);
  CrashImage image;
  for (const std::string& path : paths) {
    auto seen = names_.find(path);
    auto disk = on_disk_.find(path);
    std::shared_ptr<Node> node;
    if (seen != names_.end() && disk != on_disk_.end() && seen->second == disk->second) {
      node = seen->second;
    } else if (rng() % 2) {
      // Created, removed or replaced since the folder's sync: the name the
      // programs saw, or the one the disk held.
      node = seen != names_.end() ? seen->second : nullptr;
    } else {
      node = disk != on_disk_.end() ? disk->second : nullptr;
    }
    if (!node) continue;
    std::vector<uint8_t> bytes = node->afterCut(rng);
    if (bytes != node->synced && bytes != node->current) image.torn.insert(path);
    image.files[path] = std::move(bytes);
  }
  return image;
}

bool CrashOs::change(FileEvent event) {
  if (!powered_) return false;
  if (before_change) before_change(event);
  if (!powered_) return false;
  events_.push_back(std::move(event));
  return true;
}

OsStatus CrashOs::open(const std::string& path, jet::OpenFor how,
                       std::unique_ptr<jet::OsFile>& out) {
  if (!powered_) return kDead;
  auto it = names_.find(path);
  if (how == jet::OpenFor::Read || how == jet::OpenFor::ReadWrite ||
      (how == jet::OpenFor::OpenOrCreate && it != names_.end())) {
    if (it == names_.end()) return {OsFailure::NotFound, 2};
    out = std::make_unique<CrashFile>(*this, it->second, path);
    return {};
  }
  if (it != names_.end() && how == jet::OpenFor::CreateNew) return {OsFailure::AlreadyExists, 17};
  if (!change({OsOp::Open, path, 0, 0, it == names_.end(), {}})) return kDead;
  if (it == names_.end()) {
    it = names_.emplace(path, std::make_shared<Node>()).first;
    it->second->number = tick();
  } else {
    it->second->truncate(0);
    it->second->modified = tick();
  }
  out = std::make_unique<CrashFile>(*this, it->second, path);
  return {};
}

OsStatus CrashOs::remove(const std::string& path) {
  if (!powered_) return kDead;
  if (!names_.count(path)) return {OsFailure::NotFound, 2};
  if (!change({OsOp::Remove, path, 0, 0, false, {}})) return kDead;
  names_.erase(path);
  return {};
}

// A rename is one step on the disk too: until the folder is synced, a cut
// may leave the old names or the new ones, never a mix of the two. The
// names are judged one by one at a cut, which may also keep both or
// neither; both are states a journal must survive, since the database is
// not written until the folder holding the new name is synced.
OsStatus CrashOs::rename(const std::string& from, const std::string& to) {
  if (!powered_) return kDead;
  auto it = names_.find(from);
  if (it == names_.end()) return {OsFailure::NotFound, 2};
  if (!change({OsOp::Rename, to, 0, 0, names_.count(to) == 0, from})) return kDead;
  auto node = it->second;
  names_.erase(it);
  names_[to] = std::move(node);
  return {};
}

OsStatus CrashOs::realPath(const std::string& path, std::string& out) {
  if (!powered_) return kDead;
  if (!names_.count(path)) return {OsFailure::NotFound, 2};
  out = path;
  return {};
}

bool CrashOs::exists(const std::string& path) {
  return powered_ && names_.count(path) > 0;
}

OsStatus CrashOs::syncFolderOf(const std::string& path) {
  if (!change({OsOp::SyncFolder, path, 0, 0, false, {}})) return kDead;
  const std::string folder = folderOf(path);
  std::set<std::string> paths;
  for (const auto& entry : names_) paths.insert(entry.first);
  for (const auto& entry : on_disk_) paths.insert(entry.first);
  for (const std::string& p : paths) {
    if (folderOf(p) != folder) continue;
    auto seen = names_.find(p);
    if (seen == names_.end()) {
      on_disk_.erase(p);
    } else {
      on_disk_[p] = seen->second;
    }
  }
  return {};
}

}  // namespace testsupport
