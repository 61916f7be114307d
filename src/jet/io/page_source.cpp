#include "io/page_source.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "jet/error.h"

namespace jet {

namespace {

constexpr size_t kDefaultCacheBytes = size_t{28} << 20;
// Page buffers kept for reuse when pages are dropped.
constexpr size_t kSpareBuffers = 256;
// Pages read at once when pages are read in order (64 KB of 4 KB pages).
constexpr uint32_t kReadAhead = 16;
// Pages written in place with one call, at most, when they follow each other.
constexpr size_t kWriteRun = 64;

std::string realPathOf(Os& os, const std::string& path) {
  std::string real;
  const OsStatus found = os.realPath(path, real);
  if (found.failure == OsFailure::NotFound) throw JetError(Msg::kFileNotFound, path);
  if (!found) throw JetError(Msg::kCannotOpen, path);
  return real;
}

}  // namespace

PageSource::PageSource(std::string path, OpenMode mode, Os& os)
    : path_(std::move(path)),
      real_path_(realPathOf(os, path_)),
      mode_(mode),
      journal_(os, real_path_, path_),
      lock_(os) {
  const OsStatus opened =
      os.open(path_, mode == OpenMode::ReadWrite ? OpenFor::ReadWrite : OpenFor::Read, file_);
  if (!opened) {
    if (opened.failure == OsFailure::NotFound) throw JetError(Msg::kFileNotFound, path_);
    throw JetError(Msg::kCannotOpen, path_);
  }
  if (journal_.exists()) {
    if (writable() && lock_.tryAcquire(real_path_)) {
      // Only a holder of the write lock may touch a journal: any other
      // could belong to a program writing now.
      try {
        recoverJournal();
      } catch (...) {
        lock_.release();
        throw;
      }
      lock_.release();
    } else {
      readThroughJournal();
    }
  }
  identity_ = currentIdentity();
  file_size_ = has_read_through_ ? read_through_file_size_ : identity_.size;
}

PageSource::~PageSource() {
  if (in_unit_) {
    try {
      rollbackUnit();
    } catch (...) {
      // The journal stays: the next open puts the file back.
    }
  }
  lock_holds_ = 0;
  file_.reset();  // closed before the lock file goes
  lock_.release();
}

FileIdentity PageSource::currentIdentity() const {
  FileIdentity id;
  if (!file_->identity(id)) return {};
  return id;
}

// With the write lock held: a finished journal is played back whole, a
// damaged or foreign one stops the open, an unfinished one is removed.
void PageSource::recoverJournal() {
  ++change_count_;
  journal_.removeUnfinished();
  std::optional<JournalIndex> j = journal_.read();
  if (j) {
    journal_.checkBelongsTo(*file_, *j, true);
    journal_.playBack(*file_, *j);
  }
  journal_.retire();
}

// Without the write lock: the file as the journal says it was, untouched;
// a journal being written now is under its temporary name and is ignored.
void PageSource::readThroughJournal() {
  std::map<uint32_t, std::vector<uint8_t>> pages;
  std::optional<JournalIndex> j =
      journal_.read([&](uint32_t number, const uint8_t* bytes, size_t size) {
        pages[number] = std::vector<uint8_t>(bytes, bytes + size);
      });
  if (!j) return;
  journal_.checkBelongsTo(*file_, *j, false);
  read_through_ = std::move(pages);
  read_through_page_size_ = j->page_size;
  read_through_file_size_ = j->file_size;
  has_read_through_ = true;
}

uint32_t PageSource::firstPageCrc() const {
  std::vector<uint8_t> page(page_size_);
  if (!file_->read(0, page.data(), page.size())) throw JetError(Msg::kCannotOpen, path_);
  return journalCrc(page.data(), page.size());
}

std::vector<uint8_t> PageSource::readPrefix(size_t count) const {
  if (file_size_ < count) count = static_cast<size_t>(file_size_);
  std::vector<uint8_t> out(count);
  if (!file_->read(0, out.data(), count)) throw JetError(Msg::kCannotOpen, path_);
  auto it = read_through_.find(0);
  if (it != read_through_.end()) {
    std::memcpy(out.data(), it->second.data(), std::min(count, it->second.size()));
  }
  return out;
}

void PageSource::setPageSize(size_t page_size) {
  page_size_ = page_size;
  uint64_t pages = file_size_ / page_size;
  if (pages > 0x00FFFFFF) pages = 0x00FFFFFF;  // row pointers hold 24-bit page numbers
  page_count_ = static_cast<uint32_t>(pages);
  slots_.clear();
  slots_.resize(page_count_);
  spare_.clear();  // of the size read before
  resident_ = 0;
  limit_ = limit_asked_ ? limit_set_ : kDefaultCacheBytes / page_size;
  if (read_through_page_size_ == page_size) {
    for (const auto& [number, bytes] : read_through_) {
      if (number > 0 && number < page_count_) setPage(number, bytes);
    }
  }
}

void PageSource::setCacheLimit(size_t pages) {
  limit_asked_ = true;
  limit_set_ = pages;
  limit_ = pages;
}

uint8_t* PageSource::buffer() const {
  if (spare_.empty()) return new uint8_t[page_size_];
  uint8_t* buf = spare_.back().release();
  spare_.pop_back();
  return buf;
}

uint8_t* PageSource::load(uint32_t number) const {
  // A page read right after the one before it is likely one of many read
  // in order (a table's pages, an index's leaves, the rows a commit
  // deletes): the pages that follow come in the same read, as far as the
  // next one already held. A run that cannot be read whole is read a page
  // at a time, so that a failure names its page.
  uint32_t run = 1;
  if (number == next_in_order_) {
    while (run < kReadAhead && number + run < page_count_ && !slots_[number + run].bytes) ++run;
  }
  next_in_order_ = number + run;
  if (run > 1) {
    ahead_.resize(size_t{run} * page_size_);
    if (file_->read(uint64_t{number} * page_size_, ahead_.data(), ahead_.size())) {
      for (uint32_t i = 0; i < run; ++i) {
        Slot& s = slots_[number + i];
        s.bytes.reset(buffer());
        std::memcpy(s.bytes.get(), ahead_.data() + size_t{i} * page_size_, page_size_);
        s.used = scopes_opened_;  // as recent as the page asked for
      }
      resident_ += run;
      peak_resident_ = std::max(peak_resident_, resident_);
      return slots_[number].bytes.get();
    }
  }
  Slot& s = slots_[number];
  std::unique_ptr<uint8_t[]> buf(buffer());  // the read fills it
  if (!file_->read(uint64_t{number} * page_size_, buf.get(), page_size_)) {
    throwBadFormat(path_, "no se puede leer la página " + std::to_string(number));
  }
  s.bytes = std::move(buf);
  ++resident_;
  peak_resident_ = std::max(peak_resident_, resident_);
  return s.bytes.get();
}

void PageSource::drop(uint32_t number) const {
  Slot& s = slots_[number];
  if (!s.bytes) return;
  // Kept for the next page read, up to a few hundred: a purge reads and
  // drops pages by the million.
  if (spare_.size() < kSpareBuffers) {
    spare_.push_back(std::move(s.bytes));
  } else {
    s.bytes.reset();
  }
  if (!(s.flags & kKept)) --resident_;
}

void PageSource::touch(uint32_t number) const {
  Slot& s = slots_[number];
  s.used = scopes_opened_;
  if (scopes_.empty()) {
    s.flags |= kHeld;
    return;
  }
  const uint32_t id = scopes_.back().id;
  if (s.scope != id) {
    s.scope = id;
    ++s.pins;
    pinned_.push_back(number);
  }
}

ByteView PageSource::page(uint32_t number) const {
  if (number >= page_count_) {
    throwBadFormat(path_, "la página " + std::to_string(number) +
                              " está fuera del archivo (tiene " + std::to_string(page_count_) +
                              " páginas)");
  }
  const uint8_t* bytes = slots_[number].bytes ? slots_[number].bytes.get() : load(number);
  touch(number);
  return ByteView(bytes, page_size_);
}

void PageSource::releaseReadPages() const {
  for (Slot& s : slots_) s.flags &= static_cast<uint8_t>(~kHeld);
  evictClean(0);
}

void PageSource::setPage(uint32_t number, std::vector<uint8_t> bytes) {
  ++change_count_;
  if (number >= page_count_ || bytes.size() != page_size_) return;
  drop(number);
  Slot& s = slots_[number];
  s.bytes = std::make_unique<uint8_t[]>(page_size_);
  std::memcpy(s.bytes.get(), bytes.data(), page_size_);
  s.flags |= kKept;
}

// ---------------------------------------------------------------------------
// The cache's limit

PageSource::Scope::Scope(const PageSource& src) : src_(const_cast<PageSource*>(&src)) {
  // A read-only caller's scope: it pins, and may drop clean pages, both of
  // which only the cache's own bookkeeping sees.
  src_->openScope(false);
}

PageSource::Scope::Scope(PageSource& src) : src_(&src) {
  src_->openScope(true);
}

PageSource::Scope::~Scope() {
  src_->closeScope();
}

void PageSource::openScope(bool may_write) {
  settle(may_write);  // before the scope pins anything: it may throw
  scopes_.push_back({++scopes_opened_, pinned_.size()});
}

void PageSource::closeScope() {
  const size_t mark = scopes_.back().mark;
  for (size_t i = mark; i < pinned_.size(); ++i) {
    if (pinned_[i] < slots_.size() && slots_[pinned_[i]].pins > 0) --slots_[pinned_[i]].pins;
  }
  pinned_.resize(mark);
  scopes_.pop_back();
}

void PageSource::evictClean(size_t target) const {
  if (resident_ + originals_.size() <= target) return;
  std::vector<std::pair<uint32_t, uint32_t>> clean;  // last use, page
  for (uint32_t n = 1; n < slots_.size(); ++n) {
    const Slot& s = slots_[n];
    if (s.bytes && s.pins == 0 && !(s.flags & (kHeld | kKept | kDirty)))
      clean.emplace_back(s.used, n);
  }
  const size_t over = resident_ + originals_.size() - target;
  if (clean.size() > over) {
    std::nth_element(clean.begin(), clean.begin() + static_cast<std::ptrdiff_t>(over), clean.end());
    clean.resize(over);
  }
  for (const auto& entry : clean) drop(entry.second);
}

void PageSource::settle(bool may_write) {
  if (limit_ == 0 || resident_ + originals_.size() <= limit_) return;
  // Down to three quarters, so that the next pages read do not each drop one.
  const size_t target = limit_ - limit_ / 4;
  evictClean(target);
  if (!may_write || !in_unit_ || resident_ + originals_.size() <= limit_) return;
  try {
    spill();
  } catch (...) {
    try {
      rollbackUnit();
    } catch (...) {
      // The journal stays: the next open puts the file back.
    }
    unit_failed_ = true;
    throw;
  }
  evictClean(target);
}

void PageSource::spill() {
  std::vector<std::pair<uint32_t, uint32_t>> dirty;  // last use, page
  for (uint32_t n : changed_) {
    const Slot& s = slots_[n];
    if ((s.flags & kDirty) && s.pins == 0 && !(s.flags & kHeld)) dirty.emplace_back(s.used, n);
  }
  // The most recently used stay: they are the likeliest to change again.
  const size_t stay = std::min(dirty.size(), limit_ / 8);
  std::nth_element(dirty.begin(), dirty.end() - static_cast<std::ptrdiff_t>(stay), dirty.end());
  dirty.resize(dirty.size() - stay);
  if (dirty.empty()) return;
  std::vector<uint32_t> pages;
  for (const auto& entry : dirty) pages.push_back(entry.second);
  std::sort(pages.begin(), pages.end());
  writePages(pages);
  // Durable before the journal is written again: a later batch, or its end.
  if (!file_->sync()) throw JetError(Msg::kCannotWrite, path_);
  spilled_pages_ += pages.size();
  ++spills_;
}

void PageSource::writePages(const std::vector<uint32_t>& pages) {
  std::vector<JournalRecord> records;
  records.reserve(pages.size());
  for (uint32_t n : pages) {
    const Slot& s = slots_[n];
    JournalRecord r{n, nullptr, sectorCrcs(s.bytes.get(), page_size_)};
    if (!(s.flags & kInJournal)) r.original = originals_.at(n).data();
    records.push_back(std::move(r));
  }
  if (!journaled_) journal_.begin(page_size_, file_size_, firstPageCrc());
  journal_.append(records);
  journaled_ = true;
  for (uint32_t n : pages) {
    slots_[n].flags |= kInJournal;
    originals_.erase(n);
  }
  std::vector<uint8_t> run;
  for (size_t i = 0; i < pages.size();) {
    size_t j = i + 1;
    while (j < pages.size() && j - i < kWriteRun && pages[j] == pages[j - 1] + 1) ++j;
    const uint8_t* from = slots_[pages[i]].bytes.get();
    if (j - i > 1) {
      run.resize((j - i) * page_size_);
      for (size_t k = i; k < j; ++k) {
        std::memcpy(run.data() + (k - i) * page_size_, slots_[pages[k]].bytes.get(), page_size_);
      }
      from = run.data();
    }
    const uint64_t at = uint64_t{pages[i]} * page_size_;
    if (!file_->write(at, from, (j - i) * page_size_)) throw JetError(Msg::kCannotWrite, path_);
    for (size_t k = i; k < j; ++k) slots_[pages[k]].flags &= static_cast<uint8_t>(~kDirty);
    written_end_ = std::max(written_end_, at + (j - i) * page_size_);
    i = j;
  }
}

// ---------------------------------------------------------------------------
// Units of work

void PageSource::beginUnit() {
  if (in_unit_) throw std::logic_error("unit of work already open");
  if (!writable()) {
    throw JetError(Msg::kReadOnlyDatabase, path_);
  }
  takeWriteLock();
  if (has_read_through_ || currentIdentity() != identity_) {
    // Another program wrote the file since it was read (or was writing it
    // then): what is cached may be stale.
    endOfUnitLock();
    throw JetError(Msg::kChangedByOther, path_);
  }
  in_unit_ = true;
  unit_failed_ = false;
  journaled_ = false;
  written_end_ = 0;
  unit_page_count_ = page_count_;
}

void PageSource::takeWriteLock() {
  if (lock_.held()) return;
  if (!lock_.tryAcquire(real_path_)) throw JetError(Msg::kFileInUse, path_);
  try {
    if (journal_.exists()) recoverJournal();  // its writer died
  } catch (...) {
    lock_.release();
    throw;
  }
}

void PageSource::endOfUnitLock() {
  if (lock_holds_ == 0) lock_.release();
}

void PageSource::holdWriteLock() {
  if (!writable()) throw JetError(Msg::kReadOnlyDatabase, path_);
  takeWriteLock();
  ++lock_holds_;
}

void PageSource::releaseWriteLock() {
  if (lock_holds_ > 0) --lock_holds_;
  if (!in_unit_) endOfUnitLock();
}

uint32_t PageSource::appendPage() {
  if (!in_unit_) throw std::logic_error("page added outside a unit of work");
  if (page_count_ >= 0x00FFFFFF) {
    throw JetError(Msg::kCannotExtend, path_);
  }
  const uint32_t number = page_count_++;
  slots_.resize(page_count_);
  slots_[number].bytes = std::make_unique<uint8_t[]>(page_size_);  // zero-filled
  if (journaled_beyond_.count(number)) {
    slots_[number].flags |= kSaved | kInJournal;
    changed_.push_back(number);
  }
  ++resident_;
  peak_resident_ = std::max(peak_resident_, resident_);
  writablePage(number);  // listed with the unit's pages, so the commit writes it
  return number;
}

// Forgets the pages from `count` on (added by the unit), journal entries included.
void PageSource::dropPagesFrom(uint32_t count) {
  ++change_count_;
  if (count >= page_count_) return;
  for (uint32_t n = count; n < page_count_; ++n) {
    originals_.erase(n);
    at_savepoint_.erase(n);
    // Its original (zeros) is in the journal already if a spill wrote it:
    // the same number added again is not journaled twice.
    if (slots_[n].flags & kInJournal) journaled_beyond_.insert(n);
    drop(n);
  }
  page_count_ = count;
  slots_.resize(page_count_);
  changed_.erase(
      std::remove_if(changed_.begin(), changed_.end(), [&](uint32_t n) { return n >= count; }),
      changed_.end());
}

uint8_t* PageSource::writablePage(uint32_t number) {
  ++change_count_;
  if (!in_unit_) throw std::logic_error("page change outside a unit of work");
  if (number == 0) throw std::logic_error("the header page is never changed in place");
  ByteView current = page(number);
  Slot& s = slots_[number];
  if (!(s.flags & kSaved)) {
    originals_.emplace(number, std::vector<uint8_t>(current.data(), current.data() + page_size_));
    s.flags |= kSaved;
    changed_.push_back(number);
  }
  if (savepoint_set_ && !(s.flags & kAtSavepoint)) {
    at_savepoint_.emplace(number,
                          std::vector<uint8_t>(current.data(), current.data() + page_size_));
    s.flags |= kAtSavepoint;
  }
  s.flags |= kDirty;
  return s.bytes.get();
}

void PageSource::savepoint() {
  if (!in_unit_) throw std::logic_error("savepoint outside a unit of work");
  clearSavepoint();
  savepoint_set_ = true;
  savepoint_page_count_ = page_count_;
}

void PageSource::rollbackToSavepoint() {
  ++change_count_;
  if (!in_unit_ && unit_failed_) return;  // the whole unit is taken back already
  if (!in_unit_ || !savepoint_set_) throw std::logic_error("no savepoint to go back to");
  dropPagesFrom(savepoint_page_count_);
  for (const auto& [number, bytes] : at_savepoint_) {
    Slot& s = slots_[number];
    if (!s.bytes) {  // written by a spill since, and dropped
      s.bytes = std::make_unique<uint8_t[]>(page_size_);
      ++resident_;
      peak_resident_ = std::max(peak_resident_, resident_);
    }
    std::memcpy(s.bytes.get(), bytes.data(), page_size_);
    s.flags |= kDirty;
  }
  clearSavepoint();
  savepoint_set_ = true;
}

void PageSource::clearSavepoint() {
  for (const auto& entry : at_savepoint_) {
    if (entry.first < slots_.size())
      slots_[entry.first].flags &= static_cast<uint8_t>(~kAtSavepoint);
  }
  at_savepoint_.clear();
  savepoint_set_ = false;
}

void PageSource::commitUnit() {
  if (!in_unit_) {
    if (unit_failed_) {
      unit_failed_ = false;
      throw JetError(Msg::kCannotWrite, path_);
    }
    throw std::logic_error("no unit of work to commit");
  }
  if (changed_.empty()) {
    clearSavepoint();
    in_unit_ = false;
    endOfUnitLock();
    return;
  }
  std::vector<uint32_t> pages;
  for (uint32_t n : changed_) {
    if (slots_[n].flags & kDirty) pages.push_back(n);
  }
  std::sort(pages.begin(), pages.end());
  const uint64_t size = std::max(file_size_, uint64_t{page_count_} * page_size_);
  try {
    writePages(pages);
    // Pages a spill added and a savepoint took back lie past the end.
    if (written_end_ > size && !file_->truncate(size)) throw JetError(Msg::kCannotWrite, path_);
    if (!file_->sync()) {
      throw JetError(Msg::kCannotWrite, path_);
    }
    // A journal left as it is would undo the unit at the next open: when
    // it can be neither removed nor marked as ended, the unit fails too.
    journal_.retire();
  } catch (...) {
    try {
      rollbackUnit();
    } catch (...) {
      // The journal stays: the next open puts the file back.
    }
    throw;
  }
  identity_ = currentIdentity();
  file_size_ = size;
  endUnit();
}

void PageSource::endUnit() {
  for (uint32_t n : changed_) {
    slots_[n].flags &= static_cast<uint8_t>(~(kDirty | kSaved | kInJournal));
  }
  changed_.clear();
  originals_.clear();
  journaled_beyond_.clear();
  clearSavepoint();
  in_unit_ = false;
  endOfUnitLock();
}

void PageSource::putBackFromJournal() {
  journal_.playBack(*file_, journal_.unit(),
                    [&](uint32_t number, const uint8_t* bytes, bool in_file) {
                      if (number >= slots_.size()) return;
                      Slot& s = slots_[number];
                      s.flags &= static_cast<uint8_t>(~kDirty);
                      if (s.flags & kKept) return;
                      if (!s.bytes && !in_file) {
                        // The file lacks it until the journal is played back: kept here, as
                        // a reader keeps a hot journal's pages.
                        s.bytes = std::make_unique<uint8_t[]>(page_size_);
                        s.flags |= kKept;
                      }
                      // The cached copy in place: a view of it may be held.
                      if (s.bytes) std::memcpy(s.bytes.get(), bytes, page_size_);
                    });
  journal_.retire();
}

void PageSource::rollbackUnit() {
  ++change_count_;
  if (!in_unit_) return;
  dropPagesFrom(unit_page_count_);
  for (const auto& [number, original] : originals_) {
    Slot& s = slots_[number];
    if (s.bytes) std::memcpy(s.bytes.get(), original.data(), page_size_);
  }
  if (journaled_) {
    journaled_ = false;
    try {
      putBackFromJournal();
      // The file is as this program left it, though its time moved: not
      // another program's change.
      identity_ = currentIdentity();
    } catch (...) {
      // The journal stays for the next open; the cache holds the pages as
      // they were before the unit as far as the journal could be read.
      endUnit();
      throw;
    }
  }
  endUnit();
}

}  // namespace jet
