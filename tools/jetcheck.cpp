// jetcheck: checks that an Access (Jet 3 / Jet 4) database is sound.
//   jetcheck [-v] FILE
// One line per problem, then a summary line. With -v, also what could not be
// checked and what Access leaves that is tolerated ("nota: ..."). Exit status
// 0 when sound, 1 when anything is wrong (a file that cannot be opened too),
// 2 on a usage error.
#include <cstring>
#include <iostream>
#include <string>

#include "jet/checker.h"
#include "jet/database.h"
#include "jet/error.h"

namespace {

int usage() {
  std::cerr << "uso: jetcheck [-v] ARCHIVO\n";
  return 2;
}

std::string plural(size_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  bool verbose = false;
  const char* path = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "-v") == 0) {
      verbose = true;
    } else if (argv[i][0] == '-' || path) {
      return usage();
    } else {
      path = argv[i];
    }
  }
  if (!path) return usage();

  jet::CheckReport report;
  try {
    jet::Database db(path);
    report = jet::checkDatabase(db);
  } catch (const jet::JetError& e) {
    std::cout << "Error " << e.number() << ": " << e.what() << "\n"
              << "1 problema: el archivo no se puede comprobar\n";
    return 1;
  } catch (const std::exception& e) {
    std::cout << e.what() << "\n1 problema: el archivo no se puede comprobar\n";
    return 1;
  }

  for (const jet::CheckProblem& p : report.problems) std::cout << p.text() << "\n";
  for (const auto& [where, n] : report.suppressed) {
    std::cout << where << ": y " << plural(n, "problema más", "problemas más") << "\n";
  }
  if (verbose) {
    for (const jet::CheckProblem& n : report.notes) std::cout << "nota: " << n.text() << "\n";
  }
  const size_t problems = report.problemCount();
  std::cout << (problems == 0 ? std::string("sin problemas")
                              : plural(problems, "problema", "problemas"))
            << " (" << plural(report.tables, "tabla", "tablas") << ", "
            << plural(report.rows, "fila", "filas") << ", "
            << plural(report.indexes, "índice", "índices") << ", "
            << plural(report.index_entries, "entrada de índice", "entradas de índice") << ", "
            << plural(report.pages, "página", "páginas") << ")\n";
  std::cout.flush();
  return problems == 0 && std::cout ? 0 : 1;
}
