#include "format/table_def.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <unordered_set>

#include "format/bytes.h"
#include "format/text_codec.h"
#include "jet/error.h"

namespace jet {

namespace {

constexpr uint32_t kJet4Magic = 1625;            // 0x0659, in the header, columns, logical indexes
constexpr uint32_t kJet4RealMagic = 1923;        // 0x0783, at the start of real index entries
constexpr uint8_t kNotForeignKeyCascade = 0x04;  // what Access stores in the cascade bytes

// Appends page `i` of a chain to the definition's bytes.
void appendPage(std::vector<uint8_t>& buf, ByteView page, size_t i) {
  const size_t skip = i == 0 ? 0 : kTdefContinuationHeader;
  buf.insert(buf.end(), page.data() + skip, page.data() + page.size());
}

// Joins the chain of TDEF pages into one buffer: the whole first page, then
// each following page without its 8-byte header.
std::vector<uint8_t> readChain(const PageSource& src, uint32_t first,
                               std::vector<uint32_t>& pages) {
  std::vector<uint8_t> buf;
  std::unordered_set<uint32_t> seen;
  uint32_t pg = first;
  while (pg != 0) {
    if (!seen.insert(pg).second) {
      throwBadFormat(src.path(), "la definición de la tabla en la página " + std::to_string(first) +
                                     " forma un ciclo de páginas");
    }
    ByteView p = src.page(pg);
    if (p.u8(0) != kTdefPage || p.u8(1) != kPageMark) {
      throwBadFormat(src.path(),
                     "la página " + std::to_string(pg) + " no es una definición de tabla");
    }
    appendPage(buf, p, pages.size());
    pages.push_back(pg);
    pg = p.u32(kTdefNextPage);
  }
  return buf;
}

size_t nameLength(ByteView v, size_t pos, const Format& f) {
  return f.name_length_size == 1 ? v.u8(pos) : v.u16(pos);
}

std::string readName(ByteView v, size_t& pos, const Format& f, uint16_t code_page) {
  size_t len = nameLength(v, pos, f);
  pos += f.name_length_size;
  ByteView raw = v.sub(pos, len);
  pos += len;
  (void)code_page;  // Jet 3 names: Windows-1252, the code page of every supported file
  return f.is_jet4() ? decodeUcs2(raw) : decodeCp1252(raw);
}

void appendName(ByteBuilder& b, const Format& fmt, const std::string& name) {
  const std::vector<uint8_t> bytes = encodeText(fmt, name, false);
  if (fmt.name_length_size == 1) {
    b.u8(static_cast<uint8_t>(bytes.size()));
  } else {
    b.u16(static_cast<uint16_t>(bytes.size()));
  }
  b.append(bytes);
}

}  // namespace

std::optional<size_t> TableDef::findColumn(std::string_view wanted) const {
  for (size_t i = 0; i < columns.size(); ++i) {
    if (equalsIgnoreCase(columns[i].name, wanted)) return i;
  }
  return std::nullopt;
}

const Column* TableDef::columnByNumber(uint16_t number) const {
  for (const Column& c : columns) {
    if (c.number == number) return &c;
  }
  return nullptr;
}

TableDef readTableDef(const PageSource& src, const Format& f, uint32_t page, uint16_t code_page) {
  TableDef t;
  t.page = page;
  std::vector<uint8_t> buf = readChain(src, page, t.pages);
  ByteView v(buf.data(), buf.size());
  try {
    t.row_count = v.u32(f.tdef_row_count);
    t.autonumber = v.u32(f.tdef_autonumber);
    t.table_type = v.u8(f.tdef_table_type);
    t.max_cols = v.u16(f.tdef_max_cols);
    t.var_slots = v.u16(f.tdef_var_slots);
    uint16_t num_cols = v.u16(f.tdef_num_cols);
    uint32_t num_logical = v.u32(f.tdef_num_logical);
    uint32_t num_real = v.u32(f.tdef_num_real);
    t.used_map = v.u32(f.tdef_used_map);
    t.free_map = v.u32(f.tdef_free_map);
    if (num_real > 1000 || num_logical > 1000) {
      throwBadFormat(src.path(), "la definición de la tabla en la página " + std::to_string(page) +
                                     " declara demasiados índices");
    }

    size_t pos = f.tdef_header_end + num_real * f.real_count_entry;
    // Checked before the columns are made: a damaged count must not size them.
    if (pos + size_t{num_cols} * f.col_size > buf.size()) throw OutOfRange("columnas");
    t.columns.resize(num_cols);
    for (Column& c : t.columns) {
      ByteView d = v.sub(pos, f.col_size);
      c.type_code = d.u8(f.col_type);
      c.number = d.u16(f.col_number);
      c.var_index = d.u16(f.col_var_index);
      c.flags = d.u8(f.col_flags);
      c.fixed_offset = d.u16(f.col_fixed_offset);
      c.length = d.u16(f.col_length);
      c.sort_lcid = d.u16(f.col_sort_lcid);
      if (f.is_jet4()) {
        c.extra_flags = d.u8(f.col_extra_flags);
        c.sort_version = d.u8(f.col_sort_version);
        c.precision = d.u8(f.col_precision);
        c.scale = d.u8(f.col_scale);
      } else {
        c.code_page = d.u16(f.col_code_page);
      }
      pos += f.col_size;
    }
    for (Column& c : t.columns) c.name = readName(v, pos, f, code_page);

    t.real_indexes.resize(num_real);
    for (RealIndex& r : t.real_indexes) {
      ByteView d = v.sub(pos, f.real_size);
      for (size_t k = 0; k < kIndexColumnSlots; ++k) {
        uint16_t col = d.u16(f.real_columns + 3 * k);
        if (col == kNoIndexColumn) continue;
        r.columns.push_back({col, d.u8(f.real_columns + 3 * k + 2) != 0});
      }
      r.used_map = d.u32(f.real_used_map);
      r.root_page = d.u32(f.real_root);
      r.flags = d.u8(f.real_flags);
      pos += f.real_size;
    }

    t.logical_indexes.resize(num_logical);
    for (LogicalIndex& l : t.logical_indexes) {
      ByteView d = v.sub(pos, f.logical_size);
      l.number = d.u32(f.logical_number);
      l.real_index = d.u32(f.logical_real);
      l.fk_role = d.u8(f.logical_fk_role);
      l.related_index = static_cast<int32_t>(d.u32(f.logical_related));
      l.related_table_page = d.u32(f.logical_related_table);
      l.cascade_updates = d.u8(f.logical_cascade_updates) == 1;
      l.cascade_deletes = d.u8(f.logical_cascade_deletes);
      l.kind = static_cast<LogicalIndex::Kind>(d.u8(f.logical_type));
      if (l.real_index >= num_real) {
        throwBadFormat(src.path(), "un índice de la tabla en la página " + std::to_string(page) +
                                       " apunta a datos de índice inexistentes");
      }
      pos += f.logical_size;
    }
    for (LogicalIndex& l : t.logical_indexes) l.name = readName(v, pos, f, code_page);
  } catch (const OutOfRange&) {
    throwBadFormat(src.path(), "la definición de la tabla en la página " + std::to_string(page) +
                                   " está incompleta");
  }
  std::stable_sort(t.columns.begin(), t.columns.end(),
                   [](const Column& a, const Column& b) { return a.number < b.number; });
  return t;
}

DefinitionTail readDefinitionTail(const PageSource& src, const Format& f, const TableDef& def) {
  std::vector<uint8_t> buf;
  for (size_t i = 0; i < def.pages.size(); ++i) appendPage(buf, src.page(def.pages[i]), i);
  ByteView v(buf.data(), buf.size());
  DefinitionTail tail;
  try {
    const uint16_t num_cols = v.u16(f.tdef_num_cols);
    const uint32_t num_logical = v.u32(f.tdef_num_logical);
    const uint32_t num_real = v.u32(f.tdef_num_real);
    size_t pos = f.tdef_header_end + num_real * f.real_count_entry + num_cols * f.col_size;
    auto skipNames = [&](size_t count) {
      for (size_t i = 0; i < count; ++i) pos += f.name_length_size + nameLength(v, pos, f);
    };
    skipNames(num_cols);
    pos += num_real * f.real_size + num_logical * f.logical_size;
    skipNames(num_logical);
    for (;;) {
      const uint16_t column = v.u16(pos);
      pos += 2;
      if (column == kEndOfLongValueMaps) break;
      tail.long_value_maps.push_back({column, v.u32(pos), v.u32(pos + 4)});
      pos += 8;
    }
    tail.length = v.u32(kTdefLength);
    tail.end = pos;
    tail.complete = true;
  } catch (const OutOfRange&) {
  }
  return tail;
}

namespace {

// The first page's header and the table's fixed fields, then one count
// entry per real index. The caller's split fills in free space and next
// page; the definition length is set once the whole is encoded.
void appendDefinitionHeader(ByteBuilder& b, const Format& fmt, const TableDef& def,
                            const TableExtras& extras) {
  const bool jet4 = fmt.is_jet4();
  b.u8(kTdefPage);
  b.u8(kPageMark);
  if (jet4) {
    b.u16(0);
  } else {
    b.u8('V');
    b.u8('C');
  }
  b.u32(0);
  b.u32(0);  // definition length, set at the end
  if (jet4) {
    b.u32(kJet4Magic);
    b.u32(def.row_count);
    b.u32(def.autonumber);
    b.u8(1);  // Access sets it; autonumbering depends on it
    b.zeros(15);
  } else {
    b.u32(def.row_count);
    b.u32(def.autonumber);
  }
  b.u8(def.table_type);
  b.u16(def.max_cols);
  b.u16(def.var_slots);
  b.u16(static_cast<uint16_t>(def.columns.size()));
  b.u32(static_cast<uint32_t>(def.logical_indexes.size()));
  b.u32(static_cast<uint32_t>(def.real_indexes.size()));
  b.u32(def.used_map);
  b.u32(def.free_map);
  for (size_t i = 0; i < def.real_indexes.size(); ++i) {
    b.u32(0);
    b.u32(i < extras.distinct_keys.size() ? extras.distinct_keys[i] : 0);
    if (jet4) b.u32(0);
  }
}

// The column entries, then the column names in the same order.
void appendColumns(ByteBuilder& b, const Format& fmt, const TableDef& def,
                   const TableExtras& extras) {
  const bool jet4 = fmt.is_jet4();
  for (const Column& c : def.columns) {
    b.u8(c.type_code);
    if (jet4) b.u32(kJet4Magic);
    b.u16(c.number);
    b.u16(c.var_index);
    if (jet4) {
      // Access repeats the number, plus one in user tables, 0 in its own.
      b.u16(extras.system ? 0 : static_cast<uint16_t>(c.number + 1));
      if (c.type() == ColumnType::Numeric) {
        b.u8(c.precision);
        b.u8(c.scale);
        b.u16(0);
      } else {
        b.u16(c.sort_lcid);
        b.u8(0);
        b.u8(0);  // sort order version: "General" of Access 2000-2007
      }
      b.u8(c.flags);
      b.u8(c.extra_flags);
      b.u32(0);
    } else {
      b.u16(c.number);
      b.u16(1);
      b.u16(c.sort_lcid);
      b.u16(c.code_page);
      b.u8(c.flags);
    }
    b.u16(c.isFixed() ? c.fixed_offset : 0);
    b.u16(c.length);
  }
  for (const Column& c : def.columns) appendName(b, fmt, c.name);
}

// The real index entries: their columns (unused slots marked empty), usage
// map, root page and flags.
void appendRealIndexes(ByteBuilder& b, const Format& fmt, const TableDef& def) {
  const bool jet4 = fmt.is_jet4();
  for (const RealIndex& r : def.real_indexes) {
    if (jet4) b.u32(kJet4RealMagic);
    for (size_t k = 0; k < kIndexColumnSlots; ++k) {
      if (k < r.columns.size()) {
        b.u16(r.columns[k].column_number);
        b.u8(r.columns[k].ascending ? 1 : 0);
      } else {
        b.u16(kNoIndexColumn);
        b.u8(0);
      }
    }
    b.u32(r.used_map);
    b.u32(r.root_page);
    if (jet4) b.u32(0);
    b.u8(r.flags);
    if (jet4) b.zeros(5);
  }
}

// The logical index entries, then their names, sorted by name as Access
// stores them.
void appendLogicalIndexes(ByteBuilder& b, const Format& fmt, const TableDef& def) {
  const bool jet4 = fmt.is_jet4();
  std::vector<const LogicalIndex*> logical;
  for (const LogicalIndex& l : def.logical_indexes) logical.push_back(&l);
  std::stable_sort(logical.begin(), logical.end(),
                   [](const LogicalIndex* a, const LogicalIndex* b) {
                     return foldCase(a->name) < foldCase(b->name);
                   });
  for (const LogicalIndex* l : logical) {
    if (jet4) b.u32(kJet4Magic);
    b.u32(l->number);
    b.u32(l->real_index);
    const bool fk = l->kind == LogicalIndex::Kind::ForeignKey;
    b.u8(fk ? l->fk_role : 0);
    b.u32(fk ? static_cast<uint32_t>(l->related_index) : 0xFFFFFFFFu);
    b.u32(fk ? l->related_table_page : 0);
    b.u8(fk ? (l->cascade_updates ? 1 : 0) : kNotForeignKeyCascade);
    b.u8(fk ? l->cascade_deletes : kNotForeignKeyCascade);
    b.u8(static_cast<uint8_t>(l->kind));
    if (jet4) b.u32(0);
  }
  for (const LogicalIndex* l : logical) appendName(b, fmt, l->name);
}

// The usage maps of the memo and OLE columns, ended by FF FF.
void appendLongValueMaps(ByteBuilder& b, const TableExtras& extras) {
  for (const LongValueColumnMaps& m : extras.long_value_maps) {
    b.u16(m.column_number);
    b.u32(m.owned);
    b.u32(m.free);
  }
  b.u16(kEndOfLongValueMaps);
}

}  // namespace

std::vector<uint8_t> encodeTableDefinition(const Format& fmt, const TableDef& def,
                                           const TableExtras& extras) {
  ByteBuilder b;
  appendDefinitionHeader(b, fmt, def, extras);
  appendColumns(b, fmt, def, extras);
  appendRealIndexes(b, fmt, def);
  appendLogicalIndexes(b, fmt, def);
  appendLongValueMaps(b, extras);
  putU32(b.bytes().data() + kTdefLength, static_cast<uint32_t>(b.size()));
  return std::move(b.bytes());
}

size_t tableDefinitionPages(const Format& fmt, size_t definition_size) {
  if (definition_size <= fmt.page_size) return 1;
  const size_t per_page = fmt.page_size - kTdefContinuationHeader;
  return 1 + (definition_size - fmt.page_size + per_page - 1) / per_page;
}

std::vector<std::vector<uint8_t>> splitTableDefinition(const Format& fmt,
                                                       const std::vector<uint8_t>& definition,
                                                       const std::vector<uint32_t>& pages) {
  if (pages.size() != tableDefinitionPages(fmt, definition.size())) {
    throw std::invalid_argument("table definition pages miscounted");
  }
  std::vector<std::vector<uint8_t>> out;
  size_t at = 0;
  for (size_t p = 0; p < pages.size(); ++p) {
    std::vector<uint8_t> page(fmt.page_size, 0);
    size_t used;
    if (p == 0) {
      used = std::min(definition.size(), fmt.page_size);
      std::memcpy(page.data(), definition.data(), used);
      at = used;
    } else {
      const size_t n = std::min(definition.size() - at, fmt.page_size - kTdefContinuationHeader);
      std::memcpy(page.data() + kTdefContinuationHeader, definition.data() + at, n);
      at += n;
      used = kTdefContinuationHeader + n;
    }
    page[0] = kTdefPage;
    page[1] = kPageMark;
    if (fmt.is_jet4()) {
      const size_t free = fmt.page_size > used + kTdefContinuationHeader
                              ? fmt.page_size - used - kTdefContinuationHeader
                              : 0;
      putU16(page.data() + 2, static_cast<uint16_t>(free));
    } else {
      page[2] = 'V';
      page[3] = 'C';
    }
    putU32(page.data() + kTdefNextPage, p + 1 < pages.size() ? pages[p + 1] : 0);
    out.push_back(std::move(page));
  }
  return out;
}

}  // namespace jet
