// Reads the file's pages by number. The only way the engine reaches the
// file's bytes: every page is read whole, checked against the file's size,
// and kept for as long as the source lives.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "bytes.h"

namespace jet {

class PageSource {
 public:
  // Opens the file read-only. Throws JetError 3024 when it does not exist,
  // 3051 when it cannot be opened.
  explicit PageSource(std::string path);
  ~PageSource();
  PageSource(const PageSource&) = delete;
  PageSource& operator=(const PageSource&) = delete;

  const std::string& path() const { return path_; }
  uint64_t fileSize() const { return file_size_; }

  // Reads `count` bytes at the start of the file (for the header).
  std::vector<uint8_t> readPrefix(size_t count) const;

  // Fixes the page size once the header has been read.
  void setPageSize(size_t page_size);
  size_t pageSize() const { return page_size_; }
  uint32_t pageCount() const { return page_count_; }

  // The whole page. Throws a format error when the page lies outside the file.
  ByteView page(uint32_t number) const;

  // Replaces the cached copy of a page (page 0 is kept unmasked).
  void setPage(uint32_t number, std::vector<uint8_t> bytes);

 private:
  std::string path_;
  int fd_ = -1;
  uint64_t file_size_ = 0;
  size_t page_size_ = 0;
  uint32_t page_count_ = 0;
  mutable std::vector<std::unique_ptr<uint8_t[]>> cache_;
};

}  // namespace jet
