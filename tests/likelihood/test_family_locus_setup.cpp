// The per-locus set-up on families read through the real input, preparation and per-analysis
// set-up. Expected values come from the offspring genotypes read back (so that the program's
// allele recoding does not matter), from the rules of Mendelian inheritance worked by hand, and
// from direct sums over full-allele genotypes with the observation model prbgtop.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <set>
#include <vector>

#include "core/modules.hpp"
#include "core/modules/likelihoodvar.hpp"
#include "core/modules/setgetgtype.hpp"
#include "core/modules/variables.hpp"
#include "core/packed_genotypes.hpp"
#include "core/sorting.hpp"
#include "likelihood/likelihood_internal.hpp"
#include "likelihood/oracle.hpp"
#include "model/model.hpp"
#include "support/module_reset.hpp"
#include "support/temp_dir.hpp"

namespace kinrad {
namespace {

using oracle::Cluster;
using oracle::Genotype;

class FamilyLocusSetup : public testing_support::ModuleReset {
 protected:
  testing_support::TempWorkDir dir{"locus_setup"};
};

real8 run(int4 locus) {
  real8 logl = 1.0;
  const int4 k = variables.obsnumallele(locus);
  familylocus_setup(locus, k, variables.genotypenum(std::max(k, 1)), logl);
  return logl;
}

// Recoded alleles of offspring m at a locus of more than two alleles.
std::array<int4, 2> alleles_of(int4 m, int4 locus) {
  setgetgtype.locusgtypeptr = variables.indivgtype2(locus).a;
  int2 g = 0;
  getgtype(g, m, 3);
  if (g <= 0) return {0, 0};
  return {variables.genotypeid(1, g), variables.genotypeid(2, g)};
}

std::vector<int4> family_alleles(int4 f) {
  std::vector<int4> r;
  for (int4 i = 1; i <= likelihoodvar.numallelefs(f); ++i)
    r.push_back(likelihoodvar.allelefs(likelihoodvar.locallelefs(f) + i));
  return r;
}

Cluster one_family(bool errors, const std::vector<Genotype>& members,
                   const std::vector<Genotype>& filler) {
  Cluster c;
  c.loci = {{false, 2, {}, errors ? 0.01 : 0.0, errors ? 0.01 : 0.0}};
  c.fathers.resize(1);
  c.mothers.resize(1);
  c.families = {{1, 1, {}}};
  for (const Genotype& g : members) {
    c.offspring.push_back({g});
    c.offploid.push_back(2);
    c.families[0].members.push_back(static_cast<int>(c.offspring.size()));
  }
  for (const Genotype& g : filler) c.filler.push_back({g});
  return c;
}

TEST_F(FamilyLocusSetup, AlleleLimits) {
  struct Row {
    const char* name;
    bool errors;
    std::vector<Genotype> members;
    bool impossible;
  };
  std::vector<Genotype> m80, m81;
  for (int i = 1; i <= 40; ++i) m80.push_back({2 * i - 1, 2 * i});
  m81 = m80;
  m81.push_back({81, 81});
  const Row rows[] = {
      {"5 alleles without errors", false, {{1, 2}, {3, 4}, {5, 5}}, true},
      {"4 alleles in 5 heterozygotes", false, {{1, 2}, {1, 3}, {1, 4}, {2, 3}, {2, 4}}, true},
      {"4 alleles in 4 heterozygotes", false, {{1, 2}, {1, 3}, {2, 4}, {3, 4}}, false},
      {"80 alleles with errors", true, m80, false},
      {"81 alleles with errors", true, m81, true},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    Cluster c = one_family(r.errors, r.members, {{90, 91}, {92, 93}});
    ASSERT_TRUE(oracle::build(c).ok);
    EXPECT_EQ(run(1), r.impossible ? -1e300 : 0.0);
  }
}

TEST_F(FamilyLocusSetup, SelfedFamilyShowsAtMostTwoAlleles) {
  for (int shown : {2, 3}) {
    SCOPED_TRACE(shown);
    Cluster c = one_family(
        false,
        shown == 2 ? std::vector<Genotype>{{1, 2}, {1, 1}} : std::vector<Genotype>{{1, 2}, {1, 3}},
        {{4, 4}});
    c.numsex = 1;
    c.allowinbreeding = true;
    c.same = {{1, 1}};
    ASSERT_TRUE(oracle::build(c).ok);
    EXPECT_EQ(run(1), shown == 2 ? 0.0 : -1e300);
  }
}

// After reordering, a family of three alleles in two genotypes lists their shared allele first;
// one of four alleles in three genotypes lists them so that every genotype takes one allele
// from positions {1, 4} and one from {2, 3}: the only parent pair is (1 4, 2 3).
TEST_F(FamilyLocusSetup, CanonicalAlleleOrder) {
  const std::vector<std::vector<Genotype>> cases = {
      {{1, 2}, {2, 3}},         {{2, 3}, {1, 2}},
      {{1, 3}, {2, 3}},         {{1, 2}, {2, 3}, {1, 4}},
      {{1, 2}, {1, 3}, {2, 4}}, {{1, 4}, {2, 3}, {1, 3}},
      {{3, 4}, {1, 4}, {2, 3}}, {{1, 2}, {3, 4}, {1, 3}, {2, 4}}};
  for (const auto& members : cases) {
    SCOPED_TRACE(members.size() * 10 + static_cast<size_t>(members[0][0]));
    Cluster c = one_family(false, members, {{5, 5}});
    ASSERT_TRUE(oracle::build(c).ok);
    ASSERT_EQ(run(1), 0.0);
    const std::vector<int4> list = family_alleles(1);
    std::set<int4> shown;
    for (size_t m = 1; m <= members.size(); ++m)
      for (int4 a : alleles_of(static_cast<int4>(m), 1)) shown.insert(a);
    ASSERT_EQ(list.size(), shown.size() + 1);  // with the pooled allele 0 last
    EXPECT_EQ(list.back(), 0);
    if (shown.size() == 3) {
      const auto g1 = alleles_of(1, 1);
      const auto g2 = alleles_of(2, 1);
      const int4 common = (g1[0] == g2[0] || g1[0] == g2[1]) ? g1[0] : g1[1];
      EXPECT_EQ(list[0], common);
    } else {
      for (size_t m = 1; m <= members.size(); ++m) {
        const auto g = alleles_of(static_cast<int4>(m), 1);
        auto in = [&](int4 a, int4 i, int4 j) {
          return a == list[size_t(i)] || a == list[size_t(j)];
        };
        EXPECT_TRUE((in(g[0], 0, 3) && in(g[1], 1, 2)) || (in(g[1], 0, 3) && in(g[0], 1, 2))) << m;
      }
    }
  }
}

// Nine alleles with errors: two alleles carried by ten offspring each, seven by one each. With
// precision 3 the cut is 8; ten exceeds it and rank 3 is the first count below 10/8, so the
// table keeps the genotypes with one of the two frequent alleles over M = 10 alleles (the locus
// has a tenth): 2 x (2 x 10 - 3 + 2)/2 = 19.
TEST_F(FamilyLocusSetup, RankingOfManyAlleles) {
  std::vector<Genotype> members(10, Genotype{1, 2});
  for (const Genotype& g : std::vector<Genotype>{{3, 4}, {5, 6}, {7, 8}, {9, 9}})
    members.push_back(g);
  Cluster c = one_family(true, members, {{10, 10}});
  ASSERT_TRUE(oracle::build(c).ok);
  ASSERT_EQ(run(1), 0.0);
  const std::vector<int4> list = family_alleles(1);
  ASSERT_EQ(list.size(), 10u);
  EXPECT_EQ(list.back(), 0);
  std::map<int4, int> carriers;
  for (int4 m = 1; m <= 14; ++m) {
    const auto g = alleles_of(m, 1);
    ++carriers[g[0]];
    if (g[1] != g[0]) ++carriers[g[1]];
  }
  EXPECT_EQ(carriers[list[0]], 10);
  EXPECT_EQ(carriers[list[1]], 10);
  for (size_t i = 2; i + 1 < list.size(); ++i) EXPECT_EQ(carriers[list[i]], 1);
  EXPECT_EQ(likelihoodvar.fsprobdim(1), 19);
  // Ties keep the order the project's index sort gives them on the list before ranking: the
  // homozygotes' alleles first, then the heterozygotes' further alleles, genotypes in the order
  // the members show them.
  std::vector<int4> before;
  auto add = [&](int4 a) {
    if (std::find(before.begin(), before.end(), a) == before.end()) before.push_back(a);
  };
  for (int4 m = 1; m <= 14; ++m) {
    const auto g = alleles_of(m, 1);
    if (g[0] == g[1]) add(g[0]);
  }
  for (int4 m = 1; m <= 14; ++m) {
    const auto g = alleles_of(m, 1);
    if (g[0] != g[1]) {
      add(g[0]);
      add(g[1]);
    }
  }
  ASSERT_EQ(before.size(), 9u);
  std::vector<real8> key;
  for (int4 a : before) key.push_back(-carriers[a]);
  std::vector<int4> idx(9);
  indexx(9, key.data(), idx.data());
  for (size_t i = 0; i < 9; ++i) EXPECT_EQ(list[i], before[size_t(idx[i] - 1)]) << i;
}

TEST_F(FamilyLocusSetup, ParentWithEmptyListStandsForAllAlleles) {
  Cluster c;
  c.loci = {{false, 3, {}, 0.0, 0.0}, {false, 3, {}, 0.0, 0.0}};
  c.fathers.resize(1);
  c.mothers.resize(1);
  c.offspring = {{{0, 0}, {1, 2}}, {{1, 2}, {2, 3}}, {{3, 3}, {1, 1}}};
  c.offploid = {2, 2, 2};
  c.families = {{1, 1, {1}}};
  ASSERT_TRUE(oracle::build(c).ok);
  ASSERT_EQ(run(1), 0.0);
  EXPECT_EQ(family_alleles(1), std::vector<int4>{0});
  for (int4 j = 1; j <= 2; ++j) {
    EXPECT_EQ(likelihoodvar.allelehsnum(j), 1);
    EXPECT_EQ(likelihoodvar.allelehs(likelihoodvar.allelehsloc(j) + 1), -1);
    EXPECT_EQ(likelihoodvar.hsprobdim(j), 1);
    EXPECT_EQ(likelihoodvar.crrtgenotypefre(likelihoodvar.hsprobloc(j) + 1), 1.0);
  }
}

// Random clusters at loci of more than two alleles: (1) two full-allele genotypes of a parent
// get the same class in a family's numbering exactly when they carry the same family alleles,
// every allele the offspring do not show counting as the pooled one; (2) every entry of an
// untyped or error-locus parent's prior block equals the sum, over the full-allele genotypes it
// stands for, of the Hardy-Weinberg prior (with the parent's inbreeding) times the observation
// probability of the parent's own genotype.
TEST_F(FamilyLocusSetup, IndexMapsAndPooledPriorsAgainstFullAlleleSums) {
  using oracle::Markers;
  using oracle::Shape;
  using oracle::Species;
  const Shape shapes[] = {Shape::one_family, Shape::star, Shape::chain,
                          Shape::cycle2x2,   Shape::tree, Shape::random_graph};
  const Species species[] = {Species::diploid, Species::inbred, Species::monoecious};
  const Markers markers[] = {Markers::multi_free, Markers::multi_error};
  std::uint32_t seed = 100;
  int checked = 0;
  for (Shape sh : shapes) {
    for (Species sp : species) {
      for (Markers mk : markers) {
        SCOPED_TRACE(seed);
        oracle::Options o;
        o.shape = sh;
        o.species = sp;
        o.markers = mk;
        o.loci = 2;
        o.sampled_parents = static_cast<int>(seed % 3);
        o.missing = 0.1;
        Cluster c = oracle::random_cluster(seed++, o);
        ASSERT_TRUE(oracle::build(c).ok);
        const Variables& v = variables;
        const Likelihoodvar& lv = likelihoodvar;
        for (int4 l = 1; l <= v.numloci; ++l) {
          const int4 k = v.obsnumallele(l);
          if (k <= 2) continue;
          if (run(l) <= -1e300) continue;
          const bool errors = v.locuserror(l) != 0;
          // Alleles each family's offspring show.
          for (int4 f = 1; f <= v.numfsibship; ++f) {
            std::set<int4> shown;
            for (int4 i = v.familyindivloc(f - 1) + 1; i <= v.familyindivloc(f); ++i)
              for (int4 a : alleles_of(lv.familyindiv(i), l))
                if (a > 0) shown.insert(a);
            for (int4 r = 1; r <= 2; ++r) {
              const int4 j =
                  r == 1 ? lv.clusterfamily(1, f) : v.nparent(1) + lv.clusterfamily(2, f);
              const int4 m = lv.allelehsnum(j);
              const int1* a = &lv.allelehs(lv.allelehsloc(j) + 1);
              if (a[0] < 0) continue;
              std::set<int4> listed;
              for (int4 i = 0; i < m; ++i) listed.insert(a[i]);
              auto expand = [&](int4 code) {
                std::vector<int4> r2;
                for (int4 x = 1; x <= k; ++x)
                  if (code == x || (code == 0 && !listed.count(x))) r2.push_back(x);
                return r2;
              };
              // Each list entry's class and its full-allele key.
              std::map<int4, std::set<std::pair<int4, int4>>> keysofclass;
              int4 g = 0;
              for (int4 i = 0; i < m; ++i) {
                for (int4 q = i; q < m; ++q) {
                  ++g;
                  const int4 cls = lv.idxtgt(lv.idxloc(2 * f + r - 3) + g);
                  for (int4 x : expand(a[i])) {
                    for (int4 y : expand(a[q])) {
                      int4 kx = shown.count(x) ? x : 0;
                      int4 ky = shown.count(y) ? y : 0;
                      if (kx > ky) std::swap(kx, ky);
                      keysofclass[cls].insert({kx, ky});
                    }
                  }
                }
              }
              std::set<std::pair<int4, int4>> seen;
              for (const auto& [cls, keys] : keysofclass) {
                EXPECT_EQ(keys.size(), 1u) << "class " << cls << " family " << f;
                for (const auto& key : keys) {
                  EXPECT_FALSE(seen.count(key)) << "two classes for one key";
                  seen.insert(key);
                }
              }
            }
          }
          // Prior blocks.
          for (int4 j = 1; j <= v.nallparent; ++j) {
            const int4 s = j <= v.nparent(1) ? 1 : 2;
            const int4 m = lv.allelehsnum(j);
            const int1* a = &lv.allelehs(lv.allelehsloc(j) + 1);
            const bool typed = lv.knownprt(j) > 0 && v.prntgtype(1, j) > 0;
            if (a[0] < 0 || (typed && !errors) || v.ploidy(s) != 2) continue;
            std::set<int4> listed(a, a + m);
            const FView<real8, 1>& fr = v.obsallelefre(l).a;
            const double F = typed ? v.inbreeding : (v.allowinbreeding == 1 ? v.inbreeding : 0.0);
            const int4 obs[2] = {v.prntgtype(1, j), v.prntgtype(2, j)};
            auto full = [&](int4 x, int4 y) {
              const double p = x == y ? fr(x) * (F + (1 - F) * fr(x)) : 2 * fr(x) * fr(y) * (1 - F);
              return typed ? p * prbgtop(x, y, obs, l) : p;
            };
            int4 g = 0;
            for (int4 i = 0; i < m; ++i) {
              for (int4 q = i; q < m; ++q) {
                ++g;
                double sum = 0.0;
                for (int4 x = 1; x <= k; ++x) {
                  for (int4 y = x; y <= k; ++y) {
                    const bool xi = a[i] == x || (a[i] == 0 && !listed.count(x));
                    const bool yq = a[q] == y || (a[q] == 0 && !listed.count(y));
                    const bool xq = a[q] == x || (a[q] == 0 && !listed.count(x));
                    const bool yi = a[i] == y || (a[i] == 0 && !listed.count(y));
                    if ((xi && yq) || (xq && yi)) sum += full(x, y);
                  }
                }
                EXPECT_NEAR(lv.crrtgenotypefre(lv.hsprobloc(j) + g), sum, 1e-14)
                    << "parent " << j << " entry " << g;
                ++checked;
              }
            }
          }
        }
      }
    }
  }
  EXPECT_GT(checked, 100);
}

// Haploid sons absorbed into their mother: her block times exp(the constant added) equals her
// prior times the direct product of (1/2) sum over her two alleles of P(son's allele | allele).
// Two sons untyped at the locus (typed at a second one) add nothing.
TEST_F(FamilyLocusSetup, HaploidSonsAbsorbedIntoTheirMother) {
  for (int sons : {3, 99, 100}) {
    SCOPED_TRACE(sons);
    Cluster c;
    c.haplodiploid = true;
    c.loci = {{false, 4, {}, 0.02, 0.03}, {false, 2, {}, 0.0, 0.0}};
    c.fathers.resize(1);
    c.mothers.resize(1);
    c.families = {{1, 1, {}}};
    c.offspring.push_back({{1, 2}, {1, 2}});
    c.offploid.push_back(2);
    c.families[0].members.push_back(1);
    for (int i = 0; i < sons; ++i) {
      c.offspring.push_back({{i % 5 == 0 ? 3 : (i % 2 == 0 ? 1 : 2), 0}, {1, 0}});
      c.offploid.push_back(1);
      c.families[0].members.push_back(static_cast<int>(c.offspring.size()));
    }
    for (int i = 0; i < 2; ++i) {
      c.offspring.push_back({{0, 0}, {2, 0}});
      c.offploid.push_back(1);
      c.families[0].members.push_back(static_cast<int>(c.offspring.size()));
    }
    c.filler = {{{4, 4}, {1, 1}}};
    ASSERT_TRUE(oracle::build(c).ok);
    ASSERT_EQ(run(1), 0.0);
    const Variables& v = variables;
    const Likelihoodvar& lv = likelihoodvar;
    const int4 l = 1;
    const int4 k = v.obsnumallele(l);
    const int4 j = 2;  // the mother
    const int4 m = lv.allelehsnum(j);
    const int1* a = &lv.allelehs(lv.allelehsloc(j) + 1);
    std::set<int4> listed(a, a + m);
    const FView<real8, 1>& fr = v.obsallelefre(l).a;
    std::map<int4, int> counts;
    for (int i = 2; i <= sons + 1; ++i) ++counts[alleles_of(i, l)[0]];
    auto sonfactor = [&](int4 x, int4 y) {
      double p = 1.0;
      for (const auto& [al, n] : counts)
        p *= std::pow(0.5 * (prbgtophaploid(x, al, l) + prbgtophaploid(y, al, l)), n);
      return p;
    };
    int4 g = 0;
    for (int4 i = 0; i < m; ++i) {
      for (int4 q = i; q < m; ++q) {
        ++g;
        double sum = 0.0;
        for (int4 x = 1; x <= k; ++x) {
          for (int4 y = x; y <= k; ++y) {
            auto is = [&](int4 code, int4 z) {
              return code == z || (code == 0 && !listed.count(z));
            };
            if (!((is(a[i], x) && is(a[q], y)) || (is(a[q], x) && is(a[i], y)))) continue;
            const double prior = x == y ? fr(x) * fr(x) : 2 * fr(x) * fr(y);
            sum += prior * sonfactor(x, y);
          }
        }
        const double got = lv.crrtgenotypefre(lv.hsprobloc(j) + g) * std::exp(lv.loglikehoodconst);
        EXPECT_NEAR(got, sum, 1e-12 * std::max(sum, 1e-300)) << g;
      }
    }
  }
}

}  // namespace
}  // namespace kinrad
