// Writes a simulated project input file: make_sample FILE [key=value ...] with the keys
// offspring, loci, alleles, missing, error, candidates, sexes, inbreeding, haplodiploid,
// method, family, seed (the defaults of SampleParameters otherwise).
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "simulated_sample.hpp"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: make_sample FILE [key=value ...]\n");
    return 1;
  }
  kinrad::bench::SampleParameters p;
  for (int a = 2; a < argc; ++a) {
    const std::string arg = argv[a];
    const auto eq = arg.find('=');
    if (eq == std::string::npos) {
      std::fprintf(stderr, "not key=value: %s\n", argv[a]);
      return 1;
    }
    const std::string key = arg.substr(0, eq);
    const char* value = argv[a] + eq + 1;
    if (key == "offspring")
      p.offspring = std::atoi(value);
    else if (key == "loci")
      p.loci = std::atoi(value);
    else if (key == "alleles")
      p.alleles = std::atoi(value);
    else if (key == "missing")
      p.missing = std::atof(value);
    else if (key == "error")
      p.error = std::atof(value);
    else if (key == "candidates")
      p.candidates = std::atoi(value);
    else if (key == "sexes")
      p.sexes = std::atoi(value);
    else if (key == "inbreeding")
      p.inbreeding = std::atoi(value);
    else if (key == "haplodiploid")
      p.haplodiploid = std::atoi(value);
    else if (key == "method")
      p.method = std::atoi(value);
    else if (key == "family")
      p.family = std::atoi(value);
    else if (key == "seed")
      p.seed = static_cast<unsigned>(std::atol(value));
    else {
      std::fprintf(stderr, "unknown key: %s\n", key.c_str());
      return 1;
    }
  }
  std::ofstream out(argv[1], std::ios::binary);
  out << kinrad::bench::simulated_project(p, "simulated");
  return out ? 0 : 1;
}
