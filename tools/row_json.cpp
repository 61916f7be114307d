#include "row_json.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace tools {

namespace {

template <typename F>
std::string shortest(F x) {
  if (!std::isfinite(x))
    return std::isnan(x) ? "\"NaN\"" : (x > 0 ? "\"Infinity\"" : "\"-Infinity\"");
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, x);
  return std::string(buf, res.ptr);
}

std::string currency(int64_t scaled) {
  bool neg = scaled < 0;
  uint64_t mag = neg ? 0 - static_cast<uint64_t>(scaled) : static_cast<uint64_t>(scaled);
  char buf[48];
  std::snprintf(buf, sizeof buf, "\"%s%llu.%04llu\"", neg ? "-" : "",
                static_cast<unsigned long long>(mag / 10000),
                static_cast<unsigned long long>(mag % 10000));
  return buf;
}

std::string dateTime(double days) {
  jet::DateTimeParts p = jet::splitDateTime(days);
  char buf[48];
  std::snprintf(buf, sizeof buf, "\"%04d-%02d-%02dT%02d:%02d:%02d\"", p.year, p.month, p.day,
                p.hour, p.minute, p.second);
  return buf;
}

std::string hex(const std::string& raw) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out = "\"";
  for (unsigned char c : raw) {
    out.push_back(kDigits[c >> 4]);
    out.push_back(kDigits[c & 15]);
  }
  return out + "\"";
}

std::string guid(const std::string& g) {
  auto b = [&](size_t i) { return static_cast<unsigned>(static_cast<unsigned char>(g[i])); };
  char buf[48];
  std::snprintf(buf, sizeof buf,
                "\"{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}\"", b(3),
                b(2), b(1), b(0), b(5), b(4), b(7), b(6), b(8), b(9), b(10), b(11), b(12), b(13),
                b(14), b(15));
  return buf;
}

std::string jsonString(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out.push_back(static_cast<char>(c));
        }
    }
  }
  return out + "\"";
}

std::string valueToJson(const jet::Value& v) {
  using K = jet::Value::Kind;
  switch (v.kind()) {
    case K::Null:
      return "null";
    case K::Bool:
      return v.asBool() ? "true" : "false";
    case K::Int:
      return std::to_string(v.asInt());
    case K::Single:
      return shortest(static_cast<float>(v.asDouble()));
    case K::Double:
      return shortest(v.asDouble());
    case K::Currency:
      return currency(v.asInt());
    case K::Decimal:
      return jsonString(v.asString());
    case K::DateTime:
      return dateTime(v.asDouble());
    case K::Text:
      return jsonString(v.asString());
    case K::Bytes:
      return hex(v.asString());
    case K::Guid:
      return guid(v.asString());
  }
  return "null";
}

}  // namespace

std::string rowToJson(const jet::TableDef& def, const std::vector<jet::Value>& row) {
  std::string out = "{";
  for (size_t i = 0; i < def.columns.size() && i < row.size(); ++i) {
    if (i) out += ",";
    out += jsonString(def.columns[i].name);
    out += ":";
    out += valueToJson(row[i]);
  }
  return out + "}";
}

}  // namespace tools
