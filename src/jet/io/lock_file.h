// The lock file Access keeps beside a database that is open for sharing
// ("clientes.ldb" beside "clientes.mdb"). Before the engine writes, it claims
// the file: when another program already has one, the database is in use and
// nothing is written.
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

  // Creates the lock file with this machine's record and holds its user
  // lock. Throws JetError 3045 when a lock file is already there.
  void acquire(const std::string& database_path);
  bool held() const { return file_ != nullptr; }
  // Removes the lock file.
  void release();

 private:
  Os* os_;
  std::string path_;
  std::unique_ptr<OsFile> file_;
};

}  // namespace jet
