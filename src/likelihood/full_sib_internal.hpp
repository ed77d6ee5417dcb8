#pragma once
// Full-sib probability tables at error-free codominant loci, the absorb list and the simple
// peeling: the engine's own routines between the per-locus set-up and the locus result.
#include <array>
#include <cstdint>

#include "core/kinds.hpp"

namespace kinrad {

// Largest number of parent genotype classes a table of an error-free family can span: five
// family alleles (four shown and the pooled one) give 15 diploid genotypes.
inline constexpr int4 kMaxFsClass = 15;

// The table of one full-sib family over its parents' genotype classes. Rows are the father's
// classes (his alleles in a haplodiploid species), columns the mother's. Entries are Mendel's
// probabilities of the family's offspring, each offspring genotype's factor scaled by a power
// of 2 so that the largest entry is 1; `taken` is the natural log of what the scaling took out.
struct FsTable {
  int4 rows = 0;
  int4 cols = 0;
  uint16_t rowmask = 0;  // bit 16 - c for each class c with a non-zero row
  uint16_t colmask = 0;
  real8 taken = 0.0;
  std::array<real8, kMaxFsClass * kMaxFsClass> t;  // only the rows x cols block is written
  real8& at(int4 r, int4 c) { return t[(r - 1) + (c - 1) * kMaxFsClass]; }
  real8 at(int4 r, int4 c) const { return t[(r - 1) + (c - 1) * kMaxFsClass]; }
};

// Builds the table of family ifs from its distinct offspring genotypes. twoallele: the locus's
// own genotypes 11, 12, 22 are the classes (no family allele list); otherwise the classes are
// the pairs of the family allele list. The table covers the prefix of each parent's class list
// up to its last compatible class; a family no parent pair can produce gets a 1 x 1 (haploid
// fathers: nallele x 1) table of zero.
void build_fs_table(int4 ifs, bool twoallele, FsTable& out);

// Error-free loci of three or more alleles. logl: -1 in table and absorption mode; in
// whole-family mode the locus log likelihood of the cluster (-1e300 when impossible), and
// complete is set.
void fsprobcompute1(int4 ifs, int4 nallele, int4 ngtype, real8& logl, int4 j, int4 flag,
                    bool& complete);

// Error-free loci of at most two alleles; ngt: distinct heterozygous and homozygous genotypes.
void fsprobcomputesnp(int4 ifs, const int2 ngt[2], int4 j, int4 flag);

// Multiplies every selfed family's offspring into its selfing parent's genotype vector (and the
// copy of the parent's other role) and takes the family off both roles. logl: 1e30 when other
// families remain, the locus log likelihood when the family is one selfing individual, -1e300
// when the locus is impossible.
void absorbselfedoffspring(int4 locus, real8& logl);

// The absorb list of the family in hand (once per family set-up).
void findabsorbfamily();

// Sums the families of the absorb list into their receiving parents; logl receives the locus
// log likelihood when that accounts for every family, -1e300 when impossible.
void peel(int4 locus, int4 numallele, int4 numgenotype, int4 errorflag, real8& logl);

// A tree the peeling closed in parent node p (one that keeps no family) is a factor of its own:
// the prior mass of the vector p last received. Adds its log to `total`; false when the mass is
// at or below 1e-300, which makes the locus impossible.
bool add_closed_tree(int4 p, real8& total);

// Adds the log of the vector sum of every parent without a full-sib family at the locus to the
// constant (an individual acting in both roles once); false when such a parent is impossible.
bool unattached_parents();

// The same individual in the other role (monoecious species), as a joint parent number; 0 none.
int4 other_role_joint(int4 j);

// Entry (x, y) of family f's full-sib table at the current locus, x the father's class, y the
// mother's: one of the shared error-free tables, the family's own table, or its block of fsprob.
// The simple peeling and the layer stage both read tables through it.
struct TableReader {
  const real8* base = nullptr;
  std::ptrdiff_t ld = 0;  // distance between columns
  real8 operator()(int4 x, int4 y) const { return base[(x - 1) + (y - 1) * ld]; }
};
TableReader table_of(int4 f);

// Whether genotype c (1..16) is set in a 16-bit mask (bit 16 - c).
inline bool has_bit(uint16_t mask, int4 c) {
  return c >= 1 && c <= 16 && (mask & (0x8000u >> (c - 1))) != 0;
}

}  // namespace kinrad
