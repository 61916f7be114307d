// The Win32 window's controls by number. Windows names a child window by its
// number alone; the runtime's repaint and the tests' inspection of the
// running window find the controls by these. Numbers 1 and 2 (IDOK and
// IDCANCEL) are avoided: the dialog keys send them for Enter and Escape,
// which here press nothing.
#pragma once

namespace win32 {

enum ControlId : int {
  kIdBorrar = 100,  // Command1(0)
  kIdSalir,         // Command1(1)
  kIdText1,
  kIdLabel1,
  kIdLabel2,
  kIdFrame1,
  kIdBar1,
  kIdText2,
  kIdData1,
  kIdData2,
  kIdData3,
  kIdData4,
};

struct ControlName {
  int id;
  const char* name;
};

// The controls' names, in the order the window creates them (its tab order).
inline constexpr ControlName kControlNames[] = {
    {kIdBorrar, "Command1_0"}, {kIdSalir, "Command1_1"}, {kIdText1, "Text1"}, {kIdLabel1, "Label1"},
    {kIdLabel2, "Label2"},     {kIdFrame1, "Frame1"},    {kIdBar1, "Bar1"},   {kIdText2, "Text2"},
    {kIdData1, "Data1"},       {kIdData2, "Data2"},      {kIdData3, "Data3"}, {kIdData4, "Data4"},
};

// The resource number of the program's icon.
inline constexpr int kIconResource = 1;

}  // namespace win32
