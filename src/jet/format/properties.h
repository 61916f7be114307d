// Object properties (the catalog's LvProp blobs): the table's own settings
// and one block per column ("Required", "DefaultValue", "Format", ...).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "jet/value.h"
#include "format/value_decoder.h"

namespace jet {

struct Property {
  std::string name;
  uint8_t type_code = 0;
  Value value;
};

struct PropertyBlock {
  std::string name;  // empty for the object itself, else a column's name
  std::vector<Property> properties;

  const Property* find(std::string_view name) const;
};

// Parses a property blob ("MR2\0" for Jet 4, "KKD\0" for Jet 3). Throws
// OutOfRange when a length runs past the blob.
std::vector<PropertyBlock> parseProperties(const std::string& blob, const ValueDecoder& decoder,
                                           bool jet4);

// The block of the named column, without regard to case; null when none.
const PropertyBlock* findBlock(const std::vector<PropertyBlock>& blocks, std::string_view name);

}  // namespace jet
