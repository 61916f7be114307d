// mkclientes: writes a client database (clientes, cliprod, horascli,
// diascli) filled with made-up clients, for demos and tests.
//
//   mkclientes SALIDA [--format jet4|jet3] [--clients N] [--max-deps K]
//              [--seed S] [--relations] [--scatter] [--force] [--quiet]
//              [--bench]
//
// By default each client's dependent rows lie together, client after client,
// as if every client had been typed in at once. --scatter spreads them over
// the whole of each dependent table in random order, as a database that grew
// over years holds them: a purge then touches pages all over the file, which
// is what the benchmarks should measure. The rows themselves are the same
// in both layouts; only their order (and so their autonumber ids) differs.
//
// The same arguments give the same file, byte for byte: every value comes
// from a generator seeded with S, and dates are counted from a fixed day,
// never from the clock. The file is written under a temporary name beside
// SALIDA and renamed at the end, so an interrupted run leaves nothing under
// the final name; an existing SALIDA is kept unless --force is given.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef _WIN32
// MinGW's unistd.h gives open, write, unlink, mkstemp and isatty; what it
// lacks (link, getrusage, fsync) has its Windows call below.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// after windows.h, which it needs
#include <psapi.h>
#else
#include <sys/resource.h>
#endif

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "jet/creator.h"
#include "jet/error.h"
#include "jet/value.h"
#include "made_up_data.h"

namespace {

using namespace madeup;
using jet::ColumnDesign;
using jet::ColumnType;
using jet::Value;

// ---------------------------------------------------------------------------
// Options.

struct Options {
  std::string out;
  jet::Version version = jet::Version::Jet4;
  uint64_t clients = 2000;
  uint64_t max_deps = 3;
  uint64_t seed = 1;
  bool relations = false;
  bool scatter = false;
  bool force = false;
  bool quiet = false;
  bool bench = false;
};

[[noreturn]] void usage(const std::string& problem) {
  if (!problem.empty()) std::cerr << "mkclientes: " << problem << "\n";
  std::cerr << "uso: mkclientes SALIDA [--format jet4|jet3] [--clients N] [--max-deps K]\n"
               "                [--seed S] [--relations] [--scatter] [--force] [--quiet]\n"
               "                [--bench]\n"
               "  --format     jet4 (Access 2000-2003, por omisión) o jet3 (Access 97)\n"
               "  --clients    número de clientes (2000 por omisión)\n"
               "  --max-deps   filas por cliente en cada tabla dependiente: 0..K (3)\n"
               "  --seed       semilla; la misma semilla da el mismo archivo (1)\n"
               "  --relations  relaciones con integridad referencial hacia clientes\n"
               "  --scatter    filas dependientes repartidas al azar por toda la tabla,\n"
               "               como en una base que ha crecido durante años\n"
               "  --force      reemplaza SALIDA si ya existe\n"
               "  --quiet      sin progreso ni resumen\n"
               "  --bench      mide también una escritura secuencial del mismo tamaño\n";
  std::exit(2);
}

uint64_t number(const std::string& flag, const char* text) {
  if (!text) usage("falta el valor de " + flag);
  char* end = nullptr;
  errno = 0;
  const unsigned long long v = std::strtoull(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || text[0] == '-') {
    usage("valor no válido para " + flag + ": " + text);
  }
  return v;
}

Options parse(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const char* next = i + 1 < argc ? argv[i + 1] : nullptr;
    if (a == "--format") {
      if (!next) usage("falta el valor de --format");
      const std::string f = argv[++i];
      if (f == "jet4") {
        o.version = jet::Version::Jet4;
      } else if (f == "jet3") {
        o.version = jet::Version::Jet3;
      } else {
        usage("formato desconocido: " + f);
      }
    } else if (a == "--clients") {
      o.clients = number(a, next);
      ++i;
    } else if (a == "--max-deps") {
      o.max_deps = number(a, next);
      ++i;
    } else if (a == "--seed") {
      o.seed = number(a, next);
      ++i;
    } else if (a == "--relations") {
      o.relations = true;
    } else if (a == "--scatter") {
      o.scatter = true;
    } else if (a == "--force") {
      o.force = true;
    } else if (a == "--quiet") {
      o.quiet = true;
    } else if (a == "--bench") {
      o.bench = true;
    } else if (a == "-h" || a == "--help") {
      usage("");
    } else if (!a.empty() && a[0] == '-') {
      usage("opción desconocida: " + a);
    } else if (o.out.empty()) {
      o.out = a;
    } else {
      usage("sobra el argumento " + a);
    }
  }
  if (o.out.empty()) usage("falta el archivo de salida");
  if (o.clients > 5000000) usage("como mucho 5000000 clientes");
  if (o.max_deps > 100) usage("como mucho 100 filas dependientes por cliente");
  return o;
}

// ---------------------------------------------------------------------------
// The temporary file is removed if the run is interrupted.

char g_temp_path[4096] = {};

void rememberTemporary(const std::string& path) {
  std::snprintf(g_temp_path, sizeof g_temp_path, "%s", path.c_str());
}

void forgetTemporary() {
  g_temp_path[0] = '\0';
}

// Safe in a signal handler: only unlink().
void removeTemporary() {
  if (g_temp_path[0] != '\0') ::unlink(g_temp_path);
}

void onSignal(int sig) {
  removeTemporary();
  std::signal(sig, SIG_DFL);
  std::raise(sig);
}

std::string temporaryBeside(const std::string& out) {
  namespace fs = std::filesystem;
  const fs::path target(out);
  const fs::path dir = target.has_parent_path() ? target.parent_path() : fs::path(".");
  std::string pattern = (dir / ("." + target.filename().string() + ".XXXXXX")).string();
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  const int fd = ::mkstemp(buf.data());
  if (fd < 0) {
    throw jet::JetError(jet::Msg::kCannotCreateTemp, out);
  }
#ifndef _WIN32
  // mkstemp makes the file private; the database gets the usual mode.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(fd, 0666 & ~mask);
#endif
  ::close(fd);
  return std::string(buf.data());
}

// The temporary file the database is written to, removed if a signal
// interrupts the run.
std::string startTemporary(const std::string& out) {
  const std::string temp = temporaryBeside(out);
  rememberTemporary(temp);
  std::signal(SIGINT, onSignal);
  std::signal(SIGTERM, onSignal);
#ifdef SIGHUP
  std::signal(SIGHUP, onSignal);
#endif
  return temp;
}

// Gives the finished file its final name; on failure removes it and says
// why.
bool moveIntoPlace(const std::string& temp, const Options& o) {
  std::error_code link_error;
  if (o.force) {
    std::filesystem::rename(temp, o.out, link_error);
  } else {
#ifdef _WIN32
    // Without MOVEFILE_REPLACE_EXISTING the move refuses a file that
    // appeared meanwhile.
    if (!::MoveFileExA(temp.c_str(), o.out.c_str(), MOVEFILE_WRITE_THROUGH)) {
      link_error = std::error_code(static_cast<int>(::GetLastError()), std::system_category());
    }
#else
    // link() refuses to replace a file that appeared meanwhile.
    if (::link(temp.c_str(), o.out.c_str()) != 0) {
      link_error = std::error_code(errno, std::generic_category());
    } else {
      ::unlink(temp.c_str());
    }
#endif
  }
  if (link_error) {
    ::unlink(temp.c_str());
    std::cerr << "mkclientes: no se puede crear '" << o.out << "': " << link_error.message()
              << "\n";
    return false;
  }
  forgetTemporary();
  return true;
}

// ---------------------------------------------------------------------------
// Progress on standard error: a line rewritten in place on a terminal, a
// line every quarter otherwise.

class Progress {
 public:
  Progress(bool enabled) : enabled_(enabled), tty_(::isatty(STDERR_FILENO) != 0) {}
  // After every 1024th item and the last one.
  void step(const char* stage, uint64_t done, uint64_t total) {
    if ((done & 0x3FF) == 0 || done == total) update(stage, done, total);
  }
  void update(const char* stage, uint64_t done, uint64_t total) {
    if (!enabled_ || total == 0) return;
    const unsigned pct = static_cast<unsigned>(done * 100 / total);
    const auto now = std::chrono::steady_clock::now();
    if (tty_) {
      if (done != total && now - last_ < std::chrono::milliseconds(200)) return;
      last_ = now;
      std::fprintf(stderr, "\r%-10s %3u %%  (%llu de %llu)   ", stage, pct,
                   static_cast<unsigned long long>(done), static_cast<unsigned long long>(total));
      if (done == total) std::fputc('\n', stderr);
    } else {
      const unsigned quarter = pct / 25;
      if (stage != stage_) {
        stage_ = stage;
        quarter_ = 0;
      }
      if (quarter > quarter_ || done == total) {
        quarter_ = quarter + (done == total ? 4 : 0);
        std::fprintf(stderr, "%s: %u %%\n", stage, pct);
      }
    }
  }

 private:
  bool enabled_, tty_;
  std::chrono::steady_clock::time_point last_{};
  const char* stage_ = nullptr;
  unsigned quarter_ = 0;
};

// ---------------------------------------------------------------------------
// The tables.

jet::TableDesign clientesDesign() {
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

jet::TableDesign dependentDesign(const char* name, std::vector<ColumnDesign> values) {
  jet::TableDesign t;
  t.name = name;
  ColumnDesign id{"id", ColumnType::Long};
  id.autonumber = true;
  t.columns = {id, {"codcli", ColumnType::Long}};
  t.columns.insert(t.columns.end(), values.begin(), values.end());
  t.indexes = {{"PrimaryKey", {{"id"}}, true}, {"codcli", {{"codcli"}}}};
  return t;
}

// The tables that hold rows of a client, by number k: 0 cliprod, 1 horascli,
// 2 diascli.
constexpr int kDependents = 3;
const char* const kDependentNames[kDependents] = {"cliprod", "horascli", "diascli"};
const Purpose kDependentPurposes[kDependents] = {kProducts, kHours, kDays};

struct Tables {
  size_t clientes = 0;
  size_t dependents[kDependents] = {};
};

Tables addTables(jet::DatabaseCreator& db, bool relations) {
  Tables t;
  t.clientes = db.addTable(clientesDesign());
  t.dependents[0] = db.addTable(
      dependentDesign("cliprod", {{"prod", ColumnType::Text, 30}, {"cant", ColumnType::Double}}));
  t.dependents[1] = db.addTable(dependentDesign(
      "horascli", {{"horas", ColumnType::Single}, {"fecha", ColumnType::DateTime}}));
  t.dependents[2] = db.addTable(dependentDesign("diascli", {{"dia", ColumnType::Integer}}));
  if (relations) {
    for (const char* dep : kDependentNames) {
      db.addRelationship({std::string("clientes") + dep, "clientes", {"CLICOD"}, dep, {"codcli"}});
    }
  }
  return t;
}

// ---------------------------------------------------------------------------
// The rows.

struct Client {
  int32_t code;
  uint32_t index;  // position by code; seeds the client's values
};

// Codes rise from a little above 100 in small random steps; clients are
// stored in a shuffled order, so the physical order is not the code order.
std::vector<Client> clientsInStorageOrder(const Options& o) {
  std::vector<Client> clients(o.clients);
  Random r = Random::stream(o.seed, kCodes, 0);
  int32_t code = 100;
  for (uint32_t i = 0; i < o.clients; ++i) {
    code += static_cast<int32_t>(r.between(1, 3));
    clients[i] = {code, i};
  }
  Random shuffle = Random::stream(o.seed, kOrder, 0);
  for (size_t i = clients.size(); i > 1; --i) std::swap(clients[i - 1], clients[shuffle.below(i)]);
  return clients;
}

// A whole day from 1995-01-01 to kLastDay.
double randomDay(Random& r) {
  static const double first_day = dayNumber(1995, 1, 1);
  static const double last_day = jet::joinDateTime(kLastDay);
  return first_day + static_cast<double>(r.below(static_cast<uint64_t>(last_day - first_day) + 1));
}

// A client's status: A 45 %, H 40 %, B 8 %, h 4 %, none 3 %.
std::optional<std::string> randomStatus(Random& r) {
  const uint64_t s = r.below(100);
  if (s < 45) return "A";
  if (s < 85) return "H";
  if (s < 93) return "B";
  if (s < 97) return "h";
  return std::nullopt;
}

// A day, at midnight or (half the time) at a time of day.
double randomMoment(Random& r) {
  const double day = randomDay(r);
  if (!r.percent(50)) return day;
  const uint64_t second = r.between(1, 86399);
  jet::DateTimeParts p = jet::splitDateTime(day);
  p.hour = static_cast<int>(second / 3600);
  p.minute = static_cast<int>(second / 60 % 60);
  p.second = static_cast<int>(second % 60);
  return jet::joinDateTime(p);
}

// Half the clients have notes: a few words, a paragraph or a long text.
std::optional<std::string> randomNotes(const Options& o, const Client& c) {
  Random n = Random::stream(o.seed, kNotes, c.index);
  const uint64_t kind = n.below(100);
  if (kind < 35) return sentence(n, 8, 50, false);
  if (kind < 47) return sentence(n, 100, 900, true);
  if (kind < 50) return sentence(n, 2000, 6000, true);
  return std::nullopt;
}

struct ClientValues {
  std::optional<std::string> status;
  std::optional<double> when;
  std::string name;
  std::optional<std::string> notes;
};

ClientValues clientValues(const Options& o, const Client& c) {
  ClientValues v;
  Random r = Random::stream(o.seed, kClient, c.index);
  if (c.index < kBoundaries.size() && o.clients >= kBoundaries.size()) {
    const Boundary& b = kBoundaries[c.index];
    if (b.status) v.status = b.status;
    if (b.year != 0) {
      v.when = jet::joinDateTime({b.year, b.month, b.day, b.hour, b.minute, b.second});
    }
  } else {
    v.status = randomStatus(r);
    if (!r.percent(3)) v.when = randomMoment(r);
  }
  v.name = std::string(r.pick(kFirstNames)) + " " + r.pick(kSurnames) + " " + r.pick(kSurnames);
  v.notes = randomNotes(o, c);
  return v;
}

// How many rows a client has in dependent table `k`: one in ten clients has
// none anywhere.
uint64_t dependentCount(const Options& o, const Client& c, int k) {
  Random r = Random::stream(o.seed, kCounts, c.index);
  if (r.percent(10)) return 0;
  for (int j = 0; j < k; ++j) r.next();
  return r.below(o.max_deps + 1);
}

// One row of dependent table `k` for the client `code`; the id is left to
// the autonumber.
void dependentRow(int k, Random& r, int32_t code, std::vector<Value>& row) {
  if (k == 0) {
    row = {Value::null(), Value::integer(code), Value::text(r.pick(kProductNames)),
           Value::real(static_cast<double>(r.between(1, 400)) / 4.0)};
  } else if (k == 1) {
    double when = randomDay(r);
    if (r.percent(60)) when += static_cast<double>(r.between(8 * 4, 20 * 4)) / (24 * 4);
    row = {Value::null(), Value::integer(code),
           Value::single(static_cast<float>(r.between(1, 40)) / 4.0f), Value::dateTime(when)};
  } else {
    row = {Value::null(), Value::integer(code), Value::integer(r.between(1, 31))};
  }
}

// ---------------------------------------------------------------------------
// Writing the database.

struct Summary {
  uint64_t status_a = 0, status_h = 0, status_b = 0, status_lower_h = 0, status_null = 0;
  uint64_t date_null = 0;
  uint64_t rows[kDependents] = {0, 0, 0};
  uint64_t without_rows = 0;

  void count(const ClientValues& v) {
    if (!v.status) {
      ++status_null;
    } else if (*v.status == "A") {
      ++status_a;
    } else if (*v.status == "H") {
      ++status_h;
    } else if (*v.status == "B") {
      ++status_b;
    } else {
      ++status_lower_h;
    }
    if (!v.when) ++date_null;
  }
};

void writeClients(jet::DatabaseCreator& db, size_t table, const std::vector<Client>& clients,
                  const Options& o, Progress& progress, Summary& sum) {
  std::vector<Value> row;
  uint64_t done = 0;
  for (const Client& c : clients) {
    ClientValues v = clientValues(o, c);
    sum.count(v);
    row = {Value::integer(c.code), Value::text(std::move(v.name)),
           v.status ? Value::text(*v.status) : Value::null(),
           v.when ? Value::dateTime(*v.when) : Value::null(),
           v.notes ? Value::text(std::move(*v.notes)) : Value::null()};
    db.insert(table, row);
    progress.step("clientes", ++done, clients.size());
  }
  db.completeTable(table);
}

// The rows of dependent table `k`, client by client in storage order;
// returns how many.
uint64_t writeDependentsTogether(jet::DatabaseCreator& db, size_t table, int k,
                                 const std::vector<Client>& clients, const Options& o,
                                 Progress& progress) {
  std::vector<Value> row;
  uint64_t rows = 0;
  uint64_t done = 0;
  for (const Client& c : clients) {
    const uint64_t count = dependentCount(o, c, k);
    Random r = Random::stream(o.seed, kDependentPurposes[k], c.index);
    for (uint64_t j = 0; j < count; ++j) {
      dependentRow(k, r, c.code, row);
      db.insert(table, row);
      ++rows;
    }
    progress.step(kDependentNames[k], ++done, clients.size());
  }
  db.completeTable(table);
  return rows;
}

// The same rows as writeDependentsTogether, shuffled over the whole table.
// A row is named by its client's storage position and its number among that
// client's rows (below 128, as --max-deps is at most 100), packed in 8 bytes
// so that even the largest table's order fits in memory. A row's values are
// found again by replaying its client's generator up to it, which keeps them
// the same as in the default layout.
uint64_t writeDependentsScattered(jet::DatabaseCreator& db, size_t table, int k,
                                  const std::vector<Client>& clients, const Options& o,
                                  Progress& progress) {
  constexpr int kRowBits = 7;
  std::vector<uint64_t> order;
  for (size_t i = 0; i < clients.size(); ++i) {
    const uint64_t count = dependentCount(o, clients[i], k);
    for (uint64_t j = 0; j < count; ++j) order.push_back(uint64_t{i} << kRowBits | j);
  }
  Random shuffle = Random::stream(o.seed, kScatter, static_cast<uint64_t>(k));
  for (size_t i = order.size(); i > 1; --i) std::swap(order[i - 1], order[shuffle.below(i)]);
  std::vector<Value> row;
  uint64_t done = 0;
  for (const uint64_t entry : order) {
    const Client& c = clients[entry >> kRowBits];
    Random r = Random::stream(o.seed, kDependentPurposes[k], c.index);
    for (uint64_t j = 0; j <= (entry & ((1u << kRowBits) - 1)); ++j)
      dependentRow(k, r, c.code, row);
    db.insert(table, row);
    progress.step(kDependentNames[k], ++done, order.size());
  }
  db.completeTable(table);
  return order.size();
}

uint64_t clientsWithoutDependents(const std::vector<Client>& clients, const Options& o) {
  return static_cast<uint64_t>(std::count_if(clients.begin(), clients.end(), [&](const Client& c) {
    for (int k = 0; k < kDependents; ++k) {
      if (dependentCount(o, c, k) > 0) return false;
    }
    return true;
  }));
}

// Writes the whole database to `path`; returns what it holds.
Summary generate(const Options& o, const std::string& path) {
  jet::CreateOptions co;
  co.version = o.version;
  co.creation_date = jet::joinDateTime(kLastDay);
  jet::DatabaseCreator db(path, co);
  const Tables tables = addTables(db, o.relations);
  const std::vector<Client> clients = clientsInStorageOrder(o);
  Progress progress(!o.quiet && o.clients >= 20000);
  Summary sum;
  writeClients(db, tables.clientes, clients, o, progress, sum);
  for (int k = 0; k < kDependents; ++k) {
    sum.rows[k] = o.scatter
                      ? writeDependentsScattered(db, tables.dependents[k], k, clients, o, progress)
                      : writeDependentsTogether(db, tables.dependents[k], k, clients, o, progress);
  }
  sum.without_rows = clientsWithoutDependents(clients, o);
  db.finish();
  return sum;
}

// ---------------------------------------------------------------------------
// Reports.

void printSummary(const Options& o, const Summary& sum, uintmax_t size, double seconds) {
  std::printf("%s: %s, %.1f MB (%ju bytes) en %.2f s\n", o.out.c_str(),
              o.version == jet::Version::Jet4 ? "Jet 4 (Access 2000-2003)" : "Jet 3 (Access 97)",
              static_cast<double>(size) / 1e6, size, seconds);
  std::printf(
      "  clientes  %llu  (A %llu, H %llu, B %llu, h %llu, sin estado %llu; sin fecha %llu;"
      " sin filas dependientes %llu)\n",
      static_cast<unsigned long long>(o.clients), static_cast<unsigned long long>(sum.status_a),
      static_cast<unsigned long long>(sum.status_h), static_cast<unsigned long long>(sum.status_b),
      static_cast<unsigned long long>(sum.status_lower_h),
      static_cast<unsigned long long>(sum.status_null),
      static_cast<unsigned long long>(sum.date_null),
      static_cast<unsigned long long>(sum.without_rows));
  std::printf("  cliprod   %llu\n  horascli  %llu\n  diascli   %llu\n",
              static_cast<unsigned long long>(sum.rows[0]),
              static_cast<unsigned long long>(sum.rows[1]),
              static_cast<unsigned long long>(sum.rows[2]));
  if (o.relations)
    std::printf("  relaciones: clientescliprod, clienteshorascli, clientesdiascli\n");
}

// Seconds to write `size` bytes sequentially beside `out`, in 1 MB blocks,
// flushed like the database; nothing when the writing fails.
std::optional<double> sequentialWriteSeconds(const std::string& out, uintmax_t size) {
  const std::string scratch = temporaryBeside(out);
  rememberTemporary(scratch);
  const auto t0 = std::chrono::steady_clock::now();
#ifdef _WIN32
  const int fd = ::open(scratch.c_str(), O_WRONLY | O_TRUNC | O_BINARY);
#else
  const int fd = ::open(scratch.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
#endif
  std::vector<char> block(1 << 20, 'x');
  uintmax_t left = size;
  bool failed = fd < 0;
  while (!failed && left > 0) {
    const size_t n = static_cast<size_t>(std::min<uintmax_t>(left, block.size()));
    const ssize_t w = ::write(fd, block.data(), n);
    if (w <= 0) failed = true;
    left -= w > 0 ? static_cast<uintmax_t>(w) : 0;
  }
  if (fd >= 0) {
#ifdef _WIN32
    failed = failed || ::_commit(fd) != 0;
#else
    failed = failed || ::fsync(fd) != 0;
#endif
    ::close(fd);
  }
  const double plain = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  ::unlink(scratch.c_str());
  forgetTemporary();
  if (failed) return std::nullopt;
  return plain;
}

// --bench: the generation time against a plain write of the same size.
int reportBench(const std::string& out, uintmax_t size, double seconds) {
  const std::optional<double> plain = sequentialWriteSeconds(out, size);
#ifdef _WIN32
  PROCESS_MEMORY_COUNTERS memory{};
  ::GetProcessMemoryInfo(::GetCurrentProcess(), &memory, sizeof memory);
  const double peak_kb = static_cast<double>(memory.PeakWorkingSetSize) / 1024.0;
#else
  struct rusage usage {};
  ::getrusage(RUSAGE_SELF, &usage);
  const double peak_kb = static_cast<double>(usage.ru_maxrss);
#endif
  if (!plain) {
    std::cerr << "mkclientes: no se pudo medir la escritura secuencial\n";
    return 1;
  }
  std::printf(
      "banco: generación %.2f s; escritura secuencial de %.1f MB %.2f s; razón %.1f; "
      "memoria máxima %.0f MB\n",
      seconds, static_cast<double>(size) / 1e6, *plain, seconds / *plain, peak_kb / 1024.0);
  return 0;
}

int run(const Options& o) {
  namespace fs = std::filesystem;
  const auto started = std::chrono::steady_clock::now();
  std::error_code ec;
  if (!o.force && fs::exists(o.out, ec)) {
    std::cerr << "mkclientes: '" << o.out << "' ya existe; use --force para reemplazarlo\n";
    return 1;
  }
  const std::string temp = startTemporary(o.out);
  const Summary sum = generate(o, temp);
  if (!moveIntoPlace(temp, o)) return 1;
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  const uintmax_t size = fs::file_size(o.out);
  if (!o.quiet) printSummary(o, sum, size, seconds);
  return o.bench ? reportBench(o.out, size, seconds) : 0;
}

}  // namespace

int main(int argc, char** argv) {
  const Options o = parse(argc, argv);
  try {
    return run(o);
  } catch (const jet::JetError& e) {
    removeTemporary();
    std::cerr << "mkclientes: error " << e.number() << ": " << e.what() << "\n";
  } catch (const std::exception& e) {
    removeTemporary();
    std::cerr << "mkclientes: " << e.what() << "\n";
  }
  return 1;
}
