// The small types the engine's interface is written in, and that its own
// layers share: the generation of a file, how a file is opened, where a row
// lies, and the operating system it reaches files through.
#pragma once

#include <compare>
#include <cstdint>

namespace jet {

// Jet 3 is Access 97; Jet 4 is Access 2000-2003.
enum class Version { Jet3, Jet4 };

enum class OpenMode { ReadOnly, ReadWrite };

// A row by where it lies: a data page and a slot on it. Slots are never
// renumbered, so an id stays valid while the file is open.
struct RowId {
  uint32_t page = 0;
  uint8_t row = 0;

  // The 4-byte row pointer of the file: row number in the low byte.
  static RowId fromPointer(uint32_t p) { return {p >> 8, static_cast<uint8_t>(p & 0xFF)}; }
  uint32_t toPointer() const { return (page << 8) | row; }
  auto operator<=>(const RowId&) const = default;
};

// The operating system as the engine sees it (io/os.h): files are opened,
// read, written and synced only through one. Programs use the system's;
// tests hand in one that fails on demand.
class Os;
Os& systemOs();

}  // namespace jet
