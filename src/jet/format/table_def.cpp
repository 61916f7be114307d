#include "format/table_def.h"

#include <algorithm>
#include <unordered_set>

#include "jet/error.h"
#include "format/text_codec.h"

namespace jet {

namespace {

constexpr uint8_t kTdefPage = 0x02;
constexpr size_t kContinuationHeader = 8;

// Joins the chain of TDEF pages into one buffer: the whole first page, then
// each following page without its 8-byte header.
std::vector<uint8_t> readChain(const PageSource& src, uint32_t first, std::vector<uint32_t>& pages) {
  std::vector<uint8_t> buf;
  std::unordered_set<uint32_t> seen;
  uint32_t pg = first;
  while (pg != 0) {
    if (!seen.insert(pg).second) {
      throwBadFormat(src.path(), "la definición de la tabla en la página " + std::to_string(first) +
                                     " forma un ciclo de páginas");
    }
    ByteView p = src.page(pg);
    if (p.u8(0) != kTdefPage || p.u8(1) != 0x01) {
      throwBadFormat(src.path(), "la página " + std::to_string(pg) +
                                     " no es una definición de tabla");
    }
    pages.push_back(pg);
    size_t skip = buf.empty() ? 0 : kContinuationHeader;
    buf.insert(buf.end(), p.data() + skip, p.data() + p.size());
    pg = p.u32(4);
  }
  return buf;
}

std::string readName(ByteView v, size_t& pos, const Format& f, uint16_t code_page) {
  size_t len = f.name_length_size == 1 ? v.u8(pos) : v.u16(pos);
  pos += f.name_length_size;
  ByteView raw = v.sub(pos, len);
  pos += len;
  (void)code_page;  // Jet 3 names: Windows-1252, the code page of every supported file
  return f.is_jet4() ? decodeUcs2(raw) : decodeCp1252(raw);
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
      for (size_t k = 0; k < 10; ++k) {
        uint16_t col = d.u16(f.real_columns + 3 * k);
        if (col == 0xFFFF) continue;
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

}  // namespace jet
