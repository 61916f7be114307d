// The forms runtime services the window and the purge call: message boxes,
// the mouse pointer, repaints, the program directory, End, Now, the date and
// number conversions, and the handling of run-time errors no procedure
// catches. No toolkit here: the program implements the host side with Qt,
// the tests with a scripted fake.
//
// Failures are run-time errors: jet::JetError with the error number and a
// Spanish description, the same exception the engine throws.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "jet/error.h"
#include "jet/value.h"

namespace runtime {

// The application's title, borne by message boxes that have none of their own.
inline constexpr const char* kAppTitle = "Borrar Inactivos";

// Message box style values (added together) and the results.
inline constexpr int kOkOnly = 0;
inline constexpr int kOkCancel = 1;
inline constexpr int kAbortRetryIgnore = 2;
inline constexpr int kYesNoCancel = 3;
inline constexpr int kYesNo = 4;
inline constexpr int kRetryCancel = 5;
inline constexpr int kCritical = 16;
inline constexpr int kQuestion = 32;
inline constexpr int kExclamation = 48;
inline constexpr int kInformation = 64;
inline constexpr int kDefaultButton2 = 256;
inline constexpr int kDefaultButton3 = 512;

inline constexpr int kResultOk = 1;
inline constexpr int kResultCancel = 2;
inline constexpr int kResultAbort = 3;
inline constexpr int kResultRetry = 4;
inline constexpr int kResultIgnore = 5;
inline constexpr int kResultYes = 6;
inline constexpr int kResultNo = 7;

// Mouse pointer values.
inline constexpr int kPointerDefault = 0;
inline constexpr int kPointerHourglass = 11;

// A date value: days since 30/12/1899, the fraction the time of day (the
// engine's Date/Time representation; see jet::splitDateTime).
struct Date {
  double days = 0;
  bool operator==(const Date&) const = default;
};

Date toDateValue(const jet::DateTimeParts& parts);
jet::DateTimeParts parts(Date date);

// A value that holds either a text or a date, as a procedure parameter can.
using Variant = std::variant<std::string, Date>;

// What a message box style asks for.
struct MessageBoxLayout {
  enum class Icon { None, Critical, Question, Exclamation, Information };
  struct Button {
    std::string caption;
    int result;
  };
  std::vector<Button> buttons;  // left to right
  size_t default_button = 0;    // index into buttons
  Icon icon = Icon::None;
  std::string title;
};

// The layout for `style` and `title` (the application's title when none).
// Throws error 5 for a style with no button set.
MessageBoxLayout messageBoxLayout(int style, const std::optional<std::string>& title);

// Whether the button answering `result` takes the first letter of its
// caption as its access key, as Windows marks those of its boxes: "Sí" and
// "No" (S and N answer the backup reminder), "Anular", "Reintentar" and
// "Omitir"; "Aceptar" and "Cancelar" have Enter and Escape instead.
bool marksAccessKey(int result);

// "Error <number> en tiempo de ejecución: <description>".
std::string unhandledErrorText(int number, const std::string& description);

// Thrown by End; the event dispatch (runEvent) turns it into the end of the program.
struct ProgramEnd {
  int status = 0;
};

class Runtime {
 public:
  virtual ~Runtime() = default;

  // --- Host services ---

  // A modal message box; returns the result of the pressed button.
  virtual int MsgBox(const std::string& prompt, int style = kOkOnly,
                     const std::optional<std::string>& title = std::nullopt) = 0;
  // The main window's mouse pointer (kPointerDefault, kPointerHourglass).
  virtual void setMousePointer(int pointer) = 0;
  virtual int mousePointer() const = 0;
  // Repaints the named control of the main window and the controls it
  // holds at once, even while a handler holds the thread. Error 424 when no
  // control has that name.
  virtual void refreshControl(const std::string& name) = 0;
  // The directory the program file runs from, without a trailing separator.
  virtual std::string programDir() const = 0;
  // The current local date and time, to the second.
  virtual Date Now() const = 0;
  // Tells the operator about a run-time error no procedure caught (a modal
  // message, unhandledErrorText); the program ends afterwards.
  virtual void reportUnhandledError(int number, const std::string& description) = 0;
  // Stops the event loop with `status` and takes the window away; called by
  // the event dispatch once no handler runs any more.
  virtual void endProgram(int status) = 0;

  // --- Services common to every host ---

  // Ends the program at once: the running handler goes no further.
  [[noreturn]] void End() { throw ProgramEnd{0}; }

  // Text to date under the regional rules (a Date stays as it is); error 13
  // when the text denotes no date or a date out of range. Day and month
  // alone take the year of Now.
  Date toDate(const Variant& value) const;
  // The general date form: "dd/mm/yyyy", " H:mm:ss" added when there is a
  // time of day; a time on the zero day alone.
  std::string generalDate(Date date) const;
  // The value's text: a date in the general form, a text unchanged.
  std::string text(const Variant& value) const;
  // Formats by a pattern such as "dd-mm-yyyy" or "mm-dd-yyyy"; a text is
  // first read as a date (error 13 when it is none). Error 5 for a pattern
  // with other letters.
  std::string format(const Variant& value, std::string_view pattern) const;
  // Number to text: the text read as a number under the regional rules
  // (decimal comma) and written as plain decimal text, "." as the decimal
  // point, no grouping, a leading blank when not negative. Error 13 when
  // the text is no number.
  std::string Str(std::string_view number_text) const;
  // Single-precision addition; error 6 on an overflow or an invalid result.
  float addSingle(float a, float b) const;
};

// Blanks removed from both ends.
std::string Trim(std::string_view s);

// Runs an event handler as the forms runtime does: End, or a run-time error
// that the handler lets through (reported with reportUnhandledError), stops
// it. Returns the exit status when the program must end (0 after End, 1 after
// an error), nullopt when the handler ran to its end.
std::optional<int> runEvent(Runtime& rt, const std::function<void()>& handler);

}  // namespace runtime
