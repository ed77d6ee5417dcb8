#pragma once
// Simulated one-sex (monoecious) family clusters for the engine benchmarks: individuals, the
// families between them (an individual may be a father in one and a mother in another, or both
// parents of a selfed family), simulated offspring, read and prepared by the program itself.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace kinrad::bench {

struct OneSexSpec {
  int individuals = 1;
  std::vector<std::array<int, 2>> families;  // (father, mother) individuals, from 1
  int offspring_per_family = 10;
  int loci = 1;
  int alleles = 2;
  double droprate = 0.0;
  double otherrate = 0.0;
  bool selfing = false;     // inbreeding allowed (selfed families possible)
  double inbreeding = 0.0;  // the population coefficient set after reading
  int unrelated = 30;
  std::uint32_t seed = 1;
};

// As simulate_cluster: a new temporary working directory, returned; the cluster is the family
// in hand, its work state prepared.
std::string simulate_one_sex_cluster(const OneSexSpec& s);

}  // namespace kinrad::bench
