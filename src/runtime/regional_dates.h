// The regional date rules the tool runs under (a Spanish setting, day first):
// how a typed text is read as a date and how a date is written as text.
// Pure logic; the runtime services build on it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "jet/value.h"

namespace regional {

// The years a date value can hold.
inline constexpr int kMinYear = 100;
inline constexpr int kMaxYear = 9999;

// Whether year, month and day name a day of the proleptic Gregorian calendar
// within the years above.
bool isValidDate(int year, int month, int day);

// Reads `text` as a date and optional time of day:
// - day, month and year separated by "/", "-", "." or blanks; the year with
//   four digits, or two (00-29 are 2000-2029, 30-99 are 1930-1999); day and
//   month alone take `current_year`;
// - a month by its Spanish name or three-letter abbreviation ("set" for
//   septiembre too), in any case, with or without accents;
// - a four-digit year first reads year, month, day;
// - when the day-month reading of a numeric date gives no valid date but the
//   month-day reading does (12/31/2020), the month-day reading is taken;
// - an optional time H:mm or H:mm:ss (24-hour) after the date, or a time
//   alone, which falls on the zero day 30/12/1899.
// nullopt when the text denotes no date.
std::optional<jet::DateTimeParts> parseDate(std::string_view text, int current_year);

// The general form: "dd/mm/yyyy", followed by " H:mm:ss" only when there is a
// time of day; a time of day on the zero day shows the time alone.
std::string generalForm(const jet::DateTimeParts& date);

// Writes a date by a pattern: "dd"/"d" the day, "mm"/"m" the month (with and
// without a leading zero), "yyyy"/"yy" the year with four or two digits; "-",
// "/", "." and blanks are copied. Returns nullopt for any other pattern text.
std::optional<std::string> formatDate(const jet::DateTimeParts& date, std::string_view pattern);

}  // namespace regional
