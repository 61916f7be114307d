#include "relationships.h"

#include <algorithm>
#include <map>

#include "jet/database.h"
#include "jet/error.h"

namespace jet {

std::vector<Relationship> readRelationships(const Database& db) {
  std::vector<Relationship> out;
  if (!db.hasTable("MSysRelationships")) return out;
  Table t = db.table("MSysRelationships");
  auto col = [&](const char* name) {
    auto i = t.def().findColumn(name);
    if (!i)
      throwBadFormat(db.path(), std::string("a MSysRelationships le falta la columna ") + name);
    return *i;
  };
  const size_t name = col("szRelationship"), flags = col("grbit"), index = col("icolumn"),
               object = col("szObject"), column = col("szColumn"),
               ref_object = col("szReferencedObject"), ref_column = col("szReferencedColumn");
  // One row per column of each relationship; icolumn orders them.
  std::map<std::string, std::vector<std::pair<int64_t, std::vector<Value>>>> rows;
  std::vector<std::string> order;
  t.scan([&](RowId id) {
    std::vector<Value> r = t.readRow(id);
    const std::string& key = r[name].asString();
    if (rows.find(key) == rows.end()) order.push_back(key);
    rows[key].emplace_back(r[index].asInt(), std::move(r));
  });
  for (const std::string& key : order) {
    auto& parts = rows[key];
    std::sort(parts.begin(), parts.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    Relationship rel;
    rel.name = key;
    const std::vector<Value>& first = parts.front().second;
    rel.table = first[object].asString();
    rel.referenced_table = first[ref_object].asString();
    rel.flags = static_cast<uint32_t>(first[flags].asInt());
    for (const auto& [i, r] : parts) {
      rel.columns.push_back(r[column].asString());
      rel.referenced_columns.push_back(r[ref_column].asString());
    }
    out.push_back(std::move(rel));
  }
  return out;
}

}  // namespace jet
