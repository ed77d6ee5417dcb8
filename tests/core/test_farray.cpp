// Arrays with lower bounds and fixed-length text: the behaviours the design relies on.
#include <gtest/gtest.h>

#include <stdexcept>

#include "core/farray.hpp"
#include "core/fixed_string.hpp"
#include "core/kinds.hpp"

namespace kinrad {
namespace {

TEST(FArray, LowerBoundsColumnMajorAndZeroFill) {
  FArray<int4, 2> a;
  EXPECT_FALSE(a.allocated());
  a.allocate({0, 2}, 3);  // (0:2, 1:3)
  ASSERT_TRUE(a.allocated());
  EXPECT_EQ(a.size(), 9);
  EXPECT_EQ(a.lbound(1), 0);
  EXPECT_EQ(a.ubound(1), 2);
  EXPECT_EQ(a.lbound(2), 1);
  EXPECT_EQ(a.ubound(2), 3);
  for (int4 v : a) EXPECT_EQ(v, 0);
  a(0, 1) = 1;
  a(1, 1) = 2;
  a(0, 2) = 4;
  // The first subscript is contiguous.
  EXPECT_EQ(a.data()[0], 1);
  EXPECT_EQ(a.data()[1], 2);
  EXPECT_EQ(a.data()[3], 4);
}

TEST(FArray, ReallocationZeroFillsAndMoveLeavesSourceEmpty) {
  FArray<real8, 1> a(Dim(-1, 1));
  a(-1) = 3.5;
  a.allocate(4);
  EXPECT_EQ(a.lbound(1), 1);
  EXPECT_EQ(a(1), 0.0);
  FArray<real8, 1> b = std::move(a);
  EXPECT_FALSE(a.allocated());  // NOLINT(bugprone-use-after-move): moved-from state is specified
  EXPECT_EQ(b.size(), 4);
  FArray<real8, 1> c = b.copy();
  c(1) = 9.0;
  EXPECT_EQ(b(1), 0.0);
  b.deallocate();
  EXPECT_FALSE(b.allocated());
  EXPECT_EQ(b.size(), 0);
}

TEST(FArray, EmptyExtentIsAllocatedWithSizeZero) {
  FArray<int2, 1> a;
  a.allocate({1, 0});
  EXPECT_TRUE(a.allocated());
  EXPECT_EQ(a.size(), 0);
  EXPECT_TRUE(a.try_allocate(Dim(0, 5)));
  EXPECT_EQ(a.size(), 6);
}

TEST(FArray, WindowViewRenumbersABlock) {
  FArray<int4, 1> tgt(10);
  for (int4 i = 1; i <= 10; ++i) tgt(i) = i * 10;
  FView<int4, 1> prt = window(tgt, 4, 3, 0);  // tgt(4:6) seen as prt(0:2)
  EXPECT_EQ(prt.lbound(1), 0);
  EXPECT_EQ(prt.ubound(1), 2);
  EXPECT_EQ(prt(0), 40);
  EXPECT_EQ(prt(2), 60);
  prt(1) = -1;
  EXPECT_EQ(tgt(5), -1);
}

#ifdef KINRAD_BOUNDS_CHECK
TEST(FArrayDeathTest, SubscriptOutsideBoundsStopsInCheckedBuilds) {
  FArray<int4, 2> a({0, 2}, 3);
  EXPECT_DEATH(a(3, 1), "outside");
  EXPECT_DEATH(a(0, 0), "outside");
  FStatic<int4, 1, 5> s;
  EXPECT_DEATH(s(6), "outside");
}
#endif

TEST(FString, AssignmentCutsAndPadsComparisonIgnoresTrailingBlanks) {
  FString<5> s = "abcdefg";
  EXPECT_EQ(s.view(), "abcde");
  s = "ab";
  EXPECT_EQ(s.view(), "ab   ");
  EXPECT_EQ(s.len_trim(), 2u);
  EXPECT_TRUE(s == "ab");
  EXPECT_TRUE(s == FString<20>("ab"));
  EXPECT_FALSE(s == " ab");
  FString<3> blank;
  EXPECT_TRUE(blank.blank());
  EXPECT_EQ(s.sub(2, 3), "b ");
  EXPECT_EQ(s(1), 'a');
}

TEST(FString, OrderPadsTheShorterWithBlanks) {
  // "ab" < "ab!" because blank (32) < '!' (33); "ab" > "ab\x1f" for the same reason.
  EXPECT_LT(compare_padded("ab", "ab!"), 0);
  EXPECT_GT(compare_padded("ab", "ab\x1f"), 0);
  EXPECT_EQ(compare_padded("ab  ", "ab"), 0);
  EXPECT_TRUE(FString<4>("abc") < FString<6>("abd"));
}

TEST(FString, AdjustAndTrim) {
  EXPECT_EQ(adjustl("  ab "), "ab   ");
  EXPECT_EQ(adjustr(" ab  "), "   ab");
  EXPECT_EQ(trim("  ab  "), "  ab");
  EXPECT_EQ(trim_both("  ab  "), "ab");
  EXPECT_EQ(len_trim("    "), 0u);
}

// A window re-aimed through WindowScope points where it pointed before once the scope ends,
// whether it ends normally, early through restore(), or by an exception unwinding it.
TEST(WindowScope, PutsTheOldAimBackOnEveryExit) {
  FArray<int4, 2> a, b;
  a.allocate(Dim(2), Dim(3));
  b.allocate(Dim(4), Dim(3));
  a(1, 1) = 11;
  b(1, 1) = 22;
  FView<int4, 2> window = a.view();
  real8 x = 1.0, y = 2.0;
  real8* score = &x;
  {
    WindowScope aim(window, b.view());
    WindowScope keep(score);
    score = &y;
    EXPECT_EQ(window(1, 1), 22);
    EXPECT_EQ(*score, 2.0);
  }
  EXPECT_EQ(window(1, 1), 11);
  EXPECT_EQ(window.ubound(1), 2);
  EXPECT_EQ(score, &x);
  {
    WindowScope aim(window, b.view());
    aim.restore();
    EXPECT_EQ(window(1, 1), 11);
  }
  try {
    WindowScope aim(window, b.view());
    throw std::runtime_error("stop");
  } catch (const std::runtime_error&) {
  }
  EXPECT_EQ(window(1, 1), 11);
}

}  // namespace
}  // namespace kinrad
