#include "field_view.h"

#include <cstdio>
#include <cstring>

#include "runtime/regional_dates.h"

namespace db {

namespace {

// Significant digits the runtime shows: 15 for doubles, 7 for singles.
std::string decimalComma(double x, int digits) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*G", digits, x);
  std::string s = buf;
  // Plain notation where %G chose it; exponents stay as the runtime writes them ("1E+20").
  for (char& c : s) {
    if (c == '.') c = ',';
  }
  return s;
}

}  // namespace

std::string boundText(const jet::Value& v) {
  using K = jet::Value::Kind;
  switch (v.kind()) {
    case K::Null:
      return "";
    case K::Bool:
      return v.asBool() ? "Verdadero" : "Falso";
    case K::Int:
      return std::to_string(v.asInt());
    case K::Single:
      return decimalComma(v.asDouble(), 7);
    case K::Double:
      return decimalComma(v.asDouble(), 15);
    case K::Currency: {
      int64_t scaled = v.asInt();
      std::string s = std::to_string(scaled < 0 ? -(scaled / 10000) : scaled / 10000);
      uint64_t frac = static_cast<uint64_t>(scaled < 0 ? -(scaled % 10000) : scaled % 10000);
      std::string out = (scaled < 0 ? "-" : "") + s;
      if (frac != 0) {
        std::string f = std::to_string(10000 + frac).substr(1);
        while (!f.empty() && f.back() == '0') f.pop_back();
        out += "," + f;
      }
      return out;
    }
    case K::Decimal: {
      std::string s = v.asString();
      for (char& c : s) {
        if (c == '.') c = ',';
      }
      return s;
    }
    case K::DateTime:
      return regional::generalForm(jet::splitDateTime(v.asDouble()));
    case K::Text:
      return v.asString();
    case K::Bytes:
    case K::Guid:
      return "";
  }
  return "";
}

FieldView::FieldView(RecordChannel& channel, std::string field) : field_(std::move(field)) {
  channel.onCursorMoved([this](const Recordset& rs) { update(rs); });
}

void FieldView::update(const Recordset& rs) {
  if (rs.hasCurrentRow()) {
    text_ = boundText(rs.field(field_));
  } else if (rs.isEOF() && rs.isBOF()) {
    text_.clear();  // an empty recordset leaves nothing to show
  }
}

}  // namespace db
