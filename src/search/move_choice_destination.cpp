// The destination full-sib family of an individual move inside the destination cluster the
// choice has drawn. Each case of the cluster (own, another, new) and of the monogamy and selfing
// of the species is one small rule; destination_family picks the rule. The draws keep the order
// of the choice: one seed gives one search path.
#include <algorithm>
#include <cassert>
#include <cmath>

#include "configuration/configuration.hpp"
#include "core/modules.hpp"
#include "core/real_integer_power.hpp"
#include "search/move_choice.hpp"
#include "search/move_choice_internal.hpp"
#include "search/search_internal.hpp"

namespace kinrad {

using namespace move_choice_parts;

namespace {

// A new cluster.
bool dest_new_cluster(RunState& rs) {
  auto& v = variables;
  auto& av = annealvariables;
  if (can_self()) {
    if (rs.prbself(av.moveindiv) > u()) {
      av.hostfamily(1) = av.hostfamily(2) = v.crnumfamily(1) + 1;
    } else {
      av.hostfamily(1) = v.crnumfamily(1) + 1;
      av.hostfamily(2) = v.crnumfamily(2) + 2;
    }
  } else {
    av.hostfamily(1) = v.crnumfamily(1) + 1;
    av.hostfamily(2) = v.crnumfamily(2) + 3 - v.numsex;
  }
  rs.choice.hostfamilyid(1) = rs.choice.hostfamilyid(2) = 1;
  return true;
}

// Own cluster of one full-sib family, a species that can self, no monogamous sex.
bool dest_own_single_selfing(RunState& rs) {
  auto& v = variables;
  auto& av = annealvariables;
  auto& ch = rs.choice;
  ch.hostfamilyid(1) = ch.hostfamilyid(2) = 1;
  const int4 newid = v.crnumfamily(1) + 1;
  if (av.movefamily(1) == av.movefamily(2)) {
    const int4 k = side_of(u());
    av.hostfamily(k) = av.movefamily(k);
    av.hostfamily(3 - k) = newid;
  } else if (ch.fssize == 1) {
    const int4 k = side_of(u());
    av.hostfamily(1) = av.hostfamily(2) = av.movefamily(k);
  } else {
    const real8 x = u();
    const int4 k = side_of(u());
    if (x < 0.5) {
      av.hostfamily(1) = av.hostfamily(2) = av.movefamily(k);
    } else {
      av.hostfamily(k) = av.movefamily(k);
      av.hostfamily(3 - k) = newid;
    }
  }
  return true;
}

// Own cluster, no monogamous sex (every case but the one above).
bool dest_own_polygamous(RunState& rs) {
  auto& v = variables;
  auto& av = annealvariables;
  auto& ch = rs.choice;
  const int4 mi = av.moveindiv;
  if (v.offploid(mi) == 1) {
    if (av.nparent1(2) == 1 || v.sibshipdone(2) != 0) return false;
    if (v.indivparent(mi, 2) > 0 &&
        known_mothers_fill(
            ch, av.numberfsfamily1, [](int4 f, int4 t) { return member1(f, t); },
            [](int4 f) { return annealvariables.numfamilymember1(f); }, av.nparent1(2)))
      return false;
  }
  findhostfamilyid(rs, 1, ch.movepos);
  if (ch.movepos(2) < 0) return false;
  if (av.hostfamily(1) == av.movefamily(1) && av.hostfamily(2) == av.movefamily(2)) return false;
  if (v.haplodiploid == 1) {
    if (av.hostfamily(1) > v.crnumfamily(1)) {
      if (u() < 0.5) {
        ch.hostfamilyid(1) = ch.movepos(2);
        ch.hostfamilyid(2) = av.nparent1(2) + 1;
        av.hostfamily(1) = av.movefamily(1);
        av.hostfamily(2) = v.crnumfamily(2) + 1;
      }
    } else if (av.hostfamily(2) <= v.crnumfamily(2) && v.offploid(mi) == 2) {
      real8 p = 0.0;
      if (av.hostfamily(1) == av.movefamily(1) && ch.hssize(2) > ch.fssize)
        p = 0.25;
      else if (av.hostfamily(1) != av.movefamily(1) && av.hostfamily(2) != av.movefamily(2))
        p = 0.5;
      if (p > 0.0 && u() < p) {
        ch.hostfamilyid(2) = ch.movepos(3);
        av.hostfamily(2) = av.movefamily(2);
        if (av.hostfamily(1) == av.movefamily(1)) {
          const int4 n1 = av.nparent1(1);
          assert(n1 >= 2);
          int4 pos = 0;
          if (n1 == 2) {
            pos = 3 - ch.movepos(2);
          } else {
            do pos = pick(n1, u());
            while (pos == ch.movepos(2));
          }
          ch.hostfamilyid(1) = pos;
          av.hostfamily(1) = id1(1, pos);
        }
      }
    }
  }
  return true;
}

// Another cluster, both sexes monogamous, a species that cannot self: the destination
// cluster's full-sib family.
bool dest_other_monogamous(RunState& rs) {
  auto& v = variables;
  auto& av = annealvariables;
  const int4 m = member2(1, 1);
  av.hostfamily(1) = v.crindivloc(m, 1);
  av.hostfamily(2) = v.crindivloc(m, 2);
  rs.choice.hostfamilyid(1) = rs.choice.hostfamilyid(2) = 1;
  return true;
}

// Another cluster, no monogamous sex: join as a half sib or search a full-sib family.
bool dest_other_polygamous(RunState& rs) {
  auto& v = variables;
  auto& av = annealvariables;
  auto& ch = rs.choice;
  const int4 mi = av.moveindiv;
  const real8 cool = real_integer_power(rs.sched.ratiotemprature, rs.cp.tmr - 1);
  const int4 own = ch.ownclustersize, host = ch.hostclustersize;
  if (own + host > 2) {
    real8 p = std::max(0.5 / (own + 1) + 0.5 / (host + 1), 0.05 * (1.0 + cool));
    if (ch.knownsibside > 0) p *= 0.5;
    real8 x = u();
    if (can_self() && av.movefamily(1) != av.movefamily(2)) {
      int4 selfed = 0;
      for (int4 f = 1; f <= av.numberfsfamily2; ++f) {
        const int4 m = member2(f, 1);
        if (v.crindivloc(m, 1) == v.crindivloc(m, 2)) ++selfed;
      }
      x /= static_cast<real8>(1 + selfed);
    }
    ch.halfsibjoin = p * (1.0 - 0.25 * cool) > x ? 1 : 0;
    if (v.haplodiploid == 1) {
      bool diploid = false;
      for (int4 t = 1; t <= ch.fssize && !diploid; ++t)
        diploid = v.offploid(member1(ch.movepos(1), t)) == 2;
      if (v.offploid(mi) == 1 && !diploid) {
        ch.halfsibjoin = 0;
      } else if (ch.halfsibjoin == 0) {
        const real8 q = ch.knownsibside > 0 ? 0.0625 : 0.25;
        ch.halfsibjoin = q > u() ? 1 : 0;
      }
    }
  }
  if (ch.halfsibjoin == 0) {
    if (v.offploid(mi) == 1 && v.indivparent(mi, 2) > 0 &&
        known_mothers_fill(
            ch, av.numberfsfamily2, [](int4 f, int4 t) { return member2(f, t); },
            [](int4 f) { return annealvariables.numfamilymember2(f); }, av.nparent2(2)))
      return false;
    findhostfamilyid(rs, 2, ch.movepos);
    if (ch.movepos(2) < 0) return false;
    if (v.haplodiploid == 1 && ch.hostfamilyid(2) > av.nparent2(2) && u() < 0.5) {
      const int4 pos = pick(av.nparent2(2), u());
      ch.hostfamilyid(1) = av.nparent2(1) + 1;
      ch.hostfamilyid(2) = pos;
      av.hostfamily(1) = v.crnumfamily(1) + 1;
      av.hostfamily(2) = av.parentidx2(av.nparent2(1) + pos);
    }
    return true;
  }
  // Join as a half sib: keep the own parent on one side, share one on side t.
  int4 t = 0;
  if (v.sibshipdone(1) != 0) {
    t = 2;
  } else if (v.sibshipdone(2) != 0 || v.offploid(mi) == 1) {
    t = 1;
  } else {
    const int4 a1 = std::max(v.inferparent(mi, 1), v.indivparent(mi, 1));
    const int4 a2 = std::max(v.inferparent(mi, 2), v.indivparent(mi, 2));
    const real8 x = u();
    if ((a1 > 0) != (a2 > 0) && x < 0.9) {
      t = a1 > 0 ? 2 : 1;
    } else {
      const real8 r =
          static_cast<real8>(ch.hssize(2) + av.nparent2(1)) /
          static_cast<real8>(av.nparent2(1) + av.nparent2(2) + ch.hssize(1) + ch.hssize(2));
      t = r <= u() ? 2 : 1;
    }
  }
  av.hostfamily(3 - t) = av.movefamily(3 - t);
  ch.hostfamilyid(3 - t) = av.nparent2(3 - t) + 1;
  int4 list = t;
  if (v.numsex == 1 && u() < 0.5) list = 3 - t;
  const int4 n = av.nparent2(list);
  const int4 pos = n < 2 ? 1 : pick(n, u());
  ch.hostfamilyid(t) = pos;
  av.hostfamily(t) = av.parentidx2((list - 1) * av.nparent2(1) + pos);
  return true;
}

// Own cluster of one full-sib family, a species that can self, a monogamous sex.
bool dest_own_single_selfing_monogamous(RunState& rs) {
  auto& v = variables;
  auto& av = annealvariables;
  auto& ch = rs.choice;
  const int4 k = side_of(u());
  ch.hostfamilyid(k) = 1;
  ch.hostfamilyid(3 - k) = 2;
  if (av.movefamily(1) == av.movefamily(2)) {
    av.hostfamily(k) = av.movefamily(1);
    av.hostfamily(3 - k) = v.crnumfamily(1) + 1;
  } else {
    av.hostfamily(1) = av.hostfamily(2) = av.movefamily(k);
  }
  return true;
}

// Own cluster with a monogamous sex (every case but the one above).
bool dest_own_monogamous(RunState& rs) {
  auto& v = variables;
  auto& av = annealvariables;
  auto& ch = rs.choice;
  const int4 mi = av.moveindiv;
  int4 k = 2 - v.monogamy(1);
  bool drawn = false;
  if (can_self()) {
    k = side_of(u());
    if (u() < 0.1) {
      const int4 id = id1(3 - k, 1);
      av.hostfamily(k) = id;
      ch.hostfamilyid(k) = position1(k, id);
      drawn = true;
    }
  }
  av.hostfamily(3 - k) = av.movefamily(3 - k);
  ch.hostfamilyid(3 - k) = 1;
  if (drawn) return true;
  const int4 nk = av.nparent1(k);
  for (;;) {
    const int4 pos = std::min(static_cast<int4>(u() * nk * 1.5 + 1.0), nk + 1);
    if (pos == ch.movepos(k + 1)) continue;
    ch.hostfamilyid(k) = pos;
    if (pos > nk) {
      av.hostfamily(k) = v.crnumfamily(k) + 1;
      return true;
    }
    if (v.knownsibship(mi, k) < 0) {
      bool negative = false;
      for (int4 t = 1; t <= av.numfamilymember1(pos) && !negative; ++t)
        negative = v.knownsibship(member1(pos, t), k) < 0;
      if (negative) continue;
    }
    av.hostfamily(k) = id1(k, pos);
    return true;
  }
}

// After the own-cluster rules with a monogamous sex in a species that can self: a chance of a
// selfed destination, then the monogamy of the destination parents.
bool own_monogamous_selfing_after(RunState& rs) {
  auto& v = variables;
  auto& av = annealvariables;
  auto& ch = rs.choice;
  const bool new1 = av.hostfamily(1) > v.crnumfamily(1);
  const bool new2 = av.hostfamily(2) > v.crnumfamily(2);
  if (av.hostfamily(1) != av.hostfamily(2) && !(new1 && new2) && u() < 0.2) {
    const int4 t = new1 ? 1 : (new2 ? 2 : 2 - static_cast<int4>(std::lround(u())));
    av.hostfamily(t) = av.hostfamily(3 - t);
    ch.hostfamilyid(t) = position1(t, av.hostfamily(t));
  }
  if (av.hostfamily(1) == av.hostfamily(2)) return true;
  for (int4 s = 1; s <= 2; ++s) {
    if (v.monogamy(s) != 1 || av.hostfamily(s) > v.crnumfamily(s)) continue;
    for (int4 f = 1; f <= av.numberfsfamily1; ++f) {
      if (id1(s, fam1(f, s)) != av.hostfamily(s)) continue;
      const int4 mate = id1(3 - s, fam1(f, 3 - s));
      if (mate != av.hostfamily(s) && mate != av.hostfamily(3 - s)) return false;
    }
  }
  return true;
}

// Another cluster, one monogamous sex k.
bool dest_other_one_monogamous(RunState& rs) {
  auto& v = variables;
  auto& av = annealvariables;
  auto& ch = rs.choice;
  const int4 mi = av.moveindiv;
  const int4 k = 2 - v.monogamy(1);
  const int4 j = 3 - k;
  const int4 nk = av.nparent2(k);
  const int4 first = member2(1, 1);
  auto side_j_of_first = [&] {
    av.hostfamily(j) = v.crindivloc(first, j);
    ch.hostfamilyid(j) = av.familyidx2(1, j);
  };
  const real8 x = u();
  if (x < (ch.knownsibside > 0 ? 0.2 : 0.1)) {
    const int4 pos = pick(nk + 1, u());
    ch.hostfamilyid(k) = pos;
    av.hostfamily(k) =
        pos > nk ? v.crnumfamily(k) + 1 : av.parentidx2((k - 1) * av.nparent2(1) + pos);
    side_j_of_first();
    ch.halfsibjoin = 1;
    const real8 q = 5.0 / ch.ownclustersize + 5.0 / ch.hostclustersize +
                    0.8 * real_integer_power(rs.sched.ratiotemprature, rs.cp.tmr - 1);
    if (q < 1.0) ch.halfsibjoin = u() < q ? 1 : 0;
    return true;
  }
  int4 pos = std::min(static_cast<int4>(x * nk * 1.5 + 1.0), nk + 1);
  for (;;) {
    if (pos > nk) {
      ch.hostfamilyid(k) = pos;
      av.hostfamily(k) = v.crnumfamily(k) + 1;
      side_j_of_first();
      return true;
    }
    bool negative = false;
    if (v.knownsibship(mi, k) < 0)
      for (int4 t = 1; t <= av.numfamilymember2(pos) && !negative; ++t)
        negative = v.knownsibship(member2(pos, t), k) < 0;
    if (!negative) break;
    pos = std::min(static_cast<int4>(u() * nk * 1.5 + 1.0), nk + 1);
  }
  const int4 m = member2(pos, 1);
  if (!can_self()) {
    av.hostfamily(k) = v.crindivloc(m, k);
    av.hostfamily(j) = v.crindivloc(m, j);
  } else {
    if (av.numberfsfamily2 > 1) (void)u();  // drawn, its value not used by this rule
    if (v.crindivloc(m, 1) == v.crindivloc(m, 2)) {
      av.hostfamily(k) = v.crnumfamily(k) + 1;
      av.hostfamily(j) = v.crindivloc(m, 1);
    } else {
      const real8 p = av.movefamily(1) == av.movefamily(2) ? 0.8 : 0.2;
      if (p > u()) {
        av.hostfamily(1) = av.hostfamily(2) = v.crindivloc(m, side_of(u()));
      } else {
        av.hostfamily(1) = v.crindivloc(m, 1);
        av.hostfamily(2) = v.crindivloc(m, 2);
      }
    }
  }
  ch.hostfamilyid(1) = position2(1, av.hostfamily(1));
  ch.hostfamilyid(2) = position2(2, av.hostfamily(2));
  return true;
}

// Another cluster, both sexes monogamous, a species that can self.
bool dest_other_monogamous_selfing(RunState& rs) {
  auto& v = variables;
  auto& av = annealvariables;
  auto& ch = rs.choice;
  const int4 nf = av.numberfsfamily2;
  auto selfed = [&](int4 m) { return v.crindivloc(m, 1) == v.crindivloc(m, 2); };
  auto take = [&](int4 m) {
    av.hostfamily(1) = v.crindivloc(m, 1);
    av.hostfamily(2) = v.crindivloc(m, 2);
  };
  auto self_on = [&](int4 m) {
    av.hostfamily(1) = av.hostfamily(2) = v.crindivloc(m, side_of(u()));
  };
  if (nf == 1) {
    const int4 m = member2(1, 1);
    if (selfed(m)) {
      av.hostfamily(1) = v.crindivloc(m, 1);
      av.hostfamily(2) = u() < 0.25 ? v.crindivloc(m, 1) : v.crnumfamily(1) + 1;
    } else if (u() < 0.25) {
      take(m);
    } else {
      self_on(m);
    }
  } else if (nf == 2) {
    const real8 x = u();
    const int4 m1 = member2(1, 1), m2 = member2(2, 1);
    if (x < 0.25)
      take(m1);
    else if (x >= 0.5)
      self_on(selfed(m1) ? m2 : m1);
    else
      take(m2);
  } else {
    take(member2(pick(3, u()), 1));
  }
  ch.hostfamilyid(1) = position2(1, av.hostfamily(1));
  ch.hostfamilyid(2) = position2(2, av.hostfamily(2));
  return true;
}

}  // namespace

bool destination_family(RunState& rs) {
  const auto& v = variables;
  const auto& av = annealvariables;
  const int4 kind = rs.choice.movekind;
  if (kind == 3) return dest_new_cluster(rs);
  if (kind == 1) {
    const bool single = av.numberfsfamily1 == 1;
    if (v.anymonogamy == 0) {
      if (single && can_self()) return dest_own_single_selfing(rs);
      return dest_own_polygamous(rs);
    }
    const bool ok =
        single && can_self() ? dest_own_single_selfing_monogamous(rs) : dest_own_monogamous(rs);
    if (!ok) return false;
    return can_self() ? own_monogamous_selfing_after(rs) : true;
  }
  if (v.allmonogamy == 1)
    return can_self() ? dest_other_monogamous_selfing(rs) : dest_other_monogamous(rs);
  if (v.anymonogamy == 0) return dest_other_polygamous(rs);
  return dest_other_one_monogamous(rs);
}

}  // namespace kinrad
