// Little helpers shared by the pieces that write new files: little- and
// big-endian stores into page buffers, and a growing byte buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace jet {

inline void putU16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void putU32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void putU64(uint8_t* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void putDouble(uint8_t* p, double d) {
  uint64_t bits;
  std::memcpy(&bits, &d, 8);
  putU64(p, bits);
}

// A byte buffer written front to back, little-endian.
class ByteBuilder {
 public:
  std::vector<uint8_t>& bytes() { return b_; }
  size_t size() const { return b_.size(); }

  void u8(uint8_t v) { b_.push_back(v); }
  void u16(uint16_t v) {
    b_.push_back(static_cast<uint8_t>(v));
    b_.push_back(static_cast<uint8_t>(v >> 8));
  }
  void u32(uint32_t v) {
    for (int i = 0; i < 4; ++i) b_.push_back(static_cast<uint8_t>(v >> (8 * i)));
  }
  void zeros(size_t n) { b_.insert(b_.end(), n, 0); }
  void append(const std::vector<uint8_t>& v) { b_.insert(b_.end(), v.begin(), v.end()); }

 private:
  std::vector<uint8_t> b_;
};

}  // namespace jet
