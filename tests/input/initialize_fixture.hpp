#pragma once
// Module state as the input reader leaves it, built directly for the initialisation tests.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/modules.hpp"
#include "core/modules/variables.hpp"
#include "support/module_reset.hpp"

namespace kinrad::inittest {

class InitializeTest : public testing_support::ModuleReset {
 protected:
  // n offspring "O1".. at `loci` loci, c1 candidate fathers "F1".. and c2 candidate mothers
  // "M1"..; no known parents, no exclusions, proportions sampled 0.5, output stem "myout".
  static void setup(int4 n, int4 loci, int4 numsex = 2, int4 c1 = 0, int4 c2 = 0) {
    reset_all_modules();
    auto& v = variables;
    v.smplsize = n;
    v.numloci = loci;
    v.numsex = numsex;
    v.numcandidate(1) = c1;
    v.numcandidate(2) = c2;
    v.propprntsampled(1) = 0.5;
    v.propprntsampled(2) = 0.5;
    v.fname = "myout";
    v.offspringid.allocate(Dim(n));
    for (int4 i = 1; i <= n; ++i) v.offspringid(i) = "O" + std::to_string(i);
    v.cndparentid.allocate(Dim(0, std::max(c1, c2)), Dim(2));
    for (int k = 1; k <= 2; ++k) {
      v.cndparentid(0, k) = "0";
      for (int4 j = 1; j <= v.numcandidate(k); ++j)
        v.cndparentid(j, k) = (k == 1 ? "F" : "M") + std::to_string(j);
    }
    v.indivparent.allocate(Dim(n), Dim(2));
    v.indivparent.fill(-1);
    v.crindivloc.allocate(Dim(n), Dim(3));
  }

  static void set_ids(const std::vector<std::string>& offspring,
                      const std::vector<std::string>& fathers,
                      const std::vector<std::string>& mothers) {
    auto& v = variables;
    for (std::size_t i = 0; i < offspring.size(); ++i)
      v.offspringid(static_cast<index_t>(i + 1)) = offspring[i];
    for (std::size_t j = 0; j < fathers.size(); ++j)
      v.cndparentid(static_cast<index_t>(j + 1), 1) = fathers[j];
    for (std::size_t j = 0; j < mothers.size(); ++j)
      v.cndparentid(static_cast<index_t>(j + 1), 2) = mothers[j];
  }

  static void allocate_exclusions() {
    variables.excludedparent.allocate(Dim(variables.smplsize), Dim(2));
  }

  // Offspring i's exclusion list for sex k: `count` as stored (negative for the allowed
  // candidates) and the ascending list.
  static void set_exclusion(int4 i, int k, int4 count, const std::vector<int4>& list) {
    Excludedlist& e = variables.excludedparent(i, k);
    e.count = count;
    e.list.allocate(Dim(static_cast<index_t>(list.size())));
    std::copy(list.begin(), list.end(), e.list.data());
  }
};

}  // namespace kinrad::inittest
