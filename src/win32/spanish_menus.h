// The menus Windows itself gives the window, in Spanish whatever the
// system's language: the window menu (Alt+Space) and the date box's
// context menu.
#pragma once

#include <windows.h>

namespace win32 {

// The window menu keeps only what a window of fixed size can do, moving and
// closing, under Spanish names; the edit box gets a Spanish context menu of
// the usual editing commands.
void giveSpanishMenus(HWND window, HWND edit);

}  // namespace win32
