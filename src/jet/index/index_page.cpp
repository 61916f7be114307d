#include "index/index_page.h"

#include <algorithm>

#include "jet/error.h"

namespace jet {

namespace {

constexpr size_t kRowPointerSize = 4;  // data page (3, big-endian) and row (1)
constexpr size_t kChildSize = 4;

uint32_t bigEndian(const std::vector<uint8_t>& b, size_t at, size_t width) {
  uint32_t v = 0;
  for (size_t i = 0; i < width; ++i) v = (v << 8) | b[at + i];
  return v;
}

}  // namespace

int IndexEntry::compare(const IndexEntry& a, const IndexEntry& b) {
  const size_t n = std::min(a.key.size(), b.key.size());
  for (size_t i = 0; i < n; ++i) {
    if (a.key[i] != b.key[i]) return a.key[i] < b.key[i] ? -1 : 1;
  }
  if (a.key.size() != b.key.size()) return a.key.size() < b.key.size() ? -1 : 1;
  if (a.row.page != b.row.page) return a.row.page < b.row.page ? -1 : 1;
  if (a.row.row != b.row.row) return a.row.row < b.row.row ? -1 : 1;
  return 0;
}

std::vector<uint8_t> IndexEntry::sortBytes() const {
  std::vector<uint8_t> out = key;
  out.push_back(static_cast<uint8_t>(row.page >> 16));
  out.push_back(static_cast<uint8_t>(row.page >> 8));
  out.push_back(static_cast<uint8_t>(row.page));
  out.push_back(row.row);
  return out;
}

IndexPage decodeIndexPage(ByteView bytes, const Format& fmt, uint32_t number,
                          const std::string& path) {
  const std::string where = "la página de índice " + std::to_string(number);
  IndexPage p;
  p.number = number;
  try {
    const uint8_t type = bytes.u8(0);
    if (type != kIndexNodePage && type != kIndexLeafPage) {
      throwBadFormat(path, "la página " + std::to_string(number) + " no es una página de índice");
    }
    p.leaf = type == kIndexLeafPage;
    p.free_space = bytes.u16(2);
    p.owner = bytes.u32(4);
    p.prev = bytes.u32(fmt.index_prev);
    p.next = bytes.u32(fmt.index_next);
    p.tail = bytes.u32(fmt.index_tail);
    p.prefix_length = fmt.index_prefix_len_size == 1 ? bytes.u8(fmt.index_prefix_len)
                                                     : bytes.u16(fmt.index_prefix_len);
    p.node_flag = bytes.u8(fmt.index_prefix_len + fmt.index_prefix_len_size);

    const size_t first = fmt.index_first_entry;
    const size_t bitmap_size = first - fmt.index_bitmap;
    ByteView bitmap = bytes.sub(fmt.index_bitmap, bitmap_size);
    const size_t trailer = kRowPointerSize + (p.leaf ? 0 : kChildSize);
    std::vector<uint8_t> prefix;
    size_t start = 0;
    for (size_t k = 0; k < bitmap_size * 8; ++k) {
      if (!(bitmap.u8(k / 8) & (1u << (k % 8)))) continue;
      if (k <= start) {
        throwBadFormat(path, where + " tiene una entrada vacía");
      }
      if (first + k > bytes.size()) {
        throwBadFormat(path, where + " marca entradas fuera de la página");
      }
      std::vector<uint8_t> full = prefix;
      full.insert(full.end(), bytes.data() + first + start, bytes.data() + first + k);
      if (full.size() < trailer) {
        throwBadFormat(path, where + " tiene una entrada demasiado corta");
      }
      if (p.entries.empty() && p.prefix_length > 0) {
        if (p.prefix_length > full.size()) {
          throwBadFormat(path, where + " declara un prefijo más largo que su primera entrada");
        }
        prefix.assign(full.begin(), full.begin() + p.prefix_length);
      }
      IndexEntry e;
      const size_t key_size = full.size() - trailer;
      e.key.assign(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(key_size));
      e.row.page = bigEndian(full, key_size, 3);
      e.row.row = full[key_size + 3];
      if (!p.leaf) e.child = bigEndian(full, key_size + kRowPointerSize, 4);
      p.entries.push_back(std::move(e));
      start = k;
    }
    p.data_length = start;
  } catch (const OutOfRange&) {
    throwBadFormat(path, where + " está incompleta");
  }
  return p;
}

IndexPage readIndexPage(const PageSource& src, const Format& fmt, uint32_t number) {
  return decodeIndexPage(src.page(number), fmt, number, src.path());
}

}  // namespace jet
