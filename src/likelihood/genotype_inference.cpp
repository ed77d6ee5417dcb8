// Posterior genotypes of the parents and offspring of the family in hand at one locus, and the
// posterior allele counts of its parents.
//
// Each parent in turn: without a typed offspring its posterior is its own observation (or the
// population prior) alone; otherwise the family likelihood is evaluated with the parent fixed at
// each genotype built from the alleles its families show (the alleles nobody shows share one
// representative), weighed by the prior and normalised over the genotypes kept. The parents'
// allele transmissions then give each offspring's genotype prior, weighed by its own observation;
// in a lone full-sib family whose two parents show nothing themselves, whose posteriors are
// mirror images, the offspring's prior comes from the parents' joint posterior instead.
#include <algorithm>
#include <cmath>

#include "core/genotype_number.hpp"
#include "core/modules/likelihoodvar.hpp"
#include "core/modules/setgetgtype.hpp"
#include "core/modules/variables.hpp"
#include "core/packed_genotypes.hpp"
#include "core/sorting.hpp"
#include "likelihood/likelihood.hpp"
#include "model/model.hpp"

namespace kinrad {

namespace {

constexpr real8 kImpossible = -1e300;
// The 4-byte real nearest to 1e-37: the smallest posterior a kept genotype is given, so that it
// survives the conversion to a 4-byte result.
constexpr real8 kFloor = 9.99999991097579e-38;

template <class T>
void fit(std::vector<T>& v, std::size_t n) {
  if (v.size() < n) v.resize(n);
}

// Observed alleles of genotype number g (0 missing) at a locus of k alleles: a haploid
// genotype has its allele first and 0 second, so does a dominant phenotype.
void decode(int2 g, int4 k, bool dominant, bool haploid, int4 out[2]) {
  out[0] = out[1] = 0;
  if (g <= 0) return;
  if (dominant) {
    out[0] = g;
    return;
  }
  if (k <= 2) {
    if (g == 1 || g == 2) {
      out[0] = g;
      out[1] = haploid ? 0 : g;
    } else {
      out[0] = 1;
      out[1] = haploid ? 0 : 2;
    }
    return;
  }
  out[0] = variables.genotypeid(1, g);
  out[1] = haploid ? 0 : variables.genotypeid(2, g);
}

void offspring_genotype(int4 o, int4 locus, int4 out[2]) {
  const Variables& v = variables;
  setgetgtype.locusgtypeptr = v.indivgtype2(locus).a;
  int2 g = 0;
  const int4 k = v.obsnumallele(locus);
  getgtype(g, o, k);
  decode(g, k, v.dominantmarker(locus) != 0, v.offploid(o) == 1, out);
}

// The allele pair (a <= b) of diploid genotype number g at a locus of n alleles.
void diploid_alleles(int4 g, int4 n, int4& a, int4& b) {
  a = 1;
  int4 r = g;
  while (r > n - a + 1) {
    r -= n - a + 1;
    ++a;
  }
  b = a + r - 1;
}

// Stores the first places of the posterior w(1..ng) by decreasing value; alleles(g) gives the
// pair of genotype g. Places beyond ng get probability 0 and alleles 0.
template <class Alleles, class Put>
void store_sorted(const real8* w, int4 ng, int4* idx, real8* keys, Alleles alleles, Put put) {
  for (int4 g = 1; g <= ng; ++g) keys[g] = -w[g];
  indexx(ng, keys + 1, idx + 1);
  const int4 ne = variables.numestgenotype;
  for (int4 k = 1; k <= ne; ++k) {
    if (k > ng) {
      put(k, 0.0f, 0, 0);
      continue;
    }
    const int4 g = idx[k];
    int4 a = 0, b = 0;
    if (w[g] > 1e-5) alleles(g, a, b);
    put(k, static_cast<real4>(w[g]), a, b);
  }
}

// The parent number of a parent in the configuration: the family number of its offspring.
int4 parent_number(int4 s, int4 i) {
  const Variables& v = variables;
  int4 fallback = 0;
  for (int4 m = 1; m <= v.nparent(3 - s); ++m) {
    const int4 p1 = s == 1 ? i : m, p2 = s == 1 ? m : i;
    if (v.nchild(p1, p2) <= 0) continue;
    const FView<int2, 1> members = familystructure(p1, p2);
    for (int4 x = 1; x <= v.nchild(p1, p2); ++x) {
      const int4 o = members(x);
      const int4 num = v.indivlocprt(o, s);
      if (num >= 1 && (s == 2 || v.offploid(o) != 1)) return num;
      if (num >= 1 && fallback == 0) fallback = num;
    }
  }
  return fallback;
}

// One call's locus facts and views of the grow-only scratch in likelihoodvar.
struct Inference {
  int4 locus = 0;
  int4 countflag = 0;
  int4 prntflag = 0;
  int4 flag2 = 0;
  std::span<real8> allelecount;
  int4 n = 0;     // alleles of the locus
  int4 np1 = 0;   // parents of sex 1
  int4 nall = 0;  // parents of both sexes
  bool dominant = false;
  bool errorfree = false;
  bool selfing = false;
  int4 ngd = 0;  // diploid genotypes of the locus
  const FView<real8, 1>* p = nullptr;
  std::size_t nn = 0;
  real8* q = nullptr;          // q[g], g from 1: population prior
  real8* L = nullptr;          // n x n log likelihoods with the parent fixed
  int4* obs = nullptr;         // obs[2 j], obs[2 j + 1]; allele 1 <= 0 untyped
  int1* data = nullptr;        // data[j]: some offspring of joint parent j is typed
  int1* diploidoff = nullptr;  // diploidoff[j]: joint parent j has a diploid offspring
  int1* kept = nullptr;
  int4* gathered = nullptr;
  int4 key = 0;  // single-offspring cache key (0: no cache)
  bool exchangeable = false;
  bool joint_parents = false;  // the offspring posteriors come from the parents' joint posterior

  int4 joint(int4 s, int4 i) const { return variables.npstartloc1(s) + i; }
  int4 ng_of(int4 s) const { return variables.ploidy(s) == 1 ? n : ngd; }
  real8& Lat(int4 a, int4 b) const {
    return L[static_cast<std::size_t>(a - 1) * static_cast<std::size_t>(n) +
             static_cast<std::size_t>(b - 1)];
  }
  // Posterior of joint parent j: post(j)[g], g from 1.
  real8* post(int4 j) const {
    return likelihoodvar.infer_post.data() +
           static_cast<std::size_t>(j - 1) * static_cast<std::size_t>(ngd + 1);
  }
  real8* trans(int4 j) const {
    return likelihoodvar.infer_trans.data() +
           static_cast<std::size_t>(j - 1) * static_cast<std::size_t>(n);
  }
  bool is_gathered(int4 a, int4 ngath) const {
    for (int4 x = 0; x < ngath; ++x)
      if (gathered[x] == a) return true;
    return false;
  }

  void grow_scratch();
  void parent_observations();
  void single_offspring_key();
  void population_priors();
  real8 evaluate(int4 a, int4 b) const;
  void store_parent(int4 s, int4 i, const real8* w, int4 ng) const;
  void count_parent(int4 s, const real8* w, real8 weight) const;
  void untyped_offspring_posterior(int4 j, bool haploid, real8* w, int4 ng) const;
  void haploid_posterior(real8* w) const;
  int4 gather_alleles(int4 s, int4 i, int4 j, int4& r) const;
  void gathered_likelihoods(int4 ngath) const;
  void spread_to_ungathered(int4 ngath, int4 r) const;
  void diploid_posterior(int4 s, int4 i, int4 j, real8* w) const;
  void normalise_kept(real8* w, int4 ng) const;
  void parent_posteriors();
  void parent_transmissions() const;
  void put_child(int4 o, const real8* w, int4 ng, bool haploid) const;
  void put_exact(int4 o, int4 a, int4 b) const;
  int4 earlier_twin(const FView<int2, 1>& members, int4 m, int4 o, const int4 og[2]) const;
  void offspring_prior(int4 p1, int4 p2, bool haploid, bool selfed, real8* prior) const;
  void offspring_posterior(int4 o, const int4 og[2], bool haploid, const real8* prior) const;
  void offspring_family(int4 p1, int4 p2, real8* priord, real8* priorh);
  void lone_family_prior(const FView<int2, 1>& members, int4 nc, real8* prior) const;
  void offspring_posteriors();
};

// Grows the scratch to this locus and aims the views at it.
void Inference::grow_scratch() {
  Likelihoodvar& lv = likelihoodvar;
  fit(lv.infer_q, static_cast<std::size_t>(ngd) + 1);
  fit(lv.infer_logl, nn);
  fit(lv.infer_post, static_cast<std::size_t>(ngd + 1) * static_cast<std::size_t>(nall));
  fit(lv.infer_trans, static_cast<std::size_t>(n) * static_cast<std::size_t>(nall) + 1);
  fit(lv.infer_work, static_cast<std::size_t>(ngd) + 1);
  fit(lv.infer_child, static_cast<std::size_t>(ngd) + 1);
  fit(lv.infer_index, static_cast<std::size_t>(ngd) + 1);
  fit(lv.infer_alleles, static_cast<std::size_t>(n) + 2);
  fit(lv.infer_kept, static_cast<std::size_t>(ngd) + 1);
  fit(lv.infer_obs, 2 * static_cast<std::size_t>(nall) + 2);
  fit(lv.infer_data, static_cast<std::size_t>(nall) + 1);
  fit(lv.infer_diploidoff, static_cast<std::size_t>(nall) + 1);
  q = lv.infer_q.data();
  L = lv.infer_logl.data();
  obs = lv.infer_obs.data();
  data = lv.infer_data.data();
  diploidoff = lv.infer_diploidoff.data();
  kept = lv.infer_kept.data();
  gathered = lv.infer_alleles.data();
  for (int4 j = 1; j <= nall; ++j) {
    obs[2 * j] = obs[2 * j + 1] = 0;
    data[j] = 0;
    diploidoff[j] = 0;
  }
}

// The parents' observed genotypes (from the candidate assigned to, or known as, the parent of
// one of their offspring) and whether any of their offspring is typed.
void Inference::parent_observations() {
  const Variables& v = variables;
  const int4 k = v.obsnumallele(locus);
  for (int4 p1 = 1; p1 <= np1; ++p1) {
    for (int4 p2 = 1; p2 <= v.nparent(2); ++p2) {
      if (v.nchild(p1, p2) <= 0) continue;
      const FView<int2, 1> members = familystructure(p1, p2);
      const int4 j12[3] = {0, joint(1, p1), joint(2, p2)};
      for (int4 m = 1; m <= v.nchild(p1, p2); ++m) {
        const int4 o = members(m);
        const bool haploid = v.offploid(o) == 1;
        for (int4 s = 1; s <= 2; ++s) {
          const int4 j = j12[s];
          if (v.numcandidate(s) <= 0 || obs[2 * j] > 0) continue;
          if (s == 1 && haploid) continue;  // a son has no father
          int4 c = v.inferparentprt(o, s);
          if (c < 1) c = v.indivparent(o, s);
          if (c < 1) continue;
          setgetgtype.locusgtypeptr = v.cndgtype2(locus).a;
          int2 g = 0;
          getgtype(g, s == 1 ? c : v.numcandidate(1) + c, k);
          int4 al[2];
          decode(g, k, dominant, v.ploidy(s) == 1, al);
          if (al[0] <= 0) continue;
          obs[2 * j] = al[0];
          obs[2 * j + 1] = std::min(v.ploidy(s), 2 - (dominant ? 1 : 0)) >= 2 ? al[1] : 0;
        }
        int4 og[2];
        offspring_genotype(o, locus, og);
        if (!haploid) diploidoff[j12[1]] = 1;
        diploidoff[j12[2]] = 1;
        if (og[0] > 0) {
          // A son carries nothing of his mother's mate.
          if (!haploid) data[j12[1]] = 1;
          data[j12[2]] = 1;
        }
      }
    }
  }
  if (v.numsex == 1 && v.parentjdx.allocated()) {
    for (int4 i = 1; i <= np1; ++i) {
      const int4 i2 = v.parentjdx(i, 1);
      if (i2 <= 0) continue;
      const int4 a = joint(1, i), b = joint(2, i2);
      const int1 d = std::max(data[a], data[b]);
      data[a] = data[b] = d;
      if (obs[2 * a] <= 0) {
        obs[2 * a] = obs[2 * b];
        obs[2 * a + 1] = obs[2 * b + 1];
      } else if (obs[2 * b] <= 0) {
        obs[2 * b] = obs[2 * a];
        obs[2 * b + 1] = obs[2 * a + 1];
      }
    }
  }
}

// The single-offspring cache key: the offspring's genotype number when one diploid pair of
// untyped parents has one offspring at a two-allele locus (0, untyped, disables the cache).
void Inference::single_offspring_key() {
  const Variables& v = variables;
  key = 0;
  if (flag2 == 1 && np1 == 1 && v.nparent(2) == 1 && v.ploidy(1) == 2 && v.ploidy(2) == 2 &&
      obs[2 * joint(1, 1)] <= 0 && obs[2 * joint(2, 1)] <= 0 && v.nchild(1, 1) == 1 && n == 2 &&
      v.maxobsnumallele <= 2 && v.prntglogl.allocated()) {
    const int4 o = familystructure(1, 1)(1);
    setgetgtype.locusgtypeptr = v.indivgtype2(locus).a;
    int2 g = 0;
    getgtype(g, o, v.obsnumallele(locus));
    key = g;
  }
}

// The population priors (inbreeding F, no floor).
void Inference::population_priors() {
  const FView<real8, 1>& pf = *p;
  const real8 F = variables.inbreeding;
  for (int4 a = 1; a <= n; ++a) {
    for (int4 b = a; b <= n; ++b) {
      q[pair_number(a, b, n)] =
          a == b ? (F + (1.0 - F) * pf(a)) * pf(a) : 2.0 * (1.0 - F) * pf(a) * pf(b);
    }
  }
}

// The family log likelihood with the parent in hand fixed at genotype a/b.
real8 Inference::evaluate(int4 a, int4 b) const {
  Likelihoodvar& lv = likelihoodvar;
  lv.infergtype(1) = a;
  lv.infergtype(2) = b;
  ++lv.inferg2;
  real8 x = 1.0;
  familylocuslogl(locus, n, variables.genotypenum(n), x);
  return x;
}

// Stores the sorted posterior of parent i of sex s under its parent number.
void Inference::store_parent(int4 s, int4 i, const real8* w, int4 ng) const {
  Variables& v = variables;
  const int4 num = parent_number(s, i);
  if (num < 1) return;
  const bool haploid = v.ploidy(s) == 1;
  const int4 na = n;
  store_sorted(
      w, ng, likelihoodvar.infer_index.data(), likelihoodvar.infer_work.data(),
      [&](int4 g, int4& a, int4& b) {
        if (haploid) {
          a = g;
          b = 0;
          return;
        }
        diploid_alleles(g, na, a, b);
      },
      [&](int4 kk, real4 pr, int4 a, int4 b) {
        v.estprntgtypeprb(kk, num, s) = pr;
        v.estprntgtype(1, kk, num, s) = static_cast<int1>(a);
        v.estprntgtype(2, kk, num, s) = static_cast<int1>(b);
      });
}

// Adds weight times the kept posterior of a sex-s parent to the allele counts.
void Inference::count_parent(int4 s, const real8* w, real8 weight) const {
  if (variables.ploidy(s) == 1) {
    for (int4 a = 1; a <= n; ++a)
      if (kept[a]) allelecount[static_cast<std::size_t>(a - 1)] += weight * w[a];
    return;
  }
  for (int4 a = 1; a <= n; ++a) {
    for (int4 b = a; b <= n; ++b) {
      const int4 g = pair_number(a, b, n);
      if (!kept[g]) continue;
      allelecount[static_cast<std::size_t>(a - 1)] += weight * w[g];
      allelecount[static_cast<std::size_t>(b - 1)] += weight * w[g];
    }
  }
}

// A parent without a typed offspring: its own observation weighed by the prior, or the prior.
void Inference::untyped_offspring_posterior(int4 j, bool haploid, real8* w, int4 ng) const {
  const FView<real8, 1>& pf = *p;
  const int4 o1 = obs[2 * j], o2 = obs[2 * j + 1];
  const int4 ob[2] = {o1, dominant ? 0 : o2};
  for (int4 g = 1; g <= ng; ++g) w[g] = 0.0;
  if (o1 <= 0) {
    for (int4 g = 1; g <= ng; ++g) w[g] = haploid ? pf(g) : q[g];
  } else if (errorfree && !dominant) {
    w[haploid ? o1 : pair_number(o1, o2, n)] = 1.0;
  } else if (haploid) {
    for (int4 a = 1; a <= n; ++a) w[a] = prbgtophaploid(a, o1, locus) * pf(a);
  } else {
    for (int4 a = 1; a <= n; ++a)
      for (int4 b = a; b <= n; ++b) {
        const int4 g = pair_number(a, b, n);
        w[g] = prbgtop(a, b, ob, locus) * q[g];
      }
  }
}

// A haploid parent with a typed offspring: the family likelihood at each allele.
void Inference::haploid_posterior(real8* w) const {
  const FView<real8, 1>& pf = *p;
  real8 M = kImpossible;
  for (int4 a = 1; a <= n; ++a) {
    Lat(a, a) = evaluate(a, a);
    M = std::max(M, Lat(a, a));
  }
  for (int4 a = 1; a <= n; ++a) {
    const real8 x = Lat(a, a);
    w[a] = x > -1e250 && x > M - 100.0 ? std::exp(x - M) * pf(a) : 0.0;
  }
}

// The alleles the parent's families and its own observation show (both alleles of a dominant
// locus), plus one representative r of the alleles not shown; returns their number.
int4 Inference::gather_alleles(int4 s, int4 i, int4 j, int4& r) const {
  const Variables& v = variables;
  const Likelihoodvar& lv = likelihoodvar;
  int4 ngath = 0;
  r = 0;
  if (dominant) {
    gathered[ngath++] = 1;
    gathered[ngath++] = 2;
    return ngath;
  }
  auto gather = [&](int4 a) {
    if (a <= 0) return;
    for (int4 x = 0; x < ngath; ++x)
      if (gathered[x] == a) return;
    gathered[ngath++] = a;
  };
  auto gather_families = [&](int4 ss, int4 ii) {
    const int4 jj = joint(ss, ii);
    for (int4 m = 1; m <= lv.mate1(0, jj); ++m) {
      const int4 mate = lv.mate1(m, jj);
      const int4 p1 = ss == 1 ? ii : mate, p2 = ss == 1 ? mate : ii;
      const FView<int2, 1> members = familystructure(p1, p2);
      for (int4 x = 1; x <= v.nchild(p1, p2); ++x) {
        int4 og[2];
        offspring_genotype(members(x), locus, og);
        gather(og[0]);
        gather(og[1]);
      }
    }
  };
  gather_families(s, i);
  if (v.numsex == 1 && v.parentjdx.allocated() && v.parentjdx(i, s) > 0)
    gather_families(3 - s, v.parentjdx(i, s));
  gather(obs[2 * j]);
  gather(obs[2 * j + 1]);
  if (ngath < n) {
    for (int4 a = 1; a <= n && r == 0; ++a) {
      bool in = false;
      for (int4 x = 0; x < ngath; ++x) in = in || gathered[x] == a;
      if (!in) r = a;
    }
    gathered[ngath++] = r;
  }
  return ngath;
}

// The log likelihoods of the genotypes of gathered alleles, through the single-offspring cache
// where it holds them.
void Inference::gathered_likelihoods(int4 ngath) const {
  Variables& v = variables;
  const bool cached = key > 0 && v.prntglogl(gathered[0], gathered[0], key) <= 0.5;
  for (int4 x = 0; x < ngath; ++x) {
    for (int4 y = x; y < ngath; ++y) {
      const int4 a = gathered[x], b = gathered[y];
      real8 val = 0.0;
      if (cached) {
        val = v.prntglogl(a, b, key);
      } else {
        val = evaluate(a, b);
        if (key > 0) v.prntglogl(a, b, key) = v.prntglogl(b, a, key) = val;
      }
      Lat(a, b) = Lat(b, a) = val;
    }
  }
}

// The alleles not gathered take the log likelihoods of their representative r.
void Inference::spread_to_ungathered(int4 ngath, int4 r) const {
  bool possible = false;
  for (int4 x = 0; x < ngath; ++x) possible = possible || Lat(r, gathered[x]) > -1e250;
  if (!possible) return;
  int4 u = 0;
  for (int4 a = 1; a <= n && u == 0; ++a)
    if (!is_gathered(a, ngath)) u = a;
  // With one allele not gathered there is no second one to pair with r.
  const real8 lru = u > 0 ? evaluate(r, u) : kImpossible;
  const real8 lrr = Lat(r, r);
  for (int4 va = 1; va <= n; ++va) {
    if (is_gathered(va, ngath)) continue;
    for (int4 x = 0; x < ngath; ++x) {
      const int4 xa = gathered[x];
      if (xa == r) continue;
      Lat(xa, va) = Lat(va, xa) = Lat(xa, r);
    }
    Lat(r, va) = Lat(va, r) = lru;
    Lat(va, va) = lrr;
    for (int4 wa = va + 1; wa <= n; ++wa)
      if (!is_gathered(wa, ngath)) Lat(va, wa) = Lat(wa, va) = lru;
  }
}

// A diploid parent with a typed offspring: the family likelihood at each genotype of the
// gathered alleles, spread to the others, times the prior.
void Inference::diploid_posterior(int4 s, int4 i, int4 j, real8* w) const {
  for (std::size_t x = 0; x < nn; ++x) L[x] = kImpossible;
  int4 r = 0;
  const int4 ngath = gather_alleles(s, i, j, r);
  gathered_likelihoods(ngath);
  if (r > 0) spread_to_ungathered(ngath, r);
  real8 M = kImpossible;
  for (std::size_t x = 0; x < nn; ++x) M = std::max(M, L[x]);
  for (int4 a = 1; a <= n; ++a) {
    for (int4 b = a; b <= n; ++b) {
      const int4 g = pair_number(a, b, n);
      const real8 x = Lat(a, b);
      w[g] = x > -1e250 && x > M - 100.0 ? std::exp(x - M) * q[g] : 0.0;
    }
  }
}

// Normalisation over the kept genotypes.
void Inference::normalise_kept(real8* w, int4 ng) const {
  real8 top = 0.0;
  for (int4 g = 1; g <= ng; ++g) top = std::max(top, w[g]);
  real8 sum = 0.0;
  for (int4 g = 1; g <= ng; ++g) {
    kept[g] = w[g] > 1e-300 && w[g] >= 1e-20 * top ? 1 : 0;
    if (kept[g]) sum += w[g];
  }
  if (sum > 1e-300) {
    for (int4 g = 1; g <= ng; ++g)
      if (kept[g]) w[g] = std::max(w[g] / sum, kFloor);
  }
}

// Each parent's posterior, sex 1 then sex 2, stored and counted as the flags ask.
void Inference::parent_posteriors() {
  const Variables& v = variables;
  Likelihoodvar& lv = likelihoodvar;
  for (int4 s = 1; s <= 2; ++s) {
    const bool haploid = v.ploidy(s) == 1;
    const int4 ng = ng_of(s);
    for (int4 i = 1; i <= v.nparent(s); ++i) {
      const int4 j = joint(s, i);
      real8* const w = post(j);
      if (s == 2 && exchangeable) {
        const real8* wf = post(joint(1, 1));
        for (int4 g = 1; g <= ng; ++g) w[g] = wf[g];
        if (prntflag != 0) store_parent(s, i, w, ng);
        continue;
      }
      lv.infergtypesex = s;
      lv.infergtypeprnt = i;
      if (data[j] == 0)
        untyped_offspring_posterior(j, haploid, w, ng);
      else if (n == 1)
        w[1] = 1.0;
      else if (haploid)
        haploid_posterior(w);
      else
        diploid_posterior(s, i, j, w);
      normalise_kept(w, ng);
      if (prntflag != 0) store_parent(s, i, w, ng);
      if (countflag != 0) {
        const bool counted_elsewhere =
            (s == 1 && diploidoff[j] == 0 && v.haplodiploid == 1) ||
            (s == 2 && v.numsex == 1 && v.parentjdx.allocated() && v.parentjdx(i, 2) > 0);
        if (!counted_elsewhere) count_parent(s, w, s == 1 && exchangeable ? 2.0 : 1.0);
      }
    }
  }
}

// Allele transmission of each parent.
void Inference::parent_transmissions() const {
  const Variables& v = variables;
  for (int4 s = 1; s <= 2; ++s) {
    for (int4 i = 1; i <= v.nparent(s); ++i) {
      const int4 j = joint(s, i);
      const real8* w = post(j);
      real8* t = trans(j);
      auto val = [](real8 x) { return x > 1e-300 ? x : 0.0; };
      if (v.ploidy(s) == 1) {
        for (int4 a = 1; a <= n; ++a) t[a - 1] = val(w[a]);
        continue;
      }
      for (int4 a = 1; a <= n; ++a) t[a - 1] = 0.0;
      for (int4 a = 1; a <= n; ++a) {
        for (int4 b = a; b <= n; ++b) {
          const real8 x = val(w[pair_number(a, b, n)]);
          if (a == b) {
            t[a - 1] += x;
          } else {
            t[a - 1] += 0.5 * x;
            t[b - 1] += 0.5 * x;
          }
        }
      }
    }
  }
}

// Stores the sorted posterior of offspring o.
void Inference::put_child(int4 o, const real8* w, int4 ng, bool haploid) const {
  Variables& v = variables;
  const int4 na = n;
  store_sorted(
      w, ng, likelihoodvar.infer_index.data(), likelihoodvar.infer_work.data(),
      [&](int4 g, int4& a, int4& b) {
        if (haploid) {
          a = b = g;
          return;
        }
        diploid_alleles(g, na, a, b);
      },
      [&](int4 kk, real4 pr, int4 a, int4 b) {
        v.estchildgtypeprb(kk, o) = pr;
        v.estchildgtype(1, kk, o) = static_cast<int1>(a);
        v.estchildgtype(2, kk, o) = static_cast<int1>(b);
      });
}

// Offspring o's genotype is a/b for certain (0/0: unknown at a one-allele locus).
void Inference::put_exact(int4 o, int4 a, int4 b) const {
  Variables& v = variables;
  for (int4 kk = 1; kk <= v.numestgenotype; ++kk) {
    v.estchildgtypeprb(kk, o) = kk == 1 && a > 0 ? 1.0f : 0.0f;
    v.estchildgtype(1, kk, o) = static_cast<int1>(kk == 1 ? a : 0);
    v.estchildgtype(2, kk, o) = static_cast<int1>(kk == 1 ? b : 0);
  }
}

// An earlier member of the family with the same ploidy, data and parents as offspring o, whose
// result o shares (0: none).
int4 Inference::earlier_twin(const FView<int2, 1>& members, int4 m, int4 o,
                             const int4 og[2]) const {
  const Variables& v = variables;
  int4 same = 0;
  for (int4 e = 1; e < m && same == 0; ++e) {
    const int4 oe = members(e);
    if (v.offploid(oe) != v.offploid(o)) continue;
    int4 ge[2];
    offspring_genotype(oe, locus, ge);
    if (ge[0] != og[0] || ge[1] != og[1]) continue;
    bool eq = true;
    for (int4 s = 1; s <= 2; ++s)
      eq = eq && v.indivparent(oe, s) == v.indivparent(o, s) &&
           v.inferparent(oe, s) == v.inferparent(o, s);
    if (eq) same = oe;
  }
  return same;
}

// The genotype prior of the offspring of family (p1, p2) of one ploidy: the mother's
// transmission for a son, the selfed parent's segregation, or the two transmissions combined.
void Inference::offspring_prior(int4 p1, int4 p2, bool haploid, bool selfed,
                                real8* prior) const {
  if (haploid) {
    const real8* t = trans(joint(2, p2));
    for (int4 a = 1; a <= n; ++a) prior[a] = t[a - 1] >= 1e-10 ? t[a - 1] : 0.0;
  } else if (selfed) {
    const real8* w = post(joint(1, p1));
    for (int4 g = 1; g <= ngd; ++g) prior[g] = 0.0;
    for (int4 a = 1; a <= n; ++a) {
      for (int4 b = a; b <= n; ++b) {
        const real8 x = w[pair_number(a, b, n)];
        if (!(x >= 1e-10)) continue;
        if (a == b) {
          prior[pair_number(a, a, n)] += x;
        } else {
          prior[pair_number(a, b, n)] += 0.5 * x;
          prior[pair_number(a, a, n)] += 0.25 * x;
          prior[pair_number(b, b, n)] += 0.25 * x;
        }
      }
    }
  } else {
    const real8* t1 = trans(joint(1, p1));
    const real8* t2 = trans(joint(2, p2));
    auto tv = [](const real8* t, int4 a) { return t[a - 1] >= 1e-10 ? t[a - 1] : 0.0; };
    for (int4 a = 1; a <= n; ++a) {
      for (int4 b = a; b <= n; ++b) {
        prior[pair_number(a, b, n)] =
            a == b ? tv(t1, a) * tv(t2, a) : tv(t1, a) * tv(t2, b) + tv(t1, b) * tv(t2, a);
      }
    }
  }
}

// Offspring o's posterior: the family prior times its own observation, normalised and stored.
void Inference::offspring_posterior(int4 o, const int4 og[2], bool haploid,
                                    const real8* prior) const {
  real8* const cpost = likelihoodvar.infer_child.data();
  const int4 ng = haploid ? n : ngd;
  const int4 ob[2] = {og[0], dominant ? 0 : og[1]};
  real8 sum = 0.0;
  for (int4 a = 1; a <= n; ++a) {
    if (haploid) {
      cpost[a] = prior[a] * (og[0] > 0 ? prbgtophaploid(a, og[0], locus) : 1.0);
      sum += cpost[a];
      continue;
    }
    for (int4 b = a; b <= n; ++b) {
      const int4 g = pair_number(a, b, n);
      cpost[g] = prior[g] * (og[0] > 0 ? prbgtop(a, b, ob, locus) : 1.0);
      sum += cpost[g];
    }
  }
  if (sum > 1e-30)
    for (int4 g = 1; g <= ng; ++g) cpost[g] /= sum;
  put_child(o, cpost, ng, haploid);
}

// The genotype prior of the offspring of a lone full-sib family whose two parents show nothing
// themselves, from the parents' joint posterior: for father genotype x and mother genotype y of
// the support (the genotypes of posterior at least 1e-10 of the father, and so of the mother,
// his mirror image), the weight q(x) q(y) times every offspring's chance of its observation
// given x and y, normalised over the pairs; the prior of genotype g is the sum of the pairs'
// weights times the chance that x and y give g. The parents' marginal posteriors are mirror
// images there (either may carry either of the two genotypes), so combining their marginal
// transmissions as if independent would give genotypes no pair of them can have.
void Inference::lone_family_prior(const FView<int2, 1>& members, int4 nc, real8* prior) const {
  Likelihoodvar& lv = likelihoodvar;
  const real8* w = post(joint(1, 1));
  lv.infer_support.clear();
  for (int4 g = 1; g <= ngd; ++g)
    if (w[g] >= 1e-10) lv.infer_support.push_back(g);
  const std::size_t ns = lv.infer_support.size();
  const std::size_t stride = static_cast<std::size_t>(ngd) + 1;
  fit(lv.infer_pairlogl, ns * ns);
  fit(lv.infer_obsprob, stride * static_cast<std::size_t>(nc));
  for (int4 m = 1; m <= nc; ++m) {
    real8* pr = lv.infer_obsprob.data() + static_cast<std::size_t>(m - 1) * stride;
    int4 og[2];
    offspring_genotype(members(m), locus, og);
    const int4 ob[2] = {og[0], dominant ? 0 : og[1]};
    for (int4 a = 1; a <= n; ++a)
      for (int4 b = a; b <= n; ++b)
        pr[pair_number(a, b, n)] = og[0] > 0 ? prbgtop(a, b, ob, locus) : 1.0;
  }
  // The four equally likely offspring genotypes of parents x = (a1, a2) and y = (c1, c2).
  auto children = [this](const int4 a[2], const int4 c[2], int4 kids[4]) {
    for (int4 u = 0; u < 2; ++u)
      for (int4 k = 0; k < 2; ++k)
        kids[2 * u + k] = pair_number(std::min(a[u], c[k]), std::max(a[u], c[k]), n);
  };
  real8 top = kImpossible;
  for (std::size_t x = 0; x < ns; ++x) {
    int4 a[2], c[2], kids[4];
    diploid_alleles(lv.infer_support[x], n, a[0], a[1]);
    for (std::size_t y = 0; y < ns; ++y) {
      diploid_alleles(lv.infer_support[y], n, c[0], c[1]);
      children(a, c, kids);
      real8 lj = std::log(q[lv.infer_support[x]]) + std::log(q[lv.infer_support[y]]);
      for (int4 m = 1; m <= nc && lj > kImpossible; ++m) {
        const real8* pr = lv.infer_obsprob.data() + static_cast<std::size_t>(m - 1) * stride;
        real8 t = 0.0;
        for (int4 g : kids) t += 0.25 * pr[g];
        lj = t > 0.0 ? lj + std::log(t) : kImpossible;
      }
      lv.infer_pairlogl[x * ns + y] = lj;
      top = std::max(top, lj);
    }
  }
  for (int4 g = 1; g <= ngd; ++g) prior[g] = 0.0;
  for (std::size_t x = 0; x < ns; ++x) {
    int4 a[2], c[2], kids[4];
    diploid_alleles(lv.infer_support[x], n, a[0], a[1]);
    for (std::size_t y = 0; y < ns; ++y) {
      const real8 lj = lv.infer_pairlogl[x * ns + y];
      if (!(lj > kImpossible)) continue;
      diploid_alleles(lv.infer_support[y], n, c[0], c[1]);
      children(a, c, kids);
      const real8 wt = 0.25 * std::exp(lj - top);
      for (int4 g : kids) prior[g] += wt;
    }
  }
  real8 sum = 0.0;
  for (int4 g = 1; g <= ngd; ++g) sum += prior[g];
  if (sum > 0.0)
    for (int4 g = 1; g <= ngd; ++g) prior[g] /= sum;
}

// The offspring of family (p1, p2); the prior of each ploidy is made once per family.
void Inference::offspring_family(int4 p1, int4 p2, real8* priord, real8* priorh) {
  Variables& v = variables;
  const int4 nc = v.nchild(p1, p2);
  const FView<int2, 1> members = familystructure(p1, p2);
  const bool selfed = v.numsex == 1 && v.parentjdx.allocated() && v.parentjdx(p1, 1) == p2;
  bool made_d = false, made_h = false;
  for (int4 m = 1; m <= nc; ++m) {
    const int4 o = members(m);
    const bool haploid = v.offploid(o) == 1;
    int4 og[2];
    offspring_genotype(o, locus, og);
    if (n == 1) {
      put_exact(o, og[0] > 0 ? 1 : 0, og[0] > 0 ? 1 : 0);
      continue;
    }
    const int4 same = earlier_twin(members, m, o, og);
    if (same > 0) {
      for (int4 kk = 1; kk <= v.numestgenotype; ++kk) {
        v.estchildgtypeprb(kk, o) = v.estchildgtypeprb(kk, same);
        v.estchildgtype(1, kk, o) = v.estchildgtype(1, kk, same);
        v.estchildgtype(2, kk, o) = v.estchildgtype(2, kk, same);
      }
      continue;
    }
    if (og[0] > 0 && errorfree && !dominant) {
      if (haploid)
        put_exact(o, og[0], og[0]);
      else
        put_exact(o, std::min(og[0], og[1]), std::max(og[0], og[1]));
      continue;
    }
    real8* const prior = haploid ? priorh : priord;
    bool& made = haploid ? made_h : made_d;
    if (!made) {
      made = true;
      if (joint_parents)
        lone_family_prior(members, nc, prior);
      else
        offspring_prior(p1, p2, haploid, selfed, prior);
    }
    offspring_posterior(o, og, haploid, prior);
  }
}

// The offspring, family by family.
void Inference::offspring_posteriors() {
  Likelihoodvar& lv = likelihoodvar;
  fit(lv.infer_prior, static_cast<std::size_t>(ngd + n) + 2);
  real8* const priord = lv.infer_prior.data();            // diploid offspring, from 1
  real8* const priorh = lv.infer_prior.data() + ngd + 1;  // haploid offspring, from 1
  for (int4 p1 = 1; p1 <= np1; ++p1)
    for (int4 p2 = 1; p2 <= variables.nparent(2); ++p2)
      if (variables.nchild(p1, p2) > 0) offspring_family(p1, p2, priord, priorh);
}

}  // namespace

void genotypeinference(int4 locus, int4 countflag, int4 prntflag, std::span<real8> allelecount,
                       int4 numallele, int4 flag2) {
  const Variables& v = variables;
  Inference c;
  c.locus = locus;
  c.countflag = countflag;
  c.prntflag = prntflag;
  c.flag2 = flag2;
  c.allelecount = allelecount;
  c.n = numallele;
  c.np1 = v.nparent(1);
  c.nall = v.nallparent;
  c.dominant = v.dominantmarker(locus) != 0;
  c.errorfree = v.locuserror(locus) == 0;
  c.selfing = v.numsex == v.allowinbreeding;
  c.ngd = v.genotypenum(std::max(c.n, 1));
  c.p = &v.obsallelefre(locus).a;
  c.nn = static_cast<std::size_t>(c.n) * static_cast<std::size_t>(c.n);

  if (countflag != 0)
    for (int4 a = 0; a < c.n; ++a) allelecount[static_cast<std::size_t>(a)] = 0.0;
  likelihoodvar.inferg2 = -1;
  c.grow_scratch();
  c.parent_observations();
  c.single_offspring_key();
  c.population_priors();
  // The father's and the mother's results are interchangeable in one full-sib family of a
  // diploid species without selfing when they show the same alleles.
  c.exchangeable = c.np1 == 1 && v.nparent(2) == 1 && v.ploidy(1) == 2 && v.ploidy(2) == 2 &&
                   !c.selfing && v.haplodiploid == 0 &&
                   c.obs[2 * c.joint(1, 1)] == c.obs[2 * c.joint(2, 1)] &&
                   c.obs[2 * c.joint(1, 1) + 1] == c.obs[2 * c.joint(2, 1) + 1];
  // Parents that show nothing of their own are told apart only through their offspring; the
  // offspring then need the pairs of parental genotypes, not each parent's alone.
  c.joint_parents = c.exchangeable && c.obs[2 * c.joint(1, 1)] <= 0 && c.data[c.joint(1, 1)] != 0;
  c.parent_posteriors();
  if (prntflag == 0) return;
  c.parent_transmissions();
  c.offspring_posteriors();
}

}  // namespace kinrad
