// The parent-offspring scorer of the simulation against a direct sum over loci of the log of
// the genotype model's dyad probability (or single-genotype probability where one member is
// untyped), and the trio scorer's memo and pooling with a stand-in for the engine.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "core/error_stop.hpp"
#include "pairwise/delta_fixture.hpp"

namespace kinrad::pairtest {
namespace {

constexpr std::array<real8, 9> kPo{0, 0, 0, 0, 0, 0, 0, 1, 0};

class ParentOffspringScore : public ::testing::Test {
 protected:
  testing_support::TempWorkDir dir{"podyad"};

  void prepare_sample(double error, const std::string& haplodiploid = "0") {
    SampleSpec s;
    s.n = 20;
    s.alleles = {2, 2, 3, 5, 12};
    s.missing = 0.0;
    s.error = error;
    s.fathers = 3;
    s.mothers = 3;
    s.method = "1";
    s.haplodiploid = haplodiploid;
    ASSERT_TRUE(prepare(projectof(s).text()));
    start_simulation();
  }

  // Offspring and candidate genotypes, one pair per locus (0/0 missing).
  static void place(const std::vector<std::array<int, 2>>& off,
                    const std::vector<std::array<int, 2>>& cnd) {
    const Variables& v = variables;
    Simuvariables::DeltaSimulation& d = simuvariables.delta;
    for (int4 l = 1; l <= v.numloci; ++l) {
      const auto& o = off[static_cast<std::size_t>(l - 1)];
      const auto& c = cnd[static_cast<std::size_t>(l - 1)];
      d.simoffgtype(1, l) = static_cast<int1>(o[0]);
      d.simoffgtype(2, l) = static_cast<int1>(o[1]);
      d.simcndgtype(1, l) = static_cast<int1>(c[0]);
      d.simcndgtype(2, l) = static_cast<int1>(c[1]);
      const int n = v.obsnumallele(l);
      d.simoffgtype2(l) = static_cast<int2>(n <= 2 ? (o[0] == 0 ? 0 : (o[0] != o[1] ? 3 : o[0]))
                                                   : v.genotypeid2(o[0], o[1]));
    }
  }

  // The direct sum over loci, offspring and parent both diploid; -1e300 when some locus has
  // probability 0.
  static real8 direct_sum(const std::vector<std::array<int, 2>>& off,
                          const std::vector<std::array<int, 2>>& cnd) {
    const Variables& v = variables;
    real8 sum = 0.0;
    for (int4 l = 1; l <= v.numloci; ++l) {
      const auto& o = off[static_cast<std::size_t>(l - 1)];
      const auto& c = cnd[static_cast<std::size_t>(l - 1)];
      if (o[0] == 0 && c[0] == 0) continue;
      real8 p = 0.0;
      const int4 go[2] = {o[0], o[1]};
      const int4 gc[2] = {c[0], c[1]};
      if (o[0] == 0) {
        probsinglegtype(0.0, 2, l, gc, p);
      } else if (c[0] == 0) {
        probsinglegtype(0.0, 2, l, go, p);
      } else {
        p = prbpdyad(o[0], o[1], c[0], c[1], kPo, l, 0);
      }
      if (!(p > 0.0)) return -1e300;
      sum += std::log(p);
    }
    return sum;
  }

  static void reset_memos() {
    Simuvariables::DeltaSimulation& d = simuvariables.delta;
    d.dyadlogl2.fill(-1.0);
    d.podyadlogl3.fill(-1.0);
  }
};

using Pairs = std::vector<std::array<int, 2>>;

TEST_F(ParentOffspringScore, EqualsTheDirectSumWithoutBound) {
  prepare_sample(0.02);
  struct Case {
    std::string name;
    Pairs off, cnd;
  };
  const std::vector<Case> cases = {
      {"compatible",
       {{1, 2}, {2, 2}, {1, 3}, {2, 5}, {4, 11}},
       {{1, 1}, {1, 2}, {3, 3}, {5, 5}, {11, 12}}},
      {"mismatches explained by errors",
       {{1, 1}, {2, 2}, {1, 2}, {3, 4}, {1, 2}},
       {{2, 2}, {1, 1}, {3, 3}, {1, 5}, {7, 9}}},
      {"one member missing at some loci",
       {{0, 0}, {1, 2}, {0, 0}, {2, 3}, {5, 6}},
       {{1, 2}, {0, 0}, {0, 0}, {0, 0}, {6, 6}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    place(c.off, c.cnd);
    reset_memos();
    real8 logl = 0.0;
    compute_podyad_logl(-1, 1, logl, -1e300, 2);
    const real8 expect = direct_sum(c.off, c.cnd);
    EXPECT_NEAR(logl, expect, 1e-12 * std::fabs(expect) + 1e-12);
    // Warm memos give the same value.
    real8 again = 0.0;
    compute_podyad_logl(-1, 1, again, -1e300, 2);
    EXPECT_EQ(again, logl);
  }
}

TEST_F(ParentOffspringScore, ImpossibleLocusGivesMinusInfinityOfTheProgram) {
  prepare_sample(0.0);
  const Pairs off = {{1, 1}, {1, 2}, {1, 2}, {1, 1}, {3, 4}};
  const Pairs cnd = {{2, 2}, {1, 1}, {1, 3}, {1, 2}, {3, 3}};
  place(off, cnd);
  ASSERT_EQ(direct_sum(off, cnd), -1e300);
  real8 logl = 0.0;
  compute_podyad_logl(-1, 1, logl, -1e300, 2);
  EXPECT_EQ(logl, -1e300);
}

TEST_F(ParentOffspringScore, MemoHitsAcrossCandidatesEqualColdComputations) {
  prepare_sample(0.02);
  // Candidates sharing codes at the two-allele loci and genotypes at the others.
  const Pairs off = {{1, 2}, {2, 2}, {1, 3}, {2, 5}, {4, 11}};
  const std::vector<Pairs> candidates = {
      {{1, 1}, {1, 2}, {3, 3}, {5, 5}, {11, 12}},
      {{1, 1}, {2, 2}, {1, 3}, {5, 5}, {1, 4}},
      {{2, 2}, {1, 2}, {3, 3}, {1, 2}, {11, 12}},
  };
  std::vector<real8> warm;
  reset_memos();
  for (const Pairs& c : candidates) {
    place(off, c);
    real8 logl = 0.0;
    compute_podyad_logl(-1, 1, logl, -1e300, 2);
    warm.push_back(logl);
  }
  for (std::size_t k = 0; k < candidates.size(); ++k) {
    place(off, candidates[k]);
    reset_memos();
    real8 cold = 0.0;
    compute_podyad_logl(-1, 1, cold, -1e300, 2);
    EXPECT_EQ(warm[k], cold) << "candidate " << k + 1;
  }
}

TEST_F(ParentOffspringScore, BoundStopsAtTheFirstLocusThatCannotReachIt) {
  prepare_sample(0.02);
  const Pairs off = {{1, 2}, {2, 2}, {1, 3}, {2, 5}, {4, 11}};
  const Pairs cnd = {{1, 1}, {1, 2}, {3, 3}, {5, 5}, {11, 12}};
  place(off, cnd);
  reset_memos();
  real8 full = 0.0;
  compute_podyad_logl(-1, 1, full, -1e300, 2);
  // A bound above the full value: returned as the result. The first locus alone already
  // falls below a bound just under 0 when its probability is below that.
  real8 logl = 0.0;
  compute_podyad_logl(-1, 1, logl, full + 0.5, 2);
  EXPECT_EQ(logl, full + 0.5);
  compute_podyad_logl(-1, 1, logl, full - 0.5, 2);
  EXPECT_NEAR(logl, full, 1e-12 * std::fabs(full));
}

TEST_F(ParentOffspringScore, KnownParentFromTheCandidateColumns) {
  prepare_sample(0.02);
  const Variables& v = variables;
  const Pairs off = {{1, 2}, {2, 2}, {1, 3}, {2, 5}, {4, 11}};
  const Pairs cnd = {{1, 2}, {1, 1}, {3, 3}, {1, 5}, {11, 12}};
  place(off, Pairs(5, {0, 0}));
  // The known parents' memo exists only with known parents in the data.
  simuvariables.delta.dyadlogl0.allocate(Dim(0, 9), Dim(v.locus2(0)));
  simuvariables.delta.dyadlogl0.fill(-1.0);
  variables.cndgtype3.allocate(Dim(v.numloci), Dim(2));
  for (int4 l = 1; l <= v.numloci; ++l) {
    const auto& c = cnd[static_cast<std::size_t>(l - 1)];
    int2 code = v.obsnumallele(l) <= 2 ? static_cast<int2>(c[0] != c[1] ? 3 : c[0])
                                       : v.genotypeid2(c[0], c[1]);
    if (v.obsnumallele(l) <= 2 && code == v.l23g(1)) code = v.l23g(2);
    variables.cndgtype3(l, 2) = code;
  }
  real8 logl = 0.0;
  compute_podyad_logl(1, 2, logl, -1e300, 2);
  const real8 expect = direct_sum(off, cnd);
  EXPECT_NEAR(logl, expect, 1e-12 * std::fabs(expect));
  variables.cndgtype3.deallocate();
}

TEST_F(ParentOffspringScore, HaploidMembersEnterTheDyadModelAsHaploids) {
  prepare_sample(0.02, "1");
  const Variables& v = variables;
  ASSERT_EQ(v.ploidy(1), 1);
  const Pairs off = {{1, 2}, {2, 2}, {1, 3}, {2, 5}, {4, 11}};
  const Pairs dad = {{1, 1}, {2, 2}, {3, 3}, {5, 5}, {11, 11}};
  place(off, dad);
  reset_memos();
  real8 logl = 0.0;
  compute_podyad_logl(-1, 1, logl, -1e300, 2);
  real8 expect = 0.0;
  for (int4 l = 1; l <= v.numloci; ++l) {
    const auto& o = off[static_cast<std::size_t>(l - 1)];
    expect += std::log(prbpdyad(o[0], o[1], dad[static_cast<std::size_t>(l - 1)][0], 0, kPo, l, 0));
  }
  EXPECT_NEAR(logl, expect, 1e-12 * std::fabs(expect));
  // A haploid son with his mother: the mother first, the son's single allele second.
  const Pairs son = {{2, 2}, {1, 1}, {3, 3}, {5, 5}, {4, 4}};
  const Pairs mum = {{1, 2}, {1, 2}, {1, 3}, {2, 5}, {4, 11}};
  place(son, mum);
  reset_memos();
  compute_podyad_logl(-1, 2, logl, -1e300, 1);
  expect = 0.0;
  for (int4 l = 1; l <= v.numloci; ++l) {
    const auto& m = mum[static_cast<std::size_t>(l - 1)];
    expect += std::log(prbpdyad(m[0], m[1], son[static_cast<std::size_t>(l - 1)][0], 0, kPo, l, 0));
  }
  EXPECT_NEAR(logl, expect, 1e-12 * std::fabs(expect));
}

// Stand-in for the engine's per-locus likelihood: a value that depends on the locus and on
// the candidate's genotype at it, counting its calls.
int stand_in_calls = 0;
void stand_in_locus(int4 locus, int4, int4, real8& logl) {
  ++stand_in_calls;
  logl = -0.25 * locus;
}

TEST_F(ParentOffspringScore, TrioScoreSumsLociOnceAndPoolsForeignGenotypes) {
  prepare_sample(0.0);
  const Variables& v = variables;
  Simuvariables::DeltaSimulation& d = simuvariables.delta;
  // The trio memo tables exist only with known parents; build them as the tables do.
  d.locuslogl2.allocate(Dim(3), Dim(v.locus2(0)));
  d.locuslogl3tgt.allocate(Dim(200));
  d.locuslogl3.allocate(Dim(v.locus3(0)));
  index_t at = 1;
  for (int4 k = 1; k <= v.locus3(0); ++k) {
    const index_t g = v.genotypenum(v.obsnumallele(v.locus3(k))) + 2;
    d.locuslogl3(k).a = window(d.locuslogl3tgt, at, g);
    at += g;
  }
  d.locuslogl2.fill(1.0);
  d.locuslogl3tgt.fill(1.0);
  trio_engine_calls = TrioEngineCalls{};
  trio_engine_calls.familylocuslogl = stand_in_locus;
  trio_engine_calls.genotypecheckp = [](int4& ok, int4) { ok = 1; };
  trio_engine_calls.genotypecheckpdom = [](int4& ok) { ok = 1; };
  place(Pairs{{1, 2}, {2, 2}, {1, 3}, {2, 5}, {4, 11}}, Pairs(5, {0, 0}));
  // The other parent (sex 2) shows alleles 1 and 3 at the 12-allele locus.
  for (int4 l = 1; l <= v.numloci; ++l) {
    d.simprntgtype(1, l, 2) = 1;
    d.simprntgtype(2, l, 2) = 3;
  }
  variables.cndgtype3.allocate(Dim(v.numloci), Dim(2));
  auto score = [&](int4 a, int4 b) {
    // Candidate (sex 1) typed only at the 12-allele locus (locus 5).
    variables.cndgtype3.fill(0);
    variables.cndgtype3(5, 1) = v.genotypeid2(a, b);
    real8 logl = 0.0;
    pairwisefamilylikelihood(logl, -1e300, 1, 1);
    return logl;
  };
  stand_in_calls = 0;
  EXPECT_EQ(score(7, 9), -1.25);  // foreign heterozygote: pooled entry
  EXPECT_EQ(score(6, 8), -1.25);  // another foreign heterozygote: no new engine call
  EXPECT_EQ(stand_in_calls, 1);
  score(8, 8);  // foreign homozygote: its own pooled entry
  score(10, 10);
  EXPECT_EQ(stand_in_calls, 2);
  score(4, 9);  // shares allele 4 with the offspring: its own entry
  score(4, 9);
  EXPECT_EQ(stand_in_calls, 3);
  // A candidate missing everywhere scores 0 without any engine call.
  variables.cndgtype3.fill(0);
  real8 logl = 1.0;
  pairwisefamilylikelihood(logl, -1e300, 1, 1);
  EXPECT_EQ(logl, 0.0);
  EXPECT_EQ(stand_in_calls, 3);
  variables.cndgtype3.deallocate();
  trio_engine_calls = TrioEngineCalls{};
}

// The trio by brute force: at each locus where the candidate is typed, the sum over the true
// genotypes of father, mother and offspring of Hardy-Weinberg priors, Mendelian transmission
// and the observation model of each typed member.
real8 brute_force_trio(const Pairs& off, const Pairs& dad, const Pairs& mum) {
  const Variables& v = variables;
  real8 total = 0.0;
  for (int4 l = 1; l <= v.numloci; ++l) {
    const int4 n = v.obsnumallele(l);
    const auto& od = dad[static_cast<std::size_t>(l - 1)];
    if (n < 2 || od[0] == 0) continue;
    const auto& om = mum[static_cast<std::size_t>(l - 1)];
    const auto& oo = off[static_cast<std::size_t>(l - 1)];
    const Dpdim1& p = v.obsallelefre(l);
    auto seen = [&](const std::array<int, 2>& o, int a, int b) {
      if (o[0] == 0) return 1.0;
      const int4 obs[2] = {o[0], o[1]};
      return prbgtop(std::min(a, b), std::max(a, b), obs, l);
    };
    real8 sum = 0.0;
    for (int f1 = 1; f1 <= n; ++f1)
      for (int f2 = 1; f2 <= n; ++f2)
        for (int m1 = 1; m1 <= n; ++m1)
          for (int m2 = 1; m2 <= n; ++m2) {
            // Ordered true genotypes: each ordered pair carries its allele frequencies.
            const real8 prior = p.a(f1) * p.a(f2) * p.a(m1) * p.a(m2);
            const real8 parents = prior * seen(od, f1, f2) * seen(om, m1, m2);
            if (parents == 0.0) continue;
            for (int x : {f1, f2})
              for (int y : {m1, m2}) sum += 0.25 * parents * seen(oo, x, y);
          }
    total += std::log(sum);
  }
  return total;
}

TEST_F(ParentOffspringScore, TrioScoreEqualsABruteForceTrioLikelihood) {
  // Error-free loci: the engine's full-sib routines for loci with typing errors are not part
  // of this build (it stops with an internal error there).
  prepare_sample(0.0);
  const Variables& v = variables;
  Simuvariables::DeltaSimulation& d = simuvariables.delta;
  d.locuslogl2.allocate(Dim(3), Dim(v.locus2(0)));
  d.locuslogl3tgt.allocate(Dim(400));
  d.locuslogl3.allocate(Dim(v.locus3(0)));
  index_t at = 1;
  for (int4 k = 1; k <= v.locus3(0); ++k) {
    const index_t g = v.genotypenum(v.obsnumallele(v.locus3(k))) + 2;
    d.locuslogl3(k).a = window(d.locuslogl3tgt, at, g);
    at += g;
  }
  trio_engine_calls = TrioEngineCalls{};
  variables.cndgtype3.allocate(Dim(v.numloci), Dim(2));
  auto code = [&](int4 l, const std::array<int, 2>& c) -> int2 {
    if (c[0] == 0) return 0;
    if (v.obsnumallele(l) > 2) return v.genotypeid2(c[0], c[1]);
    int2 k = static_cast<int2>(c[0] != c[1] ? 3 : c[0]);
    return k == v.l23g(1) ? v.l23g(2) : k;
  };
  struct Case {
    std::string name;
    Pairs off, dad, mum;
  };
  const std::vector<Case> cases = {
      {"true family",
       {{1, 2}, {2, 2}, {1, 3}, {2, 5}, {4, 11}},
       {{1, 1}, {1, 2}, {3, 3}, {5, 5}, {11, 12}},
       {{2, 2}, {2, 2}, {1, 2}, {2, 3}, {1, 4}}},
      {"offspring sharing no allele with the candidate",
       {{1, 2}, {2, 2}, {1, 2}, {3, 4}, {1, 2}},
       {{2, 2}, {1, 1}, {3, 3}, {1, 5}, {7, 9}},
       {{1, 2}, {1, 2}, {2, 3}, {3, 3}, {2, 2}}},
      {"heterozygous parents",
       {{1, 2}, {1, 2}, {2, 3}, {1, 4}, {9, 12}},
       {{1, 2}, {1, 2}, {1, 2}, {1, 4}, {3, 9}},
       {{1, 2}, {1, 2}, {3, 3}, {2, 4}, {5, 12}}},
      {"untyped members",
       {{0, 0}, {1, 2}, {1, 3}, {0, 0}, {5, 6}},
       {{1, 2}, {0, 0}, {2, 3}, {1, 4}, {6, 6}},
       {{1, 2}, {1, 1}, {0, 0}, {0, 0}, {5, 12}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    place(c.off, Pairs(5, {0, 0}));
    for (int4 l = 1; l <= v.numloci; ++l) {
      const auto& o = c.off[static_cast<std::size_t>(l - 1)];
      const int1 pair[2] = {static_cast<int1>(o[0]), static_cast<int1>(o[1])};
      setgetgtype.locusgtypeptr = v.indivgtype2(l).a;
      setgtype(pair, 1, v.obsnumallele(l));
      variables.cndgtype3(l, 1) = code(l, c.dad[static_cast<std::size_t>(l - 1)]);
      variables.cndgtype3(l, 2) = code(l, c.mum[static_cast<std::size_t>(l - 1)]);
      d.simprntgtype(1, l, 2) = static_cast<int1>(c.mum[static_cast<std::size_t>(l - 1)][0]);
      d.simprntgtype(2, l, 2) = static_cast<int1>(c.mum[static_cast<std::size_t>(l - 1)][1]);
    }
    variables.offploid(1) = 2;
    if (variables.indivparent.allocated()) {
      variables.indivparent(1, 1) = -1;
      variables.indivparent(1, 2) = -1;
    }
    variables.inferparent(1, 1) = 1;
    variables.inferparent(1, 2) = 1;
    d.locuslogl2.fill(1.0);
    d.locuslogl3tgt.fill(1.0);
    real8 logl = 0.0;
    pairwisefamilylikelihood(logl, -1e300, 1, 1);
    real8 expect = brute_force_trio(c.off, c.dad, c.mum);
    if (!std::isfinite(expect)) expect = -1e300;  // some locus impossible
    EXPECT_NEAR(logl, expect, 1e-9);
  }
  variables.cndgtype3.deallocate();
}

}  // namespace
}  // namespace kinrad::pairtest
