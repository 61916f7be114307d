// Column descriptors and column types.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace jet {

enum class ColumnType : uint8_t {
  Boolean = 0x01,
  Byte = 0x02,
  Integer = 0x03,
  Long = 0x04,
  Currency = 0x05,
  Single = 0x06,
  Double = 0x07,
  DateTime = 0x08,
  Binary = 0x09,
  Text = 0x0A,
  Ole = 0x0B,
  Memo = 0x0C,
  Guid = 0x0F,
  Numeric = 0x10,
};

// Bytes a value of a fixed-size type takes (Byte 1 ... Numeric 17); 0 for
// the types whose size the column gives (text, binary) or that keep no bytes
// in the row (Boolean) or keep a reference (memo, OLE).
size_t fixedValueSize(ColumnType t);

// The type's name as Access shows it ("Long Integer", "Text", ...);
// unknown codes read as "Unknown 0xNN".
std::string columnTypeName(uint8_t type_code);

struct Column {
  static constexpr uint8_t kFixedFlag = 0x01;
  static constexpr uint8_t kAutoLongFlag = 0x04;
  static constexpr uint8_t kAutoGuidFlag = 0x40;
  static constexpr uint8_t kHyperlinkFlag = 0x80;
  static constexpr uint8_t kCompressedUnicodeFlag = 0x01;  // extra flags, Jet 4

  std::string name;
  uint8_t type_code = 0;
  uint16_t number = 0;     // bit in the null mask; counts deleted columns
  uint16_t var_index = 0;  // slot in the variable offsets (variable columns)
  uint16_t fixed_offset = 0;
  uint16_t length = 0;  // bytes
  uint8_t flags = 0;
  uint8_t extra_flags = 0;
  uint8_t precision = 0;
  uint8_t scale = 0;
  uint16_t code_page = 0;
  uint16_t sort_lcid = 0;
  uint8_t sort_version = 0;  // Jet 4: 0 = "General" legacy (Access 2000-2007), 1 = 2010 and later

  ColumnType type() const { return static_cast<ColumnType>(type_code); }
  bool isFixed() const { return (flags & kFixedFlag) != 0; }
  bool isAutonumber() const {
    return (type() == ColumnType::Long && (flags & kAutoLongFlag)) ||
           (type() == ColumnType::Guid && (flags & kAutoGuidFlag));
  }
  bool isLongValue() const { return type() == ColumnType::Memo || type() == ColumnType::Ole; }
  // Byte, Integer or Long: the types rows are usually related by.
  bool isWholeNumber() const {
    return type() == ColumnType::Byte || type() == ColumnType::Integer ||
           type() == ColumnType::Long;
  }
};

}  // namespace jet
