#include "format/header.h"

#include <cmath>
#include <cstdint>
#include <cstring>

#include "format/bytes.h"
#include "jet/error.h"

namespace jet {

namespace {

// RC4 keystream of the fixed key C7 DA 39 6B that masks the header block.
constexpr uint8_t kMask[128] = {
    0xB5, 0x6F, 0x03, 0x62, 0x61, 0x08, 0xC2, 0x55, 0xEB, 0xA9, 0x67, 0x72, 0x43, 0x3F, 0x00, 0x9C,
    0x7A, 0x9F, 0x90, 0xFF, 0x80, 0x9A, 0x31, 0xC5, 0x79, 0xBA, 0xED, 0x30, 0xBC, 0xDF, 0xCC, 0x9D,
    0x63, 0xD9, 0xE4, 0xC3, 0x7B, 0x42, 0xFB, 0x8A, 0xBC, 0x4E, 0x86, 0xFB, 0xEC, 0x37, 0x5D, 0x44,
    0x9C, 0xFA, 0xC6, 0x5E, 0x28, 0xE6, 0x13, 0xB6, 0x8A, 0x60, 0x54, 0x94, 0x7B, 0x36, 0xF5, 0x72,
    0xDF, 0xB1, 0x77, 0xF4, 0x13, 0x43, 0xCF, 0xAF, 0xB1, 0x33, 0x34, 0x61, 0x79, 0x5B, 0x92, 0xB5,
    0x7C, 0x2A, 0x05, 0xF1, 0x7C, 0x99, 0x01, 0x1B, 0x98, 0xFD, 0x12, 0x4F, 0x4A, 0x94, 0x6C, 0x3E,
    0x60, 0x26, 0x5F, 0x95, 0xF8, 0xD0, 0x89, 0x24, 0x85, 0x67, 0xC6, 0x1F, 0x27, 0x44, 0xD2, 0xEE,
    0xCF, 0x65, 0xED, 0xFF, 0x07, 0xC7, 0x46, 0xA1, 0x78, 0x16, 0x0C, 0xED, 0xE9, 0x2D, 0x62, 0xD4,
};

constexpr size_t kMaskStart = 0x18;

// Where page 0 keeps what the engine reads and writes.
constexpr uint8_t kSignature[4] = {0x00, 0x01, 0x00, 0x00};
constexpr size_t kEngineName = 4;
constexpr size_t kVersion = 0x14;
constexpr size_t kCodePage = 0x3C;       // masked
constexpr size_t kEncryptionKey = 0x3E;  // masked
constexpr size_t kJet3SortOrder = 0x3A;  // masked
constexpr size_t kJet4SortOrder = 0x6E;  // masked
constexpr size_t kCreationDate = 0x72;   // masked, Jet 4
constexpr size_t kPassword = 0x42;       // masked; Jet 4 masks it twice
const char kJetEngine[] = "Standard Jet DB";

size_t maskLength(Version v) {
  return v == Version::Jet3 ? 126 : 128;
}

// Jet 3 keeps up to 20 one-byte characters, Jet 4 up to 20 UCS-2 ones.
size_t passwordLength(Version v) {
  return v == Version::Jet3 ? 20 : 40;
}

// Jet 4's second mask over the password: the whole days of the creation
// date, as a 32-bit integer, repeated. A date out of that range (only a
// damaged header holds one) is clamped, so that no value is undefined.
uint32_t passwordMask(double creation_date) {
  const double day = std::floor(creation_date);
  if (!(day > INT32_MIN)) return static_cast<uint32_t>(INT32_MIN);  // and NaN
  if (day > INT32_MAX) return INT32_MAX;
  return static_cast<uint32_t>(static_cast<int32_t>(day));
}

enum class Password { None, Set, Damaged };

// What the password area of the unmasked page 0 holds: all zeros (after
// Jet 4's second mask) when there is no password; a password is text,
// padded with zeros after its last character (one byte a character in
// Jet 3, two in Jet 4). Anything else is damage, as when the creation date
// that makes Jet 4's mask was damaged.
Password readPassword(ByteView page0, Version v, double creation_date) {
  uint8_t mask[4] = {0, 0, 0, 0};
  if (v == Version::Jet4) putU32(mask, passwordMask(creation_date));
  const size_t unit = v == Version::Jet4 ? 2 : 1;
  size_t characters = 0;
  bool ended = false;
  for (size_t i = 0; i < passwordLength(v); i += unit) {
    bool zero = true;
    for (size_t k = i; k < i + unit; ++k)
      zero = zero && (page0.u8(kPassword + k) ^ mask[k % 4]) == 0;
    if (zero) {
      ended = true;
    } else if (ended) {
      return Password::Damaged;
    } else {
      ++characters;
    }
  }
  return characters == 0 ? Password::None : Password::Set;
}

}  // namespace

void unmaskHeader(std::vector<uint8_t>& page0, Version version) {
  size_t n = maskLength(version);
  for (size_t i = 0; i < n && kMaskStart + i < page0.size(); ++i) page0[kMaskStart + i] ^= kMask[i];
}

Header parseHeader(const std::vector<uint8_t>& prefix, uint64_t file_size,
                   const std::string& path) {
  if (file_size == 0) throwBadFormat(path, "el archivo está vacío");
  if (prefix.size() < 0x20) throwBadFormat(path, "el archivo está truncado");
  std::string engine(reinterpret_cast<const char*>(prefix.data() + kEngineName),
                     strnlen(reinterpret_cast<const char*>(prefix.data() + kEngineName), 16));
  if (std::memcmp(prefix.data(), kSignature, sizeof kSignature) != 0) {
    throwBadFormat(path, "no es un archivo de Access");
  }
  if (engine == "Standard ACE DB") {
    throwBadFormat(path, "formato no admitido (Access 2007 o posterior, .accdb)");
  }
  if (engine != kJetEngine) throwBadFormat(path, "no es un archivo de Access");

  Header h;
  uint8_t version = prefix[kVersion];
  if (version == 0) {
    h.version = Version::Jet3;
  } else if (version == 1) {
    h.version = Version::Jet4;
  } else {
    throwBadFormat(path, "formato no admitido (versión " + std::to_string(version) +
                             " del motor, posterior a Access 2003)");
  }
  const Format& f = formatFor(h.version);
  if (file_size > maxFileSize(f)) {
    throwBadFormat(path, "el archivo mide más que el mayor archivo que admite Access (" +
                             std::to_string(maxFileSize(f) >> 30) + " GB)");
  }
  if (file_size < f.page_size * 3) throwBadFormat(path, "el archivo está truncado");
  if (file_size % f.page_size != 0) {
    throwBadFormat(path, "el archivo está truncado (su tamaño no es un múltiplo de la página)");
  }
  if (prefix.size() < f.page_size) throwBadFormat(path, "el archivo está truncado");

  std::vector<uint8_t> page0(prefix.begin(), prefix.begin() + static_cast<long>(f.page_size));
  unmaskHeader(page0, h.version);
  ByteView v(page0.data(), page0.size());
  h.code_page = v.u16(kCodePage);
  h.encryption_key = v.u32(kEncryptionKey);
  if (h.version == Version::Jet3) {
    h.sort_lcid = v.u16(kJet3SortOrder);
  } else {
    h.sort_lcid = v.u16(kJet4SortOrder);
    uint64_t bits = v.u64(kCreationDate);
    std::memcpy(&h.creation_date, &bits, 8);
  }
  const Password password = readPassword(v, h.version, h.creation_date);
  if (password == Password::Damaged)
    throwBadFormat(path, "la contraseña de la cabecera está dañada");
  h.has_password = password == Password::Set;
  if (h.encryption_key != 0) throwBadFormat(path, "la base de datos está cifrada");
  return h;
}

std::vector<uint8_t> encodeHeaderPage(const Format& fmt, double creation_date) {
  std::vector<uint8_t> p(fmt.page_size, 0);
  const bool jet4 = fmt.is_jet4();
  std::memcpy(p.data(), kSignature, sizeof kSignature);
  std::memcpy(p.data() + kEngineName, kJetEngine, sizeof kJetEngine - 1);
  p[kVersion] = jet4 ? 1 : 0;
  // Constant fields of every file Jet writes; 0x20-0x2F name the TDEF pages
  // of the four system tables.
  p[0x19] = 0x01;
  p[0x1C] = 0x01;
  p[0x1D] = 0x01;
  for (uint32_t i = 0; i < 4; ++i) putU32(p.data() + 0x20 + 4 * i, 2 + i);
  putU16(p.data() + kCodePage, kWindows1252);
  // The encryption key stays 0 (pages in clear).
  if (jet4) {
    // Password area: no password, so just the mask made of the creation day.
    const uint32_t day = passwordMask(creation_date);
    for (size_t i = 0; i < passwordLength(fmt.version); i += 4)
      putU32(p.data() + kPassword + i, day);
    putU16(p.data() + kJet4SortOrder, kGeneralSortLcid);  // sort order version 0
    putDouble(p.data() + kCreationDate, creation_date);
  } else {
    p[0x38] = 0x01;
    putU16(p.data() + kJet3SortOrder, kGeneralSortLcid);
    p[0x56] = 0x1E;
    p[0x57] = 0x25;
  }
  unmaskHeader(p, fmt.version);  // masking and unmasking are the same XOR
  if (jet4) {
    putU32(p.data() + 0x98, 0x0654);
    std::memcpy(p.data() + 0x9C, "4.0", 3);
  }
  // Commit bytes of a closed file: a counter, then 00 01 per user slot.
  const size_t commit = fmt.page_size - 512;
  p[commit] = 0x01;
  p[commit + 1] = 0x01;
  for (size_t i = commit + 3; i < fmt.page_size; i += 2) p[i] = 0x01;
  return p;
}

}  // namespace jet
