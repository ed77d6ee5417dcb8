#pragma once
// Pieces of the table steps shared between their source files.
#include "core/genotype_number.hpp"
#include "core/kinds.hpp"

namespace kinrad::block_tables {

// Allocates the parent-offspring category holders, their common store and the bit sets for
// allele numbers 2..k8 (the holders and the store only when not there yet).
void allocate_categories(int4 k8);
// Fills the categories and bit sets of the heterozygous (het = true) or homozygous offspring
// genotypes for allele numbers up to k8.
void fill_categories(int4 k8, bool het);

// Observation blocks of loci locfrom..locto; with transrate views re-aimed at the block
// storage in mode 1, and storage of their own for the loci of a mode-2 range.
void number_blocks(int4 mode, int4 locfrom, int4 locto);
// The constant compatibility masks of the error-free full-sib tables.
void set_masks();

}  // namespace kinrad::block_tables
