// Known sibship status of a pair from known groups and excluded-sibship bit sets, with module
// state set up directly.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "core/modules.hpp"
#include "pairwise/pairwise_internal.hpp"
#include "support/module_reset.hpp"

namespace kinrad {
namespace {

class SibKnownExc : public testing_support::ModuleReset {
 protected:
  // 40 offspring with the given known groups (paternal, maternal) per offspring; the rest 0.
  void groups(const std::vector<std::array<int4, 3>>& rows) {
    Variables& v = variables;
    v.smplsize = 40;
    v.knownsibship.allocate(Dim(40), Dim(2));
    for (const auto& r : rows) {
      v.knownsibship(r[0], 1) = r[1];
      v.knownsibship(r[0], 2) = r[2];
    }
  }
  // Offspring lo and hi (lo < hi) must not share side s: the bit of lo in hi's set.
  void exclude(int4 lo, int4 hi, int4 s, index_t words = -1) {
    Variables& v = variables;
    v.anyexcludedsibshipq(s) = 1;
    if (!v.excludedsib.allocated()) v.excludedsib.allocate(Dim(40), Dim(2));
    FArray<int4, 1>& w = v.excludedsib(hi, s).a;
    if (!w.allocated()) w.allocate(Dim(0, words >= 0 ? words : (hi - 1) / 32));
    if ((lo - 1) / 32 <= w.ubound(1)) w((lo - 1) / 32) |= static_cast<int4>(1u << ((lo - 1) % 32));
  }
  std::array<int4, 2> stat(int4 i, int4 j) {
    std::array<int4, 2> st{9, 9};
    sibknownexc(i, j, st, {variables.knownsibship(i, 1), variables.knownsibship(i, 2)});
    return st;
  }
};

TEST_F(SibKnownExc, KnownGroupsDecideEachSide) {
  // (i, paternal group, maternal group); expected values by the rules: equal positive groups
  // are sibs, different positive groups stay open, negative groups are the offspring of known
  // parents and exclude one another.
  groups({{1, 3, 0}, {2, 3, 5}, {3, 4, 5}, {4, -7, -2}, {5, -7, -3}, {6, -8, 0}});
  struct Row {
    int4 i, j;
    std::array<int4, 2> want;
  } rows[] = {
      {1, 2, {1, 0}},   // same positive paternal group; maternal unknown for 1
      {2, 3, {0, 1}},   // different positive groups: open, not -1
      {4, 5, {1, -1}},  // same negative paternal group; different negative maternal groups
      {4, 6, {-1, 0}},  // different negative groups; maternal unknown for 6
      {1, 4, {0, 0}},   // positive against negative: open
      {7, 8, {0, 0}},   // nothing known
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::Message() << r.i << ", " << r.j);
    EXPECT_EQ(stat(r.i, r.j), r.want);
  }
}

TEST_F(SibKnownExc, ExcludedSibshipsDecideWhatTheGroupsLeaveOpen) {
  groups({{1, 3, 0}, {2, 3, 0}, {35, 6, 0}, {36, 7, 0}});
  exclude(3, 4, 1);
  exclude(1, 2, 2);
  exclude(33, 35, 1);  // bit 0 of word 1
  exclude(2, 36, 2);
  exclude(35, 36, 1);  // the groups 6 and 7 differ (open): the exclusion decides
  struct Row {
    int4 i, j;
    std::array<int4, 2> want;
  } rows[] = {
      {3, 4, {-1, 0}},  {1, 2, {1, -1}},   {33, 35, {-1, 0}},
      {2, 36, {0, -1}}, {35, 36, {-1, 0}}, {5, 6, {0, 0}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::Message() << r.i << ", " << r.j);
    EXPECT_EQ(stat(r.i, r.j), r.want);
  }
}

TEST_F(SibKnownExc, AWordBeyondTheSetIsNotExcluded) {
  groups({});
  // Offspring 40's paternal set holds one word only (offspring 1 to 32).
  exclude(5, 40, 1, 0);
  EXPECT_EQ(stat(5, 40), (std::array<int4, 2>{-1, 0}));
  EXPECT_EQ(stat(34, 40), (std::array<int4, 2>{0, 0}));
}

}  // namespace
}  // namespace kinrad
