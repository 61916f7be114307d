// How stored bytes become values: dates (including the days before 1899-12-30
// that carry a time), Jet 3 and Jet 4 text, currency and decimal numbers.
// Expected values come from the format notes' worked examples, the fixtures'
// READMEs and what mdb-export prints for the same files.
#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "format/text_codec.h"
#include "format/value_decoder.h"
#include "jet/database.h"
#include "jet/error.h"
#include "jet/value.h"
#include "reader_test_util.h"
#include "support/shared_fixtures.h"

namespace {

using jet::DateTimeParts;
using jet::Value;
using readertest::dateText;
using readertest::view;

// The first live row whose column `key` equals `wanted`.
std::optional<std::vector<Value>> findRow(const jet::Table& t, const std::string& key,
                                          const Value& wanted) {
  const size_t k = t.def().findColumn(key).value();
  for (jet::RowId id : t.rowIds()) {
    std::vector<Value> row = t.readRow(id);
    if (row[k] == wanted) return row;
  }
  return std::nullopt;
}

size_t col(const jet::Table& t, const std::string& name) {
  return t.def().findColumn(name).value();
}

// ---------------------------------------------------------------------------
// Date/Time: days since 1899-12-30; the day is the integer part toward zero,
// the time of day the magnitude of the fraction.

TEST(DateTimeSplit, WorkedExamplesAroundTheEpoch) {
  EXPECT_EQ(dateText(jet::splitDateTime(0.0)), "1899-12-30 00:00:00");
  EXPECT_EQ(dateText(jet::splitDateTime(1.1)), "1899-12-31 02:24:00");
  EXPECT_EQ(dateText(jet::splitDateTime(-1.1)), "1899-12-29 02:24:00");
  EXPECT_EQ(dateText(jet::splitDateTime(-1.25)), "1899-12-29 06:00:00");
  // Between -1 and 0 the day is still 1899-12-30: the time counts forward from its midnight.
  EXPECT_EQ(dateText(jet::splitDateTime(-0.5)), "1899-12-30 12:00:00");
  EXPECT_EQ(dateText(jet::splitDateTime(0.25)), "1899-12-30 06:00:00");
}

TEST(DateTimeSplit, MidnightsOnBothSidesOfTheEpoch) {
  EXPECT_EQ(dateText(jet::splitDateTime(1.0)), "1899-12-31 00:00:00");
  EXPECT_EQ(dateText(jet::splitDateTime(2.0)), "1900-01-01 00:00:00");
  EXPECT_EQ(dateText(jet::splitDateTime(-1.0)), "1899-12-29 00:00:00");
  EXPECT_EQ(dateText(jet::splitDateTime(-2.0)), "1899-12-28 00:00:00");
  EXPECT_EQ(dateText(jet::splitDateTime(40543.0)), "2010-12-31 00:00:00");
}

TEST(DateTimeSplit, RoundsToTheNearestSecond) {
  // 2010-12-31 is day 40543.
  EXPECT_EQ(dateText(jet::splitDateTime(40543.0 + 86399.0 / 86400.0)), "2010-12-31 23:59:59");
  EXPECT_EQ(dateText(jet::splitDateTime(40543.0 + 1.0 / 86400.0)), "2010-12-31 00:00:01");
  // Half a second before midnight rounds up into the next day, not to 24:00:00.
  EXPECT_EQ(dateText(jet::splitDateTime(40543.0 + 86399.6 / 86400.0)), "2011-01-01 00:00:00");
  // A value a hair under a whole second (as doubles store 15:30) still reads 15:30:00.
  EXPECT_EQ(dateText(jet::splitDateTime(40543.0 + 55800.0 / 86400.0 - 1e-10)),
            "2010-12-31 15:30:00");
  // Before the epoch the fraction also rounds by its magnitude.
  EXPECT_EQ(dateText(jet::splitDateTime(-1.0 - 86399.0 / 86400.0)), "1899-12-29 23:59:59");
}

TEST(DateTimeSplit, FarDates) {
  EXPECT_EQ(dateText(jet::splitDateTime(2958101.0)), "9999-01-01 00:00:00");
  EXPECT_EQ(dateText(jet::splitDateTime(2958465.0 + 86399.0 / 86400.0)), "9999-12-31 23:59:59");
  EXPECT_EQ(dateText(jet::splitDateTime(-728.0)), "1898-01-01 00:00:00");
  EXPECT_EQ(dateText(jet::splitDateTime(-463126.0)), "0632-01-01 00:00:00");
  EXPECT_EQ(dateText(jet::splitDateTime(-657434.0)), "0100-01-01 00:00:00");
  // 1900 is no leap year; 2000 is.
  EXPECT_EQ(dateText(jet::splitDateTime(61.0)), "1900-03-01 00:00:00");
  EXPECT_EQ(dateText(jet::splitDateTime(36585.0)), "2000-02-29 00:00:00");
}

TEST(DateTimeSplit, ValuesNoCalendarHoldsStillGiveADate) {
  // A damaged file can hold any 8 bytes; the split must stay defined.
  for (double d : {std::nan(""), HUGE_VAL, -HUGE_VAL, 1e300, -1e300, 9.3e18, -9.3e18}) {
    DateTimeParts p = jet::splitDateTime(d);
    EXPECT_GE(p.month, 1) << d;
    EXPECT_LE(p.month, 12) << d;
    EXPECT_GE(p.day, 1) << d;
    EXPECT_LE(p.day, 31) << d;
    EXPECT_GE(p.hour, 0) << d;
    EXPECT_LE(p.hour, 23) << d;
  }
}

TEST(DateTimeJoin, InverseOfTheWorkedExamples) {
  EXPECT_DOUBLE_EQ(jet::joinDateTime({1899, 12, 30, 0, 0, 0}), 0.0);
  EXPECT_DOUBLE_EQ(jet::joinDateTime({1899, 12, 31, 2, 24, 0}), 1.1);
  EXPECT_DOUBLE_EQ(jet::joinDateTime({1899, 12, 29, 2, 24, 0}), -1.1);
  EXPECT_DOUBLE_EQ(jet::joinDateTime({1899, 12, 29, 6, 0, 0}), -1.25);
  EXPECT_DOUBLE_EQ(jet::joinDateTime({1899, 12, 30, 12, 0, 0}), 0.5);
  EXPECT_DOUBLE_EQ(jet::joinDateTime({1899, 12, 29, 0, 0, 0}), -1.0);
  EXPECT_DOUBLE_EQ(jet::joinDateTime({9999, 1, 1, 0, 0, 0}), 2958101.0);
  EXPECT_DOUBLE_EQ(jet::joinDateTime({1898, 1, 1, 0, 0, 0}), -728.0);
  EXPECT_DOUBLE_EQ(jet::joinDateTime({632, 1, 1, 0, 0, 0}), -463126.0);
  EXPECT_DOUBLE_EQ(jet::joinDateTime({2010, 12, 31, 0, 0, 0}), 40543.0);
}

TEST(DateTimeJoin, RoundTripsEverySecondKindOfDay) {
  // Days on both sides of the epoch, times at the edges of the day.
  const int days[][3] = {{1899, 12, 30}, {1899, 12, 29}, {1899, 12, 31}, {1800, 2, 28},
                         {1900, 2, 28},  {1900, 3, 1},   {2010, 12, 31}, {9999, 12, 31}};
  const int times[][3] = {{0, 0, 0}, {0, 0, 1}, {12, 0, 0}, {15, 30, 0}, {23, 59, 59}};
  for (const auto& d : days) {
    for (const auto& t : times) {
      DateTimeParts p{d[0], d[1], d[2], t[0], t[1], t[2]};
      EXPECT_EQ(dateText(jet::splitDateTime(jet::joinDateTime(p))), dateText(p));
    }
  }
}

// testIndexCodesV1997.mdb Table6 holds the raw values 1.1 (row18) and -1.1
// (row19); the other rows are what mdb-export prints for them.
TEST(DateTimeFixture, Jet3NegativeFractionalDates) {
  REQUIRE_FIXTURES();
  jet::Database db(testsupport::fixture("real/jet3/testIndexCodesV1997.mdb").string());
  jet::Table t = db.table("Table6");
  const size_t data = col(t, "data");
  auto row = [&](const char* name) { return findRow(t, "name", Value::text(name)).value()[data]; };

  EXPECT_EQ(row("row18"), Value::dateTime(1.1));
  EXPECT_EQ(dateText(row("row18")), "1899-12-31 02:24:00");
  EXPECT_EQ(row("row19"), Value::dateTime(-1.1));
  EXPECT_EQ(dateText(row("row19")), "1899-12-29 02:24:00");

  EXPECT_EQ(dateText(row("row0")), "1899-12-30 00:00:00");
  EXPECT_EQ(dateText(row("row1")), "1908-11-18 00:00:00");
  EXPECT_EQ(dateText(row("row9")), "1899-12-30 00:00:30");
  EXPECT_EQ(dateText(row("row11")), "4103-12-19 08:18:03");
  EXPECT_EQ(dateText(row("row13")), "1900-02-11 07:47:18");
  EXPECT_EQ(dateText(row("row20")), "2007-03-03 15:13:00");
  EXPECT_EQ(dateText(row("row21")), "1899-12-30 05:15:07");
  EXPECT_TRUE(row("row12").isNull());
}

// The client fixtures' boundary clients (README), read from a Jet 4 file.
TEST(DateTimeFixture, Jet4BoundaryTimesOfTheClientFile) {
  REQUIRE_FIXTURES();
  jet::Database db(testsupport::fixture("clientes/clientes-v2000-spanish.mdb").string());
  jet::Table t = db.table("clientes");
  const size_t clifre = col(t, "clifre");
  const std::pair<int, const char*> expected[] = {
      {134, "2010-12-31 00:00:00"}, {145, "2010-12-31 00:00:01"}, {147, "2010-12-31 15:30:00"},
      {148, "2010-12-30 23:59:59"}, {150, "2011-01-01 00:00:00"}, {152, "2010-12-31 00:00:00"},
      {155, "2003-05-04 10:00:00"}, {159, "2001-02-03 00:00:00"}, {160, "1996-01-01 00:00:00"},
      {161, "1999-09-09 00:00:00"}, {164, "2020-12-31 00:00:00"}, {166, "2020-12-31 12:00:00"},
      {169, "2021-01-01 00:00:00"}, {172, "2010-06-12 00:00:00"}, {173, "2010-12-06 00:00:00"},
  };
  for (const auto& [code, when] : expected) {
    auto row = findRow(t, "CLICOD", Value::integer(code));
    ASSERT_TRUE(row) << code;
    EXPECT_EQ(dateText((*row)[clifre]), when) << "CLICOD " << code;
  }
  auto nodate = findRow(t, "CLICOD", Value::integer(156));
  ASSERT_TRUE(nodate);
  EXPECT_TRUE((*nodate)[clifre].isNull());
}

// ---------------------------------------------------------------------------
// Jet 4 text: UCS-2LE, or the compressed form that starts with FF FE.

TEST(Jet4Text, PlainUcs2) {
  EXPECT_EQ(jet::decodeJet4Text(view({})), "");
  EXPECT_EQ(jet::decodeJet4Text(view({'a', 0, 'b', 0})), "ab");
  // "Мир"
  EXPECT_EQ(jet::decodeJet4Text(view({0x1C, 0x04, 0x38, 0x04, 0x40, 0x04})), "\u041c\u0438\u0440");
  // "ä€": one Latin-1 letter, one beyond it.
  EXPECT_EQ(jet::decodeJet4Text(view({0xE4, 0x00, 0xAC, 0x20})), "\u00e4\u20ac");
  // A dangling odd byte is no character.
  EXPECT_EQ(jet::decodeJet4Text(view({'a', 0, 'b'})), "a");
}

TEST(Jet4Text, CompressedBytesAreLatin1Characters) {
  EXPECT_EQ(jet::decodeJet4Text(view({0xFF, 0xFE})), "");
  EXPECT_EQ(jet::decodeJet4Text(view({0xFF, 0xFE, 'a', 'b', 'c'})), "abc");
  // "ümlaut", as a Jet 4 file stores it.
  EXPECT_EQ(jet::decodeJet4Text(view({0xFF, 0xFE, 0xFC, 'm', 'l', 'a', 'u', 't'})), "\u00fcmlaut");
  // "Muñoz": 0xF1 is ñ, not a byte of UTF-8.
  EXPECT_EQ(jet::decodeJet4Text(view({0xFF, 0xFE, 'M', 'u', 0xF1, 'o', 'z'})), "Mu\u00f1oz");
}

TEST(Jet4Text, ZeroByteTogglesBetweenCompressedAndPlain) {
  // "a", then plain "м" (U+043C), then compressed "b".
  EXPECT_EQ(jet::decodeJet4Text(view({0xFF, 0xFE, 'a', 0x00, 0x3C, 0x04, 0x00, 'b'})), "a\u043cb");
  // Starting plain right away, two characters, back to compressed.
  EXPECT_EQ(jet::decodeJet4Text(view({0xFF, 0xFE, 0x00, 'x', 0x00, 'y', 0x00, 0x00, 'z'})), "xyz");
  // Toggling twice in a row changes nothing.
  EXPECT_EQ(jet::decodeJet4Text(view({0xFF, 0xFE, 'a', 0x00, 0x00, 'b'})), "ab");
  // A plain character cut in half at the end is dropped.
  EXPECT_EQ(jet::decodeJet4Text(view({0xFF, 0xFE, 'a', 0x00, 0x3C})), "a");
}

TEST(Jet4Text, SurrogatePairs) {
  // U+1F600 = D83D DE00.
  EXPECT_EQ(jet::decodeJet4Text(view({0x3D, 0xD8, 0x00, 0xDE})), "\U0001F600");
  EXPECT_EQ(jet::decodeJet4Text(view({'a', 0, 0x3D, 0xD8, 0x00, 0xDE, 'b', 0})), "a\U0001F600b");
  // A pair written in the plain part of a compressed value (U+1F601 = D83D DE01: no
  // zero byte, which there would toggle the mode).
  EXPECT_EQ(jet::decodeJet4Text(view({0xFF, 0xFE, 'a', 0x00, 0x3D, 0xD8, 0x01, 0xDE})),
            "a\U0001F601");
  // Lone halves become U+FFFD, and the characters around them survive.
  EXPECT_EQ(jet::decodeJet4Text(view({0x3D, 0xD8})), "\uFFFD");
  EXPECT_EQ(jet::decodeJet4Text(view({0x00, 0xDE, 'x', 0})), "\uFFFDx");
  EXPECT_EQ(jet::decodeJet4Text(view({0x3D, 0xD8, 'x', 0})), "\uFFFDx");
  EXPECT_EQ(jet::decodeJet4Text(view({0x3D, 0xD8, 0x3D, 0xD8, 0x00, 0xDE})), "\uFFFD\U0001F600");
  // Every output is valid UTF-8, whatever the units.
  std::vector<uint8_t> any;
  for (int u = 0xD7F0; u < 0xE010; ++u) {
    any.push_back(static_cast<uint8_t>(u));
    any.push_back(static_cast<uint8_t>(u >> 8));
  }
  const std::string out = jet::decodeUcs2(view(any));
  for (size_t i = 0; i < out.size();) {
    const unsigned char c = static_cast<unsigned char>(out[i]);
    const size_t n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    ASSERT_LE(i + n, out.size());
    // No encoded surrogate (ED A0..BF xx).
    if (n == 3) {
      ASSERT_FALSE(c == 0xED && static_cast<unsigned char>(out[i + 1]) >= 0xA0) << i;
    }
    i += n;
  }
}

// ---------------------------------------------------------------------------
// Jet 3 text: Windows-1252.

TEST(Cp1252Text, BytesToUtf8) {
  EXPECT_EQ(jet::decodeCp1252(view({'A', 'z', '0'})), "Az0");
  EXPECT_EQ(jet::decodeCp1252(view({0xE4, 0xF1, 0xC9, 0xFF})), "\u00e4\u00f1\u00c9\u00ff");
  // 0x80..0x9F are not Latin-1 there.
  EXPECT_EQ(jet::decodeCp1252(view({0x80, 0x8A, 0x91, 0x92, 0x96, 0x9F})),
            "\u20ac\u0160\u2018\u2019\u2013\u0178");
  // The five bytes the code page leaves undefined map to the C1 controls.
  EXPECT_EQ(jet::decodeCp1252(view({0x81, 0x8D, 0x8F, 0x90, 0x9D})),
            "\u0081\u008d\u008f\u0090\u009d");
  EXPECT_EQ(jet::decodeCp1252(view({0xA0, 0xA3})), "\u00a0\u00a3");
}

TEST(CaseFolding, AsJetComparesNames) {
  EXPECT_TRUE(jet::equalsIgnoreCase("Umsätze", "UMSÄTZE"));
  EXPECT_TRUE(jet::equalsIgnoreCase("muñoz", "MUÑOZ"));
  EXPECT_TRUE(jet::equalsIgnoreCase("Table1", "tABLE1"));
  EXPECT_FALSE(jet::equalsIgnoreCase("Table1", "Table2"));
  EXPECT_FALSE(jet::equalsIgnoreCase("Table", "Table1"));
  // Only letters have a case: '@' and '`', '[' and '{' differ by the same bit.
  EXPECT_FALSE(jet::equalsIgnoreCase("a@b", "a`b"));
  EXPECT_FALSE(jet::equalsIgnoreCase("[x]", "{x}"));
  EXPECT_TRUE(jet::equalsIgnoreCase("codcli", "CodCli"));
  EXPECT_TRUE(jet::equalsIgnoreCase("Peña 1", "PEÑA 1")) << "ASCII first, then a folded rest";
  // × (U+00D7) and ÷ (U+00F7) sit where a capital and its small letter would; they are no pair.
  EXPECT_FALSE(jet::equalsIgnoreCase("\u00d7", "\u00f7"));
}

// nwind.mdb is a Jet 3 file in Windows-1252, with a table named "Umsätze".
TEST(TextFixture, Jet3WindowsTextAndNames) {
  REQUIRE_FIXTURES();
  jet::Database db(testsupport::fixture("real/jet3/nwind.mdb").string());
  const std::vector<std::string> names = db.tableNames();
  EXPECT_NE(std::find(names.begin(), names.end(), "Ums\u00e4tze"), names.end());
  EXPECT_EQ(db.table("Ums\u00e4tze").rowIds().size(), 830u);

  jet::Table c = db.table("Customers");
  auto anton = findRow(c, "CustomerID", Value::text("ANTON")).value();
  EXPECT_EQ(anton[col(c, "CompanyName")], Value::text("Antonio Moreno Taquer\u00eda"));
  EXPECT_EQ(anton[col(c, "City")], Value::text("M\u00e9xico D.F."));
  EXPECT_TRUE(anton[col(c, "Fax")].isNull());
  auto bergs = findRow(c, "CustomerID", Value::text("BERGS")).value();
  EXPECT_EQ(bergs[col(c, "CompanyName")], Value::text("Berglunds snabbk\u00f6p"));
  EXPECT_EQ(bergs[col(c, "Address")], Value::text("Berguvsv\u00e4gen  8"));
  EXPECT_EQ(bergs[col(c, "City")], Value::text("Lule\u00e5"));
}

// clientes-v2000-spanish.mdb: compressed Unicode in text and memo columns,
// plain UCS-2 in the long memos (values as mdb-export prints them).
TEST(TextFixture, Jet4CompressedAndPlainUnicode) {
  REQUIRE_FIXTURES();
  jet::Database db(testsupport::fixture("clientes/clientes-v2000-spanish.mdb").string());
  jet::Table t = db.table("clientes");
  const size_t nom = col(t, "clinom"), notas = col(t, "clinotas"), es = col(t, "clies");

  auto r262 = findRow(t, "CLICOD", Value::integer(262)).value();
  EXPECT_EQ(r262[nom], Value::text("Mu\u00f1oz Echevarr\u00eda, Luis"));
  EXPECT_EQ(r262[es], Value::text("H"));
  EXPECT_TRUE(r262[notas].isNull());

  auto r517 = findRow(t, "CLICOD", Value::integer(517)).value();
  EXPECT_EQ(r517[nom], Value::text("L\u00f3pez \u00d1\u00fa\u00f1ez, Ram\u00f3n"));
  EXPECT_EQ(r517[notas],
            Value::text("\u00faltimo retraso env\u00edo tel\u00e9fono renovaci\u00f3n, "
                        "direcci\u00f3n seg\u00fan ma\u00f1ana pedido renovaci\u00f3n, contrato "
                        "ma\u00f1ana.\r\ndirecci\u00f3n pedido pag\u00f3, descuento "
                        "direcci\u00f3n ma\u00f1ana visit\u00f3 urgente, peque\u00f1o nuevo "
                        "contrato contrato.\r\ncontrato."));

  auto r159 = findRow(t, "CLICOD", Value::integer(159)).value();
  EXPECT_EQ(r159[notas], Value::text("tel\u00e9fono retraso oficina urgente."));
}

// ---------------------------------------------------------------------------
// Numeric (Decimal): sign byte, then a 128-bit magnitude in four little-endian
// 32-bit words, the most significant word first.

std::vector<uint8_t> numeric(bool negative, uint32_t w0, uint32_t w1, uint32_t w2, uint32_t w3) {
  std::vector<uint8_t> b{static_cast<uint8_t>(negative ? 0x80 : 0x00)};
  for (uint32_t w : {w0, w1, w2, w3}) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(w >> (8 * i)));
  }
  return b;
}

TEST(NumericText, SignAndMagnitude) {
  EXPECT_EQ(jet::numericToString(view(numeric(false, 0, 0, 0, 1)), 0), "1");
  EXPECT_EQ(jet::numericToString(view(numeric(true, 0, 0, 0, 1)), 0), "-1");
  EXPECT_EQ(jet::numericToString(view(numeric(false, 0, 0, 0, 0)), 0), "0");
  EXPECT_EQ(jet::numericToString(view(numeric(false, 0, 0, 0, 123456789)), 0), "123456789");
  EXPECT_EQ(jet::numericToString(view(numeric(true, 0, 0, 0, 0xFFFFFFFF)), 0), "-4294967295");
}

TEST(NumericText, MostSignificantWordFirst) {
  EXPECT_EQ(jet::numericToString(view(numeric(false, 0, 0, 1, 0)), 0), "4294967296");
  EXPECT_EQ(jet::numericToString(view(numeric(false, 0, 1, 0, 0)), 0), "18446744073709551616");
  EXPECT_EQ(jet::numericToString(view(numeric(false, 1, 0, 0, 0)), 0),
            "79228162514264337593543950336");
  // 10^28 - 1, the largest value of precision 28.
  EXPECT_EQ(jet::numericToString(view(numeric(false, 0, 0x204FCE5E, 0x3E250261, 0x0FFFFFFF)), 0),
            "9999999999999999999999999999");
  EXPECT_EQ(
      jet::numericToString(view(numeric(false, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF)), 0),
      "340282366920938463463374607431768211455");
}

TEST(NumericText, ScalePlacesTheDecimalPoint) {
  EXPECT_EQ(jet::numericToString(view(numeric(false, 0, 0, 0, 1234)), 2), "12.34");
  EXPECT_EQ(jet::numericToString(view(numeric(false, 0, 0, 0, 5)), 2), "0.05");
  EXPECT_EQ(jet::numericToString(view(numeric(true, 0, 0, 0, 5)), 2), "-0.05");
  EXPECT_EQ(jet::numericToString(view(numeric(false, 0, 0, 0, 50)), 2), "0.50");
  EXPECT_EQ(jet::numericToString(view(numeric(false, 0, 0, 0, 100)), 2), "1.00");
  EXPECT_EQ(jet::numericToString(view(numeric(false, 0, 0, 0, 0)), 4), "0.0000");
  EXPECT_EQ(jet::numericToString(view(numeric(false, 0, 0, 0, 7)), 28),
            "0.0000000000000000000000000007");
  EXPECT_EQ(jet::numericToString(view(numeric(false, 0, 0, 1, 0)), 3), "4294967.296");
}

TEST(NumericText, NegativeZeroIsZero) {
  // The sign bit of a zero magnitude shows no sign, as Access shows it.
  EXPECT_EQ(jet::numericToString(view(numeric(true, 0, 0, 0, 0)), 0), "0");
  EXPECT_EQ(jet::numericToString(view(numeric(true, 0, 0, 0, 0)), 2), "0.00");
}

TEST(NumericText, ShortBytesAreAnError) {
  std::vector<uint8_t> short_bytes(16, 0);
  EXPECT_THROW(jet::numericToString(view(short_bytes), 0), jet::OutOfRange);
}

// fixedNumericTestV2000.mdb: Numeric(18,0) columns; mdb-export prints
// "some data",1,0,0,4,-1,1.
TEST(NumericFixture, Jet4FixedNumericColumns) {
  REQUIRE_FIXTURES();
  jet::Database db(testsupport::fixture("real/jet4/fixedNumericTestV2000.mdb").string());
  jet::Table t = db.table("test");
  std::vector<jet::RowId> ids = t.rowIds();
  ASSERT_EQ(ids.size(), 1u);
  std::vector<Value> row = t.readRow(ids[0]);
  std::vector<Value> expected{Value::text("some data"), Value::decimal("1"), Value::decimal("0"),
                              Value::decimal("0"),      Value::decimal("4"), Value::decimal("-1"),
                              Value::decimal("1")};
  EXPECT_EQ(row, expected);
  EXPECT_EQ(t.def().columns[1].precision, 18);
  EXPECT_EQ(t.def().columns[1].scale, 0);
}

// ---------------------------------------------------------------------------
// Currency: a signed 64-bit count of ten-thousandths.

TEST(CurrencyFixture, Jet3SignedAmounts) {
  REQUIRE_FIXTURES();
  jet::Database db(testsupport::fixture("real/jet3/testIndexCodesV1997.mdb").string());
  jet::Table t = db.table("Table8");
  const size_t data = col(t, "data");
  // mdb-export: row16 -8540982423.4500, row11 804983.3500, row19 -1.1000, row5 empty.
  const std::pair<const char*, int64_t> expected[] = {
      {"row0", 0},
      {"row1", 32450000},
      {"row11", 8049833500},
      {"row12", -8345737500},
      {"row14", -944300},
      {"row16", -85409824234500},
      {"row18", 11000},
      {"row19", -11000},
      {"row2", 3098409830000},
  };
  for (const auto& [name, scaled] : expected) {
    auto row = findRow(t, "name", Value::text(name));
    ASSERT_TRUE(row) << name;
    EXPECT_EQ((*row)[data], Value::currency(scaled)) << name;
  }
  EXPECT_TRUE(findRow(t, "name", Value::text("row5")).value()[data].isNull());
}

TEST(SingleFixture, Jet3SingleValues) {
  REQUIRE_FIXTURES();
  jet::Database db(testsupport::fixture("real/jet3/testIndexCodesV1997.mdb").string());
  jet::Table t = db.table("Table5");
  const size_t data = col(t, "data");
  EXPECT_EQ(findRow(t, "name", Value::text("row18")).value()[data], Value::single(1.1f));
  EXPECT_EQ(findRow(t, "name", Value::text("row19")).value()[data], Value::single(-1.1f));
  EXPECT_EQ(findRow(t, "name", Value::text("row13")).value()[data], Value::single(43.32f));
}

}  // namespace
