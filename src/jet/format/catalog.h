// The catalog (MSysObjects): every object of the database by name, and the
// user tables among them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "format/data_page.h"

namespace jet {

struct CatalogEntry {
  static constexpr int16_t kLocalTable = 1;
  static constexpr int32_t kTablesContainer = 0x0F000001;
  static constexpr uint32_t kSystemFlags = 0x80000002;

  std::string name;
  int32_t id = 0;
  int32_t parent_id = 0;
  int16_t type = 0;
  uint32_t flags = 0;
  RowId row;  // the entry's row in MSysObjects, for its long values

  uint32_t tdefPage() const { return static_cast<uint32_t>(id) & 0x00FFFFFF; }
  bool isUserTable() const {
    return type == kLocalTable && (flags & kSystemFlags) == 0 && parent_id == kTablesContainer;
  }
};

inline constexpr uint32_t kCatalogTdefPage = 2;

}  // namespace jet
