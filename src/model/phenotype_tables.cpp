#include "core/modules/variables.hpp"
#include "model/model.hpp"
#include "model/phenotype_tables_internal.hpp"

namespace kinrad {

std::uint64_t transrate_version() {
  return variables.transrate_version;
}

void allocate_transrate_per_locus() {
  Variables& v = variables;
  const int4 numloci = v.numloci;
  index_t total = 0;
  for (int4 l = 1; l <= numloci; ++l) total += v.dominantmarker(l) != 0 ? 3 : 7;
  v.transratetgt.allocate(Dim(total));
  v.transrate.allocate(Dim(numloci));
  index_t first = 1;
  for (int4 l = 1; l <= numloci; ++l) {
    const index_t n = v.dominantmarker(l) != 0 ? 3 : 7;
    v.transrate(l).a = window(v.transratetgt, first, n);
    first += n;
  }
  ++variables.transrate_version;
}

void give_own_transrate(int4 locfrom, int4 locto) {
  Variables& v = variables;
  if (!v.transrate_own_tgt.allocated()) v.transrate_own_tgt.allocate(Dim(7 * v.numloci));
  for (int4 l = locfrom; l <= locto; ++l) {
    const index_t n = v.dominantmarker(l) != 0 ? 3 : 7;
    v.transrate(l).a = window(v.transrate_own_tgt, 7 * (l - 1) + 1, n);
  }
  ++variables.transrate_version;
}

void phenotypegivengenotype(int4 locfrom, int4 locto) {
  Variables& v = variables;
  if (locfrom > locto) return;
  if (v.haplodiploid == 1 &&
      (!v.transratehaploid.allocated() || v.transratehaploid.ubound(2) < locto)) {
    v.transratehaploid.allocate(Dim(2), Dim(v.numloci > locto ? v.numloci : locto));
  }
  // One representative true and observed genotype of each sharing class 1..7. Only the class,
  // k, d and e enter the formulas, so allele 3 serves also at two-allele loci.
  static constexpr int4 rep[7][4] = {{1, 2, 1, 2}, {1, 2, 1, 1}, {1, 2, 1, 3}, {1, 1, 2, 2},
                                     {1, 1, 1, 1}, {1, 1, 1, 2}, {1, 1, 2, 3}};
  for (int4 l = locfrom; l <= locto; ++l) {
    const int4 k = v.obsnumallele(l);
    if (k <= 1) continue;
    const real8 d = v.droprate(l);
    real8 e = errscale(k, v.othererrorrate(l));
    const FView<real8, 1>& t = v.transrate(l).a;
    if (v.dominantmarker(l) != 0) {
      t(1) = prbg_p(1, 0, 1, 1, k, d, e, 0);
      t(2) = prbg_p(1, 0, 1, 2, k, d, e, 0);
      t(3) = prbg_p(1, 0, 2, 2, k, d, e, 0);
    } else {
      // Under selfing, a two-allele locus with dropout but no other errors would make a
      // homozygote typed as a heterozygote impossible; a small floor on e keeps it possible.
      if (k == 2 && v.numsex == v.allowinbreeding && e < 1e-6 && d / (1.0 + d) > 1e-6) e = 1e-6;
      for (int4 c = 1; c <= 7; ++c) {
        const int4* r = rep[c - 1];
        t(c) = prbg_p(r[2], r[3], r[0], r[1], k, d, e, 0);
      }
    }
    if (v.haplodiploid == 1) {
      const real8 u = e / static_cast<real8>(k);
      v.transratehaploid(1, l) = 1.0 - e + u;
      v.transratehaploid(2, l) = u;
    }
  }
  ++variables.transrate_version;
}

}  // namespace kinrad
