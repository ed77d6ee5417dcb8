#pragma once
// Module state for the genotype-model tests: loci with their frequencies and error rates, the
// genotype numbering, the observation tables and packed genotype columns, set up directly as
// the data preparation and the per-locus set-up would leave them.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "core/modules.hpp"
#include "core/modules/variables.hpp"
#include "core/packed_genotypes.hpp"
#include "model/model.hpp"
#include "model/phenotype_tables_internal.hpp"
#include "support/module_reset.hpp"

namespace kinrad::test {

struct LocusSpec {
  int4 k = 2;
  bool dominant = false;
  real8 d = 0.0;
  real8 e = 0.0;
  std::vector<real8> p{};  // k frequencies
};

using Genotype = std::pair<int, int>;  // (0, 0) missing; (a, 0) a haploid or a phenotype

inline void setup_loci(const std::vector<LocusSpec>& loci) {
  Variables& v = variables;
  const int4 n = static_cast<int4>(loci.size());
  v.numloci = n;
  v.obsnumallele.allocate(Dim(n));
  v.dominantmarker.allocate(Dim(n));
  v.droprate.allocate(Dim(n));
  v.othererrorrate.allocate(Dim(n));
  v.locuserror.allocate(Dim(n));
  v.obsallelefre.allocate(Dim(n));
  v.locus2loc.allocate(Dim(n));
  index_t total = 0;
  int4 m = 0;
  int4 n2 = 0;
  for (const LocusSpec& s : loci) {
    total += s.k > 2 ? s.k : 2;
    if (s.k > m) m = s.k;
    if (s.k == 2) ++n2;
  }
  v.obsallelefretgt.allocate(Dim(total));
  v.locus2.allocate(Dim(0, n2));
  v.locus2(0) = n2;
  index_t first = 1;
  int4 pos = 0;
  for (int4 l = 1; l <= n; ++l) {
    const LocusSpec& s = loci[static_cast<std::size_t>(l - 1)];
    v.obsnumallele(l) = s.k;
    v.dominantmarker(l) = s.dominant ? 1 : 0;
    v.droprate(l) = s.d;
    v.othererrorrate(l) = s.e;
    v.locuserror(l) = (s.d < 1e-10 && s.e < 1e-10) ? 0 : 1;
    const index_t w = s.k > 2 ? s.k : 2;
    v.obsallelefre(l).a = window(v.obsallelefretgt, first, w);
    for (std::size_t a = 0; a < s.p.size(); ++a)
      v.obsallelefre(l).a(static_cast<index_t>(a + 1)) = s.p[a];
    first += w;
    if (s.k == 2) {
      v.locus2(++pos) = l;
      v.locus2loc(l) = pos;
    }
  }
  // Genotype numbering: homozygotes a/a are 1..m, then the heterozygotes 1/2, 1/3, ...
  v.maxobsnumallele = m;
  v.maxnumgenotype = m * (m + 1) / 2;
  v.genotypeid.allocate(Dim(2), Dim(0, v.maxnumgenotype));
  v.genotypeid2.allocate(Dim(0, m), Dim(0, m));
  int4 g = 0;
  for (int4 a = 1; a <= m; ++a) {
    ++g;
    v.genotypeid(1, g) = static_cast<int1>(a);
    v.genotypeid(2, g) = static_cast<int1>(a);
    v.genotypeid2(a, a) = static_cast<int2>(g);
    v.genotypeid2(a, 0) = static_cast<int2>(a);
    v.genotypeid2(0, a) = static_cast<int2>(-a);
  }
  for (int4 a = 1; a <= m; ++a) {
    for (int4 b = a + 1; b <= m; ++b) {
      ++g;
      v.genotypeid(1, g) = static_cast<int1>(a);
      v.genotypeid(2, g) = static_cast<int1>(b);
      v.genotypeid2(a, b) = static_cast<int2>(g);
      v.genotypeid2(b, a) = static_cast<int2>(g);
    }
  }
  if (m >= 3) {
    v.l23g(1) = 3;
    v.l23g(2) = static_cast<int2>(m + 1);
  }
  if (n2 > 0) {
    v.locus2logl.allocate(Dim(3), Dim(n2));
    v.locus2logl.fill(1.0);
  }
  if (v.haplodiploid == 1) v.transratehaploid.allocate(Dim(2), Dim(n));
  allocate_transrate_per_locus();
  phenotypegivengenotype(1, n);
}

// Packs genotypes[locus - 1][individual - 1] into the columns of store (offspring or
// candidates).
inline void pack(FArray<I2bdim1, 1>& columns, FArray<int2, 1>& store,
                 const std::vector<std::vector<Genotype>>& genotypes) {
  Variables& v = variables;
  const int4 n = v.numloci;
  const index_t people = genotypes.empty() ? 0 : static_cast<index_t>(genotypes[0].size());
  index_t total = 0;
  for (int4 l = 1; l <= n; ++l) total += packed_column_words(people, v.obsnumallele(l));
  columns.allocate(Dim(n));
  store.allocate(Dim(total > 0 ? total : 1));
  index_t first = 1;
  for (int4 l = 1; l <= n; ++l) {
    const index_t w = packed_column_words(people, v.obsnumallele(l));
    columns(l).a = window(store, first, w);
    first += w;
    setgetgtype.locusgtypeptr = columns(l).a;
    for (index_t i = 1; i <= people; ++i) {
      const Genotype& gt =
          genotypes[static_cast<std::size_t>(l - 1)][static_cast<std::size_t>(i - 1)];
      const int1 alleles[2] = {static_cast<int1>(gt.first), static_cast<int1>(gt.second)};
      setgtype(alleles, static_cast<int4>(i), v.obsnumallele(l));
    }
  }
}

class ModelTest : public testing_support::ModuleReset {};

}  // namespace kinrad::test
