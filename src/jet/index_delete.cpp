#include "index_delete.h"

#include "error.h"
#include "index_key.h"
#include "index_tree_edit.h"

namespace jet {

void removeIndexEntry(PageSource& pages, const Format& fmt, const TableDef& def,
                      const RealIndex& index, const std::vector<Value>& values, RowId row) {
  IndexKeyEncoder encoder(fmt, def, index, readSortOrders(pages, fmt, def));
  // Access keeps no entry for a row whose indexed values are all null when
  // the index ignores nulls.
  if ((index.flags & RealIndex::kIgnoreNulls) && encoder.allNull(values)) return;

  IndexTreeEditor editor(pages, fmt, index.root_page, def.page, index.used_map);
  const KeyResult key = encoder.encode(values);
  if (key.ok()) {
    IndexEntry target;
    target.key = key.bytes;
    target.row = row;
    if (editor.removeEntry(target)) return;
  }
  // A key the encoder cannot build, or one the index stores otherwise: the
  // entry is the one that points at the row.
  if (editor.removeRow(row)) return;
  throwBadFormat(pages.path(), "el índice con raíz en la página " +
                                   std::to_string(index.root_page) + " de la tabla '" + def.name +
                                   "' no tiene la entrada de la fila " + std::to_string(row.page) +
                                   ":" + std::to_string(row.row));
}

}  // namespace jet
