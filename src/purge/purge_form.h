// What the purge run uses of the main window: the date box, the progress
// bar, the field view and the four record channels. The window implements
// it; tests implement it without a display.
#pragma once

#include <string>

#include "db/record_channel.h"

namespace purge {

class PurgeForm {
 public:
  virtual ~PurgeForm() = default;

  // Text1, the date box.
  virtual std::string Text1() const = 0;
  virtual void setText1(const std::string& text) = 0;

  // Bar1: minimum 0; maximum and position are single-precision values.
  virtual float Bar1Value() const = 0;
  virtual void setBar1Value(float value) = 0;
  virtual void setBar1Max(float max) = 0;
  // How much of the bar is drawn (for example its filled width in pixels):
  // the run repaints the frame only when this changes.
  virtual int Bar1DrawnLength() const = 0;

  // Text2, bound to Data1's CLICOD.
  virtual std::string Text2() const = 0;

  virtual db::RecordChannel& Data1() = 0;
  virtual db::RecordChannel& Data2() = 0;
  virtual db::RecordChannel& Data3() = 0;
  virtual db::RecordChannel& Data4() = 0;
};

}  // namespace purge
