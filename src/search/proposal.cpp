// The second stage of a move: the chosen move written as the rows of the proposed
// configuration, its parents proposed and checked, and for an admissible proposal everything
// the acceptance test compares (candidate term, counts, log prior); and the undo of an admitted
// proposal that is not accepted (proposal_undo.cpp).
//
// Rows of a move (move tables of annealvariables): indivloc2 holds the destination side, list 3
// the moving offspring with their proposed ids, list 2 the other destination-side rows;
// indivloc1 (list 1) the rows left behind by a move to another cluster. Every full-sib family
// whose rows are written is held whole, and is marked 1 in selectedfamily (families of the own
// cluster, by their local index): the scoring completes the windows with the unmarked ones and
// the marks stay until the proposal is undone or applied (release_family_marks).
#include <algorithm>
#include <array>
#include <cassert>
#include <cmath>
#include <utility>
#include <vector>

#include "configuration/configuration.hpp"
#include "core/modules.hpp"
#include "core/modules/configuration_work.hpp"
#include "core/modules/search_work.hpp"
#include "core/random_numbers.hpp"
#include "search/search_internal.hpp"

namespace kinrad {

namespace {

// The present ids of side-1 family f (its first member's), from the side's table of its
// parents' ids, which the side's build took from the same members.
int4 family1_id(int4 f, int4 s) {
  const auto& av = annealvariables;
  const int4 nf = av.numberfsfamily1;
  int4 id = 0;
  if (nf == 1)
    id = av.parentidx1(s);
  else
    id = s == 1 ? av.parentidx1(av.familyidx1(f))
                : av.parentidx1(av.nparent1(1) + av.familyidx1(nf + f));
  assert(id == variables.crindivloc(av.familymember1(av.sibloc1(f) + 1), s));
  return id;
}

int4 family2_id(int4 f, int4 s) {
  const auto& av = annealvariables;
  return variables.crindivloc(av.familymember2(av.familymemberloc2(f) + 1), s);
}

template <class Visit>
void for_members1(int4 f, Visit visit) {
  const auto& av = annealvariables;
  const int4 at = av.sibloc1(f);
  for (int4 t = 1; t <= av.numfamilymember1(f); ++t)
    visit(static_cast<int4>(av.familymember1(at + t)));
}

template <class Visit>
void for_members2(int4 f, Visit visit) {
  const auto& av = annealvariables;
  const int4 at = av.familymemberloc2(f);
  for (int4 t = 1; t <= av.numfamilymember2(f); ++t)
    visit(static_cast<int4>(av.familymember2(at + t)));
}

void add_row2(int4 o, int4 f1, int4 f2, int4 list) {
  auto& av = annealvariables;
  const int4 r = ++av.numindiv(2);
  av.indivloc2(r, 1) = f1;
  av.indivloc2(r, 2) = f2;
  av.indivloc2(r, 3) = 0;
  av.indivloc2(r, 4) = o;
  if (list > 0) av.indivlocidx(++av.numindivlocidx(list), list) = r;
}

void add_row1(int4 o, int4 f1, int4 f2) {
  auto& av = annealvariables;
  const int4 r = ++av.numindiv(1);
  av.indivloc1(r, 1) = f1;
  av.indivloc1(r, 2) = f2;
  av.indivloc1(r, 3) = 0;
  av.indivloc1(r, 4) = o;
  av.indivlocidx(++av.numindivlocidx(1), 1) = r;
}

// Position of family id `id` among the own cluster's parents of sex (one parent pool: role) s
// in the side-1 tables, 0 when no parent of the cluster has it.
int4 side1_position(int4 s, int4 id) {
  const auto& av = annealvariables;
  const auto& pos =
      s == 1 ? configuration_work.family.side1pos1 : configuration_work.family.side1pos2;
  if (id < 1 || static_cast<std::size_t>(id) >= pos.size()) return 0;
  const int4 k = pos[static_cast<std::size_t>(id)];
  if (k < 1 || k > av.nparent1(s)) return 0;
  return av.parentidx1((s - 1) * av.nparent1(1) + k) == id ? k : 0;
}

// Marks (1) and counts the families of the own cluster whose rows the move writes: those with
// one of the parent ids the move touches, per sex (two sexes) or in either role (one parent
// pool). The families of each touched parent come from its partner list.
int4 list_families(const MoveChoice& ch) {
  auto& v = variables;
  const auto& av = annealvariables;
  const int4 nf = av.numberfsfamily1;
  const bool pool = v.numsex == 1;
  // The touched ids with their sex: the moving offspring's parents; inside the own cluster the
  // destination's existing parent of that sex brings its families too (a parent new to the
  // cluster has none there); in one parent pool the destination's parents of another cluster
  // are looked for as well.
  std::array<std::pair<int4, int4>, 6> touched{};
  int4 nt = 0;
  const auto touch = [&](int4 sex, int4 id) {
    if (id >= 1) touched[static_cast<std::size_t>(nt++)] = {sex, id};
  };
  for (int4 s = 1; s <= 2; ++s) {
    touch(s, av.movefamily(s));
    if (ch.movekind == 1 && av.hostfamily(s) != av.movefamily(s) &&
        av.hostfamily(s) <= v.crnumfamily(s))
      touch(s, av.hostfamily(s));
  }
  if (pool && ch.movekind != 1)
    for (int4 s = 1; s <= 2; ++s)
      if (av.hostfamily(s) <= v.crnumfamily(1)) touch(s, av.hostfamily(s));
  const auto has = [&](int4 f, int4 sex, int4 id) {
    const int4 a = family1_id(f, 1), b = family1_id(f, 2);
    return pool ? (a == id || b == id) : (sex == 1 ? a : b) == id;
  };
  int4 nlisted = 0;
  for (int4 f = 1; f <= nf; ++f) v.selectedfamily(f) = 0;
  if (nf == 1) {
    for (int4 k = 0; k < nt && nlisted == 0; ++k)
      if (has(1, touched[static_cast<std::size_t>(k)].first,
              touched[static_cast<std::size_t>(k)].second))
        nlisted = 1;
    v.selectedfamily(1) = nlisted;
    return nlisted;
  }
  for (int4 k = 0; k < nt; ++k) {
    const auto [sex, id] = touched[static_cast<std::size_t>(k)];
    for (int4 r = pool ? 1 : sex; r <= (pool ? 2 : sex); ++r) {
      const int4 at = side1_position(r, id);
      if (at == 0) continue;
      const int4 j = (r - 1) * av.nparent1(1) + at;
      for (int4 x = av.locpartner1(j) + 1; x <= av.locpartner1(j + 1); ++x) {
        const int4 f = av.partner1(x);
        if (v.selectedfamily(f) != 0) continue;
        v.selectedfamily(f) = 1;
        ++nlisted;
      }
    }
  }
#ifndef NDEBUG
  // The partner lists name exactly the families a test of every family finds.
  for (int4 f = 1; f <= nf; ++f) {
    bool listed = false;
    for (int4 k = 0; k < nt && !listed; ++k)
      listed = has(f, touched[static_cast<std::size_t>(k)].first,
                   touched[static_cast<std::size_t>(k)].second);
    assert(v.selectedfamily(f) == (listed ? 1 : 0));
  }
#endif
  return nlisted;
}

// Who of the moving offspring's full-sib family travels with it, into movelist (movers
// negated), when the move choice did not settle it.
void draw_travellers(RunState& rs) {
  const auto& v = variables;
  const auto& av = annealvariables;
  const MoveChoice& ch = rs.choice;
  auto& ml = rs.proposal.movelist;
  const int4 mi = av.moveindiv;
  const int4 ks = ch.knownsibside;
  ml.clear();
  for_members1(ch.movepos(1), [&](int4 m) { ml.push_back(m == mi ? -m : m); });
  if (ks > 0 && ks == rs.wholesibshipsex) return;
  const real8 p = av.hostfamily(3) == ch.owncluster ? 0.9 : 0.2;
  int4 r = 0;
  if (v.numsex == 1 && av.hostfamily(1) == av.movefamily(2) && av.hostfamily(2) == av.movefamily(1))
    r = ks;
  const real8 u0 = ran2();
  const bool honoured = ks > 0 && v.knownsibship(mi, ks) != 0;
  for (auto& m : ml) {
    if (m < 0) continue;
    bool moves = false;
    if (honoured) {
      for (int4 k = 1; k <= 2; ++k) {
        if (r > 0 && k != r) continue;
        const int4 id = v.knownsibship(mi, k);
        if (id == 0 || av.hostfamily(k) == av.movefamily(k) || v.knownsibship(m, k) != id) continue;
        const int4 other = v.knownsibship(mi, 3 - k);
        moves = (other != 0 && v.knownsibship(m, 3 - k) == other) || ran2() >= 0.5;
        break;
      }
    } else if (u0 < 0.5) {
      moves = ran2() < p;
    }
    if (moves) m = -m;
  }
}

// Whether the building step draws who travels: the choice left it to the known sibship of the
// moving offspring (its `moveset` 3), or handed on no parts.
template <class Choice>
bool building_step_decides(const Choice& ch) {
  if constexpr (requires { ch.moveset; }) {
    if (ch.moveset == 3) return true;
  }
  return ch.moving.empty();
}

// The movelist from the two parts the move choice handed on.
void take_parts(RunState& rs) {
  const auto& av = annealvariables;
  const MoveChoice& ch = rs.choice;
  auto& ml = rs.proposal.movelist;
  ml.clear();
  auto& mark = annealvariables.selectedprntidxq2;
  for (int4 m : ch.moving) mark(m) = 1;
  for_members1(ch.movepos(1),
               [&](int4 m) { ml.push_back(mark(m) != 0 || m == av.moveindiv ? -m : m); });
  for (int4 m : ch.moving) mark(m) = 0;
}

// Rows of a move inside the own cluster.
void rows_own_cluster(RunState& rs, int4 nlisted) {
  auto& v = variables;
  auto& av = annealvariables;
  Proposal& pr = rs.proposal;
  const int4 h1 = av.hostfamily(1), h2 = av.hostfamily(2);
  int4 nmove = 0;
  for (int4 m : pr.movelist)
    if (m < 0) ++nmove;
  const bool selfdraw = v.numsex == v.allowinbreeding && nmove > 1 &&
                        av.movefamily(1) == av.movefamily(2) &&
                        (h1 > v.crnumfamily(1) || h2 > v.crnumfamily(1));
  for (int4 m : pr.movelist) {
    if (m > 0) continue;
    const int4 o = -m;
    if (selfdraw && o != av.moveindiv && ran2() <= 0.5) {
      const int4 h = std::max(h1, h2);
      add_row2(o, h, h, 3);
    } else {
      add_row2(o, h1, h2, 3);
    }
  }
  const int4 nf = av.numberfsfamily1;
  const int4 own = rs.choice.movepos(1);
  for (int4 f = 1; f <= nf; ++f) {
    if (v.selectedfamily(f) <= 0) continue;
    if (f == own) {
      for (int4 m : pr.movelist)
        if (m > 0) add_row2(m, v.crindivloc(m, 1), v.crindivloc(m, 2), 2);
    } else {
      for_members1(f, [&](int4 o) { add_row2(o, v.crindivloc(o, 1), v.crindivloc(o, 2), 2); });
    }
  }
  if (rs.splitside != 0 || nlisted >= nf) return;
  if (v.numsex == 2) {
    // Families of moving rows that are not listed come whole, outside the lists.
    int4 noted = 0;
    for (int4 k = 1; k <= av.numindivlocidx(3); ++k) {
      const int4 o = av.indivloc2(av.indivlocidx(k, 3), 4);
      const int4 f = nf == 1 ? 1 : av.indivclusterid(o, 3);
      if (v.selectedfamily(f) != 0) continue;
      v.selectedfamily(f) = -1;
      av.indivloc3(++noted, 1) = f;
    }
    for (int4 k = 1; k <= noted; ++k)
      for_members1(av.indivloc3(k, 1),
                   [&](int4 o) { add_row2(o, v.crindivloc(o, 1), v.crindivloc(o, 2), 0); });
  }
  for (int4 f = 1; f <= nf; ++f)
    if (v.selectedfamily(f) == 0) {
      pr.restside = 2;
      break;
    }
}

// The destination cluster's families that share a parent with the destination: whole, with
// their present ids, in list 2 (one parent pool: either id in either role).
void rows_destination_families() {
  auto& v = variables;
  auto& av = annealvariables;
  const int4 h1 = av.hostfamily(1), h2 = av.hostfamily(2);
  for (int4 f = 1; f <= av.numberfsfamily2; ++f) {
    const int4 a = family2_id(f, 1), b = family2_id(f, 2);
    const bool shares =
        v.numsex == 1 ? (a == h1 || a == h2 || b == h1 || b == h2) : (a == h1 || b == h2);
    if (!shares) continue;
    for_members2(f, [&](int4 o) { add_row2(o, v.crindivloc(o, 1), v.crindivloc(o, 2), 2); });
  }
}

// Rows of a move to another existing cluster or to a new one.
void rows_other_cluster(RunState& rs, int4 nlisted) {
  auto& v = variables;
  auto& av = annealvariables;
  Proposal& pr = rs.proposal;
  const MoveChoice& ch = rs.choice;
  const int4 h1 = av.hostfamily(1), h2 = av.hostfamily(2);
  const int4 mf1 = av.movefamily(1), mf2 = av.movefamily(2);
  const int4 ks = ch.knownsibside;
  const int4 nf = av.numberfsfamily1;
  const int4 own = ch.movepos(1);
  if (ch.halfsibjoin == 1 && ks == 0) {
    // The family joins as a half sib: its parent of the kept side comes along, and with it the
    // whole own cluster, whose parent of the shared side is replaced.
    for (int4& m : pr.movelist) {
      m = m < 0 ? m : -m;
      add_row2(-m, h1, h2, 3);
    }
    for (int4 f = 1; f <= nf; ++f) {
      if (f == own) continue;
      const int4 a = family1_id(f, 1), b = family1_id(f, 2);
      const int4 na = a == mf1 ? h1 : a, nb = b == mf2 ? h2 : b;
      const int4 list = (na != a || nb != b) ? 3 : 2;
      for_members1(f, [&](int4 o) { add_row2(o, na, nb, list); });
      v.selectedfamily(f) = 1;
    }
  } else {
    for (int4 m : pr.movelist)
      if (m < 0) add_row2(-m, h1, h2, 3);
    for (int4 m : pr.movelist)
      if (m > 0) add_row1(m, mf1, mf2);
    const int4 honoured = ks > 0 ? v.knownsibship(av.moveindiv, ks) : 0;
    for (int4 f = 1; f <= nf; ++f) {
      if (f == own || v.selectedfamily(f) <= 0) continue;
      const int4 a = family1_id(f, 1), b = family1_id(f, 2);
      if (ks > 0 && ch.halfsibjoin == 1) {
        int4 list = 0;
        for_members1(f, [&](int4 o) {
          if (honoured != 0 && v.knownsibship(o, ks) == honoured) {
            add_row2(o, ks == 1 ? h1 : a, ks == 2 ? h2 : b, 3);
            return;
          }
          const int4 na = a == mf1 ? h1 : a, nb = b == mf2 ? h2 : b;
          if (list == 0) list = (na != a || nb != b) ? 3 : 2;
          add_row2(o, na, nb, list);
        });
      } else {
        for_members1(f, [&](int4 o) {
          if (honoured != 0 && v.knownsibship(o, ks) == honoured)
            add_row2(o, ks == 1 ? h1 : a, ks == 2 ? h2 : b, 3);
          else
            add_row1(o, a, b);
        });
      }
    }
    if (ks > 0 && nlisted < nf) pr.restside = ch.halfsibjoin == 1 ? 2 : 1;
  }
  if (ch.movekind == 2) rows_destination_families();
}

void grow_scratch(RunState& rs) {
  const auto& v = variables;
  Proposal& pr = rs.proposal;
  if (pr.eligible.allocated()) return;
  pr.listlen = std::max(v.numcandidate(1), v.numcandidate(2)) + 1;
  pr.eligible.allocate(Dim(0, pr.listlen - 1), Dim(2));
  pr.eligible(0, 1) = -1;
  pr.eligible(0, 2) = -1;
  // Every candidate changes at most once per sex: nothing grows after this.
  const auto most = static_cast<std::size_t>(2 * std::max(v.smplsize, pr.listlen) + 2);
  pr.movelist.reserve(static_cast<std::size_t>(v.smplsize));
  pr.cndchange.reserve(most);
  pr.touched.reserve(most);
  pr.bothfree.reserve(most);
  pr.poolmark.assign(static_cast<std::size_t>(v.numcandidate(1)) + 1, 0);
}

// Members of cluster `cluster` (current configuration), from the cluster tables.
template <class Visit>
void for_cluster(int4 cluster, Visit visit) {
  const auto& v = variables;
  const auto& list = v.indivcluster(v.indivclusterindex(cluster));
  for (index_t t = 1; t <= list.ubound(1); ++t) visit(static_cast<int4>(list(t)));
}

// The proposal's parents written into inferparent, the candidate flags and counts
// updated (every change listed for the undo), the candidate term and assignment counts.
void assign_parents(RunState& rs) {
  auto& v = variables;
  auto& av = annealvariables;
  Proposal& pr = rs.proposal;
  const MoveChoice& ch = rs.choice;
  const bool pool = v.numsex == 1;
  for (int4 k = 1; k <= 4; ++k) pr.newnumassign(k) = rs.cp.curnumassign(k);
  pr.cndchange.clear();
  pr.touched.clear();
  pr.bothfree.clear();
  pr.numunassigned0 = {rs.numunassigned[0], rs.numunassigned[1], rs.numunassigned[2]};
  pr.parentswritten = false;
  if (v.allcandidate < 1) return;
  const int4 host = ch.movekind == 2 ? av.hostfamily(3) : 0;
  // One parent pool: the candidates the change lists name, with their state before.
  if (pool)
    for (int4 s = 1; s <= 2; ++s)
      for (int4 k = 1; k <= av.numindivparentage(s); ++k)
        for (int4 j = 1; j <= 2; ++j) {
          const int4 c = av.inferparentage(k, s, j);
          if (c < 1 || pr.poolmark[static_cast<std::size_t>(c)] != 0) continue;
          pr.poolmark[static_cast<std::size_t>(c)] = 1;
          pr.touched.push_back(c);
          pr.bothfree.push_back(av.unassignedcnd(c, 1) == 1 && av.unassignedcnd(c, 2) == 1 ? 1 : 0);
        }
  for (int4 s = 1; s <= 2; ++s) {
    const int4 nk = av.numindivparentage(s);
    if (nk == 0) continue;
    const int4 cs = pool ? 1 : s;
    // Parents of the touched clusters before (indivloc3 column 1) ...
    int4 nb = 0;
    inferprntlist(ch.owncluster, nb, s, 1);
    if (host > 0) inferprntlist(host, nb, s, 1);
    for (int4 k = 1; k <= nb; ++k) v.selectedprntq(av.indivloc3(k, 1)) = 0;
    for (int4 k = 1; k <= nk; ++k) {
      v.inferparent(av.indivparentage(k, s), s) = av.inferparentage(k, s, 2);
      if (v.numcandidate(s) > 0) {
        if (av.inferparentage(k, s, 2) > 0) ++pr.newnumassign(s + 2);
        if (av.inferparentage(k, s, 1) > 0) --pr.newnumassign(s + 2);
      }
    }
    pr.parentswritten = true;
    // ... and after (column 2).
    int4 na = 0;
    inferprntlist(ch.owncluster, na, s, 2);
    if (host > 0) inferprntlist(host, na, s, 2);
    const bool counted = v.numcandidate(s) > 0;
    for (int4 k = 1; k <= nb; ++k) {
      const int4 c = av.indivloc3(k, 1);
      if (v.selectedprntq(c) != 0) {
        v.selectedprntq(c) = 2;  // kept
        continue;
      }
      // Freed.
      if (counted) --pr.newnumassign(s);
      if (v.knownprntq(c, s) <= 0) {
        if (av.unassignedcnd(c, s) != 1) {
          av.unassignedcnd(c, s) = 1;
          ++rs.numunassigned[s];
          pr.cndchange.push_back({s, -c});
        }
        if (!pool) pr.newcndlogl += v.candidatelogl(c, cs);
      }
    }
    for (int4 k = 1; k <= na; ++k) {
      const int4 c = av.indivloc3(k, 2);
      if (v.selectedprntq(c) == 1) {
        // Newly assigned.
        if (counted) ++pr.newnumassign(s);
        if (av.unassignedcnd(c, s) != 0) {
          av.unassignedcnd(c, s) = 0;
          --rs.numunassigned[s];
          pr.cndchange.push_back({s, c});
        }
        if (!pool && v.knownprntq(c, s) <= 0) pr.newcndlogl -= v.candidatelogl(c, cs);
      }
      v.selectedprntq(c) = 0;
    }
  }
  if (pool) {
    for (std::size_t i = 0; i < pr.touched.size(); ++i) {
      const int4 c = pr.touched[i];
      pr.poolmark[static_cast<std::size_t>(c)] = 0;
      const bool after = av.unassignedcnd(c, 1) == 1 && av.unassignedcnd(c, 2) == 1;
      const bool before = pr.bothfree[i] != 0;
      if (after == before) continue;
      rs.numunassigned[0] += after ? 1 : -1;
      if (v.knownprntq(c, 1) > 0 || v.knownprntq(c, 2) > 0) continue;
      pr.newcndlogl += after ? v.candidatelogl(c, 1) : -v.candidatelogl(c, 1);
    }
  }
}

}  // namespace

void inferprntlist(int4 cluster, int4& count, int4 sex, int4 col) {
  auto& v = variables;
  auto& av = annealvariables;
  v.selectedprntq(0) = 1;
  for_cluster(cluster, [&](int4 o) {
    const int4 p = std::max(v.inferparent(o, sex), 0);
    if (v.selectedprntq(p) != 0) return;
    v.selectedprntq(p) = 1;
    av.indivloc3(++count, col) = p;
  });
  v.selectedprntq(0) = 0;
}

void adjusthapconfig() {
  const auto& v = variables;
  auto& av = annealvariables;
  if (v.smplsizedh(1) < 1 || av.numindivlocidx(2) < 1) return;
  bool anyhaploid = false;
  for (int4 k = 1; k <= av.numindivlocidx(3) && !anyhaploid; ++k)
    anyhaploid = v.offploid(av.indivloc2(av.indivlocidx(k, 3), 4)) != 2;
  if (!anyhaploid) return;
  auto& map = av.selectedprntidxq1;
  int4 keys = 0;
  for (int4 k = 1; k <= av.numindivlocidx(2); ++k) {
    const int4 r = av.indivlocidx(k, 2);
    if (v.offploid(av.indivloc2(r, 4)) == 2) continue;
    const int4 mother = av.indivloc2(r, 2);
    if (map(mother) != 0) continue;
    map(mother) = av.indivloc2(r, 1);
    av.indivloc3(++keys, 1) = mother;
  }
  if (keys == 0) return;
  for (int4 k = 1; k <= av.numindivlocidx(3); ++k) {
    const int4 r = av.indivlocidx(k, 3);
    if (v.offploid(av.indivloc2(r, 4)) == 2) continue;
    const int4 f = map(av.indivloc2(r, 2));
    if (f != 0) av.indivloc2(r, 1) = f;
  }
  for (int4 k = 1; k <= keys; ++k) map(av.indivloc3(k, 1)) = 0;
}

// A move to another cluster that honours a known sibship keeps some offspring's present family
// id on one side while others of that family stay (the honoured members of the own cluster's
// other families keep their parent of the other sex; with a half-sib join, the moving
// offspring keeps its parent of the shared side while its full sibs stay). The destination and
// what remains of the own cluster then share a parent: they are one cluster, but the move would
// keep and score them as two, and every later score, self-check and restore of that
// configuration would go wrong. Such a proposal is refused like any other invalid one. The two
// sides are their rows, each completed with the own cluster's untouched families when the
// scoring completes that side (restside).
bool sides_share_a_parent(const Proposal& pr) {
  const auto& v = variables;
  const auto& av = annealvariables;
  const bool pool = v.numsex == 1;
  // Visits the family ids (f1, f2) of every offspring of side k.
  auto each_on_side = [&](int4 k, auto visit) {
    const int4 rows = av.numindiv(k);
    for (int4 r = 1; r <= rows; ++r) {
      if (k == 1)
        visit(av.indivloc1(r, 1), av.indivloc1(r, 2));
      else
        visit(av.indivloc2(r, 1), av.indivloc2(r, 2));
    }
    if (pr.restside != k) return;
    for (int4 f = 1; f <= av.numberfsfamily1; ++f)
      if (v.selectedfamily(f) == 0)
        for_members1(f, [&](int4 o) { visit(v.crindivloc(o, 1), v.crindivloc(o, 2)); });
  };
  // The ids of side 1 are marked, those of side 2 looked up, and the marks cleared again: a
  // pass over each side's rows, not a comparison of every pair. Two sexes share a parent
  // through a father's id or a mother's id; one pool through any id of either column.
  auto& fathers = search_work.sidefamily1;
  auto& mothers = pool ? search_work.sidefamily1 : search_work.sidefamily2;
  auto set = [](std::vector<char>& marks, int4 id, char value) {
    if (id < 0) return;  // no family
    const auto k = static_cast<std::size_t>(id);
    if (marks.size() <= k) marks.resize(std::max(k + 1, 2 * marks.size()), 0);
    marks[k] = value;
  };
  auto marked = [](const std::vector<char>& marks, int4 id) {
    if (id < 0) return false;
    const auto k = static_cast<std::size_t>(id);
    return k < marks.size() && marks[k] != 0;
  };
  each_on_side(1, [&](int4 a1, int4 a2) {
    set(fathers, a1, 1);
    set(mothers, a2, 1);
  });
  bool shared = false;
  each_on_side(2, [&](int4 b1, int4 b2) {
    if (pool)
      shared = shared || marked(fathers, b1) || marked(fathers, b2);
    else
      shared = shared || marked(fathers, b1) || marked(mothers, b2);
  });
  each_on_side(1, [&](int4 a1, int4 a2) {
    set(fathers, a1, 0);
    set(mothers, a2, 0);
  });
  return shared;
}

namespace {

// The rows of the proposal: for a family move none (its choice moves one parent side whole);
// for an individual move who travels with the moving offspring and the rows of both sides.
// false: a family move a one-pool species without selfing cannot make.
bool propose_rows(RunState& rs, bool family) {
  auto& v = variables;
  auto& av = annealvariables;
  Proposal& pr = rs.proposal;
  MoveChoice& ch = rs.choice;
  if (family) {
    av.numindiv.fill(0);
    for (int4 l = 1; l <= 3; ++l) av.numindivlocidx(l) = 0;
    ch.hostclustersize = 0;
    pr.movelist.clear();
    return !(v.numsex == 1 && v.allowinbreeding == 0 && av.hostfamily(1) == av.hostfamily(2));
  }
  if (building_step_decides(ch))
    draw_travellers(rs);
  else
    take_parts(rs);
  av.numindiv.fill(0);
  for (int4 l = 1; l <= 3; ++l) av.numindivlocidx(l) = 0;
  const int4 nlisted = list_families(ch);
  if (ch.movekind == 1)
    rows_own_cluster(rs, nlisted);
  else
    rows_other_cluster(rs, nlisted);
  adjusthapconfig();
  return true;
}

// The proposal's parents and its validity: parentageassign proposes them, checkconfiguration
// checks the configuration, and a move to another cluster that honours a known sibship must
// not leave its two sides sharing a parent. false: the proposal is refused. movekind is the
// move kind as parentageassign leaves it.
bool parents_are_valid(RunState& rs, bool family, int4& movekind) {
  Proposal& pr = rs.proposal;
  MoveChoice& ch = rs.choice;
  FStatic<int4, 1, 4> sizes{};
  sizes(1) = ch.hssize(1);
  sizes(2) = ch.hssize(2);
  sizes(3) = ch.ownclustersize;
  sizes(4) = ch.hostclustersize;
  FStatic<int4, 1, 4> numassign = rs.cp.curnumassign;
  // With family moves off nothing but an individual move can propose a first candidate.
  if (rs.sched.fammovethreshold >= 1.0 && numassign(1) == 0 && numassign(2) == 0) numassign(1) = 1;
  FStatic<int4, 1, 2> unassigned{};
  unassigned(1) = rs.numunassigned[1];
  unassigned(2) = rs.numunassigned[2];
  int4 movepos = ch.movepos(1);
  pr.familymove(3) = family ? ch.familyside : 0;
  int4 ks = ch.knownsibside;
  parentageassign(sizes, numassign, movekind, movepos, pr.familymove, pr.listlen, pr.eligible, ks,
                  unassigned, pr.parentok);
  if (pr.parentok == 0) return false;
  checkconfiguration(pr.configok, ch.knownsibside, movekind, rs.wholesibshipsex);
  if (pr.configok == 0) return false;
  return !(!family && ch.movekind != 1 && ch.knownsibside > 0 && sides_share_a_parent(pr));
}

// The offspring of each sex that leave their present half-sib family (individual moves), the
// current log likelihood of the touched clusters, and the candidate term and sibship-size
// classes the proposal starts from; counts the attempt towards the moving offspring's weight.
void current_terms(RunState& rs, bool family, int4 movekind) {
  auto& v = variables;
  auto& av = annealvariables;
  Proposal& pr = rs.proposal;
  MoveChoice& ch = rs.choice;
  const int4 mi = av.moveindiv;
  rs.cp.moveweight(mi, 2) += 1;
  if (!family) {
    if (v.allmonogamy != 0 && v.numsex == 2) {
      const int4 l = av.indivloc2(1, 1) == av.movefamily(1) ? 0 : av.numindivlocidx(3);
      pr.leavers(1) = l;
      pr.leavers(2) = l;
    } else {
      for (int4 s = 1; s <= 2; ++s)
        for (int4 k = 1; k <= av.numindivlocidx(3); ++k) {
          const int4 r = av.indivlocidx(k, 3);
          const int4 o = av.indivloc2(r, 4);
          if (av.indivloc2(r, s) != av.movefamily(s) && v.crindivloc(o, s) == av.movefamily(s))
            ++pr.leavers(s);
        }
    }
  }
  pr.oldclusterlogl = 0.0;
  if (v.fulllikelihoodmethodq != 0) {
    pr.oldclusterlogl = v.crfamilylogl(ch.owncluster);
    if (!family && ch.movekind == 2) pr.oldclusterlogl += v.crfamilylogl(av.hostfamily(3));
  }
  pr.newcndlogl = rs.cp.oldcndlogl;
  pr.maxsize(1) = rs.cp.numsizeclass(1);
  pr.maxsize(2) = rs.cp.numsizeclass(2);
  pr.maxsize(3) = pr.maxsize(1);
  pr.maxsize(4) = pr.maxsize(2);
  if (v.priortype == 1 && !family) {
    FStatic<int4, 1, 2> sizes2{};
    sizes2(1) = ch.ownclustersize;
    sizes2(2) = ch.movekind == 2 ? ch.hostclustersize : 0;
    newsibdist(pr.nchange, pr.maxsize, movekind, sizes2);
  }
}

}  // namespace

bool build_proposal(RunState& rs) {
  auto& av = annealvariables;
  Proposal& pr = rs.proposal;
  pr.pending = false;
  // A choice that names no move (the run frame without moves) proposes nothing.
  if (av.movingtype != 1 && av.movingtype != 2) return true;
  grow_scratch(rs);
  pr.restside = 0;
  pr.leavers.fill(0);
  pr.nchange.fill(0);
  const bool family = av.movingtype == 2;
  if (!propose_rows(rs, family)) return false;
  int4 movekind = family ? 0 : rs.choice.movekind;
  // The one exit of a refused proposal: an individual move's rows marked families of the own
  // cluster, which must be cleared before the next choice.
  if (!parents_are_valid(rs, family, movekind)) {
    if (!family) release_family_marks(rs);
    return false;
  }
  current_terms(rs, family, movekind);
  assign_parents(rs);
  pr.pending = true;
  proposed_counts_and_prior(rs, family);
  return true;
}

}  // namespace kinrad
