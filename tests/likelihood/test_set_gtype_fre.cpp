// Parents' genotype priors at a locus of more than two alleles, on hand-built work state: one
// diploid parent whose candidate alleles and frequencies are given. Expected values are worked
// out on paper from the Hardy-Weinberg products with the inbreeding coefficient.
#include <gtest/gtest.h>

#include <vector>

#include "core/modules.hpp"
#include "core/modules/likelihoodvar.hpp"
#include "core/modules/variables.hpp"
#include "likelihood/likelihood_internal.hpp"
#include "support/module_reset.hpp"

namespace kinrad {
namespace {

class SetGtypeFre : public testing_support::ModuleReset {
 protected:
  // One diploid father (joint parent 1) with candidate alleles `alleles` at locus 1 of k
  // alleles with the given frequencies; no mother.
  void parent(const std::vector<int1>& alleles, const std::vector<double>& freq) {
    Variables& v = variables;
    Likelihoodvar& lv = likelihoodvar;
    v.numsex = 2;
    v.numloci = 1;
    v.ploidy(1) = 2;
    v.ploidy(2) = 2;
    v.nparent(1) = 1;
    v.nparent(2) = 0;
    v.nallparent = 1;
    v.npstartloc1(2) = 1;
    v.genotypenum.allocate(Dim(10));
    for (int4 k = 1; k <= 10; ++k) v.genotypenum(k) = k * (k + 1) / 2;
    store_.allocate(Dim(static_cast<index_t>(freq.size())));
    for (size_t i = 0; i < freq.size(); ++i) store_(static_cast<index_t>(i + 1)) = freq[i];
    v.obsallelefre.allocate(Dim(1));
    v.obsallelefre(1).a = store_.view();
    v.dominantmarker.allocate(Dim(1));
    v.locuserror.allocate(Dim(1));
    v.prntgtype.allocate(Dim(2), Dim(1));
    lv.knownprt.allocate(Dim(1));
    const int4 m = static_cast<int4>(alleles.size());
    lv.allelehs.allocate(Dim(m));
    for (int4 i = 1; i <= m; ++i) lv.allelehs(i) = alleles[static_cast<size_t>(i - 1)];
    lv.allelehsnum.allocate(Dim(1));
    lv.allelehsnum(1) = static_cast<int1>(m);
    lv.allelehsloc.allocate(Dim(2));
    lv.hsprobdim.allocate(Dim(1));
    lv.hsprobdim(1) = static_cast<int2>(alleles[0] < 0 ? 1 : m * (m + 1) / 2);
    lv.hsprobloc.allocate(Dim(2));
    lv.hsprobloc(2) = lv.hsprobdim(1);
  }
  std::vector<double> block() const {
    std::vector<double> r;
    for (int4 g = 1; g <= likelihoodvar.hsprobdim(1); ++g)
      r.push_back(likelihoodvar.crrtgenotypefre(g));
    return r;
  }
  FArray<real8, 1> store_;
};

TEST_F(SetGtypeFre, UntypedParentWithPooledAllele) {
  parent({1, 2, 0}, {0.2, 0.3, 0.1, 0.4});
  real8 logl = 0.0;
  setgtypefre(1, 4, logl);
  // Pooled frequency 1 - 0.2 - 0.3 = 0.5; pairs (1,1) .. (3,3).
  const std::vector<double> expect{0.04, 0.12, 0.2, 0.09, 0.3, 0.25};
  const auto got = block();
  ASSERT_EQ(got.size(), expect.size());
  for (size_t i = 0; i < expect.size(); ++i) EXPECT_NEAR(got[i], expect[i], 1e-15) << i;
  EXPECT_EQ(logl, 0.0);
}

TEST_F(SetGtypeFre, TypedErrorFreeHeterozygoteHasOnlyItsMiddleEntry) {
  parent({2, 3}, {0.2, 0.3, 0.1, 0.4});
  likelihoodvar.knownprt(1) = 1;
  variables.prntgtype(1, 1) = 2;
  variables.prntgtype(2, 1) = 3;
  real8 logl = 0.0;
  setgtypefre(1, 4, logl);
  const auto got = block();
  EXPECT_EQ(got[0], 0.0);
  EXPECT_NEAR(got[1], 2 * 0.3 * 0.1, 1e-16);
  EXPECT_EQ(got[2], 0.0);
}

// With inbreeding allowed and F = -0.5, F + (1 - F) f is negative for f = 1e-7, so the
// homozygote factor is held at 1e-6: (1,1) = 1e-7 x 1e-6; a heterozygote gets 2 f f' (1 - F).
TEST_F(SetGtypeFre, HomozygoteFactorFloor) {
  parent({1, 2}, {1e-7, 1.0 - 1e-7});
  variables.allowinbreeding = 1;
  variables.inbreeding = -0.5;
  real8 logl = 0.0;
  setgtypefre(1, 2 + 1, logl);  // any count above 2 takes the general path
  const auto got = block();
  EXPECT_NEAR(got[0], 1e-7 * 1e-6, 1e-25);
  EXPECT_NEAR(got[1], 2 * 1e-7 * (1 - 1e-7) * 1.5, 1e-20);
  EXPECT_NEAR(got[2], (1 - 1e-7) * (-0.5 + 1.5 * (1 - 1e-7)), 1e-15);
}

TEST_F(SetGtypeFre, InferenceModeFixedGenotype) {
  struct Row {
    const char* name;
    std::vector<int1> alleles;
    int4 fixed[2];
    int expected_entry;  // 1-based entry set to 1, 0 when impossible
  };
  const Row rows[] = {
      {"listed pair", {1, 2, 0}, {2, 1}, 2},
      {"unlisted allele lands on the pooled code", {1, 2, 0}, {1, 4}, 3},
      {"both unlisted", {1, 2, 0}, {3, 4}, 6},
      {"outside a list without pooled code", {2, 3}, {1, 1}, 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    reset_all_modules();
    parent(r.alleles, {0.2, 0.3, 0.1, 0.4});
    likelihoodvar.infergtypesex = 1;
    likelihoodvar.infergtypeprnt = 1;
    likelihoodvar.infergtype(1) = r.fixed[0];
    likelihoodvar.infergtype(2) = r.fixed[1];
    real8 logl = 0.0;
    setgtypefre(1, 4, logl);
    if (r.expected_entry == 0) {
      EXPECT_EQ(logl, -1e300);
      continue;
    }
    EXPECT_EQ(logl, 0.0);
    const auto got = block();
    for (size_t i = 0; i < got.size(); ++i)
      EXPECT_EQ(got[i], static_cast<int>(i + 1) == r.expected_entry ? 1.0 : 0.0) << i;
  }
}

}  // namespace
}  // namespace kinrad
