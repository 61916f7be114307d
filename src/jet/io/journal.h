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

namespace jet {

struct JournalContents {
  size_t page_size = 0;
  uint64_t file_size = 0;  // the database file's size before the unit of work
  std::map<uint32_t, std::vector<uint8_t>> pages;  // original bytes by page number
};

std::string journalPath(const std::string& database_path);

// Writes and syncs the journal; throws JetError 3051 naming the journal when it cannot.
void writeJournal(const std::string& database_path, const JournalContents& contents);

// Reads a complete journal; nullopt when there is none, or when it was cut
// short (then the database file was never touched, since the file is only
// written after the journal is synced).
std::optional<JournalContents> readJournal(const std::string& database_path);

// Removes the journal (and syncs the folder): the unit of work is done.
void removeJournal(const std::string& database_path);

}  // namespace jet
