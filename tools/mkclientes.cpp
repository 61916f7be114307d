// mkclientes: writes a client database (clientes, cliprod, horascli,
// diascli) filled with made-up clients, for demos and tests.
//
//   mkclientes SALIDA [--format jet4|jet3] [--clients N] [--max-deps K]
//              [--seed S] [--relations] [--force] [--quiet] [--bench]
//
// The same arguments give the same file, byte for byte: every value comes
// from a generator seeded with S, and dates are counted from a fixed day,
// never from the clock. The file is written under a temporary name beside
// SALIDA and renamed at the end, so an interrupted run leaves nothing under
// the final name; an existing SALIDA is kept unless --force is given.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

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

#include "jet/error.h"
#include "jet/creator.h"
#include "jet/value.h"

namespace {

using jet::ColumnDesign;
using jet::ColumnType;
using jet::Value;

// ---------------------------------------------------------------------------
// Deterministic random numbers: xoshiro256** seeded through splitmix64, and
// range helpers that do not depend on the standard library's distributions.

uint64_t splitmix(uint64_t& x) {
  uint64_t z = (x += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

class Random {
 public:
  explicit Random(uint64_t seed) {
    for (uint64_t& w : s_) w = splitmix(seed);
  }
  // An independent stream for one purpose and one item.
  static Random stream(uint64_t seed, uint64_t purpose, uint64_t item) {
    uint64_t x = seed ^ (purpose * 0xD1B54A32D192ED03ull) ^ (item * 0x8CB92BA72F3D8DD7ull);
    return Random(splitmix(x));
  }
  uint64_t next() {
    const uint64_t result = rotl(s_[1] * 5, 7) * 9;
    const uint64_t t = s_[1] << 17;
    s_[2] ^= s_[0];
    s_[3] ^= s_[1];
    s_[1] ^= s_[2];
    s_[0] ^= s_[3];
    s_[2] ^= t;
    s_[3] = rotl(s_[3], 45);
    return result;
  }
  // Uniform in [0, n).
  uint64_t below(uint64_t n) { return n == 0 ? 0 : next() % n; }
  // Uniform in [lo, hi].
  int64_t between(int64_t lo, int64_t hi) {
    return lo + static_cast<int64_t>(below(static_cast<uint64_t>(hi - lo + 1)));
  }
  bool percent(unsigned p) { return below(100) < p; }
  template <typename T, size_t N>
  const T& pick(const std::array<T, N>& a) {
    return a[below(N)];
  }

 private:
  static uint64_t rotl(uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
  std::array<uint64_t, 4> s_{};
};

enum Purpose : uint64_t { kOrder = 1, kClient, kNotes, kProducts, kHours, kDays, kCodes, kCounts };

// ---------------------------------------------------------------------------
// Made-up Spanish data.

const std::array<const char*, 40> kFirstNames = {
    "José",    "María",     "Ángel",  "Lucía",  "Begoña", "Íñigo",   "Sofía",    "Raúl",
    "Inés",    "Jesús",     "Nuria",  "Óscar",  "Mónica", "Joaquín", "Verónica", "Martín",
    "Elena",   "Andrés",    "Noelia", "Rubén",  "Pilar",  "Adrián",  "Ainhoa",   "Tomás",
    "Carmen",  "Sebastián", "Marta",  "Germán", "Rocío",  "Nicolás", "Paula",    "Julián",
    "Antonia", "Víctor",    "Esther", "Ramón",  "Amparo", "Agustín", "Lidia",    "Álvaro"};

const std::array<const char*, 48> kSurnames = {
    "García",    "Muñoz",     "Peña",      "Ibáñez",    "Núñez",   "Martínez", "López",   "Sánchez",
    "Pérez",     "Gómez",     "Fernández", "Rodríguez", "Díaz",    "Álvarez",  "Jiménez", "Ruiz",
    "Hernández", "Gutiérrez", "Domínguez", "Vázquez",   "Ramírez", "Castaño",  "Cañete",  "Ordóñez",
    "Montaño",   "Yáñez",     "Bermúdez",  "Suárez",    "Gil",     "Serrano",  "Molina",  "Ortiz",
    "Rubio",     "Marín",     "Sanz",      "Iglesias",  "Nuño",    "Medina",   "Garrido", "Cortés",
    "Castillo",  "Santos",    "Lozano",    "Guerrero",  "Cano",    "Prieto",   "Méndez",  "Calvo"};

const std::array<const char*, 32> kProductNames = {
    "Caña de pescar",   "Jamón ibérico",    "Aceite de oliva",   "Queso manchego",
    "Azafrán",          "Turrón de Jijona", "Vino de Rioja",     "Piñones",
    "Mazapán",          "Lámpara de mesa",  "Sillón reclinable", "Cámara réflex",
    "Guía de viaje",    "Té verde",         "Café molido",       "Pañuelo de seda",
    "Reloj de pulsera", "Batería externa",  "Teléfono móvil",    "Ratón óptico",
    "Tóner negro",      "Papel A4",         "Bolígrafo azul",    "Cuaderno",
    "Mochila",          "Linterna",         "Paraguas",          "Menú del día",
    "Canapés variados", "Castañas asadas",  "Leña de encina",    "Sábanas de algodón"};

const std::array<const char*, 40> kWords = {
    "cliente",   "pedido",   "llamó",   "mañana",  "factura",   "pagó",      "envío",
    "dirección", "teléfono", "visita",  "añadir",  "revisar",   "pendiente", "último",
    "según",     "está",     "también", "señor",   "señora",    "cuñado",    "oficina",
    "almacén",   "camión",   "reunión", "precio",  "descuento", "habitual",  "nuevo",
    "antiguo",   "baja",     "alta",    "aviso",   "correo",    "atención",  "devolución",
    "garantía",  "pequeño",  "año",     "próximo", "semana"};

// The "today" of the generated data, fixed so that runs agree: dates run
// from 1995-01-01 to this day.
const jet::DateTimeParts kLastDay = {2026, 11, 30, 0, 0, 0};

double dayNumber(int y, int m, int d) {
  return jet::joinDateTime({y, m, d, 0, 0, 0});
}

// Boundary cases around the usual cut-off date (31-12-2010), given to the
// lowest client codes: status and date (null date when day is 0).
struct Boundary {
  const char* status;
  int year, month, day, hour, minute, second;
};
const std::array<Boundary, 16> kBoundaries = {{
    {"H", 2010, 12, 31, 0, 0, 0},
    {"H", 2010, 12, 31, 0, 0, 1},
    {"H", 2010, 12, 31, 15, 30, 0},
    {"H", 2010, 12, 30, 23, 59, 59},
    {"H", 2011, 1, 1, 0, 0, 0},
    {"h", 2010, 12, 31, 0, 0, 0},
    {"h", 2003, 5, 4, 10, 0, 0},
    {"H", 0, 0, 0, 0, 0, 0},
    {"B", 2001, 2, 3, 0, 0, 0},
    {"A", 1996, 1, 1, 0, 0, 0},
    {nullptr, 1999, 9, 9, 0, 0, 0},
    {"H", 2020, 12, 31, 0, 0, 0},
    {"H", 2020, 12, 31, 12, 0, 0},
    {"H", 2021, 1, 1, 0, 0, 0},
    {"H", 2010, 6, 12, 0, 0, 0},
    {"H", 2010, 12, 6, 0, 0, 0},
}};

std::string sentence(Random& r, size_t min_chars, size_t max_chars, bool line_breaks) {
  const size_t target = static_cast<size_t>(
      r.between(static_cast<int64_t>(min_chars), static_cast<int64_t>(max_chars)));
  std::string s;
  size_t chars = 0;
  while (chars < target) {
    if (!s.empty()) {
      const bool br = line_breaks && r.percent(8);
      s += br ? "\r\n" : " ";
      chars += br ? 2 : 1;
    }
    std::string w = r.pick(kWords);
    if (s.empty() || s.back() == '\n') w[0] = static_cast<char>(std::toupper(w[0]));
    s += w;
    for (unsigned char c : w) chars += (c & 0xC0) != 0x80;
  }
  return s + ".";
}

// ---------------------------------------------------------------------------
// Options.

struct Options {
  std::string out;
  jet::Version version = jet::Version::Jet4;
  uint64_t clients = 2000;
  uint64_t max_deps = 3;
  uint64_t seed = 1;
  bool relations = false;
  bool force = false;
  bool quiet = false;
  bool bench = false;
};

[[noreturn]] void usage(const std::string& problem) {
  if (!problem.empty()) std::cerr << "mkclientes: " << problem << "\n";
  std::cerr << "uso: mkclientes SALIDA [--format jet4|jet3] [--clients N] [--max-deps K]\n"
               "                [--seed S] [--relations] [--force] [--quiet] [--bench]\n"
               "  --format     jet4 (Access 2000-2003, por omisión) o jet3 (Access 97)\n"
               "  --clients    número de clientes (2000 por omisión)\n"
               "  --max-deps   filas por cliente en cada tabla dependiente: 0..K (3)\n"
               "  --seed       semilla; la misma semilla da el mismo archivo (1)\n"
               "  --relations  relaciones con integridad referencial hacia clientes\n"
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

void onSignal(int sig) {
  if (g_temp_path[0] != '\0') ::unlink(g_temp_path);
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
  // mkstemp makes the file private; the database gets the usual mode.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(fd, 0666 & ~mask);
  ::close(fd);
  return std::string(buf.data());
}

// ---------------------------------------------------------------------------
// Progress on standard error: a line rewritten in place on a terminal, a
// line every quarter otherwise.

class Progress {
 public:
  Progress(bool enabled) : enabled_(enabled), tty_(::isatty(STDERR_FILENO) != 0) {}
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

struct Client {
  int32_t code;
  uint32_t index;  // position by code; seeds the client's values
};

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

struct Summary {
  uint64_t status_a = 0, status_h = 0, status_b = 0, status_lower_h = 0, status_null = 0;
  uint64_t date_null = 0;
  uint64_t rows[3] = {0, 0, 0};
  uint64_t without_rows = 0;
};

int run(const Options& o) {
  namespace fs = std::filesystem;
  const auto started = std::chrono::steady_clock::now();
  std::error_code ec;
  if (!o.force && fs::exists(o.out, ec)) {
    std::cerr << "mkclientes: '" << o.out << "' ya existe; use --force para reemplazarlo\n";
    return 1;
  }
  const std::string temp = temporaryBeside(o.out);
  std::snprintf(g_temp_path, sizeof g_temp_path, "%s", temp.c_str());
  std::signal(SIGINT, onSignal);
  std::signal(SIGTERM, onSignal);
  std::signal(SIGHUP, onSignal);

  Summary sum;
  {
    jet::CreateOptions co;
    co.version = o.version;
    co.creation_date = jet::joinDateTime(kLastDay);
    jet::DatabaseCreator db(temp, co);
    const size_t clientes = db.addTable(clientesDesign());
    const size_t cliprod = db.addTable(
        dependentDesign("cliprod", {{"prod", ColumnType::Text, 30}, {"cant", ColumnType::Double}}));
    const size_t horascli = db.addTable(dependentDesign(
        "horascli", {{"horas", ColumnType::Single}, {"fecha", ColumnType::DateTime}}));
    const size_t diascli = db.addTable(dependentDesign("diascli", {{"dia", ColumnType::Integer}}));
    if (o.relations) {
      for (const char* dep : {"cliprod", "horascli", "diascli"}) {
        db.addRelationship(
            {std::string("clientes") + dep, "clientes", {"CLICOD"}, dep, {"codcli"}});
      }
    }

    // Codes rise from a little above 100 in small random steps; clients are
    // stored in a shuffled order, so the physical order is not the code order.
    std::vector<Client> clients(o.clients);
    {
      Random r = Random::stream(o.seed, kCodes, 0);
      int32_t code = 100;
      for (uint32_t i = 0; i < o.clients; ++i) {
        code += static_cast<int32_t>(r.between(1, 3));
        clients[i] = {code, i};
      }
      Random shuffle = Random::stream(o.seed, kOrder, 0);
      for (size_t i = clients.size(); i > 1; --i)
        std::swap(clients[i - 1], clients[shuffle.below(i)]);
    }
    const double first_day = dayNumber(1995, 1, 1);
    const double last_day = jet::joinDateTime(kLastDay);
    const bool big = o.clients >= 20000;
    Progress progress(!o.quiet && big);

    // How many rows a client has in dependent table `k` (0 cliprod, 1
    // horascli, 2 diascli): one in ten clients has none anywhere.
    auto depCount = [&](const Client& c, int k) -> uint64_t {
      Random r = Random::stream(o.seed, kCounts, c.index);
      if (r.percent(10)) return 0;
      for (int j = 0; j < k; ++j) r.next();
      return r.below(o.max_deps + 1);
    };
    std::vector<Value> row;

    uint64_t done = 0;
    for (const Client& c : clients) {
      Random r = Random::stream(o.seed, kClient, c.index);
      std::optional<std::string> status;
      std::optional<double> when;
      if (c.index < kBoundaries.size() && o.clients >= kBoundaries.size()) {
        const Boundary& b = kBoundaries[c.index];
        if (b.status) status = b.status;
        if (b.year != 0) {
          when = jet::joinDateTime({b.year, b.month, b.day, b.hour, b.minute, b.second});
        }
      } else {
        const uint64_t s = r.below(100);
        if (s < 45) {
          status = "A";
        } else if (s < 85) {
          status = "H";
        } else if (s < 93) {
          status = "B";
        } else if (s < 97) {
          status = "h";
        }
        if (!r.percent(3)) {
          double day = first_day + static_cast<double>(
                                       r.below(static_cast<uint64_t>(last_day - first_day) + 1));
          if (r.percent(50)) {
            const uint64_t second = r.between(1, 86399);
            day = jet::joinDateTime([&] {
              jet::DateTimeParts p = jet::splitDateTime(day);
              p.hour = static_cast<int>(second / 3600);
              p.minute = static_cast<int>(second / 60 % 60);
              p.second = static_cast<int>(second % 60);
              return p;
            }());
          }
          when = day;
        }
      }
      std::string name =
          std::string(r.pick(kFirstNames)) + " " + r.pick(kSurnames) + " " + r.pick(kSurnames);
      Random n = Random::stream(o.seed, kNotes, c.index);
      const uint64_t kind = n.below(100);
      std::optional<std::string> notes;
      if (kind < 35) {
        notes = sentence(n, 8, 50, false);
      } else if (kind < 47) {
        notes = sentence(n, 100, 900, true);
      } else if (kind < 50) {
        notes = sentence(n, 2000, 6000, true);
      }

      if (!status) {
        ++sum.status_null;
      } else if (*status == "A") {
        ++sum.status_a;
      } else if (*status == "H") {
        ++sum.status_h;
      } else if (*status == "B") {
        ++sum.status_b;
      } else {
        ++sum.status_lower_h;
      }
      if (!when) ++sum.date_null;
      row = {Value::integer(c.code), Value::text(std::move(name)),
             status ? Value::text(*status) : Value::null(),
             when ? Value::dateTime(*when) : Value::null(),
             notes ? Value::text(std::move(*notes)) : Value::null()};
      db.insert(clientes, row);
      if ((++done & 0x3FF) == 0 || done == clients.size()) {
        progress.update("clientes", done, clients.size());
      }
    }
    db.completeTable(clientes);

    // Dependent rows, client by client in storage order.
    const size_t tables[3] = {cliprod, horascli, diascli};
    const char* names[3] = {"cliprod", "horascli", "diascli"};
    const Purpose purposes[3] = {kProducts, kHours, kDays};
    std::vector<bool> any(clients.size(), false);
    for (int k = 0; k < 3; ++k) {
      done = 0;
      size_t position = 0;
      for (const Client& c : clients) {
        const uint64_t count = depCount(c, k);
        if (count > 0) any[position] = true;
        ++position;
        Random r = Random::stream(o.seed, purposes[k], c.index);
        for (uint64_t j = 0; j < count; ++j) {
          if (k == 0) {
            row = {Value::null(), Value::integer(c.code), Value::text(r.pick(kProductNames)),
                   Value::real(static_cast<double>(r.between(1, 400)) / 4.0)};
          } else if (k == 1) {
            double when = first_day + static_cast<double>(
                                          r.below(static_cast<uint64_t>(last_day - first_day) + 1));
            if (r.percent(60)) when += static_cast<double>(r.between(8 * 4, 20 * 4)) / (24 * 4);
            row = {Value::null(), Value::integer(c.code),
                   Value::single(static_cast<float>(r.between(1, 40)) / 4.0f),
                   Value::dateTime(when)};
          } else {
            row = {Value::null(), Value::integer(c.code), Value::integer(r.between(1, 31))};
          }
          db.insert(tables[k], row);
          ++sum.rows[k];
        }
        if ((++done & 0x3FF) == 0 || done == clients.size()) {
          progress.update(names[k], done, clients.size());
        }
      }
      db.completeTable(tables[k]);
    }
    sum.without_rows = static_cast<uint64_t>(std::count(any.begin(), any.end(), false));
    db.finish();
  }

  std::error_code link_error;
  if (o.force) {
    fs::rename(temp, o.out, link_error);
  } else {
    // link() refuses to replace a file that appeared meanwhile.
    if (::link(temp.c_str(), o.out.c_str()) != 0) {
      link_error = std::error_code(errno, std::generic_category());
    } else {
      ::unlink(temp.c_str());
    }
  }
  if (link_error) {
    ::unlink(temp.c_str());
    std::cerr << "mkclientes: no se puede crear '" << o.out << "': " << link_error.message()
              << "\n";
    return 1;
  }
  g_temp_path[0] = '\0';
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  const uintmax_t size = fs::file_size(o.out);

  if (!o.quiet) {
    std::printf("%s: %s, %.1f MB (%ju bytes) en %.2f s\n", o.out.c_str(),
                o.version == jet::Version::Jet4 ? "Jet 4 (Access 2000-2003)" : "Jet 3 (Access 97)",
                static_cast<double>(size) / 1e6, size, seconds);
    std::printf(
        "  clientes  %llu  (A %llu, H %llu, B %llu, h %llu, sin estado %llu; sin fecha %llu;"
        " sin filas dependientes %llu)\n",
        static_cast<unsigned long long>(o.clients), static_cast<unsigned long long>(sum.status_a),
        static_cast<unsigned long long>(sum.status_h),
        static_cast<unsigned long long>(sum.status_b),
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

  if (o.bench) {
    // The same number of bytes written sequentially, in 1 MB blocks, and
    // flushed like the database.
    const std::string scratch = temporaryBeside(o.out);
    std::snprintf(g_temp_path, sizeof g_temp_path, "%s", scratch.c_str());
    const auto t0 = std::chrono::steady_clock::now();
    const int fd = ::open(scratch.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
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
      failed = failed || ::fsync(fd) != 0;
      ::close(fd);
    }
    const double plain =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    ::unlink(scratch.c_str());
    g_temp_path[0] = '\0';
    struct rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    if (failed) {
      std::cerr << "mkclientes: no se pudo medir la escritura secuencial\n";
      return 1;
    }
    std::printf(
        "banco: generación %.2f s; escritura secuencial de %.1f MB %.2f s; razón %.1f; "
        "memoria máxima %.0f MB\n",
        seconds, static_cast<double>(size) / 1e6, plain, seconds / plain,
        static_cast<double>(usage.ru_maxrss) / 1024.0);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const Options o = parse(argc, argv);
  try {
    return run(o);
  } catch (const jet::JetError& e) {
    if (g_temp_path[0] != '\0') ::unlink(g_temp_path);
    std::cerr << "mkclientes: error " << e.number() << ": " << e.what() << "\n";
  } catch (const std::exception& e) {
    if (g_temp_path[0] != '\0') ::unlink(g_temp_path);
    std::cerr << "mkclientes: " << e.what() << "\n";
  }
  return 1;
}
