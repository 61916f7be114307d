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
// must hold either its original bytes or the unit's (a disk writes a sector
// whole, but a page may be cut between sectors by a power cut): a copy of
// the database restored from a backup, with the old journal beside it,
// fails that test and is never written.
//
// Only a program holding the database's write lock plays a journal back or
// removes one; a journal of a live writer is only read.
#pragma once

#include <cstdint>
#include <map>
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

  // Whether a journal, finished or not, is there.
  bool exists();

  // The journal, checked whole: nullopt when there is none, or when its
  // unit ended (the journal could not be removed and was marked so).
  // Throws JetError 3343 naming both files when it is damaged.
  std::optional<JournalContents> read();

  // Throws JetError 3343 naming both files when the journal was not made
  // for this database file. With `every_page`, also checks that each
  // sector of each journaled page holds its original bytes or the unit's
  // (only while no other program can be writing the file).
  void checkBelongsTo(OsFile& database, const JournalContents& contents, bool every_page);

  // Puts the original pages back into the database file and gives it back
  // its size from before the unit, synced. Throws JetError 3051 naming the
  // database when a page cannot be written or the size or sync fails.
  void playBack(OsFile& database, const JournalContents& contents);

  // Ends the journal after its unit is done: removes it and syncs the
  // folder; when it cannot be removed, marks its header as ended and syncs
  // it, so that it is never played back. Throws JetError 3051 naming the
  // journal only when neither works.
  void retire();

  // Removes a journal never finished (only under its temporary name).
  void removeUnfinished();

 private:
  [[noreturn]] void damaged(const std::string& why) const;

  Os* os_;
  std::string shown_path_;
  std::string path_;
  std::string unfinished_path_;
};

}  // namespace jet
