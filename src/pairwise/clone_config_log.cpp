// Log likelihood of a partition of full-sib offspring into clones: members of one clone share
// one true genotype, distinct clones are full sibs of the family's two parents.
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <vector>

#include "core/modules.hpp"
#include "core/modules/pairwise_work.hpp"
#include "core/modules/variables.hpp"
#include "core/packed_genotypes.hpp"
#include "model/model.hpp"
#include "pairwise/clone_internal.hpp"
#include "pairwise/clones.hpp"

namespace kinrad {

namespace {

// Products carry the largest double as a fixed factor so that a locus probability far below
// the smallest double still has a logarithm; its natural log is taken off again.
constexpr real8 myhuge = DBL_MAX;
constexpr real8 myhugelog = 709.782712893384;

// Position of the unordered pair (i, j) of list positions 0..na-1 among i <= j, row by row.
inline int4 pair_pos(int4 i, int4 j, int4 na) {
  if (i > j) std::swap(i, j);
  return i * na - i * (i - 1) / 2 + (j - i);
}

// Orders the positions in idx by falling key, equal keys in their present order. Straight
// insertion: the lists are short, and a library stable sort would allocate on every call.
template <class K>
void stable_order(std::vector<int4>& idx, const std::vector<K>& key) {
  for (std::size_t i = 1; i < idx.size(); ++i) {
    const int4 x = idx[i];
    const K kx = key[static_cast<std::size_t>(x)];
    std::size_t j = i;
    while (j > 0 && key[static_cast<std::size_t>(idx[j - 1])] < kx) {
      idx[j] = idx[j - 1];
      --j;
    }
    idx[j] = x;
  }
}

void parent_alleles(int4 locus, int4 sex, int4 parent, int4& a1, int4& a2) {
  const Variables& v = variables;
  a1 = 0;
  a2 = 0;
  if (parent < 1) return;
  const int4 idx = sex == 1 ? parent : v.numcandidate(1) + parent;
  setgetgtype.locusgtypeptr = v.cndgtype2(locus).a;
  int2 g = 0;
  getgtype(g, idx, v.obsnumallele(locus));
  a1 = v.genotypeid(1, g);
  a2 = v.genotypeid(2, g);
}

// The members' observed alleles at locus l, then the clone entries with their distinct observed
// genotypes and counts (one-member clones of one observed genotype form one entry with a
// multiplicity); false when replicate typings of one individual differ at an error-free locus.
bool clone_entries(int4 l, int4 n, const int4* members, int4 c, const int4* b) {
  const Variables& v = variables;
  CloneLogWork& s = pairwise_work.clone_log;
  for (int4 x = 0; x < n; ++x)
    clone_detail::offspring_alleles(l, members[x], s.m1[static_cast<std::size_t>(x)],
                                    s.m2[static_cast<std::size_t>(x)]);
  s.start.clear();
  s.nobs.clear();
  s.mult.clear();
  s.single.clear();
  s.o1.clear();
  s.o2.clear();
  s.oc.clear();
  for (int4 k = 0; k < c; ++k) {
    const int4 first = static_cast<int4>(s.o1.size());
    for (int4 x = b[k]; x < b[k + 1]; ++x) {
      const int4 a1 = s.m1[static_cast<std::size_t>(x)];
      const int4 a2 = s.m2[static_cast<std::size_t>(x)];
      if (a1 < 1) continue;
      int4 y = first;
      const int4 end = static_cast<int4>(s.o1.size());
      while (y < end &&
             !(s.o1[static_cast<std::size_t>(y)] == a1 && s.o2[static_cast<std::size_t>(y)] == a2))
        ++y;
      if (y < end) {
        ++s.oc[static_cast<std::size_t>(y)];
      } else {
        s.o1.push_back(a1);
        s.o2.push_back(a2);
        s.oc.push_back(1);
      }
    }
    const int4 count = static_cast<int4>(s.o1.size()) - first;
    if (count == 0) continue;
    // Replicate typings of one individual that differ at an error-free locus.
    if (count > 1 && v.locuserror(l) == 0) return false;
    const bool one = b[k + 1] - b[k] == 1;
    if (one) {
      std::size_t e = 0;
      for (; e < s.start.size(); ++e) {
        const std::size_t o = static_cast<std::size_t>(s.start[e]);
        if (s.single[e] != 0 && s.o1[o] == s.o1[static_cast<std::size_t>(first)] &&
            s.o2[o] == s.o2[static_cast<std::size_t>(first)])
          break;
      }
      if (e < s.start.size()) {
        ++s.mult[e];
        s.o1.pop_back();
        s.o2.pop_back();
        s.oc.pop_back();
        continue;
      }
    }
    s.start.push_back(first);
    s.nobs.push_back(count);
    s.mult.push_back(1);
    s.single.push_back(one ? 1 : 0);
  }
  return true;
}

// The allele list of locus l (na alleles): the alleles the ne entries and the parents' observed
// genotypes (p1, p2 per sex) show, weighted by how often they are seen (the most often seen
// first when there are many), then one pooled allele for the rest. Returns the number shown.
int4 allele_list(int4 l, int4 na, int4 ne, const int4 p1[2], const int4 p2[2]) {
  const Variables& v = variables;
  CloneLogWork& s = pairwise_work.clone_log;
  const FView<real8, 1>& p = v.obsallelefre(l).a;
  s.allele.clear();
  s.weight.clear();
  auto add_allele = [&](int4 a, real8 w) {
    for (std::size_t x = 0; x < s.allele.size(); ++x) {
      if (s.allele[x] == a) {
        s.weight[x] += w;
        return;
      }
    }
    s.allele.push_back(a);
    s.weight.push_back(w);
  };
  if (na == 2) {
    add_allele(1, 0.0);
    add_allele(2, 0.0);
  }
  for (int4 e = 0; e < ne; ++e) {
    // An entry counts once per allele it carries, with its multiplicity.
    const std::size_t from = static_cast<std::size_t>(s.start[static_cast<std::size_t>(e)]);
    const std::size_t to = from + static_cast<std::size_t>(s.nobs[static_cast<std::size_t>(e)]);
    const real8 m = s.mult[static_cast<std::size_t>(e)];
    s.tmp.clear();
    for (std::size_t o = from; o < to; ++o) {
      for (int4 a : {s.o1[o], s.o2[o]}) {
        if (a < 1) continue;
        if (std::find(s.tmp.begin(), s.tmp.end(), a) == s.tmp.end()) s.tmp.push_back(a);
      }
    }
    for (int4 a : s.tmp) add_allele(a, m);
  }
  for (int4 sx = 0; sx < 2; ++sx) {
    if (p1[sx] < 1) continue;
    const bool hap = v.ploidy(sx + 1) == 1;
    add_allele(p1[sx], 1.0);
    if (!hap && p2[sx] != p1[sx] && p2[sx] > 0) add_allele(p2[sx], 1.0);
  }
  const int4 npresent = static_cast<int4>(s.allele.size());
  if (na > 2 && npresent > 3) {
    // Many present alleles: the most often seen first.
    std::vector<int4>& idx = s.tmp;
    idx.resize(static_cast<std::size_t>(npresent));
    for (int4 x = 0; x < npresent; ++x) idx[static_cast<std::size_t>(x)] = x;
    stable_order(idx, s.weight);
    s.sortedallele.resize(idx.size());
    s.sortedweight.resize(idx.size());
    for (std::size_t x = 0; x < idx.size(); ++x) {
      s.sortedallele[x] = s.allele[static_cast<std::size_t>(idx[x])];
      s.sortedweight[x] = s.weight[static_cast<std::size_t>(idx[x])];
    }
    s.allele.swap(s.sortedallele);
    s.weight.swap(s.sortedweight);
  }
  s.freq.resize(s.allele.size());
  real8 psum = 0.0;
  for (std::size_t x = 0; x < s.allele.size(); ++x) {
    s.freq[x] = p(s.allele[x]);
    psum += s.freq[x];
  }
  if (na > npresent) {
    // Alleles nobody shows behave alike under the observation model: one pooled allele.
    s.allele.push_back(0);
    s.weight.push_back(0.0);
    s.freq.push_back(std::max(0.0, 1.0 - psum));
  }
  return npresent;
}

// The skip rule for loci of many present alleles: a parental genotype whose alleles are too
// rarely seen would need more typing errors than can matter. True when it applies, with m2
// the weight a genotype's two alleles must reach.
bool skip_rule(int4 l, int4 npresent, real8& m2) {
  const Variables& v = variables;
  const CloneLogWork& s = pairwise_work.clone_log;
  const FView<real8, 1>& tr = v.transrate(l).a;
  const real8 ratio = tr(3) / tr(1);
  if (!(ratio > 0.0 && ratio < 1.0)) return false;
  const real8 m = std::round(-69.08 / std::log(ratio));
  real8 wmax = 0.0;
  for (int4 x = 0; x < npresent; ++x)
    wmax = std::max(wmax, std::round(s.weight[static_cast<std::size_t>(x)]));
  if (!(m < wmax)) return false;
  m2 = 2.0 * m;
  return true;
}

// Each parent's genotypes over the allele list with their prior weights (times the chance of
// the parent's observed genotype obs when typed) and skip marks.
void parent_genotype_weights(int4 l, int4 sx, const int4 obs[2], bool skiprule, real8 m2) {
  const Variables& v = variables;
  CloneLogWork& s = pairwise_work.clone_log;
  std::vector<int4>& gx = s.gx[sx];
  std::vector<int4>& gy = s.gy[sx];
  std::vector<real8>& gw = s.gw[sx];
  std::vector<char>& gs = s.gskip[sx];
  gx.clear();
  gy.clear();
  gw.clear();
  gs.clear();
  const int4 nal = static_cast<int4>(s.allele.size());
  const bool hap = v.ploidy(sx + 1) == 1;
  const bool typed = obs[0] > 0;
  for (int4 i = 0; i < nal; ++i) {
    const std::size_t ui = static_cast<std::size_t>(i);
    if (hap) {
      real8 w = s.freq[ui];
      if (typed) w *= prbgtophaploid(s.allele[ui], obs[0], l);
      gx.push_back(i);
      gy.push_back(-1);
      gw.push_back(w);
      gs.push_back(0);
      continue;
    }
    for (int4 j = i; j < nal; ++j) {
      const std::size_t uj = static_cast<std::size_t>(j);
      real8 w = i == j ? s.freq[ui] * s.freq[ui] : 2.0 * s.freq[ui] * s.freq[uj];
      if (typed) w *= prbgtop(s.allele[ui], s.allele[uj], obs, l);
      char skip = 0;
      if (skiprule && s.allele[ui] > 0 && s.allele[uj] > 0 &&
          m2 > std::round(s.weight[ui]) + std::round(s.weight[uj]))
        skip = 1;
      gx.push_back(i);
      gy.push_back(j);
      gw.push_back(w);
      gs.push_back(skip);
    }
  }
}

// q(t, e) for every true offspring genotype (or allele of haploid offspring) t of the list:
// the chance of entry e's observations; a dominant locus of a haplodiploid species counts
// repeated observations to the power 0.75.
void entry_probabilities(int4 l, int4 ne, bool haploidoff, bool softexp) {
  CloneLogWork& s = pairwise_work.clone_log;
  const int4 nal = static_cast<int4>(s.allele.size());
  const int4 nt = haploidoff ? nal : nal * (nal + 1) / 2;
  s.q.resize(static_cast<std::size_t>(nt) * static_cast<std::size_t>(ne));
  for (int4 e = 0; e < ne; ++e) {
    const std::size_t from = static_cast<std::size_t>(s.start[static_cast<std::size_t>(e)]);
    const std::size_t to = from + static_cast<std::size_t>(s.nobs[static_cast<std::size_t>(e)]);
    for (int4 i = 0; i < nal; ++i) {
      const int4 jend = haploidoff ? i + 1 : nal;
      for (int4 j = i; j < jend; ++j) {
        const int4 t1 = s.allele[static_cast<std::size_t>(i)];
        const int4 t2 = s.allele[static_cast<std::size_t>(j)];
        real8 val = 1.0;
        for (std::size_t o = from; o < to; ++o) {
          const int4 ob[2] = {s.o1[o], s.o2[o]};
          const real8 pr = haploidoff ? prbgtophaploid(t1, ob[0], l) : prbgtop(t1, t2, ob, l);
          const int4 cnt = s.oc[o];
          if (cnt == 1) {
            val *= pr;
          } else {
            val *= std::pow(
                pr, softexp ? std::pow(static_cast<real8>(cnt), 0.75) : static_cast<real8>(cnt));
          }
        }
        const int4 t = haploidoff ? i : pair_pos(i, j, nal);
        s.q[static_cast<std::size_t>(t) * static_cast<std::size_t>(ne) +
            static_cast<std::size_t>(e)] = val;
      }
    }
  }
}

// The locus probability times myhuge: the sum over parental pairs of the pair's weight times
// each entry's chance under the pair's transmissions. With pruning, pairs that cannot add a
// millionth of the running sum are abandoned.
real8 parental_pair_sum(int4 ne, bool haploidoff, bool symmetric, bool prune) {
  const CloneLogWork& s = pairwise_work.clone_log;
  const int4 nal = static_cast<int4>(s.allele.size());
  const std::size_t nf = s.gw[0].size();
  const std::size_t nm = s.gw[1].size();
  real8 sum = 0.0;
  for (std::size_t f = 0; f < nf; ++f) {
    if (s.gskip[0][f] != 0) continue;
    const real8 wf = s.gw[0][f];
    for (std::size_t m = symmetric ? f : 0; m < nm; ++m) {
      if (s.gskip[1][m] != 0) continue;
      real8 w = wf * s.gw[1][m];
      // Diploid offspring do not depend on which parent carries which genotype.
      if (symmetric && m != f) w += s.gw[0][m] * s.gw[1][f];
      if (!(w > 0.0)) continue;
      // Transmissions: up to two alleles of each parent, each with its chance.
      int4 fa[2] = {s.gx[0][f], s.gy[0][f]};
      int4 ma[2] = {s.gx[1][m], s.gy[1][m]};
      const int4 nfa = fa[1] < 0 ? 1 : 2;
      const int4 nma = ma[1] < 0 ? 1 : 2;
      real8 term = myhuge * w;
      if (prune && term <= 1e-6 * sum) continue;
      bool abandoned = false;
      for (int4 oe = 0; oe < ne && !abandoned; ++oe) {
        const int4 e = s.order[static_cast<std::size_t>(oe)];
        real8 factor = 0.0;
        if (haploidoff) {
          for (int4 y = 0; y < nma; ++y)
            factor += s.q[static_cast<std::size_t>(ma[y]) * static_cast<std::size_t>(ne) +
                          static_cast<std::size_t>(e)];
          factor /= nma;
        } else {
          for (int4 x = 0; x < nfa; ++x)
            for (int4 y = 0; y < nma; ++y)
              factor += s.q[static_cast<std::size_t>(pair_pos(fa[x], ma[y], nal)) *
                                static_cast<std::size_t>(ne) +
                            static_cast<std::size_t>(e)];
          factor /= nfa * nma;
        }
        const int4 mu = s.mult[static_cast<std::size_t>(e)];
        if (mu > 1) {
          // A power that would fall under 1e-300 ends the pair at once.
          if (prune && mu > 9 && factor < std::exp(-690.776 / mu)) {
            abandoned = true;
            break;
          }
          factor = std::pow(factor, mu);
        }
        term *= factor;
        if (prune && term <= 1e-6 * sum) abandoned = true;
      }
      if (abandoned) continue;
      sum += term;
      if (sum > myhuge) sum = myhuge;  // overflow: the locus probability is 1
    }
  }
  return sum;
}

}  // namespace

namespace clone_detail {

void release_config_scratch() {
  pairwise_work.clone_log = CloneLogWork{};
}

void fsconfiglog_pruned(int4 n, const int4* members, const int4 parents[2], int4 c, const int4* b,
                        real8& logl, real8 bound, bool prune) {
  const Variables& v = variables;
  CloneLogWork& s = pairwise_work.clone_log;
  logl = 0.0;
  if (n < 1) return;
  const bool haploidoff = v.offploid(members[0]) == 1;
  const bool halfdip = v.haplodiploid == 1;
  s.m1.resize(static_cast<std::size_t>(n));
  s.m2.resize(static_cast<std::size_t>(n));
  for (int4 ll = 1; ll <= v.numloci; ++ll) {
    const int4 l = v.locusorder(ll);
    const int4 na = v.obsnumallele(l);
    if (na < 2) continue;
    const bool dominant = v.dominantmarker(l) == 1;
    if (!clone_entries(l, n, members, c, b)) {
      logl = -1e300;
      return;
    }
    const int4 ne = static_cast<int4>(s.start.size());
    if (ne == 0) continue;
    // Entries of higher multiplicity first, equal ones in member-list order.
    s.order.resize(static_cast<std::size_t>(ne));
    for (int4 e = 0; e < ne; ++e) s.order[static_cast<std::size_t>(e)] = e;
    stable_order(s.order, s.mult);

    // Parents' observed genotypes.
    int4 p1[2] = {0, 0};
    int4 p2[2] = {0, 0};
    for (int4 sx = 0; sx < 2; ++sx) parent_alleles(l, sx + 1, parents[sx], p1[sx], p2[sx]);
    const int4 npresent = allele_list(l, na, ne, p1, p2);

    real8 m2 = 0.0;
    const bool skiprule = prune && !haploidoff && npresent >= 5 && skip_rule(l, npresent, m2);
    for (int4 sx = 0; sx < 2; ++sx) {
      const int4 obs[2] = {p1[sx], p2[sx]};
      parent_genotype_weights(l, sx, obs, skiprule, m2);
    }
    entry_probabilities(l, ne, haploidoff, halfdip && dominant);

    const bool symmetric = !haploidoff && !halfdip && v.ploidy(1) == 2 && v.ploidy(2) == 2;
    const real8 sum = parental_pair_sum(ne, haploidoff, symmetric, prune);
    logl += (sum <= 1e-300 ? -1e300 : std::log(sum)) - myhugelog;
    if (logl <= bound) return;
  }
}

}  // namespace clone_detail

void fsconfiglog(int4 n, const int4* members, const int4 parents[2], int4 c, const int4* b,
                 real8& logl, real8 bound) {
  clone_detail::fsconfiglog_pruned(n, members, parents, c, b, logl, bound, true);
}

}  // namespace kinrad
