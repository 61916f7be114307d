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

  // Columns: numbers in order; fixed offsets in order; variable slots in
  // order, long values last (system tables: all in order).
  uint16_t fixed_offset = 0;
  std::vector<size_t> variable, long_values;
  for (size_t i = 0; i < design.columns.size(); ++i) {
    const ColumnDesign& cs = design.columns[i];
    if (!nameFits(fmt, cs.name)) bad(design.name, "nombre de columna no válido");
    for (size_t k = 0; k < i; ++k) {
      if (equalsIgnoreCase(design.columns[k].name, cs.name)) {
        bad(design.name, "la columna '" + cs.name + "' está repetida");
      }
    }
    Column c;
    c.name = cs.name;
    c.type_code = static_cast<uint8_t>(cs.type);
    c.number = static_cast<uint16_t>(i);
    c.flags = kUpdatableFlag | cs.extra_flags | (system ? kSystemColumnFlag : 0);
    c.sort_lcid = kGeneralSortLcid;
    if (!fmt.is_jet4()) c.code_page = kWindows1252;
    const size_t fixed = fixedValueSize(cs.type);
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
        c.length = static_cast<uint16_t>(fixed);
        c.fixed_offset = fixed_offset;
        fixed_offset = static_cast<uint16_t>(fixed_offset + fixed);
        break;
      case ColumnType::Text: {
        const uint16_t chars = cs.size == 0 ? 255 : cs.size;
        if (chars > 255) bad(design.name, "columna de texto de más de 255 caracteres");
        c.length = static_cast<uint16_t>(fmt.is_jet4() ? 2 * chars : chars);
        variable.push_back(i);
        break;
      }
      case ColumnType::Binary: {
        const uint16_t bytes = cs.size == 0 ? 255 : cs.size;
        if (bytes > 510) bad(design.name, "columna binaria demasiado larga");
        c.length = bytes;
        variable.push_back(i);
        break;
      }
      case ColumnType::Memo:
      case ColumnType::Ole:
        c.length = 0;
        (system ? variable : long_values).push_back(i);
        break;
      default:
        bad(design.name, "tipo de columna " + columnTypeName(c.type_code) + " no admitido");
    }
    if (cs.autonumber) {
      if (cs.type != ColumnType::Long) bad(design.name, "autonumérico que no es entero largo");
      c.flags |= Column::kAutoLongFlag;
    }
    if (fmt.is_jet4() && isText(cs.type) && cs.compressed_unicode) {
      c.extra_flags = Column::kCompressedUnicodeFlag;
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

  // Indexes: real and logical index i for design entry i.
  for (size_t i = 0; i < design.indexes.size(); ++i) {
    const IndexDesign& is = design.indexes[i];
    if (!nameFits(fmt, is.name)) bad(design.name, "nombre de índice no válido");
    for (size_t k = 0; k < i; ++k) {
      if (equalsIgnoreCase(design.indexes[k].name, is.name)) {
        bad(design.name, "el índice '" + is.name + "' está repetido");
      }
    }
    if (is.columns.empty() || is.columns.size() > kIndexColumnSlots) {
      bad(design.name, "el índice '" + is.name + "' no tiene entre 1 y 10 columnas");
    }
    RealIndex r;
    for (const IndexColumnDesign& ic : is.columns) {
      auto pos = def.findColumn(ic.column);
      if (!pos) bad(design.name, "el índice '" + is.name + "' usa la columna '" + ic.column + "'");
      const Column& c = def.columns[*pos];
      if (c.isLongValue()) bad(design.name, "no se pueden indexar columnas memo u OLE");
      r.columns.push_back({c.number, ic.ascending});
    }
    const bool primary = is.primary_key;
    const bool unique = is.unique || (primary && !system);
    const bool required = is.required || (primary && !system);
    r.flags = indexFlags(fmt, unique, is.ignore_nulls, required);
    def.real_indexes.push_back(std::move(r));

    LogicalIndex l;
    l.name = is.name;
    l.number = static_cast<uint32_t>(i);
    l.real_index = static_cast<uint32_t>(i);
    l.kind = primary ? LogicalIndex::Kind::PrimaryKey : LogicalIndex::Kind::Normal;
    def.logical_indexes.push_back(std::move(l));
  }
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

std::vector<TableDesign> systemTableDesigns(const Format& fmt) {
  const uint16_t binary = fmt.is_jet4() ? 510 : 255;
  constexpr uint8_t kSidFlag = 0x20;  // set by Access on its SID columns
  auto col = [](const char* name, ColumnType t, uint16_t size = 0, uint8_t extra = 0) {
    ColumnDesign c;
    c.name = name;
    c.type = t;
    c.size = size;
    c.compressed_unicode = false;
    c.extra_flags = extra;
    return c;
  };
  auto idx = [](const char* name, std::vector<const char*> columns, bool primary, bool unique,
                bool ignore_nulls, bool required) {
    IndexDesign i;
    i.name = name;
    for (const char* c : columns) i.columns.push_back({c, true});
    i.primary_key = primary;
    i.unique = unique;
    i.ignore_nulls = ignore_nulls;
    i.required = required;
    return i;
  };
  std::vector<TableDesign> out;

  TableDesign objects;
  objects.name = "MSysObjects";
  objects.columns = {
      col("Id", ColumnType::Long),
      col("ParentId", ColumnType::Long),
      col("Name", ColumnType::Text, 255),
      col("Type", ColumnType::Integer),
      col("DateCreate", ColumnType::DateTime),
      col("DateUpdate", ColumnType::DateTime),
      col("Owner", ColumnType::Binary, binary, kSidFlag),
      col("Flags", ColumnType::Long),
      col("Database", ColumnType::Memo),
      col("Connect", ColumnType::Memo),
      col("ForeignName", ColumnType::Text, 255),
      col("RmtInfoShort", ColumnType::Binary, binary),
      col("RmtInfoLong", ColumnType::Ole),
      col("Lv", ColumnType::Ole),
      col("LvProp", ColumnType::Ole),
      col("LvModule", ColumnType::Ole),
      col("LvExtra", ColumnType::Ole),
  };
  objects.indexes = {idx("ParentIdName", {"ParentId", "Name"}, false, true, false, false),
                     idx("Id", {"Id"}, true, true, false, false)};
  out.push_back(std::move(objects));

  TableDesign aces;
  aces.name = "MSysACEs";
  aces.columns = {col("ObjectId", ColumnType::Long),
                  col("SID", ColumnType::Binary, binary, kSidFlag), col("ACM", ColumnType::Long),
                  col("FInheritable", ColumnType::Boolean)};
  aces.indexes = {idx("ObjectId", {"ObjectId"}, false, false, false, true)};
  out.push_back(std::move(aces));

  TableDesign queries;
  queries.name = "MSysQueries";
  queries.columns = {col("ObjectId", ColumnType::Long),        col("Attribute", ColumnType::Byte),
                     col("Order", ColumnType::Binary, binary), col("Name1", ColumnType::Text, 255),
                     col("Name2", ColumnType::Text, 255),      col("Expression", ColumnType::Memo),
                     col("Flag", ColumnType::Integer)};
  if (fmt.is_jet4()) queries.columns.push_back(col("LvExtra", ColumnType::Long));
  queries.indexes = {
      idx("ObjectIdAttribute", {"ObjectId", "Attribute", "Order"}, true, true, false, false)};
  out.push_back(std::move(queries));

  TableDesign relationships;
  relationships.name = "MSysRelationships";
  relationships.columns = {col("szRelationship", ColumnType::Text, 255),
                           col("grbit", ColumnType::Long),
                           col("ccolumn", ColumnType::Long),
                           col("icolumn", ColumnType::Long),
                           col("szObject", ColumnType::Text, 255),
                           col("szColumn", ColumnType::Text, 255),
                           col("szReferencedObject", ColumnType::Text, 255),
                           col("szReferencedColumn", ColumnType::Text, 255)};
  relationships.indexes = {
      idx("szRelationship", {"szRelationship"}, false, false, true, false),
      idx("szObject", {"szObject"}, false, false, true, false),
      idx("szReferencedObject", {"szReferencedObject"}, false, false, true, false)};
  out.push_back(std::move(relationships));
  return out;
}

}  // namespace jet
