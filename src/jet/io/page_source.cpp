#include "io/page_source.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "jet/error.h"

namespace jet {

namespace {

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
  file_size_ = read_through_ ? read_through_->file_size : identity_.size;
}

PageSource::~PageSource() {
  if (in_unit_) rollbackUnit();
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
  journal_.removeUnfinished();
  std::optional<JournalContents> j = journal_.read();
  if (j) {
    journal_.checkBelongsTo(*file_, *j, true);
    journal_.playBack(*file_, *j);
  }
  journal_.retire();
}

// Without the write lock: the file as the journal says it was, untouched;
// a journal being written now is under its temporary name and is ignored.
void PageSource::readThroughJournal() {
  std::optional<JournalContents> j = journal_.read();
  if (j) journal_.checkBelongsTo(*file_, *j, false);
  read_through_ = std::move(j);
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
  if (read_through_) {
    auto it = read_through_->pages.find(0);
    if (it != read_through_->pages.end()) {
      std::memcpy(out.data(), it->second.data(), std::min(count, it->second.size()));
    }
  }
  return out;
}

void PageSource::setPageSize(size_t page_size) {
  page_size_ = page_size;
  uint64_t pages = file_size_ / page_size;
  if (pages > 0x00FFFFFF) pages = 0x00FFFFFF;  // row pointers hold 24-bit page numbers
  page_count_ = static_cast<uint32_t>(pages);
  cache_.clear();
  cache_.resize(page_count_);
  read_.clear();
  if (read_through_ && read_through_->page_size == page_size) {
    for (const auto& [number, bytes] : read_through_->pages) {
      if (number > 0 && number < page_count_) setPage(number, bytes);
    }
  }
}

ByteView PageSource::page(uint32_t number) const {
  if (number >= page_count_) {
    throwBadFormat(path_, "la página " + std::to_string(number) +
                              " está fuera del archivo (tiene " + std::to_string(page_count_) +
                              " páginas)");
  }
  auto& slot = cache_[number];
  if (!slot) {
    auto buf = std::make_unique<uint8_t[]>(page_size_);
    if (!file_->read(uint64_t{number} * page_size_, buf.get(), page_size_)) {
      throwBadFormat(path_, "no se puede leer la página " + std::to_string(number));
    }
    slot = std::move(buf);
    read_.push_back(number);
    peak_read_ = std::max(peak_read_, read_.size());
  }
  return ByteView(slot.get(), page_size_);
}

void PageSource::releaseReadPages() const {
  if (in_unit_) return;
  for (uint32_t number : read_) {
    if (number >= cache_.size()) continue;  // dropped with the pages a unit added
    cache_[number].reset();
  }
  read_.clear();
}

void PageSource::setPage(uint32_t number, std::vector<uint8_t> bytes) {
  if (number >= page_count_ || bytes.size() != page_size_) return;
  auto buf = std::make_unique<uint8_t[]>(page_size_);
  std::memcpy(buf.get(), bytes.data(), page_size_);
  cache_[number] = std::move(buf);
}

void PageSource::beginUnit() {
  if (in_unit_) throw std::logic_error("unit of work already open");
  if (!writable()) {
    throw JetError(Msg::kReadOnlyDatabase, path_);
  }
  takeWriteLock();
  if (read_through_ || currentIdentity() != identity_) {
    // Another program wrote the file since it was read (or was writing it
    // then): what is cached may be stale.
    endOfUnitLock();
    throw JetError(Msg::kChangedByOther, path_);
  }
  in_unit_ = true;
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
  cache_.resize(page_count_);
  cache_[number] = std::make_unique<uint8_t[]>(page_size_);  // zero-filled
  writablePage(number);  // listed with the unit's pages, so the commit writes it
  return number;
}

// Forgets the pages from `count` on (added by the unit), journal entries included.
void PageSource::dropPagesFrom(uint32_t count) {
  for (uint32_t n = count; n < page_count_; ++n) {
    originals_.erase(n);
    at_savepoint_.erase(n);
    if (n < in_journal_.size()) in_journal_[n] = false;
    if (n < in_savepoint_.size()) in_savepoint_[n] = false;
  }
  if (count < page_count_) {
    page_count_ = count;
    cache_.resize(page_count_);
  }
}

uint8_t* PageSource::writablePage(uint32_t number) {
  if (!in_unit_) throw std::logic_error("page change outside a unit of work");
  if (number == 0) throw std::logic_error("the header page is never changed in place");
  ByteView current = page(number);
  if (number >= in_journal_.size()) in_journal_.resize(page_count_, false);
  if (!in_journal_[number]) {
    originals_.emplace(number, std::vector<uint8_t>(current.data(), current.data() + page_size_));
    in_journal_[number] = true;
  }
  if (savepoint_set_) {
    if (number >= in_savepoint_.size()) in_savepoint_.resize(page_count_, false);
    if (!in_savepoint_[number]) {
      at_savepoint_.emplace(number,
                            std::vector<uint8_t>(current.data(), current.data() + page_size_));
      in_savepoint_[number] = true;
    }
  }
  return cache_[number].get();
}

void PageSource::savepoint() {
  if (!in_unit_) throw std::logic_error("savepoint outside a unit of work");
  clearSavepoint();
  savepoint_set_ = true;
  savepoint_page_count_ = page_count_;
}

void PageSource::rollbackToSavepoint() {
  if (!in_unit_ || !savepoint_set_) throw std::logic_error("no savepoint to go back to");
  dropPagesFrom(savepoint_page_count_);
  for (const auto& [number, bytes] : at_savepoint_) {
    std::memcpy(cache_[number].get(), bytes.data(), page_size_);
  }
  clearSavepoint();
  savepoint_set_ = true;
}

void PageSource::clearSavepoint() {
  for (const auto& entry : at_savepoint_) in_savepoint_[entry.first] = false;
  at_savepoint_.clear();
  savepoint_set_ = false;
}

// The unit's pages as it left them, in page order.
void PageSource::writeChangedPages(const std::map<uint32_t, std::vector<uint8_t>>& pages) {
  for (const auto& entry : pages) {
    const uint32_t number = entry.first;
    if (!file_->write(uint64_t{number} * page_size_, cache_[number].get(), page_size_)) {
      throw JetError(Msg::kCannotWrite, path_);
    }
  }
}

void PageSource::commitUnit() {
  if (!in_unit_) throw std::logic_error("no unit of work to commit");
  if (originals_.empty()) {
    clearSavepoint();
    in_unit_ = false;
    endOfUnitLock();
    return;
  }
  // The journal takes the original pages for the time of the commit, and
  // gives them back if the unit has to be rolled back.
  JournalContents j{page_size_, file_size_, 0, std::move(originals_), {}};
  originals_.clear();
  auto giveBack = [&] { originals_ = std::move(j.pages); };
  try {
    j.first_page_crc = firstPageCrc();
    for (const auto& entry : j.pages) {
      j.written_crc[entry.first] = sectorCrcs(cache_[entry.first].get(), page_size_);
    }
    journal_.write(j);
  } catch (...) {
    giveBack();
    rollbackUnit();
    throw;
  }
  try {
    writeChangedPages(j.pages);
    if (!file_->sync()) {
      throw JetError(Msg::kCannotWrite, path_);
    }
    // A journal left as it is would undo the unit at the next open: when
    // it can be neither removed nor marked as ended, the unit fails too.
    journal_.retire();
  } catch (...) {
    // Put the file back as it was; the journal stays if even that fails.
    try {
      journal_.playBack(*file_, j);
      journal_.retire();
      // The file is as this program left it, though its time moved: not
      // another program's change.
      identity_ = currentIdentity();
    } catch (...) {
    }
    giveBack();
    rollbackUnit();
    throw;
  }
  forgetJournaled(j.pages);
  clearSavepoint();
  identity_ = currentIdentity();
  file_size_ = std::max(file_size_, uint64_t{page_count_} * page_size_);
  in_unit_ = false;
  endOfUnitLock();
}

void PageSource::forgetJournaled(const std::map<uint32_t, std::vector<uint8_t>>& pages) {
  for (const auto& entry : pages) {
    if (entry.first < in_journal_.size()) in_journal_[entry.first] = false;
  }
}

void PageSource::rollbackUnit() {
  dropPagesFrom(unit_page_count_);
  for (const auto& [number, original] : originals_) {
    std::memcpy(cache_[number].get(), original.data(), page_size_);
  }
  forgetJournaled(originals_);
  originals_.clear();
  clearSavepoint();
  in_unit_ = false;
  endOfUnitLock();
}

}  // namespace jet
