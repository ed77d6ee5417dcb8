// The annealing schedule against a table computed independently in Python
// (tools/python/anneal_schedule.py, committed as data/schedule_table.txt).
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>
#include <string>

#include "search/search_internal.hpp"

namespace kinrad::test {
namespace {

TEST(Schedule, MatchesIndependentTable) {
  std::ifstream in(std::string(KINRAD_TEST_DATA_DIR) + "/schedule_table.txt");
  ASSERT_TRUE(in.good());
  std::string line;
  int rows = 0;
  while (std::getline(in, line)) {
    SCOPED_TRACE(line);
    std::istringstream r(line);
    int4 n, lengthrun, iround, method, allmono, hap;
    int8 u1, u2;
    int4 b, ntemp;
    int8 bign, nsucclmt;
    real8 nfaillmt, nfaillmt2, iterlmt, fam, side;
    r >> n >> lengthrun >> iround >> method >> u1 >> u2 >> allmono >> hap >> b >> bign >>
        nsucclmt >> nfaillmt >> nfaillmt2 >> iterlmt >> fam >> side >> ntemp;
    ASSERT_FALSE(r.fail());
    const Schedule s = make_schedule(n, std::log(static_cast<real8>(n)), lengthrun, iround, method,
                                     allmono, hap, u1, u2);
    EXPECT_EQ(s.b, b);
    EXPECT_EQ(s.n, bign);
    EXPECT_EQ(s.nsucclmt, nsucclmt);
    EXPECT_EQ(s.nfaillmt, nfaillmt);
    EXPECT_EQ(s.nfaillmt2, nfaillmt2);
    EXPECT_EQ(s.iterlmt, iterlmt);
    EXPECT_EQ(s.fammovethreshold, fam);
    EXPECT_EQ(s.sideprob, side);
    EXPECT_EQ(s.ntemprature, ntemp);
    ++rows;
  }
  EXPECT_EQ(rows, 150);
}

// The figures the single-precision constant decides, derived by hand from
// (0.6499999761581421 ln n + 0.25) n + 0.5.
TEST(Schedule, SinglePrecisionBase) {
  EXPECT_EQ(make_schedule(2816, std::log(2816.0), 0, 5, 1, 0, 0, 0, 0).b, 15243);
  EXPECT_EQ(make_schedule(60, std::log(60.0), 0, 5, 1, 0, 0, 0, 0).b, 175);
  EXPECT_EQ(make_schedule(60, std::log(60.0), 0, 4, 1, 0, 0, 0, 0).b, 35);
  EXPECT_EQ(make_schedule(60, std::log(60.0), 0, 1, 1, 0, 0, 0, 0).b, 35);
}

}  // namespace
}  // namespace kinrad::test
