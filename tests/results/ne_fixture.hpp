#pragma once
// Module state for the effective-size tests: a project read and prepared by the real input
// phase in a fresh working directory, and an archive of configurations stored through the
// test support's archive builder (the best configuration first).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "configuration/configuration.hpp"
#include "core/modules.hpp"
#include "core/modules/variables.hpp"
#include "support/archive_builder.hpp"
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

  // Appends one configuration at the tail of the archive (the best first): the paternal and
  // maternal family of every offspring and its candidate father and mother (0 for none; empty
  // for none at all), with its log likelihood.
  static void archive(const std::vector<int4>& fam1, const std::vector<int4>& fam2, real8 logl,
                      const std::vector<int4>& dad = {}, const std::vector<int4>& mum = {}) {
    testing_support::append_record({logl, fam1, fam2, {}, dad, mum});
  }

 protected:
  testing_support::TempWorkDir dir{"ne"};
};

}  // namespace kinrad::netest
