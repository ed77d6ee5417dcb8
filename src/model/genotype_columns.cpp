// Steps of the per-analysis set-up that pack the genotypes and build the text labels.
#include <algorithm>
#include <string>

#include "core/modules.hpp"
#include "core/modules/variables.hpp"
#include "core/packed_genotypes.hpp"
#include "core/variables_routines.hpp"
#include "model/initial_fs_prob_steps_internal.hpp"

namespace kinrad {

namespace {

// One column per locus over n individuals whose allele pairs are genotypes(1:2, locus, i).
void pack_columns(FArray<I2bdim1, 1>& columns, FArray<int2, 1>& store,
                  const FArray<int1, 3>& genotypes, int4 n) {
  const Variables& v = variables;
  const int4 nl = v.numloci;
  index_t total = 0;
  for (int4 l = 1; l <= nl; ++l) total += packed_column_words(n, v.obsnumallele(l));
  columns.allocate(Dim(nl));
  store.allocate(Dim(total));
  index_t first = 1;
  for (int4 l = 1; l <= nl; ++l) {
    const int4 k = v.obsnumallele(l);
    const index_t words = packed_column_words(n, k);
    columns(l).a = window(store, first, words);
    first += words;
    setgetgtype.locusgtypeptr = columns(l).a;
    for (int4 i = 1; i <= n; ++i) setgtype(&genotypes(1, l, i), i, k);
  }
}

}  // namespace

void pack_genotypes() {
  Variables& v = variables;
  if (v.smplsize >= 1) {
    pack_columns(v.indivgtype2, v.indivgtype2tgt, v.indivgtype, v.smplsize);
    v.indivgtype.deallocate();
  }
  likelihoodvar.familyindiv.allocate(Dim(1));
  if (v.allcandidate >= 1) {
    pack_columns(v.cndgtype2, v.cndgtype2tgt, v.cndgtype, v.allcandidate);
    v.cndgtype.deallocate();
  }
}

void set_text_labels() {
  const Variables& v = variables;
  int4 m = 0;
  for (int4 l = 1; l <= v.numloci; ++l) {
    const FArray<int4, 1>& raw = v.rawallele(l).a;
    if (!raw.allocated()) continue;
    for (index_t a = raw.lbound(1); a <= raw.ubound(1); ++a) m = std::max(m, raw(a));
  }
  // Longer labels do not fit the 4-character columns of the result files.
  if (m <= 9999) {
    writevar.calleleid.allocate(Dim(-1, m));
    for (int4 i = -1; i <= m; ++i) writevar.calleleid(i) = itoc(i);
  }
  writevar.cfre.allocate(Dim(0, 10000));
  for (int4 i = 0; i <= 10000; ++i) writevar.cfre(i) = rtoc(i * 0.0001, "(F6.3)");
}

}  // namespace kinrad
