#pragma once
// Simulated samples of any size written as project input files, with the model of the
// example project's generator: unequal allele frequencies (none below 1%), parents drawn from
// them, full-sib families of random parent pairs, offspring inheriting one allele of each
// parent, then allelic dropout (a heterozygote seen as a homozygote with probability
// 2d/(1 + d)), other errors (an allele replaced by a uniformly drawn one with probability e)
// and missing loci. Candidates are some true parents plus unrelated individuals: candidate k
// (k odd) is parent k of the pool when the pool holds that many, else unrelated.
#include <filesystem>
#include <string>
#include <vector>

namespace kinrad::bench {

struct SampleParameters {
  int offspring = 1000;
  int loci = 200;
  int alleles = 2;        // per locus (2: SNPs)
  double missing = 0.02;  // share of untyped (individual, locus) genotypes
  double error = 0.01;    // dropout and other-error rate of every locus
  int candidates = 100;   // per sex
  int parents = 0;        // parent pool per sex; 0: twice the candidates (at least 2)
  int sexes = 2;          // 2 dioecious, 1 monoecious
  int inbreeding = 0;     // 1: selfing allowed (one parent pool)
  int haplodiploid = 0;   // 1: haploid sons and haploid fathers
  int method = 2;         // 0 pairwise score, 1 full likelihood, 2 both
  int family = 10;        // mean full-sib family size
  unsigned seed = 20240611;
};

// The true pedigree of a simulated sample: per offspring (from element 0) the number of its
// father and of its mother among the simulated parents (1-based; in one parent pool both name
// the one pool) and the candidate number of each when that parent was sampled, else 0.
struct TruePedigree {
  std::vector<int> father, mother;
  std::vector<int> fathercandidate, mothercandidate;
};

// Sets the parameter named by a "key=value" argument; false (p unchanged) for an argument that
// is not key=value or names no parameter. sample_keys: the keys with their defaults, one a line.
bool set_sample_key(SampleParameters& p, const std::string& arg);
std::string sample_keys();

// The text of a project input file with output stem `stem`; with `truth` given, the pedigree
// it was drawn from.
std::string simulated_project(const SampleParameters& p, const std::string& stem,
                              TruePedigree* truth = nullptr);

// A scratch folder under the system's temporary directory, named after the benchmark and the
// process, made the current directory with the simulated project of p written as kinrad2.dat
// (output stem "bench"); leaving the scope returns to the temporary directory and removes it.
class ScratchProject {
 public:
  ScratchProject(const std::string& name, const SampleParameters& p);
  ~ScratchProject();
  ScratchProject(const ScratchProject&) = delete;
  ScratchProject& operator=(const ScratchProject&) = delete;

 private:
  std::filesystem::path dir_;
};

}  // namespace kinrad::bench
