// The file's little-endian numbers: reads from a bounds-checked byte view,
// and stores into buffers being written. Every structure in the file is read
// through a view, so a damaged offset becomes an error, never a read outside
// the page.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <stdexcept>
#include <vector>

namespace jet {

// Thrown by views on an out-of-range access; the engine turns it into a
// format error naming the file.
class OutOfRange : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class ByteView {
 public:
  ByteView() = default;
  ByteView(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  explicit ByteView(std::span<const uint8_t> s) : data_(s.data()), size_(s.size()) {}

  const uint8_t* data() const { return data_; }
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }

  void need(size_t offset, size_t count) const {
    if (offset > size_ || count > size_ - offset)
      throw OutOfRange("lectura fuera de la estructura");
  }
  uint8_t u8(size_t off) const {
    need(off, 1);
    return data_[off];
  }
  uint16_t u16(size_t off) const {
    need(off, 2);
    return static_cast<uint16_t>(data_[off] | (data_[off + 1] << 8));
  }
  uint32_t u24(size_t off) const {
    need(off, 3);
    return data_[off] | (data_[off + 1] << 8) | (uint32_t{data_[off + 2]} << 16);
  }
  uint32_t u32(size_t off) const {
    need(off, 4);
    uint32_t v;
    std::memcpy(&v, data_ + off, 4);
    return v;
  }
  uint64_t u64(size_t off) const {
    need(off, 8);
    uint64_t v;
    std::memcpy(&v, data_ + off, 8);
    return v;
  }
  ByteView sub(size_t off, size_t count) const {
    need(off, count);
    return ByteView(data_ + off, count);
  }
  ByteView from(size_t off) const {
    need(off, 0);
    return ByteView(data_ + off, size_ - off);
  }

 private:
  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
};

// The reads above copy bytes as they lie; the file is little-endian.
static_assert(std::endian::native == std::endian::little, "little-endian host required");

// Unchecked reads and stores, for buffers whose bounds the caller has checked.
inline uint16_t getU16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
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
