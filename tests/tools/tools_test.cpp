// The command-line tools as a user runs them: jetcheck on every fixture and
// on broken and unreadable files; jetsql selecting what the client files are
// known to hold, deleting rows (all of them or none), and its errors; what
// every tool refuses as Access does (a password, system tables, oversized
// files).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "format/bytes.h"
#include "format/catalog.h"
#include "format/format.h"
#include "format/header.h"
#include "io/page_source.h"
#include "jet/database.h"
#include "jet/error.h"
#include "support/shared_fixtures.h"

namespace {

namespace fs = std::filesystem;

struct Output {
  int status = -1;
  std::string out, err;

  std::vector<std::string> lines() const {
    std::vector<std::string> v;
    std::istringstream in(out);
    for (std::string l; std::getline(in, l);) v.push_back(l);
    return v;
  }
};

std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Runs a program with its arguments (no shell), capturing both outputs.
Output run(const std::vector<std::string>& argv) {
  const fs::path dir = testsupport::scratchDir();
  const fs::path out = dir / "out", err = dir / "err";
  const pid_t pid = fork();
  if (pid == 0) {
    const int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(o, 1);
    dup2(e, 2);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  Output r;
  int status = 0;
  waitpid(pid, &status, 0);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.out = slurp(out);
  r.err = slurp(err);
  fs::remove_all(dir);
  return r;
}

Output jetcheck(const std::vector<std::string>& args) {
  std::vector<std::string> argv{JETCHECK_PATH};
  argv.insert(argv.end(), args.begin(), args.end());
  return run(argv);
}

Output jetsql(const std::string& file, const std::string& statement) {
  return run({JETSQL_PATH, file, statement});
}

Output jetdump(const std::vector<std::string>& args) {
  std::vector<std::string> argv{JETDUMP_PATH};
  argv.insert(argv.end(), args.begin(), args.end());
  return run(argv);
}

fs::path copyOf(const std::string& fixture) {
  const fs::path from = testsupport::fixture(fixture);
  const fs::path to = testsupport::scratchDir() / from.filename();
  fs::copy_file(from, to);
  return to;
}

// The values of one field of every JSON line printed (numbers or strings, as written).
std::multiset<std::string> field(const Output& r, const std::string& name) {
  std::multiset<std::string> out;
  const std::string key = "\"" + name + "\":";
  for (const std::string& l : r.lines()) {
    size_t at = l.find(key);
    if (at == std::string::npos) continue;
    at += key.size();
    size_t end = l[at] == '"' ? l.find('"', at + 1) + 1 : l.find_first_of(",}", at);
    out.insert(l.substr(at, end - at));
  }
  return out;
}

// mdb-reader and mdbtools read the file as our reader does (the comparison
// script of the reader tests); skipped without Node.js.
void expectOtherReadersAgree(const fs::path& file) {
  if (std::string(NODE_PATH).empty()) {
    std::printf("Node.js not found: the comparison with mdb-reader is skipped\n");
    return;
  }
  const Output r = run({NODE_PATH, COMPARE_SCRIPT, "--jetdump", JETDUMP_PATH, "--name",
                        "changed/" + file.filename().string(), file.string()});
  if (r.status == 77 && !testsupport::requireShared()) {
    std::printf("comparison skipped: %s\n", r.out.c_str());
    return;
  }
  EXPECT_EQ(r.status, 0) << r.out << r.err;
}

// ---------------------------------------------------------------------------

TEST(JetCheck, PassesOnEveryFixture) {
  REQUIRE_FIXTURES();
  for (const fs::path& file : testsupport::allFixtures()) {
    const Output r = jetcheck({file.string()});
    EXPECT_EQ(r.status, 0) << file << "\n" << r.out << r.err;
    const std::vector<std::string> lines = r.lines();
    ASSERT_EQ(lines.size(), 1u) << file << "\n" << r.out;
    EXPECT_EQ(lines[0].rfind("sin problemas (", 0), 0u) << lines[0];
  }
}

TEST(JetCheck, ReportsEachProblemAndExitsOne) {
  REQUIRE_FIXTURES();
  const fs::path file = copyOf("clientes/clientes-v2000-small.mdb");
  uint32_t tdef = 0;
  size_t offset = 0;
  {
    jet::Database db(file.string());
    tdef = db.table("cliprod").def().page;
    offset = size_t{tdef} * db.format().page_size + db.format().tdef_row_count;
  }
  {
    std::fstream f(file, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(static_cast<std::streamoff>(offset));
    const uint32_t wrong = 67;  // the table has 66 rows
    f.write(reinterpret_cast<const char*>(&wrong), 4);
  }
  const Output r = jetcheck({file.string()});
  EXPECT_EQ(r.status, 1);
  const std::vector<std::string> lines = r.lines();
  ASSERT_EQ(lines.size(), 2u) << r.out;
  EXPECT_EQ(lines[0], "tabla 'cliprod', página " + std::to_string(tdef) +
                          ": la definición guarda 67 filas, pero tiene 66 filas vivas");
  EXPECT_EQ(lines[1].rfind("1 problema (9 tablas, ", 0), 0u) << lines[1];
}

TEST(JetCheck, AFileThatCannotBeReadIsAProblem) {
  const fs::path dir = testsupport::scratchDir();
  const fs::path junk = dir / "junk.mdb";
  std::ofstream(junk) << std::string(3 * 4096, 'x');
  Output r = jetcheck({junk.string()});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(
      r.out.find("Error 3343: Formato de base de datos '" + junk.string() + "' no reconocido"),
      std::string::npos)
      << r.out;
  r = jetcheck({(dir / "absent.mdb").string()});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("Error 3024"), std::string::npos) << r.out;
}

TEST(JetCheck, UsageErrorsExitTwo) {
  EXPECT_EQ(jetcheck({}).status, 2);
  EXPECT_EQ(jetcheck({"a.mdb", "b.mdb"}).status, 2);
  const Output r = jetcheck({"--todo", "a.mdb"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("uso: jetcheck"), std::string::npos);
}

// ---------------------------------------------------------------------------

// The clients the purge takes (status "H" in either case, last activity on
// or before 31-12-2010), as the fixtures' description counts them.
TEST(JetSql, SelectsWhatTheClientFilesHold) {
  REQUIRE_FIXTURES();
  const std::string purge =
      "SELECT * FROM clientes WHERE clies = 'H' AND clifre <= #12/31/2010# AND clifre IS NOT NULL";
  const std::pair<const char*, size_t> counts[] = {{"clientes-v2000-small.mdb", 9},
                                                   {"clientes-v2000-spanish.mdb", 46},
                                                   {"clientes-v2003-rel.mdb", 49},
                                                   {"clientes-v2003-orphans.mdb", 18}};
  for (const auto& [name, n] : counts) {
    const Output r = jetsql(testsupport::fixture(std::string("clientes/") + name).string(), purge);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.lines().size(), n) << name;
  }
  // The boundary clients of the small file: midnight of the last day is in,
  // a second later is out; 12 June and 6 December 2010 are both in.
  const Output r = jetsql(testsupport::fixture("clientes/clientes-v2000-small.mdb").string(),
                          purge + " AND CLICOD <= 167;");
  EXPECT_EQ(field(r, "CLICOD"),
            (std::multiset<std::string>{"135", "142", "146", "149", "165", "167"}));
  // A bare table name selects the whole table, in the file's order.
  const Output all =
      jetsql(testsupport::fixture("real/jet3/nwind.mdb").string(), "[Order Details]");
  EXPECT_EQ(all.lines().size(), 2155u);
}

// Deleting rows of tables without indexes, moved rows among them: the
// count, the rows left, a sound file that other readers read alike, and a
// file that did not grow.
TEST(JetSql, DeletesTheSelectedRows) {
  REQUIRE_FIXTURES();
  for (const char* fixture :
       {"real/jet3/overflowTestV1997.mdb", "real/jet4/overflowTestV2000.mdb"}) {
    SCOPED_TRACE(fixture);
    const fs::path file = copyOf(fixture);
    const auto size = fs::file_size(file);
    Output r = jetsql(file.string(), "DELETE FROM Table1 WHERE data1 IS NULL");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "3 filas eliminadas\n");
    r = jetsql(file.string(), "SELECT * FROM Table1");
    EXPECT_EQ(field(r, "data1"), (std::multiset<std::string>{"\"row1col1\"", "\"row2col1\"",
                                                             "\"row4col1\"", "\"row7col1\""}));
    r = jetcheck({file.string()});
    EXPECT_EQ(r.status, 0) << r.out;
    expectOtherReadersAgree(file);

    // Access's own form, every row.
    r = jetsql(file.string(), "DELETE * FROM [Table1];");
    EXPECT_EQ(r.out, "4 filas eliminadas\n");
    EXPECT_EQ(jetsql(file.string(), "SELECT * FROM Table1").out, "");
    EXPECT_EQ(jetcheck({file.string()}).status, 0);
    expectOtherReadersAgree(file);
    EXPECT_EQ(fs::file_size(file), size);
    EXPECT_FALSE(fs::exists(fs::path(file).replace_extension(".ldb")));
  }
}

// A client without dependent rows goes; a client that still has them is
// refused by the enforced relationships, and then the whole statement
// changes nothing, also the client deleted before the refusal.
TEST(JetSql, ARefusedDeleteLeavesTheFileAsItWas) {
  REQUIRE_FIXTURES();
  const fs::path file = copyOf("clientes/clientes-v2003-rel.mdb");
  for (const char* table : {"cliprod", "horascli", "diascli"}) {
    EXPECT_EQ(
        jetsql(file.string(), std::string("SELECT * FROM ") + table + " WHERE codcli = 514").out,
        "");
  }
  EXPECT_NE(jetsql(file.string(), "SELECT * FROM cliprod WHERE codcli = 151").out, "");
  // 514 comes first in the table's order, so it is deleted before 151 is refused.
  EXPECT_EQ(
      field(jetsql(file.string(), "SELECT * FROM clientes WHERE CLICOD = 151 OR CLICOD = 514"),
            "CLICOD"),
      (std::multiset<std::string>{"514", "151"}));
  const Output order =
      jetsql(file.string(), "SELECT * FROM clientes WHERE CLICOD = 151 OR CLICOD = 514");
  ASSERT_EQ(order.lines().size(), 2u);
  EXPECT_NE(order.lines()[0].find("\"CLICOD\":514"), std::string::npos);

  const std::string before = slurp(file);
  const Output r = jetsql(file.string(), "DELETE FROM clientes WHERE CLICOD = 514 OR CLICOD = 151");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("Error 3200: No se puede eliminar o cambiar el registro porque la tabla '"),
            std::string::npos)
      << r.err;
  EXPECT_TRUE(slurp(file) == before) << "the file changed";
  EXPECT_FALSE(fs::exists(fs::path(file).replace_extension(".ldb")));

  // Alone, the client without dependent rows goes, and the file stays sound.
  const Output ok = jetsql(file.string(), "DELETE FROM clientes WHERE CLICOD = 514");
  EXPECT_EQ(ok.status, 0) << ok.err;
  EXPECT_EQ(ok.out, "1 fila eliminada\n");
  const Output check = jetcheck({file.string()});
  EXPECT_EQ(check.status, 0) << check.out;
  EXPECT_EQ(jetsql(file.string(), "SELECT * FROM clientes WHERE CLICOD = 514").out, "");
  expectOtherReadersAgree(file);
}

TEST(JetSql, ErrorsExitOneWithTheEnginesSpanishMessage) {
  REQUIRE_FIXTURES();
  const std::string file = copyOf("clientes/clientes-v2000-small.mdb").string();
  const std::pair<std::string, std::string> cases[] = {
      {"SELECT * FROM clientas",
       "Error 3078: No se encuentra la tabla o consulta de entrada 'clientas'."},
      {"SELECT * FROM clientes WHERE codigo = 1", "Error 3061: No se reconoce 'codigo'"},
      {"SELECT * FROM clientes WHERE CLICOD = ", "Error 3075: Error de sintaxis"},
      {"SELECT * FROM clientes WHERE clinom = 1", "Error 3464"},
      {"DELETE FROM clientes WHERE", "Error 3075: Error de sintaxis"},
      {"DELETE clientes", "Error 3075: Error de sintaxis"},
      {"DELETE FROM clientas", "Error 3078"},
  };
  const std::string before = slurp(file);
  for (const auto& [statement, message] : cases) {
    const Output r = jetsql(file, statement);
    EXPECT_EQ(r.status, 1) << statement;
    EXPECT_EQ(r.out, "") << statement;
    EXPECT_EQ(r.err.rfind("jetsql: " + message, 0), 0u) << statement << "\n" << r.err;
  }
  EXPECT_TRUE(slurp(file) == before);
  const Output missing = jetsql("no-existe.mdb", "SELECT * FROM clientes");
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.err, "jetsql: Error 3024: No se encuentra el archivo 'no-existe.mdb'.\n");
  EXPECT_EQ(run({JETSQL_PATH, file}).status, 2);
  EXPECT_EQ(run({JETSQL_PATH}).status, 2);
}

// ---------------------------------------------------------------------------
// What Access refuses, refused alike: a database with a password, deletes
// from its own system tables, files larger than Access writes.

// The error number a call throws, 0 when it throws none.
template <typename Fn>
int errorOf(Fn&& fn) {
  try {
    fn();
  } catch (const jet::JetError& e) {
    return e.number();
  }
  return 0;
}

// Gives a copy of a fixture a database password, where Access keeps it: the
// area at 0x42 of page 0, under the header's mask (the whole block from 0x18
// is XORed with a fixed RC4 keystream), Jet 4 masking it a second time with
// the four bytes of the creation day (the whole part of the date at 0x72)
// over and over. Jet 3 stores one byte a character, Jet 4 UCS-2 (here only
// Latin-1 characters).
void setPassword(const fs::path& file, const std::u16string& password) {
  std::vector<uint8_t> page(4096);
  {
    std::ifstream in(file, std::ios::binary);
    in.read(reinterpret_cast<char*>(page.data()), static_cast<std::streamsize>(page.size()));
  }
  const jet::Version version = page[0x14] == 0 ? jet::Version::Jet3 : jet::Version::Jet4;
  page.resize(jet::formatFor(version).page_size);
  jet::unmaskHeader(page, version);
  uint8_t day[4] = {0, 0, 0, 0};
  std::vector<uint8_t> clear;
  if (version == jet::Version::Jet4) {
    double date = 0;
    std::memcpy(&date, page.data() + 0x72, 8);
    const auto whole = static_cast<uint32_t>(static_cast<int32_t>(std::floor(date)));
    for (int i = 0; i < 4; ++i) day[i] = static_cast<uint8_t>(whole >> (8 * i));
    for (char16_t c : password) {
      clear.push_back(static_cast<uint8_t>(c));
      clear.push_back(static_cast<uint8_t>(c >> 8));
    }
  } else {
    for (char16_t c : password) clear.push_back(static_cast<uint8_t>(c));
  }
  const size_t area = version == jet::Version::Jet4 ? 40 : 20;
  ASSERT_LE(clear.size(), area);
  clear.resize(area, 0);
  for (size_t i = 0; i < area; ++i) page[0x42 + i] = clear[i] ^ day[i % 4];
  jet::unmaskHeader(page, version);
  std::fstream f(file, std::ios::in | std::ios::out | std::ios::binary);
  f.write(reinterpret_cast<const char*>(page.data()), static_cast<std::streamsize>(page.size()));
}

// The password mdb-reader reads in the file (JSON: a string, or null).
std::string passwordMdbReaderReads(const fs::path& file) {
  const Output r =
      run({NODE_PATH, fs::path(COMPARE_SCRIPT).replace_filename("password.mjs"), file.string()});
  EXPECT_EQ(r.status, 0) << r.err;
  return r.out;
}

TEST(Refusals, ADatabaseWithAPasswordIsNeitherReadNorChanged) {
  REQUIRE_FIXTURES();
  struct Case {
    const char* fixture;
    const char* table;
    std::u16string password;
    const char* as_json;
  };
  const Case cases[] = {
      {"real/jet3/overflowTestV1997.mdb", "Table1", u"secreto", "\"secreto\""},
      {"real/jet4/overflowTestV2000.mdb", "Table1", u"contrase\u00f1a", "\"contraseña\""},
      {"clientes/clientes-v2003-rel.mdb", "clientes", u"abcdefghij0123456789",
       "\"abcdefghij0123456789\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fixture);
    const fs::path file = copyOf(c.fixture);
    setPassword(file, c.password);
    if (std::string(NODE_PATH).empty()) {
      std::printf("Node.js not found: the password is not read back with mdb-reader\n");
    } else {
      EXPECT_EQ(passwordMdbReaderReads(file), c.as_json);
    }
    const std::string before = slurp(file);
    for (jet::OpenMode mode : {jet::OpenMode::ReadOnly, jet::OpenMode::ReadWrite}) {
      EXPECT_EQ(errorOf([&] { jet::Database db(file.string(), mode); }),
                jet::err::kNotValidPassword);
    }
    const std::string table = c.table;
    const std::vector<Output> runs = {
        jetdump({file.string()}),
        jetdump({"--json", file.string(), table}),
        jetsql(file.string(), "SELECT * FROM " + table),
        jetsql(file.string(), "DELETE FROM " + table),
        jetcheck({file.string()}),
    };
    for (const Output& r : runs) {
      EXPECT_EQ(r.status, 1) << r.out << r.err;
      EXPECT_NE((r.out + r.err).find("Error 3031: No es una contraseña válida."), std::string::npos)
          << r.out << r.err;
      EXPECT_EQ(r.out.find("{"), std::string::npos) << "rows printed: " << r.out;
    }
    EXPECT_TRUE(slurp(file) == before) << "the file changed";
    EXPECT_FALSE(fs::exists(fs::path(file).replace_extension(".ldb")));
  }
}

// Sets the Flags column of a table's catalog row: 0x80000002 makes it one of
// Access's own tables, whatever its name.
void setCatalogFlags(const fs::path& file, const std::string& table, uint32_t flags) {
  size_t offset = 0;
  {
    jet::Database db(file.string());
    const jet::Table catalog = db.table("MSysObjects");
    const jet::CatalogEntry* entry = db.findTable(table);
    ASSERT_NE(entry, nullptr);
    const jet::ByteView row = catalog.rowBytes(entry->row);
    const jet::ByteView page = db.pages().page(entry->row.page);
    const auto column = catalog.def().findColumn("Flags");
    ASSERT_TRUE(column);
    offset = size_t{entry->row.page} * db.format().page_size +
             static_cast<size_t>(row.data() - page.data()) + db.format().row_count_size +
             catalog.def().columns[*column].fixed_offset;
  }
  std::fstream f(file, std::ios::in | std::ios::out | std::ios::binary);
  f.seekp(static_cast<std::streamoff>(offset));
  f.write(reinterpret_cast<const char*>(&flags), 4);
}

TEST(Refusals, NoRowOfASystemTableIsDeleted) {
  REQUIRE_FIXTURES();
  const fs::path file = copyOf("clientes/clientes-v2003-rel.mdb");
  const fs::path flagged = copyOf("real/jet4/overflowTestV2000.mdb");
  setCatalogFlags(flagged, "Table1", 0x80000002);
  struct Case {
    fs::path file;
    std::string statement;
  };
  const Case cases[] = {
      {file, "DELETE FROM MSysObjects WHERE Name = 'cliprod'"},
      {file, "DELETE FROM msysobjects"},
      {file, "DELETE * FROM [MSysACEs]"},
      {file, "DELETE FROM MSysObjects WHERE Name = 'ninguna'"},  // refused with no row chosen
      {file, "DELETE FROM MSysRelationships"},
      {flagged, "DELETE FROM Table1"},
  };
  for (const Case& c : cases) {
    const std::string before = slurp(c.file);
    const Output r = jetsql(c.file.string(), c.statement);
    EXPECT_EQ(r.status, 1) << c.statement;
    EXPECT_EQ(r.out, "") << c.statement;
    EXPECT_EQ(r.err.rfind("jetsql: Error 3027: No se puede actualizar. La base de datos o el "
                          "objeto es de sólo lectura",
                          0),
              0u)
        << c.statement << "\n"
        << r.err;
    EXPECT_TRUE(slurp(c.file) == before) << c.statement << ": the file changed";
  }
  // Row by row, as the record channels delete: the same refusal.
  for (const auto& [path, table] : {std::pair{file, "MSysObjects"}, std::pair{flagged, "Table1"}}) {
    const std::string before = slurp(path);
    {
      jet::Database db(path.string(), jet::OpenMode::ReadWrite);
      const jet::Table t = db.table(table);
      const std::vector<jet::RowId> rows = t.rowIds();
      ASSERT_FALSE(rows.empty());
      EXPECT_EQ(errorOf([&] { db.deleteRow(t, rows.front()); }), jet::err::kReadOnly) << table;
      db.begin();
      EXPECT_EQ(errorOf([&] { db.deleteRow(t, rows.back()); }), jet::err::kReadOnly) << table;
      db.commit();
    }
    EXPECT_TRUE(slurp(path) == before) << table << ": the file changed";
  }
  // A user table of the same file still loses its rows.
  const Output ok = jetsql(file.string(), "DELETE FROM clientes WHERE CLICOD = 514");
  EXPECT_EQ(ok.out, "1 fila eliminada\n") << ok.err;
}

// Access writes no file over 2 GB (1 GB for Access 97): one larger is refused
// before anything is read from it, also for writing. Sparse copies, grown
// with a hole, just past the limit and at it.
TEST(Refusals, AFileLargerThanAccessWritesIsRefused) {
  REQUIRE_FIXTURES();
  struct Case {
    const char* fixture;
    const char* table;
    uint64_t limit;
  };
  const Case cases[] = {
      {"real/jet3/overflowTestV1997.mdb", "Table1", uint64_t{1} << 30},
      {"real/jet4/overflowTestV2000.mdb", "Table1", uint64_t{2} << 30},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fixture);
    const fs::path file = copyOf(c.fixture);
    const std::string head = slurp(file);
    const uint64_t page = head[0x14] == 0 ? 2048 : 4096;
    fs::resize_file(file, c.limit + page);
    for (const std::string& statement :
         {std::string("DELETE FROM ") + c.table, std::string("SELECT * FROM ") + c.table}) {
      const Output r = jetsql(file.string(), statement);
      EXPECT_EQ(r.status, 1) << statement;
      EXPECT_NE(r.err.find("Error 3343: Formato de base de datos '" + file.string() +
                           "' no reconocido: el archivo mide más que el mayor archivo que admite "
                           "Access"),
                std::string::npos)
          << r.err;
    }
    EXPECT_EQ(fs::file_size(file), c.limit + page);
    std::ifstream in(file, std::ios::binary);
    std::string now(head.size(), '\0');
    in.read(now.data(), static_cast<std::streamsize>(now.size()));
    EXPECT_TRUE(now == head) << "the file changed";
    EXPECT_FALSE(fs::exists(fs::path(file).replace_extension(".ldb")));

    // At the limit the file is still one Access may have written.
    fs::resize_file(file, c.limit);
    EXPECT_EQ(jetsql(file.string(), std::string("SELECT * FROM ") + c.table).status, 0);
    fs::remove(file);
  }
}

}  // namespace
