// The test-support archive builder: records go in as given and come back decoded, the
// partition enumerator counts Bell numbers, and the configuration enumerator visits every pair
// of partitions.
#include <gtest/gtest.h>

#include <set>

#include "support/archive_builder.hpp"

namespace kinrad {
namespace {

using namespace testing_support;

TEST(ArchiveBuilder, RecordsComeBackInOrderWithTheirColumns) {
  archive_sample({.n = 5, .numsex = 2, .ncand1 = 3, .ncand2 = 2});
  const std::vector<ArchiveRecord> recs = {
      {-10.0, {1, 1, 2, 2, 3}, {1, 1, 1, 2, 3}, {}, {1, 1, 0, 0, 3}, {0, 0, 0, 0, 2}},
      {-12.5, {1, 2, 2, 3, 3}, {1, 2, 2, 3, 3}, {}, {}, {}},
      {-11.0, {1, 1, 1, 1, 1}, {1, 1, 1, 1, 1}, {}, {2, 2, 2, 2, 2}, {}},
  };
  set_archive(recs);
  const auto back = archive_records();
  ASSERT_EQ(back.size(), 3u);
  // The order given is kept (not sorted by score).
  EXPECT_EQ(back[1].logl, -12.5);
  EXPECT_EQ(back[2].logl, -11.0);
  // Clusters by hand: record 0 joins fathers 1, 2 through mother 1; 3 alone.
  EXPECT_EQ(back[0].clust, (std::vector<int4>{1, 1, 1, 1, 2}));
  EXPECT_EQ(back[0].dad, (std::vector<int4>{1, 1, 0, 0, 3}));
  EXPECT_EQ(back[0].mum, (std::vector<int4>{0, 0, 0, 0, 2}));
  EXPECT_EQ(back[1].clust, (std::vector<int4>{1, 2, 2, 3, 3}));
  EXPECT_EQ(back[2].dad, (std::vector<int4>{2, 2, 2, 2, 2}));
  EXPECT_EQ(variables.btloglikelihood, -10.0);
  EXPECT_EQ(variables.btindivloc(5, 3), 2);
  EXPECT_EQ(variables.btinferparent(5, 1), 3);
  EXPECT_EQ(variables.btnumfamily(1), 3);
  EXPECT_EQ(variables.btnumfamily(3), 2);
  EXPECT_EQ(archive_length(), 3);
  EXPECT_EQ(variables.configtail->logl, -11.0);
}

TEST(ArchiveBuilder, PartitionsAndConfigurations) {
  // Bell numbers 1, 2, 5, 15.
  EXPECT_EQ(all_partitions(1).size(), 1u);
  EXPECT_EQ(all_partitions(2).size(), 2u);
  EXPECT_EQ(all_partitions(3).size(), 5u);
  EXPECT_EQ(all_partitions(4).size(), 15u);
  archive_sample({.n = 4});
  int calls = 0;
  const auto all = enumerate_configurations([&calls] { return -1.0 * ++calls; });
  ASSERT_EQ(all.size(), 225u);
  std::set<std::vector<int4>> distinct;
  for (const auto& r : all) {
    std::vector<int4> key = r.fam1;
    key.insert(key.end(), r.fam2.begin(), r.fam2.end());
    distinct.insert(key);
  }
  EXPECT_EQ(distinct.size(), 225u);
  EXPECT_EQ(by_descending_score(all).front().logl, -1.0);
}

}  // namespace
}  // namespace kinrad
