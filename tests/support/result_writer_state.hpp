#pragma once
// The module state that the result writer reads after the runs, checked as a whole: the best
// configuration and the archive (never empty, best first, sorted, at most 1000 records, above
// the floor, each valid for the independent validator), the current configuration with its
// cluster tables and counts, the work tables and scratch marks, and the final checkpoint. Also
// the program's sequence run in-process up to the choice of the best run.
#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "configuration/check_fixture.hpp"
#include "configuration/configuration.hpp"
#include "core/command_line.hpp"
#include "core/fixed_string.hpp"
#include "core/modules.hpp"
#include "input/input.hpp"
#include "likelihood/likelihood.hpp"
#include "model/model.hpp"
#include "pairwise/pairwise.hpp"
#include "program/main_program.hpp"
#include "program/prepare_analysis.hpp"
#include "program/run_archive.hpp"
#include "search/search.hpp"
#include "support/cluster_consistency.hpp"
#include "support/truth_check.hpp"

namespace kinrad::testing_support {

// The program's sequence, in-process, from the command line up to and including the choice of
// the best run (what the result writer then reads is in module state). `after_anneal`, when
// set, is called after each annealing call returns, before the run's archive is copied.
inline void run_until_selectrun(const std::vector<std::string>& args,
                                const std::function<void()>& after_anneal = {}) {
  auto& v = variables;
  set_command_line(args);
  initializethreads();
  getcommands();
  prepare_analysis();
  if (!std::filesystem::exists(std::string(trim(v.midfilename(5).view())))) pairrelation();
  if (v.smplsize > 49) setcluster();
  int4 round0 = 5;
  if (v.updateallelefre == 2) {
    int4 status = 0, stored = 0;
    readmidresult4(status, stored, false);
    round0 = status != 0 ? 1 : stored;
  }
  if (v.locus2.allocated() && v.locus2(0) > 2 * v.numthreads) setgtype2();
  int4 firstq = 1;
  v.krun = 1;
  v.bestlogl = -1e300;
  run_loop(round0, firstq,
           RunLoopCalls{[&](int4& fq, int4 round) {
                          anneal(fq, round);
                          if (after_anneal) after_anneal();
                        },
                        [](int4 krun) { savearchive(krun); }});
  selectrun(firstq);
}

namespace result_state_detail {

// The largest id and the number of distinct ids in column k of a (n, m) table.
inline std::pair<int4, int4> id_range(const FArray<int4, 2>& a, int4 n, int4 k) {
  std::set<int4> ids;
  int4 top = 0;
  for (int4 i = 1; i <= n; ++i) {
    ids.insert(a(i, k));
    top = std::max(top, a(i, k));
  }
  return {top, static_cast<int4>(ids.size())};
}

// The clustersize column of each cluster id recounted from crindivloc.
inline std::string check_cluster_sizes() {
  const auto& v = variables;
  const auto& av = annealvariables;
  std::ostringstream err;
  std::map<int4, std::vector<int4>> members;
  for (int4 i = 1; i <= v.smplsize; ++i) members[v.crindivloc(i, 3)].push_back(i);
  for (const auto& [id, list] : members) {
    std::set<int4> p1, p2;
    std::map<std::pair<int4, int4>, int4> fam;
    for (int4 i : list) {
      p1.insert(v.crindivloc(i, 1));
      p2.insert(v.crindivloc(i, 2));
      ++fam[{v.crindivloc(i, 1), v.crindivloc(i, 2)}];
    }
    std::map<int4, int4> mates1, mates2;
    int4 largest = 0;
    for (const auto& [pair, size] : fam) {
      ++mates1[pair.first];
      ++mates2[pair.second];
      largest = std::max(largest, size);
    }
    int4 most1 = 0, most2 = 0;
    for (const auto& [k, c] : mates1) most1 = std::max(most1, c);
    for (const auto& [k, c] : mates2) most2 = std::max(most2, c);
    if (av.clustersizet(id) != static_cast<int4>(list.size()))
      err << "clustersizet(" << id << ")\n";
    if (list.size() < 2) continue;  // a single offspring's column says one family, one parent each
    if (av.clustersize(1, id) != static_cast<int4>(p1.size()) ||
        av.clustersize(2, id) != static_cast<int4>(p2.size()))
      err << "clustersize(1:2, " << id << ")\n";
    // The largest family is kept as an upper bound by some moves.
    if (av.clustersize(3, id) < largest) err << "clustersize(3, " << id << ")\n";
    if (v.indivcluster1.allocated() &&
        (av.clustersize(4, id) != static_cast<int4>(fam.size()) || av.clustersize(5, id) != most1 ||
         av.clustersize(6, id) != most2))
      err << "clustersize(4:6, " << id << ")\n";
  }
  return err.str();
}

// The ids of column k of an (n, m) table, or of columns 1 and 2 together for k = 0 (one parent
// pool: the two columns share one id space).
inline std::pair<int4, int4> id_range_of(const FArray<int4, 2>& a, int4 n, int4 k) {
  if (k > 0) return id_range(a, n, k);
  std::set<int4> ids;
  int4 top = 0;
  for (int4 i = 1; i <= n; ++i)
    for (int4 c = 1; c <= 2; ++c) {
      ids.insert(a(i, c));
      top = std::max(top, a(i, c));
    }
  return {top, static_cast<int4>(ids.size())};
}

// The family counts of a configuration against its ids: dense ids 1..count in each column
// (one parent pool: in both columns together, both counts the same).
inline void check_family_counts(const FArray<int4, 2>& loc, const FStatic<int4, 1, 3>& count,
                                int4 n, const char* what, std::ostringstream& err) {
  const bool pool = variables.numsex == 1;
  for (int4 col = 1; col <= 3; ++col) {
    const auto [top, distinct] = id_range_of(loc, n, pool && col <= 2 ? 0 : col);
    if (top != distinct || top != count(col))
      err << what << "(" << col << ") is not the count of its configuration\n";
  }
}

// A configuration described without its ids: per offspring and sex, the offspring that share
// its family (one parent pool: through either column) and its assigned parent; and per
// offspring the members of its cluster. With one parent pool the two roles of an offspring form
// an unordered pair. A haploid offspring of a haplodiploid species has no father: its paternal
// id only files it beside some diploid of its mother, and a configuration and its decoded
// archive copy may file it differently, so that id is left out. Two configurations are the
// same when their descriptions are.
using FamilyKey = std::pair<std::vector<int4>, int4>;
inline std::vector<std::vector<FamilyKey>> describe_configuration(const std::vector<int>& fam1,
                                                                  const std::vector<int>& fam2,
                                                                  const std::vector<int>& clust,
                                                                  const std::vector<int>& dad,
                                                                  const std::vector<int>& mum) {
  const bool pool = variables.numsex == 1;
  const std::size_t n = fam1.size();
  std::map<std::pair<int, int>, std::vector<int4>> members;  // (column or 0, id) -> offspring
  std::map<int, std::vector<int4>> clusters;
  const auto fatherless = [&](std::size_t i) {
    return variables.haplodiploid == 1 && variables.offploid(static_cast<int4>(i) + 1) == 1;
  };
  for (std::size_t i = 0; i < n; ++i) {
    if (!fatherless(i)) members[{pool ? 0 : 1, fam1[i]}].push_back(static_cast<int4>(i) + 1);
    members[{pool ? 0 : 2, fam2[i]}].push_back(static_cast<int4>(i) + 1);
    clusters[clust[i]].push_back(static_cast<int4>(i) + 1);
  }
  std::vector<std::vector<FamilyKey>> d(n);
  for (std::size_t i = 0; i < n; ++i) {
    FamilyKey k1{fatherless(i) ? std::vector<int4>{} : members[{pool ? 0 : 1, fam1[i]}],
                 dad.empty() ? 0 : dad[i]};
    FamilyKey k2{members[{pool ? 0 : 2, fam2[i]}], mum.empty() ? 0 : mum[i]};
    if (pool && k2 < k1) std::swap(k1, k2);
    d[i] = {k1, k2, FamilyKey{clusters[clust[i]], 0}};
  }
  return d;
}

}  // namespace result_state_detail

// "" when the state is complete and consistent, else one line per problem found.
inline std::string check_result_writer_state() {
  namespace d = result_state_detail;
  auto& v = variables;
  auto& av = annealvariables;
  const int4 n = v.smplsize;
  std::ostringstream err;

  // The archive: not empty, best first, sorted, at most 1000 records, all above the floor.
  if (v.confighead == nullptr) return "the archive is empty\n";
  int4 records = 0;
  real8 last = 1e300;
  for (const Config* c = v.confighead; c != nullptr; c = c->next) {
    ++records;
    if (c->logl > last) err << "archive record " << records << " above the one before it\n";
    if (!(c->logl > v.minloglikelihood)) err << "archive record " << records << " at the floor\n";
    last = c->logl;
  }
  if (records > 1000) err << "archive of " << records << " records\n";
  if (v.confighead->logl != v.btloglikelihood) err << "the archive's head is not the best score\n";
  if (v.bestlogl < v.btloglikelihood - 1e-8) err << "bestlogl below btloglikelihood\n";

  // Every record decoded: the head is the best configuration; each is a valid configuration.
  {
    auto keep_loc = v.crindivloc.copy();
    auto keep_par = v.inferparent.copy();
    Config* saved = v.crrtconfig;
    const auto numindiv = av.numindiv;
    const auto numparentage = av.numindivparentage;
    av.numindiv(1) = av.numindiv(2) = 0;
    av.numindivparentage(1) = av.numindivparentage(2) = 0;
    int4 k = 0;
    for (Config* c = v.confighead; c != nullptr; c = c->next) {
      ++k;
      v.crrtconfig = c;
      real8 logl = 0.0;
      convertconfig(1, logl);
      if (k == 1) {
        for (int4 i = 1; i <= n; ++i) {
          for (int4 col = 1; col <= 3; ++col)
            if (v.offtgt(i, col) != v.btindivloc(i, col)) {
              err << "the archive's head differs from btindivloc\n";
              i = n;
              break;
            }
        }
        for (int4 s = 1; s <= 2; ++s) {
          if (v.numcandidate(s) <= 0) continue;
          for (int4 i = 1; i <= n; ++i)
            if (v.prnttgt(i, s) != v.btinferparent(i, s)) {
              err << "the archive's head differs from btinferparent\n";
              break;
            }
        }
      }
      for (int4 i = 1; i <= n; ++i) {
        v.crindivloc(i, 1) = v.offtgt(i, 1);
        v.crindivloc(i, 2) = v.offtgt(i, 2);
        for (int4 s = 1; s <= 2; ++s)
          v.inferparent(i, s) = v.numcandidate(s) > 0 ? v.prnttgt(i, s) : 0;
      }
      const std::string why = kinrad::test::validate_proposal();
      if (!why.empty()) err << "archive record " << k << " invalid: " << why << "\n";
    }
    v.crrtconfig = saved;
    v.crindivloc = std::move(keep_loc);
    v.inferparent = std::move(keep_par);
    av.numindiv = numindiv;
    av.numindivparentage = numparentage;
  }

  // The best configuration's counts.
  d::check_family_counts(v.btindivloc, v.btnumfamily, n, "btnumfamily", err);

  // The current configuration: dense ids, its counts, cluster tables and sizes.
  d::check_family_counts(v.crindivloc, v.crnumfamily, n, "crnumfamily", err);
  err << check_cluster_tables() << d::check_cluster_sizes();

  // Work tables, scratch marks and the visiting order.
  if (!av.indivloc1.allocated() || av.indivloc1.size(1) < n || av.indivloc1.size(2) != 4)
    err << "indivloc1 not (n, 4)\n";
  if (!av.indivloc2.allocated() || av.indivloc2.size(1) < n || av.indivloc2.size(2) != 4)
    err << "indivloc2 not (n, 4)\n";
  if (!av.indivloc3.allocated() || av.indivloc3.size(1) < n || av.indivloc3.size(2) < 2)
    err << "indivloc3 too small\n";
  if (!scratch_marks_clear()) err << "scratch marks set\n";
  for (const auto& e : v.selectedindivq)
    if (e.p != nullptr && *e.p) {
      err << "selectedindivq set\n";
      break;
    }
  for (const auto x : v.selectedfamily)
    if (x != 0) {
      err << "selectedfamily set\n";
      break;
    }
  if (v.indivorder.data() != v.number1tgt.data() || v.indivorder.size(1) != v.number1tgt.size(1))
    err << "indivorder not at number1tgt\n";
  if (!(v.timespent(1) >= 0.0)) err << "timespent(1) negative\n";

  // The final checkpoint holds the best configuration. It is written when the run ends, in the
  // search's own ids; the best configuration is then decoded from the archive's head, whose ids
  // may be numbered anew (and, with one parent pool, the two roles of an offspring swapped), so
  // the two are compared as configurations.
  const std::string state = std::string(trim(v.midfilename(1).view()));
  if (!std::filesystem::exists(state)) {
    err << "no state checkpoint " << state << "\n";
  } else {
    const BestColumns b = read_best_configuration(state);
    bool same = static_cast<int4>(b.fam1.size()) == n;
    if (same) {
      BestColumns bt;
      for (int4 i = 1; i <= n; ++i) {
        bt.fam1.push_back(v.btindivloc(i, 1));
        bt.fam2.push_back(v.btindivloc(i, 2));
        bt.clust.push_back(v.btindivloc(i, 3));
        bt.dad.push_back(v.btinferparent(i, 1));
        bt.mum.push_back(v.btinferparent(i, 2));
      }
      same = d::describe_configuration(b.fam1, b.fam2, b.clust, b.dad, b.mum) ==
             d::describe_configuration(bt.fam1, bt.fam2, bt.clust, bt.dad, bt.mum);
    }
    if (!same) err << "the state checkpoint's best configuration is not btindivloc\n";
  }
  return err.str();
}

}  // namespace kinrad::testing_support
