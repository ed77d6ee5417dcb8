// The trio screen over a case table derived by hand from the inheritance rules: codominant
// loci with either assignment of the offspring's alleles, loci skipped for typing errors or
// missing genotypes, dominant loci with diploid and haploid fathers.
#include <gtest/gtest.h>

#include "configuration/configuration.hpp"
#include "configuration_fixture.hpp"

namespace kinrad::test {
namespace {

// Genotype numbers of the test's own table at three alleles.
constexpr int2 g11 = 1, g12 = 2, g22 = 3, g13 = 4, g23 = 5, g33 = 6;

struct Case {
  const char* name;
  int2 o, f, m;     // codominant genotypes (0 missing)
  int2 od, fd, md;  // dominant phenotypes (0 missing)
  int1 error;       // typing errors at the codominant locus
  int4 fatherploidy;
  int4 mother;  // the offspring's present mother (0 unsampled)
  real8 want;
};

TEST(CheckTrioCompatability, CaseTable) {
  const real8 bad = -1e300;
  const Case cases[] = {
      {"father gives the first allele", g12, g11, g23, 0, 0, 0, 0, 2, 1, 0.0},
      {"father gives the second allele", g12, g23, g11, 0, 0, 0, 0, 2, 1, 0.0},
      {"neither assignment", g12, g33, g11, 0, 0, 0, 0, 2, 1, bad},
      {"allele 3 from nobody", g13, g12, g22, 0, 0, 0, 0, 2, 1, bad},
      {"locus with typing errors skipped", g13, g12, g22, 0, 0, 0, 1, 2, 1, 0.0},
      {"offspring missing", 0, g12, g22, 0, 0, 0, 0, 2, 1, 0.0},
      {"mother missing", g13, g12, 0, 0, 0, 0, 0, 2, 1, 0.0},
      {"unsampled mother", g13, g12, g22, 0, 0, 0, 0, 2, 0, 0.0},
      {"haploid father passes on his allele", g12, g23, g11, 0, 0, 0, 0, 1, 1, 0.0},
      {"haploid father has only allele 2", g13, g23, g11, 0, 0, 0, 0, 1, 1, bad},
      {"diploid father of the same", g13, g23, g11, 0, 0, 0, 0, 2, 1, 0.0},
      {"band from neither parent", 0, 0, 0, 1, 2, 2, 0, 2, 1, bad},
      {"band from the father", 0, 0, 0, 1, 1, 2, 0, 2, 1, 0.0},
      {"no band, both parents with it", 0, 0, 0, 2, 1, 1, 0, 2, 1, 0.0},
      {"no band, haploid father with it", 0, 0, 0, 2, 1, 2, 0, 1, 1, bad},
      {"no band, haploid father without", 0, 0, 0, 2, 2, 2, 0, 1, 1, 0.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    setup_sample(SampleShape{1, 2, 0, 0, 1, 1});
    auto& v = variables;
    auto& av = annealvariables;
    v.allcandidate = 2;
    v.numloci = 2;
    v.obsnumallele.allocate(Dim(2));
    v.obsnumallele(1) = 3;
    v.obsnumallele(2) = 2;
    v.locuserror.allocate(Dim(2));
    v.locuserror(1) = c.error;
    v.dominantmarker.allocate(Dim(2));
    v.dominantmarker(2) = 1;
    v.ploidy(1) = c.fatherploidy;
    v.ploidy(2) = 2;
    v.l23g(1) = 3;
    v.l23g(2) = 3;
    v.genotypeid.allocate(Dim(2), Dim(0, 6));
    const int1 pairs[7][2] = {{0, 0}, {1, 1}, {1, 2}, {2, 2}, {1, 3}, {2, 3}, {3, 3}};
    for (int4 g = 0; g <= 6; ++g) {
      v.genotypeid(1, g) = pairs[g][0];
      v.genotypeid(2, g) = pairs[g][1];
    }
    // Locus 1 one word per individual; locus 2 two-bit codes packed into one word.
    FArray<int2, 1> off1, off2, cnd1, cnd2;
    off1.allocate(Dim(1));
    off2.allocate(Dim(1));
    cnd1.allocate(Dim(2));
    cnd2.allocate(Dim(1));
    off1(1) = c.o;
    cnd1(1) = c.f;
    cnd1(2) = c.m;  // the mother follows the single father
    off2(1) = c.od;
    cnd2(1) = static_cast<int2>(c.fd | (c.md << 2));
    v.indivgtype2.allocate(Dim(2));
    v.cndgtype2.allocate(Dim(2));
    v.indivgtype2(1).a = off1.view();
    v.indivgtype2(2).a = off2.view();
    v.cndgtype2(1).a = cnd1.view();
    v.cndgtype2(2).a = cnd2.view();
    v.indivparent.allocate(Dim(1), Dim(2));
    v.inferparent(1, 2) = c.mother;
    av.indivparentage.allocate(Dim(1), Dim(2));
    av.inferparentage.allocate(Dim(1), Dim(2), Dim(2));
    av.numindivparentage(1) = 1;
    av.indivparentage(1, 1) = 1;
    av.inferparentage(1, 1, 2) = 1;  // the proposal gives offspring 1 father 1
    real8 logl = 1.0;
    checktriocompatability(logl, 1);
    EXPECT_EQ(logl, c.want);
    for (auto x : av.selectedprntidxq2) ASSERT_EQ(x, 0);
  }
}

}  // namespace
}  // namespace kinrad::test
