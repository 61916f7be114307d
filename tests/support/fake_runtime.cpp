#include "support/fake_runtime.h"

namespace testsupport {

int FakeRuntime::MsgBox(const std::string& prompt, int style,
                        const std::optional<std::string>& title) {
  runtime::MessageBoxLayout layout = runtime::messageBoxLayout(style, title);
  messages.push_back({prompt, style, title});
  if (answers.empty()) return layout.buttons[layout.default_button].result;
  int answer = answers.front();
  answers.pop_front();
  return answer;
}

}  // namespace testsupport
