#pragma once
// The effective-size estimates of the results phase: Ne from the sib-pair frequencies of the
// archived configurations (with its resampled intervals) and Ne from heterozygote excess.
// Sizes and bounds are int4; 2147483647 stands for an infinite size.
#include <array>
#include <cstdint>

#include "core/farray.hpp"
#include "core/kinds.hpp"

namespace kinrad {

// The int4 value that stands for an infinite effective size (also an infinite bound).
inline constexpr int4 ne_infinite = 2147483647;

// Fortran's nint into an int4 Ne or bound, saturating: a value whose nearest integer lies
// above 2147483647, and NaN, give 2147483647; one below -2147483648 gives -2147483648.
int4 ne_nint(real8 x);

// Sib-pair counts of one configuration: (S1, S2) and the number E of offspring that serve as
// candidate parents in it.
struct SibPairCounts {
  int4 s1 = 0;
  int4 s2 = 0;
  int4 e = 0;
  friend bool operator==(const SibPairCounts&, const SibPairCounts&) = default;
};

// Reused tallies of the per-configuration counts: per family number three offspring tallies,
// and per sex a mark per candidate with the list of the marked ones. Grow-only, all zero
// between configurations.
struct SibPairWork {
  FArray<int8, 2> tally{};                // (family number, 3)
  std::array<FArray<int1, 1>, 2> mark{};  // per sex: candidate already counted in E
  std::array<FArray<int4, 1>, 2> list{};  // per sex: the candidates counted in E
};

// Sets the work tables up for the sample in module `variables` (before a walk).
void sibpair_prepare(SibPairWork& work);
// Counts S1, S2 and E of the configuration decoded into variables.offtgt and prnttgt.
// counted(s) is true for the sexes that the two-sex count tallies, x(s) for the sexes whose
// candidates can be offspring.
SibPairCounts sibpair_count(SibPairWork& work, const std::array<bool, 2>& counted,
                            const std::array<bool, 2>& x);

// Ne from the pair counts (S1, S2) under the mating parameter alpha, with E offspring left out
// of the pair numbers. Reads smplsize, numsex and haplodiploid.
int4 nevalue(const std::array<int4, 2>& pairs, real8 alpha, int4 e);

// Minus the log likelihood at alpha of the per-locus genotype counts (row k of column l:
// homozygotes of allele k, row obsnumallele + 1 heterozygotes; at a dominant locus rows 1 and
// 2 the two phenotypes).
real8 alfaprob(real8 alpha, const FArray<int4, 2>& counts);
// Sets alpha to the best point of the grid -1..1 in steps of 0.01 (the first of equal values);
// alpha keeps its entry value when no point lies below 1e300.
void alfagrid(real8& alpha, const FArray<int4, 2>& counts);
// Counts the genotypes of the diploid offspring per locus into `counts` (reallocated) and
// sets alpha to the best point of the grid -1..1 in steps of 0.01; alpha keeps its entry value
// when no point is finite.
void alfaestimate(real8& alpha, FArray<int4, 2>& counts);

// The 95% interval of the estimate ne by simulated sampling of families with the spread sd of
// 0.5/Ne; continues the ran1 and gasdev streams.
void geneticsampling(int4 ne, real4 sd, std::array<int4, 2>& ci);

// The heterozygote-excess estimate from its sums over the loci used: their number, the sum of
// the per-locus excess D and the sum of the squared per-locus inverse estimates.
void heterozygote_interval(int4 loci, real8 sum_d, real8 sum_square, int4& ne,
                           std::array<int4, 2>& ci);
// Ne from the heterozygote excess of the offspring at the codominant loci, with its interval.
void heterozygoteexcess(int4& ne, std::array<int4, 2>& ci);

}  // namespace kinrad
