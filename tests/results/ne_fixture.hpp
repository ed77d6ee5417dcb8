#pragma once
// Module state for the effective-size tests: a project read and prepared by the real input
// phase in a fresh working directory, and an archive of configurations stored through the
// configuration model's own routines (the best configuration first).
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "configuration/configuration.hpp"
#include "core/modules.hpp"
#include "core/modules/variables.hpp"
#include "support/prepare.hpp"
#include "support/temp_dir.hpp"

namespace kinrad::netest {

using Project = testing_support::ProjectFile;

class NeTest : public ::testing::Test {
 protected:
  void SetUp() override { reset_all_modules(); }
  void TearDown() override {
    archiveconfigremoveall();
    reset_all_modules();
  }

 public:
  // Reads and prepares the project, with the per-analysis tables (the packed genotype columns
  // among them).
  static bool load(const Project& p) { return testing_support::prepare(p); }

  // Stores one configuration: the paternal and maternal family of every offspring and its
  // candidate father and mother (0 for none; empty for none at all), with its log likelihood.
  static void archive(const std::vector<int4>& fam1, const std::vector<int4>& fam2, real8 logl,
                      const std::vector<int4>& dad = {}, const std::vector<int4>& mum = {}) {
    auto& v = variables;
    const int4 n = v.smplsize;
    if (!v.crindivloc.allocated()) v.crindivloc.allocate(Dim(n), Dim(3));
    if (!v.inferparent.allocated()) v.inferparent.allocate(Dim(n), Dim(2));
    int4 labels = 1;
    for (int4 i = 1; i <= n; ++i) {
      const auto k = static_cast<std::size_t>(i - 1);
      v.crindivloc(i, 1) = fam1[k];
      v.crindivloc(i, 2) = fam2[k];
      // Clusters are not read by the estimates: one cluster holds everyone.
      v.crindivloc(i, 3) = 1;
      v.inferparent(i, 1) = dad.empty() ? 0 : dad[k];
      v.inferparent(i, 2) = mum.empty() ? 0 : mum[k];
      labels = std::max({labels, fam1[k], fam2[k]});
    }
    v.crloglikelihood = logl;
    v.indivlocprt = v.crindivloc.view();
    v.inferparentprt = v.inferparent.view();
    v.loglikelihoodprt = &v.crloglikelihood;
    ASSERT_TRUE(archiveconfigadd(3, labels));
  }

 protected:
  testing_support::TempWorkDir dir{"ne"};
};

}  // namespace kinrad::netest
