#pragma once
// Random samples written as project input files and prepared by the real reader, data
// preparation and per-analysis set-up (which builds the dyad tables), and a direct
// double-precision oracle for any dyad table entry.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "core/error_stop.hpp"
#include "core/modules.hpp"
#include "core/packed_genotypes.hpp"
#include "input/input.hpp"
#include "input/project_file.hpp"
#include "model/model.hpp"
#include "pairwise/pairwise.hpp"
#include "pairwise/pairwise_internal.hpp"
#include "program/prepare_analysis.hpp"
#include "support/module_reset.hpp"
#include "support/temp_dir.hpp"

namespace kinrad::pairtest {

struct SampleSpec {
  int n = 40;
  std::vector<int> alleles{2, 2, 3, 5, 12};  // per locus
  std::vector<int> dominant{};               // loci (1-based) that are dominant (2 alleles)
  double missing = 0.1;
  double error = 0.01;
  int fathers = 4;
  int mothers = 4;
  std::string sexes = "2";
  std::string inbreeding = "0";
  std::string haplodiploid = "0";
  std::string matings = "0 0";
  std::string method = "2";  // both scores: every table is built
  double haploid = 0.0;      // share of haploid offspring (haplodiploid species)
  unsigned seed = 1;
};

// One genotype line per individual: allele labels 101.., "0 0" missing, "a -99" haploid; a
// dominant locus shows phenotype 1 or 2 (0 missing).
inline std::string genotypeline(const std::string& id, const SampleSpec& s, std::mt19937& rng,
                                bool haploid) {
  std::string line = id;
  std::uniform_real_distribution<double> u(0.0, 1.0);
  for (std::size_t l = 0; l < s.alleles.size(); ++l) {
    const bool dom =
        std::find(s.dominant.begin(), s.dominant.end(), int(l + 1)) != s.dominant.end();
    // The first locus is always typed so that a haploid line shows its ploidy.
    const bool miss = l > 0 && u(rng) < s.missing;
    if (dom) {
      line += miss ? " 0" : (u(rng) < 0.5 ? " 1" : " 2");
      continue;
    }
    std::uniform_int_distribution<int> pick(1, s.alleles[l]);
    if (miss) {
      line += " 0 0";
    } else if (haploid) {
      line += " " + std::to_string(100 + pick(rng)) + " -99";
    } else {
      line += " " + std::to_string(100 + pick(rng)) + " " + std::to_string(100 + pick(rng));
    }
  }
  return line;
}

inline readtest::ProjectFile projectof(const SampleSpec& s) {
  std::mt19937 rng(s.seed);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  readtest::ProjectFile p;
  p.loci = static_cast<int>(s.alleles.size());
  p.sexes = s.sexes;
  p.inbreeding = s.inbreeding;
  p.haplodiploid = s.haplodiploid;
  p.matings = s.matings;
  p.method = s.method;
  p.markertypes.clear();
  p.droprates.clear();
  p.otherrates.clear();
  for (std::size_t l = 0; l < s.alleles.size(); ++l) {
    const bool dom =
        std::find(s.dominant.begin(), s.dominant.end(), int(l + 1)) != s.dominant.end();
    p.markertypes += dom ? "1 " : "0 ";
    p.droprates += std::to_string(s.error) + " ";
    p.otherrates += std::to_string(s.error) + " ";
  }
  for (int i = 1; i <= s.n; ++i) {
    // Haploid offspring come first, so that both kinds are present whatever the seed.
    const bool haploid = i <= static_cast<int>(s.haploid * s.n + 0.5);
    p.offspring.push_back(genotypeline("O" + std::to_string(i), s, rng, haploid));
  }
  for (int c = 1; c <= s.fathers; ++c)
    p.fathers.push_back(genotypeline("M" + std::to_string(c), s, rng, false));
  for (int c = 1; c <= s.mothers; ++c)
    p.mothers.push_back(genotypeline("F" + std::to_string(c), s, rng, false));
  if (s.sexes == "1") p.mothers = p.fathers;  // one parent pool, listed for both roles
  return p;
}

// Reads, prepares and sets up the project (building the dyad tables, or reading the caches
// left by an earlier call when keepcaches is set). False after a test
// failure naming the error file when the program stopped.
inline bool prepare(const std::string& text, bool setup = true, bool keepcaches = false) {
  reset_all_modules();
  // Caches of an earlier sample under the same stem would be read as this sample's.
  if (!keepcaches)
    for (const auto& e : std::filesystem::directory_iterator("."))
      if (e.path().filename().string().rfind("myout", 0) == 0) std::filesystem::remove(e.path());
  testing_support::write_text("kinrad2.dat", text);
  testing::internal::CaptureStdout();
  bool ok = true;
  try {
    prepare_analysis({.quiet = true, .check_data = false, .tables = setup, .named_phases = false});
  } catch (const ProgramStop& stop) {
    report_program_stop(stop, 0);
    ADD_FAILURE() << testing_support::read_text("Kinrad2.ErrorMessage");
    ok = false;
  }
  testing::internal::GetCapturedStdout();
  return ok;
}

using Delta = std::array<real8, 9>;

// Identity coefficients of each table type, written out from the relationship definitions.
inline Delta deltaof(int type) {
  const real8 x = variables.haplodiploid == 1 ? 0.0 : 0.25;
  switch (type) {
    case 1:
      return {0, 0, 0, 0, 0, 0, 0.5 - x, 0.5, x};
    case 2:
      return {0, 0, 0, 0, 0, 0, 0, 1 - 2 * x, 2 * x};
    case 3:
      return {0, 0, 0, 0, 0, 0, 0, 0.5, 0.5};
    case 4:
      return {0, 0, 0.25, 0.25, 0, 0, 0, 0.5, 0};
    case 5:
      return {0.125, 0.125, 0.25, 0, 0.25, 0, 0.25, 0, 0};
    case 6:
      return {0, 0, 0.5, 0, 0, 0, 0.5, 0, 0};
    default:
      return {0, 0, 0, 0, 0, 0, 0, 1, 0};
  }
}

// Genotype alleles of offspring i (cand = 0) or of candidate i of sex cand at locus l.
inline std::array<int4, 2> allelesof(int cand, int i, int4 l) {
  const Variables& v = variables;
  int2 g = 0;
  if (cand == 0) {
    setgetgtype.locusgtypeptr = v.indivgtype2(l).a;
    getgtype(g, i, v.obsnumallele(l));
  } else {
    setgetgtype.locusgtypeptr = v.cndgtype2(l).a;
    getgtype(g, (cand == 2 ? v.numcandidate(1) : 0) + i, v.obsnumallele(l));
  }
  return {v.genotypeid(1, g), v.genotypeid(2, g)};
}

struct Oracle {
  real8 value = 0.0;  // the sum of ln P over the polymorphic loci
  real8 scale = 0.0;  // the sum of |ln P|, for a relative tolerance per locus
  bool impossible = false;
};

// The dyad log likelihood of member A (offspring a) and member B (offspring b, or candidate b
// of sex bsex) under the given coefficients: ln of the joint probability at every locus with
// two or more alleles, or of the typed member's single probability (inbreeding 0.5 for a
// member that the coefficients make autozygous) when the other is untyped.
inline Oracle dyadoracle(const Delta& d, int a, int bsex, int b, int bploidy) {
  const Variables& v = variables;
  const real8 fa = d[2] >= 0.1 ? 0.5 : 0.0;
  const real8 fb = d[4] >= 0.1 ? 0.5 : 0.0;
  Oracle o;
  for (int4 l = 1; l <= v.numloci; ++l) {
    if (v.obsnumallele(l) < 2) continue;
    const std::array<int4, 2> ga = allelesof(0, a, l);
    std::array<int4, 2> gb = allelesof(bsex, b, l);
    if (bploidy == 1) gb[1] = 0;
    real8 p = 1.0;
    if (ga[0] == 0) {
      probsinglegtype(fb, bploidy, l, gb.data(), p);
    } else if (gb[0] == 0) {
      probsinglegtype(fa, 2, l, ga.data(), p);
    } else {
      p = prbpdyad(ga[0], ga[1], gb[0], gb[1], d, l, 0);
    }
    if (!(p > 0.0)) {
      o.impossible = true;
      continue;
    }
    o.value += std::log(p);
    o.scale += std::fabs(std::log(p));
  }
  return o;
}

inline void expect_entry(real4 entry, const Oracle& o, const std::string& what) {
  if (o.impossible) {
    EXPECT_EQ(entry, -1e38f) << what;
    return;
  }
  EXPECT_NEAR(entry, o.value, 1e-5 * o.scale + 1e-6) << what;
}

class PairTest : public testing_support::ModuleReset {
 protected:
  testing_support::TempWorkDir dir{"pairwise"};
};

}  // namespace kinrad::pairtest
