// The rollback journal: before a unit of work changes the database file, the
// original bytes of every page it will overwrite are written and synced to
// "<file>-journal~", which is then renamed to "<file>-journal" and its
// folder synced; only then is the database file written. So a journal under
// its own name is always whole when it was made, and any journal found
// there belongs to a unit that may have touched the file: it is played back
// whole, or, when it cannot be (damaged, or made for another file), every
// open stops with 3343 and both files are left as they are. A journal left
// under the temporary name was never finished, and the file was never
// touched: it is simply removed.
//
// The journal says which file it belongs to by what no unit changes: the
// CRC of page 0 (the engine never writes it in place) and the file's size
// before the unit (a unit only adds pages, so the file is never shorter
// after a crash). Each record also carries the CRC of every 512-byte sector
// of the page as the unit writes it, so every sector of a journaled page
// must hold either its original bytes or one of the unit's versions (a disk
// writes a sector whole, but a page may be cut between sectors by a power
// cut): a copy of the database restored from a backup, with the old journal
// beside it, fails that test and is never written.
//
// A unit whose changed pages outgrow memory writes some of them before its
// commit: their originals are appended to the journal in a batch, synced,
// and only then counted in the header (synced again) and the pages written.
// A page written again later in the unit gets a record of its new sectors'
// CRCs alone. Records past the header's count belong to a batch cut short
// before any page it covers was written, and are ignored; a record within
// the count that does not check stops the open as above.
//
// Only a program holding the database's write lock plays a journal back or
// removes one; a journal of a live writer is only read.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "io/os.h"

namespace jet {

struct JournalContents {
  size_t page_size = 0;
  uint64_t file_size = 0;       // the database file's size before the unit of work
  uint32_t first_page_crc = 0;  // of page 0 as stored in the file
  std::map<uint32_t, std::vector<uint8_t>> pages;  // original bytes by page number
  // The CRC of each sector of each page as the unit wrote it (sectorCrcs).
  std::map<uint32_t, std::vector<uint32_t>> written_crc;
};

// One record of a batch: the page's original bytes (null for a page whose
// original is already in the journal) and the CRC of each sector of the
// bytes about to be written in place.
struct JournalRecord {
  uint32_t page = 0;
  const uint8_t* original = nullptr;
  std::vector<uint32_t> written_crc;
};

// A journal as read back: where each original lies in the journal file,
// and the sector CRCs of later writes, without the pages themselves (the
// journal of a large unit is far larger than memory).
struct JournalIndex {
  size_t page_size = 0;
  uint64_t file_size = 0;
  uint32_t first_page_crc = 0;
  uint32_t nonce = 0;
  std::vector<std::pair<uint32_t, uint64_t>> originals;  // page, offset of its record
  std::map<uint32_t, std::vector<uint32_t>> rewritten;   // page: CRCs of later versions
};

std::string journalPath(const std::string& database_path);
// Where the journal is written before it is complete.
std::string unfinishedJournalPath(const std::string& database_path);

// CRC-32 (IEEE), as the journal uses it for pages.
uint32_t journalCrc(const uint8_t* data, size_t n, uint32_t crc = 0);
// The CRC of each 512-byte sector of a page.
std::vector<uint32_t> sectorCrcs(const uint8_t* page, size_t page_size);

// The journal of one database file.
class Journal {
 public:
  // `database_path` is the file's real path (journals are named after it);
  // `shown_path` is how errors name the database.
  Journal(Os& os, const std::string& database_path, const std::string& shown_path);

  const std::string& path() const { return path_; }

  // Writes and syncs the journal under its temporary name, renames it and
  // syncs the folder. Throws JetError 3051 naming the file that failed (and
  // leaves no journal behind).
  void write(const JournalContents& contents);

  // A unit's journal, written in batches: begin remembers what the header
  // says; each append makes its records durable before it returns (the
  // first as write does, the later ones appended, synced and then counted).
  // A failed first batch leaves no journal; a failed later one leaves the
  // journal as its earlier batches made it. Throws JetError 3051 naming the
  // journal.
  void begin(size_t page_size, uint64_t file_size, uint32_t first_page_crc);
  void append(const std::vector<JournalRecord>& records);
  // Where the current unit's originals lie, for playBack whatever the
  // journal's header says now (it may have been marked as ended).
  const JournalIndex& unit() const { return unit_; }

  // Whether a journal, finished or not, is there.
  bool exists();

  // The journal, checked whole: nullopt when there is none, or when its
  // unit ended (the journal could not be removed and was marked so).
  // Throws JetError 3343 naming both files when it is damaged. Each
  // original goes to `original` as it is read, when given.
  using PageFn = std::function<void(uint32_t page, const uint8_t* bytes, size_t size)>;
  std::optional<JournalIndex> read(const PageFn& original = {});

  // Throws JetError 3343 naming both files when the journal was not made
  // for this database file. With `every_page`, also checks that each
  // sector of each journaled page holds its original bytes or one of the
  // unit's versions (only while no other program can be writing the file).
  void checkBelongsTo(OsFile& database, const JournalIndex& index, bool every_page);

  // Puts the original pages back into the database file and gives it back
  // its size from before the unit, synced. Each original also goes to
  // `put_back`, when given, saying whether the file got it: after a failed
  // write the rest are still read, though no longer written. Throws
  // JetError 3051 naming the database when a page cannot be written or the
  // size or sync fails (the journal's name when it cannot be read).
  using PutBackFn = std::function<void(uint32_t page, const uint8_t* bytes, bool in_file)>;
  void playBack(OsFile& database, const JournalIndex& index, const PutBackFn& put_back = {});

  // Ends the journal after its unit is done: removes it and syncs the
  // folder; when it cannot be removed, marks its header as ended and syncs
  // it, so that it is never played back. Throws JetError 3051 naming the
  // journal only when neither works.
  void retire();

  // Removes a journal never finished (only under its temporary name).
  void removeUnfinished();

 private:
  [[noreturn]] void damaged(const std::string& why) const;
  std::vector<uint8_t> header(uint32_t count) const;
  void appendRecord(std::vector<uint8_t>& out, const JournalRecord& record) const;
  void firstBatch(const std::vector<JournalRecord>& records);
  void laterBatch(const std::vector<JournalRecord>& records);
  // The whole record of an original at `offset`, its CRC checked again.
  void readRecord(OsFile& journal, const JournalIndex& index, uint64_t offset,
                  std::vector<uint8_t>& record) const;

  Os* os_;
  std::string shown_path_;
  std::string path_;
  std::string unfinished_path_;
  // The current unit's journal: its header, and how much of it is counted.
  size_t page_size_ = 0;
  uint64_t file_size_ = 0;
  uint32_t first_page_crc_ = 0;
  uint32_t nonce_ = 0;
  uint32_t records_ = 0;
  uint64_t end_ = 0;
  JournalIndex unit_;
};

}  // namespace jet
