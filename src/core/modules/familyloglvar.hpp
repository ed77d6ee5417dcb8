#pragma once
// The module `familyloglvar`.
#include "core/farray.hpp"
#include "core/fixed_string.hpp"
#include "core/kinds.hpp"
#include "core/record_types.hpp"

namespace kinrad {

// Per-locus work arrays of the family log likelihood.
struct Familyloglvar {
  // Sized by setfamilyloglvar for each family; contents belong to the per-locus routines.
  FArray<int4, 2> hsibflag{};   // (maxnumparent, 2)
  FArray<int4, 1> ldx{};        // (0:maxnumgenotype)
  FArray<int4, 1> lg{};         // (numfsibship)
  FArray<int1, 1> alleleprt{};  // (maxobsnumallele)
  FArray<int2, 2> kg{};         // (3, numfsibship): two-allele genotype counts per family
  FArray<int2, 1> mdx{};        // (maxnumgenotype)
  FArray<real8, 1> q{};         // (maxobsnumallele)

  // Sibship-size prior term of the family likelihood, set on first use and kept for the run:
  // the shape b (negative: not yet set) and the constant c derived from it.
  real8 priorshapeb = -1.0;
  real8 priorconstc = 0.0;
};

constinit inline Familyloglvar familyloglvar{};

}  // namespace kinrad
