// The small routines every phase uses. Expected values derived by hand.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "core/modules.hpp"
#include "core/modules/variables.hpp"
#include "core/variables_routines.hpp"
#include "support/module_reset.hpp"

namespace kinrad {
namespace {

class SmallRoutines : public testing_support::ModuleReset {};

TEST_F(SmallRoutines, LogxFloorsAtTheImpossibleMark) {
  EXPECT_EQ(logx(1e-300), -1e300);
  EXPECT_EQ(logx(0.0), -1e300);
  EXPECT_EQ(logx(-3.0), -1e300);
  const real8 above = std::nextafter(1e-300, 1.0);
  EXPECT_NEAR(logx(above), -690.7755278982137, 1e-9);
  EXPECT_DOUBLE_EQ(logx(std::exp(1.0)), 1.0);
}

TEST_F(SmallRoutines, IsnanqOnlyForNaN) {
  EXPECT_TRUE(isnanq(std::numeric_limits<real8>::quiet_NaN()));
  EXPECT_FALSE(isnanq(std::numeric_limits<real8>::infinity()));
  EXPECT_FALSE(isnanq(0.0));
}

TEST_F(SmallRoutines, ItocUsesTheOffspringTableOnlyInsideTheSample) {
  variables.smplsize = 3;
  variables.stroffidx.allocate(3);
  // The table as the input reader leaves it: "(I5)" left-adjusted. A marker text shows the
  // table is read, not the number written anew.
  variables.stroffidx(1) = "1";
  variables.stroffidx(2) = "2";
  variables.stroffidx(3) = "3";
  EXPECT_EQ(itoc(2), "2");
  EXPECT_EQ(itoc(0), "0");
  EXPECT_EQ(itoc(-5), "-5");
  EXPECT_EQ(itoc(4), "4");
  EXPECT_EQ(itoc(2147483647), "2147483647");
  EXPECT_EQ(itoc(-2147483647 - 1), "-2147483648");
}

TEST_F(SmallRoutines, RtocTrimsBothSidesAndIgnoresTrailingBlanksOfTheFormat) {
  EXPECT_EQ(rtoc(0.5, "(F4.1)"), "0.5");
  EXPECT_EQ(rtoc(1234.5678, "(ES18.10)   "), "1.2345678000E+03");
  EXPECT_EQ(rtoc(-0.001, "(F5.2)"), "-0.00");
}

TEST_F(SmallRoutines, ProgressSpinnerTurnsEveryStep) {
  struct Row {
    int4 step;
    int calls;
    const char* screen;
  };
  // Step 1 writes each call; counter/step mod 4 picks |, /, -, \ (counter 1 gives "/").
  const Row rows[] = {{1, 5, "\r/\r-\r\\\r|\r/"}, {10, 25, "\r/\r-"}, {3, 2, ""}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.step);
    int4 counter = 0;
    testing::internal::CaptureStdout();
    for (int i = 0; i < r.calls; ++i) writeprogress(counter, r.step);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), r.screen);
    EXPECT_EQ(counter, r.calls);
  }
}

TEST_F(SmallRoutines, ProgressTextGuiDotsAndCounterReset) {
  int4 counter = 0;
  testing::internal::CaptureStdout();
  writeprogress(counter, 1, "working");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "\rworking");

  variables.igui = 1;
  variables.lineform = "(A)";
  testing::internal::CaptureStdout();
  writeprogress(counter, 1);
  writeprogress(counter, 1, "ignored in GUI mode");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), ".\n.\n");

  counter = 2147483640;
  testing::internal::CaptureStdout();
  writeprogress(counter, 7);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(counter, 0);
}

}  // namespace
}  // namespace kinrad
