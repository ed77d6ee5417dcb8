#pragma once
// A small sample for the proposal stage: random configurations with candidates and every prior
// table filled with arbitrary values, the run state the stage reads, moves chosen by hand (the
// module variables and MoveChoice as the move choice leaves them), an independent recount of a
// proposal (the proposed configuration built explicitly and counted afresh with the
// configuration model's whole-configuration routines), and a snapshot of everything a proposal
// may change in place.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "configuration/check_fixture.hpp"
#include "configuration/configuration.hpp"
#include "core/modules.hpp"
#include "search/search_internal.hpp"

namespace kinrad::test {

struct PropShape {
  int4 n = 14;
  int4 numsex = 2;
  int4 allowinbreeding = 0;
  int4 mono1 = 0, mono2 = 0;
  int4 ncand = 4;  // per sex (one pool: the pool)
  int4 k1 = 5, k2 = 5;
  int4 priortype = 1;
  int4 haploids = 0;      // the first `haploids` offspring are haploid (dioecious only)
  double knownsib = 0.0;  // chance that a family of a sex is a known sibship (two sexes)
};

// Arbitrary but fixed prior tables: the recount uses the same tables, so any values will do.
inline void fill_prior_tables(std::mt19937& rng) {
  auto& v = variables;
  const int4 n = v.smplsize;
  std::uniform_real_distribution<double> u(-2.0, -0.1);
  const int4 nf = std::max(2 * n, 2 * v.allcandidate + 2);
  v.factorial.allocate(Dim(0, nf));
  v.logk.allocate(Dim(nf));
  v.factorial(0) = 0.0;
  for (int4 k = 1; k <= nf; ++k) {
    v.logk(k) = std::log(static_cast<double>(k));
    v.factorial(k) = v.factorial(k - 1) + v.logk(k);
  }
  v.logprior.allocate(Dim(2), Dim(2));
  v.prntlogprb.allocate(Dim(2), Dim(2));
  for (int4 s = 1; s <= 2; ++s) {
    for (int4 j = 1; j <= 2; ++j) {
      v.logprior(j, s) = u(rng);
      v.prntlogprb(j, s) = u(rng);
    }
    v.prntweight(s) = 0.3 + 0.2 * s;
    v.logewentheta(s) = 0.4 * s;
    v.ewenpriorfac(s) = 0.7 + 0.1 * s;
    v.logewenconst(s) = -1.5 * s;
  }
  const int4 c = std::max(v.numcandidate(1), v.numcandidate(2));
  v.candidatelogl.allocate(Dim(std::max(c, 1)), Dim(2));
  for (auto& x : v.candidatelogl) x = 5.0 * u(rng);
  v.sibshipsizedist.allocate(Dim(0, (3 - v.numsex) * n), Dim(v.numsex));
  v.sibsize.allocate(Dim(2), Dim((3 - v.numsex) * n), Dim(v.numsex));
  v.crfamilylogl.allocate(Dim(n + 2));
  for (auto& x : v.crfamilylogl) x = 40.0 * u(rng);
}

// The configuration seen as (offspring, family ids) with its parents, counted afresh.
struct Recount {
  FStatic<int4, 1, 2> numfamily{};
  int4 numselfer = 0;
  FStatic<int4, 1, 4> numassign{};
  real8 cndlogl = 0.0;
  real8 logprior = 0.0;       // with the sibship-size term when priortype is 1
  real8 plainprior = 0.0;     // without it
  std::vector<int4> sibdist;  // sibshipsize mode 1
};

// Counts the configuration fam (n x 2, column-major like crindivloc) with parents par.
inline Recount recount(std::vector<int4> fam, const std::vector<int4>& par) {
  auto& v = variables;
  const int4 n = v.smplsize;
  const bool pool = v.numsex == 1;
  // Ids renumbered 1, 2, ... per sex (one pool: over both columns), partition kept.
  Recount r;
  std::map<int4, int4> ids[3];
  for (int4 s = 1; s <= 2; ++s)
    for (int4 o = 1; o <= n; ++o) {
      auto& m = ids[pool ? 1 : s];
      int4& f = fam[static_cast<std::size_t>((s - 1) * n + o - 1)];
      if (!m.count(f)) m.emplace(f, static_cast<int4>(m.size()) + 1);
      f = m[f];
    }
  FArray<int4, 2> loc, prt;
  loc.allocate(Dim(n), Dim(3));
  prt.allocate(Dim(n), Dim(2));
  for (int4 o = 1; o <= n; ++o)
    for (int4 s = 1; s <= 2; ++s) {
      loc(o, s) = fam[static_cast<std::size_t>((s - 1) * n + o - 1)];
      prt(o, s) = par[static_cast<std::size_t>((s - 1) * n + o - 1)];
    }
  for (int4 s = 1; s <= 2; ++s) r.numfamily(s) = static_cast<int4>(ids[pool ? 1 : s].size());
  for (int4 o = 1; o <= n; ++o)
    if (loc(o, 1) == loc(o, 2)) ++r.numselfer;
  const auto savedloc = v.indivlocprt;
  const auto savedpar = v.inferparentprt;
  v.indivlocprt = loc.view();
  v.inferparentprt = prt.view();
  computeparentlogl(r.cndlogl);
  const std::vector<int4> dist(v.sibshipsizedist.begin(), v.sibshipsizedist.end());
  FStatic<int4, 1, 2> nfam{};
  nfam(1) = r.numfamily(1);
  nfam(2) = r.numfamily(2);
  FStatic<int4, 1, 2> full{};
  full(1) = full(2) = static_cast<int4>(v.sibshipsizedist.ubound(1));
  FStatic<int4, 1, 2> none{};
  configurationprior(r.numassign, r.logprior, full, nfam);
  FStatic<int4, 1, 4> na{};
  configurationprior(na, r.plainprior, none, nfam);
  sibshipsize(nfam, 1);
  r.sibdist.assign(v.sibshipsizedist.begin(), v.sibshipsizedist.end());
  std::copy(dist.begin(), dist.end(), v.sibshipsizedist.begin());
  v.indivlocprt = savedloc;
  v.inferparentprt = savedpar;
  return r;
}

inline std::vector<int4> current_families() {
  const auto& v = variables;
  std::vector<int4> f;
  for (int4 s = 1; s <= 2; ++s)
    for (int4 o = 1; o <= v.smplsize; ++o) f.push_back(v.crindivloc(o, s));
  return f;
}

inline std::vector<int4> current_parents() {
  const auto& v = variables;
  std::vector<int4> f;
  for (int4 s = 1; s <= 2; ++s)
    for (int4 o = 1; o <= v.smplsize; ++o) f.push_back(v.inferparent(o, s));
  return f;
}

// The run state a proposal reads, derived from the current configuration the way the run's
// set-up derives it.
inline void derive_run_state(RunState& rs) {
  auto& v = variables;
  auto& av = annealvariables;
  const int4 n = v.smplsize;
  rs.cp.moveweight.allocate(Dim(n), Dim(2));
  rs.cp.moveweight.fill(1000);
  const Recount now = recount(current_families(), current_parents());
  rs.cp.curnumassign = now.numassign;
  rs.cp.oldcndlogl = now.cndlogl;
  rs.cp.oldlogprior = now.logprior;
  rs.oldsibsizeprior = now.logprior - now.plainprior;
  rs.cp.curnumselfer = v.numsex == v.allowinbreeding ? now.numselfer : 0;
  // sibshipsizedist of the current configuration, and its largest sizes.
  std::copy(now.sibdist.begin(), now.sibdist.end(), v.sibshipsizedist.begin());
  for (int4 s = 1; s <= v.numsex; ++s) {
    rs.cp.numsizeclass(s) = 0;
    for (index_t k = 1; k <= v.sibshipsizedist.ubound(1); ++k)
      if (v.sibshipsizedist(k, s) > 0) rs.cp.numsizeclass(s) = static_cast<int2>(k);
  }
  if (v.numsex == 1) rs.cp.numsizeclass(2) = rs.cp.numsizeclass(1);
  // Unassigned candidates per sex (and in both roles).
  rs.numunassigned[0] = rs.numunassigned[1] = rs.numunassigned[2] = 0;
  const int4 nc = v.numsex == 1 ? v.numcandidate(1) : 0;
  for (int4 s = 1; s <= 2; ++s) {
    const int4 m = v.numsex == 1 ? nc : v.numcandidate(s);
    for (int4 c = 1; c <= m; ++c) rs.numunassigned[s] += av.unassignedcnd(c, s);
  }
  for (int4 c = 1; c <= nc; ++c)
    if (av.unassignedcnd(c, 1) == 1 && av.unassignedcnd(c, 2) == 1) ++rs.numunassigned[0];
}

// A random sample and configuration; candidates given to some families.
inline void setup_proposal_sample(const PropShape& ps, std::mt19937& rng) {
  auto& v = variables;
  auto& av = annealvariables;
  const int4 n = ps.n;
  const int4 nc2 = ps.numsex == 1 ? 0 : ps.ncand;
  // A placeholder configuration (every offspring alone) until the random one is drawn.
  std::vector<int4> alone(static_cast<std::size_t>(n));
  for (int4 o = 1; o <= n; ++o) alone[static_cast<std::size_t>(o - 1)] = o;
  setup_check(CheckShape{ps.numsex, ps.allowinbreeding, ps.mono1, ps.mono2, ps.ncand, nc2}, alone,
              alone);
  v.priortype = ps.priortype;
  v.fulllikelihoodmethodq = 1;
  for (int4 o = 1; o <= ps.haploids && ps.numsex == 2; ++o) v.offploid(o) = 1;
  if (ps.haploids > 0 && ps.numsex == 2) v.haplodiploid = 1;
  finish_constraints();
  v.selectedprntq.allocate(Dim(0, std::max(ps.ncand, 1)));
  v.numbestcnd.allocate(Dim(n), Dim(2));
  v.bestcnd.allocate(Dim(n), Dim(10));
  v.prbbestcnd.allocate(Dim(n), Dim(10));
  v.prbbestcnd1.allocate(Dim(n), Dim(2));
  v.selectedfamily.allocate(Dim(n));
  av.indivloc3.allocate(Dim(n), Dim(4));
  av.parentagefamily.allocate(Dim(n), Dim(2));
  // A pool that cannot self starts from a configuration without selfed offspring.
  for (;;) {
    random_contiguous_configuration(rng, ps.k1, ps.k2);
    bool selfed = false;
    for (int4 o = 1; o <= n && ps.numsex == 1 && ps.allowinbreeding == 0; ++o)
      selfed = selfed || v.crindivloc(o, 1) == v.crindivloc(o, 2);
    if (!selfed) break;
  }
  // Haploid offspring: a paternal family of their own (a placeholder per mother).
  if (ps.haploids > 0 && ps.numsex == 2) {
    std::vector<int4> a, b;
    std::map<int4, int4> holder;
    int4 next = 0;
    for (int4 o = 1; o <= n; ++o) next = std::max(next, v.crindivloc(o, 1));
    for (int4 o = 1; o <= n; ++o) {
      int4 f = v.crindivloc(o, 1);
      if (v.offploid(o) == 1) {
        if (!holder.count(v.crindivloc(o, 2))) holder[v.crindivloc(o, 2)] = ++next;
        f = holder[v.crindivloc(o, 2)];
      }
      a.push_back(f);
      b.push_back(v.crindivloc(o, 2));
    }
    std::map<int4, int4> re;
    for (auto& f : a) {
      if (!re.count(f)) re.emplace(f, static_cast<int4>(re.size()) + 1);
      f = re[f];
    }
    set_configuration(a, b);
    setinitcluster();
  }
  // Known sibships: whole families of a sex, numbered by their family id.
  if (ps.knownsib > 0.0 && ps.numsex == 2) {
    std::uniform_real_distribution<double> uk(0.0, 1.0);
    for (int4 s = 1; s <= 2; ++s)
      for (int4 f = 1; f <= v.crnumfamily(s); ++f) {
        if (uk(rng) >= ps.knownsib) continue;
        for (int4 o = 1; o <= n; ++o)
          if (v.crindivloc(o, s) == f) v.knownsibship(o, s) = f;
      }
    finish_constraints();
  }
  fill_prior_tables(rng);
  // Candidates: each family of a sex gets a free candidate with chance 1/2 (one pool: the
  // pool's candidates in either role).
  std::map<std::pair<int4, int4>, int4> parent;
  std::uniform_real_distribution<double> u(0.0, 1.0);
  for (int4 s = 1; s <= ps.numsex; ++s) {
    int4 next = 0;
    for (int4 f = 1; f <= v.crnumfamily(s) && next < ps.ncand; ++f) {
      if (u(rng) >= 0.5) continue;
      bool hap = false;
      for (int4 o = 1; o <= n && s == 1 && v.haplodiploid == 1; ++o)
        hap = hap || (v.crindivloc(o, 1) == f && v.offploid(o) == 1);
      if (hap) continue;
      parent[{s, f}] = ++next;
      if (ps.numsex == 1) parent[{2, f}] = next;  // one individual in either role
    }
  }
  set_parents(parent);
}

// Snapshot of everything a proposal may change in place, and of every scratch mark.
struct StateSnapshot {
  std::vector<int4> crindivloc, inferparent, inferparent2, sibdist, q1, q3;
  std::vector<int1> unassigned, q2, selfam, selprnt;
  std::array<int4, 3> numunassigned{};
  static StateSnapshot take(const RunState& rs) {
    const auto& v = variables;
    const auto& av = annealvariables;
    StateSnapshot s;
    s.crindivloc.assign(v.crindivloc.begin(), v.crindivloc.end());
    s.inferparent.assign(v.inferparent.begin(), v.inferparent.end());
    s.inferparent2.assign(v.inferparent2.begin(), v.inferparent2.end());
    s.sibdist.assign(v.sibshipsizedist.begin(), v.sibshipsizedist.end());
    s.q1.assign(av.selectedprntidxq1.begin(), av.selectedprntidxq1.end());
    s.q2.assign(av.selectedprntidxq2.begin(), av.selectedprntidxq2.end());
    s.q3.assign(av.selectedprntidxq3.begin(), av.selectedprntidxq3.end());
    s.unassigned.assign(av.unassignedcnd.begin(), av.unassignedcnd.end());
    s.selfam.assign(v.selectedfamily.begin(), v.selectedfamily.end());
    s.selprnt.assign(v.selectedprntq.begin(), v.selectedprntq.end());
    s.numunassigned = {rs.numunassigned[0], rs.numunassigned[1], rs.numunassigned[2]};
    return s;
  }
  bool operator==(const StateSnapshot&) const = default;
};

// A move chosen by hand, as the move choice hands it on.
struct HandMove {
  int4 type = 1;  // 1 individual, 2 family
  int4 offspring = 1;
  int4 dest1 = 0, dest2 = 0,
       destcluster = 0;  // individual move (destcluster > crnumfamily(3): new)
  int4 familyside = 1;   // family move
  int4 halfsibjoin = 0;
  int4 knownsibside = 0;
  std::vector<int4> moving;  // empty: the building step draws who travels
};

// The local index of offspring o's full-sib family in the side-1 tables (found by a scan).
inline int4 side1_family_of(int4 o) {
  const auto& av = annealvariables;
  for (int4 f = 1; f <= av.numberfsfamily1; ++f)
    for (int4 t = 1; t <= av.numfamilymember1(f); ++t)
      if (av.familymember1(av.sibloc1(f) + t) == o) return f;
  return 0;
}

inline void choose_by_hand(RunState& rs, const HandMove& m) {
  auto& v = variables;
  auto& av = annealvariables;
  MoveChoice& ch = rs.choice;
  const int4 mi = m.offspring;
  const int4 own = v.crindivloc(mi, 3);
  av.movingtype = m.type;
  av.moveindiv = mi;
  av.movefamily(1) = v.crindivloc(mi, 1);
  av.movefamily(2) = v.crindivloc(mi, 2);
  av.lastfamilyid(1) = av.lastfamilyid(2) = 0;
  familybuild0(own, 1);
  ch = MoveChoice{};
  ch.owncluster = own;
  ch.movepos(1) = side1_family_of(mi);
  ch.fssize = av.numfamilymember1(ch.movepos(1));
  for (int4 s = 1; s <= 2; ++s)
    for (int4 o = 1; o <= v.smplsize; ++o)
      if (v.crindivloc(o, s) == av.movefamily(s)) ++ch.hssize(s);
  ch.ownclustersize = av.clustersizet(own);
  ch.halfsibjoin = m.halfsibjoin;
  ch.knownsibside = m.knownsibside;
  ch.moving = m.moving;
  if (m.type == 2) {
    ch.movekind = 0;
    ch.familyside = m.familyside;
    av.hostfamily(1) = av.movefamily(1);
    av.hostfamily(2) = av.movefamily(2);
    av.hostfamily(3) = own;
    return;
  }
  av.hostfamily(1) = m.dest1;
  av.hostfamily(2) = m.dest2;
  av.hostfamily(3) = m.destcluster;
  ch.movekind = m.destcluster == own ? 1 : (m.destcluster > v.crnumfamily(3) ? 3 : 2);
  if (ch.movekind == 2) {
    familybuild0(m.destcluster, 2);
    ch.hostclustersize = av.clustersizet(m.destcluster);
  }
}

}  // namespace kinrad::test
