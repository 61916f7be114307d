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
        if (jet::readIndexNumbers(t, c)) {
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
        // Forget every other row of each value; the rest stay, in order.
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
  {
    jet::Database db(file.string(), jet::OpenMode::ReadWrite);
    const jet::Table t = db.table("cliprod");
    const std::vector<RowId> fours = db.lookup(t, 1).find(Value::integer(4));
    ASSERT_EQ(fours.size(), 6u);
    db.begin();
    try {
      for (RowId id : fours) db.deleteRow(t, id);
      ADD_FAILURE() << "the damaged index went unnoticed";
    } catch (const jet::JetError& e) {
      db.rollback();
      EXPECT_EQ(e.number(), jet::err::kBadFormat);
      EXPECT_NE(
          std::string(e.what()).find(
              "el índice de la columna 'codcli' de la tabla 'cliprod' no coincide con la fila"),
          std::string::npos)
          << e.what();
    }
  }
  EXPECT_TRUE(readertest::readFile(file) == damaged) << "the refused delete changed the file";
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
