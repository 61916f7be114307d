// A form with no window behind it: the date box's text, the bar's value and
// range, and the form's channels, as the purge run reads and writes them.
// The bar is 170 units long, as the window's.
#pragma once

#include <string>
#include <utility>

#include "jet/types.h"
#include "purge/purge_form.h"

namespace testsupport {

class ScriptedForm : public purge::PurgeForm {
 public:
  ScriptedForm(const std::string& path, std::string text1, jet::Os& os = jet::systemOs())
      : text1_(std::move(text1)), ch_(os) {
    ch_.Data1.setDatabaseName(path);
    ch_.Data1.Refresh();
  }
  std::string Text1() const override { return text1_; }
  void setText1(const std::string& t) override { text1_ = t; }
  float Bar1Value() const override { return value_; }
  void setBar1Value(float v) override { value_ = v; }
  void setBar1Max(float m) override { max_ = m; }
  int Bar1DrawnLength() const override {
    return max_ > 0 ? static_cast<int>(170 * value_ / max_) : 0;
  }
  purge::FormChannels& channels() override { return ch_; }

 private:
  std::string text1_;
  float value_ = 0, max_ = 0;
  purge::FormChannels ch_;
};

}  // namespace testsupport
