#include "win32/spanish_menus.h"

#include <commctrl.h>

#include <initializer_list>

namespace win32 {

namespace {

enum Command : UINT { kUndo = 1, kCut, kCopy, kPaste, kDelete, kSelectAll };

LRESULT CALLBACK editWithMenu(HWND edit, UINT msg, WPARAM wparam, LPARAM lparam, UINT_PTR,
                              DWORD_PTR) {
  if (msg == WM_NCDESTROY) RemoveWindowSubclass(edit, editWithMenu, 0);
  if (msg != WM_CONTEXTMENU) return DefSubclassProc(edit, msg, wparam, lparam);

  SetFocus(edit);
  DWORD from = 0, to = 0;
  SendMessageW(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&from), reinterpret_cast<LPARAM>(&to));
  const bool selected = from != to;
  const bool writable = !(GetWindowLongW(edit, GWL_STYLE) & ES_READONLY);
  const int length = GetWindowTextLengthW(edit);
  auto state = [](bool on) { return MF_STRING | (on ? MF_ENABLED : MF_GRAYED); };
  HMENU menu = CreatePopupMenu();
  AppendMenuW(menu, state(writable && SendMessageW(edit, EM_CANUNDO, 0, 0)), kUndo, L"&Deshacer");
  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(menu, state(writable && selected), kCut, L"Cor&tar");
  AppendMenuW(menu, state(selected), kCopy, L"&Copiar");
  AppendMenuW(menu, state(writable && IsClipboardFormatAvailable(CF_UNICODETEXT)), kPaste,
              L"&Pegar");
  AppendMenuW(menu, state(writable && selected), kDelete, L"&Eliminar");
  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(menu, state(length > 0 && !(from == 0 && static_cast<int>(to) == length)), kSelectAll,
              L"Seleccionar &todo");

  POINT at{static_cast<short>(LOWORD(lparam)), static_cast<short>(HIWORD(lparam))};
  if (lparam == -1) {  // from the keyboard: at the box's corner
    RECT r;
    GetWindowRect(edit, &r);
    at = {r.left + 2, r.bottom};
  }
  const UINT chosen = TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_NONOTIFY, at.x,
                                     at.y, 0, edit, nullptr);
  DestroyMenu(menu);
  switch (chosen) {
    case kUndo:
      SendMessageW(edit, WM_UNDO, 0, 0);
      break;
    case kCut:
      SendMessageW(edit, WM_CUT, 0, 0);
      break;
    case kCopy:
      SendMessageW(edit, WM_COPY, 0, 0);
      break;
    case kPaste:
      SendMessageW(edit, WM_PASTE, 0, 0);
      break;
    case kDelete:
      SendMessageW(edit, WM_CLEAR, 0, 0);
      break;
    case kSelectAll:
      SendMessageW(edit, EM_SETSEL, 0, -1);
      break;
    default:
      break;
  }
  return 0;
}

}  // namespace

void giveSpanishMenus(HWND window, HWND edit) {
  if (HMENU menu = GetSystemMenu(window, FALSE)) {
    for (UINT gone : {SC_RESTORE, SC_SIZE, SC_MINIMIZE, SC_MAXIMIZE}) {
      DeleteMenu(menu, gone, MF_BYCOMMAND);
    }
    ModifyMenuW(menu, SC_MOVE, MF_BYCOMMAND | MF_STRING, SC_MOVE, L"&Mover");
    ModifyMenuW(menu, SC_CLOSE, MF_BYCOMMAND | MF_STRING, SC_CLOSE, L"&Cerrar\tAlt+F4");
  }
  SetWindowSubclass(edit, editWithMenu, 0, 0);
}

}  // namespace win32
