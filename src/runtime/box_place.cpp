#include "runtime/box_place.h"

#include <algorithm>

namespace runtime {

ScreenPoint messageBoxPlace(const ScreenRect& window, const ScreenRect& keep, int box_width,
                            int box_height, const ScreenRect& screen) {
  constexpr int kGap = 8;
  const int screen_right = screen.x + screen.width;  // one past the last column
  const int screen_bottom = screen.y + screen.height;
  auto clampX = [&](int x) { return std::max(screen.x, std::min(x, screen_right - box_width)); };
  auto clampY = [&](int y) { return std::max(screen.y, std::min(y, screen_bottom - box_height)); };
  auto fits = [&](ScreenPoint p) {
    return p.x >= screen.x && p.y >= screen.y && p.x + box_width <= screen_right &&
           p.y + box_height <= screen_bottom;
  };
  // The window's middle column (the left one of two).
  const int middle = static_cast<int>((2LL * window.x + window.width - 1) / 2);
  const int centred = clampX(middle - box_width / 2);
  const int level = clampY(window.y);
  const ScreenPoint tries[] = {
      {centred, window.y + window.height + kGap},  // below
      {centred, window.y - kGap - box_height},     // above
      {window.x + window.width + kGap, level},     // right
      {window.x - kGap - box_width, level},        // left
      {centred, keep.y + keep.height + kGap},      // below the date
      {centred, keep.y - kGap - box_height},       // above the date
  };
  for (ScreenPoint p : tries) {
    if (fits(p)) return p;
  }
  return {centred, clampY(keep.y + keep.height + kGap)};
}

}  // namespace runtime
