// Module members and record types that later phases use: their kinds, ranks and start-up
// values, read off the declarations of the design (int4 flags, real8 log likelihoods, rank-1
// and rank-2 windows of single-precision and int4 arrays).
#include <gtest/gtest.h>

#include <type_traits>

#include "core/farray.hpp"
#include "core/modules.hpp"
#include "core/modules/variables.hpp"
#include "core/record_types.hpp"

namespace kinrad {
namespace {

static_assert(std::is_same_v<decltype(Spdim1::a), FView<real4, 1>>);
static_assert(std::is_same_v<decltype(I4bdim2::a), FView<int4, 2>>);
static_assert(std::is_same_v<decltype(Variables::parallelq), int4>);
static_assert(std::is_same_v<decltype(Variables::minloglikelihood), real8>);
static_assert(std::is_same_v<decltype(Variables::indivorder), FView<int4, 1>>);

TEST(FoundationNames, StartUpValues) {
  reset_all_modules();
  EXPECT_EQ(variables.parallelq, 0);
  EXPECT_EQ(variables.minloglikelihood, -1e300);
  EXPECT_FALSE(variables.indivorder.associated());
}

TEST(FoundationNames, RecordsAreWindowsCopiedShallow) {
  FArray<real4, 1> store(Dim(3));
  Spdim1 s{store.view()};
  s.a(2) = 0.5f;
  const Spdim1 copy = s;
  EXPECT_EQ(copy.a.data(), store.data());
  EXPECT_EQ(store(2), 0.5f);

  FArray<int4, 2> table(Dim(2), Dim(0, 1));
  I4bdim2 t{table.view()};
  t.a(2, 1) = 7;
  EXPECT_EQ(t.a.lbound(2), 0);
  EXPECT_EQ(table(2, 1), 7);
}

}  // namespace
}  // namespace kinrad
