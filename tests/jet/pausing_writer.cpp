// A second program for the tests of two programs on one database: deletes
// every third row of cliprod in one unit of work and commits, and stops
// itself (SIGSTOP) at a chosen call to the system, so that the test can act
// while it is paused there, then goes on; it can also kill itself (SIGKILL)
// at a later call, as a crash would.
//
//   jet_pausing_writer DB STOP_CALL [KILL_CALL]
//
// A call is OP:SUFFIX:N, the Nth call of OP ("write", "remove", ...) on a
// file whose path ends with SUFFIX (or SUFFIX and "~"). Exits 0 when the
// commit succeeded, 1 with the error on stderr otherwise.
#include <csignal>
#include <cstdio>
#include <string>

#include "jet/database.h"
#include "jet/error.h"
#include "support/faulty_os.h"

namespace {

struct Moment {
  std::string op, suffix;
  int nth = 0;
  int seen = 0;
  int signal = 0;

  bool parse(const std::string& text, int sig) {
    const size_t a = text.find(':'), b = text.rfind(':');
    if (a == std::string::npos || a == b) return false;
    op = text.substr(0, a);
    suffix = text.substr(a + 1, b - a - 1);
    nth = std::stoi(text.substr(b + 1));
    signal = sig;
    return true;
  }
  bool endsWith(const std::string& path, const std::string& tail) const {
    return path.size() >= tail.size() &&
           path.compare(path.size() - tail.size(), tail.size(), tail) == 0;
  }
  void see(const testsupport::OsCall& call) {
    if (nth == 0 || op != testsupport::opName(call.op)) return;
    if (!endsWith(call.path, suffix) && !endsWith(call.path, suffix + "~")) return;
    if (++seen == nth) std::raise(signal);
  }
};

}  // namespace

int main(int argc, char** argv) {
  Moment stop, kill;
  if (argc < 3 || !stop.parse(argv[2], SIGSTOP) || (argc > 3 && !kill.parse(argv[3], SIGKILL))) {
    std::fprintf(stderr, "uso: jet_pausing_writer DB OP:SUFIJO:N [OP:SUFIJO:N]\n");
    return 2;
  }
  testsupport::FaultyOs os;
  os.on_call = [&](const testsupport::OsCall& call) {
    stop.see(call);
    kill.see(call);
  };
  try {
    jet::Database db(argv[1], jet::OpenMode::ReadWrite, os);
    const jet::Table products = db.table("cliprod");
    const std::vector<jet::RowId> rows = products.rowIds();
    db.begin();
    for (size_t i = 0; i < rows.size(); i += 3) db.deleteRow(products, rows[i]);
    db.commit();
  } catch (const jet::JetError& e) {
    std::fprintf(stderr, "%d: %s\n", e.number(), e.what());
    return 1;
  }
  return 0;
}
