// The clusters of an initial configuration: their numbering, measures and scores, the rescoring
// of every cluster of a configuration, and the stop for an impossible initial configuration.
#include <algorithm>
#include <string>

#include "configuration/configuration.hpp"
#include "configuration/configuration_internal.hpp"
#include "configuration/precision_retry_internal.hpp"
#include "core/modules/annealvariables.hpp"
#include "core/modules/configuration_work.hpp"
#include "core/modules/variables.hpp"
#include "core/screen.hpp"
#include "core/sorting.hpp"
#include "core/text_utils.hpp"
#include "core/variables_routines.hpp"
#include "likelihood/likelihood.hpp"

namespace kinrad {

namespace {

// -1e38 as a single-precision value: a cluster scoring at or below it is impossible.
constexpr real8 initial_bound = -9.999999680285692e37;

// Log likelihood of the cluster whose family structure was built last, with its work state
// prepared for famsize offspring.
real8 cluster_logl(real8 bound, int4 checkflag, int4 famsize) {
  real8 logl = 0.0;
  familylikelihood(logl, bound, checkflag, 0, famsize);
  return logl;
}

// Cluster numbering counts members per family id only up to 3: one member or more matters.
void count_capped(std::vector<int4>& count, int4 id) {
  auto& x = count[static_cast<std::size_t>(id)];
  if (x < 3) ++x;
}

}  // namespace

void setinitconfiglogl(int4 full, FStatic<int2, 1, 2>& hsmax) {
  auto& v = variables;
  auto& av = annealvariables;
  auto& w = configuration_work.tables;
  const int4 n = v.smplsize;
  const bool pool = v.numsex == 1;
  v.crnumfamily(3) = 0;
  v.inferparentprt = v.inferparent.view();

  int4 top1 = 0, top2 = 0;
  for (int4 i = 1; i <= n; ++i) {
    top1 = std::max(top1, v.crindivloc(i, 1));
    top2 = std::max(top2, v.crindivloc(i, 2));
  }
  // One parent pool: both columns name parents of one range.
  if (pool) top1 = top2 = std::max(top1, top2);
  fit(w.famcount, top1);
  fit(w.famcount2, top2);
  std::fill(w.famcount.begin(), w.famcount.begin() + top1 + 1, 0);
  std::fill(w.famcount2.begin(), w.famcount2.begin() + top2 + 1, 0);
  auto& count1 = w.famcount;
  auto& count2 = pool ? w.famcount : w.famcount2;
  for (int4 i = 1; i <= n; ++i) {
    v.crindivloc(i, 3) = 0;
    av.indivloc1(i, 4) = i;
    av.indivloc1(i, 1) = v.crindivloc(i, 1);
    av.indivloc1(i, 2) = v.crindivloc(i, 2);
    count_capped(count1, v.crindivloc(i, 1));
    count_capped(count2, v.crindivloc(i, 2));
  }
  screen_write("(A)", "Computing likelihood of initial config");

  const WindowScope keep_order(v.indivorder);
  v.indivlocprt = av.indivloc1.view();
  int4 progress = 0;
  int4 placed = 0;
  for (int4 j = 1; j <= n && placed < n; ++j) {
    if (v.crindivloc(j, 3) != 0) continue;
    const int4 seed = v.crindivloc(j, 1);
    const int4 c = ++v.crnumfamily(3);
    if (v.displayq == 1) writeprogress(progress, 10);
    // A pair of parents without other offspring is a cluster of its own: no need to grow it
    // over the rest of the sample.
    const bool lone = count1[static_cast<std::size_t>(seed)] == 1 &&
                      count2[static_cast<std::size_t>(v.crindivloc(j, 2))] == 1;
    const int4 nrow = lone ? 1 : n - j + 1;
    // The window of rows j.. of indivloc1, through the visiting order.
    v.indivorder = window(v.number1tgt, j, nrow);
    familybuild(seed, nrow, 1, av.clustersizet(c), av.clustersize(3, c), 1, 0, 0, 0);
    const int4 size = av.clustersizet(c);
    if (v.displayq == 1 && static_cast<real8>(size) * size * v.numloci > 10000000.0)
      screen_write("(A,$)", "\r  Family " + itoc(c) + " of " + itoc(size) + " members...");
    if (full == 1) {
      if (v.priortype == 1) {
        FStatic<int2, 1, 2> hs{};
        halfsibsize(hs, hsmax);
      }
      if (v.likelihoodprecision < 4) {
        real8 logl = 0.0;
        const bool ok = score_at_rising_precision(
            [&] { return cluster_logl(initial_bound, 1, size); }, initial_bound, logl);
        if (!ok) invalidconfig(1);
        v.crfamilylogl(c) = logl;
      }
    }
    av.clustersize(1, c) = v.nparent(1);
    av.clustersize(2, c) = v.nparent(2);
    for (int4 f = 1; f <= v.numberfsfamily; ++f) {
      const auto& m = v.familymember(f).a;
      for (index_t t = 1; t <= m.size(1); ++t) v.crindivloc(m(t), 3) = c;
    }
    av.clustersize(4, c) = v.numberfsfamily;
    av.clustersize(5, c) = v.maxnumpartner(1);
    av.clustersize(6, c) = v.maxnumpartner(2);
    placed += size;
  }
  if (v.displayq == 1) {
    screen_write("(A)",
                 "\r  Done for all " + itoc(v.crnumfamily(3)) + " families" + std::string(23, ' '));
    if (progress > 9) screen_write("(A)", v.igui == 1 ? "" : "\r  ");
  }
  check_scratch_marks_clear();
}

void updatefamilylogl(real8* logl, int4 nclust) {
  auto& v = variables;
  auto& av = annealvariables;
  auto& w = configuration_work.tables;
  const int4 n = v.smplsize;
  const auto loc = v.indivlocprt;
  const WindowScope keep_loc(v.indivlocprt);
  const WindowScope keep_order(v.indivorder);
  fit(w.order, n);
  fit(w.members, n);
  fit(w.famcount, nclust + 1);
  for (int4 i = 1; i <= n; ++i) w.members[static_cast<std::size_t>(i)] = loc(i, 3);
  indexquick2(n, &w.members[1], &w.order[1]);
  for (int4 k = 1; k <= n; ++k) {
    const int4 i = w.order[static_cast<std::size_t>(k)];
    av.indivloc1(k, 1) = loc(i, 1);
    av.indivloc1(k, 2) = loc(i, 2);
    av.indivloc1(k, 4) = i;
  }
  std::fill(w.famcount.begin(), w.famcount.begin() + nclust + 1, 0);
  for (int4 i = 1; i <= n; ++i) ++w.famcount[static_cast<std::size_t>(loc(i, 3))];
  v.indivlocprt = av.indivloc1.view();
  int4 first = 1;
  for (int4 c = 1; c <= nclust; ++c) {
    const int4 size = w.famcount[static_cast<std::size_t>(c)];
    if (size < 1) {
      // A cluster number without members has nothing to score.
      logl[c - 1] = 0.0;
      continue;
    }
    v.indivorder = window(v.number1tgt, first, size);
    int4 nmember = 0, maxfam = 0;
    familybuild(av.indivloc1(first, 1), size, 1, nmember, maxfam, 1, 0, 0, 0);
    logl[c - 1] = cluster_logl(-1e300, 0, size);
    first += size;
  }
  check_scratch_marks_clear();
}

void invalidconfig(int4 mode) {
  auto& v = variables;
  std::string line;
  if (mode == 1) {
    line = "Initial cluster with offspring: ";
    std::string parents;
    auto& seen = configuration_work.tables.pairs;
    seen.clear();
    bool firstmember = true;
    for (int4 f = 1; f <= v.numberfsfamily; ++f) {
      const auto& m = v.familymember(f).a;
      for (index_t t = 1; t <= m.size(1); ++t) {
        const int4 o = m(t);
        if (!firstmember) line += ",";
        firstmember = false;
        line += trim_both(v.offspringid(o).view());
        if (!v.indivparent.allocated()) continue;
        for (int4 s = 1; s <= 2; ++s) {
          const int4 p = v.indivparent(o, s);
          if (p <= 0) continue;
          const std::pair<int4, int4> key{s, p};
          if (std::find(seen.begin(), seen.end(), key) != seen.end()) continue;
          seen.push_back(key);
          if (!parents.empty()) parents += ",";
          parents += trim_both(v.cndparentid(p, s).view());
        }
      }
    }
    if (!parents.empty()) line += ", and known parents: " + parents;
    line += " have mismatched genotypes, possibly at loci: ";
    const int4 nl = v.locuscodomnoerror.allocated() ? v.locuscodomnoerror(0) : 0;
    for (int4 k = 1; k <= nl; ++k) {
      if (k > 1) line += ",";
      line += trim_both(v.markerid(v.locuscodomnoerror(k)).view());
    }
    line += "!";
  } else {
    line =
        "The known sibship/parentage relationships are incompatible with genotype data, or in "
        "conflit among themselves, or in conflict with other defined parameters (e.g. "
        "monogamy).";
  }
  // The error line holds 999 characters: a longer member list is cut.
  v.errmsg(1) = line;
  v.errmsg(2) = "To run the program, you have to:";
  v.errmsg(3) = "  1. Check and correct the known relationship, or/and";
  v.errmsg(4) = "  2. Allow for sufficiently high mistyping rates in data";
  v.errmsg(5) = "Program stops!";
  stoponerror(1, "Anneal");
}

}  // namespace kinrad
