#include "simulated_sample.hpp"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace kinrad::bench {

namespace {

using Genotype = std::vector<std::pair<int, int>>;  // allele numbers 1..k; second 0 haploid

struct Model {
  std::vector<std::vector<double>> freq;
  std::mt19937_64 rng;
  double uniform() { return std::uniform_real_distribution<double>(0.0, 1.0)(rng); }
  int below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); }
};

std::vector<double> dirichlet(Model& m, int k) {
  std::gamma_distribution<double> g(1.0, 1.0);
  for (;;) {
    std::vector<double> f(static_cast<std::size_t>(k));
    double s = 0.0;
    for (double& x : f) s += (x = g(m.rng));
    for (double& x : f) x /= s;
    if (*std::min_element(f.begin(), f.end()) >= 0.01) return f;
  }
}

int drawallele(Model& m, std::size_t l) {
  std::discrete_distribution<int> d(m.freq[l].begin(), m.freq[l].end());
  return d(m.rng) + 1;
}

Genotype founder(Model& m, bool haploid) {
  Genotype g(m.freq.size());
  for (std::size_t l = 0; l < g.size(); ++l)
    g[l] = {drawallele(m, l), haploid ? 0 : drawallele(m, l)};
  return g;
}

Genotype child(Model& m, const Genotype& dad, const Genotype& mum, bool haploid) {
  Genotype g(dad.size());
  auto pick = [&](const std::pair<int, int>& p) {
    return p.second == 0 || m.uniform() < 0.5 ? p.first : p.second;
  };
  for (std::size_t l = 0; l < g.size(); ++l)
    g[l] = haploid ? std::pair{pick(mum[l]), 0} : std::pair{pick(dad[l]), pick(mum[l])};
  return g;
}

// A haploid candidate father is written as a homozygote: the project file codes haploidy for
// offspring only.
std::string observed(Model& m, const SampleParameters& p, const Genotype& g,
                     bool candidate = false) {
  std::string s;
  for (std::size_t l = 0; l < g.size(); ++l) {
    // The first locus is always typed, so that no individual is without data.
    if (l > 0 && m.uniform() < p.missing) {
      s += " 0 0";
      continue;
    }
    int a = g[l].first, b = g[l].second;
    if (b == 0) {
      if (m.uniform() < p.error) a = m.below(p.alleles) + 1;
      s += " " + std::to_string(100 + a) + (candidate ? " " + std::to_string(100 + a) : " -99");
      continue;
    }
    if (a != b && m.uniform() < 2.0 * p.error / (1.0 + p.error)) a = b = m.uniform() < 0.5 ? a : b;
    if (m.uniform() < p.error) a = m.below(p.alleles) + 1;
    if (m.uniform() < p.error) b = m.below(p.alleles) + 1;
    s += " " + std::to_string(100 + std::min(a, b)) + " " + std::to_string(100 + std::max(a, b));
  }
  return s;
}

}  // namespace

bool set_sample_key(SampleParameters& p, const std::string& arg) {
  const auto eq = arg.find('=');
  if (eq == std::string::npos) return false;
  const std::string key = arg.substr(0, eq);
  const char* value = arg.c_str() + eq + 1;
  const auto whole = [value] { return std::atoi(value); };
  if (key == "offspring")
    p.offspring = whole();
  else if (key == "loci")
    p.loci = whole();
  else if (key == "alleles")
    p.alleles = whole();
  else if (key == "missing")
    p.missing = std::atof(value);
  else if (key == "error")
    p.error = std::atof(value);
  else if (key == "candidates")
    p.candidates = whole();
  else if (key == "parents")
    p.parents = whole();
  else if (key == "sexes")
    p.sexes = whole();
  else if (key == "inbreeding")
    p.inbreeding = whole();
  else if (key == "haplodiploid")
    p.haplodiploid = whole();
  else if (key == "method")
    p.method = whole();
  else if (key == "family")
    p.family = whole();
  else if (key == "seed")
    p.seed = static_cast<unsigned>(std::atol(value));
  else
    return false;
  return true;
}

std::string sample_keys() {
  const SampleParameters d;
  char buf[1200];
  std::snprintf(buf, sizeof buf,
                "  offspring=%-9d offspring in the sample\n"
                "  loci=%-14d loci\n"
                "  alleles=%-11d alleles per locus (2: SNPs)\n"
                "  missing=%-11g share of untyped genotypes\n"
                "  error=%-13g dropout and other-error rate of every locus\n"
                "  candidates=%-8d candidate parents per sex\n"
                "  parents=%-11d parent pool per sex (0: twice the candidates, at least 2)\n"
                "  sexes=%-13d 2 dioecious, 1 monoecious\n"
                "  inbreeding=%-8d 1: selfing allowed\n"
                "  haplodiploid=%-6d 1: haploid sons and haploid fathers\n"
                "  method=%-12d 0 pairwise score, 1 full likelihood, 2 both\n"
                "  family=%-12d mean full-sib family size\n"
                "  seed=%-14u random seed\n",
                d.offspring, d.loci, d.alleles, d.missing, d.error, d.candidates, d.parents,
                d.sexes, d.inbreeding, d.haplodiploid, d.method, d.family, d.seed);
  return buf;
}

std::string simulated_project(const SampleParameters& p, const std::string& stem,
                              TruePedigree* truth) {
  Model m;
  m.rng.seed(p.seed);
  for (int l = 0; l < p.loci; ++l) m.freq.push_back(dirichlet(m, p.alleles));
  const bool hd = p.haplodiploid == 1;

  // Parents: by default one per candidate slot plus as many unsampled ones, mated at random.
  const int nparents = p.parents > 0 ? p.parents : std::max(2, 2 * p.candidates);
  std::vector<Genotype> dads, mums;
  for (int k = 0; k < nparents; ++k) {
    dads.push_back(founder(m, hd));
    mums.push_back(p.sexes == 1 ? dads.back() : founder(m, false));
  }
  std::vector<std::string> offspring;
  std::poisson_distribution<int> size(std::max(1, p.family) - 1);
  while (static_cast<int>(offspring.size()) < p.offspring) {
    const int f = m.below(nparents);
    const int mo = m.below(nparents);
    const int n = 1 + size(m.rng);
    for (int k = 0; k < n && static_cast<int>(offspring.size()) < p.offspring; ++k) {
      const bool haploid = hd && m.uniform() < 0.3;
      const Genotype g = child(
          m, dads[static_cast<std::size_t>(f)],
          p.sexes == 1 ? dads[static_cast<std::size_t>(mo)] : mums[static_cast<std::size_t>(mo)],
          haploid);
      offspring.push_back("O" + std::to_string(offspring.size() + 1) + observed(m, p, g));
      if (truth != nullptr) {
        // Parent slot k is candidate k + 1 when k is even and below the candidate count (the
        // slot is below the pool size by construction).
        auto sampled = [&p](int slot) {
          return slot % 2 == 0 && slot < p.candidates ? slot + 1 : 0;
        };
        truth->father.push_back(f + 1);
        truth->mother.push_back(mo + 1);
        truth->fathercandidate.push_back(sampled(f));
        truth->mothercandidate.push_back(sampled(mo));
      }
    }
  }
  // Candidates: half of them true parents, half unrelated.
  auto candidates = [&](const std::vector<Genotype>& parents, const char* prefix, bool haploid) {
    std::vector<std::string> c;
    for (int k = 0; k < p.candidates; ++k) {
      const Genotype g =
          k % 2 == 0 && k < nparents ? parents[static_cast<std::size_t>(k)] : founder(m, haploid);
      c.push_back(prefix + std::to_string(k + 1) + observed(m, p, g, true));
    }
    return c;
  };
  const std::vector<std::string> males = candidates(dads, p.sexes == 1 ? "P" : "M", hd);
  const std::vector<std::string> females = p.sexes == 1 ? males : candidates(mums, "F", false);

  std::string s = "Simulated\n" + stem + "\n" + std::to_string(p.offspring) + "\n" +
                  std::to_string(p.loci) + "\n1234\n0\n" + std::to_string(p.sexes) + "\n" +
                  std::to_string(p.inbreeding) + "\n" + std::to_string(p.haplodiploid) +
                  "\n0 0\n0\n0\n0\n0\n1\n1\n0\n1000\n0\n" + std::to_string(p.method) +
                  "\n1\n@\n0@\n";
  const std::string rate = std::to_string(p.error);
  std::string rates;
  for (int l = 0; l < p.loci; ++l) rates += rate + " ";
  s += rates + "\n" + rates + "\n";
  for (const auto& o : offspring) s += o + "\n";
  s += "0.5 0.5\n" + std::to_string(males.size()) + " " + std::to_string(females.size()) + "\n";
  for (const auto& c : males) s += c + "\n";
  for (const auto& c : females) s += c + "\n";
  s += "0 0\n0 0\n0\n0\n0\n0\n0\n0\n";
  return s;
}

ScratchProject::ScratchProject(const std::string& name, const SampleParameters& p)
    : dir_(std::filesystem::temp_directory_path() /
           ("kinrad_bench_" + name + "_" + std::to_string(::getpid()))) {
  std::filesystem::create_directories(dir_);
  std::filesystem::current_path(dir_);
  std::ofstream out("kinrad2.dat", std::ios::binary);
  out << simulated_project(p, "bench");
}

ScratchProject::~ScratchProject() {
  std::error_code ec;
  std::filesystem::current_path(std::filesystem::temp_directory_path(), ec);
  std::filesystem::remove_all(dir_, ec);
}

}  // namespace kinrad::bench
