#include "jet/column.h"

#include <cstdio>

namespace jet {

size_t fixedValueSize(ColumnType t) {
  switch (t) {
    case ColumnType::Byte:
      return 1;
    case ColumnType::Integer:
      return 2;
    case ColumnType::Long:
    case ColumnType::Single:
      return 4;
    case ColumnType::Currency:
    case ColumnType::Double:
    case ColumnType::DateTime:
      return 8;
    case ColumnType::Guid:
      return 16;
    case ColumnType::Numeric:
      return 17;
    default:
      return 0;
  }
}

std::string columnTypeName(uint8_t code) {
  switch (static_cast<ColumnType>(code)) {
    case ColumnType::Boolean:
      return "Boolean";
    case ColumnType::Byte:
      return "Byte";
    case ColumnType::Integer:
      return "Integer";
    case ColumnType::Long:
      return "Long Integer";
    case ColumnType::Currency:
      return "Currency";
    case ColumnType::Single:
      return "Single";
    case ColumnType::Double:
      return "Double";
    case ColumnType::DateTime:
      return "Date/Time";
    case ColumnType::Binary:
      return "Binary";
    case ColumnType::Text:
      return "Text";
    case ColumnType::Ole:
      return "OLE";
    case ColumnType::Memo:
      return "Memo";
    case ColumnType::Guid:
      return "GUID";
    case ColumnType::Numeric:
      return "Numeric";
  }
  char buf[32];
  std::snprintf(buf, sizeof buf, "Unknown 0x%02X", code);
  return buf;
}

}  // namespace jet
