// The purge form as the purge run sees it. Its non-visual half, the four
// record channels and the field view of the client code, is FormChannels,
// wired the same for every host; the host (the Qt window, the tests, the
// benchmark) brings the date box and the progress bar.
#pragma once

#include <optional>
#include <string>

#include "db/field_view.h"
#include "db/record_channel.h"
#include "runtime/runtime.h"

namespace purge {

// Data1 on the clients; Data2 to Data4 on cliprod, horascli and diascli,
// following Data1's database name; Text2 bound to Data1's CLICOD.
class FormChannels {
 public:
  // The channels reach the database through `os` (tests pass their own).
  explicit FormChannels(jet::Os& os = jet::systemOs());
  // The field view and the followers hold on to these very channels.
  FormChannels(const FormChannels&) = delete;
  FormChannels& operator=(const FormChannels&) = delete;

  // Form_Load: Data1 on the database in the program's folder, folder and
  // file name joined by `separator`, as the host's system writes paths.
  void Form_Load(runtime::Runtime& rt, const char* separator);
  // Start-up as every host runs it, before its window is shown: Form_Load
  // under the event dispatch. Returns the exit status when the program has
  // ended instead (an error was reported).
  std::optional<int> load(runtime::Runtime& rt, const char* separator);

  db::RecordChannel Data1;
  db::RecordChannel Data2;
  db::RecordChannel Data3;
  db::RecordChannel Data4;
  db::FieldView Text2;
};

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

  // The record channels and the field view.
  virtual FormChannels& channels() = 0;

  // What Text2 shows, the current client's code. The run reads it through
  // here, so that a host can watch each read.
  virtual std::string Text2() { return channels().Text2.text(); }
};

}  // namespace purge
