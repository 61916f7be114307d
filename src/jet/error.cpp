#include "jet/error.h"

namespace jet {

void throwBadFormat(const std::string& path, const std::string& reason) {
  throw JetError(err::kBadFormat,
                 "Formato de base de datos '" + path + "' no reconocido: " + reason + ".");
}

void throwFileNotFound(const std::string& path) {
  throw JetError(err::kFileNotFound, "No se encuentra el archivo '" + path + "'.");
}

void throwCannotOpen(const std::string& path) {
  throw JetError(err::kCannotOpen, "No se puede abrir el archivo '" + path + "'.");
}

void throwUnknownTable(const std::string& name) {
  throw JetError(err::kUnknownTable,
                 "No se encuentra la tabla o consulta de entrada '" + name + "'.");
}

void throwUnknownField(const std::string& name) {
  throw JetError(err::kUnknownField,
                 "No se reconoce '" + name + "' como nombre de campo o expresión válida.");
}

}  // namespace jet
