// The order a unit of work's calls must keep so that a crash at any point
// leaves a file the journal can put right, written as rules over the calls
// a run made rather than as one expected sequence, so that the journal may
// gain writes, syncs or another way of being closed without the rules
// changing:
// - before a page of the database is written, the journal holding the
//   originals is written and synced, and, when the journal was created,
//   renamed into place (or one removed) since, its folder is synced too;
// - records appended to a journal already under its own name (a unit that
//   writes pages before its commit) are counted by a write of its header
//   before a page is written: records past the count are ignored by
//   recovery;
// - the database is synced before its journal is removed or invalidated
//   (written again once pages of the database were written).
#pragma once

#include <string>
#include <vector>

#include "support/crash_os.h"

namespace testsupport {

// The rules `events` break for the database at `database` (its journal
// beside it), one line each ("call 12, write database: ..."); empty when it
// keeps them all.
std::vector<std::string> writeProtocolBreaches(const std::vector<FileEvent>& events,
                                               const std::string& database);

}  // namespace testsupport
