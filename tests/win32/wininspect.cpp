// Looks at the Windows program's windows from outside, as the tests under
// Wine need: what a screenshot cannot say exactly (the controls' rectangles,
// the buttons' captions, the focus, the tab order, the frame's style).
//   wininspect window TITLE   the main window: DPI, client size, frame
//                             style, focus, tab order, and every
//                             control with its class, text and rectangle
//   wininspect box TITLE      a message box: its text and buttons (caption,
//                             number, whether default), icon and focus
//   wininspect icons EXE      the images of the program file's icon
// Prints UTF-8 lines; exit status 1 when no window bears the title.
// commctrl.h needs windows.h first.
// clang-format off
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
// clang-format on

#include <cstdio>
#include <string>
#include <string_view>

#include "win32/control_ids.h"
#include "win32/wide_text.h"

namespace {

using win32::narrow;

void print(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
}

// A window's text, asked of its own thread (an edit box's content is known
// only there); the program may be busy for a while.
std::string textOf(HWND w) {
  wchar_t buf[512] = {};
  DWORD_PTR got = 0;
  if (!SendMessageTimeoutW(w, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(buf), SMTO_BLOCK, 5000,
                           &got)) {
    return "?";
  }
  return narrow(std::wstring_view(buf, got));
}

std::string classOf(HWND w) {
  wchar_t buf[64] = {};
  GetClassNameW(w, buf, 64);
  return narrow(buf);
}

std::string nameOf(HWND w) {
  const int id = GetDlgCtrlID(w);
  for (const auto& c : win32::kControlNames) {
    if (c.id == id) return c.name;
  }
  return "#" + std::to_string(id);
}

std::string rectText(const RECT& r) {
  return std::to_string(r.left) + " " + std::to_string(r.top) + " " +
         std::to_string(r.right - r.left) + " " + std::to_string(r.bottom - r.top);
}

// A child's rectangle in its parent's client coordinates.
RECT placeOf(HWND w) {
  RECT r;
  GetWindowRect(w, &r);
  MapWindowPoints(nullptr, GetParent(w), reinterpret_cast<POINT*>(&r), 2);
  return r;
}

HWND focusOf(HWND top) {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  if (!GetGUIThreadInfo(GetWindowThreadProcessId(top, nullptr), &info)) return nullptr;
  return info.hwndFocus;
}

void showWindow(HWND top) {
  HDC screen = GetDC(nullptr);
  print("dpi " + std::to_string(GetDeviceCaps(screen, LOGPIXELSX)) + " " +
        std::to_string(GetDeviceCaps(screen, LOGPIXELSY)));
  ReleaseDC(nullptr, screen);
  RECT client, frame, work;
  GetClientRect(top, &client);
  GetWindowRect(top, &frame);
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  print("client " + std::to_string(client.right) + " " + std::to_string(client.bottom));
  print("frame " + rectText(frame));
  print("workarea " + rectText(work));
  const LONG style = GetWindowLongW(top, GWL_STYLE);
  auto has = [&](LONG bit) { return std::string((style & bit) ? "1" : "0"); };
  print("style caption=" + has(WS_CAPTION) + " sysmenu=" + has(WS_SYSMENU) +
        " sizable=" + has(WS_THICKFRAME) + " minimize=" + has(WS_MINIMIZEBOX) +
        " maximize=" + has(WS_MAXIMIZEBOX));
  HWND focus = focusOf(top);
  print("focus " + (focus ? nameOf(focus) : std::string("none")));
  // The tab order from the first control that takes the focus, round to it.
  std::string tabs = "tab";
  HWND first = GetNextDlgTabItem(top, nullptr, FALSE);
  HWND at = first;
  for (int i = 0; at && i < 10; ++i) {
    tabs += " " + nameOf(at);
    at = GetNextDlgTabItem(top, at, FALSE);
    if (at == first) {
      tabs += " " + nameOf(at);
      break;
    }
  }
  print(tabs);
  EnumChildWindows(
      top,
      [](HWND child, LPARAM) -> BOOL {
        const LONG s = GetWindowLongW(child, GWL_STYLE);
        std::string line = "control " + nameOf(child) + " " + classOf(child) + " \"" +
                           textOf(child) + "\" " + rectText(placeOf(child));
        if (GetParent(child) != GetAncestor(child, GA_ROOT))
          line += " in " + nameOf(GetParent(child));
        if (s & WS_TABSTOP) line += " tabstop";
        if (!(s & WS_VISIBLE)) line += " hidden";
        if (classOf(child) == "msctls_progress32") {
          DWORD_PTR low = 0, high = 0, pos = 0;
          SendMessageTimeoutW(child, PBM_GETRANGE, TRUE, 0, SMTO_BLOCK, 5000, &low);
          SendMessageTimeoutW(child, PBM_GETRANGE, FALSE, 0, SMTO_BLOCK, 5000, &high);
          SendMessageTimeoutW(child, PBM_GETPOS, 0, 0, SMTO_BLOCK, 5000, &pos);
          line += " range " + std::to_string(low) + " " + std::to_string(high) + " pos " +
                  std::to_string(pos);
        }
        print(line);
        return TRUE;
      },
      0);
}

void showBox(HWND box) {
  print("class " + classOf(box));
  HWND focus = focusOf(box);
  EnumChildWindows(
      box,
      [](HWND child, LPARAM focus) -> BOOL {
        const std::string cls = classOf(child);
        const LONG s = GetWindowLongW(child, GWL_STYLE);
        if (cls == "Button") {
          std::string line =
              "button " + std::to_string(GetDlgCtrlID(child)) + " \"" + textOf(child) + "\"";
          if ((s & BS_TYPEMASK) == BS_DEFPUSHBUTTON) line += " default";
          if (child == reinterpret_cast<HWND>(focus)) line += " focus";
          print(line);
        } else if (cls == "Static" && (s & SS_TYPEMASK) == SS_ICON) {
          // A box without an icon may keep the place for one, empty.
          DWORD_PTR icon = 0;
          SendMessageTimeoutW(child, STM_GETICON, 0, 0, SMTO_BLOCK, 5000, &icon);
          if ((s & WS_VISIBLE) && icon) print("icon");
        } else if (cls == "Static") {
          const std::string text = textOf(child);
          if (!text.empty()) print("text \"" + text + "\"");
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(focus));
}

// The icon group resource 1 as the file holds it: each image's size and colours.
int showIcons(const std::wstring& exe) {
  HMODULE file = LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  HRSRC group =
      file ? FindResourceW(file, MAKEINTRESOURCEW(win32::kIconResource), RT_GROUP_ICON) : nullptr;
  const auto* data =
      group ? static_cast<const BYTE*>(LockResource(LoadResource(file, group))) : nullptr;
  if (!data) {
    print("no icon");
    return 1;
  }
  const int count = data[4] | data[5] << 8;
  for (int i = 0; i < count; ++i) {
    const BYTE* entry = data + 6 + 14 * i;  // width, height, colours, reserved, planes, bits...
    const int bits = entry[6] | entry[7] << 8;
    print("image " + std::to_string(entry[0] ? entry[0] : 256) + "x" +
          std::to_string(entry[1] ? entry[1] : 256) + " colours " + std::to_string(entry[2]) +
          " bits " + std::to_string(bits));
  }
  return 0;
}

}  // namespace

int main() {
  // The title in UTF-16 as given, whatever the system's code page.
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (!argv || argc != 3) {
    std::fprintf(stderr, "usage: wininspect window|box TITLE, wininspect icons EXE\n");
    return 2;
  }
  const std::wstring what = argv[1];
  const std::wstring title = argv[2];
  if (what == L"icons") return showIcons(title);
  HWND top = FindWindowW(what == L"box" ? L"#32770" : nullptr, title.c_str());
  if (!top) {
    print("wininspect: no window \"" + narrow(title) + "\"");
    return 1;
  }
  if (what == L"box") {
    showBox(top);
  } else {
    showWindow(top);
  }
  return 0;
}
