#include "engine/one_sex_cluster.hpp"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

#include "core/modules.hpp"
#include "core/modules/variables.hpp"
#include "input/input.hpp"
#include "likelihood/likelihood.hpp"
#include "model/model.hpp"
#include "program/prepare_analysis.hpp"

namespace kinrad::bench {

namespace {
// The likelihood precision of the simulated project: KINRAD_BENCH_PRECISION (0 to 3), else 3.
int bench_precision() {
  const char* e = std::getenv("KINRAD_BENCH_PRECISION");
  if (e == nullptr || e[0] < '0' || e[0] > '3' || e[1] != '\0') return 3;
  return e[0] - '0';
}
}  // namespace

std::string simulate_one_sex_cluster(const OneSexSpec& s) {
  std::mt19937 rng(s.seed);
  auto allele = [&] { return std::uniform_int_distribution<int>(1, s.alleles)(rng); };
  auto coin = [&] { return std::uniform_int_distribution<int>(0, 1)(rng); };
  using G = std::vector<std::array<int, 2>>;
  std::vector<G> ind(static_cast<size_t>(s.individuals + 1));
  for (auto& g : ind) {
    g.resize(static_cast<size_t>(s.loci));
    for (auto& x : g) x = {allele(), allele()};
  }
  std::vector<G> offspring;
  for (const auto& f : s.families) {
    for (int k = 0; k < s.offspring_per_family; ++k) {
      G g(static_cast<size_t>(s.loci));
      for (size_t l = 0; l < g.size(); ++l)
        g[l] = {ind[size_t(f[0])][l][size_t(coin())], ind[size_t(f[1])][l][size_t(coin())]};
      offspring.push_back(g);
    }
  }
  for (int u = 0; u < s.unrelated; ++u) {
    G g(static_cast<size_t>(s.loci));
    for (auto& x : g) x = {allele(), allele()};
    offspring.push_back(g);
  }

  const std::string dir =
      (std::filesystem::temp_directory_path() /
       ("kinrad_bench1_" + std::to_string(::getpid()) + "_" + std::to_string(s.seed)))
          .string();
  std::filesystem::create_directories(dir);
  std::filesystem::current_path(dir);
  std::ofstream out("kinrad2.dat");
  out << "Bench\nbench\n"
      << offspring.size() << "\n"
      << s.loci << "\n1234\n0\n1\n"
      << (s.selfing ? 1 : 0) << "\n0\n0 0\n0\n0\n0\n0\n1\n1\n0\n1000\n0\n1\n"
      << bench_precision() << "\n@\n";
  for (int l = 0; l < s.loci; ++l) out << "0 ";
  out << "\n";
  for (int l = 0; l < s.loci; ++l) out << s.droprate << " ";
  out << "\n";
  for (int l = 0; l < s.loci; ++l) out << s.otherrate << " ";
  out << "\n";
  for (size_t i = 0; i < offspring.size(); ++i) {
    out << "O" << i + 1;
    for (const auto& x : offspring[i]) out << " " << x[0] << " " << x[1];
    out << "\n";
  }
  out << "0.5 0.5\n0 0\n0 0\n0 0\n0\n0\n0\n0\n0\n0\n";
  out.close();

  reset_all_modules();
  variables.displayq = 0;
  variables.showversion = 0;
  prepare_analysis({.quiet = true, .check_data = false, .named_phases = false});
  Variables& v = variables;
  if (s.selfing && v.inbreeding != s.inbreeding) {
    v.inbreeding = s.inbreeding;
    if (v.locus2gtypefre.allocated()) computegtypefre(0, 0);
  }

  // Role numbers: fathers and mothers in order of first appearance.
  std::vector<int> frole(static_cast<size_t>(s.individuals + 1), 0);
  std::vector<int> mrole(static_cast<size_t>(s.individuals + 1), 0);
  int nf = 0, nm = 0;
  for (const auto& f : s.families) {
    if (frole[size_t(f[0])] == 0) frole[size_t(f[0])] = ++nf;
    if (mrole[size_t(f[1])] == 0) mrole[size_t(f[1])] = ++nm;
  }
  setfamilystruc(v.smplsize, std::max(nf, nm));
  v.nparent(1) = nf;
  v.nparent(2) = nm;
  v.nchild.fill(0);
  int next = 1;
  for (const auto& f : s.families) {
    std::vector<int4> members;
    for (int k = 0; k < s.offspring_per_family; ++k) members.push_back(next++);
    v.nchild(frole[size_t(f[0])], mrole[size_t(f[1])]) = static_cast<int2>(members.size());
    setfamilymembers(frole[size_t(f[0])], mrole[size_t(f[1])], members);
  }
  for (int i = 1; i <= s.individuals; ++i) {
    if (frole[size_t(i)] > 0 && mrole[size_t(i)] > 0) {
      v.parentjdx(frole[size_t(i)], 1) = mrole[size_t(i)];
      v.parentjdx(mrole[size_t(i)], 2) = frole[size_t(i)];
    }
  }
  int4 status = 0;
  preparevariable(status, 0, 0, 0);
  return dir;
}

}  // namespace kinrad::bench
