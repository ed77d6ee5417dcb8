// The replicate simulation as a whole: the borrowed slot is put back bit for bit, one seed
// gives one set of thresholds, the early fill, the mothers' copy of the fathers' rows, the
// screen texts, and the number of simulated candidates (nsim = min(10000, round(n / p)),
// worked by hand).
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "pairwise/delta_fixture.hpp"

namespace kinrad::pairtest {
namespace {

using testing_support::ProjectFile;

struct Snapshot {
  std::vector<int2> off, cnd;
  std::vector<int1> ploid;
  std::vector<int4> indivparent, inferparent;
  bool operator==(const Snapshot&) const = default;
};

Snapshot snapshot() {
  const Variables& v = variables;
  Snapshot s;
  s.off.assign(v.indivgtype2tgt.begin(), v.indivgtype2tgt.end());
  s.cnd.assign(v.cndgtype2tgt.begin(), v.cndgtype2tgt.end());
  s.ploid.assign(v.offploid.begin(), v.offploid.end());
  if (v.indivparent.allocated()) s.indivparent.assign(v.indivparent.begin(), v.indivparent.end());
  if (v.inferparent.allocated()) s.inferparent.assign(v.inferparent.begin(), v.inferparent.end());
  return s;
}

class DeltaSimulation : public ::testing::Test {
 protected:
  testing_support::TempWorkDir dir{"deltasim"};

  void SetUp() override { trio_engine_calls = TrioEngineCalls{}; }
  void TearDown() override { trio_engine_calls = TrioEngineCalls{}; }

  static ProjectFile sample(const std::vector<int>& alleles, double error, double missing,
                            int fathers, int mothers, const std::string& haplodiploid = "0") {
    SampleSpec s;
    s.n = 10;
    s.alleles = alleles;
    s.error = error;
    s.missing = missing;
    s.fathers = fathers;
    s.mothers = mothers;
    s.method = "1";
    s.haplodiploid = haplodiploid;
    s.haploid = haplodiploid == "1" ? 0.3 : 0.0;
    return projectof(s);
  }

  static void start(const ProjectFile& p) {
    ASSERT_TRUE(prepare(p.text()));
    random_stream_state = RandomStreamState{};
    variables.idum = -77;
    Simuvariables& sv = simuvariables;
    sv.threshold.allocate(Dim(2), Dim(10));
    sv.threshold2.allocate(Dim(2), Dim(10));
    sv.thresholdh.allocate(Dim(2), Dim(10));
    allocate_delta_memos();
  }

  static std::vector<real8> rows(const FArray<real8, 2>& t) { return {t.begin(), t.end()}; }
};

TEST_F(DeltaSimulation, SimulatedCandidatesPerSex) {
  struct Row {
    int4 candidates;
    real8 sampled;
    int4 expect;
  };
  // 50 / 0.001 = 50000 is capped; 50 / 0.5 = 100; 3 / 0.4 = 7.5 rounds to 8; none: 0.
  const std::vector<Row> table = {{50, 0.001, 10000}, {50, 0.5, 100}, {3, 0.4, 8}, {0, 0.5, 0}};
  for (const Row& r : table) {
    SCOPED_TRACE(std::to_string(r.candidates) + " at " + std::to_string(r.sampled));
    variables.numcandidate(1) = r.candidates;
    variables.propprntsampled(1) = r.sampled;
    EXPECT_EQ(simulated_candidates(1), r.expect);
  }
}

TEST_F(DeltaSimulation, RestoresTheBorrowedSlotAndRepeatsWithOneSeed) {
  start(sample({2, 3, 4, 2, 6, 9}, 0.02, 0.05, 3, 3));
  const Snapshot before = snapshot();
  determinedeltavalue(2);
  EXPECT_TRUE(snapshot() == before);
  EXPECT_FALSE(variables.cndgtype3.allocated());
  EXPECT_FALSE(simuvariables.delta.simoffgtype.allocated());
  const std::vector<real8> first = rows(simuvariables.threshold);
  real8 top = 0.0;
  for (real8 x : first) top = std::max(top, x);
  EXPECT_GT(top, 0.0);
  // Once more from the same seed.
  random_stream_state = RandomStreamState{};
  variables.idum = -77;
  simuvariables.threshold.fill(0.0);
  determinedeltavalue(2);
  EXPECT_EQ(rows(simuvariables.threshold), first);
  EXPECT_TRUE(snapshot() == before);
  // Thresholds fall from 95 % to 50 %.
  for (int4 s = 1; s <= 2; ++s)
    for (int4 m = 2; m <= 10; ++m)
      EXPECT_LE(simuvariables.threshold(s, m), simuvariables.threshold(s, m - 1));
}

// The first replicates against a plain replay of the simulation's draws from the same seed.
// Error-free, complete two-allele data with one candidate of each sex and full sampling: one
// simulated candidate per replicate, no draw for the observation model, so a replicate draws
// the father locus by locus (one ran1 each, Hardy-Weinberg classes 1/1, 1/2, 2/2), then the
// mother, then at each locus the father's transmitted allele (an irbit1 bit: 0 the first place)
// before the mother's, and in an odd replicate one ran1 per locus for the unrelated candidate.
// An even replicate scores its true father alone, so DELTA is its positive log ratio
// ln P(offspring | father) - ln P(offspring), Mendelian transmission worked by hand, and it is
// correct exactly when that ratio is positive.
TEST_F(DeltaSimulation, FirstReplicatesFollowAPlainReplayOfTheDraws) {
  ProjectFile p = sample(std::vector<int>(8, 2), 0.0, 0.0, 1, 1);
  p.proportions = "1 1";
  start(p);
  const Variables& v = variables;
  const int4 nl = v.numloci;
  std::vector<double> p1(static_cast<std::size_t>(nl)), p2(p1);
  for (int4 l = 1; l <= nl; ++l) {
    ASSERT_EQ(v.obsnumallele(l), 2) << "locus " << l;
    p1[static_cast<std::size_t>(l - 1)] = v.obsallelefre(l).a(1);
    p2[static_cast<std::size_t>(l - 1)] = v.obsallelefre(l).a(2);
  }
  ASSERT_EQ(simulated_candidates(1), 1);
  determinedeltavalue(2);
  const Simuvariables::DeltaSimulation& d = simuvariables.delta;
  ASSERT_GE(d.replicatesrun, 20);

  using Pair = std::array<int, 2>;
  auto draw_parent = [&]() {
    std::vector<Pair> g(static_cast<std::size_t>(nl));
    for (std::size_t l = 0; l < g.size(); ++l) {
      const real4 u = ran1();
      if (u <= static_cast<real4>(p1[l] * p1[l]))
        g[l] = {1, 1};
      else if (u <= static_cast<real4>(1.0 - p2[l] * p2[l]))
        g[l] = {1, 2};
      else
        g[l] = {2, 2};
    }
    return g;
  };
  auto freq = [&](std::size_t l, int a) { return a == 1 ? p1[l] : p2[l]; };
  // Expected (DELTA, correct) of the even replicates 2, 4, ..., 20 with the bits taken father
  // first or mother first.
  auto replay = [&](bool fatherfirst) {
    random_stream_state = RandomStreamState{};
    variables.idum = -77;
    std::vector<std::pair<double, int>> out;
    for (int r = 1; r <= 20; ++r) {
      const std::vector<Pair> dad = draw_parent();
      const std::vector<Pair> mum = draw_parent();
      double ratio = 0.0;
      for (std::size_t l = 0; l < dad.size(); ++l) {
        const int b1 = irbit1();
        const int b2 = irbit1();
        const int fromd = dad[l][static_cast<std::size_t>(fatherfirst ? b1 : b2)];
        const int fromm = mum[l][static_cast<std::size_t>(fatherfirst ? b2 : b1)];
        const int o1 = std::min(fromd, fromm), o2 = std::max(fromd, fromm);
        auto t = [&](int a) { return ((dad[l][0] == a) + (dad[l][1] == a)) / 2.0; };
        const double given =
            o1 == o2 ? t(o1) * freq(l, o1) : t(o1) * freq(l, o2) + t(o2) * freq(l, o1);
        const double random = o1 == o2 ? freq(l, o1) * freq(l, o1) : 2 * p1[l] * p2[l];
        ratio += std::log(given / random);
      }
      if (r % 2 == 1) {
        for (std::size_t l = 0; l < dad.size(); ++l) (void)ran1();
      } else {
        out.emplace_back(ratio > 0.0 ? ratio : 0.0, ratio > 0.0 ? 1 : 0);
      }
    }
    return out;
  };
  const auto expected = replay(true);
  const auto mothersfirst = replay(false);
  for (int r = 2; r <= 20; r += 2) {
    SCOPED_TRACE("replicate " + std::to_string(r));
    const auto& e = expected[static_cast<std::size_t>(r / 2 - 1)];
    EXPECT_NEAR(d.deltarep[static_cast<std::size_t>(r)], e.first, 1e-9);
    EXPECT_EQ(d.istruerep[static_cast<std::size_t>(r)], e.second);
  }
  // The pin tells the two orders apart on this sample.
  EXPECT_NE(expected, mothersfirst);
}

TEST_F(DeltaSimulation, EasyDataFillsFromTheTwentyFirstReplicate) {
  // 600 error-free loci of 12 alleles: a true parent leads by far more than 500 log units and
  // an unrelated candidate is excluded at some locus.
  start(sample(std::vector<int>(600, 12), 0.0, 0.0, 3, 3));
  determinedeltavalue(2);
  const Simuvariables::DeltaSimulation& d = simuvariables.delta;
  EXPECT_EQ(d.replicatesrun, 20);
  ASSERT_EQ(d.deltarep.size(), 10001u);
  EXPECT_GT(d.deltarep[2], 500.0);
  for (std::size_t q = 21; q <= 10000; ++q) {
    const bool even = q % 2 == 0;
    ASSERT_EQ(d.deltarep[q], d.deltarep[even ? 2 : 3]) << q;
    ASSERT_EQ(d.istruerep[q], even ? 1 : 0) << q;
  }
}

TEST_F(DeltaSimulation, MothersCopyTheFathersRowsOnlyUnderTheStatedConditions) {
  struct Case {
    std::string name;
    bool knownfather, knownmother;
    int mothers;
    bool copied;
  };
  const std::vector<Case> cases = {
      {"no known parents, equal numbers", false, false, 3, true},
      {"known fathers and mothers", true, true, 3, true},
      {"known fathers only", true, false, 3, false},
      {"no known parents, more mothers", false, false, 5, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // Error-free loci: the engine scores trios there (its routines for loci with typing errors
    // are not part of this build).
    ProjectFile p = sample({2, 3, 4}, 0.0, 0.05, 3, c.mothers);
    p.proportions = "0.9 0.9";  // 3 (or 6) simulated candidates per replicate
    // A known parent's offspring carries the parent's genotype, so the reader accepts it.
    if (c.knownfather) {
      p.offspring[1] = "O2" + p.fathers[0].substr(2);
      p.knownpaternity = "1 0\nO2 M1";
    }
    if (c.knownmother) {
      p.offspring[2] = "O3" + p.mothers[0].substr(2);
      p.knownmaternity = "1 0\nO3 F1";
    }
    start(p);
    const Snapshot before = snapshot();
    variables.displayq = 1;
    testing::internal::CaptureStdout();
    determinedeltavalue(2);
    const std::string screen = testing::internal::GetCapturedStdout();
    variables.displayq = 0;
    EXPECT_EQ(screen.rfind("\nEstimating parentage by pairwise approach-Diploid Offspring...\n"
                           "  Simulating DELTA for Paternity, replication: 1 - 10000\n",
                           0),
              0u)
        << screen.substr(0, 200);
    const bool mothers = screen.find("Maternity") != std::string::npos;
    EXPECT_EQ(mothers, !c.copied);
    if (c.copied) {
      for (int4 m = 1; m <= 10; ++m) {
        EXPECT_EQ(simuvariables.threshold(2, m), simuvariables.threshold(1, m));
        if (c.knownmother) {
          EXPECT_EQ(simuvariables.threshold2(2, m), simuvariables.threshold2(1, m));
        }
      }
    }
    EXPECT_NE(screen.find("\r  Simulation done.\n"), std::string::npos);
    EXPECT_TRUE(snapshot() == before);
  }
}

TEST_F(DeltaSimulation, ASexWithoutCandidatesKeepsItsZeroRow) {
  start(sample({2, 3, 4, 2, 6}, 0.02, 0.05, 0, 3));
  ASSERT_EQ(variables.numcandidate(1), 0);
  determinedeltavalue(2);
  real8 top = 0.0;
  for (int4 m = 1; m <= 10; ++m) {
    EXPECT_EQ(simuvariables.threshold(1, m), 0.0);
    top = std::max(top, simuvariables.threshold(2, m));
  }
  EXPECT_GT(top, 0.0);
}

TEST_F(DeltaSimulation, HaploidOffspringFillOnlyTheMothersRow) {
  start(sample({2, 3, 4, 2, 6}, 0.02, 0.05, 3, 3, "1"));
  const Snapshot before = snapshot();
  determinedeltavalue(1);
  EXPECT_TRUE(snapshot() == before);
  for (int4 m = 1; m <= 10; ++m) EXPECT_EQ(simuvariables.thresholdh(1, m), 0.0);
  real8 top = 0.0;
  for (int4 m = 1; m <= 10; ++m) top = std::max(top, simuvariables.thresholdh(2, m));
  EXPECT_GT(top, 0.0);
}

}  // namespace
}  // namespace kinrad::pairtest
