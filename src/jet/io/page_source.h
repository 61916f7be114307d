// The file's pages by number: the only code that reads or writes the
// database file. Pages are read whole, checked against the file's size and
// cached. Changes are made in units of work: a page is copied before its
// first change, and at commit the originals go to the rollback journal
// before the changed pages go to the file. The file, the journal and the
// lock file are reached through the operating-system layer (io/os.h).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "format/bytes.h"
#include "io/journal.h"
#include "io/lock_file.h"
#include "io/os.h"
#include "jet/types.h"

namespace jet {

class PageSource {
 public:
  // Opens the file. Throws JetError 3024 when it does not exist, 3051 when
  // it cannot be opened (3051 also when it cannot be opened for writing in
  // ReadWrite mode). A journal left by an interrupted write is played back
  // first when the write lock can be had (ReadWrite), and otherwise read
  // through, the file left alone: it may be the journal of a program
  // writing now. A journal that cannot be played back throws 3343 naming
  // both files. The journal and the lock file are named after the file's
  // real path, every symbolic link followed. Every call to the system goes
  // to `os`, which must outlive the page source.
  PageSource(std::string path, OpenMode mode = OpenMode::ReadOnly, Os& os = systemOs());
  ~PageSource();
  PageSource(const PageSource&) = delete;
  PageSource& operator=(const PageSource&) = delete;

  const std::string& path() const { return path_; }
  uint64_t fileSize() const { return file_size_; }
  bool writable() const { return mode_ == OpenMode::ReadWrite; }

  // Reads `count` bytes at the start of the file (for the header).
  std::vector<uint8_t> readPrefix(size_t count) const;

  // Fixes the page size once the header has been read.
  void setPageSize(size_t page_size);
  size_t pageSize() const { return page_size_; }
  uint32_t pageCount() const { return page_count_; }

  // The whole page, as the current unit of work has left it. Throws a
  // format error when the page lies outside the file.
  ByteView page(uint32_t number) const;

  // Replaces the cached copy of a page (page 0 is kept unmasked).
  void setPage(uint32_t number, std::vector<uint8_t> bytes);

  // A reader that goes through more of the file than memory should hold
  // (the file checker) forgets the pages read so far from time to time; it
  // must hold no view of a page when it does. Inside a unit of work nothing
  // is forgotten (changed pages live only here until the commit), nor are
  // the pages a hot journal gives.
  void releaseReadPages() const;
  // Pages read from the file and held now, and the most held at once.
  size_t readPagesHeld() const { return read_.size(); }
  size_t peakReadPagesHeld() const { return peak_read_; }

  // Units of work. begin takes the write lock (3045 when another program
  // holds it), plays back a journal a crashed writer left, and checks that
  // no other program changed the file since it was read (3197). The lock
  // is let go when the unit ends, unless held across units.
  void beginUnit();
  // Holds the write lock until as many releaseWriteLock calls, so that no
  // other program writes between this caller's units. Throws as beginUnit.
  void holdWriteLock();
  void releaseWriteLock();
  bool inUnit() const { return in_unit_; }
  // A page to change; only inside a unit, never page 0.
  uint8_t* writablePage(uint32_t number);
  // A new zero-filled page at the end of the file, inside a unit. The
  // journal keeps the file's size from before the unit, so a rollback, or
  // the playback of the journal after a crash, shortens the file again.
  uint32_t appendPage();
  // Writes the unit's pages durably; on failure nothing of the unit stays.
  void commitUnit();
  // Forgets the unit's changes.
  void rollbackUnit();
  // A savepoint inside the open unit (replacing the previous one):
  // rollbackToSavepoint puts back every page changed since, as it was at
  // the savepoint, and leaves the unit open.
  void savepoint();
  void rollbackToSavepoint();

 private:
  FileIdentity currentIdentity() const;
  void takeWriteLock();
  void endOfUnitLock();
  void recoverJournal();
  void readThroughJournal();
  uint32_t firstPageCrc() const;
  void writeChangedPages(const std::map<uint32_t, std::vector<uint8_t>>& pages);
  void forgetJournaled(const std::map<uint32_t, std::vector<uint8_t>>& pages);
  void clearSavepoint();
  void dropPagesFrom(uint32_t count);

  std::string path_;
  std::string real_path_;  // every symbolic link followed
  OpenMode mode_;
  std::unique_ptr<OsFile> file_;
  Journal journal_;
  uint64_t file_size_ = 0;
  size_t page_size_ = 0;
  uint32_t page_count_ = 0;
  mutable std::vector<std::unique_ptr<uint8_t[]>> cache_;
  mutable std::vector<uint32_t> read_;  // pages page() read from the file, still cached
  mutable size_t peak_read_ = 0;
  std::optional<JournalContents> read_through_;  // a hot journal seen read-only
  FileIdentity identity_;
  bool in_unit_ = false;
  std::map<uint32_t, std::vector<uint8_t>> originals_;  // of the pages the unit changed
  std::vector<bool> in_journal_;                        // by page: listed in originals_
  uint32_t unit_page_count_ = 0;                        // pages when the unit began
  bool savepoint_set_ = false;
  uint32_t savepoint_page_count_ = 0;
  std::map<uint32_t, std::vector<uint8_t>> at_savepoint_;  // pages changed since, as they were
  std::vector<bool> in_savepoint_;                         // by page: listed in at_savepoint_
  LockFile lock_;
  int lock_holds_ = 0;
};

}  // namespace jet
