// Record channels over the client fixtures: what Refresh opens, how the
// cursor moves, the bound field view, and channels that follow Data1.
#include "db/record_channel.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "db/field_view.h"
#include "db/schema.h"
#include "jet/error.h"
#include "jet/query.h"
#include "support/shared_fixtures.h"

namespace fs = std::filesystem;

namespace {

class RecordChannels : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_FIXTURES();
    path_ = testsupport::fixture("clientes/clientes-v2000-small.mdb").string();
  }
  std::string path_;
};

int expectError(const std::function<void()>& fn) {
  try {
    fn();
  } catch (const jet::JetError& e) {
    return e.number();
  }
  return 0;
}

TEST_F(RecordChannels, AnEmptySelectionIsAtBothEnds) {
  db::RecordChannel data1;
  data1.setDatabaseName(path_);
  data1.setRecordSource("Select * from clientes where clies = 'H' and clifre <= #01-01-1990#");
  data1.Refresh();
  EXPECT_TRUE(data1.recordset().isEOF());
  EXPECT_TRUE(data1.recordset().isBOF());
  EXPECT_EQ(expectError([&] { data1.recordset().MoveNext(); }), jet::err::kNoCurrentRecord);
  EXPECT_EQ(expectError([&] { data1.recordset().field("CLICOD"); }), jet::err::kNoCurrentRecord);
}

TEST_F(RecordChannels, CountsAfterMoveLastAndWalksToTheEnd) {
  db::RecordChannel data1;
  data1.setDatabaseName(path_);
  data1.setRecordSource("Select * from clientes where clies = 'H' and clifre <= #12-31-2010#");
  data1.Refresh();
  db::Recordset& rs = data1.recordset();
  EXPECT_FALSE(rs.isEOF());
  EXPECT_FALSE(rs.isBOF());
  rs.MoveFirst();
  rs.MoveLast(0);
  EXPECT_EQ(rs.RecordCount(), 9) << "the fixture's README: 6 'H' and 3 'h' up to 31-12-2010";
  rs.MoveFirst();
  long walked = 0;
  while (!rs.isEOF()) {
    ++walked;
    rs.MoveNext();
  }
  EXPECT_EQ(walked, 9);
  EXPECT_EQ(expectError([&] { rs.MoveNext(); }), jet::err::kNoCurrentRecord);
}

TEST_F(RecordChannels, TheFieldViewShowsTheCurrentClientsCode) {
  db::RecordChannel data1(db::schema::kClientsDesignSource);
  db::FieldView text2(data1, db::schema::kClientCode);
  data1.setDatabaseName(path_);
  data1.Refresh();
  db::Recordset& rs = data1.recordset();
  ASSERT_FALSE(rs.isEOF());
  EXPECT_EQ(text2.text(), std::to_string(rs.field("CLICOD").asInt()));
  rs.MoveNext();
  EXPECT_EQ(text2.text(), std::to_string(rs.field("clicod").asInt())) << "moves refresh it";
  rs.MoveLast();
  const std::string last = text2.text();
  rs.MoveNext();
  EXPECT_TRUE(rs.isEOF());
  EXPECT_EQ(text2.text(), last) << "past the end it keeps the last code";

  data1.setRecordSource("Select * from clientes where CLICOD = -5");
  data1.Refresh();
  EXPECT_EQ(text2.text(), "") << "an empty selection shows nothing";
}

TEST_F(RecordChannels, DependentChannelsFollowData1sDatabase) {
  db::RecordChannel data1("CLIENTES"), data2("cliprod"), data3("horascli"), data4("diascli");
  data1.addFollower(&data2);
  data1.addFollower(&data3);
  data1.addFollower(&data4);
  data1.setDatabaseName(path_);
  for (db::RecordChannel* c : {&data2, &data3, &data4}) EXPECT_EQ(c->DatabaseName(), path_);

  // Each client's rows through the channel equal an independent filter of the table.
  data1.Refresh();
  jet::Database db(path_);
  jet::Table cliprod = db.table("cliprod");
  const size_t codcli = *cliprod.def().findColumn("codcli");
  long clients = 0;
  for (db::Recordset& rs = data1.recordset(); !rs.isEOF(); rs.MoveNext(), ++clients) {
    const int64_t code = rs.field("CLICOD").asInt();
    data2.setRecordSource("Select * from cliprod where codcli = " + std::to_string(code));
    data2.Refresh();
    long expected = 0;
    cliprod.scan([&](jet::RowId id) {
      jet::Value v = cliprod.read(id, codcli);
      if (!v.isNull() && v.asInt() == code) ++expected;
    });
    long got = 0;
    db::Recordset& deps = data2.recordset();
    if (!(deps.isEOF() && deps.isBOF())) {
      for (deps.MoveFirst(); !deps.isEOF(); deps.MoveNext()) {
        EXPECT_EQ(deps.field("codcli").asInt(), code);
        ++got;
      }
    }
    EXPECT_EQ(got, expected) << "client " << code;
  }
  EXPECT_EQ(clients, 40);
}

TEST_F(RecordChannels, OpeningFailuresAreTheEnginesErrors) {
  db::RecordChannel data1("CLIENTES");
  data1.setDatabaseName((fs::path(path_).parent_path() / "no-existe.mdb").string());
  EXPECT_EQ(expectError([&] { data1.Refresh(); }), jet::err::kFileNotFound);
  data1.setDatabaseName(path_);
  data1.setRecordSource("clientes_viejos");
  EXPECT_EQ(expectError([&] { data1.Refresh(); }), jet::err::kUnknownTable);
  data1.setRecordSource("Select * from clientes where clifecha <= #12-31-2010#");
  EXPECT_EQ(expectError([&] { data1.Refresh(); }), jet::err::kUnknownField);
}

TEST(BoundText, ShowsValuesAsTheSpanishTextBoxDoes) {
  EXPECT_EQ(db::boundText(jet::Value::integer(57)), "57");
  EXPECT_EQ(db::boundText(jet::Value::integer(-3)), "-3");
  EXPECT_EQ(db::boundText(jet::Value::null()), "");
  EXPECT_EQ(db::boundText(jet::Value::real(12.5)), "12,5");
  EXPECT_EQ(db::boundText(jet::Value::real(0.1 + 0.2)), "0,3") << "fifteen significant digits";
  EXPECT_EQ(db::boundText(jet::Value::single(1.1f)), "1,1");
  EXPECT_EQ(db::boundText(jet::Value::currency(127500)), "12,75");
  EXPECT_EQ(db::boundText(jet::Value::text("Peña")), "Peña");
  jet::DateTimeParts d{2026, 12, 6, 0, 0, 0};
  EXPECT_EQ(db::boundText(jet::Value::dateTime(jet::joinDateTime(d))), "06/12/2026");
  d.hour = 10;
  d.minute = 30;
  EXPECT_EQ(db::boundText(jet::Value::dateTime(jet::joinDateTime(d))), "06/12/2026 10:30:00");
  // The runtime's general form: a time on the zero day alone, four-digit years.
  EXPECT_EQ(db::boundText(jet::Value::dateTime(jet::joinDateTime({1899, 12, 30, 9, 5, 7}))),
            "9:05:07");
  EXPECT_EQ(db::boundText(jet::Value::dateTime(jet::joinDateTime({100, 1, 1, 0, 0, 0}))),
            "01/01/0100");
}

}  // namespace
