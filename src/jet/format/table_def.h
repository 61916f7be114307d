// Reading a table definition (TDEF) from one or several chained pages.
#pragma once

#include <cstdint>

#include "format/format.h"
#include "io/page_source.h"
#include "jet/table_def.h"

namespace jet {

// Reads the definition starting at `page`. Throws a format error naming the
// file when the page is not a table definition, a chain loops or a field
// lies outside the definition.
TableDef readTableDef(const PageSource& pages, const Format& fmt, uint32_t page,
                      uint16_t code_page);

}  // namespace jet
