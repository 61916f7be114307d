#include "runtime/runtime.h"

#include <charconv>
#include <cmath>
#include <iostream>
#include <new>

#include "runtime/regional_dates.h"

namespace runtime {

namespace {

[[noreturn]] void typeMismatch() {
  throw jet::JetError(jet::Msg::kTypeMismatch);
}

[[noreturn]] void invalidCall() {
  throw jet::JetError(jet::Msg::kInvalidCall);
}

bool isBlank(char c) {
  return c == ' ' || c == '\t';
}

// A number as the regional setting writes it: an optional sign, digits with
// a decimal comma, an optional exponent; blanks around it.
std::optional<double> readNumber(std::string_view s) {
  std::string t = Trim(s);
  std::string c_form;  // the same number in the C form ("." for the comma), whatever the locale
  size_t i = 0;
  auto sign = [&] {
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) {
      if (t[i] == '-') c_form += '-';
      ++i;
    }
  };
  auto digits = [&] {
    size_t start = i;
    while (i < t.size() && t[i] >= '0' && t[i] <= '9') c_form += t[i++];
    return i - start;
  };
  sign();
  size_t mantissa = digits();
  if (i < t.size() && t[i] == ',') {
    c_form += '.';
    ++i;
    mantissa += digits();
  }
  if (mantissa == 0) return std::nullopt;
  if (i < t.size() && (t[i] == 'E' || t[i] == 'e')) {
    c_form += 'E';
    ++i;
    sign();
    if (digits() == 0) return std::nullopt;
  }
  if (i != t.size()) return std::nullopt;
  double v = 0;
  auto [end, ec] = std::from_chars(c_form.data(), c_form.data() + c_form.size(), v);
  if (ec != std::errc() || end != c_form.data() + c_form.size() || !std::isfinite(v)) {
    return std::nullopt;
  }
  return v;
}

}  // namespace

Date toDateValue(const jet::DateTimeParts& p) {
  return Date{jet::joinDateTime(p)};
}

jet::DateTimeParts parts(Date date) {
  return jet::splitDateTime(date.days);
}

MessageBoxLayout messageBoxLayout(int style, const std::optional<std::string>& title) {
  using B = MessageBoxLayout::Button;
  const B ok{"Aceptar", kResultOk}, cancel{"Cancelar", kResultCancel},
      abort{"Anular", kResultAbort}, retry{"Reintentar", kResultRetry},
      ignore{"Omitir", kResultIgnore}, yes{"Sí", kResultYes}, no{"No", kResultNo};
  MessageBoxLayout out;
  switch (style & 7) {
    case kOkOnly:
      out.buttons = {ok};
      break;
    case kOkCancel:
      out.buttons = {ok, cancel};
      break;
    case kAbortRetryIgnore:
      out.buttons = {abort, retry, ignore};
      break;
    case kYesNoCancel:
      out.buttons = {yes, no, cancel};
      break;
    case kYesNo:
      out.buttons = {yes, no};
      break;
    case kRetryCancel:
      out.buttons = {retry, cancel};
      break;
    default:
      invalidCall();
  }
  switch (style & 0x70) {
    case kCritical:
      out.icon = MessageBoxLayout::Icon::Critical;
      break;
    case kQuestion:
      out.icon = MessageBoxLayout::Icon::Question;
      break;
    case kExclamation:
      out.icon = MessageBoxLayout::Icon::Exclamation;
      break;
    case kInformation:
      out.icon = MessageBoxLayout::Icon::Information;
      break;
    default:
      break;
  }
  size_t wanted = static_cast<size_t>((style >> 8) & 3);
  out.default_button = wanted < out.buttons.size() ? wanted : 0;
  out.title = title ? *title : kAppTitle;
  return out;
}

bool marksAccessKey(int result) {
  switch (result) {
    case kResultYes:
    case kResultNo:
    case kResultAbort:
    case kResultRetry:
    case kResultIgnore:
      return true;
    default:
      return false;
  }
}

std::string unhandledErrorText(int number, const std::string& description) {
  return "Error " + std::to_string(number) + " en tiempo de ejecución: " + description;
}

Date Runtime::toDate(const Variant& value) const {
  if (const Date* d = std::get_if<Date>(&value)) return *d;
  int current_year = parts(Now()).year;
  auto p = regional::parseDate(std::get<std::string>(value), current_year);
  if (!p) typeMismatch();
  return toDateValue(*p);
}

std::string Runtime::generalDate(Date date) const {
  return regional::generalForm(parts(date));
}

std::string Runtime::text(const Variant& value) const {
  if (const Date* d = std::get_if<Date>(&value)) return generalDate(*d);
  return std::get<std::string>(value);
}

std::string Runtime::format(const Variant& value, std::string_view pattern) const {
  auto out = regional::formatDate(parts(toDate(value)), pattern);
  if (!out) invalidCall();
  return *out;
}

std::string Runtime::Str(std::string_view number_text) const {
  auto v = readNumber(number_text);
  if (!v) typeMismatch();
  double x = *v == 0 ? 0.0 : *v;  // no "-0"
  char buf[64];
  auto [end, ec] = std::fabs(x) < 1e15 && std::trunc(x) == x
                       ? std::to_chars(buf, buf + sizeof buf, x, std::chars_format::fixed, 0)
                       : std::to_chars(buf, buf + sizeof buf, x, std::chars_format::general, 15);
  std::string s(buf, ec == std::errc() ? end : buf);
  for (char& c : s) {
    if (c == 'e') c = 'E';
  }
  return x < 0 ? s : " " + s;
}

float Runtime::addSingle(float a, float b) const {
  float sum = a + b;
  if (!std::isfinite(sum)) throw jet::JetError(jet::Msg::kOverflow);
  return sum;
}

std::string Trim(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && isBlank(s[b])) ++b;
  while (e > b && isBlank(s[e - 1])) --e;
  return std::string(s.substr(b, e - b));
}

std::optional<int> runEvent(Runtime& rt, const std::function<void()>& handler) {
  try {
    handler();
    return std::nullopt;
  } catch (const ProgramEnd& end) {
    return end.status;
  } catch (const jet::JetError& e) {
    rt.reportUnhandledError(e.number(), e.description());
  } catch (const std::bad_alloc&) {
    rt.reportUnhandledError(jet::errorNumber(jet::Msg::kOutOfMemory),
                            jet::errorText(jet::Msg::kOutOfMemory, {}));
  } catch (const std::exception& e) {
    std::cerr << "borrar-inactivos: " << e.what() << '\n';
    rt.reportUnhandledError(jet::errorNumber(jet::Msg::kInternal),
                            jet::errorText(jet::Msg::kInternal, {}));
  }
  return 1;
}

}  // namespace runtime
