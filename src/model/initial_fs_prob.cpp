#include <algorithm>

#include "core/genotype_number.hpp"
#include "core/modules.hpp"
#include "core/modules/variables.hpp"
#include "model/initial_fs_prob_steps_internal.hpp"
#include "model/model.hpp"

namespace kinrad {

void set_genotype_index_tables() {
  Variables& v = variables;
  Likelihoodvar& lv = likelihoodvar;
  const int4 kmax = std::min(v.maxobsnumallele, 9);
  int4 total = 0;  // 1^2 + ... + kmax^2
  for (int4 k = 1; k <= kmax; ++k) total += k * k;
  lv.fsgtypeidloc.allocate(Dim(kmax));
  lv.fsgtypeid.allocate(Dim(v.maxobsnumallele + total));
  if (kmax >= 1) {
    int4 before = 0;
    for (int4 j = 1; j < kmax; ++j) {
      before += j * j;
      lv.fsgtypeidloc(j + 1) = before;
    }
    // Table k holds, by columns, the row-by-row genotype number of the allele pair (a, b).
    for (int4 k = 2; k <= kmax; ++k) {
      const int4 base = lv.fsgtypeidloc(k);
      for (int4 b = 1; b <= k; ++b) {
        for (int4 a = 1; a <= k; ++a) lv.fsgtypeid(base + (b - 1) * k + a) = pair_number(a, b, k);
      }
    }
    lv.fsgtypeid(1) = total;
    lv.fsgtypeidloc(1) = total;
  }
  lv.prbindex.allocate(Dim(std::min(v.maxobsnumallele, 8)));
}

void initialfsprob(int4 mode, int4 locfrom, int4 locto) {
  Variables& v = variables;
  const bool selfing = v.numsex == 1 && v.allowinbreeding == 1;
  if (mode != 1) {
    build_block_tables(mode, locfrom, locto);
    initialprbgtop(locfrom, locto);
    if (selfing) calculateprbgtopself(locfrom, locto);
    return;
  }
  set_analysis_constants();
  set_locus_lists();
  pack_genotypes();
  set_text_labels();
  build_block_tables(1, 1, v.numloci);
  set_offspring_locus_flags();
  set_known_relationships();
  // The observation tables and the dyad tables below are built from the restarted
  // frequencies.
  restart_allele_frequencies();
  set_genotype_index_tables();
  initialprbgtop(1, v.numloci);
  // The dyad tables, the best-candidate lists and the selfing tables follow in the conductor
  // (analysis_tables), which calls the pairwise phase.
}

}  // namespace kinrad
