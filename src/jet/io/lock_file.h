// The lock file Access keeps beside a database that is open for sharing
// ("clientes.ldb" beside "clientes.mdb"). The engine holds it while it may
// write the file: from the start of a unit of work to its end, or longer
// when a caller holds it across units. What tells a live holder from a file
// left behind by a program that was killed is an operating-system lock on
// the lock file (Access, too, holds byte locks in its .ldb while the
// database is open): a lock file nobody holds a lock on is stale and is
// taken over; one that another open file holds a lock on means the
// database is in use. Where the system can refuse other programs' writes
// (Windows), the database is also kept from other writers while the lock
// file is held: other programs may read it, and write again once it goes.
#pragma once

#include <memory>
#include <string>

#include "io/os.h"

namespace jet {

std::string lockFilePath(const std::string& database_path);

class LockFile {
 public:
  explicit LockFile(Os& os) : os_(&os) {}
  ~LockFile();
  LockFile(const LockFile&) = delete;
  LockFile& operator=(const LockFile&) = delete;

  // Takes the lock file of the database at `real_path` (created, or taken
  // over when stale), writes this machine's record into it and holds a
  // lock on all of it. False when another open file holds a lock on it,
  // or when another program has the database open for writing where the
  // system can keep writers out; throws JetError 3051 naming the lock file
  // when it cannot be opened.
  bool tryAcquire(const std::string& real_path);
  bool held() const { return file_ != nullptr; }
  // Removes the lock file, then lets the lock go. No other program can
  // hold a lock on it meanwhile, since ours covers the whole file.
  void release();

 private:
  Os* os_;
  std::string path_;
  std::unique_ptr<OsFile> file_;
  std::unique_ptr<OsWriteGuard> guard_;  // other programs kept from writing the database
};

}  // namespace jet
