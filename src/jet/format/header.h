// Page 0: which engine wrote the file, its page size, the masked block with
// the code page, sort order and encryption key.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "format/format.h"

namespace jet {

struct Header {
  Version version = Version::Jet4;
  uint16_t code_page = kWindows1252;
  uint16_t sort_lcid = kGeneralSortLcid;
  uint32_t encryption_key = 0;
  double creation_date = 0;  // Jet 4 only
  // A database password is set: Access opens the file only with it.
  bool has_password = false;
};

// Unmasks the masked block of page 0 in place (applying it twice masks again).
void unmaskHeader(std::vector<uint8_t>& page0, Version version);

// Page 0 of a new file, closed: the signature, the version, the masked
// block with the code page (1252), no encryption key or password, the
// "General" sort order and, in Jet 4, the creation date.
std::vector<uint8_t> encodeHeaderPage(const Format& fmt, double creation_date);

// Parses the first bytes of a file. Throws a format error that names `path`
// and the reason: empty, truncated, larger than Access allows, not an
// Access file, a later Access format, a damaged password area, or an
// encrypted database.
Header parseHeader(const std::vector<uint8_t>& prefix, uint64_t file_size, const std::string& path);

}  // namespace jet
