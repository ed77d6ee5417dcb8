#include <span>
#include <string>

#include "core/modules.hpp"
#include "core/modules/variables.hpp"
#include "core/record_reader.hpp"
#include "model/allele_fre_restart_internal.hpp"
#include "model/initial_fs_prob_steps_internal.hpp"
#include "model/model.hpp"

namespace kinrad {

void readallelefre() {
  Variables& v = variables;
  RecordReader in;
  if (!in.open(std::string(trim(v.midfilename(1).view())))) return;
  int4 n = 0;
  if (in.read_list(n) != IoStatus::ok || n != v.smplsize) return;
  // The ten configuration columns are passed over through the first column of indivloc3.
  FArray<int4, 2>& work = annealvariables.indivloc3;
  std::span<int4> column;
  if (work.allocated() && work.size(1) > 0 && work.size(2) > 0)
    column = std::span<int4>(&work(work.lbound(1), work.lbound(2)),
                             static_cast<std::size_t>(work.size(1)));
  for (int4 r = 1; r <= 10; ++r)
    if (in.read_list(column) != IoStatus::ok) return;
  real8 x = 0.0;
  if (in.read_list(x) != IoStatus::ok) return;
  int4 j = 0;
  if (in.read_list(j) != IoStatus::ok) return;
  read_locus_frequencies(in);
}

void restart_allele_frequencies() {
  Variables& v = variables;
  v.checkpointfrequencyq = 0;
  if (v.updateallelefre == 1) {
    readallelefre();
  } else if (v.updateallelefre == 2) {
    int4 flag = 0;
    int4 round = 0;
    readmidresult4(flag, round);
    // Only a later round read whole keeps its frequencies; otherwise the search starts from
    // frequencies moved halfway to uniform, which keeps rare alleles from being lost early.
    if (flag == 0 && round != 1) return;
    for (int4 l = 1; l <= v.numloci; ++l) {
      const int4 k = v.obsnumallele(l);
      if (k <= 2) continue;
      for (int4 a = 1; a <= k; ++a) v.obsallelefre(l).a(a) = 0.5 * v.obsallelefre(l).a(a) + 0.5 / k;
    }
  }
}

}  // namespace kinrad
