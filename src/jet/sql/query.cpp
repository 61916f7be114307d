#include "jet/query.h"

#include <algorithm>
#include <deque>

#include "index/index_lookup.h"
#include "jet/error.h"
#include "sql/sql_ast.h"
#include "sql/sql_eval.h"

namespace jet {

namespace {

using sql::Expr;
using sql::Operand;

std::string operandType(const Operand& o, const TableDef& def) {
  return o.is_column ? sql::columnTypeNameEs(def.columns[o.column].type()) : "";
}

sql::ValueClass operandClass(const Operand& o, const TableDef& def) {
  return o.is_column ? sql::columnClass(def.columns[o.column].type())
                     : sql::valueClass(o.literal.kind());
}

void resolve(Operand& o, const TableDef& def, std::vector<size_t>& used) {
  if (!o.is_column) return;
  const std::optional<size_t> index = def.findColumn(o.name);
  if (!index) throw JetError(Msg::kUnknownField, o.name);
  o.column = *index;
  used.push_back(*index);
}

void bindExpr(Expr& e, const TableDef& def, std::vector<size_t>& used) {
  for (auto& c : e.children) bindExpr(*c, def, used);
  if (e.kind == Expr::Kind::IsNull) resolve(e.left, def, used);
  if (e.kind != Expr::Kind::Compare) return;
  resolve(e.left, def, used);
  resolve(e.right, def, used);
  if (!sql::comparable(operandClass(e.left, def), operandClass(e.right, def))) {
    sql::throwTypeClash(e, operandType(e.left, def), operandType(e.right, def));
  }
}

// One row's column values, read from the table when first asked for.
class LazyRow {
 public:
  LazyRow(const BoundQuery& q, RowId id) : q_(q), id_(id) {}

  const Value& operator()(size_t column) {
    auto it = std::find_if(cache_.begin(), cache_.end(),
                           [&](const auto& entry) { return entry.first == column; });
    if (it != cache_.end()) return it->second;
    cache_.emplace_back(column, q_.table.read(id_, column));
    return cache_.back().second;
  }

 private:
  const BoundQuery& q_;
  RowId id_;
  // Few columns per condition: a list beats a map. A deque, so that a read
  // moves none of the values handed out before it.
  std::deque<std::pair<size_t, Value>> cache_;
};

}  // namespace

BoundQuery bind(const Query& query, const Database& db) {
  BoundQuery b{query.text, db.table(query.table), nullptr, {}};
  if (query.where) {
    std::unique_ptr<Expr> where = query.where->clone();
    bindExpr(*where, b.table.def(), b.columns);
    b.where = std::move(where);
    std::sort(b.columns.begin(), b.columns.end());
    b.columns.erase(std::unique(b.columns.begin(), b.columns.end()), b.columns.end());
  }
  return b;
}

bool matches(const BoundQuery& query, RowId id) {
  if (!query.where) return true;
  LazyRow row(query, id);
  sql::ColumnSource source = [&](size_t column) -> const Value& { return row(column); };
  return sql::evaluate(*query.where, source) == sql::Truth::True;
}

bool matches(const BoundQuery& query, const std::vector<Value>& row) {
  if (!query.where) return true;
  sql::ColumnSource source = [&](size_t column) -> const Value& { return row.at(column); };
  return sql::evaluate(*query.where, source) == sql::Truth::True;
}

namespace {

// Whether the column's index lookup answers `column = value` exactly as the
// condition would: whole-number columns against a whole number.
bool lookupAnswers(const Column& c, const Value& v) {
  if (!c.isWholeNumber()) return false;
  if (v.kind() == Value::Kind::Int) return true;
  if (v.kind() == Value::Kind::Double) {
    double d = v.asDouble();
    return d == static_cast<double>(static_cast<int64_t>(d));
  }
  return false;
}

}  // namespace

std::vector<RowId> select(const BoundQuery& query) {
  // A key equality asked again and again with other values would scan the
  // table each time; the database's index lookup of the column is built
  // once and kept true by deletes.
  if (query.where) {
    if (auto eq = sql::columnEquality(*query.where)) {
      if (lookupAnswers(query.table.def().columns[eq->column], eq->value)) {
        const Database& db = query.table.database();
        std::vector<RowId> rows = db.lookup(query.table, eq->column).find(eq->value);
        // Rows whose delete waits for the commit are gone already.
        std::erase_if(rows, [&](RowId id) { return db.isPendingDelete(id); });
        return rows;
      }
    }
  }
  std::vector<RowId> out;
  query.table.scan([&](RowId id) {
    if (matches(query, id)) out.push_back(id);
  });
  return out;
}

std::vector<RowId> select(const Database& db, std::string_view text) {
  return select(prepare(db, text));
}

}  // namespace jet
