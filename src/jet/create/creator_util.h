// What the pieces that write new files share: the stores into page buffers
// (format/bytes.h) and a growing byte buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "format/bytes.h"

namespace jet {

// A byte buffer written front to back, little-endian.
class ByteBuilder {
 public:
  std::vector<uint8_t>& bytes() { return b_; }
  const std::vector<uint8_t>& bytes() const { return b_; }
  size_t size() const { return b_.size(); }

  void u8(uint8_t v) { b_.push_back(v); }
  void u16(uint16_t v) { putU16(grow(2), v); }
  void u32(uint32_t v) { putU32(grow(4), v); }
  void zeros(size_t n) { b_.insert(b_.end(), n, 0); }
  void append(const uint8_t* p, size_t n) { b_.insert(b_.end(), p, p + n); }
  void append(const std::vector<uint8_t>& v) { b_.insert(b_.end(), v.begin(), v.end()); }

 private:
  uint8_t* grow(size_t n) {
    b_.resize(b_.size() + n);
    return b_.data() + b_.size() - n;
  }
  std::vector<uint8_t> b_;
};

}  // namespace jet
