#include "format/properties.h"

#include <cstring>

#include "format/text_codec.h"
#include "jet/column.h"

namespace jet {

namespace {

constexpr uint16_t kNameList = 0x80;

std::string readName(ByteView b, size_t& pos, bool jet4) {
  size_t len = b.u16(pos);
  ByteView raw = b.sub(pos + 2, len);
  pos += 2 + len;
  return jet4 ? decodeUcs2(raw) : decodeCp1252(raw);
}

}  // namespace

const Property* PropertyBlock::find(std::string_view wanted) const {
  for (const Property& p : properties) {
    if (equalsIgnoreCase(p.name, wanted)) return &p;
  }
  return nullptr;
}

const PropertyBlock* findBlock(const std::vector<PropertyBlock>& blocks, std::string_view name) {
  for (const PropertyBlock& b : blocks) {
    if (equalsIgnoreCase(b.name, name)) return &b;
  }
  return nullptr;
}

std::vector<PropertyBlock> parseProperties(const std::string& blob, const ValueDecoder& decoder,
                                           bool jet4) {
  std::vector<PropertyBlock> blocks;
  ByteView all(reinterpret_cast<const uint8_t*>(blob.data()), blob.size());
  if (all.size() < 4 ||
      (std::memcmp(all.data(), "MR2", 4) != 0 && std::memcmp(all.data(), "KKD", 4) != 0)) {
    return blocks;
  }
  std::vector<std::string> names;
  size_t pos = 4;
  while (pos + 6 <= all.size()) {
    const size_t len = all.u32(pos);
    const uint16_t type = all.u16(pos + 4);
    if (len < 6) throw OutOfRange("bloque de propiedades");
    ByteView chunk = all.sub(pos + 6, len - 6);
    pos += len;
    size_t p = 0;
    if (type == kNameList) {
      while (p < chunk.size()) names.push_back(readName(chunk, p, jet4));
      continue;
    }
    PropertyBlock block;
    if (chunk.size() >= 4) {
      const size_t header = chunk.u32(0);
      if (header < 4) throw OutOfRange("nombre de bloque de propiedades");
      if (header > 6) {
        size_t q = 4;
        block.name = readName(chunk, q, jet4);
      }
      p = header;
    }
    while (p + 8 <= chunk.size()) {
      const size_t value_len = chunk.u16(p);
      if (value_len < 8) throw OutOfRange("propiedad");
      ByteView entry = chunk.sub(p, value_len);
      p += value_len;
      Property prop;
      prop.type_code = entry.u8(3);
      const uint16_t name_index = entry.u16(4);
      const size_t data_size = entry.u16(6);
      ByteView data = entry.sub(8, data_size);
      if (name_index < names.size()) prop.name = names[name_index];
      Column c;
      c.type_code = prop.type_code;
      c.length = static_cast<uint16_t>(data_size);
      if (c.type() == ColumnType::Boolean) {
        prop.value = Value::boolean(data_size > 0 && data.u8(0) != 0);
      } else if (c.type() == ColumnType::Memo) {
        prop.value = Value::text(decoder.decodeText(data));
      } else if (c.type() == ColumnType::Ole) {
        prop.value =
            Value::bytes(std::string(reinterpret_cast<const char*>(data.data()), data.size()));
      } else {
        prop.value = decoder.decodeBytes(c, data);
      }
      block.properties.push_back(std::move(prop));
    }
    blocks.push_back(std::move(block));
  }
  return blocks;
}

}  // namespace jet
