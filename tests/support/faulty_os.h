// An operating-system layer for tests: every call goes on to another Os (the
// system's by default) and is recorded with the file it concerns, and any
// call can be made to fail instead, say the third write or the first sync
// from now on, as a full disk or a failing device would.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "io/os.h"

namespace testsupport {

enum class OsOp {
  Open,
  Read,
  Write,
  Sync,
  Truncate,
  Size,
  Identity,
  LockByte,
  Close,
  Remove,
  Exists,
  SyncFolder,
  ComputerName,
  Rename,
  RealPath,
};

const char* opName(OsOp op);

struct OsCall {
  OsOp op;
  std::string path;     // the file (for SyncFolder, the file whose folder)
  bool failed = false;  // made to fail
};

class FaultyOs : public jet::Os {
 public:
  explicit FaultyOs(jet::Os& real = jet::systemOs()) : real_(&real) {}

  // The `nth` call of `op` from now on (1 is the next one) fails with
  // `failure` and does not reach the real system.
  void failCall(OsOp op, int nth, jet::OsStatus failure = {jet::OsFailure::Other, 5});
  // How many calls of `op` were made so far.
  int count(OsOp op) const;

  const std::vector<OsCall>& calls() const { return calls_; }
  // Called as each call is made, before it goes on: a test that needs to
  // act at a moment of a write (pause, change a file) does it here.
  std::function<void(const OsCall&)> on_call;
  void clearCalls() { calls_.clear(); }

  jet::OsStatus open(const std::string& path, jet::OpenFor how,
                     std::unique_ptr<jet::OsFile>& out) override;
  jet::OsStatus remove(const std::string& path) override;
  jet::OsStatus rename(const std::string& from, const std::string& to) override;
  jet::OsStatus realPath(const std::string& path, std::string& out) override;
  bool exists(const std::string& path) override;
  jet::OsStatus syncFolderOf(const std::string& path) override;
  std::string computerName() override;
  // Goes on unrecorded: not a call a fault is made of.
  jet::OsStatus keepOthersFromWriting(const std::string& path,
                                      std::unique_ptr<jet::OsWriteGuard>& out) override {
    return real_->keepOthersFromWriting(path, out);
  }

  // Records the call; true when it is to fail (then `failure` says how).
  bool enter(OsOp op, const std::string& path, jet::OsStatus& failure);

 private:
  jet::Os* real_;
  std::map<OsOp, int> counts_;
  std::multimap<OsOp, std::pair<int, jet::OsStatus>> faults_;  // by op: call number, failure
  std::vector<OsCall> calls_;
};

}  // namespace testsupport
