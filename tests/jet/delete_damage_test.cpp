// Deleting rows from files whose index pages are damaged: every delete either
// succeeds or ends in the engine's error, and an error takes the whole unit
// back, leaving the file byte for byte as it was (the sanitizer build runs
// this too, so a read or write out of bounds fails it).
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "format/usage_map.h"
#include "jet/database.h"
#include "jet/error.h"
#include "reader_test_util.h"
#include "support/shared_fixtures.h"

namespace {

namespace fs = std::filesystem;

// The pages of every index tree of the user tables, with the table's name.
std::vector<std::pair<uint32_t, std::string>> indexPages(const fs::path& file) {
  jet::Database db(file.string());
  std::vector<std::pair<uint32_t, std::string>> out;
  for (const std::string& name : db.tableNames()) {
    const jet::Table t = db.table(name);
    for (const jet::RealIndex& index : t.def().real_indexes) {
      for (uint32_t page : jet::readUsageMap(db.pages(), db.format(), index.used_map)) {
        out.emplace_back(page, name);
      }
    }
  }
  return out;
}

struct DamageRun {
  const char* file;
  int rounds;
};

void PrintTo(const DamageRun& r, std::ostream* os) {
  *os << r.file << " x" << r.rounds;
}

class DamagedIndexDelete : public ::testing::TestWithParam<DamageRun> {};

TEST_P(DamagedIndexDelete, EndsInTheEnginesErrorWithTheFileUntouched) {
  REQUIRE_FIXTURES();
  const fs::path dir = testsupport::scratchDir();
  const fs::path file = dir / "db.mdb";
  const DamageRun run = GetParam();
  fs::copy_file(testsupport::fixture(run.file), file);
  fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write);
  const std::vector<uint8_t> pristine = readertest::readFile(file);
  const std::vector<std::pair<uint32_t, std::string>> targets = indexPages(file);
  ASSERT_FALSE(targets.empty());
  const size_t page_size = jet::Database(file.string()).format().page_size;

  std::mt19937 rng(4242);
  auto pick = [&](size_t n) { return static_cast<size_t>(rng() % n); };
  size_t refused = 0, done = 0;
  for (int round = 0; round < run.rounds; ++round) {
    // One to four bytes of the index pages of one table, header or entries.
    std::vector<uint8_t> damaged = pristine;
    const auto& [page, table] = targets[pick(targets.size())];
    for (size_t k = 0, n = 1 + pick(4); k < n; ++k) {
      const size_t in_page = pick(2) ? pick(32) : pick(page_size);
      damaged[page * page_size + in_page] ^= static_cast<uint8_t>(1 + pick(255));
    }
    readertest::writeFile(file, damaged);
    SCOPED_TRACE("round " + std::to_string(round) + ", page " + std::to_string(page));

    bool failed = false;
    try {
      jet::Database db(file.string(), jet::OpenMode::ReadWrite);
      const jet::Table t = db.table(table);
      std::vector<jet::RowId> ids = t.rowIds();
      std::shuffle(ids.begin(), ids.end(), rng);
      db.begin();
      try {
        for (size_t i = 0; i < ids.size() && i < 12; ++i) db.deleteRow(t, ids[i]);
        db.commit();
        ++done;
      } catch (const jet::JetError&) {
        db.rollback();
        failed = true;
      }
    } catch (const jet::JetError&) {
      failed = true;  // damage seen on opening or reading
    } catch (const std::exception& e) {
      ADD_FAILURE() << "not the engine's error: " << e.what();
    }
    if (failed) {
      ++refused;
      EXPECT_TRUE(readertest::readFile(file) == damaged) << "a refused delete changed the file";
    }
    fs::remove(file.string() + "-journal");
  }
  std::printf("%s: %zu units committed, %zu ended in the engine's error\n", run.file, done,
              refused);
}

INSTANTIATE_TEST_SUITE_P(Files, DamagedIndexDelete,
                         ::testing::Values(DamageRun{"real/jet3/nwind.mdb", 25},
                                           DamageRun{"real/jet3/compIndexTestV1997.mdb", 120},
                                           DamageRun{"real/jet4/compIndexTestV2000.mdb", 120},
                                           DamageRun{"clientes/clientes-v2003-rel.mdb", 120}),
                         [](const ::testing::TestParamInfo<DamageRun>& info) {
                           std::string s = fs::path(info.param.file).stem().string();
                           for (char& c : s) {
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           }
                           return s;
                         });

}  // namespace
