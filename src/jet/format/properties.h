// Object properties (the catalog's LvProp blobs): the table's own settings
// and one block per column ("Required", "DefaultValue", "Format", ...).
#pragma once

#include <string>
#include <vector>

#include "format/value_decoder.h"
#include "jet/table_def.h"

namespace jet {

// Parses a property blob ("MR2\0" for Jet 4, "KKD\0" for Jet 3). Throws
// OutOfRange when a length runs past the blob.
std::vector<PropertyBlock> parseProperties(const std::string& blob, const ValueDecoder& decoder,
                                           bool jet4);

}  // namespace jet
