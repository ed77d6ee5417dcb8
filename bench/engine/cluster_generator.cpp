#include "engine/cluster_generator.hpp"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <vector>

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

std::string simulate_cluster(const SimSpec& s) {
  std::mt19937 rng(s.seed);
  auto allele = [&] { return std::uniform_int_distribution<int>(1, s.alleles)(rng); };
  auto coin = [&] { return std::uniform_int_distribution<int>(0, 1)(rng); };
  using G = std::vector<std::vector<int>>;  // per locus: two alleles
  auto parent = [&] {
    G g(static_cast<size_t>(s.loci));
    for (auto& x : g) x = {allele(), allele()};
    return g;
  };
  std::vector<G> fathers, mothers, offspring;
  for (int i = 0; i < s.fathers; ++i) fathers.push_back(parent());
  for (int j = 0; j < s.mothers; ++j) mothers.push_back(parent());
  std::vector<std::array<int, 2>> pairs = s.pairs;
  if (pairs.empty())
    for (int i = 1; i <= s.fathers; ++i)
      for (int j = 1; j <= s.mothers; ++j) pairs.push_back({i, j});
  for (const auto& [i, j] : pairs) {
    for (int k = 0; k < s.offspring_per_family; ++k) {
      G g(static_cast<size_t>(s.loci));
      for (size_t l = 0; l < g.size(); ++l)
        g[l] = {fathers[size_t(i - 1)][l][size_t(coin())],
                mothers[size_t(j - 1)][l][size_t(coin())]};
      offspring.push_back(g);
    }
  }
  for (int u = 0; u < s.unrelated; ++u) offspring.push_back(parent());

  const std::string dir =
      (std::filesystem::temp_directory_path() /
       ("kinrad_bench_" + std::to_string(::getpid()) + "_" + std::to_string(s.seed)))
          .string();
  std::filesystem::create_directories(dir);
  std::filesystem::current_path(dir);
  std::ofstream out("kinrad2.dat");
  out << "Bench\nbench\n"
      << offspring.size() << "\n"
      << s.loci << "\n1234\n0\n2\n0\n0\n0 0\n0\n0\n0\n0\n1\n1\n0\n1000\n0\n1\n"
      << bench_precision() << "\n@\n";
  for (int l = 0; l < s.loci; ++l) out << (s.dominant ? "1 " : "0 ");
  out << "\n";
  for (int l = 0; l < s.loci; ++l) out << s.droprate << " ";
  out << "\n";
  for (int l = 0; l < s.loci; ++l) out << s.otherrate << " ";
  out << "\n";
  for (size_t i = 0; i < offspring.size(); ++i) {
    out << "O" << i + 1;
    for (const auto& x : offspring[i]) {
      if (s.dominant)
        out << " " << (x[0] == 1 || x[1] == 1 ? 1 : 2);
      else
        out << " " << x[0] << " " << x[1];
    }
    out << "\n";
  }
  out << "0.5 0.5\n0 0\n0 0\n0 0\n0\n0\n0\n0\n0\n0\n";
  out.close();

  reset_all_modules();
  variables.displayq = 0;
  variables.showversion = 0;
  prepare_analysis({.quiet = true, .check_data = false, .named_phases = false});

  Variables& v = variables;
  setfamilystruc(v.smplsize, std::max(s.fathers, s.mothers));
  v.nparent(1) = s.fathers;
  v.nparent(2) = s.mothers;
  v.nchild.fill(0);
  int next = 1;
  for (const auto& [i, j] : pairs) {
    std::vector<int4> members;
    for (int k = 0; k < s.offspring_per_family; ++k) members.push_back(next++);
    v.nchild(i, j) = static_cast<int2>(members.size());
    setfamilymembers(i, j, members);
  }
  int4 status = 0;
  preparevariable(status, 0, 0, 0);
  return dir;
}

}  // namespace kinrad::bench
