// Everything the engine asks of the operating system, in one small
// interface: files opened by path and read and written at an offset, synced,
// cut to a size; a folder synced after a file in it came or went; a file
// removed, renamed or looked for; the path a file is really at; the
// computer's name; an advisory lock on a range of a file, held by the open
// file itself (not by the process), so that no other open of the same file
// can drop it.
//
// Each platform has its implementation beside this header (os_posix.cpp,
// os_win32.cpp);
// nothing else in the engine calls the system. Calls do not throw: they say
// whether they worked, and when not, what kind of failure it was and the
// system's own number for it, so that callers can name the engine's error.
// Tests pass their own Os to see the calls in order or to make one fail.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace jet {

// What went wrong, as far as the engine tells failures apart.
enum class OsFailure {
  None,
  NotFound,       // no such file (or a folder on its path is missing)
  AlreadyExists,  // an exclusive create found the file there
  DiskFull,       // no room left on the device
  PastEnd,        // a read ran past the end of the file
  Locked,         // another open file holds a lock on the range
  Other,
};

struct OsStatus {
  OsFailure failure = OsFailure::None;
  int code = 0;  // the system's number for the failure; 0 when it has none

  bool ok() const { return failure == OsFailure::None; }
  explicit operator bool() const { return ok(); }
};

// A file's size and last change: when either moved since the engine last
// looked, another program has written the file. The device and file number
// tell whether two opens reached the same file.
struct FileIdentity {
  uint64_t size = 0;
  int64_t modified_ns = 0;
  uint64_t device = 0;
  uint64_t file_number = 0;
  bool operator==(const FileIdentity&) const = default;
};

enum class OpenFor {
  Read,          // an existing regular file, read only
  ReadWrite,     // an existing regular file
  Create,        // read and write; created when absent, emptied when present
  CreateNew,     // read and write; fails with AlreadyExists when present
  OpenOrCreate,  // read and write; created when absent, kept as it is when present
};

// An open file. Destroying it closes it; close() says whether that worked.
class OsFile {
 public:
  virtual ~OsFile() = default;

  // Exactly `count` bytes at `offset`, or a failure (PastEnd at the end).
  virtual OsStatus read(uint64_t offset, uint8_t* out, size_t count) = 0;
  // All `count` bytes at `offset`, or a failure.
  virtual OsStatus write(uint64_t offset, const uint8_t* data, size_t count) = 0;
  // The file's bytes and its size are on the disk when this returns.
  virtual OsStatus sync() = 0;
  virtual OsStatus truncate(uint64_t size) = 0;
  virtual OsStatus size(uint64_t& out) = 0;
  virtual OsStatus identity(FileIdentity& out) = 0;
  // Takes an advisory write lock on `length` bytes at `offset` (0: up to
  // the end and beyond), without waiting: Locked when another open file,
  // in this program or another, holds a lock in the range. The lock goes
  // when this file is closed, and only then.
  virtual OsStatus tryLock(uint64_t offset, uint64_t length) = 0;
  virtual OsStatus close() = 0;
};

// What Os::keepOthersFromWriting hands back: other programs are kept from
// writing the file for as long as it lives.
class OsWriteGuard {
 public:
  virtual ~OsWriteGuard() = default;
};

class Os {
 public:
  virtual ~Os() = default;

  virtual OsStatus open(const std::string& path, OpenFor how, std::unique_ptr<OsFile>& out) = 0;
  virtual OsStatus remove(const std::string& path) = 0;
  // Gives the file at `from` the name `to`, replacing a file there, in one
  // step: a crash leaves one name or the other.
  virtual OsStatus rename(const std::string& from, const std::string& to) = 0;
  // The absolute path of an existing file, every symbolic link followed.
  virtual OsStatus realPath(const std::string& path, std::string& out) = 0;
  virtual bool exists(const std::string& path) = 0;
  // Syncs the folder holding `path`, so that a file created in it or removed
  // from it stays so after a crash.
  virtual OsStatus syncFolderOf(const std::string& path) = 0;
  // The computer's name; empty when the system does not give it.
  virtual std::string computerName() = 0;
  // Keeps other programs from writing the file at `path`, though not from
  // reading it, until `out` is destroyed; this program's own opens of the
  // file go on writing. Locked when another program has the file open for
  // writing now. Where the system cannot refuse writers (POSIX locks do not
  // bind), there is nothing to take: the lock file is what keeps writers
  // apart there, and `out` stays empty.
  virtual OsStatus keepOthersFromWriting(const std::string& path,
                                         std::unique_ptr<OsWriteGuard>& out) {
    (void)path;
    out.reset();
    return {};
  }
};

// The operating system the program runs on.
Os& systemOs();

// Whether `c` separates folders in a path on this system.
bool isPathSeparator(char c);

// Whether a failure is the system refusing for want of permission, or
// because the disk is read-only, by the system's own number for it.
bool refusedForPermission(const OsStatus& status);

}  // namespace jet
