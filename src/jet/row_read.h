// What reading a row's fields shares: a read that runs off the row's bytes
// means the file is damaged, and the error names the row.
#pragma once

#include <string>

#include "format/bytes.h"
#include "jet/error.h"
#include "jet/types.h"

namespace jet {

// "la fila 3 de la página 12".
inline std::string rowName(RowId id) {
  return "la fila " + std::to_string(id.row) + " de la página " + std::to_string(id.page);
}

// Runs `fn`; a structural read in it that ran off its bytes is a damaged
// file. `where` names the structure, and is built only when that happens.
template <typename Fn, typename Where>
auto guarded(const std::string& path, Where&& where, Fn&& fn) -> decltype(fn()) {
  try {
    return fn();
  } catch (const OutOfRange&) {
    throwBadFormat(path, where() + " tiene datos dañados");
  }
}

}  // namespace jet
