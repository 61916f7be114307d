#include "io/lock_file.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string_view>

#include "jet/error.h"

namespace jet {

namespace {

constexpr size_t kNameSize = 32;

void putName(char* out, const std::string& name) {
  std::memset(out, ' ', kNameSize);
  std::memcpy(out, name.data(), std::min(name.size(), kNameSize));
}

// Refused for want of permission: the operator needs to hear that the
// folder (or its disk) allows no new files, not the lock file's name.
[[noreturn]] void throwCannotCreate(const std::string& path, const OsStatus& status) {
  if (refusedForPermission(status)) {
    size_t end = path.size();
    while (end > 0 && !isPathSeparator(path[end - 1])) --end;
    throw JetError(Msg::kFolderReadOnly,
                   end == 0 ? std::string(".") : path.substr(0, end > 1 ? end - 1 : 1));
  }
  throw JetError(Msg::kCannotOpen, path);
}

}  // namespace

// The ".mdb" extension of the file's name, in any case, becomes ".ldb"; a
// name with another extension or none gets ".ldb" added. A name that is
// only ".mdb" has no extension, as with hidden files.
std::string lockFilePath(const std::string& database_path) {
  constexpr std::string_view kExtension = ".mdb";
  size_t name = database_path.size();
  while (name > 0 && !isPathSeparator(database_path[name - 1])) --name;
  const size_t length = database_path.size() - name;
  if (length > kExtension.size()) {
    const size_t dot = database_path.size() - kExtension.size();
    bool same = true;
    for (size_t i = 0; i < kExtension.size(); ++i) {
      const auto c = static_cast<unsigned char>(database_path[dot + i]);
      same = same && std::tolower(c) == kExtension[i];
    }
    if (same) return database_path.substr(0, dot) + ".ldb";
  }
  return database_path + ".ldb";
}

LockFile::~LockFile() {
  release();
}

bool LockFile::tryAcquire(const std::string& real_path) {
  if (held()) return true;
  const std::string path = lockFilePath(real_path);
  // A holder removes the file before it lets the lock go, so a lock taken
  // on a file that has just lost its name is worth nothing: try again on
  // the file the name leads to now.
  for (int attempt = 0; attempt < 8; ++attempt) {
    std::unique_ptr<OsFile> file;
    const OsStatus opened = os_->open(path, OpenFor::OpenOrCreate, file);
    if (!opened) throwCannotCreate(path, opened);
    const OsStatus locked = file->tryLock(0, 0);
    if (locked.failure == OsFailure::Locked) return false;
    if (!locked) throw JetError(Msg::kCannotOpen, path);
    std::unique_ptr<OsFile> by_name;
    FileIdentity ours, named;
    if (!os_->open(path, OpenFor::ReadWrite, by_name) || !file->identity(ours) ||
        !by_name->identity(named) || ours.device != named.device ||
        ours.file_number != named.file_number) {
      continue;
    }
    by_name.reset();
    std::unique_ptr<OsWriteGuard> guard;
    const OsStatus kept = os_->keepOthersFromWriting(real_path, guard);
    if (!kept) {
      // Ours to remove, as release() would: the lock is held.
      os_->remove(path);
      if (kept.failure == OsFailure::Locked) return false;
      throw JetError(Msg::kCannotOpen, real_path);
    }
    // Record 0: the computer's name and the security name, each in 32
    // bytes, over whatever a stale holder left. The record is informative;
    // the held lock is what counts.
    char record[2 * kNameSize];
    std::string host = os_->computerName();
    if (host.empty()) host = "localhost";
    putName(record, host);
    putName(record + kNameSize, "Admin");
    file->write(0, reinterpret_cast<const uint8_t*>(record), sizeof record);
    path_ = path;
    file_ = std::move(file);
    guard_ = std::move(guard);
    return true;
  }
  throw JetError(Msg::kCannotOpen, path);
}

void LockFile::release() {
  if (!file_) return;
  guard_.reset();
  os_->remove(path_);
  file_.reset();
}

}  // namespace jet
