#pragma once
// What the two parent-side moves share: the draw of an offspring, the rows of a cluster
// gathered into a move table, the likelihood of a cluster given as such rows, and the
// re-registration of a cluster whose rows changed.
#include "core/farray.hpp"
#include "core/kinds.hpp"

namespace kinrad {

// An offspring drawn uniformly from 1..smplsize (one draw of the search stream).
int4 draw_offspring();

// The rows (sex-1 family id, sex-2 family id, cluster id, offspring) of cluster id c, whose
// size members stand in its member list in slot `slot` of the cluster tables, into rows
// 1..size of `table`, in the order of that list.
void gather_cluster_rows(FArray<int4, 2>& table, int4 c, int4 slot, int4 size);

// Log likelihood, at all loci, of the cluster whose nrow rows stand in rows 1..nrow of `table`
// (columns: sex-1 family id, sex-2 family id, cluster id, offspring); -1e300 when impossible.
// The windows are put back on return; the engine's family structure is left describing it.
real8 rows_likelihood(FArray<int4, 2>& table, int4 nrow);

// Replaces the cluster tables of cluster id c (in slot `slot`) by those built from its nrow
// rows in rows 1..nrow of indivloc2, taken in ascending offspring order; the cluster's column
// of clustersize must already describe the new structure. The id-to-slot index is left to the
// caller (setindivclusterindex).
void reregister_cluster(int4 c, int4 slot, int4 nrow);

}  // namespace kinrad
