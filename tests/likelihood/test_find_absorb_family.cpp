// The absorb list on family graphs drawn by hand; the expected lists follow the passes over the
// fathers and then the mothers worked through on paper for each graph.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "core/modules.hpp"
#include "core/modules/likelihoodvar.hpp"
#include "core/modules/variables.hpp"
#include "likelihood/full_sib_internal.hpp"
#include "likelihood/likelihood_internal.hpp"
#include "likelihood/oracle.hpp"
#include "support/temp_dir.hpp"

namespace kinrad {
namespace {

using oracle::Cluster;

// A parent by role: sex 1 father, 2 mother, and index within the role.
struct Role {
  int sex;
  int index;
};

struct Entry {
  Role absorbed;
  Role into;
  std::array<int, 2> family;  // father and mother of the family
};

struct Case {
  const char* name;
  int numsex;
  bool selfing;
  int fathers, mothers;
  std::vector<std::array<int, 2>> families;
  std::vector<std::array<int, 2>> same;  // monoecious: one individual in both roles
  std::vector<Entry> expected;
  int selfed = 0;  // mabsorb(3)
};

Cluster graph(const Case& k) {
  Cluster c;
  c.numsex = k.numsex;
  c.allowinbreeding = k.selfing;
  c.loci = {{false, 3, {}, 0.0, 0.0}};
  c.fathers.resize(static_cast<size_t>(k.fathers));
  c.mothers.resize(static_cast<size_t>(k.mothers));
  c.same = k.same;
  for (const auto& f : k.families) {
    c.offspring.push_back({oracle::Genotype{1, 2}});
    c.offploid.push_back(2);
    c.families.push_back({f[0], f[1], {static_cast<int>(c.offspring.size())}});
  }
  c.filler = {{oracle::Genotype{2, 3}}};
  return c;
}

int joint(Role r) {
  return variables.npstartloc1(r.sex) + r.index;
}

TEST(FindAbsorbFamily, CaseTable) {
  const std::vector<Case> cases = {
      {"one family: the father into the mother",
       2,
       false,
       1,
       1,
       {{1, 1}},
       {},
       {{{1, 1}, {2, 1}, {1, 1}}}},
      {"a father with two single-family mothers: both mothers in the sex-2 pass",
       2,
       false,
       1,
       2,
       {{1, 1}, {1, 2}},
       {},
       {{{2, 1}, {1, 1}, {1, 1}}, {{2, 2}, {1, 1}, {1, 2}}}},
      {"a 2 x 2 cycle: nothing absorbed", 2, false, 2, 2, {{1, 1}, {1, 2}, {2, 1}, {2, 2}}, {}, {}},
      {"a chain M1-F1-M2-F2-M3 across two passes",
       2,
       false,
       2,
       3,
       {{1, 1}, {1, 2}, {2, 2}, {2, 3}},
       {},
       {{{2, 1}, {1, 1}, {1, 1}},
        {{2, 3}, {1, 2}, {2, 3}},
        {{1, 1}, {2, 2}, {1, 2}},
        {{1, 2}, {2, 2}, {2, 2}}}},
      {"monoecious: an individual with families in both roles is never absorbed",
       1,
       false,
       2,
       2,
       {{1, 1}, {2, 2}},
       {{1, 2}},
       {{{1, 2}, {2, 2}, {2, 2}}, {{2, 1}, {1, 1}, {1, 1}}}},
      {"selfing: the selfed family is counted apart",
       1,
       true,
       2,
       1,
       {{1, 1}, {2, 1}},
       {{1, 1}},
       {{{1, 2}, {2, 1}, {2, 1}}},
       1},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    reset_all_modules();
    testing_support::TempWorkDir dir{"absorb_list"};
    const Cluster c = graph(k);
    const oracle::Built b = oracle::build(c);
    ASSERT_TRUE(b.ok) << b.error;
    real8 logl = 0.0;
    familylocus_setup(1, variables.obsnumallele(1),
                      variables.genotypenum(variables.obsnumallele(1)), logl);
    Likelihoodvar& lv = likelihoodvar;
    ASSERT_EQ(lv.nabsorb(1), -1);
    std::vector<int> hsib, fsib;
    for (int p = 1; p <= variables.nallparent; ++p) hsib.push_back(lv.hsib(p));
    for (int f = 1; f <= variables.numfsibship; ++f) fsib.push_back(lv.fsib(f));
    findabsorbfamily();
    ASSERT_EQ(lv.mabsorb(1), static_cast<int>(k.expected.size()));
    for (size_t j = 0; j < k.expected.size(); ++j) {
      SCOPED_TRACE("entry " + std::to_string(j + 1));
      const Entry& e = k.expected[j];
      const int jj = static_cast<int>(j + 1);
      EXPECT_EQ(lv.iabsorb(1, jj), joint(e.absorbed));
      EXPECT_EQ(lv.iabsorb(2, jj), joint(e.into));
      EXPECT_EQ(lv.nabsorb(jj), lv.fsibid(e.family[0], e.family[1]));
    }
    // The families left over, in increasing order, complete the list.
    std::vector<int> rest;
    for (int f = 1; f <= variables.numfsibship; ++f) {
      bool listed = false;
      for (int j = 1; j <= lv.mabsorb(1); ++j) listed = listed || lv.nabsorb(j) == f;
      if (!listed && fsib[static_cast<size_t>(f - 1)] == 1) rest.push_back(f);
    }
    ASSERT_EQ(lv.mabsorb(2) - lv.mabsorb(1), static_cast<int>(rest.size()));
    for (size_t i = 0; i < rest.size(); ++i)
      EXPECT_EQ(lv.nabsorb(lv.mabsorb(1) + static_cast<int>(i) + 1), rest[i]);
    EXPECT_EQ(lv.mabsorb(3), k.selfed);
    // hsib and fsib are left as they were found.
    for (int p = 1; p <= variables.nallparent; ++p)
      EXPECT_EQ(lv.hsib(p), hsib[static_cast<size_t>(p - 1)]);
    for (int f = 1; f <= variables.numfsibship; ++f)
      EXPECT_EQ(lv.fsib(f), fsib[static_cast<size_t>(f - 1)]);
  }
  reset_all_modules();
}

}  // namespace
}  // namespace kinrad
