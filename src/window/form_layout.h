// Where the window's controls lie, in twips (a twentieth of a point), and
// the conversion to pixels. No toolkit here: the Qt window and the Win32
// window (src/win32) lay the same form out from this one table.
#pragma once

#include <cmath>

namespace window {

// Twips to pixels at `dpi` dots per inch: 15 twips a pixel at 96.
inline int twipsToPixels(int twips, double dpi) {
  return static_cast<int>(std::lround(twips * dpi / 1440.0));
}

// The client area and the controls' places (left, top, width, height); Bar1
// within Frame1. Text2 and the channels lie below the client area, out of
// sight.
struct Twips {
  int left, top, width, height;
};
inline constexpr int kClientWidth = 3345;
inline constexpr int kClientHeight = 1140;
inline constexpr Twips kLabel1{75, 120, 495, 195};
inline constexpr Twips kText1{675, 75, 990, 285};
inline constexpr Twips kLabel2{75, 450, 540, 195};
inline constexpr Twips kFrame1{675, 390, 2565, 300};
inline constexpr Twips kBar1{0, 0, 2550, 285};
inline constexpr Twips kBorrar{240, 795, 1005, 300};
inline constexpr Twips kSalir{2100, 795, 1005, 300};
inline constexpr Twips kText2{1380, 1350, 540, 285};
inline constexpr Twips kData[4] = {
    {180, 1365, 1140, 300}, {195, 1650, 1140, 345}, {195, 1995, 1140, 345}, {210, 2235, 1140, 345}};

// The window's caption and the controls' captions.
inline constexpr const char* kWindowTitle = "Borrar Inactivos por Fechas";
inline constexpr const char* kLabel1Caption = "Fecha:";
inline constexpr const char* kLabel2Caption = "Estado:";
inline constexpr const char* kBorrarCaption = "Borrar";
inline constexpr const char* kSalirCaption = "Salir";

// The layout was made for an 8-point font, the labels sized to their text in
// it: each host takes its platform's font at the largest size from here down
// (in these steps, above the floor) at which the labels' captions fit.
inline constexpr double kFontPointsMax = 8.0;
inline constexpr double kFontPointsMin = 6.0;
inline constexpr double kFontPointsStep = 0.5;

}  // namespace window
