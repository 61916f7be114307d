// The Windows program: the main window over the client database beside it.
// commctrl.h needs windows.h first.
// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on

#include "win32/purge_window.h"
#include "win32/win32_runtime.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
  // A run holds the window's thread from its start to its end, painting
  // only the progress frame; Windows would put a frozen stand-in over a
  // window that long without messages, hiding the progress.
  DisableProcessWindowsGhosting();
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);

  win32::Win32Runtime rt;
  win32::PurgeWindow w(rt);
  if (std::optional<int> status = w.load()) return *status;
  HWND hwnd = w.create(instance);
  if (!hwnd) {
    rt.reportUnhandledError(jet::errorNumber(jet::Msg::kInternal),
                            jet::errorText(jet::Msg::kInternal, {}));
    return 1;
  }
  rt.setWindow(hwnd);
  w.show(show);

  MSG msg{};
  int got;
  while ((got = GetMessageW(&msg, nullptr, 0, 0)) > 0) {
    if (w.takeKey(msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return got < 0 ? 1 : static_cast<int>(msg.wParam);
}
