// The cut-off date normalisation: what the date box becomes.
#include "purge/pasafecha.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/fake_runtime.h"

namespace {

using testsupport::FakeRuntime;

// What the operator left in the box, whether a date comes back (else the
// fallback text), and the box's text afterwards; the clock at 06/12/2026 09:15:30.
struct Case {
  const char* box;
  bool is_date;
  const char* shown;
};
const std::vector<Case> kCases = {{"", false, "06-12-2026"},
                                  {"   ", false, "06-12-2026"},
                                  {"hola", false, "06-12-2026"},
                                  {"2020", false, "06-12-2026"},
                                  {"31/02/2021", false, "06-12-2026"},
                                  {"29/02/2021", false, "06-12-2026"},
                                  {"25:00", false, "06-12-2026"},
                                  {"31/12/0099", false, "06-12-2026"},
                                  {"01/01/10000", false, "06-12-2026"},
                                  {"31/12/2020", true, "31/12/2020"},
                                  {"31/12/2020 10:30", true, "31/12/2020 10:30:00"},
                                  {"1/2/2021", true, "01/02/2021"},
                                  {"12/31/2020", true, "31/12/2020"},
                                  {"31/12/29", true, "31/12/2029"},
                                  {"1/1/30", true, "01/01/1930"},
                                  {"15 Agosto 2020", true, "15/08/2020"},
                                  {"31/12", true, "31/12/2026"},
                                  {"29/02/2024", true, "29/02/2024"},
                                  {"01/01/0100", true, "01/01/0100"},
                                  {"31/12/9999", true, "31/12/9999"},
                                  {"10:30", true, "10:30:00"},
                                  // Values an earlier run wrote back into the box.
                                  {"06-12-2026", true, "06/12/2026"},
                                  {"31/12/2020 10:30:00", true, "31/12/2020 10:30:00"}};

TEST(Pasafecha, NormalisesTheDateBoxAndASecondRunKeepsTheDate) {
  for (const Case& c : kCases) {
    FakeRuntime rt;
    rt.now = {2026, 12, 6, 9, 15, 30};
    runtime::Variant texto = std::string(c.box);
    runtime::Variant result = purge::pasafecha(rt, texto);
    EXPECT_EQ(result, texto) << c.box;
    EXPECT_EQ(std::holds_alternative<runtime::Date>(texto), c.is_date) << '"' << c.box << '"';
    EXPECT_EQ(rt.text(texto), c.shown) << '"' << c.box << '"';
    EXPECT_TRUE(rt.messages.empty() && rt.errors.empty() && rt.ends.empty()) << c.box;

    // "Borrar" pressed again reads the box back as the same date.
    runtime::Variant again = rt.text(texto);
    purge::pasafecha(rt, again);
    ASSERT_TRUE(std::holds_alternative<runtime::Date>(again)) << c.box;
    EXPECT_EQ(std::get<runtime::Date>(again), rt.toDate(texto)) << '"' << c.box << '"';
  }
}

TEST(Pasafecha, FallbackIsTheClocksDayWhateverTheTime) {
  const std::vector<std::pair<jet::DateTimeParts, const char*>> clocks = {
      {{2027, 1, 1, 0, 0, 0}, "01-01-2027"},
      {{2026, 12, 31, 23, 59, 59}, "31-12-2026"},
      {{2024, 2, 29, 12, 0, 0}, "29-02-2024"},
      {{2009, 6, 12, 8, 0, 0}, "12-06-2009"}};
  for (const auto& [now, shown] : clocks) {
    FakeRuntime rt;
    rt.now = now;
    runtime::Variant texto = std::string("hola");
    EXPECT_EQ(std::get<std::string>(purge::pasafecha(rt, texto)), shown);
    // Read back under the regional rules it is the clock's day, not day and month swapped.
    EXPECT_EQ(rt.toDate(texto), runtime::toDateValue({now.year, now.month, now.day}));
  }
  FakeRuntime rt;
  runtime::Variant date = runtime::toDateValue({2020, 12, 31, 10, 30, 0});
  EXPECT_EQ(purge::pasafecha(rt, date),
            runtime::Variant(runtime::toDateValue({2020, 12, 31, 10, 30, 0})));
}

}  // namespace
