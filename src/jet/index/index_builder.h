// Building a whole index B-tree at once, for a new table or a rebuild.
//
// The entries (key and row) are gathered in any order, then sorted into
// index order: key bytes (a key that is a prefix of another first), then
// the row's page, then its row number. Leaves are packed full in that
// order; above them each level holds, per child page but the last, a copy
// of the child's last entry with the child's page number, and names the last
// child only as its tail. Levels are added until one page, the root, is
// left. Every level is chained left to right by previous/next pointers, the
// first page with previous 0 and the last with next 0. A level is never cut
// so that a node keeps a single child. An index without entries is a single
// empty leaf.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <vector>

#include "format/data_page.h"
#include "format/format.h"

namespace jet {

// Where the builder's pages go: a fresh page number, then the page's bytes.
struct IndexPageSink {
  std::function<uint32_t()> allocate;
  std::function<void(uint32_t page, const uint8_t* bytes)> write;
};

// The entries of one index, gathered before the tree is built. Short keys
// (up to 11 bytes, the common case of numbers and one-letter codes) are kept
// as fixed 16-byte records, longer ones in a byte arena.
class IndexEntryBuffer {
 public:
  void add(const uint8_t* key, size_t key_size, RowId row);
  void add(const std::vector<uint8_t>& key, RowId row) { add(key.data(), key.size(), row); }
  size_t size() const { return wide_ ? long_.size() : short_.size(); }
  // Memory held by the entries, for progress reports.
  size_t bytes() const;

  // Sorts into index order (a no-op when they came in order).
  void sort();
  // After sort(): entry i.
  void get(size_t i, std::vector<uint8_t>& key, RowId& row) const;
  void clear();

 private:
  struct Short {
    uint64_t hi, lo;  // key padded with zeros to 11 bytes, key length, page (3), row
    bool operator<(const Short& o) const { return hi != o.hi ? hi < o.hi : lo < o.lo; }
    bool operator==(const Short& o) const = default;
  };
  struct Long {
    uint64_t offset;  // into arena_: the key bytes
    uint32_t size;
    uint32_t pointer;  // RowId::toPointer()
  };
  void widen();
  bool lessLong(const Long& a, const Long& b) const;

  bool wide_ = false;
  std::vector<Short> short_;
  std::vector<Long> long_;
  std::vector<uint8_t> arena_;
};

struct IndexBuildOptions {
  uint32_t owner = 0;  // first TDEF page of the table
  // Reject two equal keys, except keys equal to `null_key` (all columns
  // null), which may repeat.
  bool unique = false;
  std::vector<uint8_t> null_key;
};

struct BuiltIndex {
  uint32_t root = 0;
  std::vector<uint32_t> pages;  // every page of the tree, ascending
  size_t entries = 0;
  size_t distinct_keys = 0;
  size_t levels = 0;  // 1 = the root is a leaf
};

// Thrown when a unique index would hold a key twice.
class DuplicateKeyError : public std::runtime_error {
 public:
  DuplicateKeyError(std::vector<uint8_t> key, RowId first, RowId second)
      : std::runtime_error("duplicate key in a unique index"),
        key(std::move(key)),
        first(first),
        second(second) {}
  std::vector<uint8_t> key;
  RowId first, second;
};

// Sorts `entries` and writes the tree through `sink`. Throws DuplicateKeyError.
BuiltIndex buildIndex(const Format& fmt, IndexEntryBuffer& entries,
                      const IndexBuildOptions& options, const IndexPageSink& sink);

}  // namespace jet
