#pragma once
// A best configuration for the error-rate tests, made from an oracle cluster: the project is
// written and read as the program reads it, then the best configuration (families, clusters and
// assigned candidates) is set directly from the cluster's families. Parents listed after the
// first `used_fathers` fathers and `used_mothers` mothers have no family: they are candidates
// the configuration leaves unassigned.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "core/error_stop.hpp"
#include "core/modules.hpp"
#include "core/modules/variables.hpp"
#include "input/input.hpp"
#include "likelihood/oracle.hpp"
#include "model/model.hpp"
#include "support/temp_dir.hpp"

namespace kinrad::test {

// The family ids of a parent in each role: fathers 1..F; with one parent pool a mother that is
// a father's other role takes his id, every other mother the next id after the fathers.
struct FamilyIds {
  std::vector<int4> father, mother;  // by parent index from 1 (entry 0 unused)
};

inline FamilyIds family_ids(const oracle::Cluster& c) {
  FamilyIds ids;
  const int4 nf = static_cast<int4>(c.fathers.size());
  ids.father.assign(c.fathers.size() + 1, 0);
  ids.mother.assign(c.mothers.size() + 1, 0);
  for (int4 i = 1; i <= nf; ++i) ids.father[static_cast<size_t>(i)] = i;
  int4 next = c.numsex == 1 ? nf : 0;
  for (size_t j = 1; j <= c.mothers.size(); ++j) {
    int4 id = 0;
    if (c.numsex == 1)
      for (const auto& s : c.same)
        if (static_cast<size_t>(s[1]) == j) id = s[0];
    ids.mother[j] = id > 0 ? id : ++next;
  }
  return ids;
}

// Reads the project of c (no family framing) and sets the best configuration from its families.
// nclusters: the number of clusters of those families, counted by the test's author.
inline bool build_best(const oracle::Cluster& c, int4 nclusters) {
  reset_all_modules();
  testing_support::write_text("kinrad2.dat", oracle::project_text(c));
  testing::internal::CaptureStdout();
  bool ok = false;
  try {
    readdata();
    variables.displayq = 0;
    initialize();
    dataprocess();
    initialfsprob(1, 1, variables.numloci);
    ok = true;
  } catch (const ProgramStop& stop) {
    report_program_stop(stop, 0);
    ADD_FAILURE() << testing_support::read_text("Kinrad2.ErrorMessage");
  }
  testing::internal::GetCapturedStdout();
  if (!ok) return false;
  auto& v = variables;
  if (v.inbreeding != c.inbreeding) {
    v.inbreeding = c.inbreeding;
    if (v.locus2gtypefre.allocated()) computegtypefre(0, 0);
  }
  const FamilyIds ids = family_ids(c);
  const int4 n = v.smplsize;
  v.btindivloc.deallocate();
  v.btindivloc.allocate(Dim(n), Dim(3));
  std::set<int4> col1, col2;
  for (const oracle::Family& f : c.families) {
    const auto& fa = c.fathers[static_cast<size_t>(f.father - 1)];
    const auto& mo = c.mothers[static_cast<size_t>(f.mother - 1)];
    for (int m : f.members) {
      v.btindivloc(m, 1) = ids.father[static_cast<size_t>(f.father)];
      v.btindivloc(m, 2) = ids.mother[static_cast<size_t>(f.mother)];
      v.btinferparent(m, 1) = fa.candidate;
      v.btinferparent(m, 2) = mo.candidate;
      col1.insert(v.btindivloc(m, 1));
      col2.insert(v.btindivloc(m, 2));
    }
  }
  v.btnumfamily(1) = static_cast<int4>(col1.size());
  v.btnumfamily(2) = static_cast<int4>(col2.size());
  v.btnumfamily(3) = nclusters;
  v.errestimate = 1;
  return true;
}

// The cluster without its unassigned parents (those after the first nf fathers and nm mothers).
inline oracle::Cluster assigned_part(oracle::Cluster c, size_t nf, size_t nm) {
  c.fathers.resize(nf);
  c.mothers.resize(nm);
  return c;
}

}  // namespace kinrad::test
