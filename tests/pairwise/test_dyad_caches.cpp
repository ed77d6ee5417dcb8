// The unformatted caches of the dyad tables: layout, round trip, damaged files, odd stems,
// mode-2 calls and restarted frequencies.
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "core/replacing_file.hpp"
#include "pairwise/dyad_sample.hpp"

namespace kinrad::pairtest {
namespace {

namespace fs = std::filesystem;

std::string bytesof(const std::string& name) {
  return testing_support::read_text(name);
}

// A record in the framing of the cache files, built by hand: length, values, length.
std::string record(const std::vector<float>& values) {
  std::string r;
  const std::int32_t len = static_cast<std::int32_t>(4 * values.size());
  r.append(reinterpret_cast<const char*>(&len), 4);
  for (float x : values) r.append(reinterpret_cast<const char*>(&x), 4);
  r.append(reinterpret_cast<const char*>(&len), 4);
  return r;
}

SampleSpec small(int n) {
  SampleSpec s;
  s.n = n;
  s.alleles = {2, 2, 2};
  s.fathers = 2;
  s.mothers = 3;
  return s;
}

// The full-sib and half-sib tables as seen through their accessors.
std::vector<float> sibvalues() {
  std::vector<float> r;
  for (int i = 1; i <= variables.smplsize; ++i)
    for (int j = 1; j <= variables.smplsize; ++j) {
      r.push_back(prbfspair(i, j));
      r.push_back(prbhspair(i, j));
    }
  return r;
}

TEST_F(PairTest, ThreeOffspringCachesHoldOneRecordPerRow) {
  ASSERT_TRUE(prepare(projectof(small(3)).text()));
  // Full sibs: rows 2 and 3 with partners 1, and 1 and 2; half sibs: rows 1 and 2 with
  // partners 2 and 3, and 3.
  EXPECT_EQ(bytesof("myout.FSDyadLogL"),
            record({prbfspair(1, 2)}) + record({prbfspair(1, 3), prbfspair(2, 3)}));
  EXPECT_EQ(bytesof("myout.HSDyadLogL"),
            record({prbhspair(1, 2), prbhspair(1, 3)}) + record({prbhspair(2, 3)}));
  // Parent-offspring files: one record of numcandidate values per offspring.
  std::string dad, mum;
  for (int i = 1; i <= 3; ++i) {
    dad += record({prbpopair(i, 1, 1), prbpopair(i, 1, 2)});
    mum += record({prbpopair(i, 2, 1), prbpopair(i, 2, 2), prbpopair(i, 2, 3)});
  }
  EXPECT_EQ(bytesof("myout.DadDyadLogL"), dad);
  EXPECT_EQ(bytesof("myout.MumDyadLogL"), mum);
  EXPECT_FALSE(fs::exists(replacing_temporary("myout.FSDyadLogL")));
}

TEST_F(PairTest, CachesAreReadBackIntoIdenticalTables) {
  const std::string text = projectof(small(9)).text();
  ASSERT_TRUE(prepare(text));
  const std::vector<float> first = sibvalues();
  const std::string fsfile = bytesof("myout.FSDyadLogL");
  ASSERT_TRUE(prepare(text, true, true));
  EXPECT_EQ(sibvalues(), first);
  EXPECT_EQ(bytesof("myout.FSDyadLogL"), fsfile);
  // A planted file of the right shape is read, not recomputed.
  std::string planted;
  for (int r = 2; r <= 9; ++r)
    planted += record(std::vector<float>(static_cast<std::size_t>(r - 1), -1.5f));
  testing_support::write_text("myout.FSDyadLogL", planted);
  ASSERT_TRUE(prepare(text, true, true));
  EXPECT_EQ(prbfspair(3, 7), -1.5f);
  EXPECT_EQ(prbfspair(7, 3), -1.5f);
}

TEST_F(PairTest, DamagedCachesAreRecomputedAndRewritten) {
  const std::string text = projectof(small(5)).text();
  ASSERT_TRUE(prepare(text));
  const std::vector<float> good = sibvalues();
  const std::string goodfile = bytesof("myout.FSDyadLogL");
  std::vector<float> one(1, -1.5f), two(2, -1.5f), three(3, -1.5f), four(4, -1.5f);
  const struct {
    const char* what;
    std::string bytes;
  } cases[] = {
      {"truncated", (record(one) + record(two) + record(three) + record(four)).substr(0, 50)},
      {"a record missing", record(one) + record(two) + record(three)},
      {"a record too long", record(one) + record(three) + record(three) + record(four)},
      {"a record too short", record(one) + record(one) + record(three) + record(four)},
      {"trailing bytes", record(one) + record(two) + record(three) + record(four) + "x"},
      {"a record too many", record(one) + record(two) + record(three) + record(four) + record(one)},
      {"lengths that disagree",
       [&] {
         std::string b = record(one) + record(two) + record(three) + record(four);
         b[4 + 4] = 9;  // the trailing length word of the first record
         return b;
       }()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    testing_support::write_text("myout.FSDyadLogL", c.bytes);
    ASSERT_TRUE(prepare(text, true, true));
    EXPECT_EQ(sibvalues(), good);
    EXPECT_EQ(bytesof("myout.FSDyadLogL"), goodfile);
  }
}

TEST_F(PairTest, AStemNamingAnotherTableStillMovesTheRightTables) {
  std::string text = projectof(small(6)).text();
  const std::string stem = "run.FSDyad.SelfOu";
  text.replace(text.find("myout"), 5, stem);
  ASSERT_TRUE(prepare(text));
  const std::vector<float> first = sibvalues();
  ASSERT_TRUE(fs::exists(stem + ".FSDyadLogL"));
  ASSERT_TRUE(fs::exists(stem + ".HSDyadLogL"));
  // Half sibs: rows of 5, 4, 3, 2, 1 values.
  EXPECT_EQ(fs::file_size(stem + ".HSDyadLogL"), static_cast<std::uintmax_t>(15 * 4 + 5 * 8));
  ASSERT_TRUE(prepare(text, true, true));
  EXPECT_EQ(sibvalues(), first);
}

TEST_F(PairTest, ModeTwoRecomputesWithoutTouchingTheCaches) {
  ASSERT_TRUE(prepare(projectof(small(7)).text()));
  const std::vector<float> first = sibvalues();
  const char* files[] = {"myout.FSDyadLogL", "myout.HSDyadLogL", "myout.DadDyadLogL",
                         "myout.MumDyadLogL"};
  std::vector<std::string> bytes;
  std::vector<fs::file_time_type> times;
  for (const char* f : files) {
    bytes.push_back(bytesof(f));
    times.push_back(fs::last_write_time(f));
  }
  variables.prbfstri.fill(-3.0f);
  variables.prbhstri.fill(-3.0f);
  variables.displayq = 1;
  testing::internal::CaptureStdout();
  calculatepairprob(2);
  const std::string screen = testing::internal::GetCapturedStdout();
  EXPECT_EQ(sibvalues(), first);
  for (std::size_t k = 0; k < bytes.size(); ++k) {
    EXPECT_EQ(bytesof(files[k]), bytes[k]) << files[k];
    EXPECT_EQ(fs::last_write_time(files[k]), times[k]) << files[k];
  }
  // An empty line in place of each cache write.
  EXPECT_EQ(screen,
            "Calculating full-sib dyad likelihood...\n\n"
            "Calculating half-sib dyad likelihood...\n\n"
            "Calculating father-offspring dyad likelihood...\n\n"
            "Calculating mother-offspring dyad likelihood...\n\n");
}

TEST_F(PairTest, RestartedFrequenciesNeitherReadNorWriteCaches) {
  const std::string text = projectof(small(6)).text();
  ASSERT_TRUE(prepare(text));
  const std::vector<float> first = sibvalues();
  std::string planted;
  for (int r = 2; r <= 6; ++r)
    planted += record(std::vector<float>(static_cast<std::size_t>(r - 1), -1.5f));
  testing_support::write_text("myout.FSDyadLogL", planted);
  const auto time = fs::last_write_time("myout.FSDyadLogL");
  variables.checkpointfrequencyq = 1;
  calculatepairprob(1);
  EXPECT_EQ(sibvalues(), first);
  EXPECT_EQ(bytesof("myout.FSDyadLogL"), planted);
  EXPECT_EQ(fs::last_write_time("myout.FSDyadLogL"), time);
}

}  // namespace
}  // namespace kinrad::pairtest
