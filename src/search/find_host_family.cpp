// Where the moving offspring goes inside one cluster: its destination father and mother.
#include <algorithm>
#include <cmath>

#include "core/modules.hpp"
#include "search/move_choice.hpp"
#include "search/move_choice_internal.hpp"
#include "search/search_internal.hpp"

namespace kinrad {

using namespace move_choice_parts;

namespace {

// Whether the pair (a in role 1, b in role 2) is a full-sib family of the side.
bool pair_is_family(const Side& sd, int4 a, int4 b) {
  for (int4 f = 1; f <= sd.nfam; ++f)
    if (sd.id(1, sd.parent(f, 1)) == a && sd.id(2, sd.parent(f, 2)) == b) return true;
  return false;
}

// The one-pool rules of the destination (selfing, a role taken from the other role's list,
// the mirrored pair); false: retry.
bool one_pool_rules(RunState& rs, const Side& sd, int4 mode) {
  const auto& v = variables;
  auto& av = annealvariables;
  auto& ch = rs.choice;
  auto& hf = av.hostfamily;
  const auto& mf = av.movefamily;
  const int4 mi = av.moveindiv;
  const real8 ps = rs.prbself.allocated() ? rs.prbself(mi) : 0.0;
  const int4 c1 = v.crnumfamily(1);
  auto renew = [&](int4 s) { ch.hostfamilyid(s) = sd.position(s, hf(s)); };
  auto self_on = [&](int4 c) {
    const bool ch1 = hf(1) != c, ch2 = hf(2) != c;
    hf(1) = hf(2) = c;
    if (mode == 1) {
      if (ch1) renew(1);
      if (ch2) renew(2);
    }
  };
  bool selfed = false;
  if (v.allowinbreeding == 1 && hf(1) != hf(2) && u() < ps) {
    int4 c = 0;
    if (hf(1) > c1)
      c = std::min(hf(1), hf(2));
    else if (hf(2) > c1)
      c = hf(1);
    else if (hf(1) == mf(1))
      c = hf(2);
    else if (hf(2) == mf(1))
      c = hf(1);
    else
      c = side_of(u()) == 1 ? hf(1) : hf(2);
    self_on(c);
    selfed = true;
  }
  if (mode == 1) {
    const real8 x = u();
    const bool both = hf(1) <= v.crnumfamily(1) && hf(2) <= v.crnumfamily(2);
    if (x < 0.2 && v.allowinbreeding == 1 && hf(1) != hf(2) && u() < ps) {
      if (hf(1) == mf(1) || hf(1) == mf(2))
        self_on(hf(1));
      else if (hf(2) != mf(1) && hf(2) != mf(2))
        self_on(2 - std::lround(u()) == 1 ? hf(1) : hf(2));
      else
        self_on(hf(2));
    } else if (x < 0.2) {
      const int4 n1 = av.nparent1(1), n2 = av.nparent1(2);
      auto from1 = [&] {
        return av.parentidx1(1 + static_cast<int4>(std::lround((n1 - 1) * u())));
      };
      auto from2 = [&] {
        return av.parentidx1(n1 + 1 + static_cast<int4>(std::lround((n2 - 1) * u())));
      };
      if (hf(1) > v.crnumfamily(1)) {
        hf(2) = from1();
        renew(2);
      } else if (hf(2) > v.crnumfamily(2)) {
        hf(1) = from2();
        renew(1);
      } else {
        const int4 r = side_of(u());
        if (r == 1)
          hf(1) = from2();
        else
          hf(2) = from1();
        renew(r);
      }
    } else if (x < 0.5 && both && mf(1) == mf(2)) {
      self_on(side_of(u()) == 1 ? hf(1) : hf(2));
    }
    const bool exist = hf(1) <= v.crnumfamily(1) && hf(2) <= v.crnumfamily(2);
    if (exist && hf(1) != hf(2) && v.indivparent(mi, 1) <= 0 && v.indivparent(mi, 2) <= 0 &&
        x < 0.5 && pair_is_family(sd, hf(2), hf(1))) {
      std::swap(hf(1), hf(2));
      renew(1);
      renew(2);
    }
  } else if (!selfed) {
    const bool exist = hf(1) <= v.crnumfamily(1) && hf(2) <= v.crnumfamily(2);
    if (exist && hf(1) != hf(2) && pair_is_family(sd, hf(2), hf(1))) return false;
  }
  return true;
}

// The best-candidate redirect of the changing sex (own cluster only).
void best_candidate_redirect(RunState& rs, const Side& sd, const FStatic<int4, 1, 3>& crrtpos) {
  const auto& v = variables;
  auto& av = annealvariables;
  auto& ch = rs.choice;
  const int4 mi = av.moveindiv;
  auto& hid = ch.hostfamilyid;
  if (hid(1) > sd.n[1] || hid(2) > sd.n[2]) return;
  if (hid(1) != crrtpos(2) && hid(2) != crrtpos(3)) return;
  const int4 c = hid(1) == crrtpos(2) ? 2 : 1;
  if (v.numsex == 1 && av.hostfamily(1) == av.hostfamily(2)) return;
  if (v.numcandidate(c) <= 9) return;
  const int4 nb = v.numbestcnd(mi, c);
  if (nb <= 0) return;
  const int4 base = 5 * (c - 1);
  const int4 cur = v.inferparent2(mi, c);
  const int4 other = v.inferparent2(mi, 3 - c);
  auto current = [&](int4 x) { return x == cur || (v.numsex == 1 && x == other); };
  const real8 bar = 80.0 / (80.0 + std::log(static_cast<real8>(sd.n[c])));
  int4 x = 0;
  if (nb == 1) {
    const int4 cand = v.bestcnd(mi, base + 1);
    if (current(cand) || !(u() > bar)) return;
    x = cand;
  } else {
    if (nb == 2 && v.numsex == 1) {
      const int4 b1 = v.bestcnd(mi, base + 1), b2 = v.bestcnd(mi, base + 2);
      const int4 p1 = v.inferparent2(mi, 1), p2 = v.inferparent2(mi, 2);
      if (p1 != p2 && (p1 == b1 || p1 == b2) && (p2 == b1 || p2 == b2)) return;
    }
    if (!(u() > bar)) return;
    // A list whose every slot but the current parents' is unreachable would redraw for ever:
    // after 100 redraws the destination stays.
    for (int4 tries = 0; tries <= 100 && x == 0; ++tries) {
      const real8 y = u();
      for (int4 k = 1; k <= nb; ++k) {
        const int4 cand = v.bestcnd(mi, base + k);
        if (y <= v.prbbestcnd(mi, base + k) && !current(cand)) {
          x = cand;
          break;
        }
      }
    }
    if (x == 0) return;
  }
  for (int4 f = 1; f <= sd.nfam; ++f) {
    const int4 pos = sd.parent(f, c);
    if (pos == crrtpos(c + 1)) continue;
    if (v.inferparent2(sd.member(f, 1), c) != x) continue;
    hid(c) = pos;
    av.hostfamily(c) = sd.id(c, pos);
    return;
  }
}

// True when an offspring already under the destination has a known parent that differs from
// the moving offspring's.
bool known_parent_conflict(const Side& sd, int4 mode) {
  const auto& v = variables;
  const auto& av = annealvariables;
  const int4 mi = av.moveindiv;
  const auto& hf = av.hostfamily;
  if (hf(1) > v.crnumfamily(1) || hf(2) > v.crnumfamily(2)) return false;
  const bool pool = v.numsex == 1;
  for (int4 s = 1; s <= 2; ++s) {
    const int4 K = v.indivparent(mi, s);
    if (K < 1) continue;
    for (int4 t = pool ? 1 : s; t <= (pool ? 2 : s); ++t) {
      if (v.anyknownprntq(t) == 0) continue;
      auto bad = [&](int4 m) { return v.indivparent(m, t) >= 1 && v.indivparent(m, t) != K; };
      if (mode == 1) {
        const int4 pos = sd.position(t, hf(s));
        if (pos > sd.n[t]) continue;
        const int4 j = (t - 1) * sd.n[1] + pos;
        const int4 first = av.partner1(av.locpartner1(j) + 1);
        if (!pool && v.inferparent(sd.member(first, 1), t) >= 1) continue;
        for (int4 q = 1; q <= av.numpartner1(pos, t); ++q) {
          const int4 f = av.partner1(av.locpartner1(j) + q);
          for (int4 r = 1; r <= sd.size(f); ++r)
            if (bad(sd.member(f, r))) return true;
        }
      } else {
        for (int4 f = 1; f <= sd.nfam; ++f) {
          const int4 m0 = sd.member(f, 1);
          if (v.crindivloc(m0, t) != hf(s)) continue;
          if (!pool && v.inferparent(m0, t) >= 1) break;
          for (int4 r = 1; r <= sd.size(f); ++r)
            if (bad(sd.member(f, r))) return true;
        }
      }
    }
  }
  return false;
}

}  // namespace

void findhostfamilyid(RunState& rs, int4 mode, FStatic<int4, 1, 3>& crrtpos) {
  const auto& v = variables;
  auto& av = annealvariables;
  auto& ch = rs.choice;
  auto& hf = av.hostfamily;
  auto& hid = ch.hostfamilyid;
  const int4 mi = av.moveindiv;
  const Side sd = side_of_mode(mode);
  const int4 n1 = sd.n[1], n2 = sd.n[2];
  const bool pool = v.numsex == 1;
  const bool selfing = v.numsex == v.allowinbreeding;

  // Parents fixed by known sibships that the whole cluster shares.
  int4 g[3] = {0, 0, 0};
  if (mode == 1) {
    int4 k[3] = {0, v.knownsibship(mi, 1), v.knownsibship(mi, 2)};
    for (int4 s = 1; s <= 2; ++s) {
      if (k[s] == 0 || sd.n[s] > 1) continue;
      bool all = v.sibshipdone(s) != 0;
      if (!all) {
        all = true;
        for (int4 f = 1; f <= sd.nfam && all; ++f)
          for (int4 t = 1; t <= sd.size(f) && all; ++t)
            all = v.knownsibship(sd.member(f, t), s) == k[s];
      }
      if (all) g[s] = k[s];
    }
    bool ended = false;
    for (int4 s = 1; s <= 2 && !ended; ++s) {
      if (k[s] == 0 || v.sibshipdone(s) != 0) continue;
      for (int4 f = 1; f <= sd.nfam && !ended; ++f)
        for (int4 t = 1; t <= sd.size(f) && !ended; ++t) {
          const int4 km = v.knownsibship(sd.member(f, t), s);
          const bool shares = k[s] >= 0 ? km == k[s] : km < 0;
          if (!shares) {
            k[s] = 0;
            ended = true;
          }
        }
    }
    if (k[1] != 0 && k[2] != 0) {
      const bool goes_on = selfing && (k[1] >= 0 || k[2] >= 0);
      if (!goes_on) {
        crrtpos(2) = -1;
        return;
      }
    }
  }

  int4 b[3] = {0, 0, 0};
  for (int4 s = 1; s <= 2; ++s) b[s] = mode == 1 ? crrtpos(s + 1) : sd.n[s] + 1;

  for (int4 attempt = 2; attempt <= 100; ++attempt) {
    int4 p[3] = {0, 0, 0};
    if (v.offploid(mi) == 2) {
      for (int4 s = 1; s <= 2; ++s) {
        if (v.sibshipdone(s) != 0) {
          p[s] = b[s];
        } else if (g[s] != 0) {
          p[s] = 1;
        } else if (0.1 * sd.n[s] / static_cast<real8>(n1 + n2) > u()) {
          p[s] = sd.n[s] + 1;
        } else {
          p[s] = pick(sd.n[s], u());
        }
        if (v.sibshipdone(s) == 0 && p[s] != b[s] && v.knownsibship(mi, s) != 0 && u() <= 0.125)
          p[s] = b[s];
      }
      if (mode == 1) {
        if (p[1] <= n1 && p[2] <= n2 && v.sibshipdone(1) == 0 && v.sibshipdone(2) == 0 && n1 > 3 &&
            n2 > 3) {
          if (static_cast<real8>(n1) / static_cast<real8>(n1 + n2) > u()) {
            p[2] = crrtpos(3);
            p[1] = pick(n1, u());
          } else {
            p[1] = crrtpos(2);
            p[2] = pick(n2, u());
          }
        }
        if (p[1] == crrtpos(2) && p[2] == crrtpos(3)) continue;
      }
    } else {
      p[2] = pick(n2, u());
      auto& list = ch.famlist;
      int4 m = 0;
      for (int4 f = 1; f <= sd.nfam; ++f)
        if (sd.parent(f, 2) == p[2]) list(++m) = f;
      p[1] = sd.parent(list(pick(m, u())), 1);
      if (mode == 1 && p[2] == crrtpos(3)) continue;
      if (n1 > 1) {
        bool found = false;
        for (int4 f = 1; f <= sd.nfam && !found; ++f) {
          if (sd.parent(f, 2) != p[2] || sd.parent(f, 1) <= 0) continue;
          for (int4 t = 1; t <= sd.size(f); ++t)
            if (v.offploid(sd.member(f, t)) == 1) {
              p[1] = sd.parent(f, 1);
              found = true;
              break;
            }
        }
        if (!found) {
          bool stands = false;
          for (int4 f = 1; f <= sd.nfam && !stands; ++f)
            stands = sd.parent(f, 2) == p[2] && sd.parent(f, 1) == p[1];
          if (!stands) continue;
        }
      }
    }
    if (p[1] == n1 + 1 && p[2] == n2 + 1) continue;
    for (int4 s = 1; s <= 2; ++s) {
      hid(s) = p[s];
      hf(s) = p[s] <= sd.n[s] ? sd.id(s, p[s]) : v.crnumfamily(s) + 1;
    }
    if (mode == 1 && hf(1) == av.movefamily(1) && hf(2) == av.movefamily(2)) continue;
    if (pool && !one_pool_rules(rs, sd, mode)) continue;
    if (mode == 1) best_candidate_redirect(rs, sd, crrtpos);
    if (pool && hf(1) != hf(2)) {
      const int4 k1 = v.knownsibship(mi, 1), k2 = v.knownsibship(mi, 2);
      const real8 chance = (k1 != 0) != (k2 != 0) ? 0.5 : 0.1;
      if (u() < chance) {
        if (mode == 1 && u() < 0.2) {
          hf(1) = av.movefamily(2);
          hf(2) = av.movefamily(1);
        } else {
          std::swap(hf(1), hf(2));
        }
        hid(1) = sd.position(1, hf(1));
        hid(2) = sd.position(2, hf(2));
      }
    }
    if (known_parent_conflict(sd, mode)) continue;
    return;
  }
  crrtpos(2) = -1;
}

}  // namespace kinrad
