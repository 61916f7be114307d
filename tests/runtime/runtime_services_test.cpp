// The runtime services every host shares: conversions, message box layouts,
// single-precision addition and events that end in End or in an error.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <stdexcept>

#include "runtime/runtime.h"
#include "support/fake_runtime.h"

namespace {

using runtime::toDateValue;
using testsupport::FakeRuntime;

// The run-time error number a call raises, or 0 when it raises none.
template <typename F>
int errorOf(F&& f) {
  try {
    f();
  } catch (const jet::JetError& e) {
    return e.number();
  }
  return 0;
}

TEST(RuntimeServices, DateConversions) {
  FakeRuntime rt;
  rt.now = {2026, 12, 6, 9, 15, 30};
  EXPECT_EQ(rt.toDate(std::string("31/12/2020 10:30")), toDateValue({2020, 12, 31, 10, 30, 0}));
  EXPECT_EQ(rt.toDate(std::string("31/12")), toDateValue({2026, 12, 31}));
  rt.now = {2031, 1, 1};  // day and month alone follow the clock's year
  EXPECT_EQ(rt.toDate(std::string("31/12")), toDateValue({2031, 12, 31}));
  for (const char* text : {"", "hola", "31/02/2021", "25:00", "31/12/0099"}) {
    EXPECT_EQ(errorOf([&] { rt.toDate(std::string(text)); }), 13) << text;
  }

  EXPECT_EQ(rt.text(toDateValue({2020, 12, 31, 10, 30, 0})), "31/12/2020 10:30:00");
  EXPECT_EQ(rt.text(std::string("06-12-2026")), "06-12-2026");
  // The box shows the sixth of December day first; "mm-dd-yyyy" puts the month first.
  EXPECT_EQ(rt.format(std::string("06/12/2026"), "mm-dd-yyyy"), "12-06-2026");
  EXPECT_EQ(rt.format(std::string("31/12/2020 10:30:00"), "mm-dd-yyyy"), "12-31-2020");
  EXPECT_EQ(rt.format(toDateValue({2026, 12, 6, 23, 59, 59}), "dd-mm-yyyy"), "06-12-2026");
  EXPECT_EQ(errorOf([&] { rt.format(std::string("hola"), "mm-dd-yyyy"); }), 13);
  EXPECT_EQ(errorOf([&] { rt.format(toDateValue({2026, 1, 1}), "dd-mm-yyyy hh"); }), 5);
}

TEST(RuntimeServices, NumberToText) {
  FakeRuntime rt;
  const std::vector<std::pair<const char*, const char*>> cases = {
      {"57", " 57"},       {" 57 ", " 57"},       {"-3", "-3"},     {"+4", " 4"},
      {"-0", " 0"},        {"12,5", " 12.5"},     {",25", " 0.25"}, {"2147483647", " 2147483647"},
      {"1E+20", " 1E+20"}, {"1,5e-7", " 1.5E-07"}};
  for (const auto& [in, want] : cases) EXPECT_EQ(rt.Str(in), want) << in;
  EXPECT_EQ(runtime::Trim(rt.Str("57")), "57");
  for (const char* no_number : {"", "  ", "abc", "12a", "1.234", "--1", ",", "1E"}) {
    EXPECT_EQ(errorOf([&] { rt.Str(no_number); }), 13) << '"' << no_number << '"';
  }
}

TEST(RuntimeServices, SingleAdditionStaysInSinglePrecisionAndRaisesOverflow) {
  FakeRuntime rt;
  EXPECT_EQ(rt.addSingle(2.0f, 1.0f), 3.0f);
  EXPECT_EQ(rt.addSingle(16777216.0f, 1.0f), 16777216.0f);  // 2^24 + 1 is no single
  EXPECT_EQ(errorOf([&] { rt.addSingle(FLT_MAX, FLT_MAX); }), 6);
  EXPECT_EQ(errorOf([&] { rt.addSingle(-FLT_MAX, -FLT_MAX); }), 6);
  EXPECT_EQ(errorOf([&] { rt.addSingle(std::nanf(""), 1.0f); }), 6);
}

TEST(RuntimeServices, MessageBoxLayouts) {
  auto buttons = [](const runtime::MessageBoxLayout& l) {
    std::string s;
    for (const auto& b : l.buttons) s += b.caption + "=" + std::to_string(b.result) + " ";
    return s + "default " + l.buttons[l.default_button].caption;
  };
  using Icon = runtime::MessageBoxLayout::Icon;
  auto ok = runtime::messageBoxLayout(0, std::nullopt);
  EXPECT_EQ(buttons(ok), "Aceptar=1 default Aceptar");
  EXPECT_EQ(ok.icon, Icon::None);
  EXPECT_EQ(ok.title, "Borrar Inactivos");
  auto reminder = runtime::messageBoxLayout(276, std::string("Atención"));
  EXPECT_EQ(buttons(reminder), "Sí=6 No=7 default No");
  EXPECT_EQ(reminder.icon, Icon::Critical);
  EXPECT_EQ(reminder.title, "Atención");
  EXPECT_EQ(buttons(runtime::messageBoxLayout(4, std::nullopt)), "Sí=6 No=7 default Sí");
  EXPECT_EQ(buttons(runtime::messageBoxLayout(3 + 512, std::nullopt)),
            "Sí=6 No=7 Cancelar=2 default Cancelar");
  EXPECT_EQ(buttons(runtime::messageBoxLayout(512, std::nullopt)), "Aceptar=1 default Aceptar");
  EXPECT_EQ(runtime::messageBoxLayout(0, std::string()).title, "");
  EXPECT_EQ(errorOf([] { runtime::messageBoxLayout(6, std::nullopt); }), 5);
}

TEST(RuntimeServices, EventsEndInEndOrInTheErrorReport) {
  FakeRuntime rt;
  bool went_on = false;
  EXPECT_EQ(runtime::runEvent(rt, [] {}), std::nullopt);
  EXPECT_EQ(runtime::runEvent(rt,
                              [&] {
                                rt.End();
                                went_on = true;
                              }),
            0);
  EXPECT_TRUE(rt.errors.empty());

  EXPECT_EQ(runtime::runEvent(
                rt, [&] { throw jet::JetError(jet::Msg::kFileNotFound, "/x/clientes.mdb"); }),
            1);
  ASSERT_EQ(rt.errors.size(), 1u);
  EXPECT_EQ(runtime::unhandledErrorText(rt.errors[0].number, rt.errors[0].description),
            "Error 3024 en tiempo de ejecución: No se encuentra el archivo '/x/clientes.mdb'.");

  EXPECT_EQ(runtime::runEvent(rt, [] { throw std::logic_error("broken invariant"); }), 1);
  ASSERT_EQ(rt.errors.size(), 2u);
  EXPECT_EQ(rt.errors[1].number, 51);
  EXPECT_FALSE(went_on);
}

}  // namespace
