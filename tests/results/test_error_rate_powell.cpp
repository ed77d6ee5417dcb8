// The direction-set minimiser against an independent transcription of the method
// (tests/results/generators/error_rate_reference.py): same points, values, directions and
// evaluation counts on synthetic box objectives; and the line search's bracket by hand.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/modules.hpp"
#include "core/modules/variables.hpp"
#include "results/error_rate_fixture.hpp"
#include "results/error_rate_internal.hpp"
#include "support/run_stage.hpp"
#include "support/temp_dir.hpp"

namespace kinrad {
namespace {

using test::BoxedObjective;

struct PowellCase {
  std::string name;
  std::function<real8(const PowellPoint&)> g;
  int4 n;
  int4 order;
  real8 ftol;
  real8 level;
  std::vector<real8> box;    // lo, hi per rate
  std::vector<real8> start;  // p
  std::vector<real8> dirs;   // xi column-major
};

// The generator's cases, as it lists them.
std::vector<PowellCase> powell_cases() {
  const std::vector<real8> unit2 = {0.0, 1.0, 0.0, 1.0};
  const std::vector<real8> diag2 = {0.01, 0.0, 0.0, 0.01};
  return {
      {"quad2_o0", test::g_quad2, 2, 0, 1e-5, 0.0, unit2, {0.1, 0.1}, diag2},
      {"quad2_o1", test::g_quad2, 2, 1, 1e-5, 0.0, unit2, {0.1, 0.1}, diag2},
      {"upper2_o0", test::g_upper2, 2, 0, 1e-5, 0.0, unit2, {0.5, 0.5}, diag2},
      {"upper2_o1", test::g_upper2, 2, 1, 1e-5, 0.0, unit2, {0.5, 0.5}, diag2},
      {"flat_o0", test::g_flat, 2, 0, 1e-5, 0.0, unit2, {0.2, 0.3}, diag2},
      {"flat_o1", test::g_flat, 1, 1, 1e-5, 0.0, {0.0, 1.0}, {0.2}, {0.01}},
      {"level2_o0", test::g_quad2, 2, 0, 1e-4, 0.5, {0.3, 1.0, 0.6, 1.0}, {0.307, 0.604}, diag2},
      {"level2_o1", test::g_quad2, 2, 1, 1e-4, 0.5, {0.3, 1.0, 0.6, 1.0}, {0.307, 0.604}, diag2},
      {"level1_lower", test::g_quad1, 1, 0, 1e-4, 2.005, {0.0, 0.04}, {0.0004}, {0.01}},
      {"level1_upper", test::g_quad1, 1, 0, 1e-4, 2.005, {0.04, 1.0}, {0.0496}, {0.01}},
      {"quad1_o1", test::g_quad1, 1, 1, 1e-5, 0.0, {0.0, 1.0}, {0.000003}, {0.00007}},
  };
}

void set_box(int4 n, const std::vector<real8>& box, real8 level) {
  auto& v = variables;
  v.numerrorrate = n;
  v.loglerrorrateconst = level;
  for (int4 i = 1; i <= n; ++i) {
    v.rangeerrorrate(1, i) = box[static_cast<size_t>(2 * (i - 1))];
    v.rangeerrorrate(2, i) = box[static_cast<size_t>(2 * (i - 1) + 1)];
  }
}

class Powell : public ::testing::Test {
 protected:
  void SetUp() override { reset_all_modules(); }
};

// Every case gives the reference's iterations, evaluations, value, point and directions.
TEST_F(Powell, MatchesTheTranscriptionOnSyntheticObjectives) {
  const auto ref = test::read_reference("powell_reference.txt");
  for (const PowellCase& c : powell_cases()) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(ref.count(c.name));
    const auto& r = ref.at(c.name);
    ASSERT_EQ(r.size(), static_cast<size_t>(3 + c.n + c.n * c.n));
    set_box(c.n, c.box, c.level);
    BoxedObjective f{c.g};
    PowellPoint p{};
    FArray<real8, 2> xi(Dim(c.n), Dim(c.n));
    for (int4 i = 1; i <= c.n; ++i) {
      p(i) = c.start[static_cast<size_t>(i - 1)];
      for (int4 j = 1; j <= c.n; ++j) xi(i, j) = c.dirs[static_cast<size_t>((j - 1) * c.n + i - 1)];
    }
    int4 iter = 0;
    real8 fret = 0.0;
    powell(c.order, p, xi, c.n, c.n, c.ftol, iter, fret, std::ref(f));
    EXPECT_EQ(iter, std::stoi(r[0]));
    EXPECT_EQ(f.count, std::stoi(r[1]));
    EXPECT_NEAR(fret, std::stod(r[2]), 1e-12);
    for (int4 i = 1; i <= c.n; ++i)
      EXPECT_NEAR(p(i), std::stod(r[static_cast<size_t>(2 + i)]), 1e-12);
    size_t k = static_cast<size_t>(3 + c.n);
    for (int4 j = 1; j <= c.n; ++j)
      for (int4 i = 1; i <= c.n; ++i) EXPECT_NEAR(xi(i, j), std::stod(r[k++]), 1e-12);
  }
}

// An objective that is flat at exactly 0 converges in the first iteration (the slack 1e-25).
TEST_F(Powell, FlatObjectiveEndsAfterOneIteration) {
  set_box(2, {0.0, 1.0, 0.0, 1.0}, 0.0);
  BoxedObjective f{test::g_flat};
  PowellPoint p{};
  p(1) = 0.2;
  p(2) = 0.3;
  FArray<real8, 2> xi(Dim(2), Dim(2));
  xi(1, 1) = 0.01;
  xi(2, 2) = 0.01;
  int4 iter = 0;
  real8 fret = 1.0;
  powell(0, p, xi, 2, 2, 1e-5, iter, fret, std::ref(f));
  EXPECT_EQ(iter, 1);
  EXPECT_EQ(fret, 0.0);
}

// The points a line search tries, recorded.
struct Recorder {
  std::vector<real8> at;
  real8 operator()(const PowellPoint& x) {
    const auto& v = variables;
    if (x(1) < v.rangeerrorrate(1, 1) || x(1) > v.rangeerrorrate(2, 1)) return 1e100;
    at.push_back(x(1));
    const real8 a = x(1) - 0.3;
    return a * a;
  }
};

// A direction that earlier searches shrank to nothing: interval [-1e100, 1e100], start 0; the
// point stays where it is.
TEST_F(Powell, DegenerateDirectionLeavesThePoint) {
  set_box(1, {0.0, 1.0}, 0.0);
  Recorder f;
  PowellPoint p{};
  p(1) = 0.5;
  PowellPoint xi{};
  xi(1) = 1e-11;
  real8 fret = 0.0;
  linmin(p, xi, 1, fret, std::ref(f));
  ASSERT_FALSE(f.at.empty());
  EXPECT_EQ(f.at.front(), 0.5);  // step 0 first
  EXPECT_NEAR(p(1), 0.5, 1e-9);
  EXPECT_EQ(variables.f1com.ncom, 1);
}

// By hand: on the upper limit with a positive component, a = (0 - 1) / 0.1 = -10 and b = 0, so
// the first step is a / 2 = -5, the point 1 - 0.5 = 0.5. On the lower limit with a positive
// component a = 0, b = 10: the first step is 0.
TEST_F(Powell, StartStepOnTheBoxLimits) {
  struct Row {
    real8 p, first;
  };
  for (const Row& row : {Row{1.0, 0.5}, Row{0.0, 0.0}}) {
    SCOPED_TRACE(row.p);
    set_box(1, {0.0, 1.0}, 0.0);
    Recorder f;
    PowellPoint p{};
    p(1) = row.p;
    PowellPoint xi{};
    xi(1) = 0.1;
    real8 fret = 0.0;
    linmin(p, xi, 1, fret, std::ref(f));
    ASSERT_FALSE(f.at.empty());
    EXPECT_DOUBLE_EQ(f.at.front(), row.first);
    EXPECT_NEAR(p(1), 0.3, 1e-4);
    // xi is the step taken.
    EXPECT_NEAR(xi(1), p(1) - row.p, 1e-15);
  }
}

// An objective that keeps falling never converges: after 200 iterations the program stops with
// the minimiser's text as the routine name and no error lines (by hand from the error stop's
// file layout), status 1.
TEST_F(Powell, StopsAfterTwoHundredIterations) {
  testing_support::TempWorkDir dir("powell_stop");
  set_box(1, {0.0, 1.0}, 0.0);
  variables.fname = "stem";
  int4 calls = 0;
  int4 iter = 0;
  const auto o = testing_support::run_stage([&] {
    PowellPoint p{};
    p(1) = 0.5;
    FArray<real8, 2> xi(Dim(1), Dim(1));
    xi(1, 1) = 0.01;
    real8 fret = 0.0;
    powell(0, p, xi, 1, 1, 1e-5, iter, fret,
           [&calls](const PowellPoint&) { return -static_cast<real8>(++calls); });
  });
  EXPECT_TRUE(o.stopped);
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.errorfile,
            "Program stopped in subroutine powell exceeding maximum iterations, dataset = stem.\n");
  EXPECT_EQ(iter, 200);
}

}  // namespace
}  // namespace kinrad
