#pragma once
// The work modules of the later phases. Each is one struct with a single global instance;
// their members arrive with the phases that use them.
#include "core/farray.hpp"
#include "core/kinds.hpp"
#include "core/record_types.hpp"

namespace kinrad {

// Current packed genotype column: loci of at most two alleles hold 2-bit codes, eight
// individuals a word; other loci one genotype number a word.
struct Setgetgtype {
  FView<int2, 1> locusgtypeptr{};
};
// Family graph and peeling state of the likelihood engine.
struct Likelihoodvar {
  // Run-state placeholders of the family work state, sized for real by the family set-up.
  FArray<int4, 1> selfprnt{};  // (0:): count, then the parents acting in both roles
  FArray<int4, 1> idxloc{};    // (0:)
  FArray<int4, 1> idxtgt{};
  FArray<int1, 1> i1bflag{};
  FArray<Dpdim2, 1> fsprobptr{};
  FArray<int1, 1> fsprobidx{};
  FArray<int1, 1> allelehs{};
  FArray<int1, 1> allelehsnum{};
  FArray<int4, 1> allelehsloc{};
};
// Per-locus work arrays of the family log likelihood.
struct Familyloglvar {};
// Work arrays of the pair absorption.
struct Absorbvar {};
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
};
// Pairwise-step and threshold-simulation state.
struct Simuvariables {};
// Allele labels and frequencies as text.
struct Writevar {};
// Allele frequencies of the current locus for the dyad probabilities.
struct Dyadprbvariables {
  // Dyad probabilities: frequencies of the pair's alleles at the current locus in the pair's
  // own coding (at most four observed alleles and one pooled allele).
  FStatic<real8, 1, 5> afr{};
};

constinit inline Setgetgtype setgetgtype{};
constinit inline Likelihoodvar likelihoodvar{};
constinit inline Familyloglvar familyloglvar{};
constinit inline Absorbvar absorbvar{};
constinit inline Annealvariables annealvariables{};
constinit inline Simuvariables simuvariables{};
constinit inline Writevar writevar{};
constinit inline Dyadprbvariables dyadprbvariables{};

// Resets every module to its start-up state (tests).
void reset_all_modules();

}  // namespace kinrad
