// Relationships between tables (MSysRelationships), as Access enforces them.
#pragma once

#include <string>
#include <vector>

namespace jet {

class Database;

struct Relationship {
  static constexpr uint32_t kNotEnforced = 0x00000002;
  static constexpr uint32_t kCascadeUpdates = 0x00000100;
  static constexpr uint32_t kCascadeDeletes = 0x00001000;

  std::string name;
  std::string table;  // the "many" side, whose rows refer
  std::vector<std::string> columns;
  std::string referenced_table;  // the "one" side
  std::vector<std::string> referenced_columns;
  uint32_t flags = 0;

  bool enforced() const { return (flags & kNotEnforced) == 0; }
  bool cascadesDeletes() const { return (flags & kCascadeDeletes) != 0; }
};

// Every relationship of the database, its columns in order; empty when the
// database has no MSysRelationships table.
std::vector<Relationship> readRelationships(const Database& db);

}  // namespace jet
