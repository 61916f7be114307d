#include "made_up_data.h"

#include <cctype>

namespace madeup {

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

namespace {

const std::array<const char*, 40> kWords = {
    "cliente",   "pedido",   "llamó",   "mañana",  "factura",   "pagó",      "envío",
    "dirección", "teléfono", "visita",  "añadir",  "revisar",   "pendiente", "último",
    "según",     "está",     "también", "señor",   "señora",    "cuñado",    "oficina",
    "almacén",   "camión",   "reunión", "precio",  "descuento", "habitual",  "nuevo",
    "antiguo",   "baja",     "alta",    "aviso",   "correo",    "atención",  "devolución",
    "garantía",  "pequeño",  "año",     "próximo", "semana"};

}  // namespace

double dayNumber(int y, int m, int d) {
  return jet::joinDateTime({y, m, d, 0, 0, 0});
}

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

}  // namespace madeup
