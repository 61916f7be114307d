// jetsql: runs one statement of the engine's SQL on an Access database.
//   jetsql FILE "SELECT * FROM table [WHERE condition]"
//       the selected rows, one JSON object a line (as jetdump --json)
//   jetsql FILE "DELETE [*] FROM table [WHERE condition]"
//       deletes the selected rows as Access does, all or none, and prints
//       how many it deleted
//   jetsql --cache-pages N FILE "..."
//       the same, keeping at most N pages of the file in memory (0: no
//       limit); a DELETE whose changes outgrow them writes some before its
//       commit, through the journal
// Exit status 0 on success, 1 on an error (printed on stderr, in Spanish;
// a failed DELETE leaves the file as it was), 2 on a usage error.
#include <iostream>
#include <optional>
#include <string>
#include <string_view>

#include "jet/database.h"
#include "jet/error.h"
#include "jet/query.h"
#include "row_json.h"

namespace {

int usage() {
  std::cerr << "uso: jetsql [--cache-pages N] ARCHIVO \"SELECT * FROM tabla [WHERE condición]\"\n"
               "     jetsql [--cache-pages N] ARCHIVO \"DELETE FROM tabla [WHERE condición]\"\n";
  return 2;
}

std::optional<size_t> cache_pages;

void limitCache(jet::Database& db) {
  if (cache_pages) db.setCacheLimit(*cache_pages);
}

int runSelect(const std::string& path, const std::string& statement) {
  const jet::Query query = jet::parseQuery(statement);
  jet::Database db(path);
  limitCache(db);
  const jet::BoundQuery bound = jet::bind(query, db);
  std::string line;
  for (jet::RowId id : jet::select(bound)) {
    line = tools::rowToJson(bound.table.def(), bound.table.readRow(id));
    line.push_back('\n');
    std::cout.write(line.data(), static_cast<std::streamsize>(line.size()));
  }
  std::cout.flush();
  return std::cout ? 0 : 1;
}

int runDelete(const std::string& path, const std::string& statement) {
  const jet::Query query = jet::parseDelete(statement);
  jet::Database db(path, jet::OpenMode::ReadWrite);
  limitCache(db);
  const jet::BoundQuery bound = jet::bind(query, db);
  db.requireDeletable(bound.table);  // refused even when no row matches
  const std::vector<jet::RowId> rows = jet::select(bound);
  size_t deleted = 0;
  db.begin();
  try {
    for (jet::RowId id : rows) {
      // A relationship that cascades may already have taken the row.
      if (!bound.table.isLive(id)) continue;
      db.deleteRow(bound.table, id);
      ++deleted;
    }
    db.commit();
  } catch (...) {
    if (db.inUnit()) db.rollback();
    throw;
  }
  std::cout << deleted << (deleted == 1 ? " fila eliminada\n" : " filas eliminadas\n");
  std::cout.flush();
  return std::cout ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  int at = 1;
  if (argc == 5 && std::string_view(argv[1]) == "--cache-pages") {
    const std::string n = argv[2];
    if (n.empty() || n.find_first_not_of("0123456789") != std::string::npos || n.size() > 9) {
      return usage();
    }
    cache_pages = std::stoul(n);
    at = 3;
  } else if (argc != 3) {
    return usage();
  }
  const std::string path = argv[at];
  const std::string statement = argv[at + 1];
  try {
    return jet::statementKind(statement) == jet::StatementKind::Delete ? runDelete(path, statement)
                                                                       : runSelect(path, statement);
  } catch (const jet::JetError& e) {
    std::cerr << "jetsql: Error " << e.number() << ": " << e.what() << "\n";
    return 1;
  } catch (const std::exception& e) {
    std::cerr << "jetsql: " << e.what() << "\n";
    return 1;
  }
}
