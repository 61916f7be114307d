// Index keys built from values: byte layouts Access uses (examples taken
// from real files), and the property that makes them keys at all: byte
// order of the encodings is the order of the values, reversed for
// descending columns. Text in the "General" order of both versions, and
// values no rule covers reported instead of guessed.
#include "index/index_key.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "format/format.h"
#include "jet/value.h"

namespace {

using Bytes = std::vector<uint8_t>;

const jet::Format& jet3() {
  return jet::formatFor(jet::Version::Jet3);
}
const jet::Format& jet4() {
  return jet::formatFor(jet::Version::Jet4);
}
constexpr jet::SortOrder kGeneral{jet::kGeneralSortLcid, 0};

jet::Column column(jet::ColumnType type, uint8_t scale = 0) {
  jet::Column c;
  c.name = "c";
  c.type_code = static_cast<uint8_t>(type);
  c.scale = scale;
  c.code_page = 1252;  // Jet 3 text columns of the fixtures
  return c;
}

Bytes key(const jet::Format& fmt, jet::ColumnType type, const jet::Value& v, bool asc = true,
          uint8_t scale = 0) {
  jet::KeyResult r = jet::encodeKeyColumn(fmt, column(type, scale), kGeneral, asc, v);
  EXPECT_TRUE(r.ok()) << r.problem;
  return r.bytes;
}

Bytes text4(const std::string& s, bool asc = true) {
  return key(jet4(), jet::ColumnType::Text, jet::Value::text(s), asc);
}
Bytes text3(const std::string& s, bool asc = true) {
  return key(jet3(), jet::ColumnType::Text, jet::Value::text(s), asc);
}

// Keys of `values` (in increasing order) must increase strictly ascending and
// decrease strictly descending, null before everything ascending and after
// everything descending.
void expectOrdered(const jet::Format& fmt, jet::ColumnType type,
                   const std::vector<jet::Value>& values, uint8_t scale = 0,
                   bool descending_too = true) {
  for (bool asc : {true, false}) {
    if (!asc && !descending_too) break;
    std::vector<Bytes> keys{key(fmt, type, jet::Value::null(), asc, scale)};
    for (const jet::Value& v : values) keys.push_back(key(fmt, type, v, asc, scale));
    for (size_t i = 1; i < keys.size(); ++i) {
      if (asc) {
        EXPECT_LT(keys[i - 1], keys[i]) << "ascending, value " << i;
      } else if (i > 1) {
        EXPECT_GT(keys[i - 1], keys[i]) << "descending, value " << i;
      } else {
        EXPECT_GT(keys[0], keys[1]) << "descending null";
      }
    }
  }
}

TEST(IndexKeyNumbers, LayoutsSeenInRealFiles) {
  using T = jet::ColumnType;
  EXPECT_EQ(key(jet4(), T::Long, jet::Value::integer(1)), (Bytes{0x7F, 0x80, 0, 0, 1}));
  EXPECT_EQ(key(jet4(), T::Long, jet::Value::integer(-1)), (Bytes{0x7F, 0x7F, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(key(jet4(), T::Long, jet::Value::integer(1), false),
            (Bytes{0x80, 0x7F, 0xFF, 0xFF, 0xFE}));
  EXPECT_EQ(key(jet4(), T::Long, jet::Value::null()), (Bytes{0x00}));
  EXPECT_EQ(key(jet4(), T::Long, jet::Value::null(), false), (Bytes{0xFF}));
  EXPECT_EQ(key(jet3(), T::Integer, jet::Value::integer(-2)), (Bytes{0x7F, 0x7F, 0xFE}));
  EXPECT_EQ(key(jet3(), T::Byte, jet::Value::integer(200)), (Bytes{0x7F, 200}));
  EXPECT_EQ(key(jet3(), T::Byte, jet::Value::integer(200), false), (Bytes{0x80, 55}));
  // 1.5 = 3FF8 0000 0000 0000; -1.5 inverted whole.
  EXPECT_EQ(key(jet3(), T::Double, jet::Value::real(1.5)),
            (Bytes{0x7F, 0xBF, 0xF8, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(key(jet3(), T::Double, jet::Value::real(-1.5)),
            (Bytes{0x7F, 0x40, 0x07, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
  // Currency: the amount times 10 000 as a 64-bit integer.
  EXPECT_EQ(key(jet3(), T::Currency, jet::Value::currency(35000)),
            (Bytes{0x7F, 0x80, 0, 0, 0, 0, 0, 0x88, 0xB8}));
}

TEST(IndexKeyNumbers, ByteOrderIsValueOrder) {
  using V = jet::Value;
  using T = jet::ColumnType;
  expectOrdered(jet4(), T::Byte, {V::integer(0), V::integer(1), V::integer(127), V::integer(255)});
  expectOrdered(
      jet4(), T::Integer,
      {V::integer(-32768), V::integer(-1), V::integer(0), V::integer(1), V::integer(32767)});
  expectOrdered(jet4(), T::Long,
                {V::integer(INT32_MIN), V::integer(-65536), V::integer(-1), V::integer(0),
                 V::integer(255), V::integer(256), V::integer(INT32_MAX)});
  expectOrdered(jet3(), T::Currency,
                {V::currency(INT64_MIN), V::currency(-10000), V::currency(-1), V::currency(0),
                 V::currency(1), V::currency(INT64_MAX)});
  expectOrdered(jet3(), T::Single,
                {V::single(-1e30f), V::single(-2.5f), V::single(-1e-30f), V::single(0.0f),
                 V::single(1e-30f), V::single(0.75f), V::single(3e30f)});
  expectOrdered(jet4(), T::Double,
                {V::real(-1e300), V::real(-2.0), V::real(-1.9999), V::real(-1e-300), V::real(0.0),
                 V::real(1e-300), V::real(1.0), V::real(1e300)});
  // Dates before 1899-12-30 are negative days.
  expectOrdered(jet4(), T::DateTime,
                {V::dateTime(-657434.0), V::dateTime(-1.25), V::dateTime(0.0), V::dateTime(40543.0),
                 V::dateTime(40543.5), V::dateTime(2958465.99)});
  expectOrdered(jet4(), T::Numeric,
                {V::decimal("-12345678901234567890.12"), V::decimal("-1.5"), V::decimal("-0.01"),
                 V::decimal("0.00"), V::decimal("0.01"), V::decimal("7"),
                 V::decimal("99999999999999999999999.99")},
                2, false);
  // Descending Numeric keys of Jet 4 keep the sign byte of the ascending
  // form (00 negative, FF positive) and invert only the magnitude, so
  // negatives still come first; within one sign the order is reversed.
  expectOrdered(jet4(), T::Numeric, {V::decimal("1"), V::decimal("2"), V::decimal("300")});
  expectOrdered(jet4(), T::Numeric, {V::decimal("-300"), V::decimal("-2"), V::decimal("-1")});
  EXPECT_LT(key(jet4(), T::Numeric, V::decimal("-1"), false),
            key(jet4(), T::Numeric, V::decimal("1"), false));
}

TEST(IndexKeyNumbers, BooleanHasNoNull) {
  using T = jet::ColumnType;
  EXPECT_EQ(key(jet3(), T::Boolean, jet::Value::boolean(true)), (Bytes{0x7F, 0x00}));
  EXPECT_EQ(key(jet3(), T::Boolean, jet::Value::boolean(false)), (Bytes{0x7F, 0xFF}));
  EXPECT_EQ(key(jet3(), T::Boolean, jet::Value::boolean(true), false), (Bytes{0x80, 0xFF}));
  EXPECT_EQ(key(jet3(), T::Boolean, jet::Value::boolean(false), false), (Bytes{0x80, 0x00}));
  EXPECT_EQ(key(jet3(), T::Boolean, jet::Value::null()), (Bytes{0x7F, 0xFF}));
}

TEST(IndexKeyNumbers, NumericLayoutAndLimits) {
  using T = jet::ColumnType;
  // Flag, sign byte, 16 bytes of magnitude.
  Bytes one(18, 0x00);
  one[0] = 0x7F;
  one[1] = 0xFF;
  one[17] = 0x01;
  EXPECT_EQ(key(jet4(), T::Numeric, jet::Value::decimal("1")), one);
  Bytes minus_one(18, 0xFF);
  minus_one[0] = 0x7F;
  minus_one[1] = 0x00;
  minus_one[17] = 0xFE;
  EXPECT_EQ(key(jet4(), T::Numeric, jet::Value::decimal("-1")), minus_one);
  // Scaled to the column: 12.5 in a scale-2 column is 1250 (0x04E2).
  Bytes scaled = key(jet4(), T::Numeric, jet::Value::decimal("12.5"), true, 2);
  ASSERT_EQ(scaled.size(), 18u);
  EXPECT_EQ(scaled[16], 0x04);
  EXPECT_EQ(scaled[17], 0xE2);
  // Zero has no sign.
  EXPECT_EQ(key(jet4(), T::Numeric, jet::Value::decimal("-0.00"), true, 2),
            key(jet4(), T::Numeric, jet::Value::decimal("0"), true, 2));

  jet::KeyResult r = jet::encodeKeyColumn(jet4(), column(T::Numeric, 1), kGeneral, true,
                                          jet::Value::decimal("1.25"));
  EXPECT_FALSE(r.ok());
  EXPECT_TRUE(r.bytes.empty());
  r = jet::encodeKeyColumn(jet3(), column(T::Numeric), kGeneral, true, jet::Value::decimal("1"));
  EXPECT_FALSE(r.ok());
}

TEST(IndexKeyBinary, GroupsOfEightWithLengths) {
  using T = jet::ColumnType;
  std::string ten = "\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0A";
  EXPECT_EQ(key(jet4(), T::Binary, jet::Value::bytes(ten)),
            (Bytes{0x7F, 1, 2, 3, 4, 5, 6, 7, 8, 0x09, 9, 10, 0, 0, 0, 0, 0, 0, 2}));
  // Descending inverts the data and the final length, not the 09 mark.
  EXPECT_EQ(key(jet4(), T::Binary, jet::Value::bytes(ten), false),
            (Bytes{0x80, 0xFE, 0xFD, 0xFC, 0xFB, 0xFA, 0xF9, 0xF8, 0xF7, 0x09, 0xF6, 0xF5, 0xFF,
                   0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFD}));
  EXPECT_EQ(key(jet4(), T::Binary, jet::Value::bytes(std::string(8, '\xAA'))),
            (Bytes{0x7F, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0x08}));

  // {04030201-0605-0807-090A-0B0C0D0E0F10} is stored 01 02 03 04 05 06 07 08 ...;
  // the key holds it as written.
  std::array<uint8_t, 16> raw{};
  for (size_t i = 0; i < 16; ++i) raw[i] = static_cast<uint8_t>(i + 1);
  EXPECT_EQ(key(jet4(), T::Guid, jet::Value::guid(raw)),
            (Bytes{0x7F, 4, 3, 2, 1, 6, 5, 8, 7, 0x09, 9, 10, 11, 12, 13, 14, 15, 16, 8}));
}

TEST(IndexKeyTextJet4, GeneralOrderLayouts) {
  EXPECT_EQ(text4("a"), (Bytes{0x7F, 0x4A, 0x01, 0x00}));
  EXPECT_EQ(text4("Ab"), (Bytes{0x7F, 0x4A, 0x4C, 0x01, 0x00}));
  EXPECT_EQ(text4(""), (Bytes{0x7F, 0x01, 0x00}));
  EXPECT_EQ(text4("é"), (Bytes{0x7F, 0x51, 0x01, 0x0E, 0x00}));
  // Accent codes sit at their letter's position; letters before hold 02.
  EXPECT_EQ(text4("Peña"), (Bytes{0x7F, 0x66, 0x51, 0x62, 0x4A, 0x01, 0x02, 0x02, 0x19, 0x00}));
  // Unprintable characters ("-", "'") weigh nothing inline and are listed
  // after three 01 marks with their position (as in fixedTextTestV2000).
  EXPECT_EQ(text4("-1"), (Bytes{0x7F, 0x38, 0x01, 0x01, 0x01, 0x01, 0x80, 0x07, 0x06, 0x82, 0x00}));
  EXPECT_EQ(text4("O'a"),
            (Bytes{0x7F, 0x64, 0x4A, 0x01, 0x01, 0x01, 0x01, 0x80, 0x0B, 0x06, 0x80, 0x00}));
  // Descending: everything after the flag inverted, then a 00.
  EXPECT_EQ(text4("a", false), (Bytes{0x80, 0xB5, 0xFE, 0xFF, 0x00}));
}

TEST(IndexKeyTextJet4, SpanishLettersAndCase) {
  struct Case {
    const char* lower;
    const char* upper;
    uint8_t base;
    uint8_t accent;
  };
  for (const Case& c :
       {Case{"á", "Á", 0x4A, 0x0E}, Case{"é", "É", 0x51, 0x0E}, Case{"í", "Í", 0x59, 0x0E},
        Case{"ó", "Ó", 0x64, 0x0E}, Case{"ú", "Ú", 0x6F, 0x0E}, Case{"ü", "Ü", 0x6F, 0x13},
        Case{"ñ", "Ñ", 0x62, 0x19}}) {
    SCOPED_TRACE(c.lower);
    EXPECT_EQ(text4(c.lower), (Bytes{0x7F, c.base, 0x01, c.accent, 0x00}));
    EXPECT_EQ(text4(c.upper), text4(c.lower));
  }
  EXPECT_EQ(text4("MUÑOZ"), text4("muñoz"));
  // The accent decides only between words equal without it: "pena" < "peña" < "penb".
  EXPECT_LT(text4("pena"), text4("peña"));
  EXPECT_LT(text4("peña"), text4("penb"));
  EXPECT_LT(text4("Ibanez"), text4("Ibáñez"));
}

TEST(IndexKeyTextJet4, TrailingSpacesAndLength) {
  EXPECT_EQ(text4("ab   "), text4("ab"));
  EXPECT_NE(text4("  ab"), text4("ab"));
  // Only the first 255 characters count.
  EXPECT_EQ(text4(std::string(300, 'x')), text4(std::string(255, 'x')));
  EXPECT_EQ(text4(std::string(255, 'x')).size(), 1u + 255 + 2);
}

TEST(IndexKeyTextJet3, GeneralOrderLayouts) {
  EXPECT_EQ(text3("abcdefg"), (Bytes{0x7F, 0x60, 0x61, 0x62, 0x64, 0x66, 0x67, 0x68, 0x00}));
  EXPECT_EQ(text3("ABCDEFG"), text3("abcdefg"));
  // Accents as nibbles: 0, one 2 per accent-bearing letter (A C E I N O S U Y)
  // since the previous accent, the accent, a closing 0.
  EXPECT_EQ(text3("Peña"), (Bytes{0x7F, 0x73, 0x66, 0x70, 0x60, 0x02, 0x70}));
  // From nwind.mdb: ß counts as two such letters.
  Bytes plutzer = text3("Plutzer Lebensmittelgroßmärkte AG");
  ASSERT_GE(plutzer.size(), 7u);
  EXPECT_EQ(Bytes(plutzer.end() - 7, plutzer.end()),
            (Bytes{0x02, 0x22, 0x22, 0x22, 0x22, 0x22, 0x60}));
  EXPECT_EQ(text3("a", false), (Bytes{0x80, 0x9F, 0xFF}));
  // Windows-1252 characters beyond Latin-1 use their code page byte: € is 0x80.
  EXPECT_EQ(text3("€"), (Bytes{0x7F, 0x10, 0x00}));
}

TEST(IndexKeyTextJet3, SpanishLettersAndCase) {
  struct Case {
    const char* lower;
    const char* upper;
    uint8_t base;
    uint8_t accent;
  };
  for (const Case& c : {Case{"á", "Á", 0x60, 4}, Case{"é", "É", 0x66, 4}, Case{"í", "Í", 0x6A, 4},
                        Case{"ó", "Ó", 0x72, 4}, Case{"ú", "Ú", 0x78, 4}, Case{"ü", "Ü", 0x78, 6},
                        Case{"ñ", "Ñ", 0x70, 7}}) {
    SCOPED_TRACE(c.lower);
    EXPECT_EQ(text3(c.lower), (Bytes{0x7F, c.base, static_cast<uint8_t>(c.accent), 0x00}));
    EXPECT_EQ(text3(c.upper), text3(c.lower));
  }
  EXPECT_LT(text3("pena"), text3("peña"));
  EXPECT_LT(text3("peña"), text3("penb"));
}

TEST(IndexKeyText, UnknownCharactersAndOrdersAreReported) {
  // Jet 4 has rules up to U+00FF only.
  jet::KeyResult r = jet::encodeTextKey(jet4(), kGeneral, true, "a漢b€");
  EXPECT_FALSE(r.ok());
  EXPECT_TRUE(r.bytes.empty());
  EXPECT_EQ(r.unsupported_chars, (std::vector<uint32_t>{0x6F22, 0x20AC}));
  EXPECT_NE(r.problem.find("U+6F22"), std::string::npos) << r.problem;
  // Jet 3 text must fit Windows-1252.
  r = jet::encodeTextKey(jet3(), kGeneral, true, "Ā");
  EXPECT_FALSE(r.ok());
  EXPECT_EQ(r.unsupported_chars, (std::vector<uint32_t>{0x100}));
  // Other sort orders: the Access 2010 "General", or a national order.
  EXPECT_FALSE(jet::encodeTextKey(jet4(), {jet::kGeneralSortLcid, 1}, true, "a").ok());
  EXPECT_FALSE(jet::encodeTextKey(jet4(), {3082, 0}, true, "a").ok());
  EXPECT_FALSE(jet::encodeTextKey(jet3(), {0, 0}, true, "a").ok());
  EXPECT_FALSE(jet::encodeTextKey(jet4(), kGeneral, true, "\xC3").ok());  // cut UTF-8
  // A column whose value has no rule makes the whole key fail.
  jet::KeyResult col = jet::encodeKeyColumn(jet4(), column(jet::ColumnType::Text), {3082, 0}, true,
                                            jet::Value::text("a"));
  EXPECT_FALSE(col.ok());
  EXPECT_TRUE(col.bytes.empty());
  // Jet 3 weights are defined for Windows-1252 columns only.
  jet::Column cyrillic = column(jet::ColumnType::Text);
  cyrillic.code_page = 1251;
  EXPECT_FALSE(jet::encodeKeyColumn(jet3(), cyrillic, kGeneral, true, jet::Value::text("a")).ok());
  // Not indexable types.
  EXPECT_FALSE(jet::encodeKeyColumn(jet4(), column(jet::ColumnType::Ole), kGeneral, true,
                                    jet::Value::bytes("x"))
                   .ok());
}

TEST(IndexKeyEncoder, ColumnsInIndexOrderWithTheirDirections) {
  jet::TableDef def;
  jet::Column id = column(jet::ColumnType::Long);
  id.number = 0;
  jet::Column name = column(jet::ColumnType::Text);
  name.number = 3;
  name.name = "name";
  def.columns = {id, name};
  jet::RealIndex idx;
  idx.columns = {{3, true}, {0, false}};
  jet::IndexKeyEncoder enc(jet4(), def, idx, {{}, kGeneral});

  jet::KeyResult r = enc.encode({jet::Value::integer(1), jet::Value::text("b")});
  ASSERT_TRUE(r.ok()) << r.problem;
  EXPECT_EQ(r.bytes, (Bytes{0x7F, 0x4C, 0x01, 0x00, 0x80, 0x7F, 0xFF, 0xFF, 0xFE}));
  EXPECT_FALSE(enc.allNull({jet::Value::null(), jet::Value::text("b")}));
  EXPECT_TRUE(enc.allNull({jet::Value::null(), jet::Value::null()}));
  EXPECT_EQ(enc.encode({jet::Value::null(), jet::Value::null()}).bytes, (Bytes{0x00, 0xFF}));

  // The text column's sort order comes with the column: unknown order, no key.
  jet::IndexKeyEncoder other(jet4(), def, idx, {{}, {3082, 0}});
  jet::KeyResult bad = other.encode({jet::Value::integer(1), jet::Value::text("b")});
  EXPECT_FALSE(bad.ok());
  EXPECT_NE(bad.problem.find("name"), std::string::npos) << bad.problem;

  // An index over a column the table lacks.
  jet::RealIndex broken;
  broken.columns = {{7, true}};
  EXPECT_FALSE(jet::IndexKeyEncoder(jet4(), def, broken, {}).encode({}).ok());
}

}  // namespace
