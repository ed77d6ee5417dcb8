#pragma once
// Simulated family clusters of any size for the engine benchmarks: a project input file is
// written into a fresh working directory, read and prepared by the program itself, and the
// cluster is framed as the family in hand.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace kinrad::bench {

struct SimSpec {
  int fathers = 1;
  int mothers = 1;
  int offspring_per_family = 10;  // every father-mother pair is a full-sib family
  int loci = 1;
  int alleles = 8;  // codominant alleles per locus (2 for two-allele loci)
  bool dominant = false;
  double droprate = 0.0;
  double otherrate = 0.0;
  int unrelated = 30;  // unrelated offspring that fix the allele frequencies
  std::uint32_t seed = 1;
  // When not empty, only these (father, mother) pairs (from 1) are full-sib families.
  std::vector<std::array<int, 2>> pairs;
};

// Builds the sample, runs reading, preparation and the per-analysis set-up, frames the cluster
// (fathers x mothers, all pairs with offspring) and prepares its work state. The working
// directory is changed to a new temporary directory, returned.
std::string simulate_cluster(const SimSpec& s);

}  // namespace kinrad::bench
