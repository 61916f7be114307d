// The file checker: every rule a sound Access file keeps, checked on an open
// database, for the user tables and the system tables alike.
//
// Data pages: the free-space count adds up, row slots lie inside the page
// and do not overlap, the owner is a table, a usage-map page or a long-value
// page. Tables: the stored row count equals the live rows, every deleted
// slot carries both deletion bits, a moved row points at an overflow part of
// the same table, the usage maps list exactly the table's data pages (the
// free-space map a part of them), long values lie on pages their column's
// map lists and every long-value row there belongs to a live row, the
// autonumber counter is not below any value. Indexes: the
// tree's pages, their headers, order and sibling links, node entries equal
// to their child's last entry, the index's usage map equal to the tree, and
// one entry per live row with the key the row's values give. The global
// page map frees no page in use (a page it cannot name is not free). Every
// table of the catalog has a readable definition, and no row breaks an
// enforced relationship.
//
// The file is read a page at a time: the checker keeps a few bytes per page
// and lets go of the pages it has read, so a file far larger than memory is
// checked in little of it.
//
// What Access itself leaves that looks wrong but is not damage is tolerated
// where it is checked, and named there.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace jet {

class Database;

// One finding: the structure (a table, an index, a relationship, the global
// page map...), the page when one page is at fault (0 when none) and what
// is wrong, in Spanish.
struct CheckProblem {
  std::string where;
  uint32_t page = 0;
  std::string message;

  // "tabla 'Pedidos', página 12: ...".
  std::string text() const;
};

struct CheckReport {
  // Damage. Past a hundred findings on one structure only their number is
  // kept (in `suppressed`, by structure).
  std::vector<CheckProblem> problems;
  std::map<std::string, size_t> suppressed;
  // What could not be checked, and what Access leaves that the checker
  // tolerates (a system table's lagging row count, a key the encoder has no
  // rule for): not damage.
  std::vector<CheckProblem> notes;

  size_t tables = 0;         // tables checked (user and system)
  size_t rows = 0;           // live rows read
  size_t indexes = 0;        // real indexes walked
  size_t index_entries = 0;  // leaf entries checked
  size_t pages = 0;          // pages in the file

  size_t problemCount() const;
  bool ok() const { return problemCount() == 0; }
};

// Checks the whole file. Never throws for damage: an unreadable structure is
// a problem of the report, and the checks that do not depend on it go on.
// Outside a unit of work the database forgets the pages read on the way, so
// a view of a page taken before the call must not be used after it.
CheckReport checkDatabase(const Database& db);

}  // namespace jet
