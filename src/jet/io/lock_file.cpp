#include "io/lock_file.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <string_view>

#include "jet/error.h"

namespace jet {

namespace {

constexpr uint64_t kFirstUserLock = 0x10000001;
constexpr size_t kNameSize = 32;

void putName(char* out, const std::string& name) {
  std::memset(out, ' ', kNameSize);
  std::memcpy(out, name.data(), std::min(name.size(), kNameSize));
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

void LockFile::acquire(const std::string& database_path) {
  if (held()) return;
  path_ = lockFilePath(database_path);
  const OsStatus opened = os_->open(path_, OpenFor::CreateNew, file_);
  if (!opened) {
    file_.reset();
    if (opened.failure == OsFailure::AlreadyExists) {
      throw JetError(Msg::kFileInUse, database_path);
    }
    // Refused for want of permission: the operator needs to hear that the
    // folder (or its disk) allows no new files, not the lock file's name.
    if (opened.code == EACCES || opened.code == EPERM || opened.code == EROFS) {
      size_t end = path_.size();
      while (end > 0 && !isPathSeparator(path_[end - 1])) --end;
      throw JetError(Msg::kFolderReadOnly,
                     end == 0 ? std::string(".") : path_.substr(0, end > 1 ? end - 1 : 1));
    }
    throw JetError(Msg::kCannotOpen, path_);
  }
  // Record 0: the computer's name and the security name, each in 32 bytes.
  // The record is informative; the held lock is what counts.
  char record[2 * kNameSize];
  std::string host = os_->computerName();
  if (host.empty()) host = "localhost";
  putName(record, host);
  putName(record + kNameSize, "Admin");
  file_->write(0, reinterpret_cast<const uint8_t*>(record), sizeof record);
  file_->lockByte(kFirstUserLock);
}

void LockFile::release() {
  if (!file_) return;
  file_.reset();
  os_->remove(path_);
}

}  // namespace jet
