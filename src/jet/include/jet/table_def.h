// What a table is made of, as its definition (TDEF) stores it: its columns,
// its real and logical indexes and the maps of its pages; and the properties
// Access keeps beside it, for the table and each column.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "jet/column.h"
#include "jet/value.h"

namespace jet {

struct IndexColumn {
  uint16_t column_number = 0;
  bool ascending = true;
};

// The index data on disk; several logical indexes may share one.
struct RealIndex {
  static constexpr uint8_t kUnique = 0x01;
  static constexpr uint8_t kIgnoreNulls = 0x02;
  static constexpr uint8_t kRequired = 0x08;

  std::vector<IndexColumn> columns;
  uint32_t used_map = 0;  // row pointer
  uint32_t root_page = 0;
  uint8_t flags = 0;
};

// An index as Access shows it, with its name and relationship role.
struct LogicalIndex {
  enum class Kind : uint8_t { Normal = 0, PrimaryKey = 1, ForeignKey = 2 };

  std::string name;
  uint32_t number = 0;
  uint32_t real_index = 0;
  uint8_t fk_role = 0;  // 1 referenced side, 2 referencing side
  int32_t related_index = -1;
  uint32_t related_table_page = 0;
  bool cascade_updates = false;
  uint8_t cascade_deletes = 0;  // 1 cascade, 2 set null
  Kind kind = Kind::Normal;
};

struct TableDef {
  uint32_t page = 0;  // first TDEF page; identifies the table
  std::string name;
  uint32_t row_count = 0;
  uint32_t autonumber = 0;
  uint8_t table_type = 0;
  uint16_t max_cols = 0;
  uint16_t var_slots = 0;
  uint32_t used_map = 0;        // row pointer
  uint32_t free_map = 0;        // row pointer
  std::vector<Column> columns;  // sorted by column number
  std::vector<RealIndex> real_indexes;
  std::vector<LogicalIndex> logical_indexes;
  std::vector<uint32_t> pages;  // the TDEF pages, in chain order

  // Position in `columns`, matched without regard to case.
  std::optional<size_t> findColumn(std::string_view name) const;
  const Column* columnByNumber(uint16_t number) const;
};

// An object's property ("Required", "DefaultValue", "Format", ...).
struct Property {
  std::string name;
  uint8_t type_code = 0;
  Value value;
};

// The properties of the object itself or of one of its columns.
struct PropertyBlock {
  std::string name;  // empty for the object itself, else a column's name
  std::vector<Property> properties;

  const Property* find(std::string_view name) const;
};

// The block of the named column, without regard to case; null when none.
const PropertyBlock* findBlock(const std::vector<PropertyBlock>& blocks, std::string_view name);

}  // namespace jet
