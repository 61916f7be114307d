// Where the window's controls lie, in twips (a twentieth of a point), and
// the conversion to pixels. No toolkit here: the Qt window and the Win32
// window (src/win32) lay the same form out from this one table.
#pragma once

#include <algorithm>
#include <cmath>
#include <string>

#include "purge/purge_form.h"

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

// Bar1's single-precision maximum or position as the control's whole
// number: rounded, 0 for none or less, at most the largest int.
inline int barUnits(float v) {
  if (!(v > 0)) return 0;
  if (v >= 2147483647.0f) return 2147483647;
  return static_cast<int>(v + 0.5f);
}

// The filled width of a bar `width` pixels long at `value` of `max`.
inline int barDrawnLength(float value, float max, int width) {
  if (!(max > 0)) return 0;
  double share = std::clamp(static_cast<double>(value) / max, 0.0, 1.0);
  return static_cast<int>(share * width);
}

// A host's window as the purge run sees it. The window brings text1() and
// setText1(), bar1Value(), setBar1Value(), setBar1Max(), bar1DrawnLength(),
// and is itself the form's channels.
template <class Window>
class FormOf : public purge::PurgeForm {
 public:
  explicit FormOf(Window& w) : w_(w) {}
  std::string Text1() const override { return w_.text1(); }
  void setText1(const std::string& t) override { w_.setText1(t); }
  float Bar1Value() const override { return w_.bar1Value(); }
  void setBar1Value(float v) override { w_.setBar1Value(v); }
  void setBar1Max(float m) override { w_.setBar1Max(m); }
  int Bar1DrawnLength() const override { return w_.bar1DrawnLength(); }
  purge::FormChannels& channels() override { return w_; }

 private:
  Window& w_;
};

}  // namespace window
