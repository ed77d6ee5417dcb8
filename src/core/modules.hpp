#pragma once
// The work modules of the later phases. Each is one struct with a single global instance;
// their members arrive with the phases that use them.
#include "core/farray.hpp"
#include "core/fixed_string.hpp"
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

  // First allocations of the per-analysis set-up; their users size and fill them.
  FArray<int4, 2> scaleidx{};       // (2, 2)
  FArray<int2, 1> userowsnp{};      // (1:1)
  FArray<int4, 1> domfsibsave{};    // (1:1)
  FArray<real8, 1> domconstlogl{};  // (1:1)
  FArray<int2, 2> familyindivll{};  // (3, 1:1)
  FArray<int2, 1> familyindiv{};    // (1:1)
  FArray<int2, 4> fsfamilygtype{};  // (0:1, 2, 1, locus3 position)
  FArray<I2bdim2, 1> prbindex{};    // per family allele count, tables built on first use
  // Genotype numbers of the allele pairs of k alleles, one k x k table per k from position
  // fsgtypeidloc(k) + 1; element 1 of both holds the total size of the tables.
  FArray<int4, 1> fsgtypeidloc{};
  FArray<int4, 1> fsgtypeid{};
};
// Per-locus work arrays of the family log likelihood.
struct Familyloglvar {};
// Work arrays of the pair absorption.
struct Absorbvar {
  // Genotype index holders and value triples of the absorption routines.
  FStatic<Element, 1, 3> gtypeidx{};
  FStatic<Element, 1, 3> gtypejdx{};
  FStatic<Element, 1, 3> gtypekdx{};
  FStatic<Element, 1, 3> gtypeldx{};
  FStatic<Element, 1, 3> gtypemdx{};
  FStatic<Element, 1, 3> gtypendx{};
  FStatic<real8, 1, 3> xx{};
  FStatic<real8, 1, 3> zz{};
};
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
// Pairwise-step and threshold-simulation state.
struct Simuvariables {};
// Allele labels and frequencies as text.
struct Writevar {
  // calleleid(i): allele label i as text (-1:largest label, unallocated above 9999);
  // cfre(i): the frequency i/10000 as text (0:10000).
  FArray<FString<4>, 1> calleleid{};
  FArray<FString<5>, 1> cfre{};
};
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
