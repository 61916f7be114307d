// Reading whole tables through the traps real files hold: rows written before
// a column was added, deleted columns, moved rows, deleted rows, table
// definitions over two pages, Jet 3 rows longer than 256 bytes, and the three
// ways a long value is stored. Expected values are what mdb-export prints
// for the same files (format notes, section 12).
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "format/data_page.h"
#include "format/row_layout.h"
#include "jet/database.h"
#include "jet/error.h"
#include "reader_test_util.h"
#include "support/shared_fixtures.h"

namespace {

using jet::Value;
using readertest::dateText;
using readertest::fnv1a;

jet::Database open(const std::string& relative) {
  return jet::Database(testsupport::fixture(relative).string());
}

size_t col(const jet::Table& t, const std::string& name) {
  return t.def().findColumn(name).value();
}

std::vector<std::vector<Value>> allRows(const jet::Table& t) {
  std::vector<std::vector<Value>> rows;
  for (jet::RowId id : t.rowIds()) rows.push_back(t.readRow(id));
  return rows;
}

std::optional<jet::RowId> findId(const jet::Table& t, const std::string& key, const Value& wanted) {
  const size_t k = col(t, key);
  for (jet::RowId id : t.rowIds()) {
    if (t.read(id, k) == wanted) return id;
  }
  return std::nullopt;
}

// Slot flags of the table's data pages, to check a fixture still holds its trap.
std::map<uint16_t, int> slotFlagCounts(const jet::Database& db, const jet::Table& t) {
  std::map<uint16_t, int> counts;
  for (uint32_t pg : t.dataPages()) {
    jet::DataPage page(db.pages(), db.format(), pg);
    for (uint16_t r = 0; r < page.rowCount(); ++r) ++counts[page.slot(r) & 0xC000];
  }
  return counts;
}

// How a row stores a long-value column: 0x80 inline, 0x40 one row, 0x00 chain.
int longValueKind(const jet::Database& db, const jet::Table& t, jet::RowId id, size_t index) {
  jet::RowLayout layout(t.rowBytes(id), db.format(), t.def().var_slots > 0);
  std::optional<jet::ByteView> field = layout.variable(t.def().columns[index]);
  if (!field || field->size() < 12) return -1;
  return field->u8(3) & 0xC0;
}

Value text(const char* s) {
  return Value::text(s);
}
const Value kNull = Value::null();

// ---------------------------------------------------------------------------

class TableReading : public ::testing::Test {
 protected:
  void SetUp() override { REQUIRE_FIXTURES(); }
};

// Table1 of testV1997/testV2000: every basic type, as mdb-export prints it:
// "abcdefg","hijklmnop",2,222,333333333,444.555,"09/21/74 00:00:00",3.5000,1
// "a","b",0,0,0,0,"12/12/81 00:00:00",0.0000,0
TEST_F(TableReading, BasicTypesInBothVersions) {
  for (const char* file : {"real/jet3/testV1997.mdb", "real/jet4/testV2000.mdb"}) {
    SCOPED_TRACE(file);
    jet::Database db = open(file);
    jet::Table t = db.table("Table1");
    std::vector<std::string> names;
    for (const jet::Column& c : t.def().columns) names.push_back(c.name);
    EXPECT_EQ(names, (std::vector<std::string>{"A", "B", "C", "D", "E", "F", "G", "H", "I"}));

    std::map<std::string, std::vector<Value>> byA;
    for (auto& row : allRows(t)) byA[row[0].asString()] = row;
    ASSERT_EQ(byA.size(), 2u);
    const std::vector<Value>& r1 = byA.at("abcdefg");
    EXPECT_EQ(r1[1], text("hijklmnop"));
    EXPECT_EQ(r1[2], Value::integer(2));
    EXPECT_EQ(r1[3], Value::integer(222));
    EXPECT_EQ(r1[4], Value::integer(333333333));
    EXPECT_EQ(r1[5], Value::real(444.555));
    EXPECT_EQ(dateText(r1[6]), "1974-09-21 00:00:00");
    EXPECT_EQ(r1[7], Value::currency(35000));
    EXPECT_EQ(r1[8], Value::boolean(true));
    const std::vector<Value>& r2 = byA.at("a");
    EXPECT_EQ(r2, (std::vector<Value>{text("a"), text("b"), Value::integer(0), Value::integer(0),
                                      Value::integer(0), Value::real(0), r2[6], Value::currency(0),
                                      Value::boolean(false)}));
    EXPECT_EQ(dateText(r2[6]), "1981-12-12 00:00:00");
  }
}

// overflowTestV2000.mdb: two moved rows, rows written with 3, 4 and 10
// columns, and the deleted column data2. The rows come out with each moved
// row at its pointer's slot: row1 ... row7.
TEST_F(TableReading, MovedRowsAndRowsThatPredateAddedColumns) {
  jet::Database db = open("real/jet4/overflowTestV2000.mdb");
  jet::Table t = db.table("Table1");
  std::map<uint16_t, int> flags = slotFlagCounts(db, t);
  EXPECT_EQ(flags[0x4000], 2) << "moved-row pointers";
  EXPECT_EQ(flags[0x8000], 2) << "moved-row data";

  std::vector<jet::RowId> ids = t.rowIds();
  ASSERT_EQ(ids.size(), 7u);
  std::set<size_t> stored;
  for (jet::RowId id : ids) {
    stored.insert(jet::RowLayout(t.rowBytes(id), db.format(), true).storedColumns());
  }
  EXPECT_EQ(stored, (std::set<size_t>{3, 4, 10}));

  std::vector<std::vector<Value>> expected{
      {text("row1col1"), kNull, kNull, kNull, kNull, kNull, kNull, kNull, kNull},
      {text("row2col1"), text("row2col3"), kNull, kNull, kNull, kNull, kNull, kNull, kNull},
      {kNull, text("row3col3"), kNull, kNull, kNull, kNull, kNull, text("row3col9"), kNull},
      {text("row4col1"), text("row4col2"), kNull, kNull, kNull, kNull, kNull, kNull, kNull},
      {kNull, text("row5col2"), kNull, kNull, kNull, kNull, kNull, kNull, kNull},
      {kNull, text("row6col2"), text("row6col3"), kNull, kNull, kNull, kNull, kNull, kNull},
      {text("row7col1"), kNull, kNull, kNull, kNull, text("row7col7"), kNull, kNull, kNull},
  };
  EXPECT_EQ(allRows(t), expected);

  // The Jet 3 copy holds the same data with nothing moved.
  jet::Database db3 = open("real/jet3/overflowTestV1997.mdb");
  EXPECT_EQ(allRows(db3.table("Table1")), expected);
}

// A moved row's id is its pointer slot; the slot holding its data is no row of its own.
TEST_F(TableReading, MovedRowDataIsNoRowOfItsOwn) {
  jet::Database db = open("real/jet4/overflowTestV2000.mdb");
  jet::Table t = db.table("Table1");
  std::vector<jet::RowId> ids = t.rowIds();
  for (uint32_t pg : t.dataPages()) {
    jet::DataPage page(db.pages(), db.format(), pg);
    for (uint16_t r = 0; r < page.rowCount(); ++r) {
      const jet::RowId id{pg, static_cast<uint8_t>(r)};
      const bool listed = std::find(ids.begin(), ids.end(), id) != ids.end();
      if (page.slot(r) & 0x8000) {
        EXPECT_FALSE(listed) << pg << ":" << r;
        try {
          t.rowBytes(id);
          ADD_FAILURE() << "overflow data read as a row";
        } catch (const jet::JetError& e) {
          EXPECT_EQ(e.number(), jet::err::kBadFormat);
        }
      } else {
        EXPECT_TRUE(listed) << pg << ":" << r;
      }
    }
  }
}

// delColTestV2000.mdb: columns 1 and 4 were deleted; the survivors keep
// their numbers, offsets and variable slots. mdb-export:
// id,id2,data,data2 / 0,2,"foo","foo2" / 3,5,"bar","bar2"
TEST_F(TableReading, DeletedColumnsLeaveHoles) {
  const std::vector<std::vector<Value>> expected{
      {Value::integer(0), Value::integer(2), text("foo"), text("foo2")},
      {Value::integer(3), Value::integer(5), text("bar"), text("bar2")},
  };
  jet::Database db = open("real/jet4/delColTestV2000.mdb");
  jet::Table t = db.table("Table1");
  EXPECT_GT(t.def().max_cols, t.def().columns.size());
  std::vector<uint16_t> numbers;
  for (const jet::Column& c : t.def().columns) numbers.push_back(c.number);
  EXPECT_EQ(numbers, (std::vector<uint16_t>{0, 2, 3, 5}));
  EXPECT_EQ(allRows(t), expected);

  jet::Database db3 = open("real/jet3/delColTestV1997.mdb");
  EXPECT_EQ(allRows(db3.table("Table1")), expected);
}

// delTestV2000.mdb / delTestV1997.mdb: deleted rows are skipped.
// mdb-export: a,b / "z","y" / "v","u"
TEST_F(TableReading, DeletedRowsAreSkipped) {
  const std::vector<std::vector<Value>> expected{{text("z"), text("y")}, {text("v"), text("u")}};
  jet::Database db = open("real/jet4/delTestV2000.mdb");
  jet::Table t = db.table("Table");
  EXPECT_GE(slotFlagCounts(db, t)[0xC000], 1) << "the fixture holds a deleted row";
  EXPECT_EQ(allRows(t), expected);
  for (jet::RowId id : t.rowIds()) EXPECT_FALSE(t.rowBytes(id).empty());

  jet::Database db3 = open("real/jet3/delTestV1997.mdb");
  EXPECT_EQ(allRows(db3.table("Table")), expected);
}

// Table2 of testV1997/testV2000: 89 columns over two TDEF pages, no rows.
TEST_F(TableReading, TableDefinitionOverTwoPages) {
  for (const char* file : {"real/jet3/testV1997.mdb", "real/jet4/testV2000.mdb"}) {
    SCOPED_TRACE(file);
    jet::Database db = open(file);
    jet::Table t = db.table("Table2");
    EXPECT_EQ(t.def().pages.size(), 2u);
    ASSERT_EQ(t.def().columns.size(), 89u);
    for (size_t i = 0; i < 89; ++i) {
      EXPECT_EQ(t.def().columns[i].name, "column" + std::to_string(i + 1));
    }
    EXPECT_TRUE(t.rowIds().empty());
    // Empty tables: Table3 and Table4.
    EXPECT_TRUE(db.table("Table3").rowIds().empty());
    EXPECT_TRUE(db.table("Table4").rowIds().empty());
  }
}

// test2V1997.mdb MSP_PROJECTS: one Jet 3 row longer than 256 bytes, whose
// variable offsets need the jump table (values as mdb-export prints them).
TEST_F(TableReading, Jet3RowLongerThan256Bytes) {
  jet::Database db = open("real/jet3/test2V1997.mdb");
  jet::Table t = db.table("MSP_PROJECTS");
  std::vector<jet::RowId> ids = t.rowIds();
  ASSERT_EQ(ids.size(), 1u);
  EXPECT_GT(t.rowBytes(ids[0]).size(), 256u);
  std::vector<Value> row = t.readRow(ids[0]);
  auto at = [&](const char* name) { return row[col(t, name)]; };
  EXPECT_EQ(at("PROJ_ID"), Value::integer(1));
  EXPECT_EQ(at("PROJ_NAME"), text("Project1"));
  EXPECT_EQ(at("PROJ_PROP_COMPANY"), text("T"));
  EXPECT_EQ(at("PROJ_OPT_CURRENCY_SYMBOL"), text("\u00a3"));
  EXPECT_EQ(at("PROJ_INFO_CAL_NAME"), text("Standard"));
  EXPECT_EQ(at("PROJ_PROP_TITLE"), text("Project1"));
  EXPECT_EQ(at("PROJ_DATA_SOURCE"), text("Z:\\temp\\Project1.mpd"));
  EXPECT_EQ(at("PROJ_OPT_MINUTES_PER_WEEK"), Value::integer(2400));
  EXPECT_EQ(at("PROJ_OPT_DAYS_PER_MONTH"), Value::integer(20));
  EXPECT_EQ(dateText(at("PROJ_CREATION_DATE_EX")), "2006-02-03 22:11:05");
  EXPECT_EQ(dateText(at("PROJ_OPT_DEF_FINISH_TIME")), "2006-02-03 17:00:00");
  EXPECT_TRUE(at("PROJ_PROP_CATEGORY").isNull());
  EXPECT_TRUE(at("PROJ_TYPE").isNull());
  EXPECT_TRUE(at("PROJ_CHECKEDOUTDATE").isNull());
  const Value author = at("PROJ_PROP_AUTHOR");
  EXPECT_EQ(author.asString().size(), 348u);
  EXPECT_EQ(author.asString().rfind("Jon Iles this is a a vawesrasoih", 0), 0u);
  EXPECT_EQ(author.asString().substr(author.asString().size() - 27), "lkasj dlkfslkd jflksjadf as");
  const Value blob = at("RESERVED_BINARY_DATA");
  EXPECT_EQ(blob.kind(), Value::Kind::Bytes);
  EXPECT_EQ(blob.asString().size(), 22970u);
  EXPECT_EQ(fnv1a(blob.asString()), 0x24b8257f024feb01ULL);
}

// fixedTextTestV2000.mdb: fixed-length Text columns. mdb-export:
// 1,"CORE USER"," ","-1","Core User",1,16408,-1,"N","11/05/09 23:41:28"
TEST_F(TableReading, FixedLengthText) {
  jet::Database db = open("real/jet4/fixedTextTestV2000.mdb");
  jet::Table t = db.table("users");
  auto id = findId(t, "i_user_id", Value::integer(1));
  ASSERT_TRUE(id);
  std::vector<Value> row = t.readRow(*id);
  ASSERT_EQ(row.size(), 10u);
  EXPECT_EQ(row[1], text("CORE USER"));
  EXPECT_EQ(row[2], text(" "));
  EXPECT_EQ(row[3], text("-1"));
  EXPECT_EQ(row[4], text("Core User"));
  EXPECT_EQ(row[5], Value::integer(1));
  EXPECT_EQ(row[6], Value::integer(16408));
  EXPECT_EQ(row[7], Value::integer(-1));
  EXPECT_EQ(row[8], text("N"));
  EXPECT_EQ(dateText(row[9]), "2009-11-05 23:41:28");
}

// nwind.mdb row counts, as mdb-export gives them. The catalog has moved rows
// and the table Umsätze has freed pages still owned by it.
TEST_F(TableReading, Jet3SampleDatabaseRowCounts) {
  jet::Database db = open("real/jet3/nwind.mdb");
  const std::map<std::string, size_t> expected{
      {"Categories", 8},       {"Customers", 91}, {"Employees", 9},
      {"Order Details", 2155}, {"Orders", 830},   {"Products", 77},
      {"Shippers", 3},         {"Suppliers", 29}, {"Ums\u00e4tze", 830},
  };
  std::vector<std::string> names = db.tableNames();
  std::sort(names.begin(), names.end());
  std::vector<std::string> wanted;
  for (const auto& [name, n] : expected) wanted.push_back(name);
  EXPECT_EQ(names, wanted);
  for (const auto& [name, n] : expected) {
    EXPECT_EQ(db.table(name).rowIds().size(), n) << name;
  }
  EXPECT_GE(slotFlagCounts(db, db.table("MSysObjects"))[0x4000], 1);
}

// ---------------------------------------------------------------------------
// Long values: inline, in one long-value row, or over a chain of rows.

TEST_F(TableReading, Jet3LongValuesOfEveryKind) {
  jet::Database db = open("real/jet3/nwind.mdb");
  jet::Table cat = db.table("Categories");
  const size_t desc = col(cat, "Description"), pic = col(cat, "Picture");

  jet::RowId c1 = findId(cat, "CategoryID", Value::integer(1)).value();
  jet::RowId c4 = findId(cat, "CategoryID", Value::integer(4)).value();
  jet::RowId c8 = findId(cat, "CategoryID", Value::integer(8)).value();
  ASSERT_EQ(longValueKind(db, cat, c1, desc), 0x40);
  ASSERT_EQ(longValueKind(db, cat, c4, desc), 0x80);
  ASSERT_EQ(longValueKind(db, cat, c1, pic), 0x00);

  EXPECT_EQ(cat.read(c1, desc), text("Soft drinks, coffees, teas, beers, and ales"));
  EXPECT_EQ(cat.read(c4, desc), text("Cheeses"));
  EXPECT_EQ(cat.read(c8, desc), text("Seaweed and fish"));
  const Value p1 = cat.read(c1, pic), p8 = cat.read(c8, pic);
  EXPECT_EQ(p1.kind(), Value::Kind::Bytes);
  EXPECT_EQ(p1.asString().size(), 10746u);
  EXPECT_EQ(fnv1a(p1.asString()), 0xeaad4faa3388935dULL);
  EXPECT_EQ(p8.asString().size(), 10746u);
  EXPECT_EQ(fnv1a(p8.asString()), 0x636788d9086e6729ULL);

  jet::Table emp = db.table("Employees");
  const size_t notes = col(emp, "Notes"), photo = col(emp, "Photo");
  jet::RowId e1 = findId(emp, "EmployeeID", Value::integer(1)).value();
  jet::RowId e3 = findId(emp, "EmployeeID", Value::integer(3)).value();
  jet::RowId e9 = findId(emp, "EmployeeID", Value::integer(9)).value();
  EXPECT_EQ(emp.read(e1, notes),
            text("Education includes a BA in psychology from Colorado State University in 1970.  "
                 "She also completed \"The Art of the Cold Call.\"  Nancy is a member of "
                 "Toastmasters International."));
  EXPECT_EQ(emp.read(e9, notes), text("Anne has a BA degree in English from St. Lawrence "
                                      "College.  She is fluent in French and German."));
  EXPECT_EQ(fnv1a(emp.read(e1, photo).asString()), 0x723bd3b06e34e9b7ULL);
  EXPECT_EQ(emp.read(e3, photo).asString().size(), 21722u);
  EXPECT_EQ(fnv1a(emp.read(e3, photo).asString()), 0xfc417c77c9443c21ULL);

  // Hyperlink memos: empty, inline and in one row.
  jet::Table sup = db.table("Suppliers");
  const size_t home = col(sup, "HomePage");
  EXPECT_EQ(sup.read(findId(sup, "SupplierID", Value::integer(2)).value(), home),
            text("#CAJUN.HTM#"));
  EXPECT_EQ(sup.read(findId(sup, "SupplierID", Value::integer(6)).value(), home),
            text("Mayumi's (on the World Wide Web)#http://www.microsoft.com/accessdev/"
                 "sampleapps/mayumi.htm#"));
  EXPECT_TRUE(sup.read(findId(sup, "SupplierID", Value::integer(1)).value(), home).isNull());
}

// clientes-v2000-spanish.mdb: Jet 4 memos inline and compressed, in one row,
// and over chains of plain UCS-2 (lengths in characters and hashes of the
// UTF-8 text mdb-export prints).
TEST_F(TableReading, Jet4MemoChains) {
  jet::Database db = open("clientes/clientes-v2000-spanish.mdb");
  jet::Table t = db.table("clientes");
  const size_t notas = col(t, "clinotas");
  struct Case {
    int code;
    int kind;
    size_t bytes;
    uint64_t hash;
  };
  const Case cases[] = {
      {159, 0x80, 34, 0xb792fcdf771dfa1bULL},
      {517, 0x40, 226, 0xfb2ed668095de0f0ULL},
      {227, 0x00, 4164, 0x3886f7e3a09b9f62ULL},
      {148, 0x00, 5524, 0x4f67cb257140d772ULL},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    jet::RowId id = findId(t, "CLICOD", Value::integer(c.code)).value();
    EXPECT_EQ(longValueKind(db, t, id, notas), c.kind);
    const Value v = t.read(id, notas);
    EXPECT_EQ(v.kind(), Value::Kind::Text);
    EXPECT_EQ(v.asString().size(), c.bytes);
    EXPECT_EQ(fnv1a(v.asString()), c.hash);
  }
  const Value tail = t.read(findId(t, "CLICOD", Value::integer(148)).value(), notas);
  EXPECT_EQ(tail.asString().substr(0, 26), "tarifa nuevo env\u00edo se\u00f1or");
}

// ---------------------------------------------------------------------------
// Looking tables up, and row ids.

TEST_F(TableReading, TableLookupIgnoresCase) {
  jet::Database db = open("real/jet3/nwind.mdb");
  EXPECT_EQ(db.table("customers").name(), "Customers");
  EXPECT_EQ(db.table("ORDER DETAILS").name(), "Order Details");
  EXPECT_EQ(db.table("UMS\u00c4TZE").name(), "Ums\u00e4tze");
  EXPECT_EQ(db.table("msysobjects").name(), "MSysObjects");
  EXPECT_TRUE(db.hasTable("sHiPpErS"));
  EXPECT_FALSE(db.hasTable("Shipper"));
  EXPECT_EQ(db.table("Customers").def().findColumn("companyNAME"),
            db.table("Customers").def().findColumn("CompanyName"));
  EXPECT_FALSE(db.table("Customers").def().findColumn("Company"));
}

TEST_F(TableReading, UnknownTableIsError3078) {
  jet::Database db = open("real/jet4/testV2000.mdb");
  for (const char* name : {"Tabla1", "Table", "", "Table1 "}) {
    try {
      db.table(name);
      ADD_FAILURE() << "found '" << name << "'";
    } catch (const jet::JetError& e) {
      EXPECT_EQ(e.number(), jet::err::kUnknownTable);
      EXPECT_NE(std::string(e.what()).find("'" + std::string(name) + "'"), std::string::npos)
          << e.what();
    }
  }
}

// Reading a row again by its id, in another order or through another open
// database, gives the same values.
TEST_F(TableReading, RowIdsAreStable) {
  for (const char* file : {"real/jet3/nwind.mdb", "real/jet4/overflowTestV2000.mdb",
                           "clientes/clientes-v2003-rel.mdb"}) {
    SCOPED_TRACE(file);
    jet::Database db = open(file);
    jet::Database again = open(file);
    for (const std::string& name : db.tableNames()) {
      SCOPED_TRACE(name);
      jet::Table t = db.table(name);
      jet::Table t2 = again.table(name);
      std::vector<jet::RowId> ids = t.rowIds();
      ASSERT_EQ(t2.rowIds(), ids);
      std::vector<std::vector<Value>> first;
      for (jet::RowId id : ids) first.push_back(t.readRow(id));
      for (size_t i = ids.size(); i-- > 0;) {
        ASSERT_EQ(t2.readRow(ids[i]), first[i]);
        ASSERT_EQ(t.readRow(ids[i]), first[i]);
      }
      if (!ids.empty()) {
        const jet::RowId mid = ids[ids.size() / 2];
        for (size_t c = 0; c < t.def().columns.size(); ++c) {
          EXPECT_EQ(t.read(mid, c), first[ids.size() / 2][c]);
        }
        EXPECT_EQ(jet::RowId::fromPointer(mid.toPointer()), mid);
      }
    }
  }
}

// The client tables hold the counts their README gives.
TEST_F(TableReading, ClientFixtureRowCounts) {
  struct Counts {
    const char* file;
    size_t clientes, cliprod, horascli, diascli;
  };
  for (const Counts& c : {Counts{"clientes/clientes-v2000-small.mdb", 40, 66, 56, 66},
                          Counts{"clientes/clientes-v2000-spanish.mdb", 150, 233, 251, 230},
                          Counts{"clientes/clientes-v2003-rel.mdb", 200, 282, 295, 301},
                          Counts{"clientes/clientes-v2003-orphans.mdb", 80, 128, 112, 114}}) {
    SCOPED_TRACE(c.file);
    jet::Database db = open(c.file);
    EXPECT_EQ(db.table("clientes").rowIds().size(), c.clientes);
    EXPECT_EQ(db.table("cliprod").rowIds().size(), c.cliprod);
    EXPECT_EQ(db.table("horascli").rowIds().size(), c.horascli);
    EXPECT_EQ(db.table("diascli").rowIds().size(), c.diascli);
  }
}

}  // namespace
