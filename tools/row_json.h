// Rows as JSON lines, the form the command-line tools print and the tests
// compare with other readers.
#pragma once

#include <string>
#include <vector>

#include "jet/table_def.h"
#include "jet/value.h"

namespace tools {

// {"col": value, ...} with the columns in column order. Values: null,
// true/false, integers, shortest round-trip numbers, currency with four
// decimals and decimals as exact strings, dates as "YYYY-MM-DDTHH:MM:SS",
// text as strings, bytes as lowercase hex, GUIDs in braces.
std::string rowToJson(const jet::TableDef& def, const std::vector<jet::Value>& row);

}  // namespace tools
