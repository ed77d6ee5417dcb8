// One common list of inferred genotype alternatives for the members of a clone.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "pairwise/clone_fixture.hpp"
#include "pairwise/clones.hpp"

namespace kinrad::test {
namespace {

struct Alt {
  int a1, a2;
  real4 p;
};

void set_alternatives(int4 i, const std::vector<Alt>& alts) {
  Variables& v = variables;
  for (int4 k = 1; k <= v.numestgenotype; ++k) {
    const bool has = k <= static_cast<int4>(alts.size());
    const Alt a = has ? alts[static_cast<std::size_t>(k - 1)] : Alt{0, 0, 0.0f};
    v.estchildgtype(1, k, i) = static_cast<int1>(a.a1);
    v.estchildgtype(2, k, i) = static_cast<int1>(a.a2);
    v.estchildgtypeprb(k, i) = a.p;
  }
}

// Four offspring at one error-prone 3-allele locus: offspring 1, 2 and 4 form clone 1
// (typed 1/2, 1/2 and, discordantly, 1/3), offspring 3 is a clone of its own.
class CloneGenotypeTest : public CloneTest {
 protected:
  void SetUp() override {
    CloneTest::SetUp();
    CloneData d;
    d.loci = {{3, false, 0.05, 0.05, {0.5, 0.3, 0.2}}};
    d.off = {{{1, 2}, {1, 2}, {2, 2}, {1, 3}}};
    setup_clone_data(d);
    Variables& v = variables;
    v.numestgenotype = 5;
    v.estchildgtype.allocate(Dim(2), Dim(5), Dim(4));
    v.estchildgtypeprb.allocate(Dim(5), Dim(4));
    v.cloneconfig.allocate(Dim(4));
    v.cloneconfig(1) = 1;
    v.cloneconfig(2) = 1;
    v.cloneconfig(3) = 2;
    v.cloneconfig(4) = 1;
  }
};

TEST_F(CloneGenotypeTest, ClonesShareOneListOfAlternatives) {
  set_alternatives(1, {{1, 2, 0.9f}, {1, 1, 0.08f}, {2, 2, 0.02f}});
  set_alternatives(2, {{1, 2, 0.7f}, {2, 2, 0.2f}, {1, 1, 0.005f}, {1, 3, 0.095f}});
  set_alternatives(3, {{2, 2, 0.6f}, {1, 2, 0.3f}, {2, 3, 0.1f}});
  set_alternatives(4, {{1, 3, 0.8f}, {1, 2, 0.15f}, {3, 3, 0.05f}});
  inferclonegtype(1);

  // By hand: candidates above 0.01 in order of appearance with summed weights (1/1 of
  // offspring 2 is 0.005 and does not count), each times P(1/2 | t)^2 P(1/3 | t) from the
  // class formulas; normalised and sorted by falling weight.
  struct Cand {
    int a1, a2;
    real8 w;
  };
  std::vector<Cand> c = {{1, 2, real8(0.9f) + real8(0.7f) + real8(0.15f)},
                         {1, 1, real8(0.08f)},
                         {2, 2, real8(0.02f) + real8(0.2f)},
                         {1, 3, real8(0.095f) + real8(0.8f)},
                         {3, 3, real8(0.05f)}};
  real8 total = 0.0;
  for (Cand& x : c) {
    const real8 p12 = observe(1, 2, x.a1, x.a2, 1);
    x.w *= p12 * p12 * observe(1, 3, x.a1, x.a2, 1);
    total += x.w;
  }
  for (Cand& x : c) x.w /= total;
  std::stable_sort(c.begin(), c.end(), [](const Cand& a, const Cand& b) { return a.w > b.w; });
  const Variables& v = variables;
  for (int4 i : {1, 2, 4}) {
    SCOPED_TRACE(i);
    bool ended = false;
    for (int4 k = 1; k <= 5; ++k) {
      const Cand& x = c[static_cast<std::size_t>(k - 1)];
      // From the first alternative below 1e-5 on, the slots are empty.
      if (x.w < 1e-5) ended = true;
      EXPECT_EQ(v.estchildgtype(1, k, i), ended ? 0 : x.a1);
      EXPECT_EQ(v.estchildgtype(2, k, i), ended ? 0 : x.a2);
      EXPECT_FLOAT_EQ(v.estchildgtypeprb(k, i), ended ? 0.0f : static_cast<real4>(x.w));
    }
    // The least likely candidate (3/3, two errors per typing) falls below 1e-5.
    EXPECT_TRUE(ended);
  }
  // The one-member clone keeps its own alternatives; clone numbers are restored.
  EXPECT_EQ(v.estchildgtype(1, 1, 3), 2);
  EXPECT_EQ(v.estchildgtypeprb(1, 3), 0.6f);
  EXPECT_EQ(v.estchildgtypeprb(3, 3), 0.1f);
  for (int4 i = 1; i <= 4; ++i) EXPECT_GT(v.cloneconfig(i), 0);
  EXPECT_EQ(v.cloneconfig(3), 2);
}

// Fewer candidates than slots: the clone's two alternatives are written and every later slot
// is emptied (probability 0, alleles 0 0), whatever the member's own inference left there.
TEST_F(CloneGenotypeTest, SlotsAfterTheAlternativesAreCleared) {
  set_alternatives(1, {{1, 2, 0.95f}, {2, 3, 0.004f}, {2, 3, 0.004f}, {3, 3, 0.004f}});
  set_alternatives(2, {{1, 2, 0.9f}, {1, 3, 0.09f}, {2, 3, 0.004f}, {3, 3, 0.004f}});
  set_alternatives(4, {{1, 3, 0.7f}, {1, 2, 0.3f}, {3, 3, 0.004f}, {2, 2, 0.003f}});
  inferclonegtype(1);
  const Variables& v = variables;
  for (int4 i : {1, 2, 4}) {
    SCOPED_TRACE(i);
    EXPECT_GT(v.estchildgtypeprb(1, i), 0.0f);
    EXPECT_GT(v.estchildgtypeprb(2, i), 0.0f);
    EXPECT_NEAR(v.estchildgtypeprb(1, i) + v.estchildgtypeprb(2, i), 1.0f, 1e-6);
    for (int4 k = 3; k <= 5; ++k) {
      EXPECT_EQ(v.estchildgtypeprb(k, i), 0.0f) << k;
      EXPECT_EQ(v.estchildgtype(1, k, i), 0) << k;
      EXPECT_EQ(v.estchildgtype(2, k, i), 0) << k;
    }
  }
}

// Members typed alike (or all untyped) leave the clone's own inference as it is.
TEST_F(CloneGenotypeTest, AgreeingOrUntypedClonesAreLeftAlone) {
  for (bool untyped : {false, true}) {
    SCOPED_TRACE(untyped);
    CloneData d;
    d.loci = {{3, false, 0.05, 0.05, {0.5, 0.3, 0.2}}};
    d.off = untyped ? std::vector<std::vector<Genotype>>{{{0, 0}, {0, 0}, {2, 2}, {0, 0}}}
                    : std::vector<std::vector<Genotype>>{{{1, 2}, {1, 2}, {2, 2}, {1, 2}}};
    pack(variables.indivgtype2, variables.indivgtype2tgt, d.off);
    set_alternatives(1, {{1, 2, 0.9f}, {1, 1, 0.1f}});
    set_alternatives(2, {{1, 2, 0.6f}, {2, 2, 0.4f}});
    set_alternatives(4, {{1, 3, 0.8f}, {1, 2, 0.2f}});
    inferclonegtype(1);
    EXPECT_EQ(variables.estchildgtypeprb(1, 1), 0.9f);
    EXPECT_EQ(variables.estchildgtypeprb(2, 2), 0.4f);
    EXPECT_EQ(variables.estchildgtype(2, 1, 4), 3);
  }
}

}  // namespace
}  // namespace kinrad::test
