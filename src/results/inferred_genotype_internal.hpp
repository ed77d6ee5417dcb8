#pragma once
// The inferred-genotype files and the genotype and allele-frequency inference of the result
// writer: what their two files share with each other and with the tests.
#include <array>
#include <functional>
#include <string>
#include <string_view>

#include "core/kinds.hpp"
#include "core/replacing_file.hpp"

namespace kinrad {

// One row of an inferred-genotype file before it is composed: the individual's observation
// and its alternatives, alleles already turned into their labels.
struct InferredRow {
  std::string_view id;      // identifier, trimmed
  std::string_view marker;  // marker identifier, trimmed
  int4 ploidy = 2;          // layout: 2 (pairs) or 1 (haploid fathers: one label per genotype)
  bool dominant = false;
  bool haploid = false;  // a haploid offspring: -99 as every second label
  int4 a1 = 0;           // observed allele number of the first allele (< 1: untyped, unsampled)
  std::array<int4, 2> obs{};                 // observed labels (0 for untyped, unsampled)
  int4 n = 0;                                // alternatives held (numestgenotype)
  std::array<real4, 5> p{};                  // their probabilities, best first
  std::array<std::array<int4, 2>, 5> alt{};  // their labels
};

// Appends the row of r (ended by a line feed) to out, unless nothing was inferred for the
// individual (p1 < 1e-10); true when a row was appended. The probability texts come from
// writevar.cfre.
bool compose_inferred_row(std::string& out, const InferredRow& r);

// The header line of kind 0 (offspring), 1 (fathers) or 2 (mothers), without line feed.
std::string inferred_genotype_header(int4 kind);

// Locus 0: writes the header of the kind's file. Locus l: appends the rows of locus l, from the
// estimate arrays and the parent tables indivloc2/indivloc3.
void writeinferredgtype(ReplacingFile& out, int4 kind, int4 locus);

// The file suffix of a kind.
std::string_view inferred_genotype_suffix(int4 kind);

// Test seam: sees the status of every preparation of a cluster's family in the inference and
// may change it (tests force a failure through it); empty otherwise.
void set_inference_prepare_seam(std::function<void(int4& status)> seam);

}  // namespace kinrad
