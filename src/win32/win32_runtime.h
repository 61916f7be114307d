// The runtime services on Win32, for the Windows program.
#pragma once

#include <windows.h>

#include "runtime/runtime.h"

namespace win32 {

// The child of `window` (at any depth) whose control number is `id`.
HWND findControl(HWND window, int id);

class Win32Runtime : public runtime::Runtime {
 public:
  // The main window: it bears the mouse pointer, holds the controls that
  // refreshControl names and owns the message boxes while it is shown.
  void setWindow(HWND window) { window_ = window; }

  // In Spanish whatever the system's language: the buttons are renamed as
  // the box opens.
  int MsgBox(const std::string& prompt, int style = runtime::kOkOnly,
             const std::optional<std::string>& title = std::nullopt) override;
  void setMousePointer(int pointer) override;
  int mousePointer() const override { return pointer_; }
  void refreshControl(const std::string& name) override;
  std::string programDir() const override;
  runtime::Date Now() const override;
  void reportUnhandledError(int number, const std::string& description) override;
  void endProgram(int status) override;

 private:
  int showBox(const std::string& prompt, const runtime::MessageBoxLayout& layout);

  HWND window_ = nullptr;
  int pointer_ = runtime::kPointerDefault;
};

}  // namespace win32
