// The operating-system layer on POSIX systems: the only file of the engine
// that calls the system.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>

#include "io/os.h"

namespace jet {

namespace {

OsStatus failed(int error) {
  OsStatus s;
  s.code = error;
  switch (error) {
    case ENOENT:
    case ENOTDIR:
      s.failure = OsFailure::NotFound;
      break;
    case EEXIST:
      s.failure = OsFailure::AlreadyExists;
      break;
    case ENOSPC:
      s.failure = OsFailure::DiskFull;
      break;
    default:
      s.failure = OsFailure::Other;
      break;
  }
  return s;
}

OsStatus lastFailure() {
  return failed(errno);
}

class PosixFile final : public OsFile {
 public:
  explicit PosixFile(int fd) : fd_(fd) {}
  ~PosixFile() override {
    if (fd_ >= 0) ::close(fd_);
  }
  PosixFile(const PosixFile&) = delete;
  PosixFile& operator=(const PosixFile&) = delete;

  OsStatus read(uint64_t offset, uint8_t* out, size_t count) override {
    while (count > 0) {
      const ssize_t got = ::pread(fd_, out, count, static_cast<off_t>(offset));
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) return lastFailure();
      if (got == 0) return {OsFailure::PastEnd, 0};
      out += got;
      count -= static_cast<size_t>(got);
      offset += static_cast<uint64_t>(got);
    }
    return {};
  }

  OsStatus write(uint64_t offset, const uint8_t* data, size_t count) override {
    while (count > 0) {
      const ssize_t put = ::pwrite(fd_, data, count, static_cast<off_t>(offset));
      if (put < 0 && errno == EINTR) continue;
      if (put < 0) return lastFailure();
      if (put == 0) return {OsFailure::Other, 0};
      data += put;
      count -= static_cast<size_t>(put);
      offset += static_cast<uint64_t>(put);
    }
    return {};
  }

  // Data and the size needed to read it back; the change time can wait.
  OsStatus sync() override { return ::fdatasync(fd_) == 0 ? OsStatus{} : lastFailure(); }

  OsStatus truncate(uint64_t size) override {
    return ::ftruncate(fd_, static_cast<off_t>(size)) == 0 ? OsStatus{} : lastFailure();
  }

  OsStatus size(uint64_t& out) override {
    struct stat st {};
    if (::fstat(fd_, &st) != 0) return lastFailure();
    out = static_cast<uint64_t>(st.st_size);
    return {};
  }

  OsStatus identity(FileIdentity& out) override {
    struct stat st {};
    if (::fstat(fd_, &st) != 0) return lastFailure();
    out.size = static_cast<uint64_t>(st.st_size);
    out.modified_ns = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    out.device = static_cast<uint64_t>(st.st_dev);
    out.file_number = static_cast<uint64_t>(st.st_ino);
    return {};
  }

  // Open-file-description locks: a classic fcntl lock belongs to the
  // process and goes as soon as any descriptor of the file in the process
  // is closed, which would drop the engine's lock whenever something else
  // in the program opened and closed the same file.
  OsStatus tryLock(uint64_t offset, uint64_t length) override {
    struct flock lk {};
    lk.l_type = F_WRLCK;
    lk.l_whence = SEEK_SET;
    lk.l_start = static_cast<off_t>(offset);
    lk.l_len = static_cast<off_t>(length);
    lk.l_pid = 0;
    if (::fcntl(fd_, F_OFD_SETLK, &lk) == 0) return {};
    if (errno == EAGAIN || errno == EACCES) return {OsFailure::Locked, errno};
    return lastFailure();
  }

  OsStatus close() override {
    const int fd = fd_;
    fd_ = -1;
    if (fd >= 0 && ::close(fd) != 0) return lastFailure();
    return {};
  }

 private:
  int fd_;
};

class PosixOs final : public Os {
 public:
  OsStatus open(const std::string& path, OpenFor how, std::unique_ptr<OsFile>& out) override {
    int flags = O_CLOEXEC;
    switch (how) {
      case OpenFor::Read:
        flags |= O_RDONLY;
        break;
      case OpenFor::ReadWrite:
        flags |= O_RDWR;
        break;
      case OpenFor::Create:
        flags |= O_WRONLY | O_CREAT | O_TRUNC;
        break;
      case OpenFor::CreateNew:
        flags |= O_RDWR | O_CREAT | O_EXCL;
        break;
      case OpenFor::OpenOrCreate:
        flags |= O_RDWR | O_CREAT;
        break;
    }
    const int fd = ::open(path.c_str(), flags, 0644);
    if (fd < 0) return lastFailure();
    auto file = std::make_unique<PosixFile>(fd);
    if (how == OpenFor::Read || how == OpenFor::ReadWrite) {
      // A folder or a device opens too, but is no file to read pages from.
      struct stat st {};
      if (::fstat(fd, &st) != 0) return lastFailure();
      if (!S_ISREG(st.st_mode)) return {OsFailure::Other, 0};
    }
    out = std::move(file);
    return {};
  }

  OsStatus remove(const std::string& path) override {
    return ::unlink(path.c_str()) == 0 ? OsStatus{} : lastFailure();
  }

  OsStatus rename(const std::string& from, const std::string& to) override {
    return ::rename(from.c_str(), to.c_str()) == 0 ? OsStatus{} : lastFailure();
  }

  OsStatus realPath(const std::string& path, std::string& out) override {
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (!resolved) return lastFailure();
    out = resolved;
    std::free(resolved);
    return {};
  }

  bool exists(const std::string& path) override { return ::access(path.c_str(), F_OK) == 0; }

  OsStatus syncFolderOf(const std::string& path) override {
    std::filesystem::path dir = std::filesystem::path(path).parent_path();
    if (dir.empty()) dir = std::filesystem::path(".");
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return lastFailure();
    OsStatus s = ::fsync(fd) == 0 ? OsStatus{} : lastFailure();
    ::close(fd);
    return s;
  }

  std::string computerName() override {
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) != 0) return {};
    return host;
  }
};

}  // namespace

Os& systemOs() {
  static PosixOs os;
  return os;
}

bool isPathSeparator(char c) {
  return c == '/';
}

bool refusedForPermission(const OsStatus& status) {
  return !status.ok() && (status.code == EACCES || status.code == EPERM || status.code == EROFS);
}

}  // namespace jet
