#include "index/index_delete.h"

#include <algorithm>
#include <cstring>

#include "index/index_tree_edit.h"
#include "jet/error.h"

namespace jet {

namespace {

constexpr size_t kLengthBytes = 2;
constexpr size_t kPointerBytes = 4;

uint16_t keyLength(const uint8_t* at) {
  uint16_t n;
  std::memcpy(&n, at, kLengthBytes);
  return n;
}

uint32_t pointerAfter(const uint8_t* at, uint16_t length) {
  uint32_t p;
  std::memcpy(&p, at + kLengthBytes + length, kPointerBytes);
  return p;
}

}  // namespace

void EntryBatch::add(const std::vector<uint8_t>& key, RowId row) {
  // Index keys are far shorter than a page; a longer one is no key a page holds.
  const auto length = static_cast<uint16_t>(std::min<size_t>(key.size(), 0xFFFF));
  starts_.push_back(static_cast<uint32_t>(bytes_.size()));
  const size_t at = bytes_.size();
  bytes_.resize(at + kLengthBytes + length + kPointerBytes);
  std::memcpy(bytes_.data() + at, &length, kLengthBytes);
  std::memcpy(bytes_.data() + at + kLengthBytes, key.data(), length);
  const uint32_t pointer = row.toPointer();
  std::memcpy(bytes_.data() + at + kLengthBytes + length, &pointer, kPointerBytes);
}

void EntryBatch::sort() {
  const uint8_t* base = bytes_.data();
  std::sort(starts_.begin(), starts_.end(), [base](uint32_t a, uint32_t b) {
    const uint8_t* x = base + a;
    const uint8_t* y = base + b;
    const uint16_t nx = keyLength(x), ny = keyLength(y);
    const int c = std::memcmp(x + kLengthBytes, y + kLengthBytes, std::min(nx, ny));
    if (c != 0) return c < 0;
    if (nx != ny) return nx < ny;  // a key that is a prefix of another comes first
    return pointerAfter(x, nx) < pointerAfter(y, ny);  // the row's page, then its number
  });
}

IndexEntry EntryBatch::at(size_t i) const {
  const uint8_t* p = bytes_.data() + starts_[i];
  const uint16_t n = keyLength(p);
  IndexEntry e;
  e.key.assign(p + kLengthBytes, p + kLengthBytes + n);
  e.row = RowId::fromPointer(pointerAfter(p, n));
  return e;
}

void EntryBatch::clear() {
  std::vector<uint8_t>().swap(bytes_);
  std::vector<uint32_t>().swap(starts_);
}

IndexEntryRemover::IndexEntryRemover(const PageSource& pages, const Format& fmt,
                                     const TableDef& def, const RealIndex& index)
    : fmt_(&fmt),
      def_(&def),
      index_(&index),
      encoder_(fmt, def, index, readSortOrders(pages, fmt, def)) {}

void IndexEntryRemover::remove(PageSource& pages, const std::vector<Value>& values, RowId row) {
  // Access keeps no entry for a row whose indexed values are all null when
  // the index ignores nulls.
  if ((index_->flags & RealIndex::kIgnoreNulls) && encoder_.allNull(values)) return;
  KeyResult key = encoder_.encode(values);
  removeKey(pages, key.ok() ? &key.bytes : nullptr, row);
}

bool IndexEntryRemover::setAside(const std::vector<Value>& values, RowId row,
                                 EntryBatch& batch) const {
  if ((index_->flags & RealIndex::kIgnoreNulls) && encoder_.allNull(values)) return true;
  KeyResult key = encoder_.encode(values);
  if (!key.ok()) return false;
  batch.add(key.bytes, row);
  return true;
}

void IndexEntryRemover::removeAll(PageSource& pages, EntryBatch& batch) {
  batch.sort();
  for (size_t i = 0; i < batch.size(); ++i) {
    // One entry at a time, so that the cache may write and drop the leaves
    // done with: an index of a large table does not fit in memory.
    const PageSource::Scope scope(pages);
    IndexEntry e = batch.at(i);
    removeKey(pages, &e.key, e.row);
  }
  batch.clear();
}

void IndexEntryRemover::removeKey(PageSource& pages, std::vector<uint8_t>* key, RowId row) {
  IndexTreeEditor editor(pages, *fmt_, index_->root_page, def_->page, index_->used_map);
  if (key) {
    IndexEntry target;
    target.key = std::move(*key);
    target.row = row;
    if (editor.removeEntry(target, &hint_)) return;
  }
  hint_ = {};
  // A key the encoder cannot build, or one the index stores otherwise: the
  // entry is the one that points at the row.
  if (!row_leaves_read_) {
    row_leaves_ = editor.rowLeaves();
    std::sort(row_leaves_.begin(), row_leaves_.end());
    row_leaves_read_ = true;
  }
  const uint32_t pointer = row.toPointer();
  const auto at = std::lower_bound(row_leaves_.begin(), row_leaves_.end(),
                                   std::pair<uint32_t, uint32_t>{pointer, 0});
  if (at != row_leaves_.end() && at->first == pointer && editor.removeRowFrom(at->second, row)) {
    return;
  }
  if (editor.removeRow(row)) return;
  throwBadFormat(pages.path(), "el índice con raíz en la página " +
                                   std::to_string(index_->root_page) + " de la tabla '" +
                                   def_->name + "' no tiene la entrada de la fila " +
                                   std::to_string(row.page) + ":" + std::to_string(row.row));
}

void removeIndexEntry(PageSource& pages, const Format& fmt, const TableDef& def,
                      const RealIndex& index, const std::vector<Value>& values, RowId row) {
  IndexEntryRemover(pages, fmt, def, index).remove(pages, values, row);
}

}  // namespace jet
