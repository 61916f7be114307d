// The made-up data of the generated client databases: a seeded random
// generator that gives the same numbers on every machine, and the Spanish
// names, products, notes and boundary dates the clients are made of.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "jet/value.h"

namespace madeup {

// Deterministic random numbers: xoshiro256** seeded through splitmix64, and
// range helpers that do not depend on the standard library's distributions.

inline uint64_t splitmix(uint64_t& x) {
  uint64_t z = (x += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

class Random {
 public:
  explicit Random(uint64_t seed) {
    for (uint64_t& w : s_) w = splitmix(seed);
  }
  // An independent stream for one purpose and one item.
  static Random stream(uint64_t seed, uint64_t purpose, uint64_t item) {
    uint64_t x = seed ^ (purpose * 0xD1B54A32D192ED03ull) ^ (item * 0x8CB92BA72F3D8DD7ull);
    return Random(splitmix(x));
  }
  uint64_t next() {
    const uint64_t result = rotl(s_[1] * 5, 7) * 9;
    const uint64_t t = s_[1] << 17;
    s_[2] ^= s_[0];
    s_[3] ^= s_[1];
    s_[1] ^= s_[2];
    s_[0] ^= s_[3];
    s_[2] ^= t;
    s_[3] = rotl(s_[3], 45);
    return result;
  }
  // Uniform in [0, n).
  uint64_t below(uint64_t n) { return n == 0 ? 0 : next() % n; }
  // Uniform in [lo, hi].
  int64_t between(int64_t lo, int64_t hi) {
    return lo + static_cast<int64_t>(below(static_cast<uint64_t>(hi - lo + 1)));
  }
  bool percent(unsigned p) { return below(100) < p; }
  template <typename T, size_t N>
  const T& pick(const std::array<T, N>& a) {
    return a[below(N)];
  }

 private:
  static uint64_t rotl(uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
  std::array<uint64_t, 4> s_{};
};

enum Purpose : uint64_t {
  kOrder = 1,
  kClient,
  kNotes,
  kProducts,
  kHours,
  kDays,
  kCodes,
  kCounts,
  kScatter
};

// Made-up Spanish data.
extern const std::array<const char*, 40> kFirstNames;
extern const std::array<const char*, 48> kSurnames;
extern const std::array<const char*, 32> kProductNames;

// The "today" of the generated data, fixed so that runs agree: dates run
// from 1995-01-01 to this day.
inline constexpr jet::DateTimeParts kLastDay = {2026, 11, 30, 0, 0, 0};

double dayNumber(int y, int m, int d);

// Boundary cases around the usual cut-off date (31-12-2010), given to the
// lowest client codes: status and date (null date when day is 0).
struct Boundary {
  const char* status;
  int year, month, day, hour, minute, second;
};
extern const std::array<Boundary, 16> kBoundaries;

// Words of the notes, between min_chars and max_chars characters, some
// lines broken when asked, ending with a full stop.
std::string sentence(Random& r, size_t min_chars, size_t max_chars, bool line_breaks);

}  // namespace madeup
