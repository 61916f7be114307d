#include "io/journal.h"

#include <algorithm>
#include <cstring>
#include <random>

#include "jet/error.h"

namespace jet {

namespace {

constexpr char kMagic[8] = {'J', 'E', 'T', 'J', 'R', 'N', 'L', '2'};
constexpr size_t kHeaderSize = 64;
constexpr size_t kSector = 512;
constexpr uint32_t kInUse = 1;  // its unit may have touched the file
constexpr uint32_t kEnded = 2;  // its unit is over: never played back

// Header: magic, state (u32), page size (u32), nonce (u32), record count
// (u32), the file's size before the unit (u64), CRC of page 0 (u32), zeros,
// and at its end the CRC of what precedes. Each record: page number (u32),
// CRC of each sector of the page as the unit writes it (u32 each), the
// original bytes, and a CRC of all that seeded with the nonce, so that
// bytes of another journal are never taken for a record of this one.
constexpr size_t kStateAt = 8, kPageSizeAt = 12, kNonceAt = 16, kCountAt = 20, kFileSizeAt = 24,
                 kFirstPageAt = 32, kHeaderCrcAt = kHeaderSize - 4;

// Eight bytes a step: the journal runs to hundreds of megabytes when a
// unit changes a large table.
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

void put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void put32(std::vector<uint8_t>& out, uint32_t v) {
  out.resize(out.size() + 4);
  put32(out.data() + out.size() - 4, v);
}
uint32_t get32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t{p[3]} << 24);
}
uint64_t get64(const uint8_t* p) {
  return get32(p) | (uint64_t{get32(p + 4)} << 32);
}

void sealHeader(uint8_t* header) {
  put32(header + kHeaderCrcAt, journalCrc(header, kHeaderCrcAt));
}

}  // namespace

uint32_t journalCrc(const uint8_t* data, size_t n, uint32_t crc) {
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

std::vector<uint32_t> sectorCrcs(const uint8_t* page, size_t page_size) {
  std::vector<uint32_t> out;
  for (size_t at = 0; at < page_size; at += kSector) {
    out.push_back(journalCrc(page + at, std::min(kSector, page_size - at)));
  }
  return out;
}

std::string journalPath(const std::string& database_path) {
  return database_path + "-journal";
}

std::string unfinishedJournalPath(const std::string& database_path) {
  return database_path + "-journal~";
}

Journal::Journal(Os& os, const std::string& database_path, const std::string& shown_path)
    : os_(&os),
      shown_path_(shown_path),
      path_(journalPath(database_path)),
      unfinished_path_(unfinishedJournalPath(database_path)) {}

void Journal::damaged(const std::string& why) const {
  throw JetError(Msg::kBadJournal, path_, shown_path_, why);
}

void Journal::write(const JournalContents& c) {
  const std::string& tmp = unfinished_path_;
  std::unique_ptr<OsFile> file;
  if (!os_->open(tmp, OpenFor::Create, file)) throw JetError(Msg::kCannotOpen, tmp);
  auto fail = [&](const std::string& named) {
    file.reset();
    os_->remove(tmp);
    throw JetError(Msg::kCannotOpen, named);
  };
  const uint32_t nonce = std::random_device{}();
  std::vector<uint8_t> out(kHeaderSize, 0);
  out.reserve(1 << 20);
  std::memcpy(out.data(), kMagic, sizeof kMagic);
  put32(out.data() + kStateAt, kInUse);
  put32(out.data() + kPageSizeAt, static_cast<uint32_t>(c.page_size));
  put32(out.data() + kNonceAt, nonce);
  put32(out.data() + kCountAt, static_cast<uint32_t>(c.pages.size()));
  put32(out.data() + kFileSizeAt, static_cast<uint32_t>(c.file_size));
  put32(out.data() + kFileSizeAt + 4, static_cast<uint32_t>(c.file_size >> 32));
  put32(out.data() + kFirstPageAt, c.first_page_crc);
  sealHeader(out.data());
  uint64_t written = 0;
  auto flush = [&] {
    if (!file->write(written, out.data(), out.size())) return false;
    written += out.size();
    out.clear();
    return true;
  };
  const size_t sectors = (c.page_size + kSector - 1) / kSector;
  for (const auto& [number, bytes] : c.pages) {
    if (out.size() + bytes.size() + 8 + 4 * sectors > out.capacity() && !flush()) fail(tmp);
    const size_t start = out.size();
    put32(out, number);
    auto crcs = c.written_crc.find(number);
    for (size_t k = 0; k < sectors; ++k) {
      put32(out, crcs == c.written_crc.end() || k >= crcs->second.size() ? 0 : crcs->second[k]);
    }
    out.insert(out.end(), bytes.begin(), bytes.end());
    put32(out, journalCrc(out.data() + start, out.size() - start, nonce));
  }
  if (!flush() || !file->sync()) fail(tmp);
  if (!file->close()) fail(tmp);
  if (!os_->rename(tmp, path_)) fail(tmp);
  if (!os_->syncFolderOf(path_)) {
    // The file is untouched yet: a journal that may not stay is removed.
    os_->remove(path_);
    throw JetError(Msg::kCannotOpen, path_);
  }
}

bool Journal::exists() {
  return os_->exists(path_) || os_->exists(unfinished_path_);
}

std::optional<JournalContents> Journal::read() {
  std::unique_ptr<OsFile> file;
  const OsStatus opened = os_->open(path_, OpenFor::Read, file);
  if (opened.failure == OsFailure::NotFound) return std::nullopt;
  uint64_t size = 0;
  if (!opened || !file->size(size)) throw JetError(Msg::kCannotOpen, path_);
  std::vector<uint8_t> data(static_cast<size_t>(size));
  if (!file->read(0, data.data(), data.size())) throw JetError(Msg::kCannotOpen, path_);
  const uint8_t* h = data.data();
  if (data.size() < kHeaderSize) damaged("está vacío o cortado antes del final de su cabecera");
  if (std::memcmp(h, kMagic, sizeof kMagic) != 0) damaged("no empieza como un diario");
  if (journalCrc(h, kHeaderCrcAt) != get32(h + kHeaderCrcAt)) damaged("su cabecera está dañada");
  if (get32(h + kStateAt) == kEnded) return std::nullopt;
  JournalContents c;
  c.page_size = get32(h + kPageSizeAt);
  c.file_size = get64(h + kFileSizeAt);
  c.first_page_crc = get32(h + kFirstPageAt);
  const uint32_t nonce = get32(h + kNonceAt);
  const uint64_t count = get32(h + kCountAt);
  if (get32(h + kStateAt) != kInUse || (c.page_size != 2048 && c.page_size != 4096)) {
    damaged("su cabecera tiene valores imposibles");
  }
  const size_t sectors = c.page_size / kSector;
  const size_t entry = 4 + 4 * sectors + c.page_size + 4;
  if (size != kHeaderSize + count * entry) {
    damaged("debería tener " + std::to_string(kHeaderSize + count * entry) + " bytes y tiene " +
            std::to_string(size));
  }
  for (size_t pos = kHeaderSize; pos < data.size(); pos += entry) {
    const uint8_t* p = data.data() + pos;
    if (journalCrc(p, entry - 4, nonce) != get32(p + entry - 4)) {
      damaged("el registro " + std::to_string((pos - kHeaderSize) / entry + 1) + " está dañado");
    }
    std::vector<uint32_t>& crcs = c.written_crc[get32(p)];
    for (size_t k = 0; k < sectors; ++k) crcs.push_back(get32(p + 4 + 4 * k));
    const uint8_t* bytes = p + 4 + 4 * sectors;
    c.pages[get32(p)] = std::vector<uint8_t>(bytes, bytes + c.page_size);
  }
  return c;
}

void Journal::checkBelongsTo(OsFile& database, const JournalContents& c, bool every_page) {
  uint64_t size = 0;
  if (!database.size(size)) throw JetError(Msg::kCannotOpen, shown_path_);
  if (size < c.file_size) {
    damaged("la base de datos tiene " + std::to_string(size) +
            " bytes, menos de los que tenía al escribirse el diario (" +
            std::to_string(c.file_size) + ")");
  }
  std::vector<uint8_t> page(c.page_size);
  if (!database.read(0, page.data(), page.size()) ||
      journalCrc(page.data(), page.size()) != c.first_page_crc) {
    damaged("es de otra base de datos (la primera página no coincide)");
  }
  if (!every_page) return;
  for (const auto& [number, original] : c.pages) {
    const uint64_t at = uint64_t{number} * c.page_size;
    if (at + c.page_size > size) continue;  // added by the unit, not written yet
    if (!database.read(at, page.data(), page.size())) throw JetError(Msg::kCannotOpen, shown_path_);
    const std::vector<uint32_t> now = sectorCrcs(page.data(), page.size());
    const std::vector<uint32_t> before = sectorCrcs(original.data(), original.size());
    const std::vector<uint32_t>& after = c.written_crc.at(number);
    for (size_t k = 0; k < now.size(); ++k) {
      if (now[k] != before[k] && now[k] != after[k]) {
        damaged("es de otra copia de la base de datos (la página " + std::to_string(number) +
                " no es ni la de antes ni la de después del cambio)");
      }
    }
  }
}

void Journal::playBack(OsFile& database, const JournalContents& c) {
  for (const auto& [number, bytes] : c.pages) {
    if (!database.write(uint64_t{number} * c.page_size, bytes.data(), c.page_size)) {
      throw JetError(Msg::kCannotWrite, shown_path_);
    }
  }
  if (!database.truncate(c.file_size) || !database.sync()) {
    throw JetError(Msg::kCannotOpen, shown_path_);
  }
}

void Journal::retire() {
  const OsStatus removed = os_->remove(path_);
  if (removed.failure == OsFailure::NotFound) return;
  if (removed) {
    os_->syncFolderOf(path_);
    return;
  }
  // Still there: the next open must not take it for a unit to undo.
  std::unique_ptr<OsFile> file;
  uint8_t header[kHeaderSize];
  if (!os_->open(path_, OpenFor::ReadWrite, file) || !file->read(0, header, sizeof header) ||
      std::memcmp(header, kMagic, sizeof kMagic) != 0) {
    throw JetError(Msg::kCannotWrite, path_);
  }
  put32(header + kStateAt, kEnded);
  sealHeader(header);
  if (!file->write(0, header, sizeof header) || !file->sync() || !file->close()) {
    throw JetError(Msg::kCannotWrite, path_);
  }
}

void Journal::removeUnfinished() {
  if (os_->exists(unfinished_path_)) os_->remove(unfinished_path_);
}

}  // namespace jet
