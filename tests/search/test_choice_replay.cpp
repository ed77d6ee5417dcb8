// An independent replay of the move choice: a plain re-implementation of its decisions and
// draw order, written from the rules of the choice and of the destination search. It reads the
// configuration through plain loops over crindivloc (members ascending, parents and families
// numbered by first appearance, as the cluster tables number them), never through the
// search's tables or routines, and draws from a copy of the search stream. 10^4 proposals on
// three fixtures are compared field by field; a hash of the replayed sequence is frozen.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "choice_fixture.hpp"

namespace kinrad::test {
namespace {

using testing_support::Ran2State;

using V = std::vector<int4>;

// --- The plain picture of one cluster -----------------------------------------------------

struct View {
  V mem;
  V par[3];                              // ids by position (index 0 = position 1)
  std::vector<std::array<int4, 3>> fam;  // per family: position of parent 1, of parent 2
  std::vector<V> fm;                     // members per family
  int4 n(int4 s) const { return static_cast<int4>(par[s].size()); }
  int4 nf() const { return static_cast<int4>(fam.size()); }
  int4 id(int4 s, int4 p) const { return par[s][static_cast<std::size_t>(p - 1)]; }
  int4 pos(int4 s, int4 x) const {
    for (int4 k = 1; k <= n(s); ++k)
      if (id(s, k) == x) return k;
    return n(s) + 1;
  }
  int4 famof(int4 i) const {
    for (int4 f = 0; f < nf(); ++f)
      for (int4 m : fm[static_cast<std::size_t>(f)])
        if (m == i) return f + 1;
    return 0;
  }
  const V& members(int4 f) const { return fm[static_cast<std::size_t>(f - 1)]; }
  int4 fpar(int4 f, int4 s) const {
    return fam[static_cast<std::size_t>(f - 1)][static_cast<std::size_t>(s)];
  }
  int4 fid(int4 f, int4 s) const { return id(s, fpar(f, s)); }
};

View view(int4 c) {
  const auto& v = variables;
  View w;
  for (int4 i = 1; i <= v.smplsize; ++i)
    if (v.crindivloc(i, 3) == c) w.mem.push_back(i);
  for (int4 s = 1; s <= 2; ++s)
    for (int4 i : w.mem)
      if (std::find(w.par[s].begin(), w.par[s].end(), v.crindivloc(i, s)) == w.par[s].end())
        w.par[s].push_back(v.crindivloc(i, s));
  if (w.n(1) + w.n(2) < 3) {
    w.fam.push_back({0, 1, 1});
    w.fm.push_back(w.mem);
    return w;
  }
  for (int4 i : w.mem) {
    const int4 a = w.pos(1, v.crindivloc(i, 1)), b = w.pos(2, v.crindivloc(i, 2));
    int4 f = 0;
    for (int4 k = 1; k <= w.nf(); ++k)
      if (w.fpar(k, 1) == a && w.fpar(k, 2) == b) f = k;
    if (f == 0) {
      w.fam.push_back({0, a, b});
      w.fm.emplace_back();
      f = w.nf();
    }
    w.fm[static_cast<std::size_t>(f - 1)].push_back(i);
  }
  return w;
}

// --- The replay ---------------------------------------------------------------------------

int8 draws = 0;
real8 U() {
  ++draws;
  return ran2();
}
int4 pick(int4 n, real8 x) {
  return static_cast<int4>(n * x + 1.0);
}
int4 lr(real8 x) {
  return static_cast<int4>(std::lround(x));
}

struct Hand {
  bool ok = false;
  int4 mt = 0, side = 0, mi = 0, kind = 0;
  int4 hf[4] = {0, 0, 0, 0}, hid[3] = {0, 0, 0};
  int4 fssize = 0, hs[3] = {0, 0, 0}, own = 0, host = 0, hsj = 0, kss = 0, cc[3] = {0, 0, 0};
  int4 split = 0, moveset = 0;
  V moving, staying;
  bool stopped_here = false;  // a branch outside the replay's scope
};

struct Replay {
  const RunState& rs;
  std::vector<int4>& ks;  // knownsibship (i, s) at 2 (i - 1) + s - 1
  Hand h;
  View own, dst;
  int4 mp[4] = {0, 0, 0, 0};
  int4 K(int4 i, int4 s) const { return ks[static_cast<std::size_t>(2 * (i - 1) + s - 1)]; }
  int4& Kr(int4 i, int4 s) { return ks[static_cast<std::size_t>(2 * (i - 1) + s - 1)]; }
  bool selfing() const { return variables.numsex == variables.allowinbreeding; }
  bool known(int4 i) const { return K(i, 1) != 0 || K(i, 2) != 0; }
  real8 cool(int4 e) const {
    real8 r = 1.0;
    for (int4 k = 0; k < e; ++k) r *= rs.sched.ratiotemprature;
    return r;
  }
  int2 geno(int4 i, int4 l) const { return offspring_genotype(i, l); }
  int4 al(int4 k, int2 g) const { return variables.genotypeid(k, g); }
  bool carries(int2 g, int4 a) const { return g > 0 && (al(1, g) == a || al(2, g) == a); }

  // The destination search of one cluster view (mode 1 own, 2 other).
  bool search(int4 mode, const View& w) {
    const auto& v = variables;
    const int4 mi = h.mi;
    const int4 n1 = w.n(1), n2 = w.n(2);
    int4 g[3] = {0, 0, 0};
    int4 cur[3] = {0, mp[2], mp[3]};
    if (mode == 1) {
      int4 k[3] = {0, K(mi, 1), K(mi, 2)};
      for (int4 s = 1; s <= 2; ++s) {
        if (k[s] == 0 || w.n(s) > 1) continue;
        bool all = v.sibshipdone(s) != 0;
        if (!all) {
          all = true;
          for (int4 f = 1; f <= w.nf(); ++f)
            for (int4 m : w.members(f)) all = all && K(m, s) == k[s];
        }
        if (all) g[s] = k[s];
      }
      bool end = false;
      for (int4 s = 1; s <= 2 && !end; ++s) {
        if (k[s] == 0 || v.sibshipdone(s) != 0) continue;
        for (int4 f = 1; f <= w.nf() && !end; ++f)
          for (int4 m : w.members(f)) {
            if (end) break;
            const bool sh = k[s] >= 0 ? K(m, s) == k[s] : K(m, s) < 0;
            if (!sh) k[s] = 0, end = true;
          }
      }
      if (k[1] != 0 && k[2] != 0 && !(selfing() && (k[1] >= 0 || k[2] >= 0))) return false;
    }
    const int4 b[3] = {0, mode == 1 ? cur[1] : n1 + 1, mode == 1 ? cur[2] : n2 + 1};
    const int4 c1 = v.crnumfamily(1), c2 = v.crnumfamily(2);
    for (int4 att = 2; att <= 100; ++att) {
      int4 p[3] = {0, 0, 0};
      if (v.offploid(mi) == 2) {
        for (int4 s = 1; s <= 2; ++s) {
          if (v.sibshipdone(s) != 0) {
            p[s] = b[s];
          } else if (g[s] != 0) {
            p[s] = 1;
          } else {
            const real8 x = U();
            p[s] = 0.1 * w.n(s) / static_cast<real8>(n1 + n2) > x ? w.n(s) + 1 : pick(w.n(s), U());
          }
          if (v.sibshipdone(s) == 0 && p[s] != b[s] && K(mi, s) != 0) {
            if (U() <= 0.125) p[s] = b[s];
          }
        }
        if (mode == 1) {
          if (p[1] <= n1 && p[2] <= n2 && v.sibshipdone(1) == 0 && v.sibshipdone(2) == 0 &&
              n1 > 3 && n2 > 3) {
            if (n1 / static_cast<real8>(n1 + n2) > U()) {
              p[2] = cur[2];
              p[1] = pick(n1, U());
            } else {
              p[1] = cur[1];
              p[2] = pick(n2, U());
            }
          }
          if (p[1] == cur[1] && p[2] == cur[2]) continue;
        }
      } else {
        h.stopped_here = true;  // haploid offspring: not in the replay's fixtures
        return false;
      }
      if (p[1] == n1 + 1 && p[2] == n2 + 1) continue;
      int4 hf[3] = {0, p[1] <= n1 ? w.id(1, p[1]) : c1 + 1, p[2] <= n2 ? w.id(2, p[2]) : c2 + 1};
      int4 hid[3] = {0, p[1], p[2]};
      const int4 mf1 = v.crindivloc(mi, 1), mf2 = v.crindivloc(mi, 2);
      if (mode == 1 && hf[1] == mf1 && hf[2] == mf2) continue;
      auto redo = [&](int4 s) { hid[s] = w.pos(s, hf[s]); };
      bool retry = false;
      if (v.numsex == 1) {
        const real8 ps = rs.prbself(mi);
        bool selfed = false;
        auto self_on = [&](int4 c) {
          const bool a = hf[1] != c, bb = hf[2] != c;
          hf[1] = hf[2] = c;
          if (mode == 1) {
            if (a) redo(1);
            if (bb) redo(2);
          }
        };
        if (v.allowinbreeding == 1 && hf[1] != hf[2]) {
          if (U() < ps) {
            int4 c = 0;
            if (hf[1] > c1)
              c = std::min(hf[1], hf[2]);
            else if (hf[2] > c1)
              c = hf[1];
            else if (hf[1] == mf1)
              c = hf[2];
            else if (hf[2] == mf1)
              c = hf[1];
            else
              c = lr(U()) == 0 ? hf[1] : hf[2];
            self_on(c);
            selfed = true;
          }
        }
        if (mode == 1) {
          const real8 x = U();
          bool first = false;
          if (x < 0.2 && v.allowinbreeding == 1 && hf[1] != hf[2]) first = U() < ps;
          if (first) {
            if (hf[1] == mf1 || hf[1] == mf2)
              self_on(hf[1]);
            else if (hf[2] != mf1 && hf[2] != mf2)
              self_on(2 - lr(U()) == 1 ? hf[1] : hf[2]);
            else
              self_on(hf[2]);
          } else if (x < 0.2) {
            const int4 a1 = own.n(1), a2 = own.n(2);
            if (hf[1] > c1) {
              hf[2] = own.id(1, 1 + lr((a1 - 1) * U()));
              redo(2);
            } else if (hf[2] > c2) {
              hf[1] = own.id(2, 1 + lr((a2 - 1) * U()));
              redo(1);
            } else {
              const int4 r = lr(U()) + 1;
              if (r == 1)
                hf[1] = own.id(2, 1 + lr((a2 - 1) * U()));
              else
                hf[2] = own.id(1, 1 + lr((a1 - 1) * U()));
              redo(r);
            }
          } else if (x < 0.5 && hf[1] <= c1 && hf[2] <= c2 && mf1 == mf2) {
            self_on(lr(U()) == 0 ? hf[1] : hf[2]);
          }
          if (hf[1] <= c1 && hf[2] <= c2 && hf[1] != hf[2] && v.indivparent(mi, 1) <= 0 &&
              v.indivparent(mi, 2) <= 0 && x < 0.5) {
            bool mirror = false;
            for (int4 f = 1; f <= w.nf(); ++f)
              mirror |= w.fid(f, 1) == hf[2] && w.fid(f, 2) == hf[1];
            if (mirror) {
              std::swap(hf[1], hf[2]);
              redo(1);
              redo(2);
            }
          }
        } else if (!selfed && hf[1] <= c1 && hf[2] <= c2 && hf[1] != hf[2]) {
          for (int4 f = 1; f <= w.nf(); ++f) retry |= w.fid(f, 1) == hf[2] && w.fid(f, 2) == hf[1];
        }
      }
      if (retry) continue;
      if (mode == 1 && hid[1] <= n1 && hid[2] <= n2 && (hid[1] == cur[1] || hid[2] == cur[2]) &&
          !(v.numsex == 1 && hf[1] == hf[2])) {
        const int4 c = hid[1] == cur[1] ? 2 : 1;
        if (v.numcandidate(c) > 9) {
          const int4 nb = v.numbestcnd(mi, c);
          const int4 base = 5 * (c - 1);
          const int4 cp = v.inferparent2(mi, c), op = v.inferparent2(mi, 3 - c);
          auto curp = [&](int4 x) { return x == cp || (v.numsex == 1 && x == op); };
          const real8 bar = 80.0 / (80.0 + std::log(static_cast<real8>(w.n(c))));
          int4 x = 0;
          if (nb == 1) {
            if (!curp(v.bestcnd(mi, base + 1)) && U() > bar) x = v.bestcnd(mi, base + 1);
          } else if (nb >= 2) {
            bool skip = false;
            if (nb == 2 && v.numsex == 1) {
              const int4 q1 = v.inferparent2(mi, 1), q2 = v.inferparent2(mi, 2);
              const int4 b1 = v.bestcnd(mi, base + 1), b2 = v.bestcnd(mi, base + 2);
              skip = q1 != q2 && (q1 == b1 || q1 == b2) && (q2 == b1 || q2 == b2);
            }
            if (!skip && U() > bar) {
              for (int4 t = 0; t <= 100 && x == 0; ++t) {
                const real8 y = U();
                for (int4 k = 1; k <= nb && x == 0; ++k)
                  if (y <= v.prbbestcnd(mi, base + k) && !curp(v.bestcnd(mi, base + k)))
                    x = v.bestcnd(mi, base + k);
              }
            }
          }
          if (x != 0)
            for (int4 f = 1; f <= w.nf(); ++f)
              if (w.fpar(f, c) != cur[c] && v.inferparent2(w.members(f)[0], c) == x) {
                hid[c] = w.fpar(f, c);
                hf[c] = w.id(c, hid[c]);
                break;
              }
        }
      }
      if (v.numsex == 1 && hf[1] != hf[2]) {
        const bool one = (K(mi, 1) != 0) != (K(mi, 2) != 0);
        if (U() < (one ? 0.5 : 0.1)) {
          if (mode == 1 && U() < 0.2) {
            hf[1] = mf2;
            hf[2] = mf1;
          } else {
            std::swap(hf[1], hf[2]);
          }
          redo(1);
          redo(2);
        }
      }
      // Known parents: the replay's fixtures have none.
      h.hf[1] = hf[1];
      h.hf[2] = hf[2];
      h.hid[1] = hid[1];
      h.hid[2] = hid[2];
      return true;
    }
    return false;
  }

  bool choose() {
    const auto& v = variables;
    const auto& av = annealvariables;
    const int4 n = v.smplsize;
    const real8 rate = av.rate;
    const real8 x = rs.sched.fammovethreshold;
    h.mt = 1;
    if (x < 1.0 && U() >= x + 0.5 * rate * (1.0 - x)) h.mt = 2;
    if (h.mt == 2) {
      const real8 sp = rs.sched.sideprob;
      h.side = sp < 1e-300 ? 2 : (sp > 1.0 ? 1 : (sp > U() ? 1 : 2));
    }
    for (;;) {
      const int4 i = pick(n, U());
      if (std::sqrt(rs.cp.moveweight(i, 1) / static_cast<real8>(rs.cp.moveweight(i, 2))) > U()) {
        h.mi = i;
        break;
      }
    }
    const int4 mi = h.mi;
    const int4 mf1 = v.crindivloc(mi, 1), mf2 = v.crindivloc(mi, 2), oc = v.crindivloc(mi, 3);
    if (h.mt == 2 && v.indivparent(mi, h.side) > 0) return false;
    own = view(oc);
    const int4 myf = own.famof(mi);
    if (own.nf() == 1) {
      mp[1] = mp[2] = mp[3] = 1;
    } else {
      mp[1] = myf;
      mp[2] = own.fpar(myf, 1);
      mp[3] = own.fpar(myf, 2);
    }
    const V& fsm = own.members(mp[1]);
    h.fssize = static_cast<int4>(fsm.size());
    for (int4 s = 1; s <= 2; ++s) {
      if (own.nf() == 1 || own.n(s) == 1) {
        h.hs[s] = static_cast<int4>(own.mem.size());
        if (own.nf() == 1) h.hs[s] = h.fssize;
        continue;
      }
      int4 sum = 0;
      for (int4 f = 1; f <= own.nf(); ++f)
        if (own.fpar(f, s) == mp[s + 1]) sum += static_cast<int4>(own.members(f).size());
      h.hs[s] = sum;
    }
    h.own = static_cast<int4>(own.mem.size());
    // The previous split is undone here.
    for (int4 s = 1; s <= 2; ++s)
      for (int4 t = 1; t <= v.setknownsibindiv(0, s) && rs.splitside > 0; ++t)
        Kr(v.setknownsibindiv(t, s), s) = 0;
    if (h.mt == 2) {
      h.ok = true;
      return true;
    }
    // Destination cluster.
    const int4 C = v.crnumfamily(3);
    real8 u = U();
    int4 dest = 0;
    if (v.allmonogamy == 0 && v.offploid(mi) == 2) {
      if (selfing() && v.inferparent(mi, 1) > 0 && v.inferparent(mi, 1) == v.inferparent(mi, 2))
        u *= 2.0;
      if ((1.0 - 0.95 / std::sqrt(static_cast<real8>(own.nf()))) * rs.cp.withinfactor > u) {
        dest = oc;
      } else {
        const int4 k = lr(std::max(0.1 * C, 2.0) / h.fssize);
        dest = std::min(C + 1, pick(C + k + 1, U()));
      }
    } else {
      dest = v.fulllikelihoodmethodq == 0
                 ? std::min(C, lr(u * (1.0 + rate) * C)) + 1
                 : std::min(C + 1,
                            static_cast<int4>(u * (C * (3 - v.offploid(mi) + rate) + 1.0) + 1.0));
      if (v.allmonogamy == 1 && !selfing() && dest == oc) return false;
    }
    int4 csize = 0;
    for (int4 i = 1; i <= n; ++i) csize += v.crindivloc(i, 3) == dest;
    h.kind = dest == oc ? 1 : (dest > C ? 3 : 2);
    if (h.kind == 2 && h.own > 100 * csize) return false;
    h.hf[3] = dest;
    // Temporary split.
    if (h.kind == 1 && !known(mi) && h.fssize < h.hs[1] && h.fssize < h.hs[2]) {
      bool any = false;
      for (int4 m : fsm) any |= known(m);
      const real8 y = any ? 2.0 : U();
      const real8 base = v.numsex == 2 ? static_cast<real8>(0.05f) : static_cast<real8>(0.2f);
      if ((base + 0.5 * rate) * (static_cast<real8>(1.1f) - rs.knownsibfrac) > y) {
        const int4 side = lr(U()) + 1;
        h.split = side;
        const real8 z = U();
        int4 type = 0, a = 0, locus = 0;
        int2 g = 0;
        if (0.95 - rs.locusratio > z && typed(mi)) {
          int4 partner = 0;
          locus_of(0, partner, g, locus);
          if (v.dominantmarker(locus) == 1 || z < 0.25)
            type = 1;
          else if (z >= 0.75)
            type = 3, a = al(lr(U()) + 1, g);
          else
            type = 2;
        }
        int2 hh = 0;
        auto sweep = [&](int4 s, int4 pos) {
          for (int4 f = 1; f <= own.nf(); ++f) {
            if (own.fpar(f, s) != pos) continue;
            for (int4 m : own.members(f)) {
              if (K(m, s) != 0) continue;
              bool pass = m == mi || type == 0;
              if (!pass) {
                const int2 gm = geno(m, locus);
                if (type == 1)
                  pass = gm == g;
                else if (type == 3)
                  pass = carries(gm, a);
                else if (gm == g)
                  pass = true;
                else if (gm > 0 && hh == 0 && (carries(gm, al(1, g)) || carries(gm, al(2, g))))
                  pass = true, hh = gm;
                else
                  pass = hh != 0 && gm == hh;
              }
              if (pass) {
                Kr(m, s) = tempsibid();
                marks.push_back({m, s});
              }
            }
          }
        };
        sweep(side, mp[side + 1]);
        if (v.numsex == 1) {
          const int4 other = 3 - side;
          const int4 p = own.pos(other, side == 1 ? mf1 : mf2);
          if (p <= own.n(other)) sweep(other, p);
        }
      }
    }
    // Known sibship.
    const int4 k1 = K(mi, 1), k2 = K(mi, 2);
    h.kss = (k1 == 0 && k2 == 0) ? 0 : (k2 == 0 ? 1 : (k1 == 0 ? 2 : lr(U() + 1.0)));
    for (int4 s = 1; s <= 2; ++s) {
      const int4 kq = K(mi, s);
      if (kq == 0) continue;
      const bool count = h.kind == 1 ? (!selfing() && v.monogamy(s) == 1)
                                     : (h.kind == 2 ? v.monogamy(s) == 1 : h.own <= h.fssize);
      if (!count) continue;
      if (rs.wholesibshipsex == s) {
        h.cc[s] = h.fssize;
      } else if (h.hs[s] != h.fssize) {
        for (int4 m : fsm) h.cc[s] += K(m, s) == kq;
      } else {
        h.cc[s] = v.knownsibshipsize(mi, s);
      }
    }
    const int4 c = h.own;
    if (h.kind == 1 && !selfing() &&
        ((v.monogamy(1) == 1 && c == h.cc[1]) || (v.monogamy(2) == 1 && c == h.cc[2]) || c == 1))
      return false;
    if (h.kind == 3 && (c == 1 || c == h.cc[1] || c == h.cc[2])) return false;
    if (h.kind == 2) {
      int4 s = 0;
      if (v.monogamy(2) == 1 && h.cc[1] > 0 && k1 < 0)
        s = 1;
      else if (v.monogamy(1) == 1 && h.cc[2] > 0 && k2 < 0)
        s = 2;
      if (s > 0)
        for (int4 i = 1; i <= n; ++i)
          if (v.crindivloc(i, 3) == dest && v.indivparent(i, s) > 0) return false;
    }
    if (h.kind == 2) {
      dst = view(dest);
      h.host = csize;
    }
    // Destination family.
    const int4 c1 = v.crnumfamily(1), c2 = v.crnumfamily(2);
    if (h.kind == 3) {
      if (selfing()) {
        if (rs.prbself(mi) > U())
          h.hf[1] = h.hf[2] = c1 + 1;
        else
          h.hf[1] = c1 + 1, h.hf[2] = c2 + 2;
      } else {
        h.hf[1] = c1 + 1;
        h.hf[2] = c2 + 3 - v.numsex;
      }
      h.hid[1] = h.hid[2] = 1;
    } else if (h.kind == 1 && own.nf() == 1 && selfing() && v.anymonogamy == 0) {
      h.hid[1] = h.hid[2] = 1;
      if (mf1 == mf2) {
        const int4 k = lr(U()) + 1;
        h.hf[k] = k == 1 ? mf1 : mf2;
        h.hf[3 - k] = c1 + 1;
      } else if (h.fssize == 1) {
        const int4 k = lr(U()) + 1;
        h.hf[1] = h.hf[2] = k == 1 ? mf1 : mf2;
      } else {
        const real8 y = U();
        const int4 k = lr(U()) + 1;
        const int4 pk = k == 1 ? mf1 : mf2;
        if (y < 0.5)
          h.hf[1] = h.hf[2] = pk;
        else
          h.hf[k] = pk, h.hf[3 - k] = c1 + 1;
      }
    } else if (h.kind == 1 && v.anymonogamy == 0) {
      if (v.offploid(mi) == 1) return h.stopped_here = true, false;
      if (!search(1, own)) return false;
      if (h.hf[1] == mf1 && h.hf[2] == mf2) return false;
      if (v.haplodiploid == 1) return h.stopped_here = true, false;
    } else if (h.kind == 2 && v.allmonogamy == 1 && !selfing()) {
      const int4 m = dst.mem[0];
      h.hf[1] = v.crindivloc(m, 1);
      h.hf[2] = v.crindivloc(m, 2);
      h.hid[1] = h.hid[2] = 1;
    } else if (h.kind == 2 && v.anymonogamy == 0) {
      if (h.own + h.host > 2) {
        real8 p =
            std::max(0.5 / (h.own + 1) + 0.5 / (h.host + 1), 0.05 * (1.0 + cool(rs.cp.tmr - 1)));
        if (h.kss > 0) p *= 0.5;
        real8 y = U();
        if (selfing() && mf1 != mf2) {
          int4 sf = 0;
          for (int4 f = 1; f <= dst.nf(); ++f) sf += dst.fid(f, 1) == dst.fid(f, 2);
          y /= 1 + sf;
        }
        h.hsj = p * (1.0 - 0.25 * cool(rs.cp.tmr - 1)) > y;
        if (v.haplodiploid == 1) return h.stopped_here = true, false;
      }
      if (h.hsj == 0) {
        if (v.offploid(mi) == 1) return h.stopped_here = true, false;
        if (!search(2, dst)) return false;
      } else {
        int4 t = 0;
        if (v.sibshipdone(1) != 0) {
          t = 2;
        } else if (v.sibshipdone(2) != 0 || v.offploid(mi) == 1) {
          t = 1;
        } else {
          const int4 a1 = std::max(v.inferparent(mi, 1), v.indivparent(mi, 1));
          const int4 a2 = std::max(v.inferparent(mi, 2), v.indivparent(mi, 2));
          const real8 y = U();
          if ((a1 > 0) != (a2 > 0) && y < 0.9) {
            t = a1 > 0 ? 2 : 1;
          } else {
            const real8 r =
                static_cast<real8>(h.hs[2] + dst.n(1)) / (dst.n(1) + dst.n(2) + h.hs[1] + h.hs[2]);
            t = r <= U() ? 2 : 1;
          }
        }
        h.hf[3 - t] = t == 2 ? mf1 : mf2;
        h.hid[3 - t] = dst.n(3 - t) + 1;
        int4 lst = t;
        if (v.numsex == 1 && U() < 0.5) lst = 3 - t;
        const int4 nn = dst.n(lst);
        const int4 p = nn < 2 ? 1 : pick(nn, U());
        h.hid[t] = p;
        h.hf[t] = dst.id(lst, p);
      }
    } else if (h.kind == 1 && v.allmonogamy == 1 && !selfing()) {
      // Both sexes monogamous: side k = 1 drawn, side 2 kept.
      const int4 k = 2 - v.monogamy(1);
      h.hf[3 - k] = k == 1 ? mf2 : mf1;
      h.hid[3 - k] = 1;
      const int4 nk = own.n(k);
      for (;;) {
        const int4 p = std::min(static_cast<int4>(U() * nk * 1.5 + 1.0), nk + 1);
        if (p == mp[k + 1]) continue;
        h.hid[k] = p;
        if (p > nk) {
          h.hf[k] = k == 1 ? c1 + 1 : c2 + 1;
          break;
        }
        bool neg = false;
        if (K(mi, k) < 0)
          for (int4 m : own.members(p)) neg |= K(m, k) < 0;
        if (neg) continue;
        h.hf[k] = own.id(k, p);
        break;
      }
    } else {
      h.stopped_here = true;
      return false;
    }
    // Checks.
    auto exists = [&](int4 s) { return h.hf[s] <= (s == 1 ? c1 : c2); };
    if (h.kind == 1 && v.offploid(mi) == 2 && !(K(mi, 1) != 0 && K(mi, 2) != 0) && exists(1) &&
        exists(2) && cool(rs.cp.tmr) > U()) {
      int4 s = 0;
      if (v.monogamy(1) == 1)
        s = 1;
      else if (v.monogamy(2) == 1 || K(mi, 1) != 0)
        s = 2;
      else if (K(mi, 2) != 0)
        s = 1;
      else
        s = lr(U()) + 1;
      h.hf[s] = (s == 1 ? c1 : c2) + 1;
      h.hid[s] = own.n(s) + 1;
    }
    if (h.kind == 1 && rs.wholesibshipsex > 0 &&
        h.hf[rs.wholesibshipsex] != (rs.wholesibshipsex == 1 ? mf1 : mf2))
      return false;
    if (v.numsex == 1 && h.hf[1] != h.hf[2] && !known(mi) && exists(1) && exists(2)) {
      const int4 a = h.hf[1], bb = h.hf[2];
      bool rev = false;
      if (h.kind == 1) {
        int4 rf = 0;
        for (int4 f = 1; f <= own.nf() && rf == 0; ++f)
          if (own.fid(f, 1) == bb && own.fid(f, 2) == a) rf = f;
        if (rf > 0 && !known(own.members(rf)[0])) rev = U() <= 0.5;
      } else if (h.kind == 2) {
        if (U() > 0.5)
          for (int4 f = 1; f <= dst.nf(); ++f) rev |= dst.fid(f, 1) == bb && dst.fid(f, 2) == a;
      }
      if (rev) {
        if (bb == mf1 && a == mf2) return false;
        h.hf[1] = bb;
        h.hf[2] = a;
        const View& w = h.kind == 1 ? own : dst;
        h.hid[1] = w.pos(1, bb);
        h.hid[2] = w.pos(2, a);
      }
    }
    if (v.numsex == 1 && v.allowinbreeding == 0 && h.hf[1] == h.hf[2]) return false;
    // Who moves.
    const int4 fs = h.fssize;
    auto alone = [&] {
      for (int4 m : fsm) (m == mi ? h.moving : h.staying).push_back(m);
    };
    if (h.hsj == 1 || fs == 1) {
      h.moveset = 1;
      alone();
    } else {
      bool flag = false;
      auto rule_d = [&] {
        int4 a = 0;
        for (int4 s = 1; s <= 2 && a == 0; ++s) {
          if (v.numcandidate(s) <= 0) continue;
          const int4 last = v.numknownprnt(s) == 0 ? 1 : fs;
          for (int4 t = 0; t < last; ++t)
            a |= v.inferparent(fsm[static_cast<std::size_t>(t)], s) > 0;
        }
        const real8 d = selfing() && h.hf[1] == h.hf[2] ? 4.0 : 2.0;
        return (rate / fs + 0.1 * a + (dest == oc ? 0.2 : 0.1)) / d > U();
      };
      if ((h.hf[1] == mf1 && !exists(2)) || (h.hf[2] == mf2 && !exists(1))) {
        if (h.kind == 1) {
          int4 nn = 0;
          for (int4 s = 1; s <= 2; ++s) nn += v.inferparent2(mi, s) > 0;
          flag = (0.25 * nn + 0.25) / fs > U();
        } else {
          flag = rule_d();
        }
      } else if (h.kind == 3 && h.own == fs) {
        flag = false;
      } else if (h.kind == 1 && (h.hf[1] == mf1 || h.hf[2] == mf2) && exists(1) && exists(2)) {
        flag = 1.0 / fs > U();
      } else {
        flag = rule_d();
      }
      if (flag) {
        h.moveset = 2;
        h.moving = fsm;
      } else if (known(mi)) {
        h.moveset = 3;
        alone();
      } else {
        const real8 y = U();
        const real8 lim =
            std::min(0.25 * (5 - 2 * v.offploid(mi) + rate), 0.95) / (2.0 * rs.locusratio + 1.0);
        if (y <= lim && typed(mi)) {
          h.moveset = 4;
          int4 partner = 1, locus = 0;
          int2 g = 0;
          locus_of(1, partner, g, locus);
          int4 type = 1, a = 0;
          if (v.dominantmarker(locus) != 1) {
            const real8 z = U();
            if (z < 0.5)
              type = 1;
            else if (z >= 0.85)
              type = z < 0.95 ? 4 : 5, a = al(lr(U()) + 1, g);
            else if (g > v.maxobsnumallele)
              type = 3, a = al(lr(U()) + 1, g);
            else
              type = 2, a = g;
          }
          int2 hh = 0;
          if (type >= 2 && type <= 4) {
            const int4 st = pick(fs, U());
            V order;
            for (int4 t = st; t >= 1; --t) order.push_back(t);
            for (int4 t = st + 1; t <= fs; ++t) order.push_back(t);
            for (int4 t : order) {
              const int2 gm = geno(fsm[static_cast<std::size_t>(t - 1)], locus);
              if (gm == g || gm <= 0) continue;
              const bool q = type == 3 ? gm == a : (gm > v.maxobsnumallele && carries(gm, a));
              if (q) {
                hh = gm;
                break;
              }
            }
            if (hh == 0) type = 1;
          }
          const int4 cap = v.offploid(mi) == 1 ? pick(fs, U()) : fs;
          for (int4 m : fsm) {
            const int2 gm = geno(m, locus);
            const bool pass =
                type == 1 ? gm == g : (type == 5 ? carries(gm, a) : (gm == g || gm == hh));
            if (m == mi || (pass && static_cast<int4>(h.moving.size()) <= cap))
              h.moving.push_back(m);
            else
              h.staying.push_back(m);
          }
        } else {
          h.moveset = 1;
          alone();
        }
      }
    }
    h.ok = true;
    return true;
  }

  std::vector<std::pair<int4, int4>> marks;
  int4 tempsibid() const { return rs.choice.tempsibid; }
  bool typed(int4 i) const {
    const auto& v = variables;
    for (int4 l = 1; l <= v.numloci; ++l)
      if (v.obsnumallele(l) >= 2 && geno(i, l) >= 1) return true;
    return false;
  }
  void locus_of(int4 want, int4& partner, int2& g, int4& locus) {
    const auto& v = variables;
    const int4 nd = v.locusdom(0);
    const real8 dp = nd / static_cast<real8>(2 * (v.numloci23 - nd) + nd);
    int4 mate = 0;
    if (want == 1 && h.hf[1] <= v.crnumfamily(1) && h.hf[2] <= v.crnumfamily(2)) {
      const View* w = h.hf[3] != v.crindivloc(h.mi, 3) ? (h.host >= 1 ? &dst : nullptr) : &own;
      if (w != nullptr)
        for (int4 f = 1; f <= w->nf(); ++f)
          if (w->fid(f, 1) == h.hf[1] && w->fid(f, 2) == h.hf[2]) {
            const V& m = w->members(f);
            mate = m.size() == 1
                       ? m[0]
                       : m[static_cast<std::size_t>(pick(static_cast<int4>(m.size()), U()) - 1)];
            break;
          }
    }
    partner = mate;
    const int4 n2 = v.locus2(0);
    for (;;) {
      const int4 l = pick(v.numloci23, U());
      bool dom = false;
      if (l > n2) {
        locus = v.locus3(l - n2);
      } else {
        locus = v.locus2(l);
        dom = v.dominantmarker(locus) == 1;
        if (dom && dp < 0.9999 && !(U() <= dp)) continue;
      }
      g = geno(h.mi, locus);
      if (g < 1) continue;
      if (mate == 0) return;
      const int2 g2 = geno(mate, locus);
      if (g2 == g) return;
      const real8 z = U();
      if (dom) {
        if (z < 0.1) return;
        continue;
      }
      const bool share = g2 > 0 && (carries(g2, al(1, g)) || carries(g2, al(2, g)));
      if (z < (share ? 0.5 : 0.25)) return;
    }
  }
};

std::uint64_t mix(std::uint64_t h, std::int64_t x) {
  h ^= static_cast<std::uint64_t>(x) + 0x9e3779b97f4a7c15ull + (h << 6) + (h >> 2);
  return h;
}

struct Fixture {
  const char* name;
  std::uint64_t hash;
};

// Runs the replay and the choice side by side; returns the hash of the replayed hand-overs.
void run(ChoiceFixture& f, int4 proposals, std::uint64_t& hash) {
  auto& v = variables;
  auto& av = annealvariables;
  const int4 n = v.smplsize;
  prepare_choice(f.rs);
  hash = 1469598103934665603ull;
  int4 compared = 0, outside = 0;
  int4 seen[10] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  for (int4 k = 0; k < proposals; ++k) {
    SCOPED_TRACE("proposal " + std::to_string(k));
    std::vector<int4> ks(static_cast<std::size_t>(2 * n));
    for (int4 i = 1; i <= n; ++i)
      for (int4 s = 1; s <= 2; ++s)
        ks[static_cast<std::size_t>(2 * (i - 1) + s - 1)] = v.knownsibship(i, s);
    const Ran2State before = Ran2State::save();
    Replay r{f.rs, ks, {}, {}, {}, {}, {}};
    draws = 0;
    const bool rok = r.choose();
    const Ran2State after = Ran2State::save();
    before.restore();
    const bool ok = choose_move(f.rs);
    if (r.h.stopped_here) {
      ++outside;
      // Outside the replay's scope: the stream goes on from the choice's state.
      continue;
    }
    ++compared;
    ASSERT_TRUE(after.is_current()) << "draw count differs (replay " << draws << ")";
    ASSERT_EQ(ok, rok);
    const auto& ch = f.rs.choice;
    ASSERT_EQ(av.moveindiv, r.h.mi);
    ASSERT_EQ(av.movingtype, r.h.mt);
    hash = mix(hash, draws);
    hash = mix(hash, r.h.mi);
    hash = mix(hash, ok);
    for (int4 i = 1; i <= n; ++i)
      for (int4 s = 1; s <= 2; ++s)
        ASSERT_EQ(v.knownsibship(i, s), ks[static_cast<std::size_t>(2 * (i - 1) + s - 1)])
            << "mark of offspring " << i << " side " << s;
    ++seen[0];
    if (!ok) continue;
    if (r.h.mt == 2) ++seen[4];
    if (r.h.mt == 1) ++seen[r.h.kind];
    if (r.h.split > 0) ++seen[5];
    if (r.h.moveset >= 2) ++seen[4 + r.h.moveset];
    if (r.h.hsj) ++seen[9];
    if (r.h.mt == 2) {
      ASSERT_EQ(ch.familyside, r.h.side);
      ASSERT_EQ(ch.fssize, r.h.fssize);
      hash = mix(hash, 100 + r.h.side);
      continue;
    }
    ASSERT_EQ(ch.movekind, r.h.kind);
    for (int4 s = 1; s <= 3; ++s) ASSERT_EQ(av.hostfamily(s), r.h.hf[s]) << "hostfamily " << s;
    for (int4 s = 1; s <= 2; ++s) ASSERT_EQ(ch.hostfamilyid(s), r.h.hid[s]) << "hostfamilyid " << s;
    ASSERT_EQ(ch.fssize, r.h.fssize);
    ASSERT_EQ(ch.hssize(1), r.h.hs[1]);
    ASSERT_EQ(ch.hssize(2), r.h.hs[2]);
    ASSERT_EQ(ch.ownclustersize, r.h.own);
    ASSERT_EQ(ch.hostclustersize, r.h.host);
    ASSERT_EQ(ch.halfsibjoin, r.h.hsj);
    ASSERT_EQ(ch.knownsibside, r.h.kss);
    ASSERT_EQ(ch.carrycount(1), r.h.cc[1]);
    ASSERT_EQ(ch.carrycount(2), r.h.cc[2]);
    ASSERT_EQ(ch.moveset, r.h.moveset);
    ASSERT_EQ(ch.moving, r.h.moving);
    ASSERT_EQ(ch.staying, r.h.staying);
    ASSERT_EQ(f.rs.splitside, r.h.split);
    if (ch.movekind != 1) {
      ASSERT_EQ(av.numindiv(1), static_cast<int4>(r.h.staying.size()));
      ASSERT_EQ(av.numindiv(2), static_cast<int4>(r.h.moving.size()));
    }
    for (int4 x : {r.h.kind, r.h.hf[1], r.h.hf[2], r.h.hf[3], r.h.hid[1], r.h.hid[2], r.h.hsj,
                   r.h.kss, r.h.moveset, r.h.split})
      hash = mix(hash, x);
    for (int4 m : r.h.moving) hash = mix(hash, m);
  }
  EXPECT_GT(compared, proposals * 9 / 10) << outside << " outside the replay";
  // What the sequence covered (the branch table covers the rest).
  // (A monogamous population of a species that cannot self never stays in its cluster.)
  for (int4 k = 0; k < 5; ++k)
    if (k != 1 || variables.allmonogamy == 0) {
      EXPECT_GT(seen[k], 0) << "kind " << k;
    }
}

// Two sexes, polygamous, 12 candidates per sex with lists of five, known sibships.
void polygamous(ChoiceFixture& f) {
  ChoiceSample s;
  s.ncand1 = s.ncand2 = 12;
  s.fam1.assign(40, 1);
  s.fam2.assign(40, 1);
  f.build(s);
  // Eight groups of five offspring, each over two fathers and two mothers of its own.
  std::mt19937 rng(11);
  std::uniform_int_distribution<int4> two(1, 2);
  std::vector<int4> a, b;
  for (int4 c = 0; c < 8; ++c)
    for (int4 k = 0; k < 5; ++k) {
      a.push_back(2 * c + two(rng));
      b.push_back(2 * c + two(rng));
    }
  set_configuration(a, b);
  for (int4 c = 1; c <= variables.crnumfamily(3); ++c) variables.indivcluster(c).deallocate();
  setinitcluster();
}

void monogamous(ChoiceFixture& f) {
  ChoiceSample s;
  s.mono1 = s.mono2 = 1;
  s.fam1.assign(30, 1);
  s.fam2.assign(30, 1);
  f.build(s);
  std::mt19937 rng(12);
  random_configuration(rng, 8, 8);
  for (int4 c = 1; c <= variables.crnumfamily(3); ++c) variables.indivcluster(c).deallocate();
  setinitcluster();
  variables.fulllikelihoodmethodq = 0;
}

void selfing(ChoiceFixture& f) {
  ChoiceSample s;
  s.numsex = 1;
  s.inbreeding = 1;
  s.fam1.assign(30, 1);
  s.fam2.assign(30, 1);
  f.build(s);
  std::mt19937 rng(13);
  random_configuration(rng, 8, 8, 0.3);
  int4 k = 0;
  for (int4 i = 1; i <= 30; ++i)
    k = std::max({k, variables.crindivloc(i, 1), variables.crindivloc(i, 2)});
  variables.crnumfamily(1) = variables.crnumfamily(2) = k;
  for (int4 c = 1; c <= variables.crnumfamily(3); ++c) variables.indivcluster(c).deallocate();
  setinitcluster();
}

void common(ChoiceFixture& f, unsigned seed) {
  auto& v = variables;
  const int4 n = v.smplsize;
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int4> al(1, 4), cand(0, 12), c12(1, 12);
  for (int4 l = 1; l <= 3; ++l)
    for (int4 i = 1; i <= n; ++i) ChoiceFixture::genotype(i, l) = gnum(al(rng), al(rng));
  ChoiceFixture::genotype(2, 1) = ChoiceFixture::genotype(2, 2) = ChoiceFixture::genotype(2, 3) = 0;
  const real8 cum[5] = {0.4, 0.6, 0.8, 0.9, 1.00000001};
  for (int4 i = 1; i <= n; ++i)
    for (int4 s = 1; s <= 2; ++s) {
      if (v.numcandidate(s) > 0) v.inferparent(i, s) = v.inferparent2(i, s) = cand(rng);
      if (v.numcandidate(s) > 9) {
        v.numbestcnd(i, s) = static_cast<int1>(i % 4 == 0 ? 1 : 5);
        for (int4 k = 1; k <= 5; ++k) {
          v.bestcnd(i, 5 * (s - 1) + k) = static_cast<int2>(c12(rng));
          v.prbbestcnd(i, 5 * (s - 1) + k) = v.numbestcnd(i, s) == 1 ? 1.00000001 : cum[k - 1];
        }
      }
    }
  f.rs.sched.fammovethreshold = 0.85;
  f.rs.cp.tmr = 5;
  annealvariables.rate = 0.5;
  f.rs.cp.withinfactor = 0.8 * std::exp(-6.0 * v.crnumfamily(3) / n);
  f.rs.knownsibfrac = 0.05;
  if (f.rs.prbself.allocated())
    for (int4 i = 1; i <= n; ++i) f.rs.prbself(i) = 0.05 + 0.9 * (i % 7) / 7.0;
}

TEST(ChoiceReplay, TenThousandProposalsFieldByField) {
  SourceOff off;
  struct Row {
    const char* name;
    void (*make)(ChoiceFixture&);
    bool sibs;
    std::uint64_t frozen;
  };
  // The hashes of the replayed sequences, frozen when the replay and the choice first agreed
  // field by field on all 10^4 proposals.
  const std::vector<Row> rows = {{"two sexes polygamous", polygamous, true, 6395588977352016156ull},
                                 {"both monogamous", monogamous, false, 13076738272177758665ull},
                                 {"one pool selfing", selfing, false, 18231485767155518889ull}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    ChoiceFixture f;
    r.make(f);
    common(f, 99);
    if (r.sibs) {
      std::vector<int4> k1(40, 0), k2(40, 0);
      for (int4 i : {3, 7, 11, 20}) k1[static_cast<std::size_t>(i - 1)] = 4;
      for (int4 i : {5, 6, 30}) k2[static_cast<std::size_t>(i - 1)] = -2;
      f.set_known_sibships(k1, k2);
    }
    std::uint64_t h = 0;
    run(f, 10000, h);
    if (::testing::Test::HasFatalFailure()) return;
    if (r.frozen != 0) {
      EXPECT_EQ(h, r.frozen);
    }
  }
}

}  // namespace
}  // namespace kinrad::test
