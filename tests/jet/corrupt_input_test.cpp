// Damaged and foreign files: every way of reading them ends in a JetError
// (3343 naming the file, or the open errors 3024/3051) or in a normal read,
// never in a crash, a hang, a sanitizer report or another exception type.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "format/data_page.h"
#include "format/row_layout.h"
#include "format/usage_map.h"
#include "index/index_lookup.h"
#include "jet/database.h"
#include "jet/error.h"
#include "reader_test_util.h"
#include "support/shared_fixtures.h"

namespace {

namespace fs = std::filesystem;
using readertest::Outcome;
using readertest::patchFile;
using readertest::patchU32;
using readertest::readFile;
using readertest::tryReadEverything;
using readertest::writeFile;

// The error a path gives when opened and read completely.
Outcome readAll(const fs::path& p) {
  return tryReadEverything(p.string());
}

::testing::AssertionResult isBadFormat(const Outcome& o, const fs::path& p,
                                       const std::string& reason = {}) {
  if (o.kind != Outcome::Jet) {
    return ::testing::AssertionFailure()
           << (o.kind == Outcome::Ok ? "read without error" : o.message);
  }
  if (o.number != jet::err::kBadFormat) {
    return ::testing::AssertionFailure() << "error " << o.number << ": " << o.message;
  }
  const std::string prefix = "Formato de base de datos '" + p.string() + "' no reconocido: ";
  if (o.message.rfind(prefix, 0) != 0) {
    return ::testing::AssertionFailure() << "message does not name the file: " << o.message;
  }
  if (!reason.empty() && o.message.find(reason) == std::string::npos) {
    return ::testing::AssertionFailure() << "reason '" << reason << "' missing: " << o.message;
  }
  return ::testing::AssertionSuccess();
}

// Either a clean read or error 3343 naming the file.
::testing::AssertionResult readsOrBadFormat(const Outcome& o, const fs::path& p) {
  if (o.kind == Outcome::Ok) return ::testing::AssertionSuccess();
  return isBadFormat(o, p);
}

fs::path copyFixture(const std::string& relative, const std::string& as = {}) {
  fs::path src = testsupport::fixture(relative);
  fs::path dst = readertest::scratchDir() / (as.empty() ? src.filename().string() : as);
  fs::copy_file(src, dst, fs::copy_options::overwrite_existing);
  return dst;
}

// Calls `fn` with the error a JetError-throwing call gives.
template <typename Fn>
Outcome capture(Fn&& fn) {
  Outcome o;
  try {
    fn();
  } catch (const jet::JetError& e) {
    o.kind = Outcome::Jet;
    o.number = e.number();
    o.message = e.what();
  } catch (const std::exception& e) {
    o.kind = Outcome::Other;
    o.message = std::string("exception escaped: ") + e.what();
  }
  return o;
}

// File offset of bytes the engine handed out from page `page`.
size_t fileOffset(const jet::Database& db, uint32_t page, jet::ByteView bytes) {
  jet::ByteView p = db.pages().page(page);
  EXPECT_GE(bytes.data(), p.data());
  EXPECT_LE(bytes.data() + bytes.size(), p.data() + p.size());
  return page * db.format().page_size + static_cast<size_t>(bytes.data() - p.data());
}

// ---------------------------------------------------------------------------
// Files that are no database.

TEST(ForeignFiles, MissingFileIs3024) {
  const fs::path dir = readertest::scratchDir();
  for (const fs::path& p : {dir / "nada.mdb", dir / "no-such-folder" / "nada.mdb"}) {
    Outcome o = capture([&] { jet::Database db(p.string()); });
    ASSERT_EQ(o.kind, Outcome::Jet) << o.message;
    EXPECT_EQ(o.number, jet::err::kFileNotFound);
    EXPECT_NE(o.message.find(p.string()), std::string::npos) << o.message;
  }
}

TEST(ForeignFiles, FolderIsNoFile) {
  const fs::path dir = readertest::scratchDir();
  Outcome o = capture([&] { jet::Database db(dir.string()); });
  ASSERT_EQ(o.kind, Outcome::Jet) << o.message;
  EXPECT_EQ(o.number, jet::err::kCannotOpen);
}

TEST(ForeignFiles, EmptyFile) {
  const fs::path p = readertest::scratchDir() / "vacia.mdb";
  writeFile(p, {});
  EXPECT_TRUE(isBadFormat(readAll(p), p, "vacío"));
}

TEST(ForeignFiles, NotAnAccessFile) {
  const fs::path dir = readertest::scratchDir();
  std::vector<std::vector<uint8_t>> contents;
  std::string text = "CLICOD;clinom;clies\r\n1;Pérez;H\r\n";
  while (text.size() < 8192) text += text;
  contents.emplace_back(text.begin(), text.end());
  contents.emplace_back(12288, 0x00);
  contents.emplace_back(8192, 0xFF);
  contents.push_back({0x00, 0x01, 0x00, 0x00});  // the magic alone
  std::vector<uint8_t> png{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  png.resize(4096 * 4, 0);
  contents.push_back(png);
  std::mt19937 rng(7);
  std::vector<uint8_t> noise(4096 * 8);
  for (uint8_t& b : noise) b = static_cast<uint8_t>(rng());
  contents.push_back(noise);
  std::vector<uint8_t> other(4096 * 4, 0);  // right magic, another engine's name
  std::memcpy(other.data(), "\x00\x01\x00\x00MSISAM Database", 19);
  contents.push_back(other);

  for (size_t i = 0; i < contents.size(); ++i) {
    const fs::path p = dir / ("ajeno" + std::to_string(i) + ".mdb");
    writeFile(p, contents[i]);
    EXPECT_TRUE(isBadFormat(readAll(p), p)) << "content " << i;
  }
}

// ---------------------------------------------------------------------------
// Header: later formats and encryption.

class DamagedHeader : public ::testing::Test {
 protected:
  void SetUp() override { REQUIRE_FIXTURES(); }
};

TEST_F(DamagedHeader, AccdbIsNotSupported) {
  const fs::path p = copyFixture("real/jet4/delTestV2000.mdb", "ace.mdb");
  const char name[] = "Standard ACE DB";
  patchFile(p, 4, std::vector<uint8_t>(name, name + sizeof name));
  patchFile(p, 0x14, {2});
  EXPECT_TRUE(isBadFormat(readAll(p), p, "formato no admitido"));

  // The header alone, as the first page of an .accdb.
  const fs::path h = p.parent_path() / "ace-header.accdb";
  std::vector<uint8_t> header(4096, 0);
  std::memcpy(header.data(), "\x00\x01\x00\x00Standard ACE DB", 20);
  header[0x14] = 3;
  writeFile(h, header);
  EXPECT_TRUE(isBadFormat(readAll(h), h, "formato no admitido"));
}

TEST_F(DamagedHeader, LaterEngineVersionIsNotSupported) {
  const fs::path p = copyFixture("real/jet4/delTestV2000.mdb", "v5.mdb");
  for (uint8_t v : {2, 3, 5, 0xFF}) {
    patchFile(p, 0x14, {v});
    EXPECT_TRUE(isBadFormat(readAll(p), p, "formato no admitido")) << int{v};
  }
}

// A non-zero page key at 0x3E once the header is unmasked: the masking is an
// XOR, so flipping a stored bit flips the key's bit.
TEST_F(DamagedHeader, EncryptedDatabaseIsRefused) {
  for (const char* file : {"real/jet3/delTestV1997.mdb", "real/jet4/delTestV2000.mdb"}) {
    for (size_t at : {0x3E, 0x41}) {
      const fs::path p = copyFixture(file);
      patchFile(p, at, {static_cast<uint8_t>(readFile(p)[at] ^ 0x5A)});
      EXPECT_TRUE(isBadFormat(readAll(p), p, "cifrada")) << file << " @" << at;
    }
  }
}

// A password is text padded with zeros: a character after a zero in the
// password area is damage, not a password (a flipped stored bit flips the
// unmasked bit).
TEST_F(DamagedHeader, APasswordAreaThatHoldsNoTextIsDamage) {
  for (const auto& [file, at] : {std::pair{"real/jet3/delTestV1997.mdb", 0x43},
                                 std::pair{"real/jet4/delTestV2000.mdb", 0x45}}) {
    const fs::path p = copyFixture(file);
    patchFile(p, at, {static_cast<uint8_t>(readFile(p)[at] ^ 0x41)});
    EXPECT_TRUE(isBadFormat(readAll(p), p, "la contraseña de la cabecera está dañada")) << file;
  }
}

// A Jet 3 file that claims to be Jet 4 and the other way round.
TEST_F(DamagedHeader, WrongVersionByte) {
  for (const auto& [file, version] :
       {std::pair{"real/jet3/delTestV1997.mdb", 1}, std::pair{"real/jet3/testV1997.mdb", 1},
        std::pair{"real/jet4/delTestV2000.mdb", 0}, std::pair{"real/jet4/testV2000.mdb", 0}}) {
    const fs::path p = copyFixture(file);
    patchFile(p, 0x14, {static_cast<uint8_t>(version)});
    EXPECT_TRUE(isBadFormat(readAll(p), p)) << file;
  }
}

// ---------------------------------------------------------------------------
// Truncated copies of every fixture.

TEST(TruncatedFiles, EveryFixtureAtSeveralLengths) {
  REQUIRE_FIXTURES();
  const std::vector<fs::path> fixtures = testsupport::allFixtures();
  ASSERT_FALSE(fixtures.empty());
  const fs::path dir = readertest::scratchDir();
  for (const fs::path& src : fixtures) {
    const uint64_t size = fs::file_size(src);
    const uint64_t page = src.parent_path().filename() == "jet3" ? 2048 : 4096;
    std::set<uint64_t, std::greater<>> lengths{size - 1,
                                               size - page,
                                               (size * 3 / 4) / page * page,
                                               size / 2 + 1234,
                                               size / 2 / page * page,
                                               3 * page,
                                               3 * page - 1,
                                               2 * page,
                                               page,
                                               page - 1,
                                               0x80,
                                               0x20,
                                               0x1F,
                                               1};
    const fs::path p = dir / src.filename();
    fs::copy_file(src, p, fs::copy_options::overwrite_existing);
    for (uint64_t len : lengths) {
      if (len >= size) continue;
      fs::resize_file(p, len);  // lengths descend: each copy is a prefix of the last
      SCOPED_TRACE(src.filename().string() + " cut to " + std::to_string(len));
      const Outcome o = readAll(p);
      if (len < 3 * page || len % page != 0) {
        EXPECT_TRUE(isBadFormat(o, p, "truncado"));
      } else {
        EXPECT_TRUE(readsOrBadFormat(o, p));
      }
    }
  }
}

// ---------------------------------------------------------------------------
// Pointers that lead outside the file or round in circles.

class DamagedStructure : public ::testing::Test {
 protected:
  void SetUp() override { REQUIRE_FIXTURES(); }
};

TEST_F(DamagedStructure, UsageMapPointerOutsideTheFile) {
  const fs::path p = copyFixture("real/jet4/testV2000.mdb");
  size_t at;
  {
    jet::Database db(p.string());
    const jet::TableDef& def = db.table("Table1").def();
    at = def.page * db.format().page_size + db.format().tdef_used_map;
  }
  patchU32(p, at, (0xFFFFF0u << 8) | 0);
  jet::Database db(p.string());  // the catalog is intact
  EXPECT_EQ(db.table("Table3").rowIds().size(), 0u);
  Outcome o = capture([&] { db.table("Table1").rowIds(); });
  EXPECT_TRUE(isBadFormat(o, p, "fuera del archivo"));
}

TEST_F(DamagedStructure, CatalogUsageMapPointerOutsideTheFile) {
  for (const char* file : {"real/jet3/delTestV1997.mdb", "real/jet4/delTestV2000.mdb"}) {
    const fs::path p = copyFixture(file);
    const size_t page_size = std::string(file).find("jet3") != std::string::npos ? 2048 : 4096;
    const size_t used_map = page_size == 2048 ? 35 : 55;
    patchU32(p, 2 * page_size + used_map, (0x123456u << 8) | 3);
    EXPECT_TRUE(isBadFormat(readAll(p), p, "fuera del archivo")) << file;
  }
}

TEST_F(DamagedStructure, UsageMapBitsBeyondTheFile) {
  const fs::path p = copyFixture("real/jet4/delTestV2000.mdb");
  size_t at;
  {
    jet::Database db(p.string());
    const jet::TableDef& def = db.table("Table").def();
    const jet::RowId map = jet::RowId::fromPointer(def.used_map);
    jet::ByteView row = jet::rowAt(db.pages(), db.format(), map);
    ASSERT_EQ(row.u8(0), 0) << "an inline map";
    at = fileOffset(db, map.page, row) + 1;  // the map's first page
  }
  patchU32(p, at, 0x00FFFF00);
  jet::Database db(p.string());
  Outcome o = capture([&] { db.table("Table").rowIds(); });
  EXPECT_TRUE(isBadFormat(o, p, "fuera del archivo"));
}

TEST_F(DamagedStructure, TableDefinitionChainLoops) {
  // A TDEF whose next page is itself, and a two-page TDEF whose second page
  // leads back to the first.
  for (const char* file : {"real/jet3/testV1997.mdb", "real/jet4/testV2000.mdb"}) {
    SCOPED_TRACE(file);
    const fs::path p = copyFixture(file);
    uint32_t t1, t2a, t2b;
    size_t page_size;
    {
      jet::Database db(p.string());
      page_size = db.format().page_size;
      t1 = db.table("Table1").def().page;
      const jet::TableDef& two = db.table("Table2").def();
      ASSERT_EQ(two.pages.size(), 2u);
      t2a = two.pages[0];
      t2b = two.pages[1];
    }
    patchU32(p, t1 * page_size + 4, t1);
    patchU32(p, t2b * page_size + 4, t2a);
    jet::Database db(p.string());
    EXPECT_TRUE(isBadFormat(capture([&] { db.table("Table1"); }), p, "ciclo"));
    EXPECT_TRUE(isBadFormat(capture([&] { db.table("Table2"); }), p, "ciclo"));
    EXPECT_EQ(db.table("Table3").rowIds().size(), 0u);
  }
}

TEST_F(DamagedStructure, TableDefinitionChainLeavesTheFile) {
  const fs::path p = copyFixture("real/jet4/testV2000.mdb");
  uint32_t t1;
  {
    jet::Database db(p.string());
    t1 = db.table("Table1").def().page;
  }
  patchU32(p, t1 * 4096 + 4, 0x7FFFFFF0);
  jet::Database db(p.string());
  EXPECT_TRUE(isBadFormat(capture([&] { db.table("Table1"); }), p, "fuera del archivo"));
}

// Where the first row of a long value's chain lies, and the offset of its
// next-row pointer in the file.
struct ChainStart {
  jet::RowId first;
  uint32_t next = 0;  // the first row's pointer to the second
  size_t next_offset = 0;
  size_t field_offset = 0;  // the column's 12-byte reference in the row
};

ChainStart chainOf(const jet::Database& db, const jet::Table& t, jet::RowId id, size_t column) {
  ChainStart c;
  jet::ByteView bytes = t.rowBytes(id);
  jet::RowLayout layout(bytes, db.format(), t.def().var_slots > 0);
  jet::ByteView field = layout.variable(t.def().columns[column]).value();
  EXPECT_EQ(field.u8(3) & 0xC0, 0) << "a chained long value";
  c.field_offset = fileOffset(db, id.page, field);
  c.first = jet::RowId::fromPointer(field.u32(4));
  jet::ByteView first = jet::rowAt(db.pages(), db.format(), c.first);
  c.next_offset = fileOffset(db, c.first.page, first);
  c.next = first.u32(0);
  EXPECT_NE(c.next, 0u) << "a chain of more than one row";
  return c;
}

TEST_F(DamagedStructure, LongValueChainLoops) {
  struct Case {
    const char* file;
    const char* table;
    const char* key;
    int key_value;
    const char* column;
  };
  for (const Case& k :
       {Case{"real/jet3/nwind.mdb", "Categories", "CategoryID", 1, "Picture"},
        Case{"clientes/clientes-v2000-spanish.mdb", "clientes", "CLICOD", 148, "clinotas"}}) {
    SCOPED_TRACE(k.file);
    const fs::path p = copyFixture(k.file);
    ChainStart c;
    jet::RowId id;
    size_t column;
    {
      jet::Database db(p.string());
      jet::Table t = db.table(k.table);
      const size_t key = t.def().findColumn(k.key).value();
      column = t.def().findColumn(k.column).value();
      for (jet::RowId r : t.rowIds()) {
        if (t.read(r, key) == jet::Value::integer(k.key_value)) id = r;
      }
      c = chainOf(db, t, id, column);
    }
    // The first row leads to itself.
    patchU32(p, c.next_offset, c.first.toPointer());
    {
      jet::Database db(p.string());
      jet::Table t = db.table(k.table);
      EXPECT_TRUE(isBadFormat(capture([&] { t.read(id, column); }), p, "ciclo"));
      EXPECT_TRUE(isBadFormat(capture([&] { t.readRow(id); }), p, "ciclo"));
    }
    // The first row leads outside the file.
    patchU32(p, c.next_offset, (0xFFFFFEu << 8) | 1);
    {
      jet::Database db(p.string());
      EXPECT_TRUE(isBadFormat(capture([&] { db.table(k.table).read(id, column); }), p));
    }
    // A length no file holds (1 GiB) over the intact chain.
    patchU32(p, c.next_offset, c.next);
    patchU32(p, c.field_offset, 0x3FFFFFFF);
    {
      jet::Database db(p.string());
      EXPECT_TRUE(isBadFormat(capture([&] { db.table(k.table).read(id, column); }), p,
                              "más largo que el archivo"));
    }
    // One row, at the header page.
    patchU32(p, c.field_offset + 4, 0);
    patchU32(p, c.field_offset, 0x40000000 | 100);
    {
      jet::Database db(p.string());
      EXPECT_TRUE(isBadFormat(capture([&] { db.table(k.table).read(id, column); }), p));
    }
  }
}

TEST_F(DamagedStructure, MovedRowPointsToItself) {
  const fs::path p = copyFixture("real/jet4/overflowTestV2000.mdb");
  jet::RowId moved{};
  size_t at = 0;
  {
    jet::Database db(p.string());
    jet::Table t = db.table("Table1");
    for (uint32_t pg : t.dataPages()) {
      jet::DataPage page(db.pages(), db.format(), pg);
      for (uint16_t r = 0; r < page.rowCount(); ++r) {
        if ((page.slot(r) & 0xC000) == 0x4000 && at == 0) {
          moved = {pg, static_cast<uint8_t>(r)};
          at = fileOffset(db, pg, page.row(r));
        }
      }
    }
    ASSERT_NE(at, 0u);
  }
  patchU32(p, at, moved.toPointer());
  jet::Database db(p.string());
  jet::Table t = db.table("Table1");
  EXPECT_TRUE(isBadFormat(capture([&] { t.readRow(moved); }), p));
  // A pointer to a page of no data.
  patchU32(p, at, (2u << 8) | 0);
  jet::Database db2(p.string());
  EXPECT_TRUE(isBadFormat(capture([&] { db2.table("Table1").readRow(moved); }), p));
}

// A stored row count is a hint: one damaged to billions reserves nothing
// near that, and a lookup of a column (the purge's and a DELETE's way to
// its rows) still finds, and deletes, the rows the pages hold.
TEST_F(DamagedStructure, ARowCountOfBillionsIsOnlyAHint) {
  struct Case {
    const char* fixture;
    const char* table;
    const char* column;
  };
  for (const Case& c : {Case{"clientes/clientes-v2000-small.mdb", "cliprod", "codcli"},
                        Case{"real/jet3/nwind.mdb", "Order Details", "OrderID"}}) {
    for (uint32_t count : {0xFFFFFFFFu, 0x7FFFFFFFu}) {
      SCOPED_TRACE(std::string(c.fixture) + " " + std::to_string(count));
      const fs::path p = copyFixture(c.fixture);
      std::vector<jet::RowId> rows;
      jet::Value key;
      size_t at = 0;
      {
        jet::Database db(p.string());
        const jet::Table t = db.table(c.table);
        rows = t.rowIds();
        ASSERT_FALSE(rows.empty());
        key = t.read(rows.front(), *t.def().findColumn(c.column));
        at = t.def().page * db.format().page_size + db.format().tdef_row_count;
      }
      patchU32(p, at, count);
      jet::Database db(p.string(), jet::OpenMode::ReadWrite);
      const jet::Table t = db.table(c.table);
      const size_t column = *t.def().findColumn(c.column);
      std::vector<jet::RowId> expected;
      for (jet::RowId id : rows) {
        if (jet::equalityKey(t.read(id, column)) == jet::equalityKey(key)) expected.push_back(id);
      }
      Outcome o = capture([&] {
        std::vector<jet::RowId> found = db.lookup(t, column).find(key);
        std::sort(found.begin(), found.end());
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(found, expected);
        for (jet::RowId id : found) db.deleteRow(t, id);
      });
      EXPECT_EQ(o.kind, Outcome::Ok) << o.message;
    }
  }
}

TEST_F(DamagedStructure, RowIdsThatNameNoRow) {
  jet::Database db(testsupport::fixture("real/jet4/delTestV2000.mdb").string());
  jet::Table t = db.table("Table");
  const std::vector<jet::RowId> ids = t.rowIds();
  ASSERT_FALSE(ids.empty());
  const fs::path p = testsupport::fixture("real/jet4/delTestV2000.mdb");
  for (jet::RowId bad : {jet::RowId{ids[0].page, 200}, jet::RowId{ids[0].page, 1} /* deleted */,
                         jet::RowId{0, 0}, jet::RowId{2, 0}, jet::RowId{0xFFFFFF, 0}}) {
    EXPECT_TRUE(isBadFormat(capture([&] { t.readRow(bad); }), p))
        << bad.page << ":" << int{bad.row};
    EXPECT_TRUE(isBadFormat(capture([&] { t.read(bad, 0); }), p));
  }
}

// ---------------------------------------------------------------------------
// Seeded random damage to the pages that matter.

// Pages worth damaging: the header, the catalog and each table's
// definition, usage map, data pages and the pages of its long values.
std::vector<uint32_t> structuralPages(const fs::path& p) {
  std::set<uint32_t> pages{0, 1, 2};
  jet::Database db(p.string());
  std::vector<std::string> names = db.tableNames();
  names.push_back("MSysObjects");
  for (const std::string& name : names) {
    jet::Table t = db.table(name);
    for (uint32_t pg : t.def().pages) pages.insert(pg);
    pages.insert(t.def().used_map >> 8);
    for (uint32_t pg : t.dataPages()) pages.insert(pg);
    for (jet::RowId id : t.rowIds()) {
      jet::RowLayout layout(t.rowBytes(id), db.format(), t.def().var_slots > 0);
      for (const jet::Column& c : t.def().columns) {
        if (!c.isLongValue() || !layout.present(c)) continue;
        std::optional<jet::ByteView> field = layout.variable(c);
        if (!field || field->size() < 12 || (field->u8(3) & 0x80)) continue;
        // The chain's pages, a few rows deep.
        uint32_t next = field->u32(4);
        for (int hop = 0; hop < 4 && next != 0; ++hop) {
          pages.insert(next >> 8);
          if (field->u8(3) & 0x40) break;
          next = jet::rowAt(db.pages(), db.format(), jet::RowId::fromPointer(next)).u32(0);
        }
      }
    }
  }
  return {pages.begin(), pages.end()};
}

// Whether damage at these (offset, length) places may read as a database
// password: it touched the header's password area or, in Jet 4, the
// creation date that masks it. Such a file is refused with 3031, as Access
// refuses it.
bool writesAPassword(const std::vector<std::pair<size_t, size_t>>& touched, bool jet4) {
  const std::pair<size_t, size_t> areas[] = {{0x42, jet4 ? 40 : 20}, {0x72, jet4 ? 8 : 0}};
  for (const auto& [at, length] : touched) {
    for (const auto& [start, size] : areas) {
      if (at < start + size && start < at + length) return true;
    }
  }
  return false;
}

struct FlipRun {
  const char* file;
  int cases;
};

void PrintTo(const FlipRun& r, std::ostream* os) {
  *os << r.file << " x" << r.cases;
}

class RandomDamage : public ::testing::TestWithParam<FlipRun> {};

TEST_P(RandomDamage, EndsInJetErrorOrARead) {
  REQUIRE_FIXTURES();
  FlipRun run = GetParam();
  // JET_FUZZ_SCALE=N runs N times as many cases (a longer hunt by hand).
  if (const char* scale = std::getenv("JET_FUZZ_SCALE")) run.cases *= std::max(1, std::atoi(scale));
  const fs::path p = copyFixture(run.file);
  const std::vector<uint8_t> original = readFile(p);
  const size_t page_size = fs::path(run.file).parent_path().filename() == "jet3" ? 2048 : 4096;
  const std::vector<uint32_t> pages = structuralPages(p);
  const uint32_t page_count = static_cast<uint32_t>(original.size() / page_size);

  std::mt19937 rng(static_cast<uint32_t>(readertest::fnv1a(run.file)));
  auto pick = [&](uint32_t n) { return static_cast<uint32_t>(rng() % n); };
  int errors = 0, reads = 0;
  std::vector<std::string> failures;
  std::fstream f(p, std::ios::in | std::ios::out | std::ios::binary);
  ASSERT_TRUE(f);

  for (int i = 0; i < run.cases; ++i) {
    // Up to eight damaged places, most of them in the pages that matter and
    // half of those in the page headers and slot tables. A damaged place is
    // one byte, or four bytes that read as a row pointer into the file.
    std::vector<std::pair<size_t, size_t>> touched;  // offset, length
    const int flips = 1 + static_cast<int>(pick(8));
    for (int k = 0; k < flips; ++k) {
      const uint32_t page =
          pick(10) < 9 ? pages[pick(static_cast<uint32_t>(pages.size()))] : pick(page_count);
      const size_t in_page = pick(2) ? pick(96) : pick(static_cast<uint32_t>(page_size - 4));
      const size_t at = page * page_size + in_page;
      std::vector<uint8_t> bytes{original[at]};
      switch (pick(6)) {
        case 0:
          bytes[0] = 0x00;
          break;
        case 1:
          bytes[0] = 0xFF;
          break;
        case 2:
          bytes[0] = static_cast<uint8_t>(bytes[0] + 1);
          break;
        case 3: {
          const uint32_t ptr = (pick(page_count) << 8) | pick(4);
          bytes = {static_cast<uint8_t>(ptr), static_cast<uint8_t>(ptr >> 8),
                   static_cast<uint8_t>(ptr >> 16), static_cast<uint8_t>(ptr >> 24)};
          break;
        }
        default:
          bytes[0] ^= static_cast<uint8_t>(1 + pick(255));
          break;
      }
      f.seekp(static_cast<std::streamoff>(at));
      f.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
      touched.emplace_back(at, bytes.size());
    }
    f.flush();

    const auto start = std::chrono::steady_clock::now();
    const Outcome o = readAll(p);
    const double secs =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (o.kind == Outcome::Ok) {
      ++reads;
    } else if (isBadFormat(o, p) || (o.number == jet::err::kNotValidPassword &&
                                     writesAPassword(touched, page_size == 4096))) {
      ++errors;
      if (std::getenv("JET_FUZZ_VERBOSE")) std::cout << o.message << "\n";
    } else {
      failures.push_back("case " + std::to_string(i) + ": " + o.message);
    }
    if (secs > 5)
      failures.push_back("case " + std::to_string(i) + " took " + std::to_string(secs) + " s");

    // Undone in reverse, so overlapping places get their original bytes back.
    for (auto it = touched.rbegin(); it != touched.rend(); ++it) {
      f.seekp(static_cast<std::streamoff>(it->first));
      f.write(reinterpret_cast<const char*>(original.data() + it->first),
              static_cast<std::streamsize>(it->second));
    }
    f.flush();
  }
  EXPECT_TRUE(failures.empty()) << failures.size() << " bad outcomes, first: " << failures[0];
  // The damage must reach the reader: most cases are caught.
  EXPECT_GT(errors, run.cases / 10) << reads << " clean reads";
  EXPECT_EQ(readFile(p), original);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, RandomDamage,
                         ::testing::Values(FlipRun{"real/jet3/delTestV1997.mdb", 150},
                                           FlipRun{"real/jet3/overflowTestV1997.mdb", 150},
                                           FlipRun{"real/jet3/test2V1997.mdb", 150},
                                           FlipRun{"real/jet3/testV1997.mdb", 100},
                                           FlipRun{"real/jet3/nwind.mdb", 12},
                                           FlipRun{"real/jet4/delColTestV2000.mdb", 150},
                                           FlipRun{"real/jet4/overflowTestV2000.mdb", 150},
                                           FlipRun{"real/jet4/fixedNumericTestV2000.mdb", 150},
                                           FlipRun{"real/jet4/testV2000.mdb", 100},
                                           FlipRun{"clientes/clientes-v2000-spanish.mdb", 40}),
                         [](const ::testing::TestParamInfo<FlipRun>& info) {
                           std::string name = fs::path(info.param.file).stem().string();
                           std::replace(name.begin(), name.end(), '-', '_');
                           return name;
                         });

}  // namespace
