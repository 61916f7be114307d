// A scripted stand-in for the runtime services: message boxes answer from a
// script and are recorded, Now is set by the test, and the pointer, the
// repaints, the error reports and the end of the program are recorded.
#pragma once

#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "runtime/runtime.h"

namespace testsupport {

class FakeRuntime : public runtime::Runtime {
 public:
  struct Message {
    std::string prompt;
    int style;
    std::optional<std::string> title;
  };
  struct ErrorReport {
    int number;
    std::string description;
  };

  // The answers of the coming message boxes, in order; a box with no
  // scripted answer returns its default button's result.
  std::deque<int> answers;
  std::vector<Message> messages;
  std::vector<int> pointers;          // every pointer value set
  std::vector<std::string> repaints;  // every control repainted
  std::vector<ErrorReport> errors;    // unhandled errors reported
  std::vector<int> ends;              // exit statuses the program ended with
  std::string program_dir = ".";
  jet::DateTimeParts now{2026, 12, 6, 9, 15, 30};

  int MsgBox(const std::string& prompt, int style = runtime::kOkOnly,
             const std::optional<std::string>& title = std::nullopt) override;
  void setMousePointer(int pointer) override { pointers.push_back(pointer); }
  int mousePointer() const override {
    return pointers.empty() ? runtime::kPointerDefault : pointers.back();
  }
  void refreshControl(const std::string& name) override { repaints.push_back(name); }
  std::string programDir() const override { return program_dir; }
  runtime::Date Now() const override { return runtime::toDateValue(now); }
  void reportUnhandledError(int number, const std::string& description) override {
    errors.push_back({number, description});
  }
  void endProgram(int status) override { ends.push_back(status); }
};

}  // namespace testsupport
