// What the acceptance test compares of an admitted proposal besides its likelihood: the
// proposed numbers of families and of selfed offspring, read from the rows of both sides
// against the current configuration, and the log prior they give.
#include <algorithm>
#include <array>
#include <cstddef>

#include "configuration/configuration.hpp"
#include "core/modules.hpp"
#include "search/search_internal.hpp"

namespace kinrad {

namespace {

// The change of a family count when the move honours a known sibship: families met at present
// less families met as proposed, over the rows of both sides.
int4 family_count_change(int4 s) {
  const auto& v = variables;
  auto& av = annealvariables;
  auto& now = av.selectedprntidxq1;
  auto& prop = av.selectedprntidxq2;
  int4 a = 0, b = 0;
  const auto visit = [&](const FArray<int4, 2>& t, int4 rows) {
    for (int4 r = 1; r <= rows; ++r) {
      const int4 o = t(r, 4);
      const int4 f = v.crindivloc(o, s);
      const int4 g = t(r, s);
      if (f > 0 && now(f) == 0) {
        now(f) = 1;
        av.indivloc3(++a, 1) = f;
      }
      if (g > 0 && prop(g) == 0) {
        prop(g) = 1;
        av.indivloc3(++b, 2) = g;
      }
    }
  };
  visit(av.indivloc2, av.numindiv(2));
  visit(av.indivloc1, av.numindiv(1));
  for (int4 k = 1; k <= a; ++k) now(av.indivloc3(k, 1)) = 0;
  for (int4 k = 1; k <= b; ++k) prop(av.indivloc3(k, 2)) = 0;
  return b - a;
}

// One parent pool: each touched id that disappears from the rows counts -1, each that appears
// +1 (the rows hold every offspring of a touched id).
int4 pool_family_change() {
  const auto& v = variables;
  const auto& av = annealvariables;
  std::array<int4, 4> ids{av.movefamily(1), av.movefamily(2), av.hostfamily(1), av.hostfamily(2)};
  int4 change = 0;
  for (std::size_t i = 0; i < ids.size(); ++i) {
    const int4 id = ids[i];
    if (id < 1 || std::find(ids.begin(), ids.begin() + static_cast<std::ptrdiff_t>(i), id) !=
                      ids.begin() + static_cast<std::ptrdiff_t>(i))
      continue;
    int4 before = 0, after = 0;
    const auto count = [&](const FArray<int4, 2>& t, int4 rows) {
      for (int4 r = 1; r <= rows; ++r) {
        const int4 o = t(r, 4);
        before += (v.crindivloc(o, 1) == id) + (v.crindivloc(o, 2) == id);
        after += (t(r, 1) == id) + (t(r, 2) == id);
      }
    };
    count(av.indivloc2, av.numindiv(2));
    count(av.indivloc1, av.numindiv(1));
    if (before > 0 && after == 0) --change;
    if (before == 0 && after > 0) ++change;
  }
  return change;
}

// The proposed number of families of each sex.
void count_new_families(RunState& rs, bool family) {
  auto& v = variables;
  auto& av = annealvariables;
  Proposal& pr = rs.proposal;
  MoveChoice& ch = rs.choice;
  const int4 mi = av.moveindiv;
  for (int4 s = 1; s <= 2; ++s) pr.newnumfamily(s) = v.crnumfamily(s);
  if (family) return;
  if (v.numsex == 1) {
    pr.newnumfamily(1) = v.crnumfamily(1) + pool_family_change();
    pr.newnumfamily(2) = pr.newnumfamily(1);
    return;
  }
  bool allhaploid = av.numindivlocidx(3) > 0;
  for (int4 k = 1; k <= av.numindivlocidx(3) && allhaploid; ++k)
    allhaploid = v.offploid(av.indivloc2(av.indivlocidx(k, 3), 4)) == 1;
  const int4 ks2 = ch.knownsibside;
  for (int4 s = 1; s <= 2; ++s) {
    if (ks2 > 0 && v.knownsibship(mi, 3 - s) != 0 && rs.splitside == 0) {
      if (v.sibshipdone(s) == 0) pr.newnumfamily(s) = v.crnumfamily(s) + family_count_change(s);
      continue;
    }
    if (av.hostfamily(s) == av.movefamily(s)) continue;
    if (av.hostfamily(s) > v.crnumfamily(s) &&
        !(s == v.haplodiploid && av.numindivlocidx(2) > 0 && allhaploid))
      ++pr.newnumfamily(s);
    if (pr.leavers(s) == ch.hssize(s)) --pr.newnumfamily(s);
  }
}

// The proposed number of selfed offspring (one pool that can self).
void count_new_selfers(RunState& rs, bool family) {
  const auto& v = variables;
  const auto& av = annealvariables;
  Proposal& pr = rs.proposal;
  pr.newnumselfer = rs.cp.curnumselfer;
  if (!family && v.numsex == 1 && v.allowinbreeding == 1)
    for (int4 k = 1; k <= av.numindivlocidx(3); ++k) {
      const int4 r = av.indivlocidx(k, 3);
      const int4 o = av.indivloc2(r, 4);
      if (av.indivloc2(r, 1) == av.indivloc2(r, 2)) ++pr.newnumselfer;
      if (v.crindivloc(o, 1) == v.crindivloc(o, 2)) --pr.newnumselfer;
    }
}

// The proposed log prior, with its sibship-size term (priortype 1).
void proposed_prior(RunState& rs, bool family) {
  const auto& v = variables;
  Proposal& pr = rs.proposal;
  pr.newlogprior = priorvalue(1, {pr.newnumassign(1), pr.newnumassign(3)}, pr.newnumfamily(1), 0,
                              pr.newnumselfer) +
                   priorvalue(2, {pr.newnumassign(2), pr.newnumassign(4)}, pr.newnumfamily(2), 0,
                              pr.newnumselfer);
  pr.newsibsizeprior = 0.0;
  if (v.priortype != 1) return;
  pr.newsibsizeprior = rs.oldsibsizeprior;
  if (!family) {
    const int4 first = v.smplsizedh(2) == 0 ? 2 : 1;
    for (int4 s = first; s <= v.numsex; ++s) {
      const int4 m = pr.nchange(s);
      bool any = false;
      for (int4 k = 1; k <= m && !any; ++k) any = v.sibsize(2, k, s) != 0;
      if (!any) continue;
      for (int4 k = 1; k <= m; ++k) {
        const int4 a = v.sibsize(1, k, s);
        const int4 b = v.sibsize(2, k, s);
        const int4 c = v.sibshipsizedist(a, s);
        pr.newsibsizeprior += v.ewenpriorfac(s) * (b * (v.logk(a) - v.logewentheta(s)) -
                                                   v.factorial(c) + v.factorial(c + b));
      }
    }
  }
  pr.newlogprior += pr.newsibsizeprior;
}

}  // namespace

void proposed_counts_and_prior(RunState& rs, bool family) {
  count_new_families(rs, family);
  count_new_selfers(rs, family);
  proposed_prior(rs, family);
}

}  // namespace kinrad
