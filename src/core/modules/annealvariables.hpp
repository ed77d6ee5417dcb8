#pragma once
// The module `annealvariables`.
#include "core/farray.hpp"
#include "core/fixed_string.hpp"
#include "core/kinds.hpp"
#include "core/record_types.hpp"

namespace kinrad {

// Search state of the annealing run. selectedprntidxq1 doubles as the zero-filled scratch
// array of the linear-time index sorts.
struct Annealvariables {
  FArray<int4, 1> selectedprntidxq1{};

  // Move tables, scratch marks and cluster sizes allocated once per analysis.
  FArray<int1, 1> selectedprntidxq2{};  // scratch marks, all 0 between uses
  FArray<int4, 1> selectedprntidxq3{};  // scratch marks, all 0 between uses
  FArray<int4, 1> numindivlocidx{};
  FArray<int4, 2> indivlocidx{};
  FArray<int4, 2> indivclusterid{};
  FArray<int4, 2> clustersize{};  // (6, cluster)
  FArray<int4, 1> clustersizet{};
  FArray<int4, 2> indivloc1{};  // (rows, 4); column 4 holds the offspring number
  FArray<int4, 2> indivloc2{};
  FArray<int4, 2> indivloc3{};
  FArray<int4, 2> familyidx2{};
  FArray<int4, 1> parentidx1{};
  FArray<int4, 1> parentidx2{};
  FArray<int4, 2> numpartner1{};
  FArray<int4, 1> numfamilymember1{};
  FArray<int4, 1> numfamilymember2{};
  FArray<int2, 1> familymember1{};
  FArray<int2, 1> sibloc1{};        // (0:)
  FArray<int1, 2> unassignedcnd{};  // (candidate, sex): 1 when not a parent in the configuration
  // Windows onto the move tables.
  FView<int4, 1> indivlocptr14{};
  FView<int4, 1> indivlocptr21{};
  FView<int4, 1> indivlocptr22{};
  FView<int4, 1> indivlocptr24{};
  FStatic<FView<int4, 2>, 1, 2> indivloc12{};
  // Family-move side tables: null until a move aims them, at the default targets or elsewhere.
  FStatic<int4, 1, 2> familyidx1tgt{};
  FStatic<int4, 1, 2> locpartner1tgt{};
  FStatic<int4, 1, 2> partner1tgt{};
  FView<int4, 1> familyidx1{};
  FView<int4, 1> locpartner1{};
  FView<int4, 1> partner1{};

  // Per-analysis set-up: the number of alleles over all loci, and per known sibship number
  // (negative for the offspring of one known parent) a flag aimed at falsetgt or truetgt.
  int4 nallallele = 0;
  FArray<Elementlogical, 1> knownsibshipq{};
};

constinit inline Annealvariables annealvariables{};

}  // namespace kinrad
