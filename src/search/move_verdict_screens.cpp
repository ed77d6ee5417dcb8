// Screens of a proposal before its full scoring: the touched clusters of the current and the
// proposed configuration, as the move's rows form them, are scored one after another against
// the acceptance cut-off, stopping as soon as the outcome is clear; and the family-size limit
// of a proposal.
#include <algorithm>
#include <cmath>

#include "configuration/configuration.hpp"
#include "core/modules.hpp"
#include "core/modules/search_work.hpp"
#include "core/random_numbers.hpp"
#include "core/sorting.hpp"
#include "likelihood/likelihood.hpp"
#include "search/move_verdict_internal.hpp"
#include "search/search_internal.hpp"

namespace kinrad {

namespace {

// Writes parent variant vv (1 current, 2 proposed) of the listed offspring into inferparent.
void write_variant(int4 vv) {
  auto& v = variables;
  auto& av = annealvariables;
  for (int4 s = 1; s <= 2; ++s)
    for (int4 k = 1; k <= av.numindivparentage(s); ++k)
      v.inferparent(av.indivparentage(k, s), s) = av.inferparentage(k, s, vv);
}

void fit_block(FArray<int4, 2>& a, int4 rows) {
  if (a.allocated() && a.size(1) >= rows) return;
  a.allocate(Dim(std::max(rows, variables.smplsize)), Dim(4));
}

real8 engine_logl(real8 bound, int4 size) {
  real8 logl = 0.0;
  familylikelihood(logl, bound, 1, 0, size);
  return logl;
}

bool flagged(int4 o) {
  return *variables.selectedindivq(o).p;
}
void flag(int4 o, bool on) {
  auto& v = variables;
  v.selectedindivq(o).p = on ? &v.truetgt : &v.falsetgt;
}

}  // namespace

int4 screen_start() {
  auto& v = variables;
  int4& istart = search_work.istart;
  if (istart != -1) return istart;
  istart = 1;
  for (int4 l = 1; l <= v.numloci; ++l)
    if (v.obsnumallele(l) > 2 && v.othererrorrate(l) < 1e-8) istart = 2;
  return istart;
}

void screen(RunState& rs, real8& cutoff, int4 nrow, int4 sizelimit, int4 destsize) {
  auto& v = variables;
  auto& av = annealvariables;
  auto& vd = rs.verdict;
  (void)sizelimit;  // the family builder needs no size limit
  const int4 istart = screen_start();
  WindowSave keep;
  v.inferparentprt = v.inferparent.view();
  v.indivorder = window(v.number1tgt, 1, nrow);

  // The two variants of the rows of both parts.
  fit_block(vd.block1, nrow);
  fit_block(vd.block2, nrow);
  int4 r = 0;
  for (int4 k = 1; k <= 2; ++k)
    for (int4 t = 1; t <= av.numindiv(k) && r < nrow; ++t) {
      const int4 o = av.indivloc12(k)(t, 4);
      ++r;
      vd.block1(r, 1) = v.crindivloc(o, 1);
      vd.block1(r, 2) = v.crindivloc(o, 2);
      vd.block1(r, 3) = 0;
      vd.block1(r, 4) = o;
      vd.block2(r, 1) = av.indivloc12(k)(t, 1);
      vd.block2(r, 2) = av.indivloc12(k)(t, 2);
      vd.block2(r, 3) = 0;
      vd.block2(r, 4) = o;
    }
  // Whole clusters whose current value is stored.
  const int4 c1raw = v.crindivloc(av.moveindiv, 3);
  const int4 c1 = av.numindiv(1) + av.numindivlocidx(3) == av.clustersizet(c1raw) ? c1raw : 0;
  const int4 h = av.hostfamily(3);
  const int4 c2 = h >= 1 && h <= v.crnumfamily(3) && h != c1raw &&
                          av.numindivlocidx(3) == destsize &&
                          av.clustersizet(h) == av.numindivlocidx(2)
                      ? h
                      : 0;
  const bool forward = av.numindiv(1) < av.numindiv(2);
  auto& marked = search_work.order;
  for (int4 pass = 1; pass <= 2; ++pass) {
    const int4 vv = pass == 1 ? istart : 3 - istart;
    const real8 sign = 2.0 * vv - 3.0;
    write_variant(vv);
    FArray<int4, 2>& blk = vv == 1 ? vd.block1 : vd.block2;
    v.indivlocprt = blk.view();
    marked.clear();
    int4 scored = 0;
    for (int4 t = 1; t <= nrow; ++t) {
      const int4 row = forward ? t : nrow - t + 1;
      const int4 o = blk(row, 4);
      if (flagged(o)) continue;
      const int4 cur = v.crindivloc(o, 3);
      real8 logl = 0.0;
      int4 size = 0;
      const bool stored = vv == 1 && cur != 0 && (cur == c1 || cur == c2);
      if (stored) {
        logl = v.crfamilylogl(cur);
        size = av.clustersizet(cur);
      } else {
        int4 maxfam = 0;
        familybuild(blk(row, 1), nrow, 1, size, maxfam, 1, 0, 0, 0);
        const real8 bound = istart == 1 && vv == 2 ? cutoff - 0.0001 : -1e299;
        logl = engine_logl(bound, size);
      }
      cutoff -= sign * logl;
      if ((istart == 1 && cutoff > 1e-300) || (istart == 2 && cutoff >= 1e200) ||
          scored + size >= nrow)
        break;
      scored += size;
      if (stored) {
        const auto& members = v.indivcluster(v.indivclusterindex(cur));
        for (index_t x = 1; x <= members.size(1); ++x) {
          flag(members(x), true);
          marked.push_back(members(x));
        }
      } else {
        for (int4 f = 1; f <= v.numberfsfamily; ++f) {
          const auto& m = v.familymember(f).a;
          for (index_t x = 1; x <= m.size(1); ++x) {
            flag(m(x), true);
            marked.push_back(m(x));
          }
        }
      }
    }
    for (int4 o : marked) flag(o, false);
    if (cutoff >= 1e200) break;
  }
  if (istart == 2) write_variant(2);
}

void screen2(RunState& rs, real8& cutoff, int4 hostpos1, int4 hostpos2, int4 sizelimit) {
  auto& v = variables;
  auto& av = annealvariables;
  (void)rs;
  (void)sizelimit;
  bool listed = false;
  for (int4 s = 1; s <= 2 && !listed; ++s)
    for (int4 k = 1; k <= av.numindivparentage(s) && !listed; ++k)
      listed = av.indivparentage(k, s) == av.moveindiv;
  if (!listed) return;
  WindowSave keep;
  v.inferparentprt = v.inferparent.view();
  const int4 nfam = av.numberfsfamily1;
  const int4 p1 = av.nparent1(1);
  int4 r = 0;
  for (int4 f = 1; f <= nfam; ++f) {
    const int4 a = av.familyidx1(f);
    const int4 b = av.familyidx1(nfam + f);
    if (a != hostpos1 && b != hostpos2) continue;
    for (int4 t = 1; t <= av.numfamilymember1(f); ++t) {
      ++r;
      av.indivloc1(r, 1) = av.parentidx1(a);
      av.indivloc1(r, 2) = av.parentidx1(p1 + b);
      av.indivloc1(r, 3) = 0;
      av.indivloc1(r, 4) = av.familymember1(av.sibloc1(f) + t);
    }
  }
  if (r == 0) return;
  v.indivlocprt = av.indivloc1.view();
  v.indivorder = window(v.number1tgt, 1, r);
  int4 size = 0;
  int4 maxfam = 0;
  familybuild(0, r, 1, size, maxfam, 1, 0, 0, 0);
  write_variant(1);
  cutoff += engine_logl(-1e300, size);
  write_variant(2);
  cutoff -= engine_logl(cutoff - 0.0001, size);
}

void findfamilysizelimit(int4& sizelimit, int4 flag_) {
  auto& v = variables;
  auto& av = annealvariables;
  if (flag_ > 0) sizelimit = std::max(sizelimit, av.clustersize(3, av.hostfamily(3)));
  const int4 nrows = av.numindivlocidx(2) + av.numindivlocidx(3);
  if (nrows <= sizelimit) return;
  const auto row = [&](int4 t) {
    return t <= av.numindivlocidx(2) ? av.indivlocidx(t, 2)
                                     : av.indivlocidx(t - av.numindivlocidx(2), 3);
  };
  int4 largest = 0;
  if (v.anymonogamy != 0) {
    const int4 s = v.monogamy(1) != 0 ? 1 : 2;
    auto& count = av.selectedprntidxq1;
    int4 nid = 0;
    for (int4 t = 1; t <= nrows; ++t) {
      const int4 id = av.indivloc2(row(t), s);
      if (count(id) == 0) av.indivloc3(++nid, 1) = id;
      largest = std::max(largest, ++count(id));
    }
    for (int4 k = 1; k <= nid; ++k) count(av.indivloc3(k, 1)) = 0;
  } else {
    const int4 n = v.smplsize;
    const int4 m = (3 - v.numsex) * n + std::min(n, 100);
    auto& keys = search_work.keys;
    if (keys.size() < static_cast<std::size_t>(nrows) + 1)
      keys.resize(static_cast<std::size_t>(std::max(nrows, n)) + 1);
    for (int4 t = 1; t <= nrows; ++t) {
      const int4 r = row(t);
      av.indivloc3(t, 1) = av.indivloc2(r, 2) * m + av.indivloc2(r, 1);
      keys[static_cast<std::size_t>(t)] = av.indivloc3(t, 1);
    }
    indexx(nrows, &keys[1], &av.indivloc3(1, 2));
    int4 run = 0;
    for (int4 t = 1; t <= nrows; ++t) {
      const int4 k = av.indivloc3(av.indivloc3(t, 2), 1);
      run = t > 1 && k == av.indivloc3(av.indivloc3(t - 1, 2), 1) ? run + 1 : 1;
      largest = std::max(largest, run);
    }
  }
  sizelimit = std::max(sizelimit, largest);
}

// The screening step of the full-likelihood methods: false when the proposal is refused.
bool screen_proposal(RunState& rs) {
  auto& v = variables;
  auto& av = annealvariables;
  const MoveChoice& ch = rs.choice;
  const Proposal& pr = rs.proposal;
  const auto product = [](int4 a, int4 b) { return std::min(a, b) > 1 ? a * b : 0; };
  int4 k = product(av.nparent1(1), av.nparent1(2));
  if (ch.hostclustersize > 0) k = std::max(k, product(av.nparent2(1), av.nparent2(2)));
  if ((3 - v.numsex) * k <= 30) return true;
  const int4 m = av.movingtype == 1 ? av.numindiv(1) + av.numindiv(2) : 0;
  if (2 * m >= ch.ownclustersize + ch.hostclustersize) return true;
  const auto& cp = rs.cp;
  real8 b = (cp.oldcndlogl - pr.newcndlogl) + (cp.oldlogprior - pr.newlogprior) +
            std::log(ran2()) * cp.lociscale * cp.temperature *
                (std::log(rs.sched.iterlmt / static_cast<real8>(cp.itr)) + 1.0);
  int4 f = av.clustersize(3, ch.owncluster);
  if (av.movingtype == 2) {
    screen2(rs, b, ch.movepos(2), ch.movepos(3), f);
  } else {
    if (av.numindiv(2) > 0) findfamilysizelimit(f, ch.hostclustersize);
    screen(rs, b, av.numindiv(1) + av.numindiv(2), f, av.numindivlocidx(3));
  }
  return b < 0.0;
}

}  // namespace kinrad
