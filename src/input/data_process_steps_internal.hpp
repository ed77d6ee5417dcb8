#pragma once
// The later stages of data preprocessing: the frequency windows and genotype tables, the
// corrections of the sample frequencies for selfing and for a dominating family, and the file
// that keeps the corrected frequencies between analyses of the same data.
#include <string>
#include <vector>

#include "core/kinds.hpp"

namespace kinrad {

// Sets maxnumgenotype and stores the frequencies freq[l][1..k] of every locus as its starting
// values and in its window of obsallelefre (max(k, 2) values; a locus without alleles keeps
// freq[l][1..2]).
void store_frequencies(const std::vector<std::vector<real8>>& freq);

// idxgtype, numloci0, locus2logl, l23g, genotypeid and genotypeid2; releases the reader's
// label tables.
void build_genotype_tables();

// The stem followed by ".InbAlleleFr", cut to 500 characters.
std::string inb_allele_fre_name();

// Reads the corrected frequencies into the windows of variables.obsallelefre. True only when
// every record had exactly the expected length and the file ended after the last one; on any
// other outcome (also a missing file) nothing is changed.
bool read_inb_allele_fre(const std::string& path);

// Writes the windows of variables.obsallelefre: records of five loci, then one record per
// remaining locus. The file is written under a temporary name and renamed over the old one;
// a failed write stops through the error stop.
void write_inb_allele_fre(const std::string& path);

// Monoecious species with selfing: iterates the allele frequencies together with a per-
// individual inbreeding value over offspring and candidate parents.
void selfing_iteration();

// At loci of three or more alleles, re-estimates the frequencies from the offspring alleles not
// explained by a small set of parental alleles.
void family_correction();

// True when one known parent or one known sibship of either sex is shared by at least n - 4
// offspring.
bool dominating_family();

}  // namespace kinrad
