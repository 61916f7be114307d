#include "win32/purge_window.h"

#include <commctrl.h>

#include <algorithm>
#include <climits>
#include <string>

#include "db/schema.h"
#include "purge/purge_run.h"
#include "win32/control_ids.h"
#include "win32/spanish_menus.h"
#include "win32/wide_text.h"
#include "window/form_layout.h"

namespace win32 {

namespace {

constexpr wchar_t kWindowClass[] = L"BorrarInactivosPorFechas";

// The platform's message font at the largest size, 8 points or less, at
// which the labels' captions fit their places (the layout was made for an
// 8-point font).
HFONT labelFont(HWND window, int dpi, int label1_width, int label2_width, int label_height) {
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  LOGFONTW face{};
  if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
    face = metrics.lfMessageFont;
  } else {
    GetObjectW(GetStockObject(DEFAULT_GUI_FONT), sizeof face, &face);
  }
  HDC dc = GetDC(window);
  HFONT font = nullptr;
  for (double points = window::kFontPointsMax; points > window::kFontPointsMin;
       points -= window::kFontPointsStep) {
    if (font) DeleteObject(font);
    face.lfHeight = -static_cast<LONG>(points * dpi / 72.0 + 0.5);
    font = CreateFontIndirectW(&face);
    HGDIOBJ before = SelectObject(dc, font);
    SIZE fecha{}, estado{};
    TEXTMETRICW m{};
    const std::wstring label1 = widen(window::kLabel1Caption);
    const std::wstring label2 = widen(window::kLabel2Caption);
    GetTextExtentPoint32W(dc, label1.c_str(), static_cast<int>(label1.size()), &fecha);
    GetTextExtentPoint32W(dc, label2.c_str(), static_cast<int>(label2.size()), &estado);
    GetTextMetricsW(dc, &m);
    SelectObject(dc, before);
    if (fecha.cx <= label1_width && estado.cx <= label2_width && m.tmHeight <= label_height) break;
  }
  ReleaseDC(window, dc);
  return font;
}

}  // namespace

PurgeWindow::PurgeWindow(runtime::Runtime& rt) : rt_(rt) {
  // The box shows the field view's text; the field view, wired first, has
  // taken the new row by then.
  Data1.onCursorMoved([this](const db::Recordset&) {
    if (text2_) SetWindowTextW(text2_, widen(Text2.text()).c_str());
  });
}

PurgeWindow::~PurgeWindow() {
  if (hwnd_) DestroyWindow(hwnd_);
  if (font_) DeleteObject(font_);
}

std::optional<int> PurgeWindow::load() {
  return FormChannels::load(rt_, "\\");
}

HWND PurgeWindow::create(HINSTANCE instance) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = windowProc;
  wc.hInstance = instance;
  wc.hIcon = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(kIconResource), IMAGE_ICON,
                                           GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON),
                                           LR_DEFAULTCOLOR));
  wc.hIconSm = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(kIconResource), IMAGE_ICON,
                                             GetSystemMetrics(SM_CXSMICON),
                                             GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kWindowClass;
  if (!RegisterClassExW(&wc)) return nullptr;

  HDC screen = GetDC(nullptr);
  const int dpi_x = GetDeviceCaps(screen, LOGPIXELSX);
  const int dpi_y = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);

  // A fixed single border with the close box alone: neither resizable nor
  // minimisable nor maximisable.
  const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
  RECT frame{0, 0, window::twipsToPixels(window::kClientWidth, dpi_x),
             window::twipsToPixels(window::kClientHeight, dpi_y)};
  AdjustWindowRectEx(&frame, style, FALSE, 0);
  const int width = frame.right - frame.left, height = frame.bottom - frame.top;
  RECT work{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  const int x = work.left + (work.right - work.left - width) / 2;
  const int y = work.top + (work.bottom - work.top - height) / 2;

  hwnd_ = CreateWindowExW(0, kWindowClass, widen(window::kWindowTitle).c_str(), style, x, y, width,
                          height, nullptr, nullptr, instance, this);
  if (!hwnd_) return nullptr;

  auto place = [&](HWND parent, const wchar_t* cls, const char* text, DWORD kind, DWORD extended,
                   int id, const window::Twips& t) {
    HWND h = CreateWindowExW(
        extended, cls, widen(text).c_str(), WS_CHILD | WS_VISIBLE | kind,
        window::twipsToPixels(t.left, dpi_x), window::twipsToPixels(t.top, dpi_y),
        window::twipsToPixels(t.width, dpi_x), window::twipsToPixels(t.height, dpi_y), parent,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
    return h;
  };
  // Created in tab order: the buttons, then the date box; the rest takes no focus.
  command1_[0] = place(hwnd_, WC_BUTTONW, window::kBorrarCaption, BS_PUSHBUTTON | WS_TABSTOP, 0,
                       kIdBorrar, window::kBorrar);
  command1_[1] = place(hwnd_, WC_BUTTONW, window::kSalirCaption, BS_PUSHBUTTON | WS_TABSTOP, 0,
                       kIdSalir, window::kSalir);
  text1_ = place(hwnd_, WC_EDITW, "", ES_AUTOHSCROLL | WS_TABSTOP, WS_EX_CLIENTEDGE, kIdText1,
                 window::kText1);
  HWND label1 = place(hwnd_, WC_STATICW, window::kLabel1Caption, SS_LEFT | SS_NOPREFIX, 0,
                      kIdLabel1, window::kLabel1);
  HWND label2 = place(hwnd_, WC_STATICW, window::kLabel2Caption, SS_LEFT | SS_NOPREFIX, 0,
                      kIdLabel2, window::kLabel2);
  HWND frame1 =
      place(hwnd_, WC_STATICW, "", SS_LEFT | WS_CLIPCHILDREN, 0, kIdFrame1, window::kFrame1);
  bar1_ = place(frame1, PROGRESS_CLASSW, "", 0, 0, kIdBar1, window::kBar1);
  // Out of sight: the field view's box, which takes no focus (a focus the
  // operator cannot see would leave them lost), and the channels' places.
  text2_ = place(hwnd_, WC_EDITW, Text2.text().c_str(), ES_AUTOHSCROLL | ES_READONLY,
                 WS_EX_CLIENTEDGE, kIdText2, window::kText2);
  for (int i = 0; i < 4; ++i) {
    place(hwnd_, WC_STATICW, "", SS_LEFT, 0, kIdData1 + i, window::kData[i]);
  }
  if (!command1_[0] || !command1_[1] || !text1_ || !label1 || !label2 || !frame1 || !bar1_ ||
      !text2_) {
    DestroyWindow(hwnd_);
    hwnd_ = nullptr;
    return nullptr;
  }

  RECT bar;
  GetClientRect(bar1_, &bar);
  bar1_width_ = bar.right - bar.left;
  showBar();

  RECT l1, l2;
  GetClientRect(label1, &l1);
  GetClientRect(label2, &l2);
  font_ = labelFont(hwnd_, dpi_y, l1.right, l2.right, std::min(l1.bottom, l2.bottom));
  EnumChildWindows(
      hwnd_,
      [](HWND child, LPARAM font) -> BOOL {
        SendMessageW(child, WM_SETFONT, static_cast<WPARAM>(font), FALSE);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(font_));

  // The icons on the window itself too, where the taskbar and Alt+Tab look.
  SendMessageW(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(wc.hIcon));
  SendMessageW(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(wc.hIconSm));
  giveSpanishMenus(hwnd_, text1_);
  focus_ = command1_[0];
  return hwnd_;
}

void PurgeWindow::show(int how) {
  ShowWindow(hwnd_, how);
  UpdateWindow(hwnd_);
  SetFocus(command1_[0]);
}

bool PurgeWindow::takeKey(MSG& msg) {
  if (!hwnd_ || !IsWindow(hwnd_)) return false;
  // Enter presses the button that has the focus, as in a dialog; the dialog
  // manager below would send it to a default button, and there is none.
  if (msg.message == WM_KEYDOWN && msg.wParam == VK_RETURN &&
      (msg.hwnd == command1_[0] || msg.hwnd == command1_[1])) {
    SendMessageW(msg.hwnd, BM_CLICK, 0, 0);
    return true;
  }
  return IsDialogMessageW(hwnd_, &msg);
}

std::string PurgeWindow::text1() const {
  std::wstring text(static_cast<size_t>(GetWindowTextLengthW(text1_)) + 1, L'\0');
  text.resize(
      static_cast<size_t>(GetWindowTextW(text1_, text.data(), static_cast<int>(text.size()))));
  return narrow(text);
}

// The box shows the start of the date, the day, even when the whole of it
// (a date with a time) is wider than the box.
void PurgeWindow::setText1(const std::string& text) {
  SetWindowTextW(text1_, widen(text).c_str());
  SendMessageW(text1_, EM_SETSEL, 0, 0);
  SendMessageW(text1_, EM_SCROLLCARET, 0, 0);
}

void PurgeWindow::setBar1Max(float max) {
  bar1_max_ = max;
  showBar();
}

void PurgeWindow::setBar1Value(float value) {
  bar1_value_ = value;
  showBar();
}

void PurgeWindow::showBar() {
  const int max = window::barUnits(bar1_max_);
  const int pos = std::min(window::barUnits(bar1_value_), max);
  SendMessageW(bar1_, PBM_SETRANGE32, 0, max);
  // The themed bar slides up to a higher position with a timer, which never
  // ticks while the run holds the thread; a lower position it takes at once.
  // So the bar is taken one past the position and back.
  if (pos < max) {
    SendMessageW(bar1_, PBM_SETPOS, pos + 1, 0);
  } else if (max < INT_MAX) {
    SendMessageW(bar1_, PBM_SETRANGE32, 0, max + 1);
    SendMessageW(bar1_, PBM_SETPOS, max + 1, 0);
    SendMessageW(bar1_, PBM_SETPOS, max, 0);
    SendMessageW(bar1_, PBM_SETRANGE32, 0, max);
  }
  SendMessageW(bar1_, PBM_SETPOS, pos, 0);
}

int PurgeWindow::bar1DrawnLength() const {
  return window::barDrawnLength(bar1_value_, bar1_max_, bar1_width_);
}

void PurgeWindow::Command1_Click(int16_t Index) {
  switch (Index) {
    case 0: {
      window::FormOf<PurgeWindow> form(*this);
      purge::runPurge(rt_, form);
      break;
    }
    case 1:
      rt_.End();
    default:
      break;
  }
}

void PurgeWindow::dispatch(const std::function<void()>& handler) {
  if (std::optional<int> status = runtime::runEvent(rt_, handler)) rt_.endProgram(*status);
}

LRESULT CALLBACK PurgeWindow::windowProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (msg == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lparam);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<PurgeWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!self) return DefWindowProcW(hwnd, msg, wparam, lparam);
  if (msg == WM_NCDESTROY) {
    self->hwnd_ = nullptr;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    return DefWindowProcW(hwnd, msg, wparam, lparam);
  }
  self->hwnd_ = hwnd;  // from WM_NCCREATE on, before CreateWindowExW returns
  return self->handle(msg, wparam, lparam);
}

LRESULT PurgeWindow::handle(UINT msg, WPARAM wparam, LPARAM lparam) {
  switch (msg) {
    case WM_COMMAND:
      if (HIWORD(wparam) == BN_CLICKED) {
        const int id = LOWORD(wparam);
        if (id == kIdBorrar || id == kIdSalir) {
          const int16_t index = id == kIdBorrar ? 0 : 1;
          dispatch([this, index] { Command1_Click(index); });
          return 0;
        }
      }
      break;
    case WM_ACTIVATE:
      // The focus stays on its control while another window is active (a
      // message box), as in a dialog.
      if (LOWORD(wparam) == WA_INACTIVE) {
        HWND f = GetFocus();
        if (f && IsChild(hwnd_, f)) focus_ = f;
      } else if (focus_ && IsWindow(focus_)) {
        SetFocus(focus_);
        return 0;
      }
      break;
    case WM_SETCURSOR:
      if (rt_.mousePointer() == runtime::kPointerHourglass) {
        SetCursor(LoadCursorW(nullptr, IDC_WAIT));
        return TRUE;
      }
      break;
    case WM_CLOSE:
      rt_.endProgram(0);
      return 0;
    default:
      break;
  }
  return DefWindowProcW(hwnd_, msg, wparam, lparam);
}

}  // namespace win32
