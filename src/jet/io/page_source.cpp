#include "io/page_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "jet/error.h"

namespace jet {

namespace {

bool readFully(int fd, uint8_t* out, size_t count, uint64_t offset) {
  while (count > 0) {
    ssize_t got = ::pread(fd, out, count, static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    out += got;
    count -= static_cast<size_t>(got);
    offset += static_cast<uint64_t>(got);
  }
  return true;
}

bool writeFully(int fd, const uint8_t* data, size_t count, uint64_t offset) {
  while (count > 0) {
    ssize_t put = ::pwrite(fd, data, count, static_cast<off_t>(offset));
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    data += put;
    count -= static_cast<size_t>(put);
    offset += static_cast<uint64_t>(put);
  }
  return true;
}

}  // namespace

PageSource::PageSource(std::string path, OpenMode mode) : path_(std::move(path)), mode_(mode) {
  int flags = (mode == OpenMode::ReadWrite ? O_RDWR : O_RDONLY) | O_CLOEXEC;
  fd_ = ::open(path_.c_str(), flags);
  if (fd_ < 0) {
    if (errno == ENOENT || errno == ENOTDIR) throw JetError(Msg::kFileNotFound, path_);
    throw JetError(Msg::kCannotOpen, path_);
  }
  struct stat st {};
  if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd_);
    fd_ = -1;
    throw JetError(Msg::kCannotOpen, path_);
  }
  recoverJournal();
  identity_ = currentIdentity();
  file_size_ = read_through_ ? read_through_->file_size : identity_.size;
}

PageSource::~PageSource() {
  if (in_unit_) rollbackUnit();
  if (fd_ >= 0) ::close(fd_);
}

PageSource::Identity PageSource::currentIdentity() const {
  struct stat st {};
  if (::fstat(fd_, &st) != 0) return {};
  return {static_cast<uint64_t>(st.st_size),
          static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

void PageSource::recoverJournal() {
  std::optional<JournalContents> j = readJournal(path_);
  if (mode_ == OpenMode::ReadOnly) {
    read_through_ = std::move(j);
    return;
  }
  if (!j) {
    // None, or one cut short before the file was touched.
    if (::access(journalPath(path_).c_str(), F_OK) == 0) removeJournal(path_);
    return;
  }
  page_size_ = j->page_size;
  writePages(j->pages, false);
  if (::ftruncate(fd_, static_cast<off_t>(j->file_size)) != 0 || ::fsync(fd_) != 0) {
    throw JetError(Msg::kCannotOpen, path_);
  }
  removeJournal(path_);
  page_size_ = 0;
}

std::vector<uint8_t> PageSource::readPrefix(size_t count) const {
  if (file_size_ < count) count = static_cast<size_t>(file_size_);
  std::vector<uint8_t> out(count);
  if (!readFully(fd_, out.data(), count, 0)) throw JetError(Msg::kCannotOpen, path_);
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
  if (read_through_ && read_through_->page_size == page_size) {
    for (const auto& [number, bytes] : read_through_->pages) {
      if (number > 0 && number < page_count_) setPage(number, bytes);
    }
  }
}

ByteView PageSource::page(uint32_t number) const {
  if (number >= page_count_) {
    throwBadFormat(path_, "la página " + std::to_string(number) + " está fuera del archivo (tiene " +
                              std::to_string(page_count_) + " páginas)");
  }
  auto& slot = cache_[number];
  if (!slot) {
    auto buf = std::make_unique<uint8_t[]>(page_size_);
    if (!readFully(fd_, buf.get(), page_size_, uint64_t{number} * page_size_)) {
      throwBadFormat(path_, "no se puede leer la página " + std::to_string(number));
    }
    slot = std::move(buf);
  }
  return ByteView(slot.get(), page_size_);
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
  if (currentIdentity() != identity_) {
    throw JetError(Msg::kChangedByOther, path_);
  }
  lock_.acquire(path_);
  in_unit_ = true;
  unit_page_count_ = page_count_;
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

void PageSource::writePages(const std::map<uint32_t, std::vector<uint8_t>>& pages, bool from_cache) {
  for (const auto& [number, original] : pages) {
    const uint8_t* data = from_cache ? cache_[number].get() : original.data();
    if (!writeFully(fd_, data, page_size_, uint64_t{number} * page_size_)) {
      throw JetError(Msg::kCannotWrite, path_);
    }
  }
}

void PageSource::commitUnit() {
  if (!in_unit_) throw std::logic_error("no unit of work to commit");
  if (originals_.empty()) {
    clearSavepoint();
    in_unit_ = false;
    return;
  }
  // The journal takes the original pages for the time of the commit, and
  // gives them back if the unit has to be rolled back.
  JournalContents j{page_size_, file_size_, std::move(originals_)};
  originals_.clear();
  auto giveBack = [&] { originals_ = std::move(j.pages); };
  try {
    writeJournal(path_, j);
  } catch (...) {
    giveBack();
    rollbackUnit();
    throw;
  }
  try {
    writePages(j.pages, true);
    if (::fdatasync(fd_) != 0) {
      throw JetError(Msg::kCannotWrite, path_);
    }
  } catch (...) {
    // Put the file back as it was; the journal stays if even that fails.
    try {
      writePages(j.pages, false);
      if (::ftruncate(fd_, static_cast<off_t>(file_size_)) == 0 && ::fdatasync(fd_) == 0) {
        removeJournal(path_);
      }
    } catch (...) {
    }
    giveBack();
    rollbackUnit();
    throw;
  }
  removeJournal(path_);
  forgetJournaled(j.pages);
  clearSavepoint();
  identity_ = currentIdentity();
  file_size_ = std::max(file_size_, uint64_t{page_count_} * page_size_);
  in_unit_ = false;
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
}

}  // namespace jet
