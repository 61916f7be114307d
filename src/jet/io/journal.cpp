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
constexpr uint32_t kInUse = 1;                // its unit may have touched the file
constexpr uint32_t kEnded = 2;                // its unit is over: never played back
constexpr uint32_t kRewritten = 0x80000000u;  // in a record's page number: CRCs alone

// Header: magic, state (u32), page size (u32), nonce (u32), record count
// (u32), the file's size before the unit (u64), CRC of page 0 (u32), zeros,
// and at its end the CRC of what precedes. Each record: page number (u32),
// CRC of each sector of the page as the unit writes it (u32 each), the
// original bytes, and a CRC of all that seeded with the nonce, so that
// bytes of another journal are never taken for a record of this one. A
// record of a page written again has the top bit of its number set and no
// bytes. A journal without such records, and with nothing past its count,
// is what earlier versions of the engine wrote (and read).
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

std::vector<uint8_t> Journal::header(uint32_t count) const {
  std::vector<uint8_t> out(kHeaderSize, 0);
  std::memcpy(out.data(), kMagic, sizeof kMagic);
  put32(out.data() + kStateAt, kInUse);
  put32(out.data() + kPageSizeAt, static_cast<uint32_t>(page_size_));
  put32(out.data() + kNonceAt, nonce_);
  put32(out.data() + kCountAt, count);
  put32(out.data() + kFileSizeAt, static_cast<uint32_t>(file_size_));
  put32(out.data() + kFileSizeAt + 4, static_cast<uint32_t>(file_size_ >> 32));
  put32(out.data() + kFirstPageAt, first_page_crc_);
  sealHeader(out.data());
  return out;
}

void Journal::appendRecord(std::vector<uint8_t>& out, const JournalRecord& r) const {
  const size_t sectors = (page_size_ + kSector - 1) / kSector;
  const size_t start = out.size();
  put32(out, r.page | (r.original ? 0 : kRewritten));
  for (size_t k = 0; k < sectors; ++k) put32(out, k < r.written_crc.size() ? r.written_crc[k] : 0);
  if (r.original) out.insert(out.end(), r.original, r.original + page_size_);
  put32(out, journalCrc(out.data() + start, out.size() - start, nonce_));
}

void Journal::write(const JournalContents& c) {
  begin(c.page_size, c.file_size, c.first_page_crc);
  std::vector<JournalRecord> records;
  for (const auto& [number, bytes] : c.pages) {
    JournalRecord r{number, bytes.data(), {}};
    auto crcs = c.written_crc.find(number);
    if (crcs != c.written_crc.end()) r.written_crc = crcs->second;
    records.push_back(std::move(r));
  }
  append(records);
}

void Journal::begin(size_t page_size, uint64_t file_size, uint32_t first_page_crc) {
  page_size_ = page_size;
  file_size_ = file_size;
  first_page_crc_ = first_page_crc;
  nonce_ = std::random_device{}();
  records_ = 0;
  end_ = 0;
  unit_ = JournalIndex{page_size, file_size, first_page_crc, nonce_, {}, {}};
}

void Journal::append(const std::vector<JournalRecord>& records) {
  if (records.empty()) return;
  if (records_ == 0) {
    firstBatch(records);
  } else {
    laterBatch(records);
  }
}

// Under the temporary name, renamed once synced: a journal under its own
// name is whole.
void Journal::firstBatch(const std::vector<JournalRecord>& records) {
  const std::string& tmp = unfinished_path_;
  std::unique_ptr<OsFile> file;
  if (!os_->open(tmp, OpenFor::Create, file)) throw JetError(Msg::kCannotOpen, tmp);
  auto fail = [&](const std::string& named) {
    file.reset();
    os_->remove(tmp);
    unit_.originals.clear();
    throw JetError(Msg::kCannotOpen, named);
  };
  std::vector<uint8_t> out = header(static_cast<uint32_t>(records.size()));
  out.reserve(1 << 20);
  uint64_t written = 0;
  auto flush = [&] {
    if (!file->write(written, out.data(), out.size())) return false;
    written += out.size();
    out.clear();
    return true;
  };
  for (const JournalRecord& r : records) {
    if (out.size() + page_size_ + 8 + page_size_ / 128 > out.capacity() && !flush()) fail(tmp);
    if (r.original) unit_.originals.emplace_back(r.page, written + out.size());
    appendRecord(out, r);
  }
  if (!flush() || !file->sync()) fail(tmp);
  if (!file->close()) fail(tmp);
  if (!os_->rename(tmp, path_)) fail(tmp);
  if (!os_->syncFolderOf(path_)) {
    // The file is untouched yet: a journal that may not stay is removed.
    os_->remove(path_);
    unit_.originals.clear();
    throw JetError(Msg::kCannotOpen, path_);
  }
  records_ = static_cast<uint32_t>(records.size());
  end_ = written;
}

// Appended past the counted records, synced, and only then counted: until
// the header says so, a cut leaves records the next open ignores, and no
// page they cover has been written.
void Journal::laterBatch(const std::vector<JournalRecord>& records) {
  std::unique_ptr<OsFile> file;
  if (!os_->open(path_, OpenFor::ReadWrite, file)) throw JetError(Msg::kCannotOpen, path_);
  std::vector<uint8_t> out;
  out.reserve(1 << 20);
  uint64_t written = end_;
  // The records of a batch that failed may be counted or not: their pages
  // were not written, so putting them back would do no harm, but they are
  // not listed.
  const size_t listed = unit_.originals.size();
  auto fail = [&] {
    unit_.originals.resize(listed);
    throw JetError(Msg::kCannotOpen, path_);
  };
  auto flush = [&] {
    if (!file->write(written, out.data(), out.size())) fail();
    written += out.size();
    out.clear();
  };
  for (const JournalRecord& r : records) {
    if (out.size() + page_size_ + 8 + page_size_ / 128 > out.capacity()) flush();
    if (r.original) unit_.originals.emplace_back(r.page, written + out.size());
    appendRecord(out, r);
  }
  flush();
  if (!file->sync()) fail();
  const uint32_t count = records_ + static_cast<uint32_t>(records.size());
  const std::vector<uint8_t> head = header(count);
  if (!file->write(0, head.data(), head.size()) || !file->sync() || !file->close()) fail();
  records_ = count;
  end_ = written;
}

bool Journal::exists() {
  return os_->exists(path_) || os_->exists(unfinished_path_);
}

namespace {

// Reads a journal front to back a megabyte at a time.
class JournalReader {
 public:
  JournalReader(OsFile& file, uint64_t size) : file_(&file), size_(size) {}
  // The `n` bytes at `at`, or null past the end. Fails only when the
  // system does.
  const uint8_t* get(uint64_t at, size_t n, bool& failed) {
    failed = false;
    if (at + n > size_) return nullptr;
    if (at < at_ || at + n > at_ + buf_.size()) {
      const size_t want =
          static_cast<size_t>(std::min<uint64_t>(size_ - at, std::max<size_t>(n, 1 << 20)));
      buf_.resize(want);
      if (!file_->read(at, buf_.data(), want)) {
        failed = true;
        return nullptr;
      }
      at_ = at;
    }
    return buf_.data() + (at - at_);
  }

 private:
  OsFile* file_;
  uint64_t size_;
  uint64_t at_ = 0;
  std::vector<uint8_t> buf_;
};

}  // namespace

std::optional<JournalIndex> Journal::read(const PageFn& original) {
  std::unique_ptr<OsFile> file;
  const OsStatus opened = os_->open(path_, OpenFor::Read, file);
  if (opened.failure == OsFailure::NotFound) return std::nullopt;
  if (!opened) throw JetError(Msg::kCannotOpen, path_);
  // The header before the size: a writer appends and syncs records before
  // it counts them in the header, so every record counted is there.
  uint8_t h[kHeaderSize];
  const OsStatus got = file->read(0, h, kHeaderSize);
  if (got.failure == OsFailure::PastEnd)
    damaged("está vacío o cortado antes del final de su cabecera");
  uint64_t size = 0;
  if (!got || !file->size(size)) throw JetError(Msg::kCannotOpen, path_);
  JournalReader in(*file, size);
  bool failed = false;
  if (std::memcmp(h, kMagic, sizeof kMagic) != 0) damaged("no empieza como un diario");
  if (journalCrc(h, kHeaderCrcAt) != get32(h + kHeaderCrcAt)) damaged("su cabecera está dañada");
  if (get32(h + kStateAt) == kEnded) return std::nullopt;
  JournalIndex c;
  c.page_size = get32(h + kPageSizeAt);
  c.file_size = get64(h + kFileSizeAt);
  c.first_page_crc = get32(h + kFirstPageAt);
  c.nonce = get32(h + kNonceAt);
  const uint64_t count = get32(h + kCountAt);
  if (get32(h + kStateAt) != kInUse || (c.page_size != 2048 && c.page_size != 4096)) {
    damaged("su cabecera tiene valores imposibles");
  }
  const size_t sectors = c.page_size / kSector;
  const size_t head = 4 + 4 * sectors;
  uint64_t pos = kHeaderSize;
  for (uint64_t k = 0; k < count; ++k) {
    auto cut = [&] {
      damaged("está cortado en el registro " + std::to_string(k + 1) + " de " +
              std::to_string(count));
    };
    const uint8_t* p = in.get(pos, head, failed);
    if (failed) throw JetError(Msg::kCannotOpen, path_);
    if (!p) cut();
    const uint32_t word = get32(p);
    const bool rewritten = (word & kRewritten) != 0;
    const size_t entry = head + (rewritten ? 0 : c.page_size) + 4;
    p = in.get(pos, entry, failed);
    if (failed) throw JetError(Msg::kCannotOpen, path_);
    if (!p) cut();
    if (journalCrc(p, entry - 4, c.nonce) != get32(p + entry - 4)) {
      damaged("el registro " + std::to_string(k + 1) + " está dañado");
    }
    const uint32_t number = word & ~kRewritten;
    if (rewritten) {
      std::vector<uint32_t>& crcs = c.rewritten[number];
      for (size_t s = 0; s < sectors; ++s) crcs.push_back(get32(p + 4 + 4 * s));
    } else {
      c.originals.emplace_back(number, pos);
      if (original) original(number, p + head, c.page_size);
    }
    pos += entry;
  }
  return c;
}

void Journal::readRecord(OsFile& journal, const JournalIndex& c, uint64_t offset,
                         std::vector<uint8_t>& record) const {
  // Read again, so checked again: nothing may have changed it since.
  if (!journal.read(offset, record.data(), record.size()) ||
      journalCrc(record.data(), record.size() - 4, c.nonce) !=
          get32(record.data() + record.size() - 4)) {
    throw JetError(Msg::kCannotOpen, path_);
  }
}

void Journal::checkBelongsTo(OsFile& database, const JournalIndex& c, bool every_page) {
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
  std::unique_ptr<OsFile> file;
  if (!os_->open(path_, OpenFor::Read, file)) throw JetError(Msg::kCannotOpen, path_);
  const size_t sectors = c.page_size / kSector;
  std::vector<uint8_t> record(4 + 4 * sectors + c.page_size + 4);
  for (const auto& [number, offset] : c.originals) {
    const uint64_t at = uint64_t{number} * c.page_size;
    if (at + c.page_size > size) continue;  // added by the unit, not written yet
    if (!database.read(at, page.data(), page.size())) throw JetError(Msg::kCannotOpen, shown_path_);
    readRecord(*file, c, offset, record);
    const std::vector<uint32_t> now = sectorCrcs(page.data(), page.size());
    const std::vector<uint32_t> before = sectorCrcs(record.data() + 4 + 4 * sectors, c.page_size);
    auto later = c.rewritten.find(number);
    for (size_t k = 0; k < now.size(); ++k) {
      bool known = now[k] == before[k] || now[k] == get32(record.data() + 4 + 4 * k);
      if (later != c.rewritten.end()) {
        for (size_t v = k; !known && v < later->second.size(); v += sectors) {
          known = now[k] == later->second[v];
        }
      }
      if (!known) {
        damaged("es de otra copia de la base de datos (la página " + std::to_string(number) +
                " no es ni la de antes ni la de después del cambio)");
      }
    }
  }
}

void Journal::playBack(OsFile& database, const JournalIndex& c, const PutBackFn& put_back) {
  std::unique_ptr<OsFile> file;
  if (!os_->open(path_, OpenFor::Read, file)) throw JetError(Msg::kCannotOpen, path_);
  const size_t sectors = c.page_size / kSector;
  const size_t head = 4 + 4 * sectors;
  std::vector<uint8_t> record(head + c.page_size + 4);
  bool writing = true;
  for (const auto& [number, offset] : c.originals) {
    readRecord(*file, c, offset, record);
    if (writing) {
      writing =
          bool(database.write(uint64_t{number} * c.page_size, record.data() + head, c.page_size));
    }
    if (put_back) {
      put_back(number, record.data() + head, writing);
    } else if (!writing) {
      break;
    }
  }
  if (!writing) throw JetError(Msg::kCannotWrite, shown_path_);
  if (!database.truncate(c.file_size) || !database.sync()) {
    throw JetError(Msg::kCannotOpen, shown_path_);
  }
}

void Journal::retire() {
  records_ = 0;
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
