#include "win32/win32_runtime.h"

#include <algorithm>
#include <string>

#include "runtime/box_place.h"
#include "win32/control_ids.h"
#include "win32/wide_text.h"

namespace win32 {

namespace {

UINT iconStyle(runtime::MessageBoxLayout::Icon icon) {
  using I = runtime::MessageBoxLayout::Icon;
  switch (icon) {
    case I::Critical:
      return MB_ICONHAND;
    case I::Question:
      return MB_ICONQUESTION;
    case I::Exclamation:
      return MB_ICONEXCLAMATION;
    case I::Information:
      return MB_ICONASTERISK;
    case I::None:
      break;
  }
  return 0;
}

// The button set of a layout: Windows knows the same six sets by the same
// numbers, in the same order, so the layout's set is found by its results.
UINT buttonStyle(const runtime::MessageBoxLayout& layout) {
  std::vector<int> results;
  for (const auto& b : layout.buttons) results.push_back(b.result);
  using V = std::vector<int>;
  if (results == V{IDOK, IDCANCEL}) return MB_OKCANCEL;
  if (results == V{IDABORT, IDRETRY, IDIGNORE}) return MB_ABORTRETRYIGNORE;
  if (results == V{IDYES, IDNO, IDCANCEL}) return MB_YESNOCANCEL;
  if (results == V{IDYES, IDNO}) return MB_YESNO;
  if (results == V{IDRETRY, IDCANCEL}) return MB_RETRYCANCEL;
  return MB_OK;
}

runtime::ScreenRect screenRect(const RECT& r) {
  return {r.left, r.top, r.right - r.left, r.bottom - r.top};
}

// The box being opened: a hook on this thread sees it become active, before
// it is drawn, and gives its buttons their Spanish captions and the box its
// place clear of the main window. The system's own captions follow the
// system's language, which on an operator's machine need not be Spanish.
struct OpeningBox {
  const runtime::MessageBoxLayout* layout = nullptr;
  HWND window = nullptr;  // the main window when shown
  HHOOK hook = nullptr;
  bool done = false;
};
thread_local OpeningBox* opening = nullptr;

void placeClearOf(HWND box, HWND window) {
  RECT box_frame, frame, date;
  if (!GetWindowRect(box, &box_frame) || !GetWindowRect(window, &frame)) return;
  runtime::ScreenRect keep = screenRect(frame);
  if (HWND text1 = findControl(window, kIdText1); text1 && GetWindowRect(text1, &date)) {
    keep.height = date.bottom - frame.top;
  }
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  if (!GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &monitor)) return;
  const runtime::ScreenRect b = screenRect(box_frame);
  const runtime::ScreenPoint p = runtime::messageBoxPlace(screenRect(frame), keep, b.width,
                                                          b.height, screenRect(monitor.rcWork));
  SetWindowPos(box, nullptr, p.x, p.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

LRESULT CALLBACK openingHook(int code, WPARAM wparam, LPARAM lparam) {
  OpeningBox* o = opening;
  if (o && !o->done && code == HCBT_ACTIVATE) {
    HWND box = reinterpret_cast<HWND>(wparam);
    wchar_t cls[16] = {};
    GetClassNameW(box, cls, 16);
    if (std::wstring_view(cls) == L"#32770") {
      o->done = true;
      for (const auto& b : o->layout->buttons) {
        std::string caption = runtime::marksAccessKey(b.result) ? "&" + b.caption : b.caption;
        SetDlgItemTextW(box, b.result, widen(caption).c_str());
      }
      if (o->window) placeClearOf(box, o->window);
    }
  }
  return CallNextHookEx(o ? o->hook : nullptr, code, wparam, lparam);
}

}  // namespace

HWND findControl(HWND window, int id) {
  struct Search {
    int id;
    HWND found;
  } search{id, nullptr};
  EnumChildWindows(
      window,
      [](HWND child, LPARAM p) -> BOOL {
        auto* s = reinterpret_cast<Search*>(p);
        if (GetDlgCtrlID(child) != s->id) return TRUE;
        s->found = child;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

int Win32Runtime::showBox(const std::string& prompt, const runtime::MessageBoxLayout& layout) {
  HWND owner = window_ && IsWindowVisible(window_) ? window_ : nullptr;
  UINT type = buttonStyle(layout) | iconStyle(layout.icon) | MB_SETFOREGROUND;
  type |= layout.default_button == 1   ? MB_DEFBUTTON2
          : layout.default_button == 2 ? MB_DEFBUTTON3
                                       : 0;
  type |= owner ? MB_APPLMODAL : MB_TASKMODAL;

  OpeningBox box{&layout, owner, nullptr, false};
  box.hook = SetWindowsHookExW(WH_CBT, openingHook, nullptr, GetCurrentThreadId());
  OpeningBox* outer = opening;
  opening = &box;
  const int pressed = MessageBoxW(owner, widen(prompt).c_str(), widen(layout.title).c_str(), type);
  opening = outer;
  if (box.hook) UnhookWindowsHookEx(box.hook);

  // A run holds the thread once the box is gone: the window is painted whole
  // now, or what the box covered would stay on screen until the run's end.
  if (owner && IsWindow(owner)) {
    RedrawWindow(owner, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
  }
  for (const auto& b : layout.buttons) {
    if (b.result == pressed) return pressed;
  }
  // Closed without a button: the default answers.
  return layout.buttons[layout.default_button].result;
}

int Win32Runtime::MsgBox(const std::string& prompt, int style,
                         const std::optional<std::string>& title) {
  return showBox(prompt, runtime::messageBoxLayout(style, title));
}

void Win32Runtime::setMousePointer(int pointer) {
  pointer_ = pointer;
  if (!window_) return;
  // The window answers WM_SETCURSOR with the pointer from now on; while a
  // run holds the thread it gets no such message, so the pointer is set at
  // once when it lies over the window.
  POINT at;
  if (!GetCursorPos(&at)) return;
  HWND under = WindowFromPoint(at);
  if (under == window_ || IsChild(window_, under)) {
    SetCursor(LoadCursorW(nullptr, pointer == runtime::kPointerHourglass ? IDC_WAIT : IDC_ARROW));
  }
}

void Win32Runtime::refreshControl(const std::string& name) {
  HWND control = nullptr;
  for (const ControlName& c : kControlNames) {
    if (window_ && name == c.name) control = findControl(window_, c.id);
  }
  if (!control) throw jet::JetError(jet::Msg::kObjectRequired);
  RedrawWindow(control, nullptr, nullptr,
               RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
}

std::string Win32Runtime::programDir() const {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) throw jet::JetError(jet::Msg::kInternal);
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    path.resize(path.size() * 2);  // cut short: a longer path
  }
  const size_t slash = path.find_last_of(L"\\/");
  return narrow(slash == std::wstring::npos ? std::wstring_view(path)
                                            : std::wstring_view(path).substr(0, slash));
}

runtime::Date Win32Runtime::Now() const {
  SYSTEMTIME t;
  GetLocalTime(&t);
  return runtime::toDateValue({t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond});
}

void Win32Runtime::reportUnhandledError(int number, const std::string& description) {
  showBox(runtime::unhandledErrorText(number, description),
          runtime::messageBoxLayout(runtime::kOkOnly + runtime::kCritical, std::nullopt));
}

void Win32Runtime::endProgram(int status) {
  if (window_) {
    HWND w = window_;
    window_ = nullptr;
    DestroyWindow(w);
  }
  PostQuitMessage(status);
}

}  // namespace win32
