#include "page_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "error.h"

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

}  // namespace

PageSource::PageSource(std::string path) : path_(std::move(path)) {
  fd_ = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) {
    if (errno == ENOENT || errno == ENOTDIR) throwFileNotFound(path_);
    throwCannotOpen(path_);
  }
  struct stat st {};
  if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd_);
    fd_ = -1;
    throwCannotOpen(path_);
  }
  file_size_ = static_cast<uint64_t>(st.st_size);
}

PageSource::~PageSource() {
  if (fd_ >= 0) ::close(fd_);
}

std::vector<uint8_t> PageSource::readPrefix(size_t count) const {
  if (file_size_ < count) count = static_cast<size_t>(file_size_);
  std::vector<uint8_t> out(count);
  if (!readFully(fd_, out.data(), count, 0)) throwCannotOpen(path_);
  return out;
}

void PageSource::setPageSize(size_t page_size) {
  page_size_ = page_size;
  uint64_t pages = file_size_ / page_size;
  if (pages > 0x00FFFFFF) pages = 0x00FFFFFF;  // row pointers hold 24-bit page numbers
  page_count_ = static_cast<uint32_t>(pages);
  cache_.clear();
  cache_.resize(page_count_);
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

}  // namespace jet
