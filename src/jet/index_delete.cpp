#include "index_delete.h"

#include "error.h"

namespace jet {

void removeIndexEntry(PageSource& pages, const Format&, const TableDef& def, const RealIndex&,
                      const std::vector<Value>&, RowId) {
  throw JetError(err::kReadOnly, "No se puede actualizar la tabla '" + def.name + "' de '" +
                                     pages.path() + "': sus índices todavía no se pueden modificar.");
}

}  // namespace jet
