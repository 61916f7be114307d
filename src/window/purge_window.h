// The tool's only window: the date box, the progress display and the two
// buttons in sight; below the visible area the field view of the client code
// and the four record channels.
#pragma once

#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QWidget>
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "purge/purge_form.h"
#include "runtime/runtime.h"
#include "window/form_layout.h"

namespace window {

// The record channels Data1 to Data4 and the field view Text2 are the form's
// own, wired as every host wires them (purge::FormChannels).
class PurgeWindow : public QWidget, public purge::FormChannels {
 public:
  explicit PurgeWindow(runtime::Runtime& rt, QWidget* parent = nullptr);

  // Start-up as the program runs it, before the window is shown
  // (FormChannels::load).
  std::optional<int> load();

  // The event handlers (Form_Load is the form wiring's).
  void Command1_Click(int16_t Index);

  // The controls, by their names.
  QLabel* Label1;
  QLineEdit* Text1;
  QLabel* Label2;
  QFrame* Frame1;
  QProgressBar* Bar1;
  std::array<QPushButton*, 2> Command1;

  // The date box's text.
  std::string text1() const;
  void setText1(const std::string& text);
  // Bar1's maximum and position as the run keeps them, single precision;
  // the widget shows them rounded.
  float bar1Max() const { return bar1_max_; }
  float bar1Value() const { return bar1_value_; }
  void setBar1Max(float max);
  void setBar1Value(float value);
  // The filled width of Bar1 in pixels.
  int bar1DrawnLength() const;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  // Runs an event handler; ends the program when it ends in End or an error.
  void dispatch(const std::function<void()>& handler);

  // The field view's box takes the field view's text.
  void showText2();

  runtime::Runtime& rt_;
  QLineEdit* text2_box_;    // the field view's box, out of sight
  bool text2_due_ = false;  // it has yet to take the field view's text
  float bar1_max_ = 100;
  float bar1_value_ = 0;
};

}  // namespace window
