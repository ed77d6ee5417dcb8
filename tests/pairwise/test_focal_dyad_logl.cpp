// Sib and clone log likelihoods of the focal-offspring scheme against direct sums over loci.
#include <cmath>
#include <vector>

#include "pairwise/dyad_sample.hpp"

namespace kinrad::pairtest {
namespace {

// Coefficients of relationship t of the focal scheme, from the relationship definitions.
Delta focaldelta(int t) {
  const bool hd = variables.haplodiploid == 1;
  if (t == 1)
    return hd ? Delta{0, 0, 0, 0, 0, 0, 0.5, 0.5, 0} : Delta{0, 0, 0, 0, 0, 0, 0.25, 0.5, 0.25};
  if (t == 2) return hd ? Delta{0, 0, 0, 0, 0, 0, 0, 1, 0} : Delta{0, 0, 0, 0, 0, 0, 0, 0.5, 0.5};
  return Delta{0, 0, 0, 0, 0, 0, 0, 0.5, 0.5};
}

real8 ln(real8 p) {
  return p <= 1e-300 ? -1e300 : std::log(p);
}

real8 single(int ploidy, int4 l, std::array<int4, 2> g) {
  real8 p = 1.0;
  probsinglegtype(0.0, ploidy, l, g.data(), p);
  return p;
}

// The focal i with partner j under type t: per locus the joint probability, the typed
// member's single probability (focal at its own ploidy, partner as a diploid), or nothing.
real8 focaloracle(int t, int i, int j) {
  const Variables& v = variables;
  real8 sum = 0.0;
  for (int4 l = 1; l <= v.numloci; ++l) {
    if (v.obsnumallele(l) < 2) continue;
    const auto a = allelesof(0, i, l);
    const auto b = allelesof(0, j, l);
    if (a[0] > 0 && b[0] > 0)
      sum += ln(prbpdyad(a[0], a[1], b[0], b[1], focaldelta(t), l, 0));
    else if (a[0] > 0)
      sum += ln(single(v.offploid(i), l, a));
    else if (b[0] > 0)
      sum += ln(single(2, l, b));
  }
  return sum;
}

void startfocal() {
  setindivgtype3();
  allocate_focal_dyad_tables();
}

real8 score(int t, int j, real8 bound = -1e300) {
  simuvariables.setsimoffgtype = 0;
  real8 logl = 0.0;
  compute_dyad_logl(t, j, logl, bound);
  return logl;
}

TEST_F(PairTest, FocalScoresEqualTheDirectSum) {
  SampleSpec dio;
  dio.n = 25;
  dio.alleles = {2, 4, 2, 7, 3};
  dio.dominant = {3};
  SampleSpec hd = dio;
  hd.haplodiploid = "1";
  hd.dominant = {};
  hd.haploid = 0.3;
  hd.fathers = 0;
  for (const SampleSpec& s : {dio, hd}) {
    SCOPED_TRACE(s.haplodiploid);
    ASSERT_TRUE(prepare(projectof(s).text()));
    startfocal();
    ASSERT_EQ(simuvariables.ntype, s.haplodiploid == "1" ? 3 : 2);
    for (int i = 1; i < variables.smplsize; ++i) {
      setdyadlogl(i);
      for (int j = i + 1; j <= variables.smplsize; ++j)
        for (int t = 1; t <= simuvariables.ntype; ++t) {
          const real8 want = focaloracle(t, i, j);
          EXPECT_NEAR(score(t, j), want, 1e-9 * std::fabs(want)) << i << " " << j << " " << t;
        }
    }
    // Focal offspring again in reverse order: genotypes met before come from the tables
    // already built, and must score the same.
    for (int i = variables.smplsize; i >= 1; --i) {
      setdyadlogl(i);
      for (int j = 1; j <= variables.smplsize; j += 3)
        for (int t = 1; t <= simuvariables.ntype; ++t) {
          const real8 want = focaloracle(t, i, j);
          EXPECT_NEAR(score(t, j), want, 1e-9 * std::fabs(want)) << i << " " << j << " " << t;
        }
    }
  }
}

TEST_F(PairTest, FocalScoreStopsAtTheBound) {
  SampleSpec s;
  s.n = 6;
  s.alleles = {5, 2, 2};
  s.missing = 0.0;
  ASSERT_TRUE(prepare(projectof(s).text()));
  startfocal();
  setdyadlogl(1);
  // The locus of five alleles is the only one of list 3 and is summed first.
  const auto a = allelesof(0, 1, 1);
  const auto b = allelesof(0, 2, 1);
  const real8 first = ln(prbpdyad(a[0], a[1], b[0], b[1], focaldelta(1), 1, 0));
  EXPECT_EQ(score(1, 2, first + 1e-9), first);
  EXPECT_LT(score(1, 2, -1e300), first);
}

TEST_F(PairTest, ReusedFocalTablesEqualRebuiltOnes) {
  SampleSpec s;
  s.n = 30;
  s.alleles = {2, 2, 3, 2};  // few genotypes: neighbouring focals often agree at a locus
  ASSERT_TRUE(prepare(projectof(s).text()));
  startfocal();
  std::vector<real8> reused;
  for (int i = 1; i < 30; ++i) {
    setdyadlogl(i);
    for (int j = i + 1; j <= 30; ++j) reused.push_back(score(2, j));
  }
  std::size_t k = 0;
  for (int i = 1; i < 30; ++i) {
    simuvariables.dyadgtype.fill(-99);
    setdyadlogl(i);
    for (int j = i + 1; j <= 30; ++j) EXPECT_EQ(score(2, j), reused[k++]) << i << " " << j;
  }
}

TEST_F(PairTest, ADiploidFocalAfterAHaploidOneWithTheSameAllelesGetsItsOwnTables) {
  readtest::ProjectFile p;
  p.loci = 2;
  p.haplodiploid = "1";
  p.method = "1";
  p.droprates = "0.02 0.02";
  p.otherrates = "0.02 0.02";
  // O1 (haploid) and O2 (diploid) carry the same alleles at both loci; O3 is untyped at the
  // first one.
  p.offspring = {"O1 101 -99 201 -99", "O2 101 101 201 201", "O3 0 0 201 202",
                 "O4 102 103 202 202"};
  p.mothers = {"F1 101 102 201 202"};
  ASSERT_TRUE(prepare(p.text()));
  startfocal();
  setdyadlogl(1);
  EXPECT_NEAR(score(1, 3), focaloracle(1, 1, 3), 1e-12);
  setdyadlogl(2);
  EXPECT_NEAR(score(1, 3), focaloracle(1, 2, 3), 1e-12);
  // The two focals' single terms differ, so stale tables would show.
  EXPECT_NE(single(1, 1, {1, 1}), single(2, 1, {1, 1}));
}

// The clone likelihood of focal i and partner j, written out per locus.
real8 cloneoracle(int i, int j) {
  const Variables& v = variables;
  const Delta clone{0, 0, 0, 0, 0, 0, 1, 0, 0};
  real8 sum = 0.0;
  for (int4 l = 1; l <= v.numloci; ++l) {
    const int na = v.obsnumallele(l);
    if (na < 2) continue;
    const auto a = allelesof(0, i, l);
    const auto b = allelesof(0, j, l);
    real8 p;
    if (a[0] > 0 && b[0] > 0) {
      if (v.offploid(j) == 2) {
        p = prbpdyad(a[0], a[1], b[0], b[1], clone, l, 0);
      } else {
        const real8 e = v.othererrorrate(l), ep = e / na;
        const real8 fa = v.obsallelefre(l).a(a[0]), fb = v.obsallelefre(l).a(b[0]);
        p = a[0] == b[0] ? fb * (1 - e) * (1 - e + 2 * ep) + ep * ep
                         : ep * (ep + (1 - e) * (fa + fb));
      }
    } else if (a[0] > 0 || b[0] > 0) {
      p = single(v.offploid(j), l, b[0] > 0 ? b : a);
    } else {
      continue;
    }
    sum += ln(p);
  }
  return sum;
}

TEST_F(PairTest, CloneScoresEqualTheDirectSumAndTheirCache) {
  SampleSpec dio;
  dio.n = 16;
  dio.alleles = {2, 2, 4, 2};
  SampleSpec hd = dio;
  hd.haplodiploid = "1";
  hd.haploid = 0.5;
  hd.fathers = 0;
  for (const SampleSpec& s : {dio, hd}) {
    SCOPED_TRACE(s.haplodiploid);
    ASSERT_TRUE(prepare(projectof(s).text()));
    startfocal();
    for (int i = 1; i < 16; ++i) {
      refresh_clone_cache(i);
      for (int j = i + 1; j <= 16; ++j) {
        if (variables.offploid(i) != variables.offploid(j)) continue;  // equal ploidy only
        const real8 want = cloneoracle(i, j);
        // The second call reads the two-allele loci from the cache.
        EXPECT_NEAR(clone_dyad_logl(i, j), want, 1e-12 * std::fabs(want)) << i << " " << j;
        EXPECT_NEAR(clone_dyad_logl(i, j), want, 1e-12 * std::fabs(want)) << i << " " << j;
      }
    }
  }
}

}  // namespace
}  // namespace kinrad::pairtest
