// Text as the file stores it, to UTF-8 and back: Jet 3 in the file's code
// page (Windows-1252), Jet 4 in UCS-2, plain or with the compression scheme
// (FF FE, then one byte per character, a zero byte switching between one
// and two bytes per character).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "format/bytes.h"
#include "format/format.h"

namespace jet {

void appendUtf8(std::string& out, uint32_t code_point);

// UTF-8 to code points; false on a malformed sequence.
bool decodeUtf8(std::string_view utf8, std::vector<uint32_t>& out);

// The Windows-1252 byte of a code point, or -1 when the code page has none.
int unicodeToCp1252(uint32_t code_point);

// Windows-1252 bytes to UTF-8. Bytes the code page leaves undefined map to
// the C1 controls of the same value, as Windows does.
std::string decodeCp1252(ByteView bytes);

// UCS-2LE to UTF-8; surrogate pairs are joined, a lone surrogate becomes U+FFFD.
std::string decodeUcs2(ByteView bytes);

// The bytes a compressed Jet 4 text starts with.
inline constexpr uint8_t kCompressedText[2] = {0xFF, 0xFE};

// A Jet 4 text value: compressed when it starts with FF FE, else UCS-2LE.
std::string decodeJet4Text(ByteView bytes);

// Text as the file stores it: Jet 3 in Windows-1252 (JetError 13 for a
// character the code page lacks); Jet 4 in UCS-2, or, when `compress` and
// the text has 3 to 1024 characters all in U+0001..U+00FF, as FF FE followed
// by one byte per character. `chars` receives the length in UTF-16 units.
std::vector<uint8_t> encodeText(const Format& fmt, std::string_view utf8, bool compress,
                                size_t* chars = nullptr);

}  // namespace jet

namespace jet {

// Names and text compared as Jet compares them: without regard to case, for
// ASCII and the Latin-1 letters (Á = á, Ñ = ñ).
std::string foldCase(std::string_view utf8);
bool equalsIgnoreCase(std::string_view a, std::string_view b);

}  // namespace jet
