// An accepted proposal written into the current configuration: parents, family ids, the
// cluster tables and per-cluster values, the score, the best copy and the archive, and the
// periodic recomputations that remove rounding drift.
#include <algorithm>
#include <cassert>
#include <cmath>

#include "configuration/configuration.hpp"
#include "core/error_stop.hpp"
#include "core/modules.hpp"
#include "core/modules/search_work.hpp"
#include "search/move_verdict_internal.hpp"
#include "search/search_internal.hpp"

namespace kinrad {

namespace {

// The proposed parents made permanent: inferparent2, the parent-offspring links and the
// eligible-candidate lists of the family moves marked stale.
void apply_parents(RunState& rs) {
  auto& v = variables;
  auto& av = annealvariables;
  for (int4 s = 1; s <= 2; ++s)
    for (int4 k = 1; k <= av.numindivparentage(s); ++k)
      v.inferparent2(av.indivparentage(k, s), s) = av.inferparentage(k, s, 2);
  if (v.poassign.allocated()) {
    for (int4 s = 1; s <= 2; ++s)
      for (int4 k = 1; k <= av.numindivparentage(s); ++k) {
        const int4 o = av.indivparentage(k, s);
        const int4 p = std::max(av.inferparentage(k, s, 2), v.indivparent(o, s));
        v.poassign(s, o) = p > 0 ? v.cndinoffspring(p, s) : 0;
      }
    for (int4 s = 1; s <= 2; ++s)
      for (int4 k = 1; k <= av.numindivparentage(s); ++k) {
        const int4 o = av.indivparentage(k, s);
        const int4 pos = v.ipoassign(o);
        if (pos > 0) {
          const int4 lastpos = v.npoassign(0);
          const int4 moved = v.npoassign(lastpos);
          v.npoassign(pos) = moved;
          v.ipoassign(moved) = pos;
          v.ipoassign(o) = 0;
          --v.npoassign(0);
        }
      }
    for (int4 s = 1; s <= 2; ++s)
      for (int4 k = 1; k <= av.numindivparentage(s); ++k) {
        const int4 o = av.indivparentage(k, s);
        if (v.ipoassign(o) == 0 && (v.poassign(1, o) > 0 || v.poassign(2, o) > 0)) {
          v.npoassign(++v.npoassign(0)) = o;
          v.ipoassign(o) = v.npoassign(0);
        }
      }
  }
  auto& el = rs.proposal.eligible;
  if (!el.allocated()) return;
  if (v.numsex == 1) {
    if (av.numindivparentage(1) > 0 || av.numindivparentage(2) > 0) {
      int4 both = 0;
      for (int4 c = 1; c <= av.unassignedcnd.ubound(1); ++c)
        if (av.unassignedcnd(c, 1) + av.unassignedcnd(c, 2) == 2) ++both;
      rs.numunassigned[0] = both;
      el(0, 1) = -1;
      if (el.ubound(2) >= 2) el(0, 2) = -1;
    }
    return;
  }
  for (int4 s = 1; s <= 2; ++s)
    if (av.numindivparentage(s) > 0 && el.ubound(2) >= s) el(0, s) = -1;
}

// Passes over a whole column of the configuration (an id renumbered wherever it is carried),
// written as blocks of eight of fixed length so that the compiler turns them into vector
// compares and adds at -O2; the scalar tail takes the rest. Each entry ends as the plain
// element-by-element loop leaves it.
void replace_id(int4* col, int4 n, int4 from, int4 to) {
  const int4 d = to - from;
  int4 i = 0;
  for (; i + 8 <= n; i += 8)
    for (int4 k = 0; k < 8; ++k) col[i + k] += col[i + k] == from ? d : 0;
  for (; i < n; ++i) col[i] += col[i] == from ? d : 0;
}

void lower_ids_above(int4* col, int4 n, int4 above) {
  int4 i = 0;
  for (; i + 8 <= n; i += 8)
    for (int4 k = 0; k < 8; ++k) col[i + k] -= col[i + k] > above ? 1 : 0;
  for (; i < n; ++i) col[i] -= col[i] > above ? 1 : 0;
}

// Calls f(window, row) for every row of both sides.
template <class F>
void each_side_row(F f) {
  auto& av = annealvariables;
  for (int4 k = 1; k <= 2; ++k) {
    auto win = av.indivloc12(k);
    for (int4 r = 1; r <= av.numindiv(k); ++r) f(win, r);
  }
}

// Family ids after an individual move: ids the proposal introduced numbered on from
// crnumfamily, then each emptied id, in ascending order, given the current largest id.
// cols: the columns of one id space (1 or 2 alone, or both in one parent pool).
void renumber_families(int4 col1, int4 col2, int4& count) {
  auto& v = variables;
  auto& av = annealvariables;
  auto& w = search_work;
  const int4 cr = count;
  // New ids, in the order of the moving rows, then of any other row.
  auto& newids = w.newids;
  newids.clear();
  const auto note_new = [&](int4 x) {
    if (x > cr && std::find(newids.begin(), newids.end(), x) == newids.end()) newids.push_back(x);
  };
  for (int4 t = 1; t <= av.numindivlocidx(3); ++t) {
    const int4 r = av.indivlocidx(t, 3);
    for (int4 c = col1; c <= col2; ++c) note_new(av.indivloc2(r, c));
  }
  each_side_row([&](FView<int4, 2>& win, int4 r) {
    for (int4 c = col1; c <= col2; ++c) note_new(win(r, c));
  });
  const auto nnew = static_cast<int4>(newids.size());
  if (nnew > 0)
    each_side_row([&](FView<int4, 2>& win, int4 r) {
      for (int4 c = col1; c <= col2; ++c)
        if (win(r, c) > cr) {
          const auto at = std::find(newids.begin(), newids.end(), win(r, c)) - newids.begin();
          win(r, c) = cr + 1 + static_cast<int4>(at);
        }
    });
  int4 top = cr + nnew;
  // Emptied ids: carried now by an offspring of the rows, proposed by no row (the rows hold
  // whole clusters, so no other offspring carries them).
  auto& used = w.idmark;
  grow_verdict_work(used, static_cast<std::size_t>(top) + 1);
  each_side_row([&](FView<int4, 2>& win, int4 r) {
    for (int4 c = col1; c <= col2; ++c) used[static_cast<std::size_t>(win(r, c))] = 1;
  });
  auto& emptied = w.emptied;
  emptied.clear();
  each_side_row([&](FView<int4, 2>& win, int4 r) {
    const int4 o = win(r, 4);
    for (int4 c = col1; c <= col2; ++c) {
      const int4 x = v.crindivloc(o, c);
      if (x >= 1 && x <= cr && used[static_cast<std::size_t>(x)] == 0) {
        used[static_cast<std::size_t>(x)] = 2;
        emptied.push_back(x);
      }
    }
  });
  each_side_row([&](FView<int4, 2>& win, int4 r) {
    for (int4 c = col1; c <= col2; ++c) used[static_cast<std::size_t>(win(r, c))] = 0;
  });
  std::sort(emptied.begin(), emptied.end());
  for (int4 x : emptied) used[static_cast<std::size_t>(x)] = 0;
  std::size_t e = 0;
  std::size_t hi = emptied.size();
  while (e < hi) {
    // The largest id still carried.
    while (hi > e && emptied[hi - 1] == top) {
      --top;
      --hi;
    }
    if (e >= hi) break;
    const int4 x = emptied[e++];
    // The id `top` may be carried by any offspring outside the rows.
    for (int4 c = col1; c <= col2; ++c) replace_id(&v.crindivloc(1, c), v.smplsize, top, x);
    each_side_row([&](FView<int4, 2>& win, int4 r) {
      for (int4 c = col1; c <= col2; ++c)
        if (win(r, c) == top) win(r, c) = x;
    });
    --top;
  }
  count = top;
}

// The slots of the cluster table an accepted individual move frees and fills: the count of
// clusters before, the slots in use, the two the touched clusters leave (slot2 0: one), the
// slots in use once they left, and the largest cluster id.
struct ClusterSlots {
  int4 oldcount = 0;
  int4 nused = 0;
  int4 slot1 = 0;
  int4 slot2 = 0;
  int4 removed = 0;
  int4 maxid = 0;
};

// The selfed-offspring count of the run moved by the accepted rows (one pool that can self).
void apply_selfer_count(RunState& rs) {
  const auto& v = variables;
  if (v.numsex == 1 && v.allowinbreeding == 1)
    each_side_row([&](FView<int4, 2>& win, int4 r) {
      const int4 o = win(r, 4);
      rs.cp.curnumselfer +=
          (win(r, 1) == win(r, 2) ? 1 : 0) - (v.crindivloc(o, 1) == v.crindivloc(o, 2) ? 1 : 0);
    });
}

// The family ids of the rows renumbered into the run's range, and the largest sibship size in
// use (priortype 1).
void apply_family_ids(RunState& rs) {
  auto& v = variables;
  const Proposal& pr = rs.proposal;
  if (v.numsex == 1) {
    int4 count = v.crnumfamily(1);
    renumber_families(1, 2, count);
    v.crnumfamily(1) = count;
    v.crnumfamily(2) = count;
  } else {
    for (int4 s = 1; s <= 2; ++s) renumber_families(s, s, v.crnumfamily(s));
  }
  if (v.priortype == 1) {
    // The largest sibship size in use: from the largest size the move's tally met (the
    // families it changed), lowered past the sizes left empty. The rows do not bound it: in
    // one parent pool an offspring counts in both its families, a selfed one twice in one.
    for (int4 s = 1; s <= v.numsex; ++s) {
      int4 top = std::min(static_cast<int4>(pr.maxsize(s + 2)),
                          static_cast<int4>(v.sibshipsizedist.ubound(1)));
      while (top > 1 && v.sibshipsizedist(top, s) == 0) --top;
      rs.cp.numsizeclass(s) = static_cast<int2>(top);
    }
    rs.oldsibsizeprior = pr.newsibsizeprior;
  }
}

// The touched clusters leave their slots.
ClusterSlots vacate_touched_clusters(const RunState& rs) {
  const auto& v = variables;
  const auto& av = annealvariables;
  const MoveChoice& ch = rs.choice;
  ClusterSlots sl;
  sl.oldcount = v.crnumfamily(3);
  sl.nused = sl.oldcount;
  sl.slot1 = v.indivclusterindex(ch.owncluster);
  replacecluster(ch.owncluster, sl.slot1);
  --sl.nused;
  if (av.equalconfig == 0 && ch.hostclustersize > 0) {
    sl.slot2 = v.indivclusterindex(av.hostfamily(3));
    if (sl.slot2 == sl.oldcount) sl.slot2 = sl.slot1;
    replacecluster(av.hostfamily(3), sl.slot2);
    --sl.nused;
  }
  sl.removed = sl.nused;
  sl.maxid = sl.oldcount;
  return sl;
}

// An emptied own cluster gives up its id: the ids above it move down by one, the offspring's
// in one vector pass over the column, the per-cluster tables and the slot of each id as
// blocks.
void retire_emptied_own_cluster(RunState& rs, ClusterSlots& sl) {
  auto& v = variables;
  auto& av = annealvariables;
  auto& vd = rs.verdict;
  const int4 own = rs.choice.owncluster;
  const int4 oldcount = sl.oldcount;
  if (vd.ownemptied == 0) return;
  lower_ids_above(&v.crindivloc(1, 3), v.smplsize, own);
  if (own < oldcount) {
    std::copy(&v.crfamilylogl(own + 1), &v.crfamilylogl(oldcount) + 1, &v.crfamilylogl(own));
    std::copy(&av.clustersizet(own + 1), &av.clustersizet(oldcount) + 1, &av.clustersizet(own));
    std::copy(&av.clustersize(1, own + 1), &av.clustersize(6, oldcount) + 1,
              &av.clustersize(1, own));
    std::copy(&v.indivclusterindex(own + 1), &v.indivclusterindex(oldcount) + 1,
              &v.indivclusterindex(own));
  }
  sl.maxid = oldcount - 1;
  for (int4 k = 0; k < vd.nclusters; ++k) {
    NewCluster& nc = vd.clusters[static_cast<std::size_t>(k)];
    if (nc.id > own) --nc.id;
  }
  each_side_row([&](FView<int4, 2>& win, int4 r) {
    if (win(r, 3) > own) --win(r, 3);
  });
}

#ifndef NDEBUG
// A proposal equal to the current configuration keeps the destination's measures, with the
// entries of the two sexes exchanged by the validity test: they must match its rows.
void check_equal_configuration(RunState& rs) {
  auto& v = variables;
  auto& av = annealvariables;
  auto& vd = rs.verdict;
  if (av.equalconfig == 1 && vd.nclusters == 1) {
    const NewCluster& nc = vd.clusters[0];
    WindowSave keep;
    v.indivlocprt = av.indivloc12(2);
    v.indivorder = FView<int4, 1>(&vd.rows[1], {Dim(nc.size)});
    int4 nmember = 0;
    int4 maxfam = 0;
    familybuild(0, nc.size, 1, nmember, maxfam, 0, 0, 0, 0);
    assert(av.clustersize(1, nc.id) == v.nparent(1) && av.clustersize(2, nc.id) == v.nparent(2) &&
           av.clustersize(3, nc.id) == maxfam && av.clustersize(4, nc.id) == v.numberfsfamily);
  }
}
#endif

// Per-cluster values of the new clusters (sum gains their log likelihoods), then their
// registrations in the cluster table: side 2 first, then side 1.
void register_new_clusters(RunState& rs, real8& sum, ClusterSlots& sl) {
  auto& v = variables;
  auto& av = annealvariables;
  auto& vd = rs.verdict;
  const bool full = v.fulllikelihoodmethodq != 0;
  for (int4 k = 0; k < vd.nclusters; ++k) {
    const NewCluster& nc = vd.clusters[static_cast<std::size_t>(k)];
    sl.maxid = std::max(sl.maxid, nc.id);
    if (full) {
      v.crfamilylogl(nc.id) = nc.logl;
      sum += nc.logl;
    }
    if (av.equalconfig == 1) continue;
    av.clustersizet(nc.id) = nc.size;
    for (int4 j = 0; j < 6; ++j) av.clustersize(j + 1, nc.id) = nc.cnt[static_cast<std::size_t>(j)];
  }
  v.crnumfamily(3) = sl.maxid;
  WindowSave keep;
  const bool mono2 = v.allmonogamy != 0 && v.numsex == 2;
  for (int4 side = 2; side >= 1; --side)
    for (int4 k = 0; k < vd.nclusters; ++k) {
      const NewCluster& nc = vd.clusters[static_cast<std::size_t>(k)];
      if (nc.side != side) continue;
      v.indivlocprt = av.indivloc12(side);
      const int4 slot = ++sl.nused;
      const int4* rows = &vd.rows[static_cast<std::size_t>(nc.first) + 1];
      if (full && mono2)
        addcluster1(slot, nc.size, nc.size, rows);
      else if (full || av.equalconfig == 1)
        addcluster(slot, &av.clustersize(1, nc.id), nc.size, nc.size, rows, nc.id);
      else
        addcluster2(slot, &av.clustersize(1, nc.id), nc.size, nc.size, rows, nc.id);
    }
}

// The rows into the configuration, and the slot of each cluster id: only the slots the move
// emptied or filled changed (the two it freed, which took the last slots in use, and those
// from the first free one on); the other clusters kept their slots and, above an emptied own
// cluster, were shifted with their ids above.
void write_rows_and_slots(const ClusterSlots& sl) {
  auto& v = variables;
  auto& av = annealvariables;
  each_side_row([&](FView<int4, 2>& win, int4 r) {
    const int4 o = win(r, 4);
    v.crindivloc(o, 1) = win(r, 1);
    v.crindivloc(o, 2) = win(r, 2);
    v.crindivloc(o, 3) = win(r, 3);
  });
  av.lastfamilyid(1) = 0;
  av.lastfamilyid(2) = 0;
  const auto note = [&](int4 c) {
    const int4 first = v.indivclusteridx(c);
    if (first >= 1) v.indivclusterindex(v.crindivloc(first, 3)) = static_cast<int2>(c);
  };
  note(sl.slot1);
  if (sl.slot2 > 0) note(sl.slot2);
  for (int4 c = sl.removed + 1; c <= v.crnumfamily(3); ++c) note(c);
#ifndef NDEBUG
  for (int4 c = 1; c <= v.crnumfamily(3); ++c) {
    const int4 first = v.indivclusteridx(c);
    assert(first < 1 || v.indivclusterindex(v.crindivloc(first, 3)) == c);
  }
  for (int4 id = 1; id <= v.crnumfamily(3); ++id) {
    const int4 c = v.indivclusterindex(id);
    assert(c >= 1 && v.indivclusteridx(c) >= 1 && v.crindivloc(v.indivclusteridx(c), 3) == id);
  }
#endif
}

// One parent pool: the family ids in use must run from 1; the largest is the family count of
// both sexes.
void check_pool_family_ids() {
  auto& v = variables;
  if (v.numsex != 1) return;
  int4 lo = 0;
  int4 hi = 0;
  for (int4 i = 1; i <= v.smplsize; ++i)
    for (int4 c = 1; c <= 2; ++c) {
      const int4 x = v.crindivloc(i, c);
      if (lo == 0 || x < lo) lo = x;
      hi = std::max(hi, x);
    }
  if (lo != 1) {
    for (int4 k = 1; k <= 5; ++k) v.errmsg(k) = "";
    v.errmsg(1) = "Error in pedigree configuration!";
    stoponerror(1, "ANNEAL");
  }
  v.crnumfamily(1) = hi;
  v.crnumfamily(2) = hi;
}

// The clusters of an accepted individual move written into the configuration and its tables;
// sum gains their log likelihoods.
void apply_clusters(RunState& rs, real8& sum) {
  auto& v = variables;
  const auto& av = annealvariables;
  apply_selfer_count(rs);
  apply_family_ids(rs);
  ClusterSlots sl = vacate_touched_clusters(rs);
  retire_emptied_own_cluster(rs, sl);
#ifndef NDEBUG
  check_equal_configuration(rs);
#endif
  register_new_clusters(rs, sum, sl);
  write_rows_and_slots(sl);
  // The marks of the own cluster's families that the proposal held are released.
  if (v.selectedfamily.allocated())
    for (int4 f = 1; f <= av.numberfsfamily1 && f <= v.selectedfamily.ubound(1); ++f)
      v.selectedfamily(f) = 0;
  check_pool_family_ids();
}

// The best copy of the run replaced by the current configuration.
void copy_best(const RunState& rs) {
  auto& v = variables;
  v.btloglikelihood = v.crloglikelihood;
  v.btnumfamily = v.crnumfamily;
  v.btconfigprior = rs.cp.oldlogprior;
  if (v.btindivloc.size(1) != v.crindivloc.size(1) || v.btindivloc.size(2) != 3)
    v.btindivloc.allocate(Dim(v.crindivloc.size(1)), Dim(3));
  for (int4 c = 1; c <= 3; ++c)
    for (int4 i = 1; i <= v.smplsize; ++i) v.btindivloc(i, c) = v.crindivloc(i, c);
  if (v.allcandidate > 0)
    for (int4 c = 1; c <= 2; ++c)
      for (int4 i = 1; i <= v.smplsize; ++i) v.btinferparent(i, c) = v.inferparent(i, c);
}

}  // namespace

bool apply_accepted(RunState& rs) {
  auto& v = variables;
  auto& av = annealvariables;
  auto& vd = rs.verdict;
  auto& cp = rs.cp;
  const Proposal& pr = rs.proposal;
  const bool full = v.fulllikelihoodmethodq != 0;

  if (v.allcandidate > 0) apply_parents(rs);
  real8 sum = 0.0;
  if (full) sum = v.crloglikelihood - pr.oldclusterlogl - cp.oldcndlogl - cp.oldlogprior;
  if (av.movingtype == 1) {
    apply_clusters(rs, sum);
  } else if (full) {
    v.crfamilylogl(v.crindivloc(av.moveindiv, 3)) = vd.familylogl;
    sum += vd.familylogl;
  }

  // The new score.
  const real8 prevlogl = v.crloglikelihood;
  if (!full) {
    v.crloglikelihood =
        v.crloglikelihood - vd.oldpairlogl + vd.newpairlogl - cp.oldlogprior + pr.newlogprior;
  } else {
    real8 logl = sum;
    if ((cp.nsucc + 1) % 100 == 0) {
      logl = 0.0;
      for (int4 c = 1; c <= v.crnumfamily(3); ++c) logl += v.crfamilylogl(c);
    }
    v.crloglikelihood = logl + pr.newcndlogl + pr.newlogprior;
  }
  count_accepted(rs, v.crloglikelihood - prevlogl);
  ++rs.acceptcount();
  cp.oldcndlogl = pr.newcndlogl;
  cp.oldlogprior = pr.newlogprior;
  cp.curnumassign = pr.newnumassign;
  rs.crshown.recount = true;
  bool end = flat_run_ends(rs);

  // The archive and the best configuration.
  const real8 cr = v.crloglikelihood;
  if (rs.iround == 5 && cr > v.minloglikelihood &&
      !(v.updateallelefre == 1 && cp.itr > 1000 &&
        static_cast<real8>(cp.nsucc) / static_cast<real8>(cp.itr) > 0.1)) {
    if (rs.archiveon() == 1) {
      WindowSave keep;
      v.indivlocprt = v.crindivloc.view();
      v.inferparentprt = v.inferparent.view();
      v.loglikelihoodprt = &v.crloglikelihood;
      archiveconfigadd(2, v.crnumfamily(3));
    }
    cp.archivechanged = 1;
  }
  int4 sameasbest = 0;
  if (cr > v.btloglikelihood + 1e-8) {
    v.btnumassign = cp.curnumassign;
    equalconfigtest(sameasbest);
    const real8 gain = cr - v.btloglikelihood;
    copy_best(rs);
    rs.btshown.recount = true;
    const bool newconfig = sameasbest == 0;
    count_new_best(rs, gain, newconfig);
    // A new configuration counts towards the interval of in-run updates.
    if (newconfig) update_after_new_best(rs);
    if (v.btloglikelihood > v.bestlogl + 1e-8) {
      v.bestlogl = v.btloglikelihood;
      v.minloglikelihood = v.bestlogl - 10.0;
      archiveconfigremove();
      WindowSave keep;
      v.indivlocprt = v.btindivloc.view();
      v.inferparentprt = v.btinferparent.view();
      v.loglikelihoodprt = &v.btloglikelihood;
      archiveconfigadd(2, v.btnumfamily(3));
    }
  } else if (std::fabs((cr - v.btloglikelihood) / (v.btloglikelihood + cr)) < 1e-6) {
    equalconfigtest(sameasbest);
  }
  if (sameasbest == 1 && count_return_to_best(rs)) end = true;
  if (end) return true;

  // Periodic recomputations from scratch.
  if (v.priortype == 1 && cp.nsucc % 1000000 == 0)
    rs.oldsibsizeprior = newewenprior(cp.numsizeclass);
  if (cp.nsucc % (full ? 10000 : 100000) == 0) {
    WindowSave keep;
    reduceerracct(cp.oldcndlogl, cp.oldlogprior);
  }
  return false;
}

}  // namespace kinrad
