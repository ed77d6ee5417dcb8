// The frequency windows of every locus and the genotype numbering tables, built once the
// alleles of all loci are counted and ordered.
#include <algorithm>
#include <vector>

#include "core/modules/variables.hpp"
#include "input/data_process_steps_internal.hpp"

namespace kinrad {

void store_frequencies(const std::vector<std::vector<real8>>& freq) {
  const int4 nloci = variables.numloci;
  const int4 m = variables.maxobsnumallele;
  variables.maxnumgenotype = m * (m + 1) / 2;
  variables.obsallelefre0.allocate(m, nloci);
  variables.obsallelefre.allocate(nloci);
  index_t total = 0;
  for (int4 l = 1; l <= nloci; ++l) total += std::max(variables.obsnumallele(l), 2);
  variables.obsallelefretgt.allocate(total);
  index_t first = 1;
  for (int4 l = 1; l <= nloci; ++l) {
    const int4 k = variables.obsnumallele(l);
    const index_t len = std::max(k, 2);
    FView<real8, 1> w = window(variables.obsallelefretgt, first, len);
    variables.obsallelefre(l).a = w;
    first += len;
    const std::vector<real8>& f = freq[static_cast<std::size_t>(l)];
    for (int4 a = 1; a <= k; ++a) {
      variables.obsallelefre0(a, l) = f[static_cast<std::size_t>(a)];
      w(a) = f[static_cast<std::size_t>(a)];
    }
    if (k == 0) {
      w(1) = f[1];
      w(2) = f[2];
    }
    if (variables.dominantmarker(l) == 1 && k == 1 && m >= 2) {
      variables.obsallelefre0(2, l) = 1.0 - f[1];
      w(2) = 1.0 - f[1];
    }
  }
}

void build_genotype_tables() {
  const int4 nloci = variables.numloci;
  const int4 m = variables.maxobsnumallele;
  const int4 ng = variables.maxnumgenotype;
  variables.idxgtype.allocate(ng);
  for (int4 g = 1; g <= ng; ++g) variables.idxgtype(g) = variables.haplodiploid == 1 ? 1 : g;
  variables.numloci0 = 0;
  int4 twoallele = 0;
  for (int4 l = 1; l <= nloci; ++l) {
    if (variables.obsnumallele(l) == 0) ++variables.numloci0;
    if (variables.obsnumallele(l) == 2) ++twoallele;
  }
  variables.rawalleleid.deallocate();
  variables.rawallelenum.deallocate();
  if (twoallele > 0) variables.locus2logl.allocate(3, twoallele);
  if (m >= 3) {
    variables.l23g(1) = 3;
    variables.l23g(2) = static_cast<int2>(m + 1);
  } else {
    variables.l23g(1) = 0;
    variables.l23g(2) = 0;
  }
  // Homozygotes a/a carry number a; the heterozygotes follow in the order 1/2, 1/3, ..., m-1/m.
  variables.genotypeid.allocate(Dim(1, 2), Dim(0, ng));
  variables.genotypeid2.allocate(Dim(0, m), Dim(0, m));
  for (int4 a = 1; a <= m; ++a) {
    variables.genotypeid(1, a) = static_cast<int1>(a);
    variables.genotypeid(2, a) = static_cast<int1>(a);
    variables.genotypeid2(a, a) = static_cast<int2>(a);
    variables.genotypeid2(a, 0) = static_cast<int2>(a);
    variables.genotypeid2(0, a) = static_cast<int2>(-a);
  }
  int4 g = m;
  for (int4 a = 1; a < m; ++a)
    for (int4 b = a + 1; b <= m; ++b) {
      ++g;
      variables.genotypeid(1, g) = static_cast<int1>(a);
      variables.genotypeid(2, g) = static_cast<int1>(b);
      variables.genotypeid2(a, b) = static_cast<int2>(g);
      variables.genotypeid2(b, a) = static_cast<int2>(g);
    }
}

}  // namespace kinrad
