#include "delete_plan.h"

#include <set>

#include "format/text_codec.h"
#include "index/index_lookup.h"
#include "jet/database.h"
#include "jet/error.h"
#include "relationships.h"

namespace jet {

namespace {

class Planner {
 public:
  explicit Planner(const Database& db) : db_(db) {}

  void visit(const Table& table, RowId row) {
    if (!seen_.insert({table.def().page, row.toPointer()}).second) return;
    for (const Relationship& rel : db_.relationships()) {
      if (!rel.enforced() || !equalsIgnoreCase(rel.referenced_table, table.name())) continue;
      for (RowId related : relatedRows(rel, table, row)) {
        Table child = db_.table(rel.table);
        if (seen_.count({child.def().page, related.toPointer()})) continue;
        if (!rel.cascadesDeletes()) {
          throw JetError(Msg::kRelatedRecords, child.name());
        }
        visit(child, related);
      }
    }
    steps_.push_back({&table.def(), row});
  }

  std::vector<DeleteStep> steps() && { return std::move(steps_); }

 private:
  // The rows of the referring table whose columns equal the row's referenced columns.
  std::vector<RowId> relatedRows(const Relationship& rel, const Table& table, RowId row) {
    if (rel.columns.empty() || rel.columns.size() != rel.referenced_columns.size()) return {};
    Table child = db_.table(rel.table);
    std::vector<size_t> mine, theirs;
    for (size_t i = 0; i < rel.columns.size(); ++i) {
      auto m = table.def().findColumn(rel.referenced_columns[i]);
      auto t = child.def().findColumn(rel.columns[i]);
      if (!m || !t)
        throwBadFormat(db_.path(), "la relación '" + rel.name + "' nombra una columna inexistente");
      mine.push_back(*m);
      theirs.push_back(*t);
    }
    std::vector<Value> key;
    for (size_t m : mine) {
      key.push_back(table.read(row, m));
      if (key.back().isNull()) return {};  // a null refers to nothing
    }
    std::vector<RowId> out;
    for (RowId candidate : db_.lookup(child, theirs[0]).find(key[0])) {
      if (db_.isPendingDelete(candidate)) continue;  // already going
      bool all = true;
      for (size_t i = 1; i < theirs.size() && all; ++i) {
        all = equalityKey(child.read(candidate, theirs[i])) == equalityKey(key[i]);
      }
      if (all) out.push_back(candidate);
    }
    return out;
  }

  const Database& db_;
  std::set<std::pair<uint32_t, uint32_t>> seen_;
  std::vector<DeleteStep> steps_;
};

}  // namespace

std::vector<DeleteStep> planDelete(const Database& db, const Table& table, RowId row) {
  bool referenced = false;
  for (const Relationship& rel : db.relationships()) {
    referenced =
        referenced || (rel.enforced() && equalsIgnoreCase(rel.referenced_table, table.name()));
  }
  if (!referenced) return {{&table.def(), row}};  // no other row can depend on this one
  Planner p(db);
  p.visit(table, row);
  return std::move(p).steps();
}

}  // namespace jet
