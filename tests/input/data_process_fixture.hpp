#pragma once
// Module state as the input reader and the initialisation leave it, built directly for the
// data-preparation tests: genotypes are given per locus as two-digit allele numbers per
// individual ("12" is 1/2, "00" missing, a dominant phenotype p is "pp").
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "core/error_stop.hpp"
#include "core/modules.hpp"
#include "core/modules/variables.hpp"

namespace kinrad::dptest {

struct LocusSpec {
  int4 k = 2;  // labels seen by the reader
  bool dominant = false;
  real8 drop = 0.0;
  real8 other = 0.0;
  std::string offspring;       // n pairs
  std::string candidates;      // fathers' pairs, then mothers' pairs
  std::vector<int4> labels{};  // raw labels of allele numbers 1..k; default 10 + a (1, 2 dominant)
};

struct SampleShape {
  int4 numsex = 2;
  int4 allowinbreeding = 0;
  int4 haplodiploid = 0;
  int4 ploidy1 = 2;
  int4 fathers = 0;
  int4 mothers = 0;
  bool mothersarefathers = false;  // monoecious: the mothers' list repeats the fathers'
  real8 ewen = 1.0;                // mean number of parents of the sibship prior (both sexes)
  std::vector<LocusSpec> loci;
};

inline std::vector<std::pair<int, int>> pairsof(const std::string& text) {
  std::vector<std::pair<int, int>> r;
  std::istringstream in(text);
  std::string t;
  while (in >> t) r.emplace_back(t[0] - '0', t[1] - '0');
  return r;
}

// Resets every module and fills what dataprocess reads; the stem is "dp" in the working
// directory and the process does not display.
inline void setup(const SampleShape& s) {
  reset_all_modules();
  auto& v = variables;
  const int4 nloci = static_cast<int4>(s.loci.size());
  const int4 n = static_cast<int4>(pairsof(s.loci.at(0).offspring).size());
  v.fname = "dp";
  v.displayq = 0;
  v.smplsize = n;
  v.numloci = nloci;
  v.numsex = s.numsex;
  v.allowinbreeding = s.allowinbreeding;
  v.haplodiploid = s.haplodiploid;
  v.ploidy(1) = s.ploidy1;
  v.ploidy(2) = 2;
  v.numcandidate(1) = s.fathers;
  v.numcandidate(2) = s.mothers;
  v.allcandidate = s.fathers + s.mothers;
  v.ewenmeannumprnt(1) = s.ewen;
  v.ewenmeannumprnt(2) = s.ewen;
  v.offploid.allocate(n);
  v.offploid.fill(2);
  v.smplsizedh(2) = n;
  v.offspringid.allocate(n);
  for (int4 i = 1; i <= n; ++i) v.offspringid(i) = "O" + std::to_string(i);
  v.indivparent.allocate(n, 2);
  v.indivparent.fill(-1);
  v.knownsibship.allocate(n, 2);
  const int4 c = std::max(std::max(s.fathers, s.mothers), 1);
  v.cndinoffspring.allocate(c, 2);
  v.cndinothersex.allocate(c, 2);
  if (s.mothersarefathers)
    for (int4 j = 1; j <= s.fathers; ++j) {
      v.cndinothersex(j, 1) = j;
      v.cndinothersex(j, 2) = j;
    }
  v.dominantmarker.allocate(nloci);
  v.droprate.allocate(nloci);
  v.othererrorrate.allocate(nloci);
  v.rawallelenum.allocate(nloci);
  v.rawalleleid.allocate(nloci);
  v.indivgtype.allocate(2, nloci, n);
  v.cndgtype.allocate(2, nloci, std::max(v.allcandidate, 1));
  v.obsnumallele.allocate(nloci);
  for (int4 l = 1; l <= nloci; ++l) {
    const LocusSpec& ls = s.loci[static_cast<std::size_t>(l - 1)];
    v.dominantmarker(l) = ls.dominant ? 1 : 0;
    v.droprate(l) = ls.drop;
    v.othererrorrate(l) = ls.other;
    v.rawallelenum(l) = static_cast<int1>(ls.k);
    v.rawalleleid(l).a.allocate(std::max(ls.k, 2));
    for (int4 a = 1; a <= ls.k; ++a)
      v.rawalleleid(l).a(a) = ls.labels.empty() ? (ls.dominant ? a : 10 + a)
                                                : ls.labels[static_cast<std::size_t>(a - 1)];
    const auto off = pairsof(ls.offspring);
    EXPECT_EQ(static_cast<int4>(off.size()), n) << "locus " << l;
    for (int4 i = 1; i <= n; ++i) {
      v.indivgtype(1, l, i) = static_cast<int1>(off[static_cast<std::size_t>(i - 1)].first);
      v.indivgtype(2, l, i) = static_cast<int1>(off[static_cast<std::size_t>(i - 1)].second);
    }
    auto cnd = pairsof(ls.candidates);
    if (s.mothersarefathers) {
      const auto fathers = cnd;
      cnd.insert(cnd.end(), fathers.begin(), fathers.end());
    }
    EXPECT_EQ(static_cast<int4>(cnd.size()), v.allcandidate) << "locus " << l;
    for (int4 j = 1; j <= v.allcandidate; ++j) {
      v.cndgtype(1, l, j) = static_cast<int1>(cnd[static_cast<std::size_t>(j - 1)].first);
      v.cndgtype(2, l, j) = static_cast<int1>(cnd[static_cast<std::size_t>(j - 1)].second);
    }
  }
}

// The first error line after an error stop of dataprocess.
template <class F>
std::string stopline(F&& f) {
  try {
    f();
  } catch (const ProgramStop& stop) {
    return std::string(variables.errmsg(1).trimmed());
  }
  return "(no stop)";
}

}  // namespace kinrad::dptest
