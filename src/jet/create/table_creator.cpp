#include "create/table_creator.h"

#include <optional>

#include "format/row_packer.h"
#include "format/text_codec.h"
#include "jet/error.h"

namespace jet {

namespace {

constexpr uint8_t kUserTable = 0x4E;
constexpr uint8_t kSystemTable = 0x53;
constexpr uint8_t kUpdatableFlag = 0x02;
constexpr uint8_t kSystemColumnFlag = 0x10;
constexpr uint8_t kIndexAlwaysJet4 = 0x80;
constexpr size_t kMaxColumns = 255;
constexpr size_t kMaxIndexes = 32;

[[noreturn]] void bad(const std::string& table, const std::string& why) {
  throw JetError(Msg::kCannotCreateTable, table, why);
}

bool isText(ColumnType t) {
  return t == ColumnType::Text || t == ColumnType::Memo;
}

// Names of 1 to 64 characters that the file's text encoding can store.
bool nameFits(const Format& fmt, const std::string& name) {
  try {
    size_t chars = 0;
    encodeText(fmt, name, false, &chars);
    return chars >= 1 && chars <= 64;
  } catch (const JetError&) {
    return false;
  }
}

uint8_t indexFlags(const Format& fmt, bool unique, bool ignore_nulls, bool required) {
  uint8_t f = 0;
  if (unique) f |= RealIndex::kUnique;
  if (ignore_nulls) f |= RealIndex::kIgnoreNulls;
  if (required) f |= RealIndex::kRequired;
  if (fmt.is_jet4()) f |= kIndexAlwaysJet4;
  return f;
}

// Whether item `i` has the name of an earlier one, compared as Access
// compares names.
template <typename T>
bool namedEarlier(const std::vector<T>& items, size_t i) {
  for (size_t k = 0; k < i; ++k) {
    if (equalsIgnoreCase(items[k].name, items[i].name)) return true;
  }
  return false;
}

// Column `number` of `table` as the TDEF describes it, all but its place in
// the row (fixed offset, variable slot).
Column describeColumn(const Format& fmt, const std::string& table, const ColumnDesign& cs,
                      size_t number, bool system) {
  Column c;
  c.name = cs.name;
  c.type_code = static_cast<uint8_t>(cs.type);
  c.number = static_cast<uint16_t>(number);
  c.flags = kUpdatableFlag | cs.extra_flags | (system ? kSystemColumnFlag : 0);
  c.sort_lcid = kGeneralSortLcid;
  if (!fmt.is_jet4()) c.code_page = kWindows1252;
  switch (cs.type) {
    case ColumnType::Boolean:
      c.flags |= Column::kFixedFlag;
      c.length = 1;
      break;
    case ColumnType::Byte:
    case ColumnType::Integer:
    case ColumnType::Long:
    case ColumnType::Currency:
    case ColumnType::Single:
    case ColumnType::Double:
    case ColumnType::DateTime:
    case ColumnType::Guid:
      c.flags |= Column::kFixedFlag;
      c.length = static_cast<uint16_t>(fixedValueSize(cs.type));
      break;
    case ColumnType::Text: {
      const uint16_t chars = cs.size == 0 ? 255 : cs.size;
      if (chars > 255) bad(table, "columna de texto de más de 255 caracteres");
      c.length = static_cast<uint16_t>(fmt.is_jet4() ? 2 * chars : chars);
      break;
    }
    case ColumnType::Binary: {
      const uint16_t bytes = cs.size == 0 ? 255 : cs.size;
      if (bytes > 510) bad(table, "columna binaria demasiado larga");
      c.length = bytes;
      break;
    }
    case ColumnType::Memo:
    case ColumnType::Ole:
      c.length = 0;
      break;
    default:
      bad(table, "tipo de columna " + columnTypeName(c.type_code) + " no admitido");
  }
  if (cs.autonumber) {
    if (cs.type != ColumnType::Long) bad(table, "autonumérico que no es entero largo");
    c.flags |= Column::kAutoLongFlag;
  }
  if (fmt.is_jet4() && isText(cs.type) && cs.compressed_unicode) {
    c.extra_flags = Column::kCompressedUnicodeFlag;
  }
  return c;
}

// Columns: numbers in order; fixed offsets in order (a Boolean takes none:
// its value is its bit in the null mask); variable slots in order, long
// values last (system tables: all in order).
void layoutColumns(const Format& fmt, const TableDesign& design, bool system, TableDef& def) {
  uint16_t fixed_offset = 0;
  std::vector<size_t> variable, long_values;
  for (size_t i = 0; i < design.columns.size(); ++i) {
    const ColumnDesign& cs = design.columns[i];
    if (!nameFits(fmt, cs.name)) bad(design.name, "nombre de columna no válido");
    if (namedEarlier(design.columns, i)) {
      bad(design.name, "la columna '" + cs.name + "' está repetida");
    }
    Column c = describeColumn(fmt, design.name, cs, i, system);
    const size_t fixed = fixedValueSize(cs.type);
    if (fixed > 0) {
      c.fixed_offset = fixed_offset;
      fixed_offset = static_cast<uint16_t>(fixed_offset + fixed);
    } else if (c.isLongValue() && !system) {
      long_values.push_back(i);
    } else if (cs.type != ColumnType::Boolean) {
      variable.push_back(i);
    }
    def.columns.push_back(std::move(c));
  }
  variable.insert(variable.end(), long_values.begin(), long_values.end());
  for (size_t slot = 0; slot < variable.size(); ++slot) {
    def.columns[variable[slot]].var_index = static_cast<uint16_t>(slot);
  }
  // Fixed columns carry the count of variable columns before them, as Access
  // writes it.
  uint16_t seen = 0;
  for (Column& c : def.columns) {
    if (c.isFixed()) {
      c.var_index = seen;
    } else {
      ++seen;
    }
  }
  def.max_cols = static_cast<uint16_t>(def.columns.size());
  def.var_slots = static_cast<uint16_t>(variable.size());
}

// The real index of `is`: its columns by number and its flags. A primary
// key of a user table is also unique and required.
RealIndex realIndexFor(const Format& fmt, const TableDef& def, const IndexDesign& is, bool system) {
  RealIndex r;
  for (const IndexColumnDesign& ic : is.columns) {
    auto pos = def.findColumn(ic.column);
    if (!pos) bad(def.name, "el índice '" + is.name + "' usa la columna '" + ic.column + "'");
    const Column& c = def.columns[*pos];
    if (c.isLongValue()) bad(def.name, "no se pueden indexar columnas memo u OLE");
    r.columns.push_back({c.number, ic.ascending});
  }
  const bool primary = is.primary_key;
  const bool unique = is.unique || (primary && !system);
  const bool required = is.required || (primary && !system);
  r.flags = indexFlags(fmt, unique, is.ignore_nulls, required);
  return r;
}

// Indexes: real and logical index i for design entry i.
void layoutIndexes(const Format& fmt, const TableDesign& design, bool system, TableDef& def) {
  for (size_t i = 0; i < design.indexes.size(); ++i) {
    const IndexDesign& is = design.indexes[i];
    if (!nameFits(fmt, is.name)) bad(design.name, "nombre de índice no válido");
    if (namedEarlier(design.indexes, i)) {
      bad(design.name, "el índice '" + is.name + "' está repetido");
    }
    if (is.columns.empty() || is.columns.size() > kIndexColumnSlots) {
      bad(design.name, "el índice '" + is.name + "' no tiene entre 1 y 10 columnas");
    }
    def.real_indexes.push_back(realIndexFor(fmt, def, is, system));

    LogicalIndex l;
    l.name = is.name;
    l.number = static_cast<uint32_t>(i);
    l.real_index = static_cast<uint32_t>(i);
    l.kind = is.primary_key ? LogicalIndex::Kind::PrimaryKey : LogicalIndex::Kind::Normal;
    def.logical_indexes.push_back(std::move(l));
  }
}

}  // namespace

TableDef layoutTable(const Format& fmt, const TableDesign& design, bool system) {
  TableDef def;
  def.name = design.name;
  def.table_type = system ? kSystemTable : kUserTable;
  if (!nameFits(fmt, design.name)) bad(design.name, "nombre de tabla no válido");
  if (design.columns.empty() || design.columns.size() > kMaxColumns) {
    bad(design.name, "número de columnas no admitido");
  }
  if (design.indexes.size() > kMaxIndexes) bad(design.name, "demasiados índices");
  layoutColumns(fmt, design, system, def);
  layoutIndexes(fmt, design, system, def);
  return def;
}

uint32_t addForeignKeyIndex(TableDef& def, const std::vector<uint16_t>& columns,
                            bool referenced_side, const std::string& name,
                            uint32_t related_table_page, bool cascade_updates,
                            bool cascade_deletes) {
  if (def.logical_indexes.size() >= kMaxIndexes) bad(def.name, "demasiados índices");
  std::optional<uint32_t> real;
  for (size_t i = 0; i < def.real_indexes.size(); ++i) {
    const RealIndex& r = def.real_indexes[i];
    if (r.columns.size() != columns.size()) continue;
    bool same = true;
    for (size_t k = 0; k < columns.size(); ++k) {
      same = same && r.columns[k].column_number == columns[k] && r.columns[k].ascending;
    }
    if (same) {
      real = static_cast<uint32_t>(i);
      break;
    }
  }
  if (!real) {
    RealIndex r;
    for (uint16_t c : columns) r.columns.push_back({c, true});
    r.flags = 0;
    def.real_indexes.push_back(std::move(r));
    real = static_cast<uint32_t>(def.real_indexes.size() - 1);
  }
  LogicalIndex l;
  l.number = static_cast<uint32_t>(def.logical_indexes.size());
  l.real_index = *real;
  l.fk_role = referenced_side ? 1 : 2;
  l.related_table_page = related_table_page;
  l.cascade_updates = cascade_updates;
  l.cascade_deletes = cascade_deletes ? 1 : 0;
  l.kind = LogicalIndex::Kind::ForeignKey;
  if (referenced_side) {
    // ".rB", ".rC", ...: one more letter per key referenced so far.
    size_t taken = 0;
    for (const LogicalIndex& other : def.logical_indexes) {
      if (other.name.size() == 3 && other.name.compare(0, 2, ".r") == 0) ++taken;
    }
    l.name = std::string(".r") + static_cast<char>('B' + taken);
  } else {
    l.name = name;
  }
  def.logical_indexes.push_back(std::move(l));
  return def.logical_indexes.back().number;
}

namespace {

constexpr uint8_t kSidFlag = 0x20;  // set by Access on its SID columns

ColumnDesign column(const char* name, ColumnType t, uint16_t size = 0, uint8_t extra = 0) {
  ColumnDesign c;
  c.name = name;
  c.type = t;
  c.size = size;
  c.compressed_unicode = false;
  c.extra_flags = extra;
  return c;
}

IndexDesign systemIndex(const char* name, std::vector<const char*> columns, bool primary,
                        bool unique, bool ignore_nulls, bool required) {
  IndexDesign i;
  i.name = name;
  for (const char* c : columns) i.columns.push_back({c, true});
  i.primary_key = primary;
  i.unique = unique;
  i.ignore_nulls = ignore_nulls;
  i.required = required;
  return i;
}

// Binary columns of the system tables: as long as the format allows.
uint16_t systemBinarySize(const Format& fmt) {
  return fmt.is_jet4() ? 510 : 255;
}

TableDesign objectsDesign(const Format& fmt) {
  const uint16_t binary = systemBinarySize(fmt);
  TableDesign t;
  t.name = "MSysObjects";
  t.columns = {
      column("Id", ColumnType::Long),
      column("ParentId", ColumnType::Long),
      column("Name", ColumnType::Text, 255),
      column("Type", ColumnType::Integer),
      column("DateCreate", ColumnType::DateTime),
      column("DateUpdate", ColumnType::DateTime),
      column("Owner", ColumnType::Binary, binary, kSidFlag),
      column("Flags", ColumnType::Long),
      column("Database", ColumnType::Memo),
      column("Connect", ColumnType::Memo),
      column("ForeignName", ColumnType::Text, 255),
      column("RmtInfoShort", ColumnType::Binary, binary),
      column("RmtInfoLong", ColumnType::Ole),
      column("Lv", ColumnType::Ole),
      column("LvProp", ColumnType::Ole),
      column("LvModule", ColumnType::Ole),
      column("LvExtra", ColumnType::Ole),
  };
  t.indexes = {systemIndex("ParentIdName", {"ParentId", "Name"}, false, true, false, false),
               systemIndex("Id", {"Id"}, true, true, false, false)};
  return t;
}

TableDesign acesDesign(const Format& fmt) {
  TableDesign t;
  t.name = "MSysACEs";
  t.columns = {column("ObjectId", ColumnType::Long),
               column("SID", ColumnType::Binary, systemBinarySize(fmt), kSidFlag),
               column("ACM", ColumnType::Long), column("FInheritable", ColumnType::Boolean)};
  t.indexes = {systemIndex("ObjectId", {"ObjectId"}, false, false, false, true)};
  return t;
}

TableDesign queriesDesign(const Format& fmt) {
  TableDesign t;
  t.name = "MSysQueries";
  t.columns = {column("ObjectId", ColumnType::Long),
               column("Attribute", ColumnType::Byte),
               column("Order", ColumnType::Binary, systemBinarySize(fmt)),
               column("Name1", ColumnType::Text, 255),
               column("Name2", ColumnType::Text, 255),
               column("Expression", ColumnType::Memo),
               column("Flag", ColumnType::Integer)};
  if (fmt.is_jet4()) t.columns.push_back(column("LvExtra", ColumnType::Long));
  t.indexes = {systemIndex("ObjectIdAttribute", {"ObjectId", "Attribute", "Order"}, true, true,
                           false, false)};
  return t;
}

TableDesign relationshipsDesign() {
  TableDesign t;
  t.name = "MSysRelationships";
  t.columns = {column("szRelationship", ColumnType::Text, 255),
               column("grbit", ColumnType::Long),
               column("ccolumn", ColumnType::Long),
               column("icolumn", ColumnType::Long),
               column("szObject", ColumnType::Text, 255),
               column("szColumn", ColumnType::Text, 255),
               column("szReferencedObject", ColumnType::Text, 255),
               column("szReferencedColumn", ColumnType::Text, 255)};
  t.indexes = {
      systemIndex("szRelationship", {"szRelationship"}, false, false, true, false),
      systemIndex("szObject", {"szObject"}, false, false, true, false),
      systemIndex("szReferencedObject", {"szReferencedObject"}, false, false, true, false)};
  return t;
}

}  // namespace

std::vector<TableDesign> systemTableDesigns(const Format& fmt) {
  std::vector<TableDesign> out;
  out.push_back(objectsDesign(fmt));
  out.push_back(acesDesign(fmt));
  out.push_back(queriesDesign(fmt));
  out.push_back(relationshipsDesign());
  return out;
}

}  // namespace jet
