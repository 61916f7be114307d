// Where a message box goes on the screen, for every host: clear of the main
// window, so that the operator sees the date the backup reminder asks about.
#pragma once

namespace runtime {

// A rectangle in screen pixels: its top-left corner and its size.
struct ScreenRect {
  int x = 0, y = 0, width = 0, height = 0;
  bool operator==(const ScreenRect&) const = default;
};

struct ScreenPoint {
  int x = 0, y = 0;
  bool operator==(const ScreenPoint&) const = default;
};

// The top-left corner of a message box whose frame is `box_width` by
// `box_height`, on `screen` (its work area), given the main window's frame
// `window`: below the window, else above it, else beside it; on a screen
// with room for none of these, below or above `keep` (the date box's row),
// which then alone stays in view.
ScreenPoint messageBoxPlace(const ScreenRect& window, const ScreenRect& keep, int box_width,
                            int box_height, const ScreenRect& screen);

}  // namespace runtime
