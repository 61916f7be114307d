// The runtime services on Qt, for the program.
#pragma once

#include <QPointer>
#include <QWidget>

#include "runtime/runtime.h"

namespace window {

class QtRuntime : public runtime::Runtime {
 public:
  // The main window: it bears the mouse pointer, holds the controls that
  // refreshControl names and parents the message boxes while it is shown.
  void setWindow(QWidget* window) { window_ = window; }

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
  QPointer<QWidget> window_;
  int pointer_ = runtime::kPointerDefault;
};

}  // namespace window
