#include "index/index_delete.h"

#include <algorithm>

#include "index/index_tree_edit.h"
#include "jet/error.h"

namespace jet {

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

  IndexTreeEditor editor(pages, *fmt_, index_->root_page, def_->page, index_->used_map);
  KeyResult key = encoder_.encode(values);
  if (key.ok()) {
    IndexEntry target;
    target.key = std::move(key.bytes);
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
