#include "index/index_builder.h"

#include <algorithm>
#include <cstring>

#include "index/index_page.h"

namespace jet {

namespace {

constexpr size_t kShortKeyMax = 11;
static_assert(kShortKeyMax + 1 + kRowPointerSize == 16, "a short entry fills two 64-bit words");

uint64_t loadBigEndian(const uint8_t* p) {
  uint64_t v = 0;
  for (int i = 0; i < 8; ++i) v = (v << 8) | p[i];
  return v;
}

void storeBigEndian(uint8_t* p, uint64_t v) {
  for (int i = 7; i >= 0; --i) {
    p[i] = static_cast<uint8_t>(v);
    v >>= 8;
  }
}

bool sameKey(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  return a == b;
}

// A child page and the last entry under it, as the level above sees it.
struct Child {
  uint32_t page;
  IndexEntry last;
};

}  // namespace

// ---------------------------------------------------------------------------
// IndexEntryBuffer

void IndexEntryBuffer::add(const uint8_t* key, size_t key_size, RowId row) {
  if (!wide_ && key_size <= kShortKeyMax) {
    uint8_t b[16] = {};
    if (key_size > 0) std::memcpy(b, key, key_size);
    b[kShortKeyMax] = static_cast<uint8_t>(key_size);
    putIndexRowPointer(b + kShortKeyMax + 1, row);
    short_.push_back({loadBigEndian(b), loadBigEndian(b + 8)});
    return;
  }
  if (!wide_) widen();
  long_.push_back({arena_.size(), static_cast<uint32_t>(key_size), row.toPointer()});
  arena_.insert(arena_.end(), key, key + key_size);
}

void IndexEntryBuffer::widen() {
  long_.reserve(short_.size() + 1);
  std::vector<uint8_t> key;
  RowId row;
  for (size_t i = 0; i < short_.size(); ++i) {
    get(i, key, row);
    long_.push_back({arena_.size(), static_cast<uint32_t>(key.size()), row.toPointer()});
    arena_.insert(arena_.end(), key.begin(), key.end());
  }
  std::vector<Short>().swap(short_);
  wide_ = true;
}

size_t IndexEntryBuffer::bytes() const {
  return short_.capacity() * sizeof(Short) + long_.capacity() * sizeof(Long) + arena_.capacity();
}

bool IndexEntryBuffer::lessLong(const Long& a, const Long& b) const {
  const size_t n = std::min(a.size, b.size);
  if (n > 0) {
    int c = std::memcmp(arena_.data() + a.offset, arena_.data() + b.offset, n);
    if (c != 0) return c < 0;
  }
  if (a.size != b.size) return a.size < b.size;
  return a.pointer < b.pointer;  // page, then row
}

void IndexEntryBuffer::sort() {
  if (wide_) {
    auto less = [this](const Long& a, const Long& b) { return lessLong(a, b); };
    if (!std::is_sorted(long_.begin(), long_.end(), less)) {
      std::sort(long_.begin(), long_.end(), less);
    }
  } else if (!std::is_sorted(short_.begin(), short_.end())) {
    std::sort(short_.begin(), short_.end());
  }
}

void IndexEntryBuffer::get(size_t i, std::vector<uint8_t>& key, RowId& row) const {
  if (wide_) {
    const Long& l = long_[i];
    key.assign(arena_.begin() + static_cast<std::ptrdiff_t>(l.offset),
               arena_.begin() + static_cast<std::ptrdiff_t>(l.offset + l.size));
    row = RowId::fromPointer(l.pointer);
    return;
  }
  uint8_t b[16];
  storeBigEndian(b, short_[i].hi);
  storeBigEndian(b + 8, short_[i].lo);
  key.assign(b, b + b[kShortKeyMax]);
  row = getIndexRowPointer(b + kShortKeyMax + 1);
}

void IndexEntryBuffer::clear() {
  wide_ = false;
  std::vector<Short>().swap(short_);
  std::vector<Long>().swap(long_);
  std::vector<uint8_t>().swap(arena_);
}

// ---------------------------------------------------------------------------
// buildIndex

BuiltIndex buildIndex(const Format& fmt, IndexEntryBuffer& entries,
                      const IndexBuildOptions& options, const IndexPageSink& sink) {
  BuiltIndex out;
  std::vector<uint8_t> buffer(fmt.page_size);
  auto write = [&](uint32_t page) {
    sink.write(page, buffer.data());
    out.pages.push_back(page);
  };

  entries.sort();
  const size_t n = entries.size();
  out.entries = n;
  if (n == 0) {
    out.root = sink.allocate();
    std::vector<uint8_t> empty = emptyIndexLeaf(fmt, options.owner);
    std::copy(empty.begin(), empty.end(), buffer.begin());
    write(out.root);
    out.levels = 1;
    return out;
  }

  const size_t capacity = indexPageCapacity(fmt);
  IndexPageLayout layout;
  layout.owner = options.owner;

  // Leaves: packed full in index order. `pool` keeps its entries' buffers
  // from page to page.
  std::vector<IndexEntry> pool;
  size_t count = 0, used = 0;
  std::vector<Child> level;
  uint32_t page = sink.allocate();
  uint32_t prev = 0;
  std::vector<uint8_t> previous_key;
  RowId previous_row;
  auto flushLeaf = [&](uint32_t next) {
    layout.leaf = true;
    layout.prev = prev;
    layout.next = next;
    layout.tail = 0;
    encodeIndexPage(fmt, layout, std::span<const IndexEntry>(pool.data(), count), buffer.data());
    write(page);
    level.push_back({page, pool[count - 1]});
    prev = page;
    page = next;
    count = 0;
    used = 0;
  };
  for (size_t i = 0; i < n; ++i) {
    if (count == pool.size()) pool.emplace_back();
    IndexEntry& e = pool[count];
    entries.get(i, e.key, e.row);
    if (i == 0 || !sameKey(e.key, previous_key)) {
      ++out.distinct_keys;
    } else if (options.unique && e.key != options.null_key) {
      throw DuplicateKeyError(e.key, previous_row, e.row);
    }
    previous_key = e.key;
    previous_row = e.row;
    const size_t size = indexEntrySize(e, true);
    if (used + size > capacity) {
      // The new entry starts the next leaf; move it past the full page.
      IndexEntry moved = std::move(e);
      flushLeaf(sink.allocate());
      if (pool.empty()) pool.emplace_back();
      pool[0] = std::move(moved);
    }
    ++count;
    used += size;
  }
  flushLeaf(0);
  out.levels = 1;

  // Node levels.
  while (level.size() > 1) {
    // Group consecutive children: all but the group's last take an entry.
    std::vector<std::vector<size_t>> groups;
    size_t data = 0;
    for (size_t c = 0; c < level.size(); ++c) {
      if (groups.empty()) {
        groups.push_back({c});
        data = 0;
        continue;
      }
      const size_t entry = indexEntrySize(level[groups.back().back()].last, false);
      if (data + entry <= capacity) {
        groups.back().push_back(c);
        data += entry;
      } else {
        groups.push_back({c});
        data = 0;
      }
    }
    // A node with one child helps nobody: borrow the previous group's last.
    if (groups.size() >= 2 && groups.back().size() == 1 && groups[groups.size() - 2].size() >= 3) {
      auto& before = groups[groups.size() - 2];
      groups.back().insert(groups.back().begin(), before.back());
      before.pop_back();
    }

    std::vector<uint32_t> numbers;
    for (size_t g = 0; g < groups.size(); ++g) numbers.push_back(sink.allocate());
    std::vector<Child> above;
    for (size_t g = 0; g < groups.size(); ++g) {
      const std::vector<size_t>& group = groups[g];
      std::vector<IndexEntry> node;
      if (group.size() == 1) {
        IndexEntry e = level[group[0]].last;
        e.child = level[group[0]].page;
        node.push_back(std::move(e));
        layout.tail = 0;
      } else {
        for (size_t k = 0; k + 1 < group.size(); ++k) {
          IndexEntry e = level[group[k]].last;
          e.child = level[group[k]].page;
          node.push_back(std::move(e));
        }
        layout.tail = level[group.back()].page;
      }
      layout.leaf = false;
      layout.prev = g == 0 ? 0 : numbers[g - 1];
      layout.next = g + 1 < groups.size() ? numbers[g + 1] : 0;
      encodeIndexPage(fmt, layout, node, buffer.data());
      write(numbers[g]);
      IndexEntry last = level[group.back()].last;
      last.child = 0;
      above.push_back({numbers[g], std::move(last)});
    }
    level = std::move(above);
    ++out.levels;
  }
  out.root = level.front().page;
  std::sort(out.pages.begin(), out.pages.end());
  return out;
}

}  // namespace jet
