// Posterior genotypes of the parents and offspring of the family in hand at one locus, and the
// posterior allele counts of its parents.
//
// Each parent in turn: without a typed offspring its posterior is its own observation (or the
// population prior) alone; otherwise the family likelihood is evaluated with the parent fixed at
// each genotype built from the alleles its families show (the alleles nobody shows share one
// representative), weighed by the prior and normalised over the genotypes kept. The parents'
// allele transmissions then give each offspring's genotype prior, weighed by its own observation;
// in a lone full-sib family whose two parents show nothing themselves, whose posteriors are
// mirror images, the offspring's prior comes from the parents' joint posterior instead. The
// offspring's side lives in offspring_inference.cpp.
#include <algorithm>
#include <cmath>

#include "core/genotype_number.hpp"
#include "core/modules/likelihoodvar.hpp"
#include "core/modules/setgetgtype.hpp"
#include "core/modules/variables.hpp"
#include "core/packed_genotypes.hpp"
#include "core/sorting.hpp"
#include "likelihood/genotype_inference_internal.hpp"
#include "likelihood/likelihood.hpp"
#include "model/model.hpp"

namespace kinrad {

namespace inference_detail {

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

}  // namespace inference_detail

using inference_detail::Inference;

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
