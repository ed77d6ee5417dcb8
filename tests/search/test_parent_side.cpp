// The parent-side moves on configurations put into a real run (simulated samples, the search's
// own set-up): the reversal's renumbering on a hand-made example (expected ids worked out by
// hand), its refusals and its chance of being tried (predicted from a copy of the search stream),
// the stored cluster value after a scored reversal, and the change of father of haploid
// offspring (rejection bit-identical, acceptance confined to the haploid offspring's fathers).
// The independent replay of both moves is in test_parent_side_replay.cpp.
#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <string>
#include <vector>

#include "configuration/soak/soak_matrix.hpp"
#include "parent_side_fixture.hpp"
#include "support/cluster_consistency.hpp"
#include "support/temp_dir.hpp"

namespace kinrad::test {
namespace {

using testing_support::check_cluster_tables;
using testing_support::scratch_marks_clear;
using testing_support::TempWorkDir;

// Prepares the simulated sample in a fresh working directory; false when preparation stopped.
bool prepare_sample(const SimSample& d, SimTruth& t) {
  return testing_support::prepare(simulate(d, t));
}

// The hand-made configuration of the example: a cluster of fathers 2, 4 and 5 with mother 1
// (offspring 1-6), and single families (1,2), (3,3), (6,4), (7,5) (offspring 7-12).
const std::vector<int4> kExample1 = {2, 2, 4, 5, 5, 4, 1, 1, 3, 6, 6, 7};
const std::vector<int4> kExample2 = {1, 1, 1, 1, 1, 1, 2, 2, 3, 4, 4, 5};

struct ExampleRow {
  const char* method;
  const char* prior;
  int cand;
};

TEST(Reversal, ExampleFreesTheLargestIdsAndRenumbers) {
  const ExampleRow rows[] = {{"1", "0", 0},     {"0", "0", 0}, {"1", "1 2 2", 0},
                             {"0", "1 2 2", 0}, {"1", "0", 3}, {"2", "1 2 2", 3}};
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string("method ") + row.method + ", prior " + row.prior + ", candidates " +
                 std::to_string(row.cand));
    TempWorkDir dir("reversal_example");
    SimTruth t;
    ASSERT_TRUE(prepare_sample(
        {.n = 12, .seed = 7, .prior = row.prior, .method = row.method, .cand = row.cand}, t));
    const auto o = with_run([&](RunState& rs) {
      auto& v = variables;
      auto& av = annealvariables;
      install(rs, kExample1, kExample2);
      ASSERT_EQ(v.crnumfamily(3), 5);
      const real8 before = v.crloglikelihood - rs.cp.oldlogprior;
      rs.coolfactor = 1.0;  // an unscored exchange is always kept
      bool done = false;
      for (int k = 0; k < 1000 && !done; ++k) done = reversal(rs);
      ASSERT_TRUE(done);
      setindivclusterindex();
      if (v.priortype == 1) rs.oldsibsizeprior = newewenprior(rs.cp.numsizeclass);
      // By hand: the cluster's offspring keep father 2, the smallest of 2, 4, 5; the mothers are
      // 1 (for old father 2) and the new ids 6 and 7 (for 4 and 5); the fathers 6 and 7 of the
      // other clusters become 4 and 5, father 3 below the freed ids stays.
      const std::vector<int4> want1 = {2, 2, 2, 2, 2, 2, 1, 1, 3, 4, 4, 5};
      const std::vector<int4> want2 = {1, 1, 6, 7, 7, 6, 2, 2, 3, 4, 4, 5};
      for (int4 i = 1; i <= 12; ++i) {
        EXPECT_EQ(v.crindivloc(i, 1), want1[static_cast<std::size_t>(i - 1)]) << "offspring " << i;
        EXPECT_EQ(v.crindivloc(i, 2), want2[static_cast<std::size_t>(i - 1)]) << "offspring " << i;
      }
      EXPECT_EQ(v.crnumfamily(1), 5);
      EXPECT_EQ(v.crnumfamily(2), 7);
      EXPECT_EQ(v.crnumfamily(3), 5);
      const int4 c = v.crindivloc(1, 3);
      EXPECT_EQ(av.clustersize(1, c), 1);
      EXPECT_EQ(av.clustersize(2, c), 3);
      EXPECT_EQ(av.clustersize(5, c), 3);
      EXPECT_EQ(av.clustersize(6, c), 1);
      // Diploid: the likelihood part of the score is unchanged (only the prior may move).
      EXPECT_NEAR(v.crloglikelihood - rs.cp.oldlogprior, before, 1e-9);
      EXPECT_EQ(check_cluster_tables(), "");
      EXPECT_TRUE(scratch_marks_clear());
      self_check(rs);
    });
    EXPECT_FALSE(o.stopped) << o.screen << o.errorfile;
  }
}

TEST(Reversal, OneParentOfEachSexIsNeverReversed) {
  TempWorkDir dir("reversal_single_families");
  SimTruth t;
  ASSERT_TRUE(prepare_sample({.n = 12, .seed = 8}, t));
  const auto o = with_run([&](RunState& rs) {
    // Six full-sib families of two offspring each.
    install(rs, {1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6}, {1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6});
    rs.coolfactor = 1.0;
    const ParentSideSnapshot start = snapshot(rs);
    for (int k = 0; k < 500; ++k) {
      Ran2State s = Ran2State::save();
      EXPECT_FALSE(reversal(rs));
      s.draw();  // the offspring, and nothing after it
      ASSERT_TRUE(s == Ran2State::save()) << "call " << k;
    }
    EXPECT_TRUE(snapshot(rs) == start);
  });
  EXPECT_FALSE(o.stopped) << o.screen << o.errorfile;
}

TEST(Reversal, TwoByTwoClusterIsTriedWithChanceOneHalf) {
  TempWorkDir dir("reversal_two_by_two");
  SimTruth t;
  ASSERT_TRUE(prepare_sample({.n = 12, .seed = 9}, t));
  const auto o = with_run([&](RunState& rs) {
    // One cluster of two fathers and two mothers holding the whole sample.
    install(rs, {1, 1, 1, 2, 2, 2, 1, 1, 2, 2, 1, 2}, {1, 2, 1, 2, 1, 2, 2, 1, 1, 2, 2, 1});
    ASSERT_EQ(annealvariables.clustersize(1, 1), 2);
    ASSERT_EQ(annealvariables.clustersize(2, 1), 2);
    rs.coolfactor = 1.0;
    const int n = 4000;
    int kept = 0;
    for (int k = 0; k < n; ++k) {
      // Predicted from the stream: the offspring, then the trial draw against sqrt(1/4).
      Ran2State s = Ran2State::save();
      s.draw();
      const bool tried = s.draw() <= 0.5;
      const bool got = reversal(rs);
      if (got) setindivclusterindex();
      ASSERT_EQ(got, tried) << "call " << k;
      kept += got ? 1 : 0;
    }
    // Binomial(4000, 0.5): 2000 within 4 standard deviations (sqrt(1000) = 31.6).
    EXPECT_NEAR(kept, 2000, 4.0 * std::sqrt(1000.0));
    EXPECT_EQ(check_cluster_tables(), "");
    self_check(rs);
  });
  EXPECT_FALSE(o.stopped) << o.screen << o.errorfile;
}

TEST(Reversal, MatingLimitsOfTheNewSexes) {
  struct Row {
    int4 lim1, lim2;
    bool kept;
  };
  // Father 1 has two mates, mothers 1 and 2 one each: as a mother it needs lim2 >= 2; the
  // mothers as fathers need lim1 >= 1.
  const Row rows[] = {{2, 1, false}, {3, 1, false}, {2, 3, true}, {1, 2, true}};
  for (const auto& row : rows) {
    SCOPED_TRACE("limits " + std::to_string(row.lim1) + " " + std::to_string(row.lim2));
    TempWorkDir dir("reversal_mating_limits");
    SimTruth t;
    ASSERT_TRUE(prepare_sample({.n = 12, .seed = 10}, t));
    const auto o = with_run([&](RunState& rs) {
      auto& v = variables;
      // Cluster 1: father 1 with mothers 1 (offspring 1-3) and 2 (4-6); then single families.
      install(rs, {1, 1, 1, 1, 1, 1, 2, 2, 3, 3, 4, 4}, {1, 1, 1, 2, 2, 2, 3, 3, 4, 4, 5, 5});
      v.maxmatings(1) = row.lim1;
      v.maxmatings(2) = row.lim2;
      rs.coolfactor = 1.0;
      const ParentSideSnapshot start = snapshot(rs);
      int reached = 0;
      bool got = false;
      for (int k = 0; k < 300 && !got; ++k) {
        const Ran2State before = Ran2State::save();
        Ran2State s = before;
        const int4 r = static_cast<int4>(12 * s.draw() + 1.0);
        // Offspring 1-6 lie in the 1-by-2 cluster: tried below sqrt(1/2), then the draw of the
        // unchanged score, then the limits.
        const bool reaches = r <= 6 && s.draw() <= static_cast<real8>(std::sqrt(0.5f));
        if (reaches) s.draw();
        got = reversal(rs);
        ASSERT_TRUE(s == Ran2State::save()) << "call " << k;
        if (reaches) ++reached;
        if (!got) {
          ASSERT_TRUE(snapshot(rs) == start) << "call " << k;
        }
        if (reaches) {
          ASSERT_EQ(got, row.kept) << "call " << k;
        }
      }
      EXPECT_GT(reached, 0);
      if (got) {
        setindivclusterindex();
        EXPECT_EQ(v.crindivloc(1, 2), v.crindivloc(4, 2));  // the old father is the one mother
        EXPECT_EQ(check_cluster_tables(), "");
        self_check(rs);
      }
    });
    EXPECT_FALSE(o.stopped) << o.screen << o.errorfile;
  }
}

TEST(Reversal, RefusedForClustersFixedByTheData) {
  TempWorkDir dir("reversal_fixed");
  SimTruth t;
  ASSERT_TRUE(prepare_sample({.n = 12, .seed = 11, .cand = 2}, t));
  struct Row {
    const char* what;
    std::function<void()> set;
  };
  const Row rows[] = {
      {"an assigned candidate", [] { variables.inferparent(2, 2) = 1; }},
      {"a known sibship",
       [] {
         variables.knownsibship(3, 1) = 1;
         variables.anyknownsibshipq(1) = 1;
       }},
      {"an excluded sibship",
       [] {
         variables.excludedsibshipq(4) = 1;
         variables.anyexcludedsibshipq(2) = 1;
       }},
  };
  const auto o = with_run([&](RunState& rs) {
    auto& v = variables;
    if (!v.excludedsibshipq.allocated()) v.excludedsibshipq.allocate(Dim(v.smplsize));
    for (const auto& row : rows) {
      SCOPED_TRACE(row.what);
      install(rs, kExample1, kExample2);
      row.set();
      rs.coolfactor = 1.0;
      for (int k = 0; k < 200; ++k) {
        Ran2State s = Ran2State::save();
        const int4 r = static_cast<int4>(12 * s.draw() + 1.0);
        const bool tried = r <= 6 && s.draw() <= static_cast<real8>(std::sqrt(1.0f / 3.0f));
        EXPECT_FALSE(reversal(rs));
        // Refused before any further draw.
        ASSERT_TRUE(s == Ran2State::save()) << "call " << k << (tried ? " (tried)" : "");
      }
      v.inferparent(2, 2) = 0;
      v.knownsibship(3, 1) = 0;
      v.anyknownsibshipq(1) = 0;
      v.excludedsibshipq(4) = 0;
      v.anyexcludedsibshipq(2) = 0;
    }
  });
  EXPECT_FALSE(o.stopped) << o.screen << o.errorfile;
}

// A scored reversal in a haplodiploid species stores the new value of the cluster: the stored
// values sum to the score (the periodic resummation) and the self-check passes.
TEST(Reversal, HaplodiploidScoredReversalStoresTheClusterValue) {
  const ExampleRow rows[] = {{"1", "0", 0}, {"1", "1 2 2", 0}, {"0", "1 2 2", 0}, {"2", "0", 0}};
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string("method ") + row.method + ", prior " + row.prior);
    TempWorkDir dir("reversal_haplodiploid");
    SimTruth t;
    ASSERT_TRUE(prepare_sample(
        {.haplo = true, .n = 24, .seed = 12, .prior = row.prior, .method = row.method}, t));
    std::vector<int4> f1, f2;
    truth_configuration(t, f1, f2);
    const auto o = with_run([&](RunState& rs) {
      auto& v = variables;
      install(rs, f1, f2);
      self_check(rs);
      rs.cp.temperature = 1e6;  // keep every tried reversal
      rs.coolfactor = 1.0;
      int kept = 0;
      for (int k = 0; k < 200 && kept < 5; ++k) {
        if (!reversal(rs)) continue;
        ++kept;
        setindivclusterindex();
        if (v.priortype == 1) rs.oldsibsizeprior = newewenprior(rs.cp.numsizeclass);
        self_check(rs);
        EXPECT_EQ(check_cluster_tables(), "");
        if (v.fulllikelihoodmethodq == 0) continue;
        const std::vector<real8> fresh = fresh_cluster_logl();
        real8 sum = rs.cp.oldcndlogl + rs.cp.oldlogprior;
        for (int4 c = 1; c <= v.crnumfamily(3); ++c) {
          EXPECT_NEAR(v.crfamilylogl(c), fresh[static_cast<std::size_t>(c - 1)], 1e-8)
              << "cluster " << c;
          sum += v.crfamilylogl(c);
        }
        EXPECT_NEAR(sum, v.crloglikelihood, 1e-7);
      }
      EXPECT_GT(kept, 0);
    });
    EXPECT_FALSE(o.stopped) << o.screen << o.errorfile;
  }
}

// --- The change of father of haploid offspring ------------------------------------------------

TEST(SwapDadId, RejectionLeavesEveryTableAsItWas) {
  TempWorkDir dir("swap_reject");
  SimTruth t;
  ASSERT_TRUE(prepare_sample({.haplo = true, .n = 24, .seed = 13, .prior = "1 2 2"}, t));
  std::vector<int4> f1, f2;
  truth_configuration(t, f1, f2);
  const auto o = with_run([&](RunState& rs) {
    install(rs, f1, f2);
    rs.cp.temperature = 1e-12;  // any loss is refused
    int refused_late = 0, kept = 0;
    for (int k = 0; k < 600; ++k) {
      const ParentSideSnapshot before = snapshot(rs);
      const Ran2State s0 = Ran2State::save();
      const bool got = swapdadid(rs);
      // r, m, at least one target draw, then the acceptance draw: the change was made and
      // tested before it was refused.
      const int used = draws_between(s0, Ran2State::save());
      if (got) {
        ++kept;
        setindivclusterindex();
        rs.oldsibsizeprior = newewenprior(rs.cp.numsizeclass);
        continue;
      }
      ASSERT_TRUE(snapshot(rs) == before) << "call " << k;
      if (used >= 4) ++refused_late;
    }
    EXPECT_GT(refused_late, 0);
    EXPECT_EQ(check_cluster_tables(), "");
    self_check(rs);
    (void)kept;
  });
  EXPECT_FALSE(o.stopped) << o.screen << o.errorfile;
}

TEST(SwapDadId, AcceptanceChangesOnlyTheFatherOfHaploidOffspring) {
  TempWorkDir dir("swap_accept");
  SimTruth t;
  ASSERT_TRUE(prepare_sample({.haplo = true, .n = 24, .seed = 14}, t));
  std::vector<int4> f1, f2;
  truth_configuration(t, f1, f2);
  const auto o = with_run([&](RunState& rs) {
    auto& v = variables;
    install(rs, f1, f2);
    rs.cp.temperature = 1e6;
    int kept = 0;
    for (int k = 0; k < 400 && kept < 10; ++k) {
      std::vector<int4> before;
      for (int4 c = 1; c <= 3; ++c)
        for (int4 i = 1; i <= v.smplsize; ++i) before.push_back(v.crindivloc(i, c));
      const int4 fam1 = v.crnumfamily(1), fam2 = v.crnumfamily(2), fam3 = v.crnumfamily(3);
      if (!swapdadid(rs)) continue;
      ++kept;
      setindivclusterindex();
      const int4 n = v.smplsize;
      std::set<int4> oldids, newids, mothers;
      for (int4 i = 1; i <= n; ++i) {
        const auto x = static_cast<std::size_t>(i - 1);
        EXPECT_EQ(v.crindivloc(i, 2), before[x + static_cast<std::size_t>(n)]);
        EXPECT_EQ(v.crindivloc(i, 3), before[x + 2 * static_cast<std::size_t>(n)]);
        if (v.crindivloc(i, 1) == before[x]) continue;
        EXPECT_EQ(v.offploid(i), 1) << "a diploid offspring changed father";
        oldids.insert(before[x]);
        newids.insert(v.crindivloc(i, 1));
        mothers.insert(v.crindivloc(i, 2));
      }
      // One family's haploid offspring went to one other father of the same mother, who had
      // a family with her already.
      EXPECT_EQ(oldids.size(), 1u);
      EXPECT_EQ(newids.size(), 1u);
      ASSERT_EQ(mothers.size(), 1u);
      bool had = false;
      for (int4 i = 1; i <= n; ++i) {
        const auto x = static_cast<std::size_t>(i - 1);
        had = had || (before[x] == *newids.begin() &&
                      before[x + static_cast<std::size_t>(n)] == *mothers.begin());
      }
      EXPECT_TRUE(had);
      EXPECT_EQ(v.crnumfamily(1), fam1);
      EXPECT_EQ(v.crnumfamily(2), fam2);
      EXPECT_EQ(v.crnumfamily(3), fam3);
      EXPECT_EQ(check_cluster_tables(), "");
      self_check(rs);
    }
    EXPECT_GT(kept, 0);
  });
  EXPECT_FALSE(o.stopped) << o.screen << o.errorfile;
}

TEST(SwapDadId, MotherWithOneMateDoesNothing) {
  TempWorkDir dir("swap_one_mate");
  SimTruth t;
  ASSERT_TRUE(prepare_sample({.haplo = true, .n = 24, .seed = 15}, t));
  const auto o = with_run([&](RunState& rs) {
    auto& v = variables;
    const int4 n = v.smplsize;
    // One cluster: father 1 with mother 1, father 2 with mothers 1 and 2. Mother 1's families
    // hold the first diploid offspring of the sample, mother 2 holds at least one diploid;
    // every haploid offspring joins family (1, 1).
    std::vector<int4> f1(static_cast<std::size_t>(n)), f2(static_cast<std::size_t>(n));
    int dip = 0;
    for (int4 i = 1; i <= n; ++i) {
      const auto x = static_cast<std::size_t>(i - 1);
      if (v.offploid(i) == 1) {
        f1[x] = 1;
        f2[x] = 1;
        continue;
      }
      const int kind = dip++ % 3;  // (1,1), (2,1), (2,2) in turn
      f1[x] = kind == 0 ? 1 : 2;
      f2[x] = kind == 2 ? 2 : 1;
    }
    install(rs, f1, f2);
    ASSERT_EQ(v.crnumfamily(3), 1);
    // Mother positions follow first appearance over the cluster's members (ascending).
    int4 pos2 = 0;
    {
      std::vector<int4> seen;
      for (int4 i = 1; i <= n; ++i)
        if (std::find(seen.begin(), seen.end(), v.crindivloc(i, 2)) == seen.end())
          seen.push_back(v.crindivloc(i, 2));
      pos2 = static_cast<int4>(std::find(seen.begin(), seen.end(), 2) - seen.begin()) + 1;
    }
    rs.cp.temperature = 1e6;
    int quiet = 0;
    for (int k = 0; k < 400; ++k) {
      const ParentSideSnapshot before = snapshot(rs);
      Ran2State s = Ran2State::save();
      s.draw();
      const int4 m = static_cast<int4>(2 * s.draw() + 1.0);
      const bool got = swapdadid(rs);
      if (got) setindivclusterindex();
      if (m != pos2) continue;
      ++quiet;
      EXPECT_FALSE(got);
      ASSERT_TRUE(s == Ran2State::save()) << "call " << k;
      ASSERT_TRUE(snapshot(rs) == before) << "call " << k;
    }
    EXPECT_GT(quiet, 20);
    self_check(rs);
  });
  EXPECT_FALSE(o.stopped) << o.screen << o.errorfile;
}

// A cluster with two parents of a sex is not rescored for the decision, but the family
// likelihood of a cluster can depend on which of the mother's families holds her haploid
// offspring: the accepted change must leave the cluster the value a rescoring of the applied
// configuration finds, and the score the sum of the stored values. The sample and the cluster
// are those on which a whole analysis met the fault: offspring 13 (diploid) alone in family
// (2,1), offspring 16 (diploid) with the haploid 4, 10, 19 and 30 in (1,1), offspring 25
// (diploid) and 26 (haploid) in (1,2); every other offspring alone in a family of its own.
// Mother 1's haploid offspring can only go from father 1 to father 2 and back. (The cluster
// ignores the sample's known sibships, so the whole self-check is not asked for.)
TEST(SwapDadId, SmallClusterKeepsTheValueOfTheAppliedChange) {
  TempWorkDir dir("swap_small_cluster");
  const DataSet* d = nullptr;
  for (const DataSet& x : matrix())
    if (std::string(x.name) == "haplodiploid_known_parents") d = &x;
  ASSERT_NE(d, nullptr);
  Truth truth;
  ASSERT_TRUE(testing_support::prepare(simulate(*d, truth)));
  const auto o = with_run([&](RunState& rs) {
    auto& v = variables;
    const int4 n = v.smplsize;
    ASSERT_EQ(n, 30);
    for (const int4 i : {4, 10, 19, 26, 30}) ASSERT_EQ(v.offploid(i), 1) << i;
    for (const int4 i : {13, 16, 25}) ASSERT_EQ(v.offploid(i), 2) << i;
    std::vector<int4> f1(static_cast<std::size_t>(n)), f2(static_cast<std::size_t>(n));
    int4 next = 3;
    for (int4 i = 1; i <= n; ++i) {
      auto x = static_cast<std::size_t>(i - 1);
      if (i == 13)
        f1[x] = 2, f2[x] = 1;
      else if (i == 4 || i == 10 || i == 16 || i == 19 || i == 30)
        f1[x] = 1, f2[x] = 1;
      else if (i == 25 || i == 26)
        f1[x] = 1, f2[x] = 2;
      else
        f1[x] = f2[x] = next++;
    }
    install(rs, f1, f2);
    const int4 c = v.crindivloc(13, 3);
    rs.cp.temperature = 1e6;  // keep every tried change
    int kept = 0;
    for (int k = 0; k < 3000 && kept < 4; ++k) {
      if (!swapdadid(rs)) continue;
      ++kept;
      setindivclusterindex();
      const std::vector<real8> fresh = fresh_cluster_logl();
      const real8 want = fresh[static_cast<std::size_t>(c - 1)];
      EXPECT_NEAR(v.crfamilylogl(c), want, 1e-9 * std::abs(want)) << "change " << kept;
      real8 sum = rs.cp.oldcndlogl + rs.cp.oldlogprior;
      for (int4 x = 1; x <= v.crnumfamily(3); ++x) sum += v.crfamilylogl(x);
      EXPECT_NEAR(sum, v.crloglikelihood, 1e-9 * std::abs(sum)) << "change " << kept;
      EXPECT_EQ(check_cluster_tables(), "");
    }
    EXPECT_GT(kept, 1);
  });
  EXPECT_FALSE(o.stopped) << o.screen << o.errorfile;
}

// --- The caller --------------------------------------------------------------------------------

TEST(ParentSideMoves, NoDrawBeforeTheConditionsHold) {
  struct Row {
    const char* what;
    bool haplo;
    int8 iterate;
    int8 newbest;
    int4 mono;
    int draws;  // draws of a call
  };
  const Row rows[] = {
      {"diploid, no new best yet", false, 200, 0, 0, 0},
      {"diploid, not a hundredth iteration", false, 250, 1, 0, 0},
      {"haplodiploid, not a hundredth iteration", true, 199, 1, 0, 0},
      {"haplodiploid, a monogamous sex, no new best", true, 300, 0, 1, 0},
      {"haplodiploid, the cooling draw refuses (rate 0)", true, 300, 0, 0, 1},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    TempWorkDir dir("parent_side_caller");
    SimTruth t;
    ASSERT_TRUE(prepare_sample({.haplo = row.haplo, .n = 24, .seed = 16}, t));
    std::vector<int4> f1, f2;
    truth_configuration(t, f1, f2);
    const auto o = with_run([&](RunState& rs) {
      auto& v = variables;
      install(rs, f1, f2);
      ASSERT_GT(v.crnumfamily(3), 1);
      rs.cp.numiterate = row.iterate;
      rs.cp.newbestcount = row.newbest;
      v.anymonogamy = row.mono;
      if (row.mono != 0) v.converseq = 0;
      annealvariables.rate = 0.0;
      const ParentSideSnapshot before = snapshot(rs);
      const Ran2State s = Ran2State::save();
      parent_side_moves(rs);
      EXPECT_EQ(draws_between(s, Ran2State::save()), row.draws);
      EXPECT_EQ(rs.sidemoveok, 0);
      EXPECT_TRUE(snapshot(rs) == before);
    });
    EXPECT_FALSE(o.stopped) << o.screen << o.errorfile;
  }
}

}  // namespace
}  // namespace kinrad::test
