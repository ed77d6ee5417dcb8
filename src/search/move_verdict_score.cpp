// Scoring of an admitted proposal and the acceptance test at the current temperature: the
// pairwise score change (the pairwise method's test, the guided method's pre-test), the
// clusters the proposal creates rebuilt from its rows and, under the full likelihood, scored
// one after another against a bound that falls by each cluster's value, then the counters of
// the verdict. The accepted proposal is applied (move_verdict_apply.cpp) or the refused one undone.
#include <algorithm>
#include <cmath>

#include "configuration/configuration.hpp"
#include "core/modules.hpp"
#include "core/modules/search_seams.hpp"
#include "core/random_numbers.hpp"
#include "core/sorting.hpp"
#include "likelihood/likelihood.hpp"
#include "search/move_verdict_internal.hpp"
#include "search/search_internal.hpp"

namespace kinrad {

namespace {

// The pairwise path: the change of the pairwise score of the touched pairs and, for the
// pairwise method, the acceptance test itself (for the guided method, its pre-test).
void pairwise_path(RunState& rs) {
  auto& v = variables;
  auto& av = annealvariables;
  auto& vd = rs.verdict;
  const Proposal& pr = rs.proposal;
  const bool method0 = v.fulllikelihoodmethodq == 0;
  real8 pair[2] = {0.0, 0.0};

  const real8 f =
      v.crnumfamily(1) + v.crnumfamily(2) > pr.newnumfamily(1) + pr.newnumfamily(2) ? 0.05 : 0.0;
  real8 u = ran2();
  while (!(u > f)) u = ran2();
  real8 c = std::log(u);
  vd.pairdivisor = 1;
  if (method0) {
    c *= rs.cp.temperature;
  } else {
    c *= rs.pairtemperature;
    int4 n = av.numindiv(1) + av.numindiv(2);
    if (v.numsex == v.allowinbreeding) n *= 2;
    n *= 2 * v.haplodiploid + 1;
    if (n == 2) {
      vd.pairdivisor = 1;
    } else if (n > 2) {
      const real8 r = ran2();
      vd.pairdivisor = static_cast<int4>(std::lround(std::pow(0.5 * (n - 1) * n, r)));
    } else {
      vd.pairdivisor = n;
    }
  }
  vd.selfterm = 0.0;
  const int4 nlisted = av.numindivlocidx(1) + av.numindivlocidx(2) + av.numindivlocidx(3);

  const auto decide = [&] {
    if (vd.acceptq != 1) return;
    if (vd.pairdivisor > 1) {
      pair[0] /= vd.pairdivisor;
      pair[1] /= vd.pairdivisor;
    }
    if (method0) pair[0] += vd.selfterm;
    const real8 x = (pair[1] + pr.newlogprior) - (pair[0] + rs.cp.oldlogprior);
    if (c > x) {
      vd.acceptq = 0;
    } else if (method0 && std::fabs(x) < 1e-6) {
      if (ran2() > rs.coolfactor) vd.acceptq = 0;
    }
  };
  const auto finish = [&] {
    vd.oldpairlogl = pair[0];
    vd.newpairlogl = pair[1];
  };

  if (v.smplsizedh(1) != 0) {
    calculatedhpairlogl(pair, av.numindiv(1) + av.numindiv(2));
    decide();
    finish();
    return;
  }
  if (av.movingtype == 2 && rs.triocheckq != 0) {
    checktriocompatability(pair[1], v.smplsize);
    if (pair[1] <= -1e37) {
      vd.acceptq = 0;
      finish();
      return;
    }
  }
  if (v.allcandidate > 0) calculatepopairlogl(pair);
  if (v.numsex == v.allowinbreeding) {
    if (av.movingtype == 2) {
      decide();
      finish();
      return;
    }
    logl_change_self(vd.selfterm);
    if (std::fabs(vd.selfterm) > 1e-300) {
      if (vd.pairdivisor == 1 && vd.selfterm > 1000.0 && vd.selfterm > 5.0 * av.numindivlocidx(3)) {
        vd.acceptq = 0;
        finish();
        return;
      }
      vd.selfterm *= v.smplsize - nlisted + 2 * v.numcandidate(1);
    }
  } else if (av.movingtype == 2) {
    decide();
    finish();
    return;
  }
  if (vd.acceptq == 1) {
    const MoveChoice& ch = rs.choice;
    bool mono = false;
    if (av.numberfsfamily1 < v.numsex) {
      if (v.allmonogamy != 0) {
        mono = true;
      } else if (ch.hostclustersize > 0) {
        const int4 m = av.familymember2(1);
        mono = av.hostfamily(1) == v.crindivloc(m, 1) && av.hostfamily(2) == v.crindivloc(m, 2) &&
               av.numberfsfamily2 == 1;
      } else {
        mono = ch.movekind == 3;
      }
    }
    if (mono)
      calculatepairloglmonogamy(pair, rs.cp.oldlogprior - pr.newlogprior + c);
    else
      calculatepairlogl2(pair, nlisted);
  }
  decide();
  finish();
}

// The rows of the side being built in offspring order, into vd.order(1..n).
void sort_side_rows(Verdict& vd, const FView<int4, 2>& win, int4 n) {
  const auto& v = variables;
  grow_verdict_work(vd.order, static_cast<std::size_t>(n) + 1);
  if (n <= 0) return;
  const real8 rows = n;
  if (rows + v.smplsize > rows * v.logk(n)) {
    grow_verdict_work(vd.keys, static_cast<std::size_t>(n) + 1);
    for (int4 r = 1; r <= n; ++r) vd.keys[static_cast<std::size_t>(r)] = win(r, 4);
    indexx(n, &vd.keys[1], &vd.order[1]);
  } else {
    grow_verdict_work(vd.ikeys, static_cast<std::size_t>(n) + 1);
    for (int4 r = 1; r <= n; ++r) vd.ikeys[static_cast<std::size_t>(r)] = win(r, 4);
    indexquick(n, &vd.ikeys[1], &vd.order[1]);
  }
}

}  // namespace

// The clusters of one side, built from its rows one after another; under the full likelihood
// each is scored at once against the falling bound. False when a cluster fails its bound.
bool build_side_clusters(RunState& rs, int4 side, int4& nextid, bool score) {
  auto& v = variables;
  auto& av = annealvariables;
  auto& vd = rs.verdict;
  const FView<int4, 2> win = av.indivloc12(side);
  const int4 n = av.numindiv(side);
  WindowSave keep;
  v.indivlocprt = win;
  v.inferparentprt = v.inferparent.view();
  sort_side_rows(vd, win, n);
  grow_verdict_work(vd.pending, static_cast<std::size_t>(n) + 1);
  grow_verdict_work(vd.rowof, static_cast<std::size_t>(v.smplsize) + 1);
  int4 npending = n;
  for (int4 t = 1; t <= n; ++t) {
    const int4 r = vd.order[static_cast<std::size_t>(t)];
    vd.pending[static_cast<std::size_t>(t)] = r;
    av.indivloc12(side)(r, 3) = 0;
    vd.rowof[static_cast<std::size_t>(win(r, 4))] = r;
  }
  std::size_t used = 0;
  for (int4 k = 0; k < vd.nclusters; ++k)
    used += static_cast<std::size_t>(vd.clusters[static_cast<std::size_t>(k)].size);
  grow_verdict_work(vd.rows, used + static_cast<std::size_t>(n) + 1);

  const bool two = v.numsex == 2 && rs.focussex != 0;
  const int4 wantstructure = v.fulllikelihoodmethodq != 0 ? 1 : 0;
  const int4 wantid = wantstructure == 0 ? 1 : 0;
  bool firstcluster = true;
  while (npending > 0) {
    v.indivorder = FView<int4, 1>(&vd.pending[1], {Dim(npending)});
    const int4 seedrow = vd.pending[1];
    int4 nmember = 0;
    int4 maxfam = 0;
    if (two) {
      familybuild1(nmember, rs.focussex, wantstructure, wantid, npending,
                   win(seedrow, rs.focussex));
      for (int4 f = 1; f <= v.numberfsfamily; ++f)
        maxfam = std::max(maxfam, static_cast<int4>(v.familymember(f).a.size(1)));
    } else {
      familybuild(win(seedrow, 1), npending, 1, nmember, maxfam, wantstructure, wantid, 0, 0);
    }
    const int4 id = firstcluster ? (side == 1 ? rs.choice.owncluster : av.hostfamily(3)) : ++nextid;
    firstcluster = false;
    const auto k = static_cast<std::size_t>(vd.nclusters++);
    grow_verdict_work(vd.clusters, k + 1);
    NewCluster& nc = vd.clusters[k];
    nc.side = side;
    nc.id = id;
    nc.size = nmember;
    nc.first = static_cast<int4>(used);
    nc.cnt = {v.nparent(1),     v.nparent(2),       maxfam,
              v.numberfsfamily, v.maxnumpartner(1), v.maxnumpartner(2)};
    nc.logl = 0.0;
    ++vd.sideclusters(side);
    for (int4 f = 1; f <= v.numberfsfamily; ++f) {
      const auto& m = v.familymember(f).a;
      for (index_t t = 1; t <= m.size(1); ++t)
        av.indivloc12(side)(vd.rowof[static_cast<std::size_t>(m(t))], 3) = id;
    }
    if (score) {
      real8 logl = 0.0;
      if (search_seams.cluster_logl) [[unlikely]]
        search_seams.cluster_logl(logl, vd.thresholdlogl, side, nmember);
      else
        familylikelihood(logl, vd.thresholdlogl, side - 1, 0, nmember);
      nc.logl = logl;
      if (vd.thresholdlogl >= logl) return false;
      vd.thresholdlogl -= logl;
    }
    // The cluster's rows in offspring order; the rest wait for the next seed.
    int4 left = 0;
    for (int4 t = 1; t <= npending; ++t) {
      const int4 r = vd.pending[static_cast<std::size_t>(t)];
      if (win(r, 3) == id)
        vd.rows[++used] = r;
      else
        vd.pending[static_cast<std::size_t>(++left)] = r;
    }
    npending = left;
  }
  return true;
}

namespace {

// Known-sibship entries among the offspring of the rows of both sides.
real8 known_sib_count() {
  const auto& v = variables;
  const auto& av = annealvariables;
  if (v.anyknownsibshipq(1) == 0 && v.anyknownsibshipq(2) == 0) return 0.0;
  real8 count = 0.0;
  for (int4 k = 1; k <= 2; ++k)
    for (int4 r = 1; r <= av.numindiv(k); ++r) {
      const int4 o = av.indivloc12(k)(r, 4);
      for (int4 s = 1; s <= 2; ++s)
        if (v.anyknownsibshipq(s) != 0 && v.knownsibship(o, s) != 0) count += 1.0;
    }
  return count;
}

// u > drawfloor and the random term of the full-likelihood test.
real8 full_draw(const RunState& rs, real8 knownsibcount, real8 size) {
  real8 u = ran2();
  while (!(u > rs.drawfloor)) u = ran2();
  return std::log(u) * rs.cp.temperature *
         (1.0 - 0.5 * annealvariables.rate * knownsibcount / size);
}

// The clusters of an individual move: the sides completed, rebuilt and (full likelihood)
// scored; acceptq falls to 0 when a cluster fails its bound or a tie draw refuses.
void individual_clusters(RunState& rs) {
  auto& v = variables;
  auto& av = annealvariables;
  auto& vd = rs.verdict;
  const MoveChoice& ch = rs.choice;
  const Proposal& pr = rs.proposal;
  const bool full = v.fulllikelihoodmethodq != 0;

  complete_move_windows(rs);
  vd.nclusters = 0;
  vd.sideclusters(1) = 0;
  vd.sideclusters(2) = 0;
  const bool side1 = ch.movekind != 1 && av.numindiv(1) > 0;
  vd.ownemptied = ch.movekind != 1 && !side1 ? 1 : 0;

  if (av.equalconfig == 1) {
    // Nothing is rebuilt: the one cluster keeps its structure and its log likelihood.
    const int4 id = av.hostfamily(3);
    const int4 n = av.numindiv(2);
    auto win = av.indivloc12(2);
    sort_side_rows(vd, win, n);
    grow_verdict_work(vd.rows, static_cast<std::size_t>(n) + 1);
    for (int4 t = 1; t <= n; ++t) {
      const int4 r = vd.order[static_cast<std::size_t>(t)];
      win(r, 3) = id;
      vd.rows[static_cast<std::size_t>(t)] = r;
    }
    grow_verdict_work(vd.clusters, 1);
    NewCluster& nc = vd.clusters[0];
    nc.side = 2;
    nc.id = id;
    nc.size = n;
    nc.first = 0;
    nc.logl = pr.oldclusterlogl;
    for (int4 j = 0; j < 6; ++j) nc.cnt[static_cast<std::size_t>(j)] = av.clustersize(j + 1, id);
    vd.nclusters = 1;
    vd.sideclusters(2) = 1;
    return;
  }

  if (full) {
    vd.knownsibcount = known_sib_count();
    vd.drawlogu = full_draw(rs, vd.knownsibcount, av.numindiv(1) + av.numindiv(2));
    vd.thresholdlogl = (rs.cp.oldlogprior - pr.newlogprior) + (rs.cp.oldcndlogl - pr.newcndlogl) +
                       pr.oldclusterlogl + vd.drawlogu;
  }
  int4 nextid = v.crnumfamily(3) + (ch.movekind == 3 ? 1 : 0);
  const bool side1first = side1 && av.numindiv(1) == 1;
  const int4 firstside = side1first ? 1 : 2;
  if (!build_side_clusters(rs, firstside, nextid, full)) {
    vd.acceptq = 0;
    return;
  }
  const bool second = side1first || side1;
  if (second && !build_side_clusters(rs, 3 - firstside, nextid, full)) {
    vd.acceptq = 0;
    return;
  }
  if (full && std::fabs(vd.thresholdlogl - vd.drawlogu) < 1e-6) {
    if (ran2() > rs.coolfactor) vd.acceptq = 0;
  }
}

// The one cluster of a family move, rebuilt in place and scored (full likelihood).
void family_cluster(RunState& rs) {
  auto& v = variables;
  auto& av = annealvariables;
  auto& vd = rs.verdict;
  const MoveChoice& ch = rs.choice;
  const Proposal& pr = rs.proposal;
  WindowSave keep;
  v.inferparentprt = v.inferparent.view();
  // The cluster's structure built from its member rows (the proposal changes parents only).
  {
    const auto& members = v.indivcluster(v.indivclusterindex(ch.owncluster));
    const auto m = static_cast<int4>(members.size(1));
    for (int4 t = 1; t <= m; ++t) {
      const int4 o = members(t);
      av.indivloc3(t, 1) = v.crindivloc(o, 1);
      av.indivloc3(t, 2) = v.crindivloc(o, 2);
      av.indivloc3(t, 3) = 0;
      av.indivloc3(t, 4) = o;
    }
    v.indivlocprt = av.indivloc3.view();
    v.indivorder = window(v.number1tgt, 1, m);
    int4 nmember = 0;
    int4 maxfam = 0;
    familybuild(av.indivloc3(1, 1), m, 1, nmember, maxfam, 1, 0, 0, 1);
  }
  real8 known = 0.0;
  if (v.anyknownsibshipq(1) != 0 || v.anyknownsibshipq(2) != 0) {
    for (int4 f = 1; f <= v.numberfsfamily; ++f) {
      const auto& m = v.familymember(f).a;
      if (m.size(1) < 1) continue;
      const int4 first = m(1);
      if (first != av.moveindiv && !(v.crindivloc(first, 1) == v.crindivloc(av.moveindiv, 1) &&
                                     v.crindivloc(first, 2) == v.crindivloc(av.moveindiv, 2)))
        continue;
      for (index_t t = 1; t <= m.size(1); ++t)
        for (int4 s = 1; s <= 2; ++s)
          if (v.anyknownsibshipq(s) != 0 && v.knownsibship(m(t), s) != 0) known += 1.0;
    }
  }
  vd.knownsibcount = known;
  vd.drawlogu = full_draw(rs, known, ch.ownclustersize);
  vd.thresholdlogl = (rs.cp.oldcndlogl - pr.newcndlogl) + (rs.cp.oldlogprior - pr.newlogprior) +
                     pr.oldclusterlogl + vd.drawlogu;
  real8 logl = 0.0;
  familylikelihood(logl, vd.thresholdlogl, 1, 1, ch.ownclustersize);
  vd.familylogl = logl;
  if (vd.thresholdlogl >= logl) {
    vd.acceptq = 0;
    return;
  }
  const real8 newtotal = pr.newlogprior + pr.newcndlogl + logl;
  const real8 oldtotal = rs.cp.oldlogprior + rs.cp.oldcndlogl + pr.oldclusterlogl;
  if (std::fabs(newtotal - oldtotal) < 1e-6 && ran2() > annealvariables.rate) vd.acceptq = 0;
}

}  // namespace

void score_proposal(RunState& rs) {
  auto& v = variables;
  auto& av = annealvariables;
  auto& vd = rs.verdict;
  auto& cp = rs.cp;
  vd.acceptq = 1;
  vd.oldpairlogl = 0.0;
  vd.newpairlogl = 0.0;
  vd.selfterm = 0.0;
  vd.nclusters = 0;
  vd.sideclusters(1) = 0;
  vd.sideclusters(2) = 0;
  vd.ownemptied = 0;
  const bool method0 = v.fulllikelihoodmethodq == 0;

  const bool skip_pairs =
      v.allmonogamy != 0 && v.fulllikelihoodmethodq != 0 && av.numindivlocidx(3) > 100;
  if (v.quicksearchq == 1 && av.equalconfig == 0 && !skip_pairs) pairwise_path(rs);
  // The screens of the full-likelihood methods for large clusters without monogamy.
  if (!method0 && v.anymonogamy == 0 && vd.acceptq == 1 && av.equalconfig == 0 &&
      !screen_proposal(rs))
    vd.acceptq = 0;

  // The pre-test verdict.
  vd.prescreen = 0;
  if (!method0 && (vd.oldpairlogl < -1e-300 || vd.newpairlogl < -1e-300)) {
    cp.prescreencount += 1.0;
    cp.prescreenpass += vd.acceptq;
    vd.prescreen = vd.acceptq == 1 ? 2 : 1;
  }
  if (vd.acceptq == 1) {
    if (av.movingtype == 1)
      individual_clusters(rs);
    else if (!method0)
      family_cluster(rs);
  }

  // The verdict counted.
  if (vd.prescreen != 0) {
    cp.prescreencounts[1] += 1.0;
    if (vd.prescreen == vd.acceptq + 1) cp.prescreencounts[0] += 1.0;
  }
  count_scored(rs);
  if (vd.acceptq == 1) ++cp.moveweight(av.moveindiv, 1);
}

MoveOutcome decide_move(RunState& rs) {
  const int4 kind = annealvariables.movingtype;
  if (kind != 1 && kind != 2) {
    // No move in hand (the choice has not run): nothing to score but the count.
    rs.verdict.acceptq = 0;
    count_scored(rs);
    undo_proposal(rs);
    return MoveOutcome::completed;
  }
  score_proposal(rs);
  if (rs.verdict.acceptq != 1) {
    undo_proposal(rs);
    return MoveOutcome::completed;
  }
  commit_proposal(rs);
  return apply_accepted(rs) ? MoveOutcome::end_run : MoveOutcome::completed;
}

}  // namespace kinrad
