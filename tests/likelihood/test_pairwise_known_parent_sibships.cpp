// The sibship decisions of pairs with a known parent, against an independent classifier: each
// pair's log likelihoods L(0..3) are the brute-force sums of the oracle over the trial family
// of each hypothesis (known parents as candidates of their roles, the others unsampled) plus
// the sibship-size prior term from lgamma, and the decision rules are applied to them. The
// pairs' rows in the sibship files must be exactly the classifier's.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "core/modules.hpp"
#include "core/modules/variables.hpp"
#include "likelihood/likelihood.hpp"
#include "likelihood/oracle.hpp"
#include "model/model.hpp"
#include "pairwise/pairwise_internal.hpp"
#include "support/temp_dir.hpp"

namespace kinrad {
namespace {

double gamma_prior(int n) {
  const double c = std::lgamma(2.25) + std::lgamma(1.5) - std::lgamma(1.25) - std::lgamma(0.25);
  return (c + std::lgamma(n + 0.25) - std::lgamma(n + 2.5)) * n * 0.125;
}

using oracle::Cluster;
using oracle::Family;
using oracle::Genotype;
using oracle::Parent;

// Eight offspring in five families at five error-free loci of 3 to 5 alleles: fathers F1 (a
// candidate, known for offspring 1, 2 and 6), F2 (a candidate, known for offspring 3) and two
// unsampled; mothers M1 (a candidate, known for offspring 4) and three unsampled. Offspring 6
// is a paternal half sib of 1 and 2 through F1; 7 and 8 are full sibs without known parents.
Cluster sample(unsigned seed) {
  std::mt19937 rng(seed);
  Cluster c;
  for (int k : {3, 4, 5, 4, 3}) c.loci.push_back(oracle::Locus{false, k, {}, 0.0, 0.0});
  auto parent = [&] {
    std::vector<Genotype> g;
    for (const auto& l : c.loci) {
      std::uniform_int_distribution<int> pick(1, l.nallele);
      int a = pick(rng), b = pick(rng);
      g.push_back({std::min(a, b), std::max(a, b)});
    }
    return g;
  };
  auto sampled = [&](int candidate, bool known) {
    Parent p;
    p.candidate = candidate;
    p.known = known;
    p.genotype = parent();
    return p;
  };
  auto unsampled = [&] {
    Parent p;
    p.genotype = parent();
    return p;
  };
  c.fathers = {sampled(1, true), sampled(2, true), unsampled(), unsampled()};
  c.mothers = {unsampled(), sampled(1, true), unsampled(), unsampled()};
  c.families = {Family{1, 1, {1, 2}}, Family{2, 3, {3}}, Family{3, 2, {4}}, Family{1, 4, {6}},
                Family{4, 3, {5, 7, 8}}};
  c.offspring.resize(8);
  for (const Family& f : c.families) {
    const auto& fg = c.fathers[static_cast<size_t>(f.father - 1)].genotype;
    const auto& mg = c.mothers[static_cast<size_t>(f.mother - 1)].genotype;
    for (int m : f.members) {
      std::vector<Genotype> g;
      for (size_t l = 0; l < c.loci.size(); ++l) {
        const int a = fg[l][rng() % 2], b = mg[l][rng() % 2];
        g.push_back({std::min(a, b), std::max(a, b)});
      }
      c.offspring[static_cast<size_t>(m - 1)] = g;
    }
  }
  c.offploid.assign(8, 2);
  return c;
}

// The known parent of offspring x in role s as an oracle parent (candidate genotype from the
// sample), or an unsampled one.
Parent roleparent(const Cluster& base, int x, int s) {
  const int k = variables.indivparent(x, s);
  for (const Parent& p : s == 1 ? base.fathers : base.mothers)
    if (k > 0 && p.candidate == k) {
      Parent q = p;
      q.known = false;
      return q;
    }
  return Parent{};
}

double ln(const Cluster& c) {
  return oracle::total_logl(c);
}

// The trial family of the hypothesis, as an oracle cluster: one father and one mother per
// slot; a slot's parent is a known parent of a member placed in it.
double trial(const Cluster& base, Trial kind, int i, int j) {
  Cluster c = base;
  c.families.clear();
  auto pick = [&](int s, std::initializer_list<int> members) {
    for (int m : members) {
      const Parent p = roleparent(base, m, s);
      if (p.candidate > 0) return p;
    }
    return Parent{};
  };
  switch (kind) {
    case Trial::alone:
      c.fathers = {pick(1, {i})};
      c.mothers = {pick(2, {i})};
      c.families = {Family{1, 1, {i}}};
      return ln(c) <= -1e300 ? -1e300 : ln(c) + gamma_prior(1);
    case Trial::fullsibs:
      // Two different known parents in one role cannot both be the family's.
      for (int s = 1; s <= 2; ++s)
        if (roleparent(base, i, s).candidate > 0 && roleparent(base, j, s).candidate > 0 &&
            roleparent(base, i, s).candidate != roleparent(base, j, s).candidate)
          return -1e300;
      c.fathers = {pick(1, {i, j})};
      c.mothers = {pick(2, {i, j})};
      c.families = {Family{1, 1, {i, j}}};
      break;
    case Trial::paternal:
      c.fathers = {pick(1, {i, j})};
      c.mothers = {pick(2, {i}), pick(2, {j})};
      c.families = {Family{1, 1, {i}}, Family{1, 2, {j}}};
      break;
    case Trial::maternal:
      c.fathers = {pick(1, {i}), pick(1, {j})};
      c.mothers = {pick(2, {i, j})};
      c.families = {Family{1, 1, {i}}, Family{2, 1, {j}}};
      break;
  }
  const double l = ln(c);
  return l <= -1e300 ? l : l + gamma_prior(2);
}

TEST(KnownParentSibships, RowsEqualTheIndependentClassifier) {
  int pairs = 0, related = 0;
  for (unsigned seed : {3u, 11u, 29u}) {
    SCOPED_TRACE(seed);
    testing_support::TempWorkDir dir("knownsibships");
    const Cluster base = sample(seed);
    const oracle::Built b = oracle::build(base);
    ASSERT_TRUE(b.ok) << b.error;
    oracle::exact_mode();
    variables.priortype = 0;
    Variables& v = variables;
    ASSERT_EQ(v.indivparent(1, 1), 1);
    ASSERT_EQ(v.indivparent(4, 2), 1);
    ASSERT_EQ(v.pairwiseoptionq, 0);

    const int n = v.smplsize;
    std::vector<real8> single(static_cast<size_t>(n));
    if (v.locus2.allocated() && v.locus2(0) > 0) computegtypefre(0, 0);
    singleindivlikelihood(0.0, n, 0, single);
    auto known = [&](int x) { return v.indivparent(x, 1) > 0 || v.indivparent(x, 2) > 0; };

    // The classifier: dioecious, diploid, no monogamy, no known sibships: scoring mode 1.
    std::set<std::string> fullsib, halfsib;
    for (int i = 1; i < n; ++i)
      for (int j = i + 1; j <= n; ++j) {
        if (!known(i) && !known(j)) continue;
        ++pairs;
        double L0 = 0.0;
        for (int x : {i, j})
          L0 += known(x) ? trial(base, Trial::alone, x, 0) : single[static_cast<size_t>(x - 1)];
        const double L2 = trial(base, Trial::fullsibs, i, j);
        const int fi = v.indivparent(i, 1), fj = v.indivparent(j, 1);
        const int mi = v.indivparent(i, 2), mj = v.indivparent(j, 2);
        const double L1 =
            fi >= 1 && fj >= 1 && fi != fj ? -1e300 : trial(base, Trial::paternal, i, j);
        const double L3 =
            mi >= 1 && mj >= 1 && mi != mj ? -1e300 : trial(base, Trial::maternal, i, j);
        double l0 = L0;
        const double best = std::max({L1, L2, L3});
        if (std::fabs(best - l0) < 0.0001) l0 += 0.0005;
        const std::string row = "O" + std::to_string(i) + ",O" + std::to_string(j);
        if (l0 >= best) continue;
        ++related;
        if (L2 >= L1 && L2 >= L3)
          fullsib.insert(row);
        else
          halfsib.insert(row);
      }

    real8 sum = 0.0, weight = 0.0;
    setfamilystruc(n, 2);
    pairwise_sibship(single, sum, weight);
    auto rows = [&](const char* file) {
      std::set<std::string> out;
      const std::string text = testing_support::read_text(file);
      size_t at = text.find('\n') + 1;
      while (at < text.size()) {
        const size_t end = text.find('\n', at);
        const std::string row = text.substr(at, end - at);
        const int i = std::stoi(row.substr(1, row.find(',') - 1));
        const int j = std::stoi(row.substr(row.find(",O") + 2));
        if (known(i) || known(j)) out.insert(row);
        at = end + 1;
      }
      return out;
    };
    EXPECT_EQ(rows("myout.PairwiseFullSibDyad"), fullsib);
    EXPECT_EQ(rows("myout.PairwiseHalfSibDyad"), halfsib);
  }
  EXPECT_GT(pairs, 50);
  EXPECT_GT(related, 5);
}

}  // namespace
}  // namespace kinrad
