#include "io/lock_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "jet/error.h"

namespace jet {

namespace {

constexpr off_t kFirstUserLock = 0x10000001;
constexpr size_t kNameSize = 32;

void putName(char* out, const char* name) {
  std::memset(out, ' ', kNameSize);
  std::memcpy(out, name, std::min(std::strlen(name), kNameSize));
}

}  // namespace

std::string lockFilePath(const std::string& database_path) {
  std::filesystem::path p(database_path);
  std::string ext = p.extension().string();
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (ext == ".mdb") return p.replace_extension(".ldb").string();
  return database_path + ".ldb";
}

LockFile::~LockFile() { release(); }

void LockFile::acquire(const std::string& database_path) {
  if (held()) return;
  path_ = lockFilePath(database_path);
  fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd_ < 0) {
    if (errno == EEXIST) {
      throw JetError(Msg::kFileInUse, database_path);
    }
    throw JetError(Msg::kCannotOpen, path_);
  }
  // Record 0: the computer's name and the security name, each in 32 bytes.
  char record[2 * kNameSize];
  char host[256] = {};
  if (::gethostname(host, sizeof host - 1) != 0) std::strcpy(host, "localhost");
  putName(record, host);
  putName(record + kNameSize, "Admin");
  ssize_t written = ::write(fd_, record, sizeof record);
  (void)written;  // the record is informative; the held lock is what counts
  struct flock lk {};
  lk.l_type = F_WRLCK;
  lk.l_whence = SEEK_SET;
  lk.l_start = kFirstUserLock;
  lk.l_len = 1;
  ::fcntl(fd_, F_SETLK, &lk);
}

void LockFile::release() {
  if (fd_ < 0) return;
  ::close(fd_);
  ::unlink(path_.c_str());
  fd_ = -1;
}

}  // namespace jet
