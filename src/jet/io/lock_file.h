// The lock file Access keeps beside a database that is open for sharing
// ("clientes.ldb" beside "clientes.mdb"). Before the engine writes, it claims
// the file: when another program already has one, the database is in use and
// nothing is written.
#pragma once

#include <string>

namespace jet {

std::string lockFilePath(const std::string& database_path);

class LockFile {
 public:
  LockFile() = default;
  ~LockFile();
  LockFile(const LockFile&) = delete;
  LockFile& operator=(const LockFile&) = delete;

  // Creates the lock file with this machine's record and holds its user
  // lock. Throws JetError 3045 when a lock file is already there.
  void acquire(const std::string& database_path);
  bool held() const { return fd_ >= 0; }
  // Removes the lock file.
  void release();

 private:
  std::string path_;
  int fd_ = -1;
};

}  // namespace jet
