// The runtime services on Qt, for the program.
#pragma once

#include <QElapsedTimer>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QWidget>
#include <map>
#include <string>

#include "runtime/runtime.h"

namespace window {

// Where a message box whose frame is `box` in size goes on `screen` (the
// frame's top-left), so that the operator still sees the main window
// (`window`, its frame) and what the box asks about: below the window, else
// above it, else beside it; on a screen with room for none of these, below
// or above `keep` (the date box's row), which then alone stays in view.
QPoint messageBoxPlace(const QRect& window, const QRect& keep, const QSize& box,
                       const QRect& screen);

// The text with every path in it (between quotes, with a folder separator)
// breakable only after its separators, so that a long path wraps at its
// folders in a message box, not inside a name.
QString pathsBreakingAtSeparators(const QString& text);

class QtRuntime : public runtime::Runtime {
 public:
  // The main window: it bears the mouse pointer, holds the controls that
  // refreshControl names and parents the message boxes while it is shown.
  void setWindow(QWidget* window) { window_ = window; }

  int MsgBox(const std::string& prompt, int style = runtime::kOkOnly,
             const std::optional<std::string>& title = std::nullopt) override;
  void setMousePointer(int pointer) override;
  int mousePointer() const override { return pointer_; }
  // Paints the control before returning; one painted less than a
  // thirtieth of a second ago is painted when the event loop next runs
  // (a screen shows no more frames than that, and each paint waits on the
  // display).
  void refreshControl(const std::string& name) override;
  std::string programDir() const override;
  runtime::Date Now() const override;
  void reportUnhandledError(int number, const std::string& description) override;
  void endProgram(int status) override;

 private:
  QPointer<QWidget> window_;
  int pointer_ = runtime::kPointerDefault;
  std::map<std::string, QElapsedTimer> painted_;  // by control, since its last paint
};

}  // namespace window
