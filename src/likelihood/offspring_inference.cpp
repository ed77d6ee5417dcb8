// Posterior genotypes of the offspring of the family in hand at one locus: the parents'
// allele transmissions give each offspring's genotype prior, weighed by its own observation; in
// a lone full-sib family whose two parents show nothing themselves, whose posteriors are mirror
// images, the prior comes from the parents' joint posterior instead.
#include "likelihood/genotype_inference_internal.hpp"

namespace kinrad::inference_detail {

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
void Inference::offspring_prior(int4 p1, int4 p2, bool haploid, bool selfed, real8* prior) const {
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

}  // namespace kinrad::inference_detail
