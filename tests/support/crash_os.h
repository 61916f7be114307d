// An operating-system layer for tests that can lose power. Files live in
// memory; each keeps apart what was written since its last sync, and each
// folder keeps apart the names created or removed since its last sync. At
// any moment the layer can say what a disk would hold had the power gone
// then: a file's synced bytes, plus none, all or only part of the writes
// since (some sectors, or writes in order up to one torn half-way), and a
// name created or removed since its folder's sync kept or lost, as a real
// file system may leave them. A seed chooses among these, so a failing cut
// can be replayed. cutPower() then stops the machine: every later call
// fails, as no call would return after a real power cut.
//
// Every call that changes files is recorded, with where it wrote, so that
// tests can check the order of a unit of work against the rules a crash at
// any point relies on.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "io/os.h"
#include "support/faulty_os.h"

namespace testsupport {

// One call that changes files: Open (only those that create or empty a
// file), Write, Sync, Truncate, Remove, Rename or SyncFolder.
struct FileEvent {
  OsOp op;
  std::string path;      // for SyncFolder, the file whose folder; Rename: the new name
  uint64_t offset = 0;   // Write: where; Truncate: the new size
  uint64_t size = 0;     // Write: how many bytes
  bool created = false;  // Open, Rename: the name was not there before
  std::string from;      // Rename: the old name
};

// The files a disk holds after a power cut, by path.
struct CrashImage {
  std::map<std::string, std::vector<uint8_t>> files;
  // The files that hold some, but not all, of what was written to them
  // since their last sync: torn by the cut.
  std::set<std::string> torn;
};

class CrashOs : public jet::Os {
 public:
  CrashOs();
  ~CrashOs() override;

  // A file as if it had been there for long: bytes and name on the disk.
  void addFile(const std::string& path, std::vector<uint8_t> bytes);
  // Every file of an image, as on the disk once the machine restarts.
  void addFiles(const CrashImage& image);
  // The file's bytes as the programs see them now; nullopt when absent.
  std::optional<std::vector<uint8_t>> contents(const std::string& path) const;

  // What the disk would hold if the power went now (see above).
  CrashImage imageAfterCut(uint64_t seed) const;
  // The power goes: every call from now on fails (exists says no).
  void cutPower() { powered_ = false; }
  bool powered() const { return powered_; }

  // Called before each change is made, with the change; lets a test take
  // an image at chosen points of a run.
  std::function<void(const FileEvent&)> before_change;
  const std::vector<FileEvent>& events() const { return events_; }

  jet::OsStatus open(const std::string& path, jet::OpenFor how,
                     std::unique_ptr<jet::OsFile>& out) override;
  jet::OsStatus remove(const std::string& path) override;
  jet::OsStatus rename(const std::string& from, const std::string& to) override;
  jet::OsStatus realPath(const std::string& path, std::string& out) override;
  bool exists(const std::string& path) override;
  jet::OsStatus syncFolderOf(const std::string& path) override;
  std::string computerName() override { return powered_ ? "PRUEBA" : ""; }

  struct Node;
  // Records the change and calls before_change; false once the power is off.
  bool change(FileEvent event);
  uint64_t tick() { return ++clock_; }

 private:
  std::map<std::string, std::shared_ptr<Node>> names_;    // as programs see them
  std::map<std::string, std::shared_ptr<Node>> on_disk_;  // as of each folder's last sync
  std::vector<FileEvent> events_;
  uint64_t clock_ = 0;
  bool powered_ = true;
};

}  // namespace testsupport
