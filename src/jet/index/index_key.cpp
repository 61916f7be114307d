#include "index/index_key.h"

#include <array>
#include <bit>
#include <cstring>

#include "format/text_codec.h"
#include "jet/error.h"

namespace jet {

namespace {

// Text indexes look at the first 255 characters only.
constexpr size_t kMaxIndexedChars = 255;

std::string hex4(uint32_t cp) {
  static const char* digits = "0123456789ABCDEF";
  std::string s = "U+";
  int width = cp > 0xFFFF ? 6 : 4;
  for (int i = width - 1; i >= 0; --i) s += digits[(cp >> (4 * i)) & 0xF];
  return s;
}

void invert(std::vector<uint8_t>& v, size_t from) {
  for (size_t i = from; i < v.size(); ++i) v[i] = static_cast<uint8_t>(~v[i]);
}

void appendBigEndian(std::vector<uint8_t>& out, uint64_t v, size_t width) {
  for (size_t i = width; i-- > 0;) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// ---------------------------------------------------------------------------
// Character weights of the "General" order.

enum class CharKind : uint8_t {
  Simple,             // inline weights only
  Accented,           // inline weights of the base letter plus an accent code
  Unprintable,        // no inline weight; a code in a trailing list (Jet 4)
  Significant,        // a letter that may carry an accent elsewhere (Jet 3)
  DoubleSignificant,  // "ß", sorting as "ss" (Jet 3)
  None,               // no known rule
};

struct CharCode {
  CharKind kind;
  uint8_t count;  // inline weights
  uint8_t w0, w1;
  uint8_t extra;  // accent code, or the unprintable code
};

// clang-format off
constexpr CharCode s(uint8_t a) { return {CharKind::Simple, 1, a, 0, 0}; }
constexpr CharCode s(uint8_t a, uint8_t b) { return {CharKind::Simple, 2, a, b, 0}; }
constexpr CharCode acc(uint8_t a, uint8_t e) { return {CharKind::Accented, 1, a, 0, e}; }
constexpr CharCode unp(uint8_t c) { return {CharKind::Unprintable, 0, 0, 0, c}; }
constexpr CharCode sig(uint8_t a) { return {CharKind::Significant, 1, a, 0, 0}; }
constexpr CharCode sig2(uint8_t a) { return {CharKind::DoubleSignificant, 2, a, a, 0}; }
constexpr CharCode none() { return {CharKind::None, 0, 0, 0, 0}; }

// Jet 4, "General" sort order, version 0 (Access 2000-2007), by code point.
// Accent codes: 0E acute, 0F grave, 12 circumflex, 13 diaeresis, 19 tilde,
// 1A ring, 1C cedilla. U+0000 has no known weight here.
constexpr std::array<CharCode, 256> kGeneralJet4 = {{
    /* 00 */ none(), unp(0x03), unp(0x04), unp(0x05), unp(0x06), unp(0x07), unp(0x08), unp(0x09),
    /* 08 */ unp(0x0A), s(0x08, 0x03), s(0x08, 0x04), s(0x08, 0x05), s(0x08, 0x06), s(0x08, 0x07),
    /* 0E */ unp(0x0B), unp(0x0C),
    /* 10 */ unp(0x0D), unp(0x0E), unp(0x0F), unp(0x10), unp(0x11), unp(0x12), unp(0x13), unp(0x14),
    /* 18 */ unp(0x15), unp(0x16), unp(0x17), unp(0x18), unp(0x19), unp(0x1A), unp(0x1B), unp(0x1C),
    /* 20 */ s(0x07), s(0x09), s(0x0A), s(0x0C), s(0x0E), s(0x10), s(0x12), unp(0x80),
    /* 28 */ s(0x14), s(0x16), s(0x18), s(0x2C), s(0x1A), unp(0x82), s(0x1C), s(0x1E),
    /* 30 */ s(0x36), s(0x38), s(0x3A), s(0x3C), s(0x3E), s(0x40), s(0x42), s(0x44),
    /* 38 */ s(0x46), s(0x48), s(0x20), s(0x22), s(0x2E), s(0x30), s(0x32), s(0x24),
    /* 40 */ s(0x26), s(0x4A), s(0x4C), s(0x4D), s(0x4F), s(0x51), s(0x53), s(0x55),
    /* 48 */ s(0x57), s(0x59), s(0x5B), s(0x5C), s(0x5E), s(0x60), s(0x62), s(0x64),
    /* 50 */ s(0x66), s(0x68), s(0x69), s(0x6B), s(0x6D), s(0x6F), s(0x71), s(0x73),
    /* 58 */ s(0x75), s(0x76), s(0x78), s(0x27), s(0x29), s(0x2A), s(0x2B, 0x02), s(0x2B, 0x03),
    /* 60 */ s(0x2B, 0x07), s(0x4A), s(0x4C), s(0x4D), s(0x4F), s(0x51), s(0x53), s(0x55),
    /* 68 */ s(0x57), s(0x59), s(0x5B), s(0x5C), s(0x5E), s(0x60), s(0x62), s(0x64),
    /* 70 */ s(0x66), s(0x68), s(0x69), s(0x6B), s(0x6D), s(0x6F), s(0x71), s(0x73),
    /* 78 */ s(0x75), s(0x76), s(0x78), s(0x2B, 0x09), s(0x2B, 0x0B), s(0x2B, 0x0D), s(0x2B, 0x0F),
    /* 7F */ unp(0x1D),
    /* 80 */ unp(0x1E), unp(0x1F), unp(0x20), unp(0x21), unp(0x22), unp(0x23), unp(0x24), unp(0x25),
    /* 88 */ unp(0x26), unp(0x27), unp(0x28), unp(0x29), unp(0x2A), unp(0x2B), unp(0x2C), unp(0x2D),
    /* 90 */ unp(0x2E), unp(0x2F), unp(0x30), unp(0x31), unp(0x32), unp(0x33), unp(0x34), unp(0x35),
    /* 98 */ unp(0x36), unp(0x37), unp(0x38), unp(0x39), unp(0x3A), unp(0x3B), unp(0x3C), unp(0x3D),
    /* A0 */ s(0x08, 0x02), s(0x2B, 0x10), s(0x34, 0xA6), s(0x34, 0xA7), s(0x34, 0xA8),
    /* A5 */ s(0x34, 0xA9), s(0x2B, 0x11), s(0x34, 0xAA),
    /* A8 */ s(0x2B, 0x12), s(0x34, 0xAB), acc(0x4A, 0x03), s(0x33, 0x05), s(0x34, 0xAC), unp(0x83),
    /* AE */ s(0x34, 0xAD), s(0x2B, 0x13),
    /* B0 */ s(0x34, 0xAE), s(0x33, 0x04), s(0x3A), s(0x3C), s(0x2B, 0x14), s(0x34, 0xAF),
    /* B6 */ s(0x34, 0xB0), s(0x34, 0xB1),
    /* B8 */ s(0x2B, 0x15), s(0x38), acc(0x64, 0x03), s(0x33, 0x07), s(0x37, 0x12), s(0x37, 0x16),
    /* BE */ s(0x37, 0x1A), s(0x2B, 0x16),
    /* C0 */ acc(0x4A, 0x0F), acc(0x4A, 0x0E), acc(0x4A, 0x12), acc(0x4A, 0x19), acc(0x4A, 0x13),
    /* C5 */ acc(0x4A, 0x1A), s(0x4A, 0x51), acc(0x4D, 0x1C),
    /* C8 */ acc(0x51, 0x0F), acc(0x51, 0x0E), acc(0x51, 0x12), acc(0x51, 0x13), acc(0x59, 0x0F),
    /* CD */ acc(0x59, 0x0E), acc(0x59, 0x12), acc(0x59, 0x13),
    /* D0 */ acc(0x4F, 0x68), acc(0x62, 0x19), acc(0x64, 0x0F), acc(0x64, 0x0E), acc(0x64, 0x12),
    /* D5 */ acc(0x64, 0x19), acc(0x64, 0x13), s(0x33, 0x09),
    /* D8 */ acc(0x64, 0x21), acc(0x6F, 0x0F), acc(0x6F, 0x0E), acc(0x6F, 0x12), acc(0x6F, 0x13),
    /* DD */ acc(0x76, 0x0E), s(0x6D, 0x57), s(0x6B, 0x6B),
    /* E0 */ acc(0x4A, 0x0F), acc(0x4A, 0x0E), acc(0x4A, 0x12), acc(0x4A, 0x19), acc(0x4A, 0x13),
    /* E5 */ acc(0x4A, 0x1A), s(0x4A, 0x51), acc(0x4D, 0x1C),
    /* E8 */ acc(0x51, 0x0F), acc(0x51, 0x0E), acc(0x51, 0x12), acc(0x51, 0x13), acc(0x59, 0x0F),
    /* ED */ acc(0x59, 0x0E), acc(0x59, 0x12), acc(0x59, 0x13),
    /* F0 */ acc(0x4F, 0x68), acc(0x62, 0x19), acc(0x64, 0x0F), acc(0x64, 0x0E), acc(0x64, 0x12),
    /* F5 */ acc(0x64, 0x19), acc(0x64, 0x13), s(0x33, 0x0A),
    /* F8 */ acc(0x64, 0x21), acc(0x6F, 0x0F), acc(0x6F, 0x0E), acc(0x6F, 0x12), acc(0x6F, 0x13),
    /* FD */ acc(0x76, 0x0E), s(0x6D, 0x57), acc(0x76, 0x13),
}};

// Jet 3, "General" sort order, by Windows-1252 byte. Accent nibbles: 3 grave,
// 4 acute, 5 circumflex, 6 diaeresis, 7 tilde, 8 ring, 9 cedilla, A caron.
// Control characters, 0x00 included (it ends a few catalog names), weigh 10.
constexpr std::array<CharCode, 256> kGeneralJet3 = {{
    /* 00 */ s(0x10), s(0x10), s(0x10), s(0x10), s(0x10), s(0x10), s(0x10), s(0x10),
    /* 08 */ s(0x10), s(0x11), s(0x10), s(0x10), s(0x10), s(0x10), s(0x10), s(0x10),
    /* 10 */ s(0x10), s(0x10), s(0x10), s(0x10), s(0x10), s(0x10), s(0x10), s(0x10),
    /* 18 */ s(0x10), s(0x10), s(0x10), s(0x10), s(0x10), s(0x10), s(0x10), s(0x10),
    /* 20 */ s(0x11), s(0x12), s(0x13), s(0x14), s(0x15), s(0x16), s(0x17), s(0x18),
    /* 28 */ s(0x19), s(0x1A), s(0x1B), s(0x1C), s(0x1D), s(0x1E), s(0x1F), s(0x20),
    /* 30 */ s(0x56), s(0x57), s(0x58), s(0x59), s(0x5A), s(0x5B), s(0x5C), s(0x5D),
    /* 38 */ s(0x5E), s(0x5F), s(0x21), s(0x22), s(0x23), s(0x24), s(0x25), s(0x26),
    /* 40 */ s(0x27), sig(0x60), s(0x61), sig(0x62), s(0x64), sig(0x66), s(0x67), s(0x68),
    /* 48 */ s(0x69), sig(0x6A), s(0x6B), s(0x6C), s(0x6D), s(0x6F), sig(0x70), sig(0x72),
    /* 50 */ s(0x73), s(0x74), s(0x75), sig(0x76), s(0x77), sig(0x78), s(0x7A), s(0x7B),
    /* 58 */ s(0x7C), sig(0x7D), s(0x7E), s(0x28), s(0x29), s(0x2A), s(0x2B), s(0x2C),
    /* 60 */ s(0x2D), sig(0x60), s(0x61), sig(0x62), s(0x64), sig(0x66), s(0x67), s(0x68),
    /* 68 */ s(0x69), sig(0x6A), s(0x6B), s(0x6C), s(0x6D), s(0x6F), sig(0x70), sig(0x72),
    /* 70 */ s(0x73), s(0x74), s(0x75), sig(0x76), s(0x77), sig(0x78), s(0x7A), s(0x7B),
    /* 78 */ s(0x7C), sig(0x7D), s(0x7E), s(0x2E), s(0x2F), s(0x30), s(0x31), s(0x10),
    /* 80 */ s(0x10), s(0x10), s(0x18), s(0x32), s(0x13), s(0x33), s(0x34), s(0x35),
    /* 88 */ s(0x36), s(0x37), acc(0x76, 0x0A), s(0x18), s(0x72, 0x66), s(0x10), s(0x10), s(0x10),
    /* 90 */ s(0x10), s(0x18), s(0x18), s(0x13), s(0x13), s(0x38), s(0x1E), s(0x1E),
    /* 98 */ s(0x39), s(0x3A), acc(0x76, 0x0A), s(0x18), s(0x72, 0x66), s(0x10), s(0x10),
    /* 9F */ acc(0x7D, 0x06),
    /* A0 */ s(0x11), s(0x3B), s(0x3C), s(0x3D), s(0x3E), s(0x3F), s(0x40), s(0x41),
    /* A8 */ s(0x42), s(0x43), s(0x44), s(0x13), s(0x45), s(0x1E), s(0x46), s(0x47),
    /* B0 */ s(0x48), s(0x49), s(0x58), s(0x59), s(0x4A), s(0x4B), s(0x4C), s(0x4D),
    /* B8 */ s(0x4E), s(0x57), s(0x4F), s(0x13), s(0x50), s(0x51), s(0x52), s(0x53),
    /* C0 */ acc(0x60, 0x03), acc(0x60, 0x04), acc(0x60, 0x05), acc(0x60, 0x07), acc(0x60, 0x06),
    /* C5 */ acc(0x60, 0x08), s(0x60, 0x66), acc(0x62, 0x09),
    /* C8 */ acc(0x66, 0x03), acc(0x66, 0x04), acc(0x66, 0x05), acc(0x66, 0x06), acc(0x6A, 0x03),
    /* CD */ acc(0x6A, 0x04), acc(0x6A, 0x05), acc(0x6A, 0x06),
    /* D0 */ s(0x65), acc(0x70, 0x07), acc(0x72, 0x03), acc(0x72, 0x04), acc(0x72, 0x05),
    /* D5 */ acc(0x72, 0x07), acc(0x72, 0x06), s(0x54),
    /* D8 */ s(0x81), acc(0x78, 0x03), acc(0x78, 0x04), acc(0x78, 0x05), acc(0x78, 0x06),
    /* DD */ acc(0x7D, 0x04), s(0x7F), sig2(0x76),
    /* E0 */ acc(0x60, 0x03), acc(0x60, 0x04), acc(0x60, 0x05), acc(0x60, 0x07), acc(0x60, 0x06),
    /* E5 */ acc(0x60, 0x08), s(0x60, 0x66), acc(0x62, 0x09),
    /* E8 */ acc(0x66, 0x03), acc(0x66, 0x04), acc(0x66, 0x05), acc(0x66, 0x06), acc(0x6A, 0x03),
    /* ED */ acc(0x6A, 0x04), acc(0x6A, 0x05), acc(0x6A, 0x06),
    /* F0 */ s(0x65), acc(0x70, 0x07), acc(0x72, 0x03), acc(0x72, 0x04), acc(0x72, 0x05),
    /* F5 */ acc(0x72, 0x07), acc(0x72, 0x06), s(0x55),
    /* F8 */ s(0x81), acc(0x78, 0x03), acc(0x78, 0x04), acc(0x78, 0x05), acc(0x78, 0x06),
    /* FD */ acc(0x7D, 0x04), s(0x7F), acc(0x7D, 0x06),
}};
// clang-format on

// The characters an index looks at: at most 255, without trailing spaces.
void trimForIndex(std::vector<uint32_t>& cps) {
  if (cps.size() > kMaxIndexedChars) cps.resize(kMaxIndexedChars);
  while (!cps.empty() && cps.back() == ' ') cps.pop_back();
}

void reportUnsupported(KeyResult& r, const std::vector<uint32_t>& bad, const char* order) {
  r.unsupported_chars.insert(r.unsupported_chars.end(), bad.begin(), bad.end());
  std::string list;
  for (size_t i = 0; i < bad.size() && i < 8; ++i) list += (i ? ", " : "") + hex4(bad[i]);
  if (bad.size() > 8) list += ", ...";
  r.problem = std::string("sin peso en el orden ") + order + " para " + list;
}

// Jet 4 "General" (legacy): inline weights, an end mark 01, the accent codes
// placed by the position of their character among the weighted ones, and a
// list of the unprintable characters with their positions.
void encodeGeneralJet4(const std::vector<uint32_t>& cps, bool ascending, KeyResult& r) {
  std::vector<uint32_t> bad;
  for (uint32_t cp : cps) {
    if (cp > 0xFF || kGeneralJet4[cp].kind == CharKind::None) bad.push_back(cp);
  }
  if (!bad.empty()) return reportUnsupported(r, bad, "General de Jet 4");

  std::vector<uint8_t>& out = r.bytes;
  const size_t start = out.size();
  std::vector<uint8_t> accents;
  std::vector<uint8_t> unprintables;
  size_t weighted = 0;  // characters that wrote inline weights so far
  for (uint32_t cp : cps) {
    const CharCode& c = kGeneralJet4[cp];
    const size_t position = weighted;
    if (c.count > 0) {
      out.push_back(c.w0);
      if (c.count > 1) out.push_back(c.w1);
      ++weighted;
    }
    if (c.kind == CharKind::Accented) {
      // Characters without an accent before this one hold the place with 02.
      if (accents.size() < position) accents.resize(position, 0x02);
      accents.push_back(c.extra);
    } else if (c.kind == CharKind::Unprintable) {
      // Accent codes are one byte each, so the position counts weighted
      // characters and accent slots alike.
      const uint16_t pos = static_cast<uint16_t>(0x8000 | (7 + 4 * position));
      unprintables.push_back(static_cast<uint8_t>(pos >> 8));
      unprintables.push_back(static_cast<uint8_t>(pos & 0xFF));
      unprintables.push_back(0x06);
      unprintables.push_back(c.extra);
    }
  }
  out.push_back(0x01);
  while (!accents.empty() && accents.back() <= 0x02) accents.pop_back();
  out.insert(out.end(), accents.begin(), accents.end());
  if (!unprintables.empty()) {
    out.insert(out.end(), {0x01, 0x01, 0x01});
    out.insert(out.end(), unprintables.begin(), unprintables.end());
  }
  out.push_back(0x00);
  if (!ascending) {
    invert(out, start);
    out.push_back(0x00);
  }
}

// Jet 3 "General": inline weights, then either 00 or a string of nibbles:
// 0, per accented character one 2 for each accent-bearing letter since the
// previous accented character followed by its accent, and a closing 0.
void encodeGeneralJet3(const std::vector<uint32_t>& cps, bool ascending, KeyResult& r) {
  std::vector<uint32_t> bad;
  std::vector<uint8_t> bytes;
  for (uint32_t cp : cps) {
    int b = unicodeToCp1252(cp);
    if (b < 0 || kGeneralJet3[b].kind == CharKind::None) {
      bad.push_back(cp);
    } else {
      bytes.push_back(static_cast<uint8_t>(b));
    }
  }
  if (!bad.empty()) return reportUnsupported(r, bad, "General de Jet 3");

  std::vector<uint8_t>& out = r.bytes;
  const size_t start = out.size();
  std::vector<uint8_t> nibbles;
  size_t letters = 0;  // accent-bearing letters since the last accented character
  for (uint8_t b : bytes) {
    const CharCode& c = kGeneralJet3[b];
    out.push_back(c.w0);
    if (c.count > 1) out.push_back(c.w1);
    switch (c.kind) {
      case CharKind::Significant:
        ++letters;
        break;
      case CharKind::DoubleSignificant:
        letters += 2;
        break;
      case CharKind::Accented:
        if (nibbles.empty()) nibbles.push_back(0);
        nibbles.insert(nibbles.end(), letters, 2);
        nibbles.push_back(c.extra & 0x0F);
        letters = 0;
        break;
      default:
        break;
    }
  }
  if (nibbles.empty()) {
    out.push_back(0x00);
  } else {
    nibbles.push_back(0);
    if (nibbles.size() % 2) nibbles.push_back(0);
    for (size_t i = 0; i < nibbles.size(); i += 2) {
      out.push_back(static_cast<uint8_t>(nibbles[i] << 4 | nibbles[i + 1]));
    }
  }
  if (!ascending) invert(out, start);
}

// ---------------------------------------------------------------------------
// Numbers.

// Two's complement, big-endian, the sign bit flipped so that byte order is
// numeric order.
void encodeSigned(std::vector<uint8_t>& out, int64_t v, size_t width) {
  const size_t start = out.size();
  appendBigEndian(out, static_cast<uint64_t>(v), width);
  out[start] ^= 0x80;
}

// IEEE big-endian: positive numbers get the sign bit set, negative ones are
// inverted whole, so that byte order is numeric order.
void encodeFloating(std::vector<uint8_t>& out, uint64_t bits, size_t width) {
  const size_t start = out.size();
  appendBigEndian(out, bits, width);
  if (out[start] & 0x80) {
    invert(out, start);
  } else {
    out[start] ^= 0x80;
  }
}

// Binary data in groups of 8 bytes, each followed by 09 when more data
// follows; the last group is padded with zeros and followed by its length.
// Descending inverts the data and the final length, not the 09 marks.
void encodeBinary(std::vector<uint8_t>& out, const uint8_t* data, size_t size, bool ascending) {
  size_t pos = 0;
  while (size - pos > 8) {
    for (size_t i = 0; i < 8; ++i) {
      out.push_back(ascending ? data[pos + i] : static_cast<uint8_t>(~data[pos + i]));
    }
    out.push_back(0x09);
    pos += 8;
  }
  if (size - pos > 0) {
    const size_t start = out.size();
    const size_t rest = size - pos;
    for (size_t i = 0; i < 8; ++i) out.push_back(i < rest ? data[pos + i] : 0);
    out.push_back(static_cast<uint8_t>(rest));
    if (!ascending) invert(out, start);
  }
}

// A Numeric value's exact decimal text ("-12.50") as the sign and the
// 128-bit magnitude scaled to the column, most significant byte first.
bool decimalMagnitude(const std::string& text, uint8_t scale, bool& negative,
                      std::array<uint8_t, 16>& magnitude) {
  std::array<uint32_t, 4> words{};  // most significant first
  auto mulAdd = [&](uint32_t digit) {
    uint64_t carry = digit;
    for (size_t w = 4; w-- > 0;) {
      uint64_t v = uint64_t{words[w]} * 10 + carry;
      words[w] = static_cast<uint32_t>(v);
      carry = v >> 32;
    }
    return carry == 0;
  };
  size_t i = 0;
  negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  bool digits = false, point = false, nonzero = false;
  size_t fraction = 0;
  for (; i < text.size(); ++i) {
    char ch = text[i];
    if (ch == '.' && !point) {
      point = true;
      continue;
    }
    if (ch < '0' || ch > '9') return false;
    digits = true;
    if (point) {
      if (fraction == scale) {
        if (ch != '0') return false;  // more decimals than the column keeps
        continue;
      }
      ++fraction;
    }
    if (ch != '0') nonzero = true;
    if (!mulAdd(static_cast<uint32_t>(ch - '0'))) return false;
  }
  if (!digits) return false;
  for (; fraction < scale; ++fraction) {
    if (!mulAdd(0)) return false;
  }
  if (!nonzero) negative = false;
  for (size_t w = 0; w < 4; ++w) {
    for (size_t b = 0; b < 4; ++b)
      magnitude[4 * w + b] = static_cast<uint8_t>(words[w] >> (24 - 8 * b));
  }
  return true;
}

bool supportedTextOrder(const Format& fmt, SortOrder sort) {
  if (sort.lcid != kGeneralSortLcid) return false;
  return fmt.is_jet4() ? sort.version == 0 : true;
}

std::string describe(SortOrder sort) {
  return std::to_string(sort.lcid) + "/" + std::to_string(sort.version);
}

}  // namespace

KeyResult encodeTextKey(const Format& fmt, SortOrder sort, bool ascending,
                        const std::string& utf8) {
  KeyResult r;
  if (!supportedTextOrder(fmt, sort)) {
    r.problem = "orden de clasificación " + describe(sort) + " no admitido";
    return r;
  }
  std::vector<uint32_t> cps;
  if (!decodeUtf8(utf8, cps)) {
    r.problem = "texto UTF-8 mal formado";
    return r;
  }
  trimForIndex(cps);
  if (fmt.is_jet4()) {
    encodeGeneralJet4(cps, ascending, r);
  } else {
    encodeGeneralJet3(cps, ascending, r);
  }
  if (!r.ok()) r.bytes.clear();
  return r;
}

KeyResult encodeKeyColumn(const Format& fmt, const Column& column, SortOrder sort, bool ascending,
                          const Value& value) {
  KeyResult r;
  r.bytes.reserve(16);  // every fixed-size value and short texts
  const ColumnType type = column.type();
  // Booleans have no null: a missing value is false.
  if (value.isNull() && type != ColumnType::Boolean) {
    r.bytes.push_back(ascending ? kNullAsc : kNullDesc);
    return r;
  }
  auto fail = [&](const std::string& why) {
    r.bytes.clear();
    r.problem = why;
    return r;
  };
  auto kindIs = [&](Value::Kind k) { return value.kind() == k; };
  r.bytes.push_back(ascending ? kFlagAsc : kFlagDesc);
  const size_t start = r.bytes.size();
  switch (type) {
    case ColumnType::Boolean: {
      bool b = !value.isNull() && value.asBool();
      r.bytes.push_back(b == ascending ? 0x00 : 0xFF);
      return r;
    }
    case ColumnType::Byte:
      if (!kindIs(Value::Kind::Int)) break;
      r.bytes.push_back(static_cast<uint8_t>(value.asInt()));
      if (!ascending) invert(r.bytes, start);
      return r;
    case ColumnType::Integer:
    case ColumnType::Long:
    case ColumnType::Currency: {
      if (!kindIs(type == ColumnType::Currency ? Value::Kind::Currency : Value::Kind::Int)) break;
      size_t width = type == ColumnType::Integer ? 2 : type == ColumnType::Long ? 4 : 8;
      encodeSigned(r.bytes, value.asInt(), width);
      if (!ascending) invert(r.bytes, start);
      return r;
    }
    case ColumnType::Single: {
      if (!kindIs(Value::Kind::Single)) break;
      float f = static_cast<float>(value.asDouble());
      encodeFloating(r.bytes, std::bit_cast<uint32_t>(f), 4);
      if (!ascending) invert(r.bytes, start);
      return r;
    }
    case ColumnType::Double:
    case ColumnType::DateTime: {
      if (!kindIs(type == ColumnType::Double ? Value::Kind::Double : Value::Kind::DateTime)) break;
      encodeFloating(r.bytes, std::bit_cast<uint64_t>(value.asDouble()), 8);
      if (!ascending) invert(r.bytes, start);
      return r;
    }
    case ColumnType::Text:
    case ColumnType::Memo: {
      if (!kindIs(Value::Kind::Text)) break;
      // The Jet 3 weights are those of Windows-1252 bytes.
      if (!fmt.is_jet4() && column.code_page != kWindows1252) {
        return fail("página de códigos " + std::to_string(column.code_page) + " no admitida");
      }
      KeyResult t = encodeTextKey(fmt, sort, ascending, value.asString());
      if (!t.ok()) {
        r.unsupported_chars = std::move(t.unsupported_chars);
        return fail(t.problem);
      }
      r.bytes.insert(r.bytes.end(), t.bytes.begin(), t.bytes.end());
      return r;
    }
    case ColumnType::Binary: {
      if (!kindIs(Value::Kind::Bytes)) break;
      const std::string& b = value.asString();
      encodeBinary(r.bytes, reinterpret_cast<const uint8_t*>(b.data()), b.size(), ascending);
      return r;
    }
    case ColumnType::Guid: {
      if (!kindIs(Value::Kind::Guid) || value.asString().size() != 16) break;
      // Stored with its first three fields little-endian; keys take them as written.
      const std::string& g = value.asString();
      std::array<uint8_t, 16> be;
      std::memcpy(be.data(), g.data(), 16);
      std::swap(be[0], be[3]);
      std::swap(be[1], be[2]);
      std::swap(be[4], be[5]);
      std::swap(be[6], be[7]);
      encodeBinary(r.bytes, be.data(), be.size(), ascending);
      return r;
    }
    case ColumnType::Numeric: {
      if (!kindIs(Value::Kind::Decimal)) break;
      if (!fmt.is_jet4()) return fail("columna Numeric en un archivo Jet 3");
      bool negative = false;
      std::array<uint8_t, 16> mag{};
      if (!decimalMagnitude(value.asString(), column.scale, negative, mag)) {
        return fail("valor decimal '" + value.asString() + "' fuera de la escala de la columna");
      }
      // Jet 4 order: a sign byte (FF positive, 00 negative), then the
      // magnitude, inverted for negatives ascending and positives descending.
      r.bytes.push_back(negative ? 0x00 : 0xFF);
      const bool flip = negative == ascending;
      for (uint8_t b : mag) r.bytes.push_back(flip ? static_cast<uint8_t>(~b) : b);
      return r;
    }
    default:
      return fail("tipo de columna " + columnTypeName(column.type_code) + " no indexable");
  }
  return fail("valor de tipo inesperado para una columna " + columnTypeName(column.type_code));
}

std::vector<SortOrder> readSortOrders(const PageSource&, const Format&, const TableDef& def) {
  // The table definition keeps each text column's sort order.
  std::vector<SortOrder> out(def.columns.size());
  for (size_t k = 0; k < def.columns.size(); ++k) {
    const Column& c = def.columns[k];
    if (c.type() != ColumnType::Text && c.type() != ColumnType::Memo) continue;
    out[k] = SortOrder{c.sort_lcid, c.sort_version};
  }
  return out;
}

IndexKeyEncoder::IndexKeyEncoder(const Format& fmt, const TableDef& def, const RealIndex& index,
                                 std::vector<SortOrder> sort_orders)
    : fmt_(&fmt), def_(&def), sorts_(std::move(sort_orders)) {
  sorts_.resize(def.columns.size());
  for (const IndexColumn& ic : index.columns) {
    bool found = false;
    for (size_t k = 0; k < def.columns.size(); ++k) {
      if (def.columns[k].number == ic.column_number) {
        parts_.push_back({k, ic.ascending});
        found = true;
        break;
      }
    }
    if (!found) {
      problem_ = "el índice usa la columna " + std::to_string(ic.column_number) +
                 ", que la tabla no tiene";
    }
  }
}

KeyResult IndexKeyEncoder::encode(const std::vector<Value>& row) const {
  KeyResult r;
  if (!problem_.empty()) {
    r.problem = problem_;
    return r;
  }
  for (const Part& p : parts_) {
    if (p.position >= row.size()) {
      r.bytes.clear();
      r.problem = "faltan valores de la fila";
      return r;
    }
    const Column& c = def_->columns[p.position];
    KeyResult part = encodeKeyColumn(*fmt_, c, sorts_[p.position], p.ascending, row[p.position]);
    if (!part.ok()) {
      r.bytes.clear();
      r.problem = "columna '" + c.name + "': " + part.problem;
      r.unsupported_chars = std::move(part.unsupported_chars);
      return r;
    }
    if (r.bytes.empty()) {
      r.bytes = std::move(part.bytes);
    } else {
      r.bytes.insert(r.bytes.end(), part.bytes.begin(), part.bytes.end());
    }
  }
  return r;
}

bool IndexKeyEncoder::allNull(const std::vector<Value>& row) const {
  for (const Part& p : parts_) {
    if (p.position < row.size() && !row[p.position].isNull()) return false;
  }
  return true;
}

}  // namespace jet
