// Corrections of the sample allele frequencies. Related individuals carry copies of the same
// parental alleles, so plain sample counts over-weight large families and, under selfing,
// homozygotes. Both corrections rewrite the windows of variables.obsallelefre.
#include <algorithm>
#include <cmath>
#include <iostream>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/error_stop.hpp"
#include "core/format_write.hpp"
#include "core/modules/variables.hpp"
#include "core/sorting.hpp"
#include "core/variables_routines.hpp"
#include "input/data_process_steps_internal.hpp"

namespace kinrad {

namespace {

// Observation codes of the selfing iteration: 0 heterozygote, a > 0 homozygote of allele a,
// -1 / -2 dominant phenotype, and this one for an individual not typed at the locus.
constexpr int2 notyped = 1000;

}  // namespace

bool dominating_family() {
  const int4 n = variables.smplsize;
  auto shared = [n](const FArray<int4, 2>& table) {
    if (!table.allocated()) return false;
    for (int4 k = 1; k <= 2; ++k) {
      std::unordered_map<int4, int4> members;
      for (int4 i = 1; i <= n; ++i) {
        const int4 v = table(i, k);
        if (v > 0 && ++members[v] >= n - 4) return true;
      }
    }
    return false;
  };
  return shared(variables.indivparent) || shared(variables.knownsibship);
}

void selfing_iteration() {
  const int4 n = variables.smplsize;
  const int4 nind = n + variables.numcandidate(1);
  const int4 nloci = variables.numloci;

  // Codes per individual and locus (loci with fewer than two alleles stay untyped), the fixed
  // allele counts of the heterozygotes and homozygotes of each locus, and the loci typed.
  FArray<int2, 2> code;
  FArray<real8, 2> fixedcount;
  FArray<real8, 2> expected;
  FArray<real8, 1> inb;
  FArray<real8, 1> sum;
  FArray<int4, 1> typed;
  const int4 m = variables.maxobsnumallele;
  if (!code.try_allocate(nind, nloci) || !fixedcount.try_allocate(m, nloci) ||
      !expected.try_allocate(m, 1) || !inb.try_allocate(nind) || !sum.try_allocate(nind) ||
      !typed.try_allocate(nind))
    stoponerror(0, "DataProcess");

  for (int4 l = 1; l <= nloci; ++l) {
    const bool use = variables.obsnumallele(l) >= 2;
    const bool dominant = variables.dominantmarker(l) == 1;
    for (int4 i = 1; i <= nind; ++i) {
      const int1 a1 = i <= n ? variables.indivgtype(1, l, i) : variables.cndgtype(1, l, i - n);
      const int1 a2 = i <= n ? variables.indivgtype(2, l, i) : variables.cndgtype(2, l, i - n);
      int4 c = notyped;
      if (use && a1 > 0) {
        if (dominant) {
          c = -a1;
        } else if (a1 != a2) {
          c = 0;
          fixedcount(a1, l) += 1.0;
          fixedcount(a2, l) += 1.0;
        } else {
          c = a1;
          fixedcount(a1, l) += 2.0;
        }
        ++typed(i);
      }
      code(i, l) = static_cast<int2>(c);
    }
  }
  inb.fill(0.25);

  if (variables.displayq == 1)
    fwrite(std::cout, "(A)", "Updating allele frequencies by accounting for selfing...");
  int4 progress = 0;
  for (int4 iter = 1; iter <= 2000; ++iter) {
    if (variables.displayq == 1) writeprogress(progress, 1, " Iterate:" + itoc(iter));
    sum.fill(0.0);
    real8 change = 0.0;
    for (int4 l = 1; l <= nloci; ++l) {
      const int4 k = variables.obsnumallele(l);
      if (k < 2) continue;
      const FView<real8, 1>& p = variables.obsallelefre(l).a;
      const bool dominant = variables.dominantmarker(l) == 1;
      for (int4 a = 1; a <= k; ++a) expected(a, 1) = 0.0;
      for (int4 i = 1; i <= nind; ++i) {
        const int4 c = code(i, l);
        if (c == notyped || c == 0) continue;
        const real8 f = inb(i);
        if (c > 0) {
          // Chance that the homozygote's two alleles are one copy of a parental allele.
          const real8 z = f / (f + (1.0 - f) * p(c));
          expected(c, 1) -= z;
          sum(i) += z;
        } else if (c == -2) {
          const real8 q = p(2);
          const real8 pr = ((1.0 - f) * q + f) * q;
          const real8 z = q * f / pr;
          expected(2, 1) += 2.0 - z;
          sum(i) += z;
        } else {
          const real8 q = p(2);
          const real8 pr = 1.0 - ((1.0 - f) * q + f) * q;
          const real8 z = f * p(1) / pr;
          const real8 h = (f * p(1) + (1.0 - f) * p(1) * p(1)) / pr;
          expected(1, 1) += 1.0 + (1.0 - z) * h;
          expected(2, 1) += 1.0 - h;
          sum(i) += z;
        }
      }
      if (!dominant)
        for (int4 a = 1; a <= k; ++a) expected(a, 1) += fixedcount(a, l);
      real8 total = 0.0;
      for (int4 a = 1; a <= k; ++a) total += expected(a, 1);
      for (int4 a = 1; a <= k; ++a) {
        const real8 updated = expected(a, 1) / total;
        change = std::max(change, std::fabs(p(a) - updated));
        p(a) = updated;
      }
    }
    for (int4 i = 1; i <= nind; ++i) inb(i) = typed(i) > 0 ? std::min(sum(i) / typed(i), 0.5) : 0.5;
    if (change < 1e-5) break;
  }
  if (variables.displayq == 1 && variables.igui != 1)
    fwrite(std::cout, trim(variables.lineform.view()), "\r" + std::string(20, ' ') + "\r");
}

void family_correction() {
  const int4 n = variables.smplsize;
  for (int4 l = 1; l <= variables.numloci; ++l) {
    const int4 k = variables.obsnumallele(l);
    if (k < 3) continue;
    const real8 e = variables.othererrorrate(l);
    if (e > 0.6 - 1.0 / std::sqrt(static_cast<real8>(k))) continue;

    // Alleles by descending count among the offspring.
    std::vector<real8> negcount(static_cast<std::size_t>(k), 0.0);
    for (int4 i = 1; i <= n; ++i) {
      const int1 a1 = variables.indivgtype(1, l, i);
      if (a1 <= 0) continue;
      negcount[static_cast<std::size_t>(a1 - 1)] -= 1.0;
      negcount[static_cast<std::size_t>(variables.indivgtype(2, l, i) - 1)] -= 1.0;
    }
    std::vector<int4> o(static_cast<std::size_t>(k));
    indexx(k, negcount.data(), o.data());

    const int4 tolerance =
        e <= 1e-300 ? 1 : std::max<int4>(3, static_cast<int4>(std::lround(n * e)));
    const real8 w = 2.0 / (static_cast<real8>(k) * k) + 0.25;
    const int4 depth = k == 3 ? 1 : (k <= 6 ? 2 : 4);
    auto ox = [&o](int4 r) { return o[static_cast<std::size_t>(r - 1)]; };
    std::vector<std::vector<int4>> sets = {{ox(1)}};
    if (depth >= 2) sets.push_back({ox(1), ox(2)});
    if (depth == 4) {
      sets.push_back({ox(1), ox(3)});
      sets.push_back({ox(1), ox(4)});
      sets.push_back({ox(2), ox(3)});
      sets.push_back({ox(2), ox(4)});
      sets.push_back({ox(3), ox(4)});
      sets.push_back({ox(1), ox(2), ox(3), ox(4)});
    }

    std::vector<real8> count(static_cast<std::size_t>(k) + 1);
    for (const std::vector<int4>& set : sets) {
      auto inset = [&set](int1 a) { return std::find(set.begin(), set.end(), a) != set.end(); };
      std::fill(count.begin(), count.end(), 1.0 / k);
      int4 unexplained = 0;
      for (int4 i = 1; i <= n && unexplained <= tolerance; ++i) {
        const int1 a1 = variables.indivgtype(1, l, i);
        if (a1 <= 0) continue;
        const int1 a2 = variables.indivgtype(2, l, i);
        const bool in1 = inset(a1);
        const bool in2 = inset(a2);
        if (in1 && in2) {
          count[static_cast<std::size_t>(a1)] += w;
          count[static_cast<std::size_t>(a2)] += w;
        } else if (in1) {
          count[static_cast<std::size_t>(a2)] += 1.0;
        } else if (in2) {
          count[static_cast<std::size_t>(a1)] += 1.0;
        } else {
          count[static_cast<std::size_t>(a1)] += 1.0;
          count[static_cast<std::size_t>(a2)] += 1.0;
          ++unexplained;
        }
      }
      if (unexplained > tolerance) continue;

      if (unexplained >= 2)
        for (const int4 a : set) count[static_cast<std::size_t>(a)] += 0.25 * w;
      for (int4 c = 1; c <= variables.allcandidate; ++c) {
        const bool haploidfather = variables.haplodiploid == 1 && c <= variables.numcandidate(1);
        for (int4 s = 1; s <= (haploidfather ? 1 : 2); ++s) {
          const int1 a = variables.cndgtype(s, l, c);
          if (a > 0) count[static_cast<std::size_t>(a)] += 1.0;
        }
      }
      real8 total = 0.0;
      for (int4 a = 1; a <= k; ++a) total += count[static_cast<std::size_t>(a)];
      const FView<real8, 1>& p = variables.obsallelefre(l).a;
      for (int4 a = 1; a <= k; ++a) p(a) = count[static_cast<std::size_t>(a)] / total;
      break;
    }
  }
}

}  // namespace kinrad
