#pragma once
// Routines of the family likelihood engine that only the engine itself (and its tests) call.
#include "core/kinds.hpp"

namespace kinrad {

// Per-locus set-up of the family in hand: marker case, parents' observed genotypes, haploid
// offspring counts, the offspring genotype and allele tables of every full-sib family, the
// parents' allele lists and genotype spaces, index maps, scaled counts, the parents' priors
// (setgtypefre), the haploid sons absorbed into their mothers and the families without members.
// logl is set to 0, or to -1e300 when the family's genotypes cannot occur at the locus.
void familylocus_setup(int4 locus, int4 numallele, int4 numgenotype, real8& logl);

// Offspring genotype codes per full-sib family at a two-allele locus: familyloglvar.kg(c, f) for
// families fam1..fam2, codes c = 1..ngt, untyped offspring not counted.
void locus2gtype(int4 pos, int4 locus, int4 fam1, int4 fam2, int4 ngt);

// Puts a family's allele list into the canonical order of the error-free closed-form tables.
// gt holds the family's ngt distinct genotypes (two allele codes each, the first genotype's
// alleles being the first two of the list).
void reorderallelefs(int4 fam, int4 ngt, const int1 (*gt)[2]);

// Prior of every parent genotype at the locus into crrtgenotypefre; logl = -1e300 when the
// genotype fixed for inference has no probability.
void setgtypefre(int4 locus, int4 numallele, real8& logl);

// Row-by-row number of the genotype (i, j), i <= j, over n alleles.
constexpr int4 pairnumber(int4 i, int4 j, int4 n) {
  return (i - 1) * (2 * n - i + 2) / 2 + (j - i + 1);
}

// The layer stage of the locus likelihood: what the simple peeling leaves of a two-sex cluster
// (a mating graph with cycles) summed exactly by conditioning parents layer by layer. Called
// after the simple peeling when families remain, at any kind of locus; logl receives the locus
// log likelihood of the cluster (the constant, the trees closed by the simple peeling and the
// remaining graph), -1e300 when the locus is impossible.
void layer_stage(int4 locus, int4 numallele, real8& logl);

// The same for one-sex clusters: a monoecious mating graph with cycles, conditioning
// individuals (both roles of one individual at once) layer by layer.
void layer_stage_mono(int4 locus, real8& logl);

}  // namespace kinrad
