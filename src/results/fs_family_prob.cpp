// Full-sib family probabilities of the best configuration. Each family starts from the
// weighted share of archived configurations that hold all its members as full sibs
// (inclusive) and that hold exactly its members as one full-sib family (exclusive); a record
// weighs exp(L - best L). The shares are then corrected by likelihoods of trial families with
// unsampled parents: every member split off in turn (both probabilities), and every outside
// offspring that could join it (exclusive only). In one parent pool the archive also gives the
// selfing rate with its bounds; with clones allowed, clone inference runs inside the families
// under raised typing-error rates.
//
// Families are matched by their full-sib keys: a family holds in a record when all its members
// carry the representative's key there, whatever the family ids. That also matches haploid
// sons, whose fathers the search may record differently, and in one parent pool a family whose
// two parent slots are exchanged.
#include <algorithm>
#include <cmath>
#include <functional>
#include <iostream>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "configuration/configuration.hpp"
#include "core/format_write.hpp"
#include "core/keep_value.hpp"
#include "core/modules.hpp"
#include "core/sorting.hpp"
#include "core/variables_routines.hpp"
#include "likelihood/likelihood.hpp"
#include "model/model.hpp"
#include "pairwise/pairwise.hpp"
#include "results/fs_family_prob_internal.hpp"
#include "results/results_internal.hpp"

namespace kinrad {

namespace {

// The full-sib families of the best configuration.
struct Families {
  int4 count = 0;
  FArray<int4, 1> order;  // (n) offspring sorted by best-configuration key
  FArray<int4, 1> start;  // (F) first position of each family in order
  FArray<int4, 1> size;   // (F)
  FArray<int8, 1> key;    // (n) best-configuration key of each offspring
  std::span<const int4> members(int4 j) const {
    return {&order(start(j)), static_cast<std::size_t>(size(j))};
  }
  int4 rep(int4 j) const { return order(start(j)); }
};

// Keys of the best configuration, their sorted order and the runs of equal keys.
void cut_families(Families& f) {
  auto& v = variables;
  const int4 n = v.smplsize;
  f.key.allocate(Dim(n));
  findfsfamilyid(v.btindivloc.view(), f.key.data());
  std::vector<real8> x(f.key.begin(), f.key.end());
  f.order.allocate(Dim(n));
  indexx(n, x.data(), f.order.data());
  f.start.allocate(Dim(std::max(n, 1)));
  f.size.allocate(Dim(std::max(n, 1)));
  f.count = 0;
  for (int4 p = 1; p <= n; ++p) {
    const int8 k = f.key(f.order(p));
    if (p == 1 || k != f.key(f.order(p - 1))) {
      ++f.count;
      f.start(f.count) = p;
      f.size(f.count) = 0;
    }
    ++f.size(f.count);
  }
}

// The archive shares: Sinc and Sexc per family, the summed weight W, and in one parent pool the
// weighted distribution of the selfed count with the best configuration's count c(1).
struct Shares {
  FArray<real8, 1> inc, exc;  // (F) per family
  FArray<real8, 1> selfdist;  // (0:n) by selfed count
  real8 total = 0.0;
  int4 headself = 0;
};

void archive_shares(const Families& f, Shares& s) {
  auto& v = variables;
  const int4 n = v.smplsize;
  s.inc.allocate(Dim(f.count));
  s.exc.allocate(Dim(f.count));
  s.selfdist.allocate(Dim(0, n));
  s.total = 0.0;
  s.headself = 0;
  FArray<int8, 1> key{Dim(n)};
  std::vector<int8> sorted(static_cast<std::size_t>(n));  // the keys in increasing order
  for (Config* r = v.confighead; r != nullptr; r = r->next) {
    v.configptr = r;
    v.crrtconfig = r;
    real8 logl = 0.0;
    convertconfig(1, logl);
    const real8 w = std::exp(logl - v.btloglikelihood);
    s.total += w;
    if (v.numsex == 1) {
      int4 c = 0;
      for (int4 i = 1; i <= n; ++i)
        if (v.offtgt(i, 1) == v.offtgt(i, 2)) ++c;
      s.selfdist(c) += w;
      if (r == v.confighead) s.headself = c;
    }
    findfsfamilyid(v.offtgt.view(), key.data());
    sorted.assign(key.begin(), key.end());
    std::sort(sorted.begin(), sorted.end());
    for (int4 j = 1; j <= f.count; ++j) {
      const int8 k = key(f.rep(j));
      bool all = true;
      for (const int4 m : f.members(j)) all = all && key(m) == k;
      if (!all) continue;
      s.inc(j) += w;
      const auto range = std::equal_range(sorted.begin(), sorted.end(), k);
      if (range.second - range.first == f.size(j)) s.exc(j) += w;
    }
  }
  v.configptr = nullptr;
}

// The selfing rate and its bounds from the selfed-count distribution.
void selfing_estimate(const Shares& s, std::array<real8, 3>& selfrate) {
  const int4 n = variables.smplsize;
  real8 mean = 0.0, second = 0.0;
  for (int4 c = 1; c <= n; ++c) {
    const real8 p = s.total > 0.0 ? s.selfdist(c) / s.total : 0.0;
    if (p <= 1e-300) continue;
    mean += c * p;
    second += static_cast<real8>(c) * c * p;
  }
  const real8 var = second - mean * mean;
  const real8 c1 = s.headself;
  const real8 r = c1 / n;
  const real8 sd = std::sqrt(std::fabs(c1 * (1.0 - r) + var));
  selfrate = {r, std::max(c1 - 2.0 * sd, 0.0) / n,
              std::min(c1 + 2.0 * sd, static_cast<real8>(n)) / n};
}

// Log likelihood of each offspring alone. With two sexes the stored single likelihoods are
// trusted once the first 10 offspring without a known parent agree with them.
void single_likelihoods(FArray<real8, 1>& l1) {
  const auto& v = variables;
  const int4 n = v.smplsize;
  l1.allocate(Dim(std::max(n, 1)));
  const bool stored = v.indivlogl.allocated() && v.indivlogl.ubound(1) >= n;
  const bool parents = v.indivparent.allocated();
  int4 agreed = 0;
  bool failed = !stored;
  for (int4 i = 1; i <= n; ++i) {
    const int4 one[1] = {i};
    bool known = false;
    for (int4 t = 1; t <= 2 && parents; ++t)
      known = known || (v.indivparent(i, t) > 0 && v.numknownprnt(t) >= 1);
    if (v.numsex == 1 || known || failed || agreed < 10) {
      l1(i) = trialgroups(one, {}, 0, -1e300);
      if (v.numsex == 2 && !known && !failed) {
        if (std::fabs(l1(i) - v.indivlogl(i)) <= 1e-8)
          ++agreed;
        else
          failed = true;
      }
    } else {
      l1(i) = v.indivlogl(i);
    }
  }
}

// The progress mark of one family.
void progress(int4& counter) {
  if (variables.displayq == 1) writeprogress(counter, 5);
}

// Log likelihood of every family as one full-sib family.
void family_likelihoods(const Families& f, const FArray<real8, 1>& l1, FArray<real8, 1>& lf) {
  int4 counter = 0;
  lf.allocate(Dim(f.count));
  for (int4 j = 1; j <= f.count; ++j) {
    if (f.size(j) == 1) {
      lf(j) = l1(f.rep(j));
      continue;
    }
    lf(j) = trialgroups(f.members(j), {}, 0, -1e300);
    progress(counter);
  }
}

// Free sides of a family: 1 for a sex whose parent may differ between members, 0 for a
// monogamous one, minus the known parent when a member has one.
std::array<int4, 2> free_sides(std::span<const int4> members) {
  const auto& v = variables;
  std::array<int4, 2> f{};
  for (int4 t = 1; t <= 2; ++t) {
    f[static_cast<std::size_t>(t - 1)] = v.monogamy(t) == 0 ? 1 : 0;
    if (v.numknownprnt(t) < 1 || !v.indivparent.allocated()) continue;
    for (const int4 m : members)
      if (v.indivparent(m, t) > 0) {
        f[static_cast<std::size_t>(t - 1)] = -v.indivparent(m, t);
        break;
      }
  }
  return f;
}

// The factor of the split test: 1 / (1 + sum of exp(LS - LF)) over each member split off.
real8 split_factor(std::span<const int4> members, real8 lf, const std::array<int4, 2>& f,
                   std::vector<int4>& rest, FsFamilyCounts& counts) {
  const int4 s = static_cast<int4>(members.size());
  if (s < 2 || (f[0] != 1 && f[1] != 1)) return 1.0;
  const int4 split = f[0] == 1 ? 1 : 2;
  const int4 splits = s == 2 ? 1 : s;
  real8 sum = 0.0;
  for (int4 k = 0; k < splits; ++k) {
    rest.clear();
    for (int4 m = 0; m < s; ++m)
      if (m != k) rest.push_back(members[static_cast<std::size_t>(m)]);
    const int4 one[1] = {members[static_cast<std::size_t>(k)]};
    const real8 ls = trialgroups(one, rest, split, lf - 10.0);
    ++counts.splits;
    if (ls > -1e300) sum += std::exp(ls - lf);
  }
  return 1.0 / (1.0 + sum);
}

// Average allele number over the multi-allelic loci typed in offspring r.
real8 typed_alleles(int4 r) {
  const auto& v = variables;
  real8 sum = 0.0;
  int4 count = 0;
  for (int4 k = 1; k <= v.locus3(0); ++k) {
    const int4 l = v.locus3(k);
    if (v.indivgtype2(l).a(r) > 0) {
      sum += v.obsnumallele(l);
      ++count;
    }
  }
  return sum / (count + 1e-10);
}

// True when offspring i agrees with r at too few multi-allelic loci to be its sib.
bool screened_out(int4 r, int4 i, real8 threshold) {
  const auto& v = variables;
  int4 t = 0, e = 0;
  for (int4 k = 1; k <= v.locus3(0); ++k) {
    const auto& col = v.indivgtype2(v.locus3(k)).a;
    const int2 gr = col(r), gi = col(i);
    if (gr > 0 && gi > 0) {
      ++t;
      if (gr == gi) ++e;
    }
  }
  return t > 89 && t * threshold > e;
}

// The factor of the join test on the exclusive probability: 0.9 P + 0.1 (n - s) / (Q + n - s)
// over the outside offspring that could join the family (1 when none is outside).
real8 join_factor(int4 j, const Families& f, real8 lf, const FArray<real8, 1>& l1,
                  const std::array<int4, 2>& fs, FArray<int1, 1>& mark, std::vector<int4>& joined,
                  FsFamilyCounts& counts) {
  const auto& v = variables;
  const int4 n = v.smplsize;
  const std::span<const int4> members = f.members(j);
  const int4 s = f.size(j);
  if (fs[0] < 0 && fs[1] < 0) return 1.0;
  const int4 r = f.rep(j);
  const int4 a = v.btindivloc(r, 1), b = v.btindivloc(r, 2);
  const bool screen = v.locus3.allocated() && v.locus3(0) > 89;
  real8 threshold = 0.0;
  bool thresholdset = false;
  for (const int4 m : members) mark(m) = 1;
  real8 p = 1.0, q = 0.0;
  for (int4 i = 1; i <= n; ++i) {
    if (mark(i) != 0) continue;
    if (fs[0] < 0 && v.indivparent(i, 1) != -fs[0]) continue;
    if (fs[1] < 0 && v.indivparent(i, 2) != -fs[1]) continue;
    const int4 c1 = v.btindivloc(i, 1), c2 = v.btindivloc(i, 2);
    const bool half = c1 == a || c2 == b;
    const bool crossed = !half && v.numsex == 1 && (c1 == b || c2 == a);
    real8 lp = 0.0;
    if (half || crossed) {
      if (screen) {
        if (!thresholdset) {
          const real8 alleles = typed_alleles(r);
          threshold = 0.25 - 0.5 / (alleles + 1e-10);
          thresholdset = true;
        }
        if (screened_out(r, i, threshold)) {
          ++counts.screened;
          continue;
        }
      }
      const int4 one[1] = {i};
      const int4 split = v.numsex == 2 && c1 != a ? 1 : 2;
      lp = trialgroups(members, one, split, -1e300);
      ++counts.separate;
    } else if (v.allmonogamy == 1) {
      lp = lf + l1(i);
    } else {
      continue;
    }
    joined.assign(members.begin(), members.end());
    joined.push_back(i);
    const real8 lj = trialgroups(joined, {}, 0, lp - 20.0);
    ++counts.joins;
    // A joined family that cannot occur gives no weight to the join, whatever the separate one.
    const real8 qi = lj <= -1e300 ? 0.0 : std::min(std::exp(lj - lp), 1.0);
    q += qi;
    p /= 1.0 + qi;
  }
  for (const int4 m : members) mark(m) = 0;
  if (n <= s) return 1.0;
  return 0.9 * p + 0.1 * (n - s) / (q + n - s);
}

// Both corrections for every family, with the screen lines of the phase.
void correct_shares(const Families& f, Shares& s, FsFamilyCounts& counts) {
  auto& v = variables;
  const int4 n = v.smplsize;
  const bool display = v.displayq == 1;
  FArray<real8, 1> l1;
  single_likelihoods(l1);
  if (display) fwrite(std::cout, "(A)", "Computing FS family likelihood...");
  FArray<real8, 1> lf;
  family_likelihoods(f, l1, lf);
  if (display) {
    fwrite(std::cout, "(A)", "\r  ");
    fwrite(std::cout, "(A)", "Computing FS family probabilities...");
  }
  FArray<int1, 1> mark{Dim(n)};  // members of the family in hand
  std::vector<int4> rest, joined;
  rest.reserve(static_cast<std::size_t>(n));
  joined.reserve(static_cast<std::size_t>(n) + 1);
  int4 counter = 0;
  for (int4 j = 1; j <= f.count; ++j) {
    const std::array<int4, 2> fs = free_sides(f.members(j));
    const real8 split = split_factor(f.members(j), lf(j), fs, rest, counts);
    s.inc(j) *= split;
    s.exc(j) *= split;
    s.exc(j) *= join_factor(j, f, lf(j), l1, fs, mark, joined, counts);
    progress(counter);
  }
  if (display) fwrite(std::cout, "(A)", v.blkln.view().substr(0, 2));
}

// Clone inference inside the families under typing-error rates raised by the number of
// polymorphic loci; the rates and their tables come back as they were.
void clone_step(const Families& f, const Shares& s) {
  auto& v = variables;
  const int4 nl = v.numloci;
  const int4 n3 = v.locus3.allocated() ? v.locus3(0) : 0;
  const int4 n2 = v.locus2.allocated() ? v.locus2(0) : 0;
  const real8 g = std::pow(static_cast<real8>(n3 + n2), 0.05);
  FArray<real8, 1> drop{Dim(nl)}, other{Dim(nl)};
  for (int4 l = 1; l <= nl; ++l) {
    drop(l) = v.droprate(l);
    other(l) = v.othererrorrate(l);
    v.droprate(l) = std::min(v.droprate(l) * g, 0.5);
    v.othererrorrate(l) = std::min(v.othererrorrate(l) * g, 0.5);
  }
  phenotypegivengenotype(1, nl);
  FArray<real8, 1> prob(Dim(std::max(f.count, 1)));
  for (int4 j = 1; j <= f.count; ++j) prob(j) = s.total > 0.0 ? s.inc(j) / s.total : 0.0;
  if (results_seams.findclone)
    results_seams.findclone(f.count, prob.data(), f.start.data(), f.size.data(), f.order.data());
  else
    findclone(f.count, prob.data(), f.start.data(), f.size.data(), f.order.data());
  for (int4 l = 1; l <= nl; ++l) {
    v.droprate(l) = drop(l);
    v.othererrorrate(l) = other(l);
  }
  phenotypegivengenotype(1, nl);
}

// Families in order of their smallest offspring, divided by the summed weight.
void ordered_probabilities(const Families& f, const Shares& s, FArray<real8, 1>& probinc,
                           FArray<real8, 1>& probexc) {
  FArray<real8, 1> smallest(Dim(std::max(f.count, 1)));
  for (int4 j = 1; j <= f.count; ++j) {
    int4 m = variables.smplsize;
    for (const int4 x : f.members(j)) m = std::min(m, x);
    smallest(j) = m;
  }
  FArray<int4, 1> rank(Dim(std::max(f.count, 1)));
  indexx(f.count, smallest.data(), rank.data());
  // An empty archive weighs nothing: its families get probability 0.
  const real8 scale = s.total > 0.0 ? 1.0 / s.total : 0.0;
  for (int4 m = 1; m <= f.count; ++m) {
    const int4 j = rank(m);
    probinc(m) = s.inc(j) * scale;
    probexc(m) = s.exc(j) * scale;
  }
}

}  // namespace

FsFamilyCounts findfsfamilyprob_counted(FArray<real8, 1>& probinc, FArray<real8, 1>& probexc,
                                        std::array<real8, 3>& selfrate) {
  auto& v = variables;
  FsFamilyCounts counts;
  Families f;
  cut_families(f);
  Shares s;
  archive_shares(f, s);
  // An empty archive gives no selfing estimate: selfrate keeps its unset value.
  if (v.numsex == 1 && s.total > 0.0) selfing_estimate(s, selfrate);
  // Trial families are scored with unsampled parents (known parents apart).
  setfamilystruc(v.smplsize, 2);
  if (results_seams.fsfamily_corrections) correct_shares(f, s, counts);
  if (v.allowclone == 1) clone_step(f, s);
  ordered_probabilities(f, s, probinc, probexc);
  v.inferparentprt = v.inferparent.view();
  return counts;
}

void findfsfamilyprob(FArray<real8, 1>& probinc, FArray<real8, 1>& probexc, int4,
                      std::array<real8, 3>& selfrate) {
  findfsfamilyprob_counted(probinc, probexc, selfrate);
}

void set_fsfamily_corrections(bool on) {
  results_seams.fsfamily_corrections = on;
}

void set_findclone_seam(CloneSeam seam) {
  results_seams.findclone = std::move(seam);
}

}  // namespace kinrad
