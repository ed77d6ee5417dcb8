#pragma once
// Part of the module `variables`: the sample as read and prepared (identifiers, genotypes,
// candidates, known and excluded relationships, allele labels).

#include "core/farray.hpp"
#include "core/fixed_string.hpp"
#include "core/kinds.hpp"
#include "core/record_types.hpp"

namespace kinrad {

struct VariablesSample {
  // Genotype numbering of the packed store, set by data preparation: genotypeid2(a1, a2) is
  // the number of an allele pair (0 missing, homozygotes first, then heterozygotes), with
  // bounds (0:maxobsnumallele, 0:maxobsnumallele); a 2-bit code equal to l23g(1) reads back
  // as l23g(2).
  FArray<int2, 2> genotypeid2{};
  FStatic<int2, 1, 2> l23g{};

  // Offspring identifiers in input order, left-adjusted (1..smplsize).
  FArray<FString<20>, 1> offspringid{};
  // Markers, genotypes and candidates of the project input file.
  FArray<FString<20>, 1> markerid{};  // per locus, right-adjusted
  FArray<int1, 1> dominantmarker{};   // per locus: 1 dominant, 0 codominant
  FArray<real8, 1> droprate{};        // per locus: allelic dropout rate
  FArray<real8, 1> othererrorrate{};  // per locus: rate of other typing errors
  // Distinct allele labels per locus in order of first appearance: label k is allele number k.
  FArray<int1, 1> rawallelenum{};
  FArray<I4bdim1, 1> rawalleleid{};
  FArray<int1, 1> offploid{};              // per offspring: 1 haploid, 2 diploid
  FStatic<int4, 1, 2> smplsizedh{};        // numbers of haploid and of diploid offspring
  FArray<int1, 3> indivgtype{};            // (2, locus, offspring) allele numbers, 0 missing
  FStatic<real8, 1, 2> propprntsampled{};  // chance that the father / mother is a candidate
  FStatic<int4, 1, 2> numcandidate{};
  int4 allcandidate = 0;
  FArray<FString<20>, 2> cndparentid{};  // (0:largest count, sex); entry 0 is "0"
  // (2, locus, candidate): fathers first, mother j in column numcandidate(1) + j.
  FArray<int1, 3> cndgtype{};
  FArray<int4, 2> crindivloc{};  // (offspring, 3); column 2 orders the offspring identifiers
  FStatic<int4, 1, 2> monogamy{};
  int4 allmonogamy = 0;
  int4 anymonogamy = 0;
  // Known and excluded relationships.
  FArray<int4, 2> indivparent{};   // (offspring, sex): known parent's candidate number, -1 none
  FArray<int4, 2> knownsibship{};  // (offspring, sex): known sibship number, 0 none
  FArray<Excludedlist, 2> excludedparent{};  // (offspring, sex); unallocated when none
  FStatic<int4, 1, 2> anyexcludedparentq{};
  // (offspring, sex): bit b of word w set in the set of offspring j when offspring 32w + b + 1
  // must not share that sibship with j; only lower-numbered offspring are held.
  FArray<I4bdim1, 2> excludedsib{};
  FArray<int1, 1> excludedsibshipq{};  // per offspring: named on an excluded-sibship line
  FStatic<int4, 1, 2> anyexcludedsibshipq{};
  // Scratch marks over candidate numbers (0 to the larger count), all 0 between uses.
  FArray<int1, 1> selectedprntq{};

  // Change detection: the comparison of the data with the copy kept under the stem, made once
  // per analysis (-2: not made yet; else -1 no copy, 0 different, 1 the same).
  int4 data_copy_status = -2;

  // Data preparation: allele labels, starting frequencies and the genotype index.
  // Per locus the raw label of each allele number, bounds (-1:k): element -1 is -1, 0 is 0.
  FArray<I4bdim1, 1> rawallele{};
  FArray<real8, 2> obsallelefre0{};  // (allele, locus): starting frequencies before correction
  FArray<int4, 1> idxgtype{};        // per genotype number: itself, or 1 in a haplodiploid species
  int4 numloci0 = 0;                 // loci at which no allele was seen
};

}  // namespace kinrad
