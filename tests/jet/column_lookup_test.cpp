// Index lookups (the rows of one column by value) against a plain reading
// of every row: every whole-number and text column of every user table of
// the real files (values in any order, negative, repeated, null; built from
// the column's own index where it has one, else from the rows), questions
// no row answers, and rows forgotten one by one as deletes forget them.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "format/data_page.h"
#include "index/index_lookup.h"
#include "index/index_walk.h"
#include "jet/creator.h"
#include "jet/database.h"
#include "jet/error.h"
#include "reader_test_util.h"
#include "support/shared_fixtures.h"

namespace {

using jet::RowId;
using jet::Value;

bool lookupKind(jet::ColumnType t) {
  return t == jet::ColumnType::Byte || t == jet::ColumnType::Integer ||
         t == jet::ColumnType::Long || t == jet::ColumnType::Text;
}

// The rows of each value, in scan order, by the lookup's own notion of equality.
std::map<std::string, std::vector<RowId>> byValue(const jet::Table& t, size_t column,
                                                  std::map<std::string, Value>& sample) {
  std::map<std::string, std::vector<RowId>> out;
  t.scan([&](RowId id) {
    const Value v = t.read(id, column);
    if (std::optional<std::string> key = jet::equalityKey(v)) {
      out[*key].push_back(id);
      sample.emplace(*key, v);
    }
  });
  return out;
}

TEST(ColumnLookups, AnswerAsAScanWouldAndForgetDeletedRows) {
  REQUIRE_FIXTURES();
  size_t columns = 0, unsorted = 0, from_index = 0, descending = 0;
  for (const auto& file : testsupport::allFixtures()) {
    jet::Database db(file.string());
    for (const std::string& name : db.tableNames()) {
      const jet::Table t = db.table(name);
      for (size_t c = 0; c < t.def().columns.size(); ++c) {
        if (!lookupKind(t.def().columns[c].type())) continue;
        SCOPED_TRACE(file.filename().string() + " " + name + "." + t.def().columns[c].name);
        std::map<std::string, Value> sample;
        auto want = byValue(t, c, sample);
        jet::IndexLookup lookup(t, c);
        ++columns;
        if (lookup.walksIndex()) {
          ++from_index;
          for (const jet::RealIndex& ri : t.def().real_indexes) {
            descending += ri.columns.size() == 1 && !ri.columns[0].ascending &&
                          ri.columns[0].column_number == t.def().columns[c].number;
          }
        }
        std::optional<int64_t> previous;
        bool in_order = true;
        t.scan([&](RowId id) {
          const Value v = t.read(id, c);
          if (v.kind() != Value::Kind::Int) return;
          if (previous && v.asInt() < *previous) in_order = false;
          previous = v.asInt();
        });
        unsorted += !in_order;
        for (const auto& [key, value] : sample) {
          EXPECT_EQ(lookup.find(value), want[key]) << key;
        }
        EXPECT_TRUE(lookup.find(Value()).empty());
        if (t.def().columns[c].type() != jet::ColumnType::Text) {
          EXPECT_TRUE(lookup.find(Value::real(0.5)).empty());
          EXPECT_TRUE(lookup.find(Value::integer(int64_t{INT32_MAX} + 1)).empty());
          EXPECT_TRUE(lookup.find(Value::integer(int64_t{INT32_MIN} - 1)).empty());
        }
        // Forget every other row of each value; the rest stay, in order. (A
        // lookup that walks the index learns of deletes from the index.)
        if (lookup.walksIndex()) continue;
        for (auto& [key, rows] : want) {
          std::vector<RowId> kept;
          for (size_t i = 0; i < rows.size(); ++i) {
            if (i % 2 == 0) {
              lookup.erase(rows[i], sample.at(key));
            } else {
              kept.push_back(rows[i]);
            }
          }
          EXPECT_EQ(lookup.find(sample.at(key)), kept) << key;
        }
      }
    }
  }
  EXPECT_GT(columns, 100u);
  EXPECT_GT(unsorted, 5u) << "the files must hold columns whose rows are out of value order";
  EXPECT_GT(from_index, 20u) << "many lookups must come from the columns' own indexes";
  std::printf("%zu columns, %zu out of value order, %zu read from their index (%zu descending)\n",
              columns, unsorted, from_index, descending);
}

// Lookups that go down a whole-number column's own index, on every fixture
// table that has one: the answers equal a full scan's for each value
// present, one absent, the smallest and largest present, the type's limits
// and null; rows deleted in the open unit leave the answers at once and come
// back with rollbackToSavepoint and rollback.
TEST(ColumnLookups, WalkingTheIndexAnswersAsAScanAndSeesTheUnitsDeletes) {
  REQUIRE_FIXTURES();
  size_t walked = 0, deleted = 0;
  for (const auto& fixture : testsupport::allFixtures()) {
    const std::filesystem::path dir = testsupport::scratchDir();
    const std::filesystem::path file = dir / "copy.mdb";
    std::filesystem::copy_file(fixture, file);
    jet::Database db(file.string(), jet::OpenMode::ReadWrite);
    for (const std::string& name : db.tableNames()) {
      const jet::Table t = db.table(name);
      for (size_t c = 0; c < t.def().columns.size(); ++c) {
        const jet::Column& col = t.def().columns[c];
        if (!col.isWholeNumber()) continue;
        const jet::IndexLookup& lookup = db.lookup(t, c);
        if (!lookup.walksIndex()) continue;
        SCOPED_TRACE(fixture.filename().string() + " " + name + "." + col.name);
        ++walked;
        std::map<int64_t, std::vector<RowId>> want;
        t.scan([&](RowId id) {
          const Value v = t.read(id, c);
          if (v.kind() == Value::Kind::Int) want[v.asInt()].push_back(id);
        });
        const int64_t lowest = col.type() == jet::ColumnType::Byte      ? 0
                               : col.type() == jet::ColumnType::Integer ? INT16_MIN
                                                                        : INT32_MIN;
        const int64_t highest = col.type() == jet::ColumnType::Byte      ? UINT8_MAX
                                : col.type() == jet::ColumnType::Integer ? INT16_MAX
                                                                         : INT32_MAX;
        std::vector<int64_t> asked = {lowest, highest};
        if (!want.empty()) {
          asked.push_back(want.begin()->first);
          asked.push_back(want.rbegin()->first);
          asked.push_back(want.rbegin()->first < highest ? want.rbegin()->first + 1
                                                         : want.begin()->first - 1);
        }
        for (const auto& [n, rows] : want) asked.push_back(n);
        // Asked one by one, then again after asking all of them ahead.
        for (const bool ahead : {false, true}) {
          if (ahead) lookup.prepare(asked);
          for (int64_t n : asked) {
            const auto it = want.find(n);
            EXPECT_EQ(lookup.find(Value::integer(n)),
                      it == want.end() ? std::vector<RowId>{} : it->second)
                << n << (ahead ? " asked ahead" : "");
          }
        }
        EXPECT_TRUE(lookup.find(Value()).empty());
        if (want.empty() || !db.relationships().empty()) continue;
        // The rows of the value with the most, deleted inside a unit.
        const auto most = std::max_element(want.begin(), want.end(), [](auto& a, auto& b) {
          return a.second.size() < b.second.size();
        });
        const Value value = Value::integer(most->first);
        const std::vector<RowId>& rows = most->second;
        // Answers asked ahead no longer hold once a delete or a rollback
        // has changed the pages.
        db.begin();
        try {
          db.savepoint();
          db.lookup(t, c).prepare({most->first});
          db.deleteRow(t, rows.front());
          EXPECT_EQ(db.lookup(t, c).find(value), std::vector<RowId>(rows.begin() + 1, rows.end()));
          db.lookup(t, c).prepare({most->first});
          db.rollbackToSavepoint();
          EXPECT_EQ(db.lookup(t, c).find(value), rows);
          for (RowId id : rows) db.deleteRow(t, id);
          EXPECT_TRUE(db.lookup(t, c).find(value).empty());
          ++deleted;
        } catch (const jet::JetError& e) {
          EXPECT_EQ(e.number(), jet::err::kBadFormat) << e.what();  // a damaged fixture
        }
        db.rollback();
        EXPECT_EQ(db.lookup(t, c).find(value), rows);
      }
    }
  }
  EXPECT_GT(walked, 20u);
  EXPECT_GT(deleted, 5u);
  std::printf("%zu lookups walk their index, %zu checked through deletes\n", walked, deleted);
}

}  // namespace

namespace {

// A Jet 4 file with one table, cliprod(id, codcli), of `rows` rows whose
// codcli is id % `codes`; with an index on codcli or without.
void createCodes(const std::filesystem::path& file, int rows, int codes, bool indexed) {
  jet::DatabaseCreator db(file.string(), {jet::Version::Jet4});
  jet::TableDesign t{"cliprod", {}, {}};
  t.columns = {{"id", jet::ColumnType::Long}, {"codcli", jet::ColumnType::Long}};
  if (indexed) t.indexes = {{"codcli", {{"codcli"}}}};
  const size_t table = db.addTable(t);
  for (int i = 0; i < rows; ++i) db.insert(table, {Value::integer(i), Value::integer(i % codes)});
  db.finish();
}

// A lookup built from an index that puts a row under another value than the
// row holds (a damaged index) answers as the index says, but deleting that
// row ends in an error naming the file, and nothing changes.
TEST(ColumnLookups, AnIndexThatDisagreesWithItsRowsIsFoundOutByTheDelete) {
  const std::filesystem::path dir = testsupport::scratchDir();
  const std::filesystem::path file = dir / "codes.mdb";
  createCodes(file, 50, 10, true);
  uint32_t leaf = 0;
  {
    jet::Database db(file.string());
    const jet::Table t = db.table("cliprod");
    EXPECT_EQ(db.lookup(t, 1).find(Value::integer(4)).size(), 5u);
    leaf =
        jet::IndexWalker(db.pages(), db.format(), t.def().real_indexes[0].root_page, t.def().page)
            .firstLeaf();
  }
  // The first entry (a row holding 0) now says 4.
  {
    std::fstream f(file, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(static_cast<std::streamoff>(leaf) * 4096 +
            static_cast<std::streamoff>(jet::formatFor(jet::Version::Jet4).index_first_entry) + 4);
    f.put(4);
  }
  const std::vector<uint8_t> damaged = readertest::readFile(file);
  // Deleted at once, or deferred to the commit, which finds the index's
  // entries disagree with the rows' values.
  for (const bool deferred : {false, true}) {
    SCOPED_TRACE(deferred ? "deferred" : "at once");
    jet::Database db(file.string(), jet::OpenMode::ReadWrite);
    const jet::Table t = db.table("cliprod");
    const std::vector<RowId> fours = db.lookup(t, 1).find(Value::integer(4));
    ASSERT_EQ(fours.size(), 6u);
    db.begin();
    if (deferred) db.deferDeletes();
    try {
      for (RowId id : fours) db.deleteRow(t, id);
      db.commit();
      ADD_FAILURE() << "the damaged index went unnoticed";
    } catch (const jet::JetError& e) {
      if (db.inUnit()) db.rollback();
      EXPECT_EQ(e.number(), jet::err::kBadFormat);
      const char* says = deferred ? "de la tabla 'cliprod' no coincide con las filas que se borran"
                                  : "el índice de la columna 'codcli' de la tabla 'cliprod' no "
                                    "coincide con la fila";
      EXPECT_NE(std::string(e.what()).find(says), std::string::npos) << e.what();
    }
    EXPECT_TRUE(readertest::readFile(file) == damaged) << "the refused delete changed the file";
  }
  std::filesystem::remove_all(dir);
}

// A damaged index met by a question ends it in a format error, asked
// ahead or not, never in a crash or an endless walk: a loop on the way down, a loop along the
// leaves, a leaf chained to a page beyond the file or to a data page.
TEST(ColumnLookups, ADamagedIndexIsAFormatError) {
  const std::filesystem::path dir = testsupport::scratchDir();
  const std::filesystem::path clean = dir / "clean.mdb";
  createCodes(clean, 3000, 1, true);  // one value: its entries fill every leaf
  const jet::Format& fmt = jet::formatFor(jet::Version::Jet4);
  uint32_t root = 0, first_leaf = 0, data_page = 0, pages = 0;
  {
    jet::Database db(clean.string());
    const jet::Table t = db.table("cliprod");
    root = t.def().real_indexes[0].root_page;
    first_leaf = jet::IndexWalker(db.pages(), db.format(), root, t.def().page).firstLeaf();
    data_page = t.rowIds().front().page;
    pages = db.pages().pageCount();
    ASSERT_NE(root, first_leaf) << "the index must have nodes";
    ASSERT_EQ(db.lookup(t, 1).find(Value::integer(0)).size(), 3000u);
  }
  auto put32 = [](std::vector<uint8_t>& bytes, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  const struct {
    const char* name;
    std::function<void(std::vector<uint8_t>&)> damage;
  } cases[] = {
      {"the root's first child is the root",
       [&](std::vector<uint8_t>& b) {
         // The first node entry is stored whole: key (5), row pointer (4), child.
         const size_t at = size_t{root} * 4096 + fmt.index_first_entry + 9;
         for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(root >> (24 - 8 * i));
       }},
      {"the first leaf follows itself",
       [&](std::vector<uint8_t>& b) {
         put32(b, size_t{first_leaf} * 4096 + fmt.index_next, first_leaf);
       }},
      {"the first leaf is followed by a page beyond the file",
       [&](std::vector<uint8_t>& b) {
         put32(b, size_t{first_leaf} * 4096 + fmt.index_next, pages + 10);
       }},
      {"the first leaf is followed by a data page",
       [&](std::vector<uint8_t>& b) {
         put32(b, size_t{first_leaf} * 4096 + fmt.index_next, data_page);
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> bytes = readertest::readFile(clean);
    c.damage(bytes);
    const std::filesystem::path file = dir / "damaged.mdb";
    std::ofstream(file, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    jet::Database db(file.string());
    const jet::Table t = db.table("cliprod");
    // Asked ahead, the question stops there quietly, and fails when asked.
    EXPECT_NO_THROW(db.lookup(t, 1).prepare({-1, 0, 1}));
    try {
      db.lookup(t, 1).find(Value::integer(0));
      ADD_FAILURE() << "the damage went unnoticed";
    } catch (const jet::JetError& e) {
      EXPECT_EQ(e.number(), jet::err::kBadFormat) << e.what();
    }
  }
  std::filesystem::remove_all(dir);
}

// A lookup that could not be built (a row of the table is damaged) is not
// kept: deleting another row of the table afterwards works, and asking for
// the lookup again meets the damage again.
TEST(ColumnLookups, OneThatCouldNotBeBuiltIsNotKept) {
  const std::filesystem::path dir = testsupport::scratchDir();
  const std::filesystem::path file = dir / "codes.mdb";
  createCodes(file, 20, 4, false);
  std::vector<RowId> ids;
  std::streamoff damaged_row = 0;
  {
    jet::Database db(file.string());
    const jet::Table t = db.table("cliprod");
    ids = t.rowIds();
    ASSERT_EQ(ids.size(), 20u);
    const RowId target = ids[5];
    const uint16_t slot = jet::DataPage(db.pages(), db.format(), target.page).slot(target.row);
    damaged_row = static_cast<std::streamoff>(target.page) * 4096 + (slot & jet::kSlotOffsetMask);
  }
  // The row's column count now claims more columns than its bytes hold.
  {
    std::fstream f(file, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(damaged_row);
    f.put(static_cast<char>(0xFF));
    f.put(static_cast<char>(0xFF));
  }
  {
    // Closed before its folder goes: Windows keeps an open file's name.
    jet::Database db(file.string(), jet::OpenMode::ReadWrite);
    const jet::Table t = db.table("cliprod");
    for (int attempt = 0; attempt < 2; ++attempt) {
      try {
        db.lookup(t, 1);
        ADD_FAILURE() << "the damaged row went unnoticed";
      } catch (const jet::JetError& e) {
        EXPECT_EQ(e.number(), jet::err::kBadFormat);
      }
      db.deleteRow(t, ids[attempt]);
      EXPECT_FALSE(t.isLive(ids[attempt]));
    }
    EXPECT_TRUE(t.isLive(ids[2]));
  }
  std::filesystem::remove_all(dir);
}

}  // namespace
