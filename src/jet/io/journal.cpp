#include "io/journal.h"

#include <cstring>

#include "jet/error.h"

namespace jet {

namespace {

constexpr char kMagic[8] = {'J', 'E', 'T', 'J', 'R', 'N', 'L', '1'};

// CRC-32 (IEEE), eight bytes a step: the journal runs to hundreds of
// megabytes when a unit changes a large table.
struct CrcTables {
  uint32_t t[8][256];
  CrcTables() {
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[0][i] = c;
    }
    for (uint32_t i = 0; i < 256; ++i) {
      for (int k = 1; k < 8; ++k) t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
    }
  }
};

uint32_t crc32(const uint8_t* data, size_t n, uint32_t crc = 0) {
  static const CrcTables tables;
  const auto& t = tables.t;
  crc = ~crc;
  while (n >= 8) {
    const uint32_t lo =
        crc ^ (data[0] | (data[1] << 8) | (data[2] << 16) | (uint32_t{data[3]} << 24));
    crc = t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24] ^
          t[3][data[4]] ^ t[2][data[5]] ^ t[1][data[6]] ^ t[0][data[7]];
    data += 8;
    n -= 8;
  }
  while (n-- > 0) crc = t[0][(crc ^ *data++) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

void put32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void put64(std::vector<uint8_t>& out, uint64_t v) {
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
uint32_t get32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t{p[3]} << 24);
}
uint64_t get64(const uint8_t* p) {
  return get32(p) | (uint64_t{get32(p + 4)} << 32);
}

}  // namespace

std::string journalPath(const std::string& database_path) {
  return database_path + "-journal";
}

Journal::Journal(Os& os, const std::string& database_path)
    : os_(&os), database_path_(database_path), path_(journalPath(database_path)) {}

// Layout: magic, page size (u32), file size (u64), page count (u32), header
// CRC (u32); then per page: number (u32), bytes, CRC of number and bytes (u32).
void Journal::write(const JournalContents& c) {
  std::unique_ptr<OsFile> file;
  if (!os_->open(path_, OpenFor::Create, file)) throw JetError(Msg::kCannotOpen, path_);
  auto fail = [&] {
    file.reset();
    os_->remove(path_);
    throw JetError(Msg::kCannotOpen, path_);
  };
  std::vector<uint8_t> out;
  out.reserve(1 << 20);
  uint64_t written = 0;
  auto flush = [&] {
    if (!file->write(written, out.data(), out.size())) return false;
    written += out.size();
    out.clear();
    return true;
  };
  out.insert(out.end(), kMagic, kMagic + sizeof kMagic);
  put32(out, static_cast<uint32_t>(c.page_size));
  put64(out, c.file_size);
  put32(out, static_cast<uint32_t>(c.pages.size()));
  put32(out, crc32(out.data(), out.size()));
  for (const auto& [number, bytes] : c.pages) {
    if (out.size() + bytes.size() + 8 > out.capacity() && !flush()) fail();
    const size_t start = out.size();
    put32(out, number);
    out.insert(out.end(), bytes.begin(), bytes.end());
    put32(out, crc32(out.data() + start, out.size() - start));
  }
  if (!flush()) fail();
  if (!file->sync()) fail();
  file->close();
  // A journal whose name may vanish in a crash protects nothing.
  if (!os_->syncFolderOf(path_)) fail();
}

std::optional<JournalContents> Journal::read() {
  std::unique_ptr<OsFile> file;
  uint64_t size = 0;
  if (!os_->open(path_, OpenFor::Read, file) || !file->size(size)) return std::nullopt;
  std::vector<uint8_t> data(static_cast<size_t>(size));
  if (!file->read(0, data.data(), data.size())) return std::nullopt;
  constexpr size_t kHeader = sizeof kMagic + 4 + 8 + 4 + 4;
  if (data.size() < kHeader || std::memcmp(data.data(), kMagic, sizeof kMagic) != 0) {
    return std::nullopt;
  }
  if (crc32(data.data(), kHeader - 4) != get32(data.data() + kHeader - 4)) return std::nullopt;
  JournalContents c;
  c.page_size = get32(data.data() + 8);
  c.file_size = get64(data.data() + 12);
  const uint32_t count = get32(data.data() + 20);
  if (c.page_size != 2048 && c.page_size != 4096) return std::nullopt;
  size_t pos = kHeader;
  for (uint32_t i = 0; i < count; ++i) {
    const size_t entry = 4 + c.page_size + 4;
    if (data.size() - pos < entry) return std::nullopt;
    const uint8_t* p = data.data() + pos;
    if (crc32(p, entry - 4) != get32(p + entry - 4)) return std::nullopt;
    c.pages[get32(p)] = std::vector<uint8_t>(p + 4, p + 4 + c.page_size);
    pos += entry;
  }
  return c;
}

bool Journal::exists() {
  return os_->exists(path_);
}

void Journal::playBack(OsFile& database, const JournalContents& c) {
  for (const auto& [number, bytes] : c.pages) {
    if (!database.write(uint64_t{number} * c.page_size, bytes.data(), c.page_size)) {
      throw JetError(Msg::kCannotWrite, database_path_);
    }
  }
  if (!database.truncate(c.file_size) || !database.sync()) {
    throw JetError(Msg::kCannotOpen, database_path_);
  }
}

void Journal::remove() {
  // A journal that stays whole would undo the finished unit at the next
  // opening; emptied, it no longer counts.
  std::unique_ptr<OsFile> left;
  const OsStatus removed = os_->remove(path_);
  if (!removed && removed.failure != OsFailure::NotFound && os_->open(path_, OpenFor::Create, left))
    left->sync();
  os_->syncFolderOf(path_);
}

}  // namespace jet
