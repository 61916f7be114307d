#include "support/write_protocol.h"

#include "io/journal.h"

namespace testsupport {

namespace {

std::string folderOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

}  // namespace

std::vector<std::string> writeProtocolBreaches(const std::vector<FileEvent>& events,
                                               const std::string& database) {
  const std::string journal = jet::journalPath(database);
  // The journal may be written under another name and renamed once synced.
  const std::string unfinished = jet::unfinishedJournalPath(database);
  // Idle: no unit under way. Journaled: the journal is being written.
  // Writing: pages of the database have been written since.
  enum class Phase { Idle, Journaled, Writing } phase = Phase::Idle;
  bool journal_unsynced = false;  // written since its last sync
  bool name_unsynced = false;     // the journal created or removed since its folder's sync
  bool database_unsynced = false;
  bool uncounted =
      false;  // records appended under the journal's own name, header not written since
  std::vector<std::string> out;
  for (size_t i = 0; i < events.size(); ++i) {
    const FileEvent& e = events[i];
    const bool on_journal = e.path == journal || e.path == unfinished;
    const bool on_database = e.path == database;
    auto breach = [&](const std::string& rule) {
      out.push_back("call " + std::to_string(i + 1) + ", " + opName(e.op) +
                    (on_journal ? " journal" : " database") + ": " + rule);
    };
    // The journal closed: removed, or changed once pages were written.
    auto closing = [&] {
      if (phase != Phase::Writing) return;
      if (database_unsynced) breach("the journal goes before the database was synced");
      phase = Phase::Idle;
    };
    switch (e.op) {
      case OsOp::Open:
        if (!on_journal) break;
        closing();
        if (e.created) name_unsynced = true;
        journal_unsynced = true;
        break;
      case OsOp::Write:
      case OsOp::Truncate:
        if (on_journal) {
          closing();
          if (phase == Phase::Idle && e.op == OsOp::Write) phase = Phase::Journaled;
          journal_unsynced = true;
          if (e.op == OsOp::Write && e.path == journal) uncounted = e.offset > 0;
        } else if (on_database) {
          // Checked at a unit's first page write: until the unit is closed,
          // the journal cannot change without closing it.
          if (phase == Phase::Idle) {
            breach("a page is written with no journal");
          } else if (phase == Phase::Journaled) {
            if (journal_unsynced) breach("a page is written before the journal was synced");
            if (name_unsynced) breach("a page is written before the journal's folder was synced");
            if (uncounted)
              breach("a page is written before the journal's header counted its records");
          }
          phase = Phase::Writing;
          database_unsynced = true;
        }
        break;
      case OsOp::Sync:
        if (on_journal) journal_unsynced = false;
        if (on_database) database_unsynced = false;
        break;
      case OsOp::Remove:
        if (!on_journal) break;
        closing();
        phase = Phase::Idle;
        name_unsynced = true;
        break;
      case OsOp::Rename:
        // The synced journal takes its name: a name the folder must keep.
        if (e.path != journal) break;
        closing();
        name_unsynced = true;
        break;
      case OsOp::SyncFolder:
        if (folderOf(e.path) == folderOf(journal)) name_unsynced = false;
        break;
      default:
        break;
    }
  }
  return out;
}

}  // namespace testsupport
