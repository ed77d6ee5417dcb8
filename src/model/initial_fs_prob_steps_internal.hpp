#pragma once
// The steps of the per-analysis set-up, in the order initialfsprob runs them in mode 1. Each
// reads and writes module state only.
#include "core/kinds.hpp"

namespace kinrad {

// scale2const, scaleidx, nallallele with the prior constants, converseq and numestgenotype.
void set_analysis_constants();
// Locus classes and lists: locuserror, the error-free lists, the allele-number lists locus1,
// locus2 and locus3 with their positions, snploc, the first allocations of the engine's work
// arrays and the observation-block vectors; then the dominant share applied to ewenpriorfac.
void set_locus_lists();
// Packs the offspring and candidate genotypes into per-locus columns and frees the unpacked
// arrays.
void pack_genotypes();
// The text labels of allele labels and of frequencies.
void set_text_labels();
// genotypenum, passlocusq, offmissdata and alloffmissdata.
void set_offspring_locus_flags();
// Known parents as known sibships, knownprntq, numknownprnt, anyknownprntq, the known-sibship
// flags and sizes.
void set_known_relationships();
// Allele frequencies taken back from the checkpoints of an earlier run on the same data.
void restart_allele_frequencies();
// fsgtypeid and fsgtypeidloc; the holders of prbindex.
void set_genotype_index_tables();

}  // namespace kinrad
