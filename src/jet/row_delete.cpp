#include "row_delete.h"

#include <cstring>
#include <optional>

#include "delete_plan.h"
#include "format/data_page.h"
#include "format/long_value.h"
#include "format/row_layout.h"
#include "format/value_decoder.h"
#include "index/index_lookup.h"
#include "jet/error.h"
#include "row_read.h"

namespace jet {

namespace {

// A row's slot, or a slot it held a part in, left incoherent.
[[noreturn]] void throwBadSlots(const std::string& path, uint32_t page) {
  throwBadFormat(path,
                 "los huecos de filas de la página " + std::to_string(page) + " no son coherentes");
}

}  // namespace

RowDeleter::RowDeleter(Database& db, PageSource& pages, LookupCache& lookups)
    : db_(db), pages_(pages), lookups_(lookups) {}

void RowDeleter::deleteRow(const Table& table, RowId id) {
  db_.requireDeletable(table);
  const std::vector<DeleteStep> plan = planDelete(db_, table, id);
  // A relationship may cascade into a system table only in a damaged or
  // forged catalog; no row of one goes all the same.
  for (const DeleteStep& step : plan) db_.requireDeletable(Table(db_, *step.def));
  const bool own_unit = !db_.inUnit();
  if (own_unit) db_.begin();
  try {
    for (const DeleteStep& step : plan) deleteOne(*step.def, step.row);
  } catch (...) {
    if (own_unit) db_.rollback();
    throw;
  }
  if (own_unit) db_.commit();
}

void RowDeleter::forgetLeaves() {
  for (auto& [page, removers] : removers_) {
    for (IndexEntryRemover& r : removers) r.forgetLeaf();
  }
}

std::vector<IndexEntryRemover>& RowDeleter::removersOf(const TableDef& def) {
  auto removers = removers_.find(def.page);
  if (removers == removers_.end()) {
    std::vector<IndexEntryRemover> made;
    for (const RealIndex& index : def.real_indexes) {
      made.emplace_back(pages_, db_.format(), def, index);
    }
    removers = removers_.emplace(def.page, std::move(made)).first;
  }
  return removers->second;
}

void RowDeleter::deleteOne(const TableDef& def, RowId id) {
  Table table(db_, def);
  const Format& fmt = db_.format();
  // Everything the delete needs is read before the first page changes.
  const std::vector<uint8_t> bytes = [&] {
    ByteView b = table.rowBytes(id);
    return std::vector<uint8_t>(b.data(), b.data() + b.size());
  }();
  const uint16_t slot = DataPage(pages_, fmt, id.page).slot(id.row);
  // The values the indexes and the lookups of the table key on; the other
  // columns (a long memo, say) are not decoded.
  std::vector<bool> needed(def.columns.size(), false);
  for (const RealIndex& index : def.real_indexes) {
    for (const IndexColumn& ic : index.columns) {
      for (size_t i = 0; i < def.columns.size(); ++i) {
        if (def.columns[i].number == ic.column_number) needed[i] = true;
      }
    }
  }
  lookups_.markColumns(def.page, needed);
  std::vector<Value> values(def.columns.size());
  std::vector<RowId> freed;  // long-value rows and an overflow part
  guarded(
      db_.path(), [id] { return rowName(id); },
      [&] {
        RowLayout layout(ByteView(bytes.data(), bytes.size()), fmt, def.var_slots > 0);
        for (size_t i = 0; i < def.columns.size(); ++i) {
          if (needed[i]) values[i] = db_.decoder().decode(layout, def.columns[i]);
        }
        for (const Column& c : def.columns) {
          if (!c.isLongValue() || !layout.present(c)) continue;
          if (std::optional<ByteView> field = layout.variable(c)) {
            for (RowId r : longValueRows(pages_, fmt, *field)) freed.push_back(r);
          }
        }
        return 0;
      });
  if (slot & kSlotMoved) {
    ByteView pointer = DataPage(pages_, fmt, id.page).row(id.row);
    freed.push_back(RowId::fromPointer(pointer.u32(0)));
  }

  for (IndexEntryRemover& remover : removersOf(def)) remover.remove(pages_, values, id);
  for (RowId r : freed) {
    if (!deleteSlot(pages_.writablePage(r.page), fmt, r.row)) throwBadSlots(db_.path(), r.page);
  }
  if (!deleteSlot(pages_.writablePage(id.page), fmt, id.row)) throwBadSlots(db_.path(), id.page);
  uint8_t* tdef = pages_.writablePage(def.page);
  uint32_t rows;
  std::memcpy(&rows, tdef + fmt.tdef_row_count, 4);
  if (rows > 0) --rows;
  std::memcpy(tdef + fmt.tdef_row_count, &rows, 4);

  lookups_.forget(def.page, id, values);
}

}  // namespace jet
