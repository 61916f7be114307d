#include "fuzz_target.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include "format/catalog.h"
#include "index/index_lookup.h"
#include "jet/checker.h"
#include "jet/database.h"
#include "jet/error.h"

namespace {

namespace fs = std::filesystem;

// One folder per process, so that parallel runs never share a file; gone
// when the process ends.
fs::path workDirName() {
  return fs::temp_directory_path() / ("jet-fuzz-" + std::to_string(getpid()));
}

const fs::path& workDir() {
  static const fs::path dir = [] {
    fs::create_directories(workDirName());
    std::atexit([] {
      std::error_code ignored;
      fs::remove_all(workDirName(), ignored);
    });
    return workDirName();
  }();
  return dir;
}

void writeInput(const fs::path& file, const uint8_t* data, size_t size) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

// Every row of every table the catalog lists, system tables included, with
// the tables' properties, the relationships and the lookups by key: all
// that a read can reach.
void readEverything(const jet::Database& db) {
  db.relationships();
  for (const jet::CatalogEntry& e : db.catalog()) {
    if (e.type != jet::CatalogEntry::kLocalTable) continue;
    try {
      const jet::Table t = db.table(e.name);
      db.properties(e.name);
      const std::vector<jet::RowId> ids = t.rowIds();
      for (jet::RowId id : ids) t.readRow(id);
      // The lookups the purge and the relationships use, on each key-like
      // column, built from the column's index or from its rows.
      for (size_t c = 0; c < t.def().columns.size() && !ids.empty(); ++c) {
        if (t.def().columns[c].isWholeNumber()) db.lookup(t, c).find(t.read(ids.front(), c));
      }
    } catch (const jet::JetError&) {
      // One damaged table; the others are read all the same.
    }
  }
}

// The first live row of every user table, deleted in one unit of work, as
// the purge deletes: indexes, long values, cascades, the row counts.
void deleteFirstRows(jet::Database& db) {
  db.begin();
  try {
    for (const std::string& name : db.tableNames()) {
      const jet::Table t = db.table(name);
      const std::vector<jet::RowId> ids = t.rowIds();
      if (!ids.empty() && t.isLive(ids.front())) db.deleteRow(t, ids.front());
    }
    db.commit();
  } catch (...) {
    if (db.inUnit()) db.rollback();
    throw;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const fs::path file = workDir() / "fuzz.mdb";
  writeInput(file, data, size);
  try {
    const jet::Database db(file.string());
    readEverything(db);
    jet::checkDatabase(db);
  } catch (const jet::JetError&) {
  }
  // The file is a copy of the input, so the delete may change it.
  try {
    jet::Database db(file.string(), jet::OpenMode::ReadWrite);
    deleteFirstRows(db);
  } catch (const jet::JetError&) {
  }
  std::error_code ignored;
  fs::remove(file, ignored);
  fs::remove(workDir() / "fuzz.mdb-journal", ignored);
  fs::remove(workDir() / "fuzz.ldb", ignored);
  return 0;
}
