// The file's pages by number: the only code that reads or writes the
// database file. Pages are read whole, checked against the file's size and
// cached. Changes are made in units of work: a page is copied before its
// first change, and at commit the originals go to the rollback journal
// before the changed pages go to the file. The file, the journal and the
// lock file are reached through the operating-system layer (io/os.h).
//
// The cache has a limit (about 28 MB of pages unless set), because a purge
// reads and changes more of a large file than the computer may hold:
// - Views are plain pointers, so a page is only ever dropped while nothing
//   can be looking at it. A page is pinned while a Scope that touched it is
//   open; operations that hand out no view (reading a value, scanning a
//   table page by page, deleting a row) open one, so their pages go when
//   they end. A page touched with no scope open stays until
//   releaseReadPages: its view may be kept for as long as the caller likes,
//   as before the cache had a limit. The cache is brought back under its
//   limit only when a scope opens, never in the middle of an operation.
// - Clean pages go first, least recently used first.
// - When changed pages alone outgrow the limit inside a unit, most of them
//   are written before the commit ("spilled"), as SQLite does: their
//   originals are appended to the journal and synced first, so a crash or a
//   rollback still puts the file back whole; the originals then leave
//   memory, and the pages, clean again, may go. A spill writes many pages
//   at once so that a run syncs only now and then; the most recently used
//   changed pages stay, being the likeliest to change again.
// - A page written before the commit and changed again is written again at
//   the next spill or at the commit, its new sectors recorded in the
//   journal first, so that recovery still tells a torn page from a foreign
//   file.
// - The pages as they were at the savepoint stay in memory (a client's
//   worth), so a savepoint is taken back without reading the journal.
// - Another program reading the file without the write lock may see pages
//   a spill wrote before their unit's commit, as it may see a commit half
//   done: only the write lock orders programs, and a reader that finds the
//   journal reads through it.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
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
  // format error when the page lies outside the file. The view lasts while
  // the innermost scope open when it was taken is open; taken with none
  // open, until releaseReadPages.
  ByteView page(uint32_t number) const;

  // Replaces the cached copy of a page (page 0 is kept unmasked).
  void setPage(uint32_t number, std::vector<uint8_t> bytes);

  // Pins the pages touched while it lives (see above). Opening one first
  // brings the cache under its limit: by dropping clean pages, and, for a
  // scope opened on a page source that may be changed (an operation that
  // changes pages), by spilling changed ones too. A spill throws as
  // commitUnit does; the unit is then over, rolled back.
  class Scope {
   public:
    explicit Scope(const PageSource& src);
    explicit Scope(PageSource& src);
    ~Scope();
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

   private:
    PageSource* src_;
  };

  // The most pages the cache holds between operations (changed pages and
  // the originals not yet journaled included); 0 lifts the limit.
  void setCacheLimit(size_t pages);
  size_t cacheLimit() const { return limit_; }

  // A reader that goes through more of the file than memory should hold
  // (the file checker) forgets the pages read so far from time to time; it
  // must hold no view of a page touched outside a scope when it does.
  // Changed pages, and the pages a hot journal gives, stay.
  void releaseReadPages() const;
  // Pages held now (apart from page 0 and a hot journal's), and the most
  // held at once.
  size_t readPagesHeld() const { return resident_; }
  size_t peakReadPagesHeld() const { return peak_resident_; }
  // Pages written before their unit's commit so far, in how many spills.
  uint64_t spilledPages() const { return spilled_pages_; }
  uint64_t spills() const { return spills_; }

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
  // Whether the open unit changed a page yet.
  bool hasChanges() const { return !changed_.empty(); }
  // Grows whenever a page may have changed (a page given to change, taken
  // back or played back from a journal): what was read from the pages
  // under an equal count still holds.
  uint64_t changeCount() const { return change_count_; }
  // A page to change; only inside a unit, never page 0.
  uint8_t* writablePage(uint32_t number);
  // A new zero-filled page at the end of the file, inside a unit. The
  // journal keeps the file's size from before the unit, so a rollback, or
  // the playback of the journal after a crash, shortens the file again.
  uint32_t appendPage();
  // Writes the unit's pages durably; on failure nothing of the unit stays.
  // After a failed spill, throws 3051 (the unit is already rolled back).
  void commitUnit();
  // Forgets the unit's changes, and puts back the pages a spill wrote.
  void rollbackUnit();
  // A savepoint inside the open unit (replacing the previous one):
  // rollbackToSavepoint puts back every page changed since, as it was at
  // the savepoint, and leaves the unit open.
  void savepoint();
  void rollbackToSavepoint();
  // Forgets the savepoint and the pages kept as they were at it. The commit
  // does so before its own changes: they are the unit's last, never taken
  // back to a savepoint, and a commit that changes most of a large file
  // would otherwise keep a copy of every page it changes.
  void releaseSavepoint() { clearSavepoint(); }

 private:
  // What is known about each page of the file.
  enum : uint8_t {
    kHeld = 1,        // touched with no scope open: stays until releaseReadPages
    kKept = 2,        // given by setPage: not the file's bytes, never dropped
    kDirty = 4,       // changed since the file last got it
    kSaved = 8,       // its original is kept for the unit (memory or journal)
    kInJournal = 16,  // that original is in the journal file
    kAtSavepoint = 32,
  };
  struct Slot {
    std::unique_ptr<uint8_t[]> bytes;
    uint32_t pins = 0;   // by open scopes
    uint32_t used = 0;   // when last touched, in scopes opened
    uint32_t scope = 0;  // the innermost scope that pinned it
    uint8_t flags = 0;
  };

  FileIdentity currentIdentity() const;
  void takeWriteLock();
  void endOfUnitLock();
  void recoverJournal();
  void readThroughJournal();
  uint32_t firstPageCrc() const;
  void clearSavepoint();
  void dropPagesFrom(uint32_t count);
  void touch(uint32_t number) const;
  uint8_t* load(uint32_t number) const;
  // A page buffer, a dropped page's when there is one.
  uint8_t* buffer() const;
  void drop(uint32_t number) const;
  void openScope(bool may_write);
  void closeScope();
  void settle(bool may_write);
  void evictClean(size_t target) const;
  // Journals (appending) and writes the changed pages listed, in page order.
  void writePages(const std::vector<uint32_t>& pages);
  void spill();
  // Puts back what the unit wrote, from the journal, then retires it; the
  // journal stays when that fails.
  void putBackFromJournal();
  // Forgets what the unit changed, once committed or put back.
  void endUnit();

  std::string path_;
  std::string real_path_;  // every symbolic link followed
  OpenMode mode_;
  std::unique_ptr<OsFile> file_;
  Journal journal_;
  uint64_t file_size_ = 0;
  size_t page_size_ = 0;
  uint32_t page_count_ = 0;
  mutable std::vector<Slot> slots_;
  mutable std::vector<std::unique_ptr<uint8_t[]>> spare_;  // buffers of dropped pages
  mutable uint32_t next_in_order_ = 0;                     // the page after the last read
  mutable std::vector<uint8_t> ahead_;                     // pages read in one go
  mutable size_t resident_ = 0;  // pages held, page 0 and a hot journal's apart
  mutable size_t peak_resident_ = 0;
  size_t limit_ = 0;      // pages; 0 until the page size is known
  size_t limit_set_ = 0;  // asked for by setCacheLimit (0: default)
  bool limit_asked_ = false;
  struct OpenScope {
    uint32_t id;
    size_t mark;  // where its pins start in pinned_
  };
  std::vector<OpenScope> scopes_;
  mutable std::vector<uint32_t> pinned_;  // pages pinned by open scopes, innermost last
  uint32_t scopes_opened_ = 0;
  // A hot journal seen read-only: the originals, the page size and the
  // file's size before its unit.
  std::map<uint32_t, std::vector<uint8_t>> read_through_;
  size_t read_through_page_size_ = 0;
  uint64_t read_through_file_size_ = 0;
  bool has_read_through_ = false;
  FileIdentity identity_;
  bool in_unit_ = false;
  uint64_t change_count_ = 0;
  bool unit_failed_ = false;                            // a spill failed: the unit was rolled back
  std::map<uint32_t, std::vector<uint8_t>> originals_;  // not yet in the journal
  std::vector<uint32_t> changed_;                       // pages the unit changed
  std::set<uint32_t> journaled_beyond_;  // added, spilled, then taken back to a savepoint
  uint32_t unit_page_count_ = 0;         // pages when the unit began
  bool journaled_ = false;               // a batch of the unit reached the journal
  uint64_t written_end_ = 0;             // the end of the last page a spill wrote
  bool savepoint_set_ = false;
  uint32_t savepoint_page_count_ = 0;
  std::map<uint32_t, std::vector<uint8_t>> at_savepoint_;  // pages changed since, as they were
  uint64_t spilled_pages_ = 0;
  uint64_t spills_ = 0;
  LockFile lock_;
  int lock_holds_ = 0;
};

}  // namespace jet
