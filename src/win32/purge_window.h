// The tool's only window on Win32: the date box, the progress display and
// the two buttons in sight; below the visible area the field view of the
// client code and the four record channels.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "purge/purge_form.h"
#include "runtime/runtime.h"

namespace win32 {

// The record channels Data1 to Data4 and the field view Text2 are the form's
// own, wired as every host wires them (purge::FormChannels).
class PurgeWindow : public purge::FormChannels {
 public:
  explicit PurgeWindow(runtime::Runtime& rt);
  ~PurgeWindow();
  PurgeWindow(const PurgeWindow&) = delete;
  PurgeWindow& operator=(const PurgeWindow&) = delete;

  // Start-up as the program runs it, before the window exists
  // (FormChannels::load).
  std::optional<int> load();

  // Makes the window and its controls, hidden, centred on the screen's work
  // area. nullptr when Windows refuses.
  HWND create(HINSTANCE instance);
  // Shows the window with the focus on "Borrar".
  void show(int how);
  // The keyboard of the window's controls, for the message loop: true when
  // the message was taken (Tab between the controls, Enter on a button).
  bool takeKey(MSG& msg);

  // The event handlers (Form_Load is the form wiring's).
  void Command1_Click(int16_t Index);

  // The date box's text.
  std::string text1() const;
  void setText1(const std::string& text);
  // Bar1's maximum and position as the run keeps them, single precision;
  // the control shows them rounded.
  float bar1Max() const { return bar1_max_; }
  float bar1Value() const { return bar1_value_; }
  void setBar1Max(float max);
  void setBar1Value(float value);
  // The filled width of Bar1 in pixels.
  int bar1DrawnLength() const;

 private:
  static LRESULT CALLBACK windowProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);
  LRESULT handle(UINT msg, WPARAM wparam, LPARAM lparam);
  void createControls(HINSTANCE instance);
  void showBar();
  // Runs an event handler; ends the program when it ends in End or an error.
  void dispatch(const std::function<void()>& handler);

  runtime::Runtime& rt_;
  HWND hwnd_ = nullptr;
  HWND text1_ = nullptr, text2_ = nullptr, bar1_ = nullptr;
  HWND command1_[2] = {nullptr, nullptr};
  HWND focus_ = nullptr;  // the control to give the focus back to on activation
  HFONT font_ = nullptr;
  int bar1_width_ = 0;
  float bar1_max_ = 100;
  float bar1_value_ = 0;
};

}  // namespace win32
