// jetdump: prints what an Access (Jet 3 / Jet 4) database holds.
//   jetdump FILE                  the user tables, one a line
//   jetdump --schema FILE TABLE   the table's columns and indexes
//   jetdump --json FILE TABLE     the table's live rows, one JSON object a line
#include <iostream>
#include <string>

#include "jet/database.h"
#include "jet/error.h"
#include "row_json.h"

namespace {

int usage() {
  std::cerr << "uso: jetdump ARCHIVO\n"
               "     jetdump --schema ARCHIVO TABLA\n"
               "     jetdump --json ARCHIVO TABLA\n";
  return 2;
}

std::string indexColumns(const jet::TableDef& def, const jet::RealIndex& real) {
  std::string out;
  for (const jet::IndexColumn& ic : real.columns) {
    if (!out.empty()) out += ", ";
    const jet::Column* c = def.columnByNumber(ic.column_number);
    if (c) {
      out += c->name;
    } else {
      out += '#';
      out += std::to_string(ic.column_number);
    }
    if (!ic.ascending) out += " DESC";
  }
  return out;
}

// Access's "Required" column property; a primary key's columns are required too, and a
// Yes/No column is never null.
bool columnRequired(const jet::TableDef& def, const std::vector<jet::PropertyBlock>& props,
                    const jet::Column& c) {
  if (c.type() == jet::ColumnType::Boolean) return true;
  if (const jet::PropertyBlock* b = jet::findBlock(props, c.name)) {
    const jet::Property* p = b->find("Required");
    if (p && p->value.asBool()) return true;
  }
  for (const jet::LogicalIndex& li : def.logical_indexes) {
    if (li.kind != jet::LogicalIndex::Kind::PrimaryKey) continue;
    for (const jet::IndexColumn& ic : def.real_indexes[li.real_index].columns) {
      if (ic.column_number == c.number) return true;
    }
  }
  return false;
}

// The size as Access shows it: characters for text, bytes otherwise.
unsigned columnSize(const jet::Database& db, const jet::Column& c) {
  if (c.type() == jet::ColumnType::Text && db.version() == jet::Version::Jet4) {
    return c.length / 2u;
  }
  return c.length;
}

void printSchema(const jet::Database& db, const jet::Table& t) {
  const jet::TableDef& def = t.def();
  const std::vector<jet::PropertyBlock> props = db.properties(def.name);
  std::cout << "table " << def.name << "\n";
  for (const jet::Column& c : def.columns) {
    std::cout << "column " << c.name << "\t" << jet::columnTypeName(c.type_code);
    if (c.isAutonumber()) std::cout << " (autonumber)";
    std::cout << "\t" << columnSize(db, c) << "\t"
              << (columnRequired(def, props, c) ? "NOT NULL" : "NULL") << "\n";
  }
  for (const jet::LogicalIndex& li : def.logical_indexes) {
    const jet::RealIndex& real = def.real_indexes[li.real_index];
    std::cout << "index " << li.name << "\t(" << indexColumns(def, real) << ")";
    if (li.kind == jet::LogicalIndex::Kind::PrimaryKey) std::cout << " primary";
    if (real.flags & jet::RealIndex::kUnique) std::cout << " unique";
    if (li.kind == jet::LogicalIndex::Kind::ForeignKey) std::cout << " foreign-key";
    std::cout << "\n";
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  std::string mode;
  int first = 1;
  if (argc > 1 && argv[1][0] == '-' && argv[1][1] == '-') {
    mode = argv[1];
    first = 2;
  }
  try {
    if (mode.empty()) {
      if (argc != 2) return usage();
      jet::Database db(argv[1]);
      for (const std::string& name : db.tableNames()) std::cout << name << "\n";
      return 0;
    }
    if (argc != first + 2) return usage();
    jet::Database db(argv[first]);
    jet::Table t = db.table(argv[first + 1]);
    if (mode == "--schema") {
      printSchema(db, t);
    } else if (mode == "--json") {
      std::string line;
      t.scan([&](jet::RowId id) {
        line = tools::rowToJson(t.def(), t.readRow(id));
        line.push_back('\n');
        std::cout.write(line.data(), static_cast<std::streamsize>(line.size()));
      });
    } else {
      return usage();
    }
    std::cout.flush();
    return std::cout ? 0 : 1;
  } catch (const jet::JetError& e) {
    std::cerr << "jetdump: Error " << e.number() << ": " << e.what() << "\n";
    return 1;
  } catch (const std::exception& e) {
    std::cerr << "jetdump: " << e.what() << "\n";
    return 1;
  }
}
