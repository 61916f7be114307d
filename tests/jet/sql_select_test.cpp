// Record sources run on real files: the purge condition on the client
// databases against a plain reading of every row, the boundary clients, each
// client's products, and every error a record source can raise.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "jet/database.h"
#include "jet/error.h"
#include "jet/query.h"
#include "sql/sql_ast.h"
#include "sql/sql_eval.h"
#include "support/shared_fixtures.h"

namespace {

using jet::RowId;
using jet::Value;

// The figures the fixtures' README gives for each client database.
struct ClientFile {
  const char* name;
  size_t clients, products;
  size_t upper_h, lower_h;                               // purge candidates by status
  size_t status_a, status_b, status_empty, status_null;  // all clients
  size_t date_null;
  size_t orphan_products;
  std::vector<int64_t> boundary;  // the 16 boundary clients, in the README's order
};

// clang-format off
const std::vector<ClientFile> kFiles = {
    {"clientes-v2000-small.mdb", 40, 66, 6, 3, 16, 1, 0, 1, 3, 0,
     {135, 137, 139, 142, 144, 146, 149, 150, 152, 154, 155, 158, 159, 162, 165, 167}},
    {"clientes-v2000-spanish.mdb", 150, 233, 42, 4, 64, 4, 1, 1, 4, 0,
     {134, 145, 147, 148, 150, 152, 155, 156, 159, 160, 161, 164, 166, 169, 172, 173}},
    {"clientes-v2003-rel.mdb", 200, 282, 43, 6, 81, 6, 2, 12, 8, 0,
     {108, 111, 112, 114, 116, 117, 119, 121, 124, 127, 130, 132, 133, 136, 137, 139}},
    {"clientes-v2003-orphans.mdb", 80, 128, 15, 3, 32, 4, 1, 3, 3, 6,
     {112, 113, 115, 117, 120, 122, 123, 124, 125, 127, 129, 132, 133, 151, 152, 153}},
};
// clang-format on

const char* kPurge = "Select * from clientes where clies = 'H' and clifre <= #12-31-2010#";

jet::Database open(const ClientFile& f) {
  return jet::Database(testsupport::fixture(std::string("clientes/") + f.name).string());
}

size_t col(const jet::Table& t, const char* name) {
  return *t.def().findColumn(name);
}

// CLICOD of the selected clients.
std::set<int64_t> codes(const jet::Database& db, const std::string& sql) {
  const jet::Table t = db.table("clientes");
  std::set<int64_t> out;
  for (RowId id : jet::select(db, sql)) out.insert(t.read(id, col(t, "CLICOD")).asInt());
  return out;
}

// The rows of `table` for which `keep(row values)` holds, in scan order.
template <typename Keep>
std::vector<RowId> filter(const jet::Database& db, const char* table, Keep keep) {
  const jet::Table t = db.table(table);
  std::vector<RowId> out;
  for (RowId id : t.rowIds()) {
    if (keep(t.readRow(id))) out.push_back(id);
  }
  return out;
}

void expectError(const jet::Database& db, const std::string& sql, int number,
                 const std::string& message) {
  try {
    jet::select(db, sql);
    ADD_FAILURE() << "no error for: " << sql;
  } catch (const jet::JetError& e) {
    EXPECT_EQ(e.number(), number) << sql;
    EXPECT_EQ(e.what(), message) << sql;
  }
}

TEST(SqlClientes, PurgeConditionSelectsExactlyTheInactiveClients) {
  REQUIRE_FIXTURES();
  for (const ClientFile& f : kFiles) {
    SCOPED_TRACE(f.name);
    jet::Database db = open(f);
    const jet::Table t = db.table("clientes");
    const size_t status = col(t, "clies"), since = col(t, "clifre");
    size_t upper = 0;
    const auto expected = filter(db, "clientes", [&](const std::vector<Value>& row) {
      const Value& s = row[status];
      const Value& d = row[since];
      const bool hit = s.kind() == Value::Kind::Text &&
                       (s.asString() == "H" || s.asString() == "h") &&
                       d.kind() == Value::Kind::DateTime && d.asDouble() <= 40543.0;  // 31-12-2010
      upper += hit && s.asString() == "H";
      return hit;
    });
    EXPECT_EQ(jet::select(db, kPurge), expected);
    EXPECT_EQ(expected.size(), f.upper_h + f.lower_h);
    EXPECT_EQ(upper, f.upper_h);

    // Midnight of the cut-off day is in, a second later is out; lower-case h
    // is in; no date or status B is out; day and month are read month first.
    const std::set<int64_t> selected = codes(db, kPurge);
    const bool in[16] = {1, 0, 0, 1, 0, 1, 1, 0, 0, 0, 0, 0, 0, 0, 1, 1};
    for (size_t i = 0; i < 16; ++i) {
      EXPECT_EQ(selected.count(f.boundary[i]), in[i] ? 1u : 0u) << "boundary client #" << i + 1;
    }
  }
}

TEST(SqlClientes, DateLiteralsMeetTheStoredInstants) {
  REQUIRE_FIXTURES();
  for (const ClientFile& f : kFiles) {
    SCOPED_TRACE(f.name);
    jet::Database db = open(f);
    const auto& b = f.boundary;
    const std::string w = "SELECT * FROM clientes WHERE ";
    const auto cutoff = codes(db, w + "clifre = #12-31-2010#");
    EXPECT_TRUE(cutoff.count(b[0]) && cutoff.count(b[5]));
    EXPECT_FALSE(cutoff.count(b[1]) || cutoff.count(b[2]) || cutoff.count(b[3]));
    EXPECT_EQ(codes(db, w + "clifre = #2010-12-31#"), cutoff);
    EXPECT_EQ(codes(db, w + "clifre = #12/31/2010 00:00#"), cutoff);
    EXPECT_TRUE(codes(db, w + "clifre = #12/31/2010 0:00:01#").count(b[1]));
    EXPECT_TRUE(codes(db, w + "clifre = #12-31-2010 15:30#").count(b[2]));
    const auto later_that_day = codes(db, w + "clifre > #12-31-2010# AND clifre < #1-1-2011#");
    EXPECT_TRUE(later_that_day.count(b[1]) && later_that_day.count(b[2]));
    EXPECT_FALSE(later_that_day.count(b[0]) || later_that_day.count(b[4]));
    const auto june = codes(db, w + "clifre = #06-12-2010#");
    const auto december = codes(db, w + "clifre = #12-06-2010#");
    EXPECT_TRUE(june.count(b[14]) && !june.count(b[15]));
    EXPECT_TRUE(december.count(b[15]) && !december.count(b[14]));
    // A number compares with a date as its day count.
    EXPECT_EQ(codes(db, w + "clifre <= 40543"), codes(db, w + "clifre <= #12-31-2010#"));
  }
}

TEST(SqlClientes, NullsUnderNotAndIsNull) {
  REQUIRE_FIXTURES();
  for (const ClientFile& f : kFiles) {
    SCOPED_TRACE(f.name);
    jet::Database db = open(f);
    auto count = [&](const std::string& condition) {
      return jet::select(db, "SELECT * FROM clientes WHERE " + condition).size();
    };
    const size_t others = f.status_a + f.status_b + f.status_empty;
    EXPECT_EQ(count("clies IS NULL"), f.status_null);
    EXPECT_EQ(count("clies IS NOT NULL"), f.clients - f.status_null);
    EXPECT_EQ(count("clifre IS NULL"), f.date_null);
    EXPECT_EQ(count("NOT (clies = 'H')"), others);
    EXPECT_EQ(count("clies <> 'h'"), others);
    EXPECT_EQ(count("NOT clies = 'H' OR clies IS NULL"), others + f.status_null);
    EXPECT_EQ(count("clies = ''"), f.status_empty);
    EXPECT_EQ(count("clies = 'a' OR clies = 'b' AND clicod > 0"), f.status_a + f.status_b);
    EXPECT_EQ(count("(clies = 'a' OR clies = 'b') AND clicod < 0"), 0u);
    EXPECT_EQ(count("clifre = NULL OR NOT (clifre <> NULL)"), 0u);
  }
}

TEST(SqlClientes, EachClientsProducts) {
  REQUIRE_FIXTURES();
  for (const ClientFile& f : kFiles) {
    SCOPED_TRACE(f.name);
    jet::Database db = open(f);
    const jet::Table products = db.table("cliprod");
    const size_t client_col = col(products, "codcli");
    std::map<int64_t, std::vector<RowId>> by_client;
    for (RowId id : products.rowIds()) {
      const Value v = products.readRow(id)[client_col];
      if (!v.isNull()) by_client[v.asInt()].push_back(id);
    }
    const jet::Table clients = db.table("clientes");
    size_t covered = 0;
    for (RowId id : clients.rowIds()) {
      const int64_t code = clients.read(id, col(clients, "CLICOD")).asInt();
      const auto got =
          jet::select(db, "Select * from cliprod where codcli = " + std::to_string(code));
      EXPECT_EQ(got, by_client[code]) << "CLICOD " << code;
      covered += got.size();
    }
    EXPECT_EQ(covered + f.orphan_products, f.products);
  }
}

TEST(SqlClientes, NamesAndFormsWithoutRegardToCase) {
  REQUIRE_FIXTURES();
  jet::Database db = open(kFiles[0]);
  const auto purge = jet::select(db, kPurge);
  EXPECT_EQ(jet::select(db,
                        "SELECT * FROM [CLIENTES] WHERE [CLIES] = \"h\" AND CLIFRE <= "
                        "#2010-12-31#;"),
            purge);
  EXPECT_EQ(jet::select(db,
                        "select * from Clientes where clientes.Clies = 'H' and "
                        "[Clientes].[clifre] <= #12/31/2010#"),
            purge);
  EXPECT_EQ(jet::select(db, "CLIENTES").size(), kFiles[0].clients);
  EXPECT_EQ(jet::select(db, "[cliprod]").size(), kFiles[0].products);
  EXPECT_EQ(jet::select(db, "SELECT * FROM clientes;").size(), kFiles[0].clients);

  // The bound tree shows an index what it can answer alone.
  const jet::BoundQuery products = jet::prepare(db, "SELECT * FROM cliprod WHERE 135 = CODCLI");
  const auto eq = jet::sql::columnEquality(*products.where);
  ASSERT_TRUE(eq);
  EXPECT_EQ(eq->column, col(products.table, "codcli"));
  EXPECT_EQ(eq->value, Value::integer(135));
  EXPECT_FALSE(jet::sql::columnEquality(*jet::prepare(db, kPurge).where));
  EXPECT_FALSE(
      jet::sql::columnEquality(*jet::prepare(db, "SELECT * FROM cliprod WHERE codcli = id").where));
  EXPECT_FALSE(jet::sql::columnEquality(
      *jet::prepare(db, "SELECT * FROM cliprod WHERE codcli = NULL").where));
  const jet::BoundQuery purge_query = jet::prepare(db, kPurge);
  EXPECT_EQ(purge_query.columns, (std::vector<size_t>{col(purge_query.table, "clies"),
                                                      col(purge_query.table, "clifre")}));
}

// The per-client statement is recognised without the general parser; what
// it binds to must be exactly what the parser and bind give, and every text
// the shortcut leaves alone must still mean what it meant.
TEST(SqlClientes, DependentQueryShortcutBindsAsTheParserDoes) {
  REQUIRE_FIXTURES();
  jet::Database db = open(kFiles[0]);
  auto sameOperand = [](const jet::sql::Operand& a, const jet::sql::Operand& b) {
    return a.is_column == b.is_column && a.name == b.name && a.column == b.column &&
           a.literal == b.literal && a.text == b.text && a.position == b.position;
  };
  const char* texts[] = {
      "Select * from cliprod where codcli = 135",
      "  SELECT  *  FROM  CLIPROD  WHERE  CodCli=-7 ;  ",
      "select*from horascli where codcli =0000135;",
      "select * from diascli\twhere\ncodcli = 999999999999999999",
      "Select * from clientes where CLICOD = 135",
      // Shapes the shortcut leaves to the parser.
      "Select * from [cliprod] where codcli = 135",
      "Select * from cliprod where cliprod.codcli = 135",
      "Select * from cliprod where 135 = codcli",
      "Select * from cliprod where codcli = 135.0",
      "Select * from cliprod where codcli = - 135",
      "Select * from cliprod where codcli = 1234567890123456789",
      "Select * from clientes where CLICOD = 135 and clies = 'H'",
  };
  for (const char* text : texts) {
    SCOPED_TRACE(text);
    const jet::BoundQuery fast = jet::prepare(db, text);
    const jet::BoundQuery general = jet::bind(jet::parseQuery(text), db);
    EXPECT_EQ(fast.text, general.text);
    EXPECT_EQ(fast.table.def().page, general.table.def().page);
    EXPECT_EQ(fast.columns, general.columns);
    ASSERT_TRUE(fast.where && general.where);
    EXPECT_EQ(fast.where->kind, general.where->kind);
    EXPECT_EQ(fast.where->children.size(), general.where->children.size());
    EXPECT_TRUE(sameOperand(fast.where->left, general.where->left));
    EXPECT_TRUE(sameOperand(fast.where->right, general.where->right));
    EXPECT_EQ(jet::select(fast), jet::select(general));
  }
  EXPECT_FALSE(jet::select(db, "Select * from cliprod where codcli = 135").empty());
  // What it cannot bind, the general way reports.
  expectError(db, "Select * from nada where codcli = 1", 3078,
              "No se encuentra la tabla o consulta de entrada 'nada'.");
  expectError(db, "Select * from cliprod where nada = 1", 3061,
              "No se reconoce 'nada' como nombre de campo o expresión válida.");
  expectError(db, "Select * from clientes where clies = 135", 3464,
              "No coinciden los tipos de datos en la expresión de criterios. (clies = 135: el "
              "campo 'clies' (Texto) no se puede comparar con el número 135)");
}

TEST(SqlClientes, ErrorsNameTheTableColumnOrTypes) {
  REQUIRE_FIXTURES();
  jet::Database db = open(kFiles[0]);
  expectError(db, "SELECT * FROM clientez WHERE clies = 'H'", 3078,
              "No se encuentra la tabla o consulta de entrada 'clientez'.");
  expectError(db, "Mis Clientes", 3078,
              "No se encuentra la tabla o consulta de entrada 'Mis Clientes'.");
  const std::string unknown = "No se reconoce 'clestado' como nombre de campo o expresión válida.";
  expectError(db, "SELECT * FROM clientes WHERE clestado = 'H'", 3061, unknown);
  expectError(db, "SELECT * FROM clientes WHERE clicod < 0 AND [clestado] IS NULL", 3061, unknown);
  expectError(db, "SELECT * FROM clientes WHERE cliprod.clies = 'H'", 3061,
              "No se reconoce 'cliprod.clies' como nombre de campo o expresión válida.");
  const std::string clash = "No coinciden los tipos de datos en la expresión de criterios. (";
  expectError(db, "SELECT * FROM clientes WHERE clies = 5", 3464,
              clash + "clies = 5: el campo 'clies' (Texto) no se puede comparar con el número 5)");
  expectError(db, "SELECT * FROM clientes WHERE CLICOD >= -1.5 AND clifre < 'ayer'", 3464,
              clash +
                  "clifre < 'ayer': el campo 'clifre' (Fecha/Hora) no se puede comparar con "
                  "el texto 'ayer')");
  expectError(db, "SELECT * FROM clientes WHERE #1-1-2000# = [clinotas]", 3464,
              clash +
                  "#1-1-2000# = [clinotas]: la fecha #1-1-2000# no se puede comparar con el "
                  "campo 'clinotas' (Memo))");
  expectError(db, "SELECT * FROM clientes WHERE clicod = clinom", 3464,
              clash +
                  "clicod = clinom: el campo 'clicod' (Entero largo) no se puede comparar "
                  "con el campo 'clinom' (Texto))");
  expectError(db, "SELECT * FROM clientes WHERE 'a' <> TRUE", 3464,
              clash + "'a' <> TRUE: el texto 'a' no se puede comparar con el valor TRUE)");

  // Columns and types are checked when the query is bound, even with no rows.
  jet::Database empty(testsupport::fixture("real/jet3/queryTestV1997.mdb").string());
  ASSERT_EQ(empty.table("Table1").rowIds().size(), 0u);
  expectError(empty, "SELECT * FROM Table1 WHERE col9 = 'a'", 3061,
              "No se reconoce 'col9' como nombre de campo o expresión válida.");
  expectError(empty, "SELECT * FROM Table1 WHERE col1 = 1", 3464,
              clash + "col1 = 1: el campo 'col1' (Texto) no se puede comparar con el número 1)");
}

TEST(SqlRealFiles, CurrencyDecimalAndYesNoColumns) {
  REQUIRE_FIXTURES();
  jet::Database nwind(testsupport::fixture("real/jet3/nwind.mdb").string());
  const jet::Table t = nwind.table("Products");
  const size_t price = col(t, "UnitPrice"), gone = col(t, "Discontinued");
  const auto at18 = filter(nwind, "Products", [&](const std::vector<Value>& r) {
    return !r[price].isNull() && r[price].asInt() == 180000;
  });
  EXPECT_EQ(at18.size(), 4u);
  EXPECT_EQ(jet::select(nwind, "SELECT * FROM Products WHERE UnitPrice = 18"), at18);
  EXPECT_EQ(jet::select(nwind, "SELECT * FROM Products WHERE UnitPrice = 18.0000"), at18);
  const auto dear_and_gone = filter(nwind, "Products", [&](const std::vector<Value>& r) {
    return !r[price].isNull() && r[price].asInt() > 185000 && r[gone].asBool();
  });
  EXPECT_FALSE(dear_and_gone.empty());
  EXPECT_EQ(jet::select(nwind,
                        "SELECT * FROM Products WHERE UnitPrice > 18.5 AND Discontinued"
                        " = True"),
            dear_and_gone);
  EXPECT_EQ(jet::select(nwind,
                        "SELECT * FROM Products WHERE Discontinued = -1 AND "
                        "UnitPrice > 18.5"),
            dear_and_gone);
  EXPECT_EQ(jet::select(nwind, "SELECT * FROM Products WHERE ProductName = 'CHAI'").size(), 1u);

  jet::Database numeric(testsupport::fixture("real/jet4/fixedNumericTestV2000.mdb").string());
  EXPECT_EQ(jet::select(numeric,
                        "SELECT * FROM test WHERE col2 = 1.0 AND col6 = -1 AND "
                        "col5 > 3.99")
                .size(),
            1u);
  EXPECT_EQ(jet::select(numeric, "SELECT * FROM test WHERE col6 >= 0").size(), 0u);
}

}  // namespace
