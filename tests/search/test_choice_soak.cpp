// The move choice inside real annealing calls on the samples of the soak matrix: the iteration
// body is replaced by the choice alone, and every hand-over is checked against what the choice
// promises (a monogamous parent keeps one mate, a selfed destination needs inbreeding, haploid
// offspring join existing mothers, known parents agree, the own full-sib family is never the
// destination).
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "choice_fixture.hpp"
#include "configuration/configuration.hpp"
#include "configuration/soak/soak_matrix.hpp"
#include "core/command_line.hpp"
#include "core/modules.hpp"
#include "core/modules/search_seams.hpp"
#include "pairwise/pairwise.hpp"
#include "program/main_program.hpp"
#include "search/move_choice.hpp"
#include "search/search.hpp"
#include "search/search_internal.hpp"
#include "support/prepare.hpp"
#include "support/run_stage.hpp"
#include "support/temp_dir.hpp"

namespace kinrad::test {
namespace {

using testing_support::TempWorkDir;

struct Tally {
  int8 handovers = 0, retries = 0;
  std::set<int4> kinds;
};

// The promises of one hand-over; an empty text when all hold.
std::string broken(const RunState& rs) {
  const auto& v = variables;
  const auto& av = annealvariables;
  const auto& ch = rs.choice;
  const auto& hf = av.hostfamily;
  const auto& mf = av.movefamily;
  const int4 mi = av.moveindiv;
  if (av.movingtype != 1) return "";
  auto exists = [&](int4 s) { return hf(s) <= v.crnumfamily(s); };
  if (hf(1) == mf(1) && hf(2) == mf(2) && hf(3) == ch.owncluster)
    return "the own full-sib family is the destination";
  if (v.numsex == 1 && v.allowinbreeding == 0 && hf(1) == hf(2))
    return "a selfed destination without inbreeding";
  // With monogamous mothers the rules of that mating system may give any offspring a new
  // mother; otherwise the destination search keeps haploid offspring with existing mothers.
  if (v.offploid(mi) == 1 && v.monogamy(2) == 0 && ch.movekind != 3 && !exists(2))
    return "a haploid offspring given a new mother";
  if (ch.movekind == 1 && rs.wholesibshipsex > 0 &&
      hf(rs.wholesibshipsex) != mf(rs.wholesibshipsex))
    return "the side of the whole-sample sibship changes";
  std::set<int4> moving(ch.moving.begin(), ch.moving.end());
  for (int4 s = 1; s <= 2; ++s) {
    if (!exists(s) || hf(s) == mf(s)) continue;
    const int4 K = v.indivparent(mi, s);
    for (int4 i = 1; i <= v.smplsize; ++i) {
      if (v.crindivloc(i, s) != hf(s) || v.crindivloc(i, 3) != hf(3)) continue;
      if (K > 0 && v.indivparent(i, s) > 0 && v.indivparent(i, s) != K)
        return "a destination parent with another known parent's offspring";
    }
  }
  if (v.numsex == 2 && ch.moveset != 3) {
    for (int4 s = 1; s <= 2; ++s) {
      if (v.monogamy(s) != 1 || !exists(s)) continue;
      for (int4 i = 1; i <= v.smplsize; ++i) {
        if (moving.count(i) != 0 || v.crindivloc(i, s) != hf(s)) continue;
        if (ch.moveset == 2 && v.crindivloc(i, 1) == mf(1) && v.crindivloc(i, 2) == mf(2)) continue;
        if (v.crindivloc(i, 3 - s) != hf(3 - s))
          return "a monogamous parent of sex " + std::to_string(s) + " given a second mate";
      }
    }
  }
  return "";
}

void soak(const DataSet& d, int8 handovers) {
  TempWorkDir dir("choice_soak");
  Truth truth;
  const ProjectFile p = simulate(d, truth);
  ASSERT_TRUE(testing_support::prepare(p)) << p.text();
  auto& v = variables;
  v.displayq = 0;
  if (v.fulllikelihoodmethodq == 0 || v.quicksearchq == 1) calculatepairprob(1);
  Tally tally;
  int4 failures = 0;
  std::string first;
  search_seams = SearchSeams{};
  search_seams.body = [&](RunState& rs) {
    if (tally.handovers >= handovers) return MoveOutcome::end_run;
    if (!choose_move(rs)) {
      ++tally.retries;
      return MoveOutcome::refused;
    }
    ++tally.handovers;
    tally.kinds.insert(annealvariables.movingtype == 2 ? 0 : rs.choice.movekind);
    const std::string why = broken(rs);
    if (!why.empty() && ++failures <= 5)
      first += why + " (offspring " + std::to_string(annealvariables.moveindiv) + ", kind " +
               std::to_string(rs.choice.movekind) + ")\n";
    count_scored(rs);
    return MoveOutcome::completed;
  };
  // A run whose every proposal is rejected ends by its stopping rules: further runs go on
  // until the hand-overs are counted.
  const auto o = testing_support::run_stage([&] {
    int4 firstq = 1;
    v.krun = 1;
    for (int4 run = 0; run < 50 && tally.handovers < handovers; ++run) {
      anneal(firstq, 5);
      firstq = 0;
      ++v.krun;
    }
  });
  search_seams = SearchSeams{};
  ASSERT_FALSE(o.stopped) << o.errorfile;
  EXPECT_EQ(tally.handovers, handovers);
  EXPECT_EQ(failures, 0) << first;
  EXPECT_GE(tally.kinds.size(), 1u);
}

class ChoiceSoak : public ::testing::TestWithParam<DataSet> {
 protected:
  void TearDown() override { reset_all_modules(); }
};
class ChoiceSoakSlow : public ChoiceSoak {};

TEST_P(ChoiceSoak, HandOversKeepTheirPromises) {
  soak(GetParam(), 5000);
}
TEST_P(ChoiceSoakSlow, HandOversKeepTheirPromises) {
  soak(GetParam(), 100000);
}

// Random configurations of every species and mating system (and a sample that is one known
// paternal sibship), 10^4 proposals each from the real stream.
TEST(ChoiceInvariants, RandomConfigurations) {
  SourceOff off;
  struct Row {
    const char* name;
    int4 numsex, inbreeding, mono1, mono2, haplo, k1, k2;
    real8 pself;
    bool whole;
  };
  const std::vector<Row> rows = {
      {"dioecious polygamous", 2, 0, 0, 0, 0, 6, 6, 0.0, false},
      {"monogamous fathers", 2, 0, 1, 0, 0, 6, 4, 0.0, false},
      {"monogamous mothers", 2, 0, 0, 1, 0, 4, 6, 0.0, false},
      {"both monogamous", 2, 0, 1, 1, 0, 6, 6, 0.0, false},
      {"one pool", 1, 0, 0, 0, 0, 8, 8, 0.0, false},
      {"one pool selfing", 1, 1, 0, 0, 0, 8, 8, 0.3, false},
      {"haplodiploid", 2, 0, 0, 0, 1, 6, 6, 0.0, false},
      {"one paternal sibship", 2, 0, 0, 0, 0, 1, 6, 0.0, true},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    for (unsigned seed = 1; seed <= 3; ++seed) {
      ChoiceFixture f;
      ChoiceSample s;
      s.numsex = r.numsex;
      s.inbreeding = r.inbreeding;
      s.mono1 = r.mono1;
      s.mono2 = r.mono2;
      s.haplo = r.haplo;
      s.fam1.assign(24, 1);
      s.fam2.assign(24, 1);
      f.build(s);
      std::mt19937 rng(seed);
      random_configuration(rng, r.k1, r.k2, r.pself);
      if (r.numsex == 1) {
        int4 k = 0;
        for (int4 i = 1; i <= 24; ++i)
          k = std::max({k, variables.crindivloc(i, 1), variables.crindivloc(i, 2)});
        variables.crnumfamily(1) = variables.crnumfamily(2) = k;
      }
      for (int4 c = 1; c <= variables.crnumfamily(3); ++c) variables.indivcluster(c).deallocate();
      setinitcluster();
      annealvariables.lastfamilyid(1) = annealvariables.lastfamilyid(2) = 0;
      if (r.haplo == 1)
        for (int4 i = 1; i <= 24; i += 3) f.set_ploidy(i, 1);
      if (r.whole) {
        f.set_known_sibships(std::vector<int4>(24, 5), std::vector<int4>(24, 0));
        f.rs.wholesibshipsex = 1;
        f.rs.cp.withinfactor = 1.00001;
      }
      f.rs.sched.fammovethreshold = 0.85;
      f.rs.prbself.allocate(Dim(24));
      f.rs.prbself.fill(0.3);
      int4 handed = 0, failures = 0;
      std::string first;
      for (int4 k = 0; k < 10000; ++k) {
        if (!choose_move(f.rs)) continue;
        ++handed;
        const std::string why = broken(f.rs);
        if (!why.empty() && ++failures <= 3)
          first += why + " kind " + std::to_string(f.rs.choice.movekind) + " split " +
                   std::to_string(f.rs.splitside) + " " +
                   std::to_string(annealvariables.movefamily(1)) + "," +
                   std::to_string(annealvariables.movefamily(2)) + "\n";
      }
      EXPECT_GT(handed, 0);
      EXPECT_EQ(failures, 0) << first;
    }
  }
}

// Whole analyses with the program's own iteration body (the real choice, the proposal and
// verdict of their stages) on two samples of the matrix: one parent pool with selfing and a
// haplodiploid species with monogamous mothers.
TEST(ChoiceWholeRunSlow, MatrixSamplesRunToTheEnd) {
  for (const char* name : {"selfing_excluded_sibs", "haplodiploid_monogamous_mothers_pairwise"}) {
    SCOPED_TRACE(name);
    const DataSet* d = nullptr;
    for (const DataSet& x : matrix())
      if (std::string(x.name) == name) d = &x;
    ASSERT_NE(d, nullptr);
    TempWorkDir dir("choice_whole_run");
    Truth truth;
    testing_support::write_text("kinrad2.dat", simulate(*d, truth).text());
    search_seams = SearchSeams{};
    reset_all_modules();
    set_command_line({"VER:0", "CKM:2"});
    const auto o = testing_support::run_stage([] { run_sequence(); });
    EXPECT_FALSE(o.stopped) << o.errorfile;
    EXPECT_NE(o.screen.find("Output to file : "), std::string::npos) << o.screen.substr(0, 2000);
    reset_all_modules();
  }
}

std::string sample_name(const ::testing::TestParamInfo<DataSet>& p) {
  return p.param.name;
}

INSTANTIATE_TEST_SUITE_P(Samples, ChoiceSoak, ::testing::ValuesIn(matrix()), sample_name);
INSTANTIATE_TEST_SUITE_P(Samples, ChoiceSoakSlow, ::testing::ValuesIn(matrix()), sample_name);

}  // namespace
}  // namespace kinrad::test
