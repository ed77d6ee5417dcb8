#pragma once
// The module `annealvariables`.
#include <vector>

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
  // The proposal in hand: offspring staying (1) and moving (2), and the drawn offspring.
  FStatic<int4, 1, 2> numindiv{};
  int4 moveindiv = 0;
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
  // Move-side tables: the picture of one cluster that the move routines work on, built by
  // familybuild0 from the cluster tables, side 1 for the moving offspring's own cluster and
  // side 2 for a destination cluster. lastfamilyid(side) is the cluster id a side describes
  // (0: none; a repeated build of it is skipped and focalclusteridx(side) set to 0), and
  // focalclusteridx(side) the slot it was built from.
  //
  // Parents of the cluster are addressed by position within their sex (1..nparent1(s)), and by
  // joint position k = (s - 1) * nparent1(1) + position, sex-1 parents first.
  // Side 1 (P = nparent1(1) + nparent1(2) joint positions, F = numberfsfamily1 families):
  //   numfamilymember1(f)   members of family f
  //   sibloc1(f)            members listed before family f; family f is familymember1
  //                         (sibloc1(f) + 1 .. sibloc1(f) + numfamilymember1(f)), ascending
  //   numpartner1(k, s)     full-sib families (mates) of the parent at position k of sex s
  //   locpartner1(j)        (P) offsets by joint position j into partner1: the families of that
  //                         parent are partner1(locpartner1(j) + 1 ..), numpartner1 of them,
  //                         ascending; sex-2 blocks follow the F sex-1 entries
  //   partner1              (2F) family local indices, per parent
  //   familyidx1            (2F) column-major (F, 2): positions of the sex-1 (f) and sex-2
  //                         (F + f) parent of family f
  //   parentidx1(j)         (P) family id (crindivloc column value) of the parent at joint j
  //   parentchd(j)          (P, module variables) one offspring of that parent: the first
  //                         member of its first family
  //   lparent1(j)           (P) one parent pool only: joint position of the same individual
  //                         in the other role, 0 when it acts in one role only
  // partner1, locpartner1 and familyidx1 are aimed at the stores below, or, for a cluster of
  // fewer than 3 parents, at the default targets (1, 1), (0, 1) and (1, 1) of one father, one
  // mother and one family.
  // Side 2: numberfsfamily2, nparent2, numfamilymember2, familymemberloc2 (as sibloc1),
  // familymember2, parentidx2 (as parentidx1) and familyidx2(f, s) (positions of the parents).
  FStatic<int4, 1, 2> familyidx1tgt{};
  FStatic<int4, 1, 2> locpartner1tgt{};
  FStatic<int4, 1, 2> partner1tgt{};
  FView<int4, 1> familyidx1{};
  FView<int4, 1> locpartner1{};
  FView<int4, 1> partner1{};
  FArray<int4, 1> familyidx1_store{};
  FArray<int4, 1> locpartner1_store{};
  FArray<int4, 1> partner1_store{};
  FArray<int4, 1> lparent1{};
  int4 numberfsfamily1 = 0;
  int4 numberfsfamily2 = 0;
  FStatic<int4, 1, 2> nparent1{};
  FStatic<int4, 1, 2> nparent2{};
  FArray<int2, 1> familymember2{};
  FArray<int2, 1> familymemberloc2{};  // (0:)
  FStatic<int4, 1, 2> lastfamilyid{};
  FStatic<int4, 1, 2> focalclusteridx{};

  // Per-analysis set-up: the number of alleles over all loci, and per known sibship number
  // (negative for the offspring of one known parent) a flag aimed at falsetgt or truetgt.
  int4 nallallele = 0;
  FArray<Elementlogical, 1> knownsibshipq{};

  // The move in hand and the parent changes proposed for it. movingtype 1 moves one offspring
  // (possibly with full sibs), 2 a whole full-sib family; movefamily holds the moving
  // offspring's present paternal and maternal family ids, hostfamily the destination's
  // (paternal id, maternal id, cluster id). Per sex, entry k of the change lists is offspring
  // indivparentage(k, s) going from parent inferparentage(k, s, 1) to inferparentage(k, s, 2)
  // (0: an unsampled parent); numindivparentage(3) counts the family move's pending change.
  int4 movingtype = 0;
  FStatic<int4, 1, 2> movefamily{};
  FStatic<int4, 1, 3> hostfamily{};
  FArray<int4, 2> indivparentage{};
  FArray<int4, 3> inferparentage{};
  FStatic<int4, 1, 3> numindivparentage{};
  // Work column beside the change lists: the proposed family id of each entry's offspring.
  FArray<int4, 2> parentagefamily{};

  // Validity test of a proposal. rate: the cooling factor of the run (1.0 at a fresh start),
  // the chance with which a proposal equal to the current configuration is admitted;
  // equalconfig: 1 when the proposal admitted last equals the current configuration.
  // checkrefusal: the test (1..12) that refused the last proposal, 0 when it was admitted.
  // checkundo: the entries a test overwrote while it ran (what: 1 the sign of a crindivloc
  // entry (i, s), 2 poassign(s, i), 3 inferparent2(i, s)), put back in reverse order; empty
  // between calls, kept allocated.
  struct CheckUndo {
    int4 what = 0, i = 0, s = 0, old = 0;
  };
  real8 rate = 1.0;
  int4 equalconfig = 0;
  int4 checkrefusal = 0;
  std::vector<CheckUndo> checkundo{};
};

constinit inline Annealvariables annealvariables{};

}  // namespace kinrad
