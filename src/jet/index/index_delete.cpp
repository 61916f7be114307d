#include "index/index_delete.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "index/index_tree_edit.h"
#include "jet/error.h"

namespace jet {

void EntryTally::add(const uint8_t* key, size_t size, uint32_t pointer) {
  // FNV-1a over the key, then the pointer, finished with a 64-bit mixer so
  // that sums of different sets of entries do not meet by accident.
  uint64_t h = 0xcbf29ce484222325ull;
  for (size_t i = 0; i < size; ++i) h = (h ^ key[i]) * 0x100000001b3ull;
  h ^= pointer;
  h ^= h >> 33;
  h *= 0xff51afd7ed558ccdull;
  h ^= h >> 33;
  h *= 0xc4ceb9fe1a85ec53ull;
  h ^= h >> 33;
  ++count;
  sum += h;
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

bool IndexEntryRemover::tally(const std::vector<Value>& values, RowId row,
                              EntryTally& expected) const {
  if ((index_->flags & RealIndex::kIgnoreNulls) && encoder_.allNull(values)) return true;
  KeyResult key = encoder_.encode(values);
  if (!key.ok()) return false;
  expected.add(key.bytes.data(), key.bytes.size(), row.toPointer());
  return true;
}

bool IndexEntryRemover::removeInLeaf(PageSource& pages, uint32_t& leaf, const RowMarks& rows,
                                     const std::vector<uint32_t>& untallied, EntryTally& removed) {
  const Format& fmt = *fmt_;
  const IndexPageView p(pages, fmt, leaf, def_->page);
  if (!p.ok || !p.leaf) return false;
  // The entries to remove: most on the leaf's bytes at once; the last, and
  // on a page sharing a prefix the first, the general way after them.
  std::vector<IndexPageView::Span> gone;
  std::vector<IndexEntry> general;
  std::vector<uint8_t> whole;
  EntryTally tally;
  for (IndexPageView::Span e = p.around(0); e.from < p.length; e = p.after(e)) {
    if (!p.valid(e)) return false;
    // The entry with its prefix restored: the key, then the row pointer.
    const size_t size = p.whole(e), head = p.head(e);
    whole.resize(size);
    std::memcpy(whole.data(), p.data, std::min(head, size));
    std::memcpy(whole.data() + head, p.data + e.from, size - head);
    const RowId row = getIndexRowPointer(whole.data() + size - kRowPointerSize);
    const uint32_t pointer = row.toPointer();
    if (!rows.has(pointer)) continue;
    if (!std::binary_search(untallied.begin(), untallied.end(), pointer)) {
      tally.add(whole.data(), size - kRowPointerSize, pointer);
    }
    if (e.to == p.length || (p.prefix > 0 && e.from == 0)) {
      IndexEntry entry;
      entry.key.assign(whole.begin(), whole.end() - kRowPointerSize);
      entry.row = row;
      general.push_back(std::move(entry));
    } else {
      gone.push_back(e);
    }
  }
  const uint32_t next = ByteView(p.bytes, fmt.page_size).u32(fmt.index_next);
  if (!gone.empty()) p.removeMany(fmt, gone, pages.writablePage(leaf));
  for (const IndexEntry& entry : general) {
    IndexTreeEditor editor(pages, fmt, index_->root_page, def_->page, index_->used_map);
    hint_ = {};
    if (!editor.removeEntry(entry)) missing(pages, entry.row);
  }
  removed.count += tally.count;
  removed.sum += tally.sum;
  leaf = next;
  return true;
}

void IndexEntryRemover::removeMarked(PageSource& pages, const RowMarks& rows,
                                     const std::vector<uint32_t>& untallied, EntryTally& removed) {
  const IndexWalker walker(pages, *fmt_, index_->root_page, def_->page);
  uint32_t leaf = 0;
  {
    const PageSource::Scope scope(pages);
    leaf = walker.firstLeaf();
  }
  // A leaf at a time, so that the cache may write and drop the leaves done
  // with. Removing entries never renumbers a leaf: the next one is read
  // before this one changes (it may be freed).
  for (uint32_t steps = 0; leaf != 0; ++steps) {
    if (steps > pages.pageCount()) {
      throwBadFormat(pages.path(), "el índice con raíz en la página " +
                                       std::to_string(index_->root_page) +
                                       " forma un ciclo de páginas hermanas");
    }
    const PageSource::Scope scope(pages);
    // A leaf the quick view cannot read goes the checked way, an entry at a
    // time, which tells damage from the unusual.
    if (removeInLeaf(pages, leaf, rows, untallied, removed)) continue;
    IndexPage page = walker.page(leaf);
    if (!page.leaf) {
      throwBadFormat(pages.path(),
                     "el índice con raíz en la página " + std::to_string(index_->root_page) +
                         " enlaza la página de nodo " + std::to_string(leaf) + " entre sus hojas");
    }
    const uint32_t next = page.next;
    hint_ = {leaf, 0};
    for (IndexEntry& e : page.entries) {
      const uint32_t pointer = e.row.toPointer();
      if (!rows.has(pointer)) continue;
      if (!std::binary_search(untallied.begin(), untallied.end(), pointer)) {
        removed.add(e.key.data(), e.key.size(), pointer);
      }
      IndexTreeEditor editor(pages, *fmt_, index_->root_page, def_->page, index_->used_map);
      if (!editor.removeEntry(e, &hint_)) missing(pages, e.row);
    }
    leaf = next;
  }
  hint_ = {};
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
  missing(pages, row);
}

void IndexEntryRemover::missing(const PageSource& pages, RowId row) const {
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
