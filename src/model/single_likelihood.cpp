
#include <algorithm>
#include <cmath>
#include <vector>

#include "core/modules.hpp"
#include "core/modules/variables.hpp"
#include "core/packed_genotypes.hpp"
#include "model/model.hpp"
#include "model/phenotype_tables_internal.hpp"

namespace kinrad {

namespace {

// The diploid probability from the allele frequencies p and the observation table t.
real8 diploid_probability(real8 F, int4 locus, const int4 g[2]) {
  const Variables& v = variables;
  const FView<real8, 1>& p = v.obsallelefre(locus).a;
  const FView<real8, 1>& t = v.transrate(locus).a;
  const bool errors = v.locuserror(locus) != 0;
  if (v.dominantmarker(locus) != 0) {
    const real8 p1 = p(1);
    const real8 p2 = p(2);
    const real8 p11 = ((1.0 - F) * p1 + F) * p1;
    const real8 p12 = (2.0 - 2.0 * F) * p1 * p2;
    const real8 p22 = ((1.0 - F) * p2 + F) * p2;
    if (g[0] == 1) {
      real8 prob = p11 * t(1) + p12 * t(2);
      if (errors) prob += p22 * t(3);
      return prob;
    }
    real8 prob = p22 * (1.0 - t(3));
    if (errors) prob += p12 * (1.0 - t(2)) + p11 * (1.0 - t(1));
    return prob;
  }
  const real8 pa = p(g[0]);
  if (g[0] != g[1]) {
    const real8 pb = p(g[1]);
    real8 prob = (2.0 - 2.0 * F) * pa * pb * t(1);
    if (errors) {
      const real8 q = 1.0 - pa - pb;  // the alleles outside the observed pair
      prob += ((pa * pa + pb * pb) * (1.0 - F) + F * (pa + pb)) * t(6);
      prob += 2.0 * q * (1.0 - q) * (1.0 - F) * t(3);
      prob += ((1.0 - F) * q + F) * q * t(7);
    }
    return prob;
  }
  real8 prob = ((1.0 - F) * pa + F) * pa * t(5);
  if (errors) {
    prob += (2.0 - 2.0 * F) * pa * (1.0 - pa) * t(2);
    prob += ((1.0 - F) * (1.0 - pa) + F) * (1.0 - pa) * t(4);
  }
  return prob;
}

// The entry of locus2logl that records this diploid observation at a two-allele locus, or
// nullptr when the locus has none. Entries are reused only while the frequencies, F and the
// observation tables they were computed from are unchanged; otherwise the position starts
// afresh with every entry at 1.0 (not yet computed).
real8* memo_entry(real8 F, int4 locus, const int4 g[2]) {
  Variables& v = variables;
  if (!v.locus2logl.allocated() || !v.locus2loc.allocated()) return nullptr;
  const int4 pos = v.locus2loc(locus);
  if (pos < 1 || pos > v.locus2logl.ubound(2) || v.locus2logl.size(1) < 3) return nullptr;
  const int4 code = (g[1] < 1 || g[1] == g[0]) ? g[0] : 3;
  if (code < 1 || code > 3) return nullptr;
  if (!v.locus2logl_key.allocated() || v.locus2logl_key.ubound(2) != v.locus2logl.ubound(2)) {
    v.locus2logl_key.allocate(Dim(4), Dim(v.locus2logl.ubound(2)));
  }
  const FView<real8, 1>& p = v.obsallelefre(locus).a;
  const real8 version = static_cast<real8>(transrate_version());
  real8* key = &v.locus2logl_key(1, pos);
  if (key[0] != p(1) || key[1] != p(2) || key[2] != F || key[3] != version || version == 0.0) {
    key[0] = p(1);
    key[1] = p(2);
    key[2] = F;
    key[3] = version;
    for (int4 c = 1; c <= 3; ++c) v.locus2logl(c, pos) = 1.0;
  }
  return &v.locus2logl(code, pos);
}

}  // namespace

void probsinglegtype(real8 F, int4 ploidy, int4 locus, const int4 g[2], real8& prob) {
  const Variables& v = variables;
  if (v.obsnumallele(locus) <= 1 || g[0] < 1) {
    prob = 1.0;
    return;
  }
  if (ploidy != 2) {
    const real8 pa = v.obsallelefre(locus).a(g[0]);
    prob = pa * v.transratehaploid(1, locus) + (1.0 - pa) * v.transratehaploid(2, locus);
    return;
  }
  real8* entry = v.obsnumallele(locus) == 2 ? memo_entry(F, locus, g) : nullptr;
  if (entry != nullptr && *entry < 1.0) {
    prob = *entry;
    return;
  }
  prob = diploid_probability(F, locus, g);
  if (entry != nullptr) *entry = prob;
}

void singleindivlikelihood(real8 F, int4 n, int4 kind, std::span<real8> logl) {
  const Variables& v = variables;
  const real8 f = F > 0.0 ? F : 0.0;
  for (int4 i = 0; i < n; ++i) logl[static_cast<std::size_t>(i)] = 0.0;
  if (n < 1) return;
  // Memo of the log probability per genotype number (diploid) and per allele (haploid) at the
  // current locus: 1.0 marks a value not yet computed, since a log probability is never
  // positive. The cost per locus follows the number of distinct genotypes, not individuals.
  std::vector<real8>& memo2 = variables.single_memo2;
  std::vector<real8>& memo1 = variables.single_memo1;
  memo2.resize(static_cast<std::size_t>(v.maxnumgenotype) + 1);
  memo1.resize(static_cast<std::size_t>(v.maxobsnumallele) + 1);
  const bool candidates = kind != 0;
  const index_t offset = kind == 2 ? v.numcandidate(1) : 0;
  // Candidate fathers of a haplodiploid species are haploid; offspring are haploid only where
  // the sample holds haploid offspring.
  const bool haploid_kind = candidates && kind == 1 && v.haplodiploid == 1;
  const bool offspring_ploidy = !candidates && v.haplodiploid == 1 && v.smplsizedh(1) != 0;
  for (int4 l = 1; l <= v.numloci; ++l) {
    const int4 k = v.obsnumallele(l);
    if (k <= 1) continue;
    std::fill(memo2.begin(), memo2.end(), 1.0);
    std::fill(memo1.begin(), memo1.end(), 1.0);
    setgetgtype.locusgtypeptr = candidates ? v.cndgtype2(l).a : v.indivgtype2(l).a;
    for (int4 i = 1; i <= n; ++i) {
      int2 g = 0;
      getgtype(g, static_cast<int4>(offset + i), k);
      if (g < 1) continue;
      int4 ploidy = 2;
      if (haploid_kind) ploidy = 1;
      if (offspring_ploidy) ploidy = v.offploid(i);
      real8& m = ploidy == 2 ? memo2[static_cast<std::size_t>(g)]
                             : memo1[static_cast<std::size_t>(v.genotypeid(1, g))];
      if (m > 0.0) {
        const int4 alleles[2] = {v.genotypeid(1, g), v.genotypeid(2, g)};
        real8 prob = 0.0;
        probsinglegtype(f, ploidy, l, alleles, prob);
        m = prob <= 1e-300 ? -1e300 : std::log(prob);
      }
      logl[static_cast<std::size_t>(i - 1)] += m;
    }
  }
}

void singleparentlikelihood(real8 F) {
  Variables& v = variables;
  const real8 f = F > 0.0 ? F : 0.0;
  const int4 most = v.numcandidate(1) > v.numcandidate(2) ? v.numcandidate(1) : v.numcandidate(2);
  if (most < 1) return;
  if (!v.candidatelogl.allocated() || v.candidatelogl.ubound(1) < most ||
      v.candidatelogl.ubound(2) < 2) {
    v.candidatelogl.allocate(Dim(most), Dim(2));
  }
  for (int4 s = 1; s <= 2; ++s) {
    const int4 n = v.numcandidate(s);
    if (n < 1) continue;
    std::span<real8> column(&v.candidatelogl(1, s), static_cast<std::size_t>(n));
    singleindivlikelihood(f, n, s, column);
    real8 sum = 0.0;
    for (real8 x : column) sum += x;
    v.sumcndlogl(s) = sum;
  }
}

}  // namespace kinrad
