// The regional date rules: which texts read as which dates, and the text
// forms a date is written in.
#include "runtime/regional_dates.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

namespace {

using jet::DateTimeParts;

std::string show(const DateTimeParts& p) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", p.year, p.month, p.day, p.hour,
                p.minute, p.second);
  return buf;
}

TEST(RegionalDates, ReadsTheseTextsAsTheseDates) {
  const int year = 2026;  // the current year, for day and month alone
  const std::vector<std::pair<const char*, DateTimeParts>> cases = {
      // Day first, whatever the separator; blanks around.
      {"31/12/2020", {2020, 12, 31}},
      {"1/2/2021", {2021, 2, 1}},
      {"06-12-2026", {2026, 12, 6}},
      {"6.12.2026", {2026, 12, 6}},
      {"6 12 2026", {2026, 12, 6}},
      {"5/6/2020", {2020, 6, 5}},
      {"  31 / 12 / 2020\t", {2020, 12, 31}},
      {"31/12", {year, 12, 31}},
      {"6-1", {year, 1, 6}},
      // Two-digit years around the pivot.
      {"1/1/00", {2000, 1, 1}},
      {"01/01/29", {2029, 1, 1}},
      {"01/01/30", {1930, 1, 1}},
      {"31/12/99", {1999, 12, 31}},
      // Year first; month-day only when day-month names no day.
      {"2020-12-31", {2020, 12, 31}},
      {"2020/1/2", {2020, 1, 2}},
      {"12/31/2020", {2020, 12, 31}},
      {"12/13/20", {2020, 12, 13}},
      {"12/31", {year, 12, 31}},
      {"13/12/2020", {2020, 12, 13}},
      // Month names and abbreviations, any case, accents or not.
      {"31 dic 2020", {2020, 12, 31}},
      {"31-DIC-2020", {2020, 12, 31}},
      {"1 Enero 21", {2021, 1, 1}},
      {"28 feb 2021", {2021, 2, 28}},
      {"3 MARZO 2021", {2021, 3, 3}},
      {"3 abr 2021", {2021, 4, 3}},
      {"3 mayo 2021", {2021, 5, 3}},
      {"3 jun 2021", {2021, 6, 3}},
      {"3 julio 2021", {2021, 7, 3}},
      {"15 AGÓSTO 2020", {2020, 8, 15}},
      {"1 septiembre 2020", {2020, 9, 1}},
      {"1 set 2020", {2020, 9, 1}},
      {"1 sep 2020", {2020, 9, 1}},
      {"1 oct 2020", {2020, 10, 1}},
      {"1 nov 2020", {2020, 11, 1}},
      {"marzo 3 2021", {2021, 3, 3}},
      {"31 enero", {year, 1, 31}},
      {"31.dic.2020", {2020, 12, 31}},
      // Leap days and the range limits.
      {"29/02/2020", {2020, 2, 29}},
      {"29/02/2000", {2000, 2, 29}},
      {"01/01/0100", {100, 1, 1}},
      {"31/12/9999", {9999, 12, 31}},
      // A time after the date, or alone on the zero day.
      {"31/12/2020 10:30", {2020, 12, 31, 10, 30, 0}},
      {"31/12/2020   23:59:59", {2020, 12, 31, 23, 59, 59}},
      {"12/31/2020 9:05", {2020, 12, 31, 9, 5, 0}},
      {"31 dic 2020 07:00:01", {2020, 12, 31, 7, 0, 1}},
      {"10:30", {1899, 12, 30, 10, 30, 0}}};
  for (const auto& [text, want] : cases) {
    auto got = regional::parseDate(text, year);
    ASSERT_TRUE(got.has_value()) << '"' << text << '"';
    EXPECT_EQ(show(*got), show(want)) << '"' << text << '"';
  }
  EXPECT_FALSE(regional::parseDate("29/2", 2025).has_value());
}

TEST(RegionalDates, TheseTextsAreNoDate) {
  for (const char* text :
       {"", "   ", "hola", "2020", "31", "dic", "31 xyz 2020", "3 de marzo de 2021",
        "31 dic dic 2020", "31/12/2020 hola",
        // Days that exist in neither order.
        "31/02/2021", "29/02/2021", "29/02/1900", "32/01/2020", "00/01/2020", "13/13/2020",
        "2020-02-30", "31/04/2021",
        // Times that do not exist or are written wrong.
        "25:00", "24:00", "10:60", "10:30:60", "31/12/2020 10", "10:3", "10:30 31/12/2020",
        "31/12/2020T10:30",
        // Malformed, and out of range.
        "31//12/2020", "31/12/2020/", "/31/12/2020", "31/12/202", "031/12/2020", "31,12,2020",
        "1/2/3/4", "+31/12/2020", "2020 dic 31", "31/12/0099", "0099-12-31", "01/01/10000"}) {
    auto got = regional::parseDate(text, 2026);
    EXPECT_FALSE(got.has_value()) << '"' << text << "\" read as " << show(*got);
  }
}

TEST(RegionalDates, GeneralFormAndPatterns) {
  const std::vector<std::pair<DateTimeParts, const char*>> general = {
      {{2020, 12, 31}, "31/12/2020"},
      {{2020, 12, 31, 10, 30, 0}, "31/12/2020 10:30:00"},
      {{2026, 1, 6, 9, 5, 7}, "06/01/2026 9:05:07"},
      {{2020, 12, 31, 0, 0, 1}, "31/12/2020 0:00:01"},
      {{1899, 12, 30, 10, 30, 0}, "10:30:00"},
      {{1899, 12, 30}, "30/12/1899"},
      {{100, 1, 1}, "01/01/0100"}};
  for (const auto& [date, want] : general) EXPECT_EQ(regional::generalForm(date), want);

  const DateTimeParts dec6{2026, 12, 6, 17, 45, 0}, jun12{2010, 6, 12};
  const std::vector<std::tuple<DateTimeParts, const char*, const char*>> patterns = {
      {dec6, "dd-mm-yyyy", "06-12-2026"},        {dec6, "mm-dd-yyyy", "12-06-2026"},
      {jun12, "dd-mm-yyyy", "12-06-2010"},       {jun12, "mm-dd-yyyy", "06-12-2010"},
      {{100, 1, 2}, "dd-mm-yyyy", "02-01-0100"}, {dec6, "d/m/yy", "6/12/26"}};
  for (const auto& [date, pattern, want] : patterns) {
    EXPECT_EQ(regional::formatDate(date, pattern).value_or("(none)"), want) << pattern;
  }
  for (const char* pattern : {"dd-mm-yyyy hh", "ddd", "yyy"}) {
    EXPECT_FALSE(regional::formatDate(dec6, pattern).has_value()) << pattern;
  }
}

// Both forms the tool writes into the date box read back as the same day
// (the general form with its time), over whole years and the extremes.
TEST(RegionalDates, WrittenFormsReadBackAsTheSameDate) {
  std::vector<double> days = {jet::joinDateTime({100, 1, 1}), jet::joinDateTime({1899, 12, 29}),
                              jet::joinDateTime({9999, 12, 31})};
  for (double d = jet::joinDateTime({2023, 12, 25}); d < jet::joinDateTime({2025, 1, 8}); ++d) {
    days.push_back(d);
  }
  for (double d : days) {
    for (int hour : {0, 10, 23}) {
      DateTimeParts p = jet::splitDateTime(d);
      p.hour = hour;
      p.minute = hour;
      std::string general = regional::generalForm(p);
      EXPECT_EQ(show(regional::parseDate(general, 2026).value_or(DateTimeParts{})), show(p))
          << general;
      std::string fallback = *regional::formatDate(p, "dd-mm-yyyy");
      EXPECT_EQ(show(regional::parseDate(fallback, 2026).value_or(DateTimeParts{})),
                show({p.year, p.month, p.day}))
          << fallback;
    }
  }
}

}  // namespace
