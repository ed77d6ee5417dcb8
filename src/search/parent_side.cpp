// The two moves on the parent side that the iteration tries every 100th iteration, before its
// own move: the exchange of a cluster's paternal and maternal sibships (reversal.cpp) and the
// change of father of a family's haploid offspring (swap_father.cpp). Here: the caller, which
// draws nothing unless every other condition of a move holds, and the pieces both moves use.
#include <algorithm>

#include "configuration/configuration.hpp"
#include "core/modules.hpp"
#include "core/modules/search_work.hpp"
#include "core/random_numbers.hpp"
#include "likelihood/likelihood.hpp"
#include "search/parent_side_internal.hpp"
#include "search/search_internal.hpp"

namespace kinrad {

void parent_side_moves(RunState& rs) {
  auto& v = variables;
  const int8 it = rs.cp.numiterate;
  rs.sidemoveok = 0;
  if (v.crnumfamily(3) > 1 && v.converseq != 0 && rs.cp.newbestcount > 0 && it % 100 == 0) {
    if (reversal(rs)) rs.sidemoveok = 1;
  }
  // The cooling draw comes last, so that an iteration without the move draws nothing.
  if (rs.sidemoveok == 0 && v.smplsizedh(1) > 0 && v.anymonogamy == 0 && it % 100 == 0 &&
      annealvariables.rate > ran2()) {
    if (swapdadid(rs)) rs.sidemoveok = 1;
  }
  if (rs.sidemoveok != 0) {
    setindivclusterindex();
    if (v.priortype == 1) rs.oldsibsizeprior = newewenprior(rs.cp.numsizeclass);
  }
}

int4 draw_offspring() {
  return static_cast<int4>(static_cast<real8>(variables.smplsize) * ran2() + 1.0);
}

void gather_cluster_rows(FArray<int4, 2>& table, int4 c, int4 slot, int4 size) {
  const auto& v = variables;
  const auto& members = v.indivcluster(slot);
  for (int4 t = 1; t <= size; ++t) {
    const int4 i = members(t);
    table(t, 1) = v.crindivloc(i, 1);
    table(t, 2) = v.crindivloc(i, 2);
    table(t, 3) = c;
    table(t, 4) = i;
  }
}

real8 rows_likelihood(FArray<int4, 2>& table, int4 nrow) {
  auto& v = variables;
  WindowSave keep;
  v.indivlocprt = table.view();
  v.indivorder = window(v.number1tgt, 1, nrow);
  int4 nmember = 0, maxfam = 0;
  familybuild(0, nrow, 1, nmember, maxfam, 1, 0, 0, 0);
  real8 logl = 0.0;
  familylikelihood(logl, -1e300, 1, 0, nrow);
  return logl;
}

void reregister_cluster(int4 c, int4 slot, int4 nrow) {
  auto& v = variables;
  auto& av = annealvariables;
  auto& w = search_work;
  // Rows in ascending offspring order, as every registration of the search takes them.
  w.sortkeys.clear();
  for (int4 t = 1; t <= nrow; ++t) w.sortkeys.emplace_back(av.indivloc2(t, 4), t);
  std::sort(w.sortkeys.begin(), w.sortkeys.end());
  w.roworder.clear();
  for (const auto& k : w.sortkeys) w.roworder.push_back(k.second);
  replacecluster(c, slot);
  // The removal moved the last used slot into the freed one: the last slot is now free.
  int4 target = v.crnumfamily(3);
  while (target > 1 && v.indivclusteridx(target) != -1) --target;
  WindowSave keep;
  v.indivlocprt = av.indivloc2.view();
  addcluster(target, &av.clustersize(1, c), nrow, nrow, w.roworder.data(), c);
}

}  // namespace kinrad
