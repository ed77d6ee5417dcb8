#pragma once
// The 12-offspring fixture of the checkpoint and self-check tests: a dioecious sample typed at
// two error-free codominant loci (2 and 3 alleles), 2 candidate fathers and 10 candidate
// mothers, with a current and a best configuration written out by hand. Every candidate that
// the configurations assign is heterozygous 1/2 at both loci, and the offspring carry alleles
// 1 and 2 only, so every cluster of these configurations has a likelihood (allele 3 is seen in
// the unassigned mother M5 only).
#include <gtest/gtest.h>

#include <array>
#include <random>
#include <string>
#include <vector>

#include "configuration/configuration.hpp"
#include "core/modules.hpp"
#include "model/model.hpp"
#include "support/prepare.hpp"

namespace kinrad::test {

inline constexpr int4 kFixtureN = 12;
// Current configuration: paternal family, maternal family, cluster; assigned father, mother.
inline constexpr std::array<int4, 12> kCur1{1, 1, 1, 2, 2, 3, 4, 4, 5, 6, 6, 7};
inline constexpr std::array<int4, 12> kCur2{1, 1, 2, 3, 3, 4, 5, 5, 6, 7, 7, 8};
inline constexpr std::array<int4, 12> kCur3{1, 1, 1, 2, 2, 3, 4, 4, 5, 6, 6, 7};
inline constexpr std::array<int4, 12> kCurP1{2, 2, 2, 0, 0, 0, 0, 0, 0, 1, 1, 0};
inline constexpr std::array<int4, 12> kCurP2{0, 0, 3, 0, 0, 0, 0, 0, 0, 0, 0, 10};
// Best configuration: offspring 4 joins father 1 with mother 2; offspring 5 stays alone.
inline constexpr std::array<int4, 12> kBest1{1, 1, 1, 1, 2, 3, 4, 4, 5, 6, 6, 7};
inline constexpr std::array<int4, 12> kBest2{1, 1, 2, 2, 3, 4, 5, 5, 6, 7, 7, 8};
inline constexpr std::array<int4, 12> kBest3{1, 1, 1, 1, 2, 3, 4, 4, 5, 6, 6, 7};
inline constexpr std::array<int4, 12> kBestP1{2, 2, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0};
inline constexpr std::array<int4, 12> kBestP2{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};

inline testing_support::ProjectFile checkpoint_project(const std::string& update = "1") {
  testing_support::ProjectFile p;
  p.loci = 2;
  p.markerids = "L1 L2";
  p.markertypes = "0 0";
  p.droprates = "0 0";
  p.otherrates = "0 0";
  p.update = update;
  std::mt19937 rng(31031);
  std::uniform_int_distribution<int> allele(1, 2);
  for (int i = 1; i <= kFixtureN; ++i) {
    std::string r = "O" + std::to_string(i);
    for (int k = 0; k < 4; ++k) r += " " + std::to_string(allele(rng));
    p.offspring.push_back(r);
  }
  p.fathers = {"F1 1 2 1 2", "F2 1 2 1 2"};
  for (int k = 1; k <= 10; ++k)
    p.mothers.push_back("M" + std::to_string(k) + (k == 5 ? " 1 2 3 3" : " 1 2 1 2"));
  return p;
}

inline void put_columns(FArray<int4, 2>& loc, const std::array<int4, 12>& a,
                        const std::array<int4, 12>& b, const std::array<int4, 12>& c) {
  if (!loc.allocated()) loc.allocate(Dim(kFixtureN), Dim(3));
  for (int4 i = 1; i <= kFixtureN; ++i) {
    loc(i, 1) = a[static_cast<std::size_t>(i - 1)];
    loc(i, 2) = b[static_cast<std::size_t>(i - 1)];
    loc(i, 3) = c[static_cast<std::size_t>(i - 1)];
  }
}

inline void put_parents(FArray<int4, 2>& par, const std::array<int4, 12>& a,
                        const std::array<int4, 12>& b) {
  if (!par.allocated()) par.allocate(Dim(kFixtureN), Dim(2));
  for (int4 i = 1; i <= kFixtureN; ++i) {
    par(i, 1) = a[static_cast<std::size_t>(i - 1)];
    par(i, 2) = b[static_cast<std::size_t>(i - 1)];
  }
}

// Both configurations of the fixture into module state.
inline void set_fixture_configurations() {
  auto& v = variables;
  put_columns(v.crindivloc, kCur1, kCur2, kCur3);
  put_parents(v.inferparent, kCurP1, kCurP2);
  put_columns(v.btindivloc, kBest1, kBest2, kBest3);
  put_parents(v.btinferparent, kBestP1, kBestP2);
  v.crnumfamily(1) = 7;
  v.crnumfamily(2) = 8;
  v.crnumfamily(3) = 7;
  v.btnumfamily = v.crnumfamily;
}

// The fixture's allele frequencies (chosen, not observed).
inline void set_fixture_frequencies() {
  auto& v = variables;
  const real8 f1[] = {0.25, 0.75}, f2[] = {0.5, 0.3, 0.2};
  for (int4 a = 1; a <= 2; ++a) v.obsallelefre(1).a(a) = f1[a - 1];
  for (int4 a = 1; a <= 3; ++a) v.obsallelefre(2).a(a) = f2[a - 1];
  if (v.locus2.allocated() && v.locus2(0) > 0) computegtypefre(0, 0);
}

// The run state and search-wide scalars of the fixture.
inline void set_fixture_scalars(CheckpointRunState& st) {
  auto& v = variables;
  v.crloglikelihood = -123.456;
  v.btloglikelihood = -120.25;
  v.krun = 2;
  annealvariables.rate = 0.92;
  v.idum3 = -1234;
  v.idum2 = 987654321;
  for (int4 k = 1; k <= 32; ++k) v.idumiv(k) = 1001 * k;
  v.idumiy = 55555;
  v.date2(1) = "20261210";
  v.time2(1) = "065512.345";
  v.timespent(1) = 1.5;
  v.timespent(2) = 0.25;
  v.inbreeding = 0.0625;
  v.likelihoodprecision = 2;
  v.prec1 = 0.5;
  v.prec2 = 0.5;
  v.prec3 = 0.125;
  st.temperature = 12.5;
  st.withinfactor = 0.75;
  st.numiterate = 5000000000LL;
  st.monitorword = 3;
  st.nsucc = 17;
  st.newbestcount = 4;
  st.nfail1 = 250;
  st.nfail2 = 1234567890123LL;
  st.itr = 42;
  st.tmr = 7;
  st.monitorcounters = {1, 2, 3};
  st.progresslog = {64, 128};
  st.progressstep = 0.5;
  st.updatecount = 9;
  st.acceptrun = 11;
  st.bestrun = 5;
  st.prescreenpass = 10.0;
  st.prescreencount = 40.0;
  st.lociscale = 3.5;
  st.prescreencounts = {1.0, 2.0, 3.0, 4.0};
  st.moveweight.allocate(Dim(kFixtureN), Dim(2));
  for (int4 i = 1; i <= kFixtureN; ++i) {
    st.moveweight(i, 1) = 1000 + i;
    st.moveweight(i, 2) = 1000 + 2 * i;
  }
  st.newbestdiff = 3.0;
  st.maxbestgain = 0.015625;
}

// Appends the configuration seen through the given tables to the archive's tail, unsorted.
inline void archive_append(FArray<int4, 2>& loc, FArray<int4, 2>& par, real8 logl, int4 nclust) {
  auto& v = variables;
  v.indivlocprt = loc.view();
  v.inferparentprt = par.view();
  v.loglikelihoodprt = &logl;
  newconfig(nclust);
  if (v.configtail == nullptr)
    v.confighead = v.configptr;
  else
    v.configtail->next = v.configptr;
  v.configtail = v.configptr;
  v.configptr = nullptr;
}

}  // namespace kinrad::test
