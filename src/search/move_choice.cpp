// The first stage of an iteration: what moves (one offspring, part or all of its full-sib
// family, or its whole full-sib family on one parent side) and where it goes. Every draw of
// the search stream below is one call in a fixed order, and a draw under a condition is made
// only when the condition holds: one seed gives one search path, and a checkpointed run goes
// on along the same path.
#include "search/move_choice.hpp"

#include <algorithm>
#include <cmath>

#include "configuration/configuration.hpp"
#include "core/modules.hpp"
#include "core/real_integer_power.hpp"
#include "search/move_choice_internal.hpp"
#include "search/search_internal.hpp"

namespace kinrad {

using namespace move_choice_parts;

namespace {

// --- Which offspring, what kind of move -------------------------------------------------

void draw_kind_and_offspring(RunState& rs) {
  auto& v = variables;
  auto& av = annealvariables;
  auto& ch = rs.choice;
  const real8 x = rs.sched.fammovethreshold;
  av.movingtype = 1;
  ch.familyside = 0;
  if (x < 1.0 && u() >= x + 0.5 * av.rate * (1.0 - x)) av.movingtype = 2;
  if (av.movingtype == 2) {
    const real8 sp = rs.sched.sideprob;
    if (sp < 1e-300)
      ch.familyside = 2;
    else if (sp > 1.0)
      ch.familyside = 1;
    else
      ch.familyside = sp > u() ? 1 : 2;
  }
  const int4 n = v.smplsize;
  const auto& w = rs.cp.moveweight;
  for (;;) {
    const int4 i = pick(n, u());
    const real8 r = std::sqrt(static_cast<real8>(w(i, 1)) / static_cast<real8>(w(i, 2)));
    if (r > u()) {
      av.moveindiv = i;
      break;
    }
  }
  const int4 mi = av.moveindiv;
  ch.owncluster = v.crindivloc(mi, 3);
  av.movefamily(1) = v.crindivloc(mi, 1);
  av.movefamily(2) = v.crindivloc(mi, 2);
}

// The own cluster's tables and the sizes of moveindiv's families in it.
void own_cluster(RunState& rs) {
  auto& av = annealvariables;
  auto& ch = rs.choice;
  const int4 mi = av.moveindiv;
  familybuild0(ch.owncluster, 1);
  if (av.numberfsfamily1 == 1) {
    ch.movepos(1) = ch.movepos(2) = ch.movepos(3) = 1;
    ch.fssize = ch.hssize(1) = ch.hssize(2) = av.numfamilymember1(1);
  } else {
    ch.movepos(1) = av.indivclusterid(mi, 3);
    ch.movepos(2) = av.indivclusterid(mi, 1);
    ch.movepos(3) = av.indivclusterid(mi, 2);
    ch.fssize = av.numfamilymember1(ch.movepos(1));
    for (int4 s = 1; s <= 2; ++s) {
      if (av.nparent1(s) == 1) {
        ch.hssize(s) = av.clustersizet(ch.owncluster);
        continue;
      }
      const int4 pos = ch.movepos(s + 1);
      const int4 j = (s - 1) * av.nparent1(1) + pos;
      int4 sum = 0;
      for (int4 t = 1; t <= av.numpartner1(pos, s); ++t)
        sum += av.numfamilymember1(av.partner1(av.locpartner1(j) + t));
      ch.hssize(s) = sum;
    }
  }
  ch.ownclustersize = av.clustersizet(ch.owncluster);
  if (rs.splitside > 0) resetknownsib(rs.splitside);
  ch.fspos = 1;
  const int4 f = ch.movepos(1);
  for (int4 t = 1; t <= ch.fssize; ++t)
    if (member1(f, t) == mi) {
      ch.fspos = t;
      break;
    }
}

// --- Destination cluster ------------------------------------------------------------------

bool destination_cluster(RunState& rs) {
  auto& v = variables;
  auto& av = annealvariables;
  auto& ch = rs.choice;
  const int4 mi = av.moveindiv;
  const int4 C = v.crnumfamily(3);
  real8 x = u();
  int4 dest = 0;
  if (v.allmonogamy == 0 && v.offploid(mi) == 2) {
    if (can_self() && v.inferparent(mi, 1) > 0 && v.inferparent(mi, 1) == v.inferparent(mi, 2))
      x *= 2.0;
    if ((1.0 - 0.95 / std::sqrt(static_cast<real8>(av.numberfsfamily1))) * rs.cp.withinfactor > x) {
      dest = ch.owncluster;
    } else {
      const int4 k = static_cast<int4>(
          std::lround(std::max(0.1 * static_cast<real8>(C), 2.0) / static_cast<real8>(ch.fssize)));
      dest = std::min(C + 1, pick(C + k + 1, u()));
    }
  } else {
    if (v.fulllikelihoodmethodq == 0) {
      dest = std::min(C, static_cast<int4>(std::lround(x * (1.0 + av.rate) * C))) + 1;
    } else {
      const real8 span = static_cast<real8>(C) * (3 - v.offploid(mi) + av.rate) + 1.0;
      dest = std::min(C + 1, static_cast<int4>(x * span + 1.0));
    }
    if (v.allmonogamy == 1 && !can_self() && dest == ch.owncluster) return false;
  }
  if (dest == ch.owncluster) {
    ch.movekind = 1;
  } else if (dest > C) {
    ch.movekind = 3;
  } else {
    ch.movekind = 2;
    if (ch.ownclustersize > 100 * av.clustersizet(dest)) return false;
    if (C > 50 && v.paircluster.allocated() && v.paircluster(mi).a.size() > 0) {
      const real8 p = 0.99 * real_integer_power(rs.sched.ratiotemprature, rs.cp.tmr - 1) -
                      1.0 / static_cast<real8>(C);
      if (p > 0.01 && p > u()) {
        const auto& list = v.paircluster(mi).a;
        const int4 m = list(pick(static_cast<int4>(list.ubound(1)), u()));
        if (v.crindivloc(m, 3) != ch.owncluster) dest = v.crindivloc(m, 3);
      }
    }
  }
  av.hostfamily(3) = dest;
  return true;
}

// --- The temporary split of a half-sib family ------------------------------------------------

bool passes_split_test(int4 type, int2 gm, int2 g, int4 a, int2& h) {
  const auto& gid = variables.genotypeid;
  switch (type) {
    case 0:
      return true;
    case 1:
      return gm == g;
    case 3:
      return gm > 0 && (gid(1, gm) == a || gid(2, gm) == a);
    case 2: {
      if (gm == g) return true;
      if (gm <= 0) return false;
      if (h == 0) {
        const int4 a1 = gid(1, g), a2 = gid(2, g), b1 = gid(1, gm), b2 = gid(2, gm);
        if (a1 == b1 || a1 == b2 || a2 == b1 || a2 == b2) {
          h = gm;
          return true;
        }
        return false;
      }
      return gm == h;
    }
    default:
      return false;
  }
}

void temporary_split(RunState& rs) {
  auto& v = variables;
  auto& av = annealvariables;
  auto& ch = rs.choice;
  const int4 mi = av.moveindiv;
  if (ch.movekind != 1 || has_known_sibship(mi) || ch.fssize >= ch.hssize(1) ||
      ch.fssize >= ch.hssize(2))
    return;
  real8 x = 2.0;
  bool sibs = false;
  for (int4 t = 1; t <= ch.fssize && !sibs; ++t)
    sibs = has_known_sibship(member1(ch.movepos(1), t));
  if (!sibs) x = u();
  const real8 base = v.numsex == 2 ? static_cast<real8>(0.05f) : static_cast<real8>(0.2f);
  if (!((base + 0.5 * av.rate) * (static_cast<real8>(1.1f) - rs.knownsibfrac) > x)) return;
  const int4 side = side_of(u());
  rs.splitside = side;
  ch.carrycount(1) = ch.carrycount(2) = 0;
  // The locus test.
  int4 type = 0;
  int2 g = 0;
  int4 a = 0;
  const real8 y = u();
  if (0.95 - rs.locusratio > y && ch.typed(mi) != 0) {
    int4 partner = 0;
    int4 locus = 0;
    findlocus(rs, ch.owncluster, 0, partner, g, locus);
    ch.splitlocus = locus;
    if (v.dominantmarker(locus) == 1 || y < 0.25) {
      type = 1;
    } else if (y >= 0.75) {
      type = 3;
      a = v.genotypeid(side_of(u()), g);
    } else {
      type = 2;
    }
  }
  ch.splittype = type;
  // The parents swept: moveindiv's parent on the split side, and with one parent pool the same
  // individual in the other role.
  int2 h = 0;
  auto sweep = [&](int4 s, int4 pos) {
    const int4 j = (s - 1) * av.nparent1(1) + pos;
    for (int4 t = 1; t <= av.numpartner1(pos, s); ++t) {
      const int4 f = av.partner1(av.locpartner1(j) + t);
      for (int4 q = 1; q <= av.numfamilymember1(f); ++q) {
        const int4 m = member1(f, q);
        if (v.knownsibship(m, s) != 0) continue;
        const bool pass = m == mi || type == 0 ||
                          passes_split_test(type, offspring_genotype(m, ch.splitlocus), g, a, h);
        if (!pass) continue;
        v.knownsibship(m, s) = ch.tempsibid;
        ++ch.carrycount(s);
        v.setknownsibindiv(ch.carrycount(s), s) = m;
      }
    }
  };
  sweep(side, ch.movepos(side + 1));
  if (v.numsex == 1) {
    const int4 other = 3 - side;
    const int4 id = av.movefamily(side);
    for (int4 k = 1; k <= av.nparent1(other); ++k)
      if (id1(other, k) == id) {
        sweep(other, k);
        break;
      }
  }
  v.setknownsibindiv(0, 1) = ch.carrycount(1);
  v.setknownsibindiv(0, 2) = ch.carrycount(2);
}

// --- The known sibship of moveindiv ---------------------------------------------------------

bool known_sibship_counts(RunState& rs) {
  auto& v = variables;
  auto& av = annealvariables;
  auto& ch = rs.choice;
  const int4 mi = av.moveindiv;
  const int4 k1 = v.knownsibship(mi, 1), k2 = v.knownsibship(mi, 2);
  if (k1 == 0 && k2 == 0)
    ch.knownsibside = 0;
  else if (k2 == 0)
    ch.knownsibside = 1;
  else if (k1 == 0)
    ch.knownsibside = 2;
  else
    ch.knownsibside = static_cast<int4>(std::lround(u() + 1.0));
  ch.carrycount(1) = ch.carrycount(2) = 0;
  for (int4 s = 1; s <= 2; ++s) {
    const int4 ks = v.knownsibship(mi, s);
    if (ks == 0) continue;
    bool count = false;
    switch (ch.movekind) {
      case 1:
        count = !can_self() && v.monogamy(s) == 1;
        break;
      case 2:
        count = v.monogamy(s) == 1;
        break;
      default:
        count = ch.ownclustersize <= ch.fssize;
    }
    if (!count) continue;
    if (rs.wholesibshipsex == s) {
      ch.carrycount(s) = ch.fssize;
    } else if (ch.hssize(s) != ch.fssize) {
      int4 c = 0;
      for (int4 t = 1; t <= ch.fssize; ++t)
        if (v.knownsibship(member1(ch.movepos(1), t), s) == ks) ++c;
      ch.carrycount(s) = c;
    } else {
      ch.carrycount(s) = v.knownsibshipsize(mi, s);
    }
  }
  const int4 c = ch.ownclustersize;
  if (ch.movekind == 1 && !can_self()) {
    if ((v.monogamy(1) == 1 && c == ch.carrycount(1)) ||
        (v.monogamy(2) == 1 && c == ch.carrycount(2)) || c == 1)
      return false;
  } else if (ch.movekind == 3) {
    if (c == 1 || c == ch.carrycount(1) || c == ch.carrycount(2)) return false;
  } else if (ch.movekind == 2) {
    int4 s = 0;
    if (v.monogamy(2) == 1 && ch.carrycount(1) > 0 && k1 < 0)
      s = 1;
    else if (v.monogamy(1) == 1 && ch.carrycount(2) > 0 && k2 < 0)
      s = 2;
    if (s > 0) {
      const auto& members = v.indivcluster(v.indivclusterindex(av.hostfamily(3)));
      for (index_t t = 1; t <= members.ubound(1); ++t)
        if (v.indivparent(members(t), s) > 0) return false;
    }
  }
  return true;
}

// --- Checks once the destination is known ----------------------------------------------------

// True when an offspring of destination parent `id` (sex s) has a known parent of sex s other
// than K.
bool other_known_parent(const RunState& rs, int4 s, int4 id, int4 K) {
  const auto& v = variables;
  const auto& av = annealvariables;
  auto bad = [&](int4 m) { return v.indivparent(m, s) > 0 && v.indivparent(m, s) != K; };
  if (rs.choice.movekind == 1) {
    for (int4 f = 1; f <= av.numberfsfamily1; ++f) {
      if (id1(s, fam1(f, s)) != id) continue;
      for (int4 t = 1; t <= av.numfamilymember1(f); ++t)
        if (bad(member1(f, t))) return true;
    }
  } else {
    for (int4 f = 1; f <= av.numberfsfamily2; ++f) {
      if (av.parentidx2((s - 1) * av.nparent2(1) + av.familyidx2(f, s)) != id) continue;
      for (int4 t = 1; t <= av.numfamilymember2(f); ++t)
        if (bad(member2(f, t))) return true;
    }
  }
  return false;
}

// Whether side 1 (own) or side 2 (other) holds a full-sib family of the pair (a, b).
bool holds_pair(int4 side, int4 a, int4 b) {
  const auto& av = annealvariables;
  if (side == 1) {
    for (int4 f = 1; f <= av.numberfsfamily1; ++f)
      if (id1(1, fam1(f, 1)) == a && id1(2, fam1(f, 2)) == b) return true;
    return false;
  }
  for (int4 f = 1; f <= av.numberfsfamily2; ++f)
    if (av.parentidx2(av.familyidx2(f, 1)) == a &&
        av.parentidx2(av.nparent2(1) + av.familyidx2(f, 2)) == b)
      return true;
  return false;
}
int4 pair_family1(int4 a, int4 b) {
  const auto& av = annealvariables;
  for (int4 f = 1; f <= av.numberfsfamily1; ++f)
    if (id1(1, fam1(f, 1)) == a && id1(2, fam1(f, 2)) == b) return f;
  return 0;
}

bool checks_after_destination(RunState& rs) {
  auto& v = variables;
  auto& av = annealvariables;
  auto& ch = rs.choice;
  const int4 mi = av.moveindiv;
  const auto& ks = v.knownsibship;
  auto exists = [&](int4 s) { return av.hostfamily(s) <= v.crnumfamily(s); };
  if (ch.movekind == 1 && v.offploid(mi) == 2 && !(ks(mi, 1) != 0 && ks(mi, 2) != 0) && exists(1) &&
      exists(2) && real_integer_power(rs.sched.ratiotemprature, rs.cp.tmr) > u()) {
    int4 s = 0;
    if (v.monogamy(1) == 1)
      s = 1;
    else if (v.monogamy(2) == 1 || ks(mi, 1) != 0)
      s = 2;
    else if (ks(mi, 2) != 0)
      s = 1;
    else
      s = side_of(u());
    av.hostfamily(s) = v.crnumfamily(s) + 1;
    ch.hostfamilyid(s) = av.nparent1(s) + 1;
  }
  if (ch.movekind == 1 && rs.wholesibshipsex > 0 &&
      av.hostfamily(rs.wholesibshipsex) != av.movefamily(rs.wholesibshipsex))
    return false;
  if (v.numsex == 1 && av.hostfamily(1) != av.hostfamily(2) && !has_known_sibship(mi) &&
      exists(1) && exists(2)) {
    const int4 a = av.hostfamily(1), b = av.hostfamily(2);
    bool reverse = false;
    if (ch.movekind == 1) {
      const int4 f = pair_family1(b, a);
      reverse = f > 0 && !has_known_sibship(member1(f, 1)) && u() <= 0.5;
    } else if (ch.movekind == 2) {
      reverse = u() > 0.5 && holds_pair(2, b, a);
    }
    if (reverse) {
      // Reversed onto moveindiv's own full-sib family the move would leave it where it is:
      // that is retried, as when the destination search itself lands there.
      if (b == av.movefamily(1) && a == av.movefamily(2)) return false;
      av.hostfamily(1) = b;
      av.hostfamily(2) = a;
      for (int4 s = 1; s <= 2; ++s)
        ch.hostfamilyid(s) =
            ch.movekind == 1 ? position1(s, av.hostfamily(s)) : position2(s, av.hostfamily(s));
    }
  }
  if (v.anyknownprntq(1) != 0 || v.anyknownprntq(2) != 0) {
    for (int4 s = 1; s <= 2; ++s) {
      const int4 K = v.indivparent(mi, s);
      if (!exists(s) || av.hostfamily(s) == av.movefamily(s) || K <= 0) continue;
      if (other_known_parent(rs, s, av.hostfamily(s), K)) return false;
    }
  }
  if (v.numsex == 1 && v.allowinbreeding == 0 && av.hostfamily(1) == av.hostfamily(2)) return false;
  return true;
}

// --- Who moves with moveindiv -----------------------------------------------------------------

bool whole_family_flag(RunState& rs) {
  auto& v = variables;
  auto& av = annealvariables;
  auto& ch = rs.choice;
  const int4 mi = av.moveindiv;
  const int4 fs = ch.fssize;
  const auto& hf = av.hostfamily;
  const auto& mf = av.movefamily;
  const bool exist1 = hf(1) <= v.crnumfamily(1), exist2 = hf(2) <= v.crnumfamily(2);
  auto rule_d = [&] {
    int4 a = 0;
    for (int4 s = 1; s <= 2 && a == 0; ++s) {
      if (v.numcandidate(s) <= 0) continue;
      const int4 last = v.numknownprnt(s) == 0 ? 1 : fs;
      for (int4 t = 1; t <= last; ++t)
        if (v.inferparent(member1(ch.movepos(1), t), s) > 0) {
          a = 1;
          break;
        }
    }
    const real8 d = can_self() && hf(1) == hf(2) ? 4.0 : 2.0;
    const real8 near = hf(3) == ch.owncluster ? 0.2 : 0.1;
    return (av.rate / fs + 0.1 * a + near) / d > u();
  };
  if ((hf(1) == mf(1) && !exist2) || (hf(2) == mf(2) && !exist1)) {
    if (ch.movekind != 1) return rule_d();
    int4 n = 0;
    if (v.inferparent2.allocated())
      for (int4 s = 1; s <= 2; ++s)
        if (v.inferparent2(mi, s) > 0) ++n;
    return (0.25 * n + 0.25) / fs > u();
  }
  if (ch.movekind == 3 && ch.ownclustersize == fs) return false;
  if (ch.movekind == 1) {
    bool haploid = false;
    for (int4 t = 1; t <= fs && !haploid; ++t) haploid = v.offploid(member1(ch.movepos(1), t)) == 1;
    if (haploid && v.haplodiploid == 1 && hf(2) == mf(2) && v.smplsizedh(1) > 0) return 0.85 > u();
    if ((hf(1) == mf(1) || hf(2) == mf(2)) && exist1 && exist2) return 1.0 / fs > u();
  }
  return rule_d();
}

void allot_alone(MoveChoice& ch) {
  const int4 mi = annealvariables.moveindiv;
  for (int4 t = 1; t <= ch.fssize; ++t) {
    const int4 m = member1(ch.movepos(1), t);
    (m == mi ? ch.moving : ch.staying).push_back(m);
  }
}

void who_moves(RunState& rs) {
  auto& v = variables;
  auto& av = annealvariables;
  auto& ch = rs.choice;
  const int4 mi = av.moveindiv;
  ch.moving.clear();
  ch.staying.clear();
  ch.splittype = 0;
  if (ch.halfsibjoin == 1 || ch.fssize == 1) {
    ch.moveset = 1;
    allot_alone(ch);
  } else if (whole_family_flag(rs)) {
    ch.moveset = 2;
    for (int4 t = 1; t <= ch.fssize; ++t) ch.moving.push_back(member1(ch.movepos(1), t));
  } else if (has_known_sibship(mi)) {
    ch.moveset = 3;
    allot_alone(ch);
  } else {
    const real8 x = u();
    const real8 lim =
        std::min(0.25 * (5 - 2 * v.offploid(mi) + av.rate), 0.95) / (2.0 * rs.locusratio + 1.0);
    if (x <= lim && ch.typed(mi) != 0) {
      ch.moveset = 4;
      split_at_locus(rs);
    } else {
      ch.moveset = 1;
      allot_alone(ch);
    }
  }
  if (ch.movekind != 1) {
    av.numindiv(1) = static_cast<int4>(ch.staying.size());
    av.numindiv(2) = static_cast<int4>(ch.moving.size());
  }
}

}  // namespace

void prepare_choice(RunState& rs) {
  const auto& v = variables;
  auto& ch = rs.choice;
  const int4 n = v.smplsize;
  ch.typed.allocate(Dim(n));
  auto mark_typed = [&](const FArray<int4, 1>& list) {
    if (!list.allocated()) return;
    for (int4 k = 1; k <= list(0); ++k)
      for (int4 i = 1; i <= n; ++i)
        if (ch.typed(i) == 0 && offspring_genotype(i, list(k)) >= 1) ch.typed(i) = 1;
  };
  mark_typed(v.locus2);
  mark_typed(v.locus3);
  ch.tempsibid = 1;
  if (annealvariables.knownsibshipq.allocated()) {
    ch.tempsibid = static_cast<int4>(annealvariables.knownsibshipq.ubound(1));
  } else if (v.knownsibship.allocated()) {
    int4 hi = 0;
    for (int4 s = 1; s <= 2; ++s)
      for (int4 i = 1; i <= n; ++i) hi = std::max(hi, v.knownsibship(i, s));
    ch.tempsibid = hi + 1;
  }
  ch.moving.reserve(static_cast<std::size_t>(n));
  ch.staying.reserve(static_cast<std::size_t>(n));
  ch.famlist.allocate(Dim(n));
  const int4 nc = std::max({v.numcandidate(1), v.numcandidate(2), 0});
  ch.candmark.allocate(Dim(nc));
  ch.marked.allocate(Dim(nc));
  ch.ready = true;
}

bool choose_move(RunState& rs) {
  auto& v = variables;
  auto& av = annealvariables;
  auto& ch = rs.choice;
  if (!ch.ready) prepare_choice(rs);
  draw_kind_and_offspring(rs);
  const int4 mi = av.moveindiv;
  if (av.movingtype == 2) {
    if (v.offploid(mi) == 1) ch.familyside = 2;
    if (v.indivparent(mi, ch.familyside) > 0) return false;
  }
  own_cluster(rs);
  ch.halfsibjoin = 0;
  ch.hostclustersize = 0;
  ch.splittype = 0;
  ch.splitlocus = 0;
  if (av.movingtype == 2) {
    ch.movekind = 0;
    ch.moveset = 0;
    ch.knownsibside = 0;
    ch.carrycount(1) = ch.carrycount(2) = 0;
    ch.moving.clear();
    ch.staying.clear();
    av.hostfamily(1) = av.movefamily(1);
    av.hostfamily(2) = av.movefamily(2);
    av.hostfamily(3) = ch.owncluster;
    ch.hostfamilyid(1) = ch.movepos(2);
    ch.hostfamilyid(2) = ch.movepos(3);
  } else {
    if (!destination_cluster(rs)) return false;
    temporary_split(rs);
    if (!known_sibship_counts(rs)) return false;
    if (ch.movekind == 2) {
      familybuild0(av.hostfamily(3), 2);
      ch.hostclustersize = av.clustersizet(av.hostfamily(3));
    }
    if (!destination_family(rs)) return false;
    if (!checks_after_destination(rs)) return false;
  }
  av.numindiv(1) = av.numindiv(2) = 0;
  if (av.numindivlocidx.allocated())
    for (int4 k = 1; k <= 3; ++k) av.numindivlocidx(k) = 0;
  if (av.movingtype == 2) return true;
  who_moves(rs);
  return true;
}

}  // namespace kinrad
