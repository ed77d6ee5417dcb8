#pragma once
// The per-analysis set-up tests: real reading and preparation of a project input file in a
// fresh working directory.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/modules.hpp"
#include "core/modules/variables.hpp"
#include "model/model.hpp"
#include "support/module_reset.hpp"
#include "support/prepare.hpp"
#include "support/temp_dir.hpp"

namespace kinrad::setuptest {

// Projects are written with the shared builder; its default marker block is replaced by the
// test's own.
using Project = testing_support::ProjectFile;
using testing_support::prepare;

// The values of a list whose element 0 holds the count: elements 1..count.
inline std::vector<int4> listof(const FArray<int4, 1>& a) {
  std::vector<int4> r;
  for (int4 i = 1; i <= a(0); ++i) r.push_back(a(i));
  return r;
}

template <class A>
std::vector<int4> valuesof(const A& a) {
  std::vector<int4> r;
  for (index_t i = a.lbound(1); i <= a.ubound(1); ++i) r.push_back(static_cast<int4>(a(i)));
  return r;
}

class SetupTest : public testing_support::ModuleReset {
 protected:
  testing_support::TempWorkDir dir{"initial_fs_prob"};
};

}  // namespace kinrad::setuptest
