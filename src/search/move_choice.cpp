// The first stage of an iteration: what moves (one offspring, part or all of its full-sib
// family, or its whole full-sib family on one parent side) and where it goes. Every draw of
// the search stream below is one call in a fixed order, and a draw under a condition is made
// only when the condition holds: one seed gives one search path, and a checkpointed run goes
// on along the same path.
#include <algorithm>
#include <cassert>
#include <cmath>

#include "configuration/configuration.hpp"
#include "core/modules.hpp"
#include "core/packed_genotypes.hpp"
#include "core/real_integer_power.hpp"
#include "search/move_choice.hpp"
#include "search/search_internal.hpp"

namespace kinrad {

namespace {

inline real8 u() { return choice_draw(); }
inline int4 pick(int4 n, real8 x) { return static_cast<int4>(static_cast<real8>(n) * x + 1.0); }
inline int4 side_of(real8 x) { return static_cast<int4>(std::lround(x)) + 1; }

bool can_self() { return variables.numsex == variables.allowinbreeding; }

// Side-1 tables: the parent position of sex s of family f, the id of the parent at position
// pos of sex s, the member list of family f.
int4 fam1(int4 f, int4 s) {
  return annealvariables.familyidx1((s - 1) * annealvariables.numberfsfamily1 + f);
}
int4 id1(int4 s, int4 pos) {
  return annealvariables.parentidx1((s - 1) * annealvariables.nparent1(1) + pos);
}
int4 member1(int4 f, int4 t) {
  return annealvariables.familymember1(annealvariables.sibloc1(f) + t);
}
int4 member2(int4 f, int4 t) {
  return annealvariables.familymember2(annealvariables.familymemberloc2(f) + t);
}
// The position of family id `id` among the side-1 parents of sex s, nparent1(s) + 1 when it is
// not one of them.
int4 position1(int4 s, int4 id) {
  const auto& av = annealvariables;
  for (int4 k = 1; k <= av.nparent1(s); ++k)
    if (id1(s, k) == id) return k;
  return av.nparent1(s) + 1;
}
int4 position2(int4 s, int4 id) {
  const auto& av = annealvariables;
  for (int4 k = 1; k <= av.nparent2(s); ++k)
    if (av.parentidx2((s - 1) * av.nparent2(1) + k) == id) return k;
  return av.nparent2(s) + 1;
}

bool has_known_sibship(int4 i) {
  const auto& ks = variables.knownsibship;
  return ks(i, 1) != 0 || ks(i, 2) != 0;
}

// Counts the distinct known mothers of the full-sib families of one side's cluster (for each
// family the known mother of its first member that has one); true as soon as the count
// reaches `limit`.
template <class Members, class Size>
bool known_mothers_fill(MoveChoice& ch, int4 nfam, Members member, Size size, int4 limit) {
  const auto& v = variables;
  int4 count = 0;
  bool full = false;
  for (int4 f = 1; f <= nfam && !full; ++f) {
    for (int4 t = 1; t <= size(f); ++t) {
      const int4 k = v.indivparent(member(f, t), 2);
      if (k <= 0) continue;
      if (ch.candmark[static_cast<std::size_t>(k)] == 0) {
        ch.candmark[static_cast<std::size_t>(k)] = 1;
        ch.marked.push_back(k);
        if (++count >= limit) full = true;
      }
      break;
    }
  }
  for (int4 k : ch.marked) ch.candmark[static_cast<std::size_t>(k)] = 0;
  ch.marked.clear();
  return full;
}

// --- Step: which offspring, what kind of move -------------------------------------------------

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
  for (int4 t = 1; t <= ch.fssize && !sibs; ++t) sibs = has_known_sibship(member1(ch.movepos(1), t));
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
  if (0.95 - rs.locusratio > y && ch.typed[static_cast<std::size_t>(mi)] != 0) {
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
        const bool pass =
            m == mi || type == 0 || passes_split_test(type, offspring_genotype(m, ch.splitlocus), g, a, h);
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

// --- The destination full-sib family: one small rule per case ------------------------------

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
  auto self_on = [&](int4 m) { av.hostfamily(1) = av.hostfamily(2) = v.crindivloc(m, side_of(u())); };
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
  if (v.allmonogamy == 1) return can_self() ? dest_other_monogamous_selfing(rs)
                                            : dest_other_monogamous(rs);
  if (v.anymonogamy == 0) return dest_other_polygamous(rs);
  return dest_other_one_monogamous(rs);
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
  if (ch.movekind == 1 && v.offploid(mi) == 2 && !(ks(mi, 1) != 0 && ks(mi, 2) != 0) &&
      exists(1) && exists(2) &&
      real_integer_power(rs.sched.ratiotemprature, rs.cp.tmr) > u()) {
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
        ch.hostfamilyid(s) = ch.movekind == 1 ? position1(s, av.hostfamily(s))
                                              : position2(s, av.hostfamily(s));
    }
  }
  if (v.anyknownprntq(1) != 0 || v.anyknownprntq(2) != 0) {
    for (int4 s = 1; s <= 2; ++s) {
      const int4 K = v.indivparent(mi, s);
      if (!exists(s) || av.hostfamily(s) == av.movefamily(s) || K <= 0) continue;
      if (other_known_parent(rs, s, av.hostfamily(s), K)) return false;
    }
  }
  if (v.numsex == 1 && v.allowinbreeding == 0 && av.hostfamily(1) == av.hostfamily(2))
    return false;
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
    if (haploid && v.haplodiploid == 1 && hf(2) == mf(2) && v.smplsizedh(1) > 0)
      return 0.85 > u();
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

void split_at_locus(RunState& rs) {
  auto& v = variables;
  auto& av = annealvariables;
  auto& ch = rs.choice;
  const int4 mi = av.moveindiv;
  const int4 fs = ch.fssize;
  const int4 f = ch.movepos(1);
  int4 partner = 1;
  int2 g = 0;
  int4 locus = 0;
  findlocus(rs, ch.owncluster, ch.hostclustersize, partner, g, locus);
  ch.splitlocus = locus;
  const auto& gid = v.genotypeid;
  int4 type = 1;
  int4 a = 0;
  if (v.dominantmarker(locus) != 1) {
    const real8 x = u();
    if (x < 0.5) {
      type = 1;
    } else if (x >= 0.85) {
      type = x < 0.95 ? 4 : 5;
      a = gid(side_of(u()), g);
    } else if (g > v.maxobsnumallele) {
      type = 3;
      a = gid(side_of(u()), g);
    } else {
      type = 2;
      a = g;
    }
  }
  int2 h = 0;
  if (type >= 2 && type <= 4) {
    auto qualifies = [&](int2 gm) {
      if (gm == g || gm <= 0) return false;
      if (type == 3) return gm == a;
      return gm > v.maxobsnumallele && (gid(1, gm) == a || gid(2, gm) == a);
    };
    const int4 start = pick(fs, u());
    bool found = false;
    for (int4 t = start; t >= 1 && !found; --t) {
      const int2 gm = offspring_genotype(member1(f, t), locus);
      if (qualifies(gm)) h = gm, found = true;
    }
    for (int4 t = start + 1; t <= fs && !found; ++t) {
      const int2 gm = offspring_genotype(member1(f, t), locus);
      if (qualifies(gm)) h = gm, found = true;
    }
    if (!found) type = 1;
  }
  ch.splittype = type;
  const int4 cap = v.offploid(mi) == 1 ? pick(fs, u()) : fs;
  for (int4 t = 1; t <= fs; ++t) {
    const int4 m = member1(f, t);
    bool pass = false;
    if (m != mi) {
      const int2 gm = offspring_genotype(m, locus);
      if (type == 1)
        pass = gm == g;
      else if (type == 5)
        pass = gm > 0 && (gid(1, gm) == a || gid(2, gm) == a);
      else
        pass = gm == g || gm == h;
    }
    if (m == mi || (pass && static_cast<int4>(ch.moving.size()) <= cap))
      ch.moving.push_back(m);
    else
      ch.staying.push_back(m);
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
    const real8 lim = std::min(0.25 * (5 - 2 * v.offploid(mi) + av.rate), 0.95) /
                      (2.0 * rs.locusratio + 1.0);
    if (x <= lim && ch.typed[static_cast<std::size_t>(mi)] != 0) {
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

int2 offspring_genotype(int4 i, int4 locus) {
  const auto& v = variables;
  const int4 na = v.obsnumallele(locus);
  if (na > 2) return v.indivgtype2(locus).a(i);
  const FView<int2, 1> keep = setgetgtype.locusgtypeptr;
  setgetgtype.locusgtypeptr = v.indivgtype2(locus).a;
  int2 g = 0;
  getgtype(g, i, na);
  setgetgtype.locusgtypeptr = keep;
  return g;
}

void prepare_choice(RunState& rs) {
  const auto& v = variables;
  auto& ch = rs.choice;
  const int4 n = v.smplsize;
  ch.typed.assign(static_cast<std::size_t>(n) + 1, 0);
  auto mark_typed = [&](const FArray<int4, 1>& list) {
    if (!list.allocated()) return;
    for (int4 k = 1; k <= list(0); ++k)
      for (int4 i = 1; i <= n; ++i)
        if (ch.typed[static_cast<std::size_t>(i)] == 0 && offspring_genotype(i, list(k)) >= 1)
          ch.typed[static_cast<std::size_t>(i)] = 1;
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
  ch.famlist.reserve(static_cast<std::size_t>(n));
  const int4 nc = std::max(v.numcandidate(1), v.numcandidate(2));
  ch.candmark.assign(static_cast<std::size_t>(std::max(nc, 0)) + 1, 0);
  ch.marked.reserve(static_cast<std::size_t>(std::max(nc, 0)) + 1);
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
