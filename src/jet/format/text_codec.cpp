#include "format/text_codec.h"

#include <iterator>

#include "jet/error.h"

namespace jet {

namespace {

// Windows-1252 0x80..0x9F.
constexpr uint16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

class Ucs2Decoder {
 public:
  explicit Ucs2Decoder(std::string& out) : out_(out) {}
  void put(uint16_t unit) {
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      flushHigh();
      high_ = unit;
      return;
    }
    if (unit >= 0xDC00 && unit <= 0xDFFF) {
      if (high_ != 0) {
        appendUtf8(out_, 0x10000 + ((uint32_t{high_} - 0xD800) << 10) + (unit - 0xDC00));
        high_ = 0;
      } else {
        appendUtf8(out_, 0xFFFD);
      }
      return;
    }
    flushHigh();
    appendUtf8(out_, unit);
  }
  void finish() { flushHigh(); }

 private:
  void flushHigh() {
    if (high_ != 0) appendUtf8(out_, 0xFFFD);
    high_ = 0;
  }
  std::string& out_;
  uint16_t high_ = 0;
};

// The longest text stored compressed.
constexpr size_t kMaxCompressedChars = 1024;

// UTF-8 to UTF-16 code units; a malformed sequence is a type mismatch.
std::vector<uint16_t> toUtf16(std::string_view s) {
  std::vector<uint32_t> cps;
  if (!decodeUtf8(s, cps)) throw JetError(Msg::kTypeMismatch);
  std::vector<uint16_t> out;
  out.reserve(cps.size());
  for (uint32_t cp : cps) {
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<uint16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<uint16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<uint16_t>(cp));
    }
  }
  return out;
}

uint8_t cp1252Byte(uint16_t u) {
  const int b = unicodeToCp1252(u);
  if (b < 0) throw JetError(Msg::kTypeMismatch);
  return static_cast<uint8_t>(b);
}

}  // namespace

void appendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

bool decodeUtf8(std::string_view s, std::vector<uint32_t>& out) {
  size_t i = 0;
  while (i < s.size()) {
    const uint8_t b = static_cast<uint8_t>(s[i]);
    uint32_t cp;
    size_t n;
    if (b < 0x80) {
      cp = b;
      n = 0;
    } else if ((b & 0xE0) == 0xC0) {
      cp = b & 0x1F;
      n = 1;
    } else if ((b & 0xF0) == 0xE0) {
      cp = b & 0x0F;
      n = 2;
    } else if ((b & 0xF8) == 0xF0) {
      cp = b & 0x07;
      n = 3;
    } else {
      return false;
    }
    if (n >= s.size() - i) return false;
    for (size_t k = 1; k <= n; ++k) {
      const uint8_t c = static_cast<uint8_t>(s[i + k]);
      if ((c & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (c & 0x3F);
    }
    out.push_back(cp);
    i += n + 1;
  }
  return true;
}

int unicodeToCp1252(uint32_t cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<int>(cp);
  for (int b = 0; b < 32; ++b) {
    if (kCp1252High[b] == cp) return 0x80 + b;
  }
  return -1;
}

std::string decodeCp1252(ByteView bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (size_t i = 0; i < bytes.size(); ++i) {
    uint8_t b = bytes.data()[i];
    if (b < 0x80) {
      out.push_back(static_cast<char>(b));
    } else if (b < 0xA0) {
      appendUtf8(out, kCp1252High[b - 0x80]);
    } else {
      appendUtf8(out, b);
    }
  }
  return out;
}

std::string decodeUcs2(ByteView bytes) {
  std::string out;
  out.reserve(bytes.size());
  Ucs2Decoder dec(out);
  const uint8_t* p = bytes.data();
  for (size_t i = 0; i + 1 < bytes.size(); i += 2)
    dec.put(static_cast<uint16_t>(p[i] | (p[i + 1] << 8)));
  dec.finish();
  return out;
}

std::string decodeJet4Text(ByteView bytes) {
  const uint8_t* p = bytes.data();
  size_t n = bytes.size();
  if (n < 2 || p[0] != kCompressedText[0] || p[1] != kCompressedText[1]) return decodeUcs2(bytes);
  std::string out;
  out.reserve(n);
  Ucs2Decoder dec(out);
  bool compressed = true;
  size_t i = 2;
  while (i < n) {
    if (p[i] == 0) {
      compressed = !compressed;
      ++i;
    } else if (compressed) {
      dec.put(p[i]);
      ++i;
    } else if (i + 1 < n) {
      dec.put(static_cast<uint16_t>(p[i] | (p[i + 1] << 8)));
      i += 2;
    } else {
      break;
    }
  }
  dec.finish();
  return out;
}

std::vector<uint8_t> encodeText(const Format& fmt, std::string_view utf8, bool compress,
                                size_t* chars) {
  const std::vector<uint16_t> units = toUtf16(utf8);
  if (chars) *chars = units.size();
  std::vector<uint8_t> out;
  if (!fmt.is_jet4()) {
    out.reserve(units.size());
    for (uint16_t u : units) out.push_back(cp1252Byte(u));
    return out;
  }
  bool compressible = compress && units.size() > 2 && units.size() <= kMaxCompressedChars;
  for (size_t i = 0; compressible && i < units.size(); ++i) {
    if (units[i] == 0 || units[i] > 0xFF) compressible = false;
  }
  if (compressible) {
    out.reserve(units.size() + 2);
    out.insert(out.end(), std::begin(kCompressedText), std::end(kCompressedText));
    for (uint16_t u : units) out.push_back(static_cast<uint8_t>(u));
    return out;
  }
  out.resize(units.size() * 2);
  for (size_t i = 0; i < units.size(); ++i) putU16(out.data() + 2 * i, units[i]);
  return out;
}

}  // namespace jet

namespace jet {

std::string foldCase(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      out.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : static_cast<char>(c));
    } else if (c == 0xC3 && i + 1 < s.size()) {
      // U+00C0..U+00DE (but U+00D7, the multiplication sign) are the capitals of U+00E0..U+00FE.
      unsigned char d = static_cast<unsigned char>(s[i + 1]);
      if (d >= 0x80 && d <= 0x9E && d != 0x97) d = static_cast<unsigned char>(d + 0x20);
      out.push_back(static_cast<char>(c));
      out.push_back(static_cast<char>(d));
      ++i;
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  return out;
}

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  // Names are compared often (every table and column lookup): plain ASCII
  // needs no folded copies.
  for (size_t i = 0; i < a.size(); ++i) {
    const unsigned char x = static_cast<unsigned char>(a[i]);
    const unsigned char y = static_cast<unsigned char>(b[i]);
    if ((x | y) & 0x80) return foldCase(a.substr(i)) == foldCase(b.substr(i));
    if (x != y && (x | 0x20) != (y | 0x20)) return false;
    if (x != y && !((x | 0x20) >= 'a' && (x | 0x20) <= 'z')) return false;
  }
  return true;
}

}  // namespace jet
