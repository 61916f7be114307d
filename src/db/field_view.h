// A text box bound to a field of a channel: it shows the field's value of
// the current row as text, refreshed whenever the channel opens a recordset
// or moves onto a row.
#pragma once

#include <string>

#include "db/record_channel.h"
#include "jet/value.h"

namespace db {

class FieldView {
 public:
  FieldView(RecordChannel& channel, std::string field);

  const std::string& text() const { return text_; }

 private:
  void update(const Recordset& rs);

  std::string field_;
  std::string text_;
};

// A value as a bound text box shows it under the Spanish regional rules:
// integers as plain digits, decimals with a decimal comma, dates in the
// general date form, empty for null.
std::string boundText(const jet::Value& v);

}  // namespace db
