// Whole files made by the creator: read back by the engine's reader value
// for value, and checked page by page (data pages, maps, every index tree
// against its rows, the global map) in Jet 4 and Jet 3, small and large.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include "jet/create_check.h"
#if __has_include("jet/checker.h")
#include "jet/checker.h"
#endif
#include "format/catalog.h"
#include "format/data_page.h"
#include "format/header.h"
#include "format/usage_map.h"
#include "index/index_page.h"
#include "jet/creator.h"
#include "jet/database.h"
#include "jet/error.h"
#include "jet/reader_test_util.h"
#include "relationships.h"
#include "support/shared_fixtures.h"

namespace {

namespace fs = std::filesystem;
using jet::ColumnDesign;
using jet::ColumnType;
using jet::Value;
using jet::Version;

std::string versionName(Version v) {
  return v == Version::Jet4 ? "Jet4" : "Jet3";
}

// The file passes this suite's own checks and, where the engine has it, the
// file checker.
void expectSound(const std::string& path, createcheck::Report* out = nullptr) {
  createcheck::Report r = createcheck::checkFile(path);
  for (const std::string& p : r.problems) ADD_FAILURE() << path << ": " << p;
  if (out) *out = std::move(r);
#if __has_include("jet/checker.h")
  jet::Database db(path);
  const jet::CheckReport report = jet::checkDatabase(db);
  for (const jet::CheckProblem& p : report.problems) ADD_FAILURE() << path << ": " << p.text();
#endif
}

// A small deterministic generator, independent of mkclientes.
struct Lcg {
  uint64_t s;
  uint64_t next() {
    s = s * 6364136223846793005ull + 1442695040888963407ull;
    return s >> 33;
  }
  uint64_t below(uint64_t n) { return next() % n; }
};

const char* kNames[] = {"Muñoz",   "Peña",  "Ibáñez", "García", "Núñez", "Ordóñez",
                        "Álvarez", "Güell", "Óscar",  "Úrsula", "ÑANDÚ", "Eñe"};

jet::TableDesign clientes() {
  jet::TableDesign t;
  t.name = "clientes";
  t.columns = {{"CLICOD", ColumnType::Long},
               {"clinom", ColumnType::Text, 50},
               {"clies", ColumnType::Text, 1},
               {"clifre", ColumnType::DateTime},
               {"clinotas", ColumnType::Memo}};
  t.indexes = {{"PrimaryKey", {{"CLICOD"}}, true}, {"clies", {{"clies"}}}};
  return t;
}

jet::TableDesign dependent(const std::string& name, std::vector<ColumnDesign> more) {
  jet::TableDesign t;
  t.name = name;
  ColumnDesign id{"id", ColumnType::Long};
  id.autonumber = true;
  t.columns = {id, {"codcli", ColumnType::Long}};
  t.columns.insert(t.columns.end(), more.begin(), more.end());
  t.indexes = {{"PrimaryKey", {{"id"}}, true}, {"codcli", {{"codcli"}}}};
  return t;
}

// What was inserted, per table, in insertion order.
using Rows = std::map<std::string, std::vector<std::vector<Value>>>;

Rows makeClientDb(const std::string& path, Version v, int clients, int max_deps, bool relations) {
  Rows rows;
  jet::CreateOptions o;
  o.version = v;
  jet::DatabaseCreator db(path, o);
  const size_t c = db.addTable(clientes());
  const size_t p = db.addTable(
      dependent("cliprod", {{"prod", ColumnType::Text, 30}, {"cant", ColumnType::Double}}));
  const size_t h = db.addTable(
      dependent("horascli", {{"horas", ColumnType::Single}, {"fecha", ColumnType::DateTime}}));
  const size_t d = db.addTable(dependent("diascli", {{"dia", ColumnType::Integer}}));
  if (relations) {
    for (const char* dep : {"cliprod", "horascli", "diascli"}) {
      db.addRelationship({std::string("clientes") + dep, "clientes", {"CLICOD"}, dep, {"codcli"}});
    }
  }
  Lcg r{42};
  std::vector<int32_t> codes;
  for (int i = 0; i < clients; ++i) codes.push_back(100 + 2 * i + static_cast<int32_t>(r.below(2)));
  for (size_t i = codes.size(); i > 1; --i) std::swap(codes[i - 1], codes[r.below(i)]);
  const char* statuses[] = {"A", "H", "B", "h"};
  for (int32_t code : codes) {
    std::string name = std::string(kNames[r.below(12)]) + " " + kNames[r.below(12)];
    const uint64_t s = r.below(20);
    Value status = s == 0 ? Value::null() : Value::text(statuses[s % 4]);
    Value when = r.below(30) == 0 ? Value::null()
                                  : Value::dateTime(35000 + static_cast<double>(r.below(11000)) +
                                                    static_cast<double>(r.below(4)) / 4);
    Value notes;
    switch (r.below(6)) {
      case 0:
        notes = Value::text("Llamó el señor " + name);
        break;  // in the row
      case 1:
        notes = Value::text(std::string(300 + r.below(700), 'n') + "ñ");
        break;  // one row
      case 2:
        notes = Value::text(std::string(5000 + r.below(4000), 'x'));
        break;  // a chain
      case 3:
        notes = Value::text("línea uno\r\nlínea dos\r\n");
        break;
      default:
        break;
    }
    std::vector<Value> row = {Value::integer(code), Value::text(name), status, when, notes};
    db.insert(c, row);
    rows["clientes"].push_back(row);
  }
  int32_t ids[3] = {0, 0, 0};
  for (int32_t code : codes) {
    for (int k = 0; k < 3; ++k) {
      const uint64_t n = r.below(static_cast<uint64_t>(max_deps) + 1);
      for (uint64_t j = 0; j < n; ++j) {
        std::vector<Value> row;
        if (k == 0) {
          row = {Value::null(), Value::integer(code), Value::text("Caña de pescar"),
                 Value::real(static_cast<double>(r.below(1000)) / 8)};
        } else if (k == 1) {
          row = {Value::null(), Value::integer(code),
                 Value::single(static_cast<float>(r.below(40)) / 4),
                 Value::dateTime(40000 + static_cast<double>(r.below(4000)))};
        } else {
          row = {Value::null(), Value::integer(code),
                 Value::integer(static_cast<int64_t>(r.below(31)) + 1)};
        }
        db.insert(k == 0 ? p : k == 1 ? h : d, row);
        row[0] = Value::integer(++ids[k]);
        rows[k == 0 ? "cliprod" : k == 1 ? "horascli" : "diascli"].push_back(row);
      }
    }
  }
  db.finish();
  return rows;
}

// Rows as the reader returns them, in file order, which for a new table is
// insertion order.
std::vector<std::vector<Value>> readAll(const jet::Database& db, const std::string& table) {
  jet::Table t = db.table(table);
  std::vector<std::vector<Value>> out;
  t.scan([&](jet::RowId id) { out.push_back(t.readRow(id)); });
  return out;
}

class CreateClientDb : public ::testing::TestWithParam<Version> {};

TEST_P(CreateClientDb, SmallFileReadsBackAsWrittenAndIsSound) {
  const fs::path dir = testsupport::scratchDir();
  const std::string path = (dir / "clientes.mdb").string();
  const Rows rows = makeClientDb(path, GetParam(), 60, 3, true);

  jet::Database db(path);
  EXPECT_EQ(db.header().version, GetParam());
  EXPECT_EQ(db.tableNames(),
            (std::vector<std::string>{"clientes", "cliprod", "horascli", "diascli"}));
  for (const auto& [table, expected] : rows) {
    const auto actual = readAll(db, table);
    ASSERT_EQ(actual.size(), expected.size()) << table;
    for (size_t i = 0; i < actual.size(); ++i)
      EXPECT_EQ(actual[i], expected[i]) << table << " row " << i;
    EXPECT_EQ(db.table(table).def().row_count, expected.size()) << table;
  }
  EXPECT_EQ(db.table("cliprod").def().autonumber, rows.at("cliprod").size());

  // The schema the tool relies on.
  const jet::TableDef& c = db.table("clientes").def();
  ASSERT_EQ(c.columns.size(), 5u);
  EXPECT_EQ(c.columns[1].length, GetParam() == Version::Jet4 ? 100 : 50);
  EXPECT_TRUE(db.table("cliprod").def().columns[0].isAutonumber());
  bool primary = false;
  for (const jet::LogicalIndex& l : c.logical_indexes) {
    primary = primary || (l.kind == jet::LogicalIndex::Kind::PrimaryKey && l.name == "PrimaryKey");
  }
  EXPECT_TRUE(primary);
  ASSERT_EQ(db.relationships().size(), 3u);
  EXPECT_EQ(db.relationships()[0].name, "clientescliprod");
  EXPECT_EQ(db.relationships()[0].referenced_table, "clientes");
  EXPECT_EQ(db.relationships()[0].columns, std::vector<std::string>{"codcli"});

  expectSound(path);
}

TEST_P(CreateClientDb, LargeFileHasMultiLevelIndexesAndIsSound) {
  const fs::path dir = testsupport::scratchDir();
  const std::string path = (dir / "grande.mdb").string();
  const Rows rows = makeClientDb(path, GetParam(), 3000, 20, GetParam() == Version::Jet4);

  createcheck::Report report;
  expectSound(path, &report);
  jet::Database db(path);
  for (const auto& [table, expected] : rows) {
    EXPECT_EQ(readAll(db, table), expected) << table;
  }
  // Every index of the client tables has node pages above its leaves; in
  // Jet 3 (smaller pages) the dependent tables' indexes have three levels.
  size_t checked = 0;
  for (const createcheck::IndexShape& s : report.indexes) {
    if (s.table.rfind("MSys", 0) == 0) continue;
    ++checked;
    EXPECT_GE(s.levels, 2u) << s.table << " index " << s.real_index;
    if (GetParam() == Version::Jet3 && s.table != "clientes") {
      EXPECT_GE(s.levels, 3u) << s.table << " index " << s.real_index;
    }
  }
  EXPECT_EQ(checked, 8u);
}

INSTANTIATE_TEST_SUITE_P(Versions, CreateClientDb, ::testing::Values(Version::Jet4, Version::Jet3),
                         [](const auto& info) { return versionName(info.param); });

// Long text keys make deep trees with few rows: several node levels whose
// pages have siblings under other parents.
TEST(CreateIndexes, DeepTreesKeepLinksAndNodeEntriesRight) {
  for (Version v : {Version::Jet4, Version::Jet3}) {
    const fs::path dir = testsupport::scratchDir();
    const std::string path = (dir / "profundo.mdb").string();
    {
      jet::CreateOptions o;
      o.version = v;
      jet::DatabaseCreator db(path, o);
      jet::TableDesign t;
      t.name = "textos";
      t.columns = {
          {"n", ColumnType::Long}, {"texto", ColumnType::Text, 255}, {"b", ColumnType::Text, 10}};
      t.indexes = {{"texto", {{"texto"}}},
                   {"inverso", {{"b", false}, {"n", false}}},
                   {"n", {{"n"}}, false, true}};
      const size_t h = db.addTable(t);
      Lcg r{7};
      for (int i = 0; i < 2500; ++i) {
        std::string s;
        for (int k = 0; k < 190; ++k) s += static_cast<char>('a' + r.below(3));
        s += i % 7 == 0 ? "ñandú" : "";
        db.insert(h, {Value::integer(i), Value::text(s),
                      i % 5 == 0 ? Value::null() : Value::text(std::to_string(r.below(50)))});
      }
      db.finish();
    }
    createcheck::Report report;
    expectSound(path, &report);
    bool deep = false;
    for (const auto& s : report.indexes) deep = deep || (s.table == "textos" && s.levels >= 3);
    EXPECT_TRUE(deep) << versionName(v);
  }
}

TEST(CreateFile, SameCallsGiveTheSameBytes) {
  const fs::path dir = testsupport::scratchDir();
  const std::string a = (dir / "a.mdb").string(), b = (dir / "b.mdb").string();
  makeClientDb(a, Version::Jet4, 200, 4, true);
  makeClientDb(b, Version::Jet4, 200, 4, true);
  std::ifstream fa(a, std::ios::binary), fb(b, std::ios::binary);
  const std::string ba((std::istreambuf_iterator<char>(fa)), {});
  const std::string bb((std::istreambuf_iterator<char>(fb)), {});
  EXPECT_EQ(ba.size() % 4096, 0u);
  EXPECT_TRUE(ba == bb);
}

TEST(CreateFile, EmptyTablesHaveAnEmptyLeafRoot) {
  for (Version v : {Version::Jet4, Version::Jet3}) {
    const fs::path dir = testsupport::scratchDir();
    const std::string path = (dir / "vacia.mdb").string();
    {
      jet::CreateOptions o;
      o.version = v;
      jet::DatabaseCreator db(path, o);
      db.addTable(clientes());
      db.finish();
    }
    expectSound(path);
    jet::Database db(path);
    jet::Table t = db.table("clientes");
    EXPECT_TRUE(t.rowIds().empty());
    EXPECT_EQ(t.def().row_count, 0u);
    const jet::IndexPage root =
        jet::readIndexPage(db.pages(), db.format(), t.def().real_indexes[0].root_page);
    EXPECT_TRUE(root.leaf);
    EXPECT_TRUE(root.entries.empty());
    EXPECT_EQ(root.free_space, db.format().page_size - db.format().index_first_entry);
  }
}

// A table of more pages than one inline map names gets a reference map;
// a Jet 3 file past the inline global map gets a reference global map.
TEST(CreateFile, LargeTablesAndFilesUseReferenceMaps) {
  for (Version v : {Version::Jet4, Version::Jet3}) {
    const fs::path dir = testsupport::scratchDir();
    const std::string path = (dir / "mapas.mdb").string();
    const int rows = v == Version::Jet4 ? 1400 : 16000;
    {
      jet::CreateOptions o;
      o.version = v;
      jet::DatabaseCreator db(path, o);
      jet::TableDesign t;
      t.name = "anchas";
      t.columns = {{"n", ColumnType::Long},
                   {"relleno", ColumnType::Binary, 255},
                   {"mas", ColumnType::Binary, 255},
                   {"aun", ColumnType::Binary, 255},
                   {"otro", ColumnType::Binary, 255},
                   {"final", ColumnType::Binary, 255},
                   {"ultimo", ColumnType::Binary, 255},
                   {"resto", ColumnType::Binary, 255}};
      const size_t h = db.addTable(t);
      const std::string fill(255, '\x5A');
      for (int i = 0; i < rows; ++i) {
        std::vector<Value> row(8, Value::bytes(fill));
        row[0] = Value::integer(i);
        db.insert(h, row);
      }
      db.finish();
    }
    expectSound(path);
    jet::Database db(path);
    const jet::TableDef& def = db.table("anchas").def();
    EXPECT_EQ(def.row_count, static_cast<uint32_t>(rows));
    EXPECT_EQ(jet::rowAt(db.pages(), db.format(), jet::RowId::fromPointer(def.used_map)).u8(0), 1)
        << versionName(v);
    if (v == Version::Jet3) {
      EXPECT_GT(db.pages().pageCount(), 16000u);
      EXPECT_EQ(jet::rowAt(db.pages(), db.format(), jet::RowId{1, 0}).u8(0), 1);
    }
  }
}

// Jet 3 rows longer than 256 bytes carry jump bytes (and sometimes a filler)
// so that their one-byte offsets can be told apart.
TEST(CreateFile, Jet3LongRowsReadBack) {
  const fs::path dir = testsupport::scratchDir();
  const std::string path = (dir / "largas.mdb").string();
  std::vector<std::vector<Value>> written;
  {
    jet::CreateOptions o;
    o.version = Version::Jet3;
    jet::DatabaseCreator db(path, o);
    jet::TableDesign t;
    t.name = "largas";
    t.columns = {{"n", ColumnType::Long},      {"a", ColumnType::Text, 255},
                 {"b", ColumnType::Text, 255}, {"c", ColumnType::Text, 255},
                 {"d", ColumnType::Text, 255}, {"e", ColumnType::Memo}};
    const size_t h = db.addTable(t);
    // Every length from short rows to rows crossing several 256-byte marks.
    for (int i = 0; i < 700; ++i) {
      auto text = [&](int k) {
        const int len = (i * (k + 3) * 7) % 256;
        return len % 9 == 0
                   ? Value::null()
                   : Value::text(std::string(static_cast<size_t>(len), static_cast<char>('a' + k)));
      };
      std::vector<Value> row = {
          Value::integer(i),
          text(0),
          text(1),
          text(2),
          text(3),
          i % 4 == 0 ? Value::text(std::string(40 + i % 20, 'z')) : Value::null()};
      db.insert(h, row);
      written.push_back(row);
    }
    db.finish();
  }
  expectSound(path);
  jet::Database db(path);
  EXPECT_EQ(readAll(db, "largas"), written);
}

// Values of every type the writer supports, read back as written.
TEST(CreateFile, EveryColumnTypeReadsBack) {
  for (Version v : {Version::Jet4, Version::Jet3}) {
    const fs::path dir = testsupport::scratchDir();
    const std::string path = (dir / "tipos.mdb").string();
    std::vector<std::vector<Value>> written;
    {
      jet::CreateOptions o;
      o.version = v;
      jet::DatabaseCreator db(path, o);
      jet::TableDesign t;
      t.name = "tipos";
      t.columns = {{"si", ColumnType::Boolean},         {"byte", ColumnType::Byte},
                   {"entero", ColumnType::Integer},     {"largo", ColumnType::Long},
                   {"moneda", ColumnType::Currency},    {"simple", ColumnType::Single},
                   {"doble", ColumnType::Double},       {"fecha", ColumnType::DateTime},
                   {"binario", ColumnType::Binary, 20}, {"texto", ColumnType::Text, 40},
                   {"memo", ColumnType::Memo},          {"ole", ColumnType::Ole},
                   {"guid", ColumnType::Guid}};
      // Text of other scripts has no key in the General order the encoder
      // knows, so the text index goes on a column of Latin text.
      t.indexes = {{"largo", {{"largo", false}}}, {"binario_fecha", {{"binario"}, {"fecha"}}}};
      const size_t h = db.addTable(t);
      std::array<uint8_t, 16> g{};
      for (size_t i = 0; i < 16; ++i) g[i] = static_cast<uint8_t>(i * 17);
      const std::string unicode = v == Version::Jet4 ? "Мир 漢字" : "Ñandú";
      written = {
          {Value::boolean(true), Value::integer(255), Value::integer(-32768),
           Value::integer(-2147483647 - 1), Value::currency(-123456789), Value::single(1.5f),
           Value::real(-2.25e300), Value::dateTime(-1.25), Value::bytes(std::string("\0\1\2", 3)),
           Value::text(unicode), Value::text(std::string(70, 'm')),
           Value::bytes(std::string(9000, '\7')), Value::guid(g)},
          {Value::boolean(false), Value::null(), Value::null(), Value::null(), Value::null(),
           Value::null(), Value::null(), Value::null(), Value::null(), Value::null(), Value::null(),
           Value::null(), Value::null()},
          {Value::boolean(false), Value::integer(0), Value::integer(32767),
           Value::integer(2147483647), Value::currency(0), Value::single(-0.0f), Value::real(0.1),
           Value::dateTime(45000.75), Value::bytes(""), Value::text(""), Value::text(""),
           Value::bytes(std::string(60, 'o')), Value::guid(g)},
      };
      for (const auto& row : written) db.insert(h, row);
      db.finish();
    }
    expectSound(path);
    jet::Database db(path);
    const auto actual = readAll(db, "tipos");
    ASSERT_EQ(actual.size(), written.size());
    for (size_t i = 0; i < actual.size(); ++i) {
      for (size_t c = 0; c < actual[i].size(); ++c) {
        EXPECT_EQ(actual[i][c], written[i][c]) << versionName(v) << " row " << i << " column " << c;
      }
    }
  }
}

// Refusals: what the writer will not put in a file, with Access's numbers.
// A creator given up on leaves no file behind.
TEST(CreateFile, RefusesBadDataWithAccessErrorNumbers) {
  const fs::path dir = testsupport::scratchDir();
  const std::string path = (dir / "mal.mdb").string();
  auto number = [](const std::function<void()>& f) {
    try {
      f();
    } catch (const jet::JetError& e) {
      return e.number();
    }
    return 0;
  };
  EXPECT_EQ(number([&] {
              jet::DatabaseCreator db(path);
              const size_t c = db.addTable(clientes());
              db.insert(c, {Value::integer(1), Value::null(), Value::null(), Value::null(),
                            Value::null()});
              db.insert(c, {Value::integer(1), Value::null(), Value::null(), Value::null(),
                            Value::null()});
              db.finish();
            }),
            3022);
  EXPECT_FALSE(fs::exists(path));
  EXPECT_EQ(number([&] {
              jet::DatabaseCreator db(path);
              const size_t c = db.addTable(clientes());
              const size_t p = db.addTable(dependent("cliprod", {}));
              db.addRelationship({"r", "clientes", {"CLICOD"}, "cliprod", {"codcli"}});
              db.insert(c, {Value::integer(1), Value::null(), Value::null(), Value::null(),
                            Value::null()});
              db.insert(p, {Value::null(), Value::integer(1)});
              db.insert(p, {Value::null(), Value::null()});
              db.insert(p, {Value::null(), Value::integer(2)});
              db.finish();
            }),
            3201);
  EXPECT_FALSE(fs::exists(path));
  EXPECT_EQ(number([&] {
              jet::DatabaseCreator db(path);
              const size_t c = db.addTable(clientes());
              db.insert(c, {Value::integer(1), Value::null(), Value::text("AB"), Value::null(),
                            Value::null()});
            }),
            3163);
  EXPECT_EQ(number([&] {
              jet::DatabaseCreator db(path);
              const size_t c = db.addTable(clientes());
              db.insert(c, {Value::text("1"), Value::null(), Value::null(), Value::null(),
                            Value::null()});
            }),
            13);
  EXPECT_EQ(number([&] {
              jet::DatabaseCreator db(path);
              db.addTable(clientes());
              db.addTable(clientes());
            }),
            3010);
  EXPECT_EQ(number([&] {
              jet::DatabaseCreator db(path);
              jet::TableDesign t = clientes();
              t.indexes.push_back({"x", {{"falta"}}});
              db.addTable(t);
            }),
            3343);
  EXPECT_EQ(number([&] {
              jet::CreateOptions o;
              o.version = Version::Jet3;
              jet::DatabaseCreator db(path, o);
              const size_t c = db.addTable(clientes());
              db.insert(c, {Value::integer(1), Value::text("Мир"), Value::null(), Value::null(),
                            Value::null()});
            }),
            13);
  EXPECT_FALSE(fs::exists(path));
}

}  // namespace
