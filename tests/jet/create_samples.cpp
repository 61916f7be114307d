// Writes sample databases that mkclientes does not make, for the independent
// readers to judge: every column type the writer supports, nulls, extreme
// numbers, text in and out of Latin-1 (Jet 4 compressed and plain UCS-2),
// long values in the row, in one long-value row and in a chain, Jet 3 rows
// long enough for jump bytes, descending and multi-column indexes, and an
// empty table.
//
// usage: create_samples DIR   (writes DIR/tipos-jet4.mdb and DIR/tipos-jet3.mdb)
#include <array>
#include <iostream>
#include <string>
#include <vector>

#include "jet/creator.h"
#include "jet/error.h"

namespace {

using jet::ColumnType;
using jet::Value;

void write(const std::string& path, jet::Version v) {
  jet::CreateOptions o;
  o.version = v;
  jet::DatabaseCreator db(path, o);
  const bool j4 = v == jet::Version::Jet4;

  jet::TableDesign t;
  t.name = "tipos";
  jet::ColumnDesign auto_id{"id", ColumnType::Long};
  auto_id.autonumber = true;
  t.columns = {auto_id,
               {"si", ColumnType::Boolean},
               {"byte", ColumnType::Byte},
               {"entero", ColumnType::Integer},
               {"largo", ColumnType::Long},
               {"moneda", ColumnType::Currency},
               {"simple", ColumnType::Single},
               {"doble", ColumnType::Double},
               {"fecha", ColumnType::DateTime},
               {"binario", ColumnType::Binary, 40},
               {"texto", ColumnType::Text, 255},
               {"latino", ColumnType::Text, 60},
               {"memo", ColumnType::Memo},
               {"ole", ColumnType::Ole},
               {"guid", ColumnType::Guid}};
  t.indexes = {{"PrimaryKey", {{"id"}}, true},
               {"largo_desc", {{"largo", false}}},
               {"latino_fecha", {{"latino"}, {"fecha", false}}},
               {"moneda", {{"moneda"}}, false, false, true}};
  const size_t tipos = db.addTable(t);

  jet::TableDesign empty;
  empty.name = "vacia";
  empty.columns = {{"n", ColumnType::Long}, {"s", ColumnType::Text, 10}};
  empty.indexes = {{"PrimaryKey", {{"n"}}, true}};
  db.addTable(empty);

  // Rows of every length up to three 256-byte marks: in Jet 3 each mark
  // crossed adds a jump byte, and some lengths need the filler byte.
  jet::TableDesign long_rows;
  long_rows.name = "largas";
  long_rows.columns = {{"n", ColumnType::Long},      {"a", ColumnType::Text, 255},
                       {"b", ColumnType::Text, 255}, {"c", ColumnType::Text, 255},
                       {"d", ColumnType::Text, 255}, {"e", ColumnType::Memo}};
  const size_t largas = db.addTable(long_rows);
  for (int i = 0; i < 700; ++i) {
    auto text = [&](int k) {
      const int len = (i * (k + 3) * 7) % 256;
      return len % 9 == 0
                 ? Value::null()
                 : Value::text(std::string(static_cast<size_t>(len), static_cast<char>('a' + k)));
    };
    db.insert(largas, {Value::integer(i), text(0), text(1), text(2), text(3),
                       i % 4 == 0 ? Value::text(std::string(40 + i % 20, 'z')) : Value::null()});
  }

  const std::string other = j4 ? "Мир, 漢字 y ελληνικά" : "Ærø, Œuvre, €";
  const std::array<std::string, 8> latin = {"Peña",  "peña",  "Ibáñez", "IBAÑEZ",
                                            "árbol", "Arbol", "Zoë",    "über"};
  for (int i = 0; i < 400; ++i) {
    std::array<uint8_t, 16> g{};
    for (size_t k = 0; k < 16; ++k) g[k] = static_cast<uint8_t>(i * 31 + k * 7);
    const bool nulls = i % 11 == 5;
    std::string memo;
    switch (i % 5) {
      case 0:
        memo = "corto " + std::to_string(i);
        break;
      case 1:
        memo = std::string(200 + i, 'm') + "ñ";
        break;
      case 2:
        memo = std::string(9000 + i, 'c') + "\r\nfin";
        break;
      case 3:
        memo = other + " " + std::to_string(i);
        break;
      default:
        break;
    }
    // Jet 3 rows reach past 256 and 512 bytes here.
    const std::string text = i % 3 == 0 ? std::string(static_cast<size_t>(i % 256), 'a' + i % 26)
                                        : other + std::to_string(i);
    std::vector<Value> row = {
        Value::null(),
        Value::boolean(i % 3 == 1),
        nulls ? Value::null() : Value::integer(i % 256),
        nulls ? Value::null() : Value::integer(i % 2 ? -32768 + i : 32767 - i),
        nulls ? Value::null() : Value::integer(i % 2 ? -2147483647 + i : 2147483647 - i * 1000),
        nulls ? Value::null() : Value::currency((i - 200) * 12345),
        nulls ? Value::null() : Value::single(static_cast<float>(i) / 8.0f - 20.0f),
        nulls ? Value::null() : Value::real((i - 200) * 1.0e-3 + (i % 7) * 1e250),
        nulls ? Value::null() : Value::dateTime(1.0 + i * 91.25),
        nulls ? Value::null()
              : Value::bytes(
                    std::string(static_cast<size_t>(1 + i % 40), static_cast<char>(1 + i % 255))),
        nulls ? Value::null() : Value::text(text),
        nulls ? Value::null()
              : Value::text(latin[static_cast<size_t>(i) % latin.size()] + std::to_string(i % 13)),
        memo.empty() ? Value::null() : Value::text(memo),
        i % 4 == 0
            ? Value::bytes(std::string(static_cast<size_t>(30 + i * 17), static_cast<char>(i)))
            : Value::null(),
        nulls ? Value::null() : Value::guid(g)};
    db.insert(tipos, row);
  }
  db.finish();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: create_samples DIR\n";
    return 2;
  }
  try {
    const std::string dir = argv[1];
    write(dir + "/tipos-jet4.mdb", jet::Version::Jet4);
    write(dir + "/tipos-jet3.mdb", jet::Version::Jet3);
  } catch (const std::exception& e) {
    std::cerr << "create_samples: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
