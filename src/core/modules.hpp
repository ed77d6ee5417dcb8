#pragma once
// The work modules of the later phases. Each is one struct with a single global instance;
// their members arrive with the phases that use them.
#include "core/farray.hpp"
#include "core/kinds.hpp"

namespace kinrad {

// Current packed genotype column: loci of at most two alleles hold 2-bit codes, eight
// individuals a word; other loci one genotype number a word.
struct Setgetgtype {
  FView<int2, 1> locusgtypeptr{};
};
// Family graph and peeling state of the likelihood engine.
struct Likelihoodvar {};
// Per-locus work arrays of the family log likelihood.
struct Familyloglvar {};
// Work arrays of the pair absorption.
struct Absorbvar {};
// Search state of the annealing run. selectedprntidxq1 doubles as the zero-filled scratch
// array of the linear-time index sorts.
struct Annealvariables {
  FArray<int4, 1> selectedprntidxq1{};
};
// Pairwise-step and threshold-simulation state.
struct Simuvariables {};
// Allele labels and frequencies as text.
struct Writevar {};
// Allele frequencies of the current locus for the dyad probabilities.
struct Dyadprbvariables {};

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
