// The command-line tools as a user runs them: jetcheck on every fixture and
// on broken and unreadable files; jetsql selecting what the client files are
// known to hold, deleting rows (all of them or none), and its errors.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "format/format.h"
#include "jet/database.h"
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

}  // namespace
