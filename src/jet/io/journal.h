// The rollback journal: before a unit of work changes the database file, the
// original bytes of every page it will overwrite are written, and synced, to
// "<file>-journal". A journal left behind by an interrupted write is played
// back before the file is read again, so a unit of work happens whole or not
// at all, even across a crash.
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
  uint64_t file_size = 0;  // the database file's size before the unit of work
  std::map<uint32_t, std::vector<uint8_t>> pages;  // original bytes by page number
};

std::string journalPath(const std::string& database_path);

// The journal of one database file.
class Journal {
 public:
  Journal(Os& os, const std::string& database_path);

  const std::string& path() const { return path_; }

  // Writes and syncs the journal, then its folder; throws JetError 3051
  // naming the journal when it cannot (and leaves none behind).
  void write(const JournalContents& contents);

  // A complete journal; nullopt when there is none, or when it was cut
  // short (then the database file was never touched, since the file is only
  // written after the journal is synced).
  std::optional<JournalContents> read();
  bool exists();

  // Puts the original pages back into the database file and gives it back
  // its size from before the unit, synced. Throws JetError 3051 naming the
  // database when a page cannot be written or the size or sync fails.
  void playBack(OsFile& database, const JournalContents& contents);

  // Removes the journal (and syncs the folder): the unit of work is done.
  void remove();

 private:
  Os* os_;
  std::string database_path_;
  std::string path_;
};

}  // namespace jet
