// The change of the pairwise score under the move in hand: only the pairs the move can change
// are summed, in the current configuration (out[0]) and in the proposed one (out[1]), with the
// pair values of the whole-configuration score, so that out[1] - out[0] is its change.
#include <algorithm>
#include <numeric>

#include "configuration/configuration.hpp"
#include "configuration/configuration_internal.hpp"
#include "configuration/pair_score_internal.hpp"
#include "core/modules.hpp"
#include "core/modules/configuration_work.hpp"
#include "likelihood/likelihood.hpp"
#include "pairwise/pairwise.hpp"

namespace kinrad {

namespace {

bool selfing_in_play() {
  return variables.numsex == variables.allowinbreeding;
}

// Parent-offspring term of offspring o with candidate p of parent sex s (one parent pool: role
// 1 candidates; k = 2 reads the values of a selfed offspring).
real8 po_term(int4 o, int4 p, int4 s, bool selfed) {
  const auto& v = variables;
  if (selfed)
    return static_cast<real8>(prbpopair(o, 2, p)) - v.indivloglself(o) - v.candidatelogl(p, 1);
  const int4 r = std::min(s, v.numsex);
  return static_cast<real8>(prbpopair(o, r, p)) - v.indivlogl(o) - v.candidatelogl(p, r);
}

// One parent pool, individual move: the parent terms over the two parts of the move, part 2
// (indivloc2 rows) first, then part 1 (indivloc1 rows).
void popair_two_parts(real8* out) {
  auto& v = variables;
  const auto& av = annealvariables;
  auto& w = configuration_work.pair_score;
  const int4 n = v.smplsize;
  const bool selfing = selfing_in_play();
  fit(w.entry1, n);
  fit(w.entry2, n);
  for (int4 k = 1; k <= av.numindivparentage(1); ++k)
    w.entry1[static_cast<std::size_t>(av.indivparentage(k, 1))] = k;
  for (int4 k = 1; k <= av.numindivparentage(2); ++k)
    w.entry2[static_cast<std::size_t>(av.indivparentage(k, 2))] = k;
  const int4 rows2 = av.numindiv(2);
  fit(w.gcode, std::max(rows2, av.numindiv(1)));
  for (int4 part = 2; part >= 1; --part) {
    const FArray<int4, 2>& t = part == 2 ? av.indivloc2 : av.indivloc1;
    const int4 nrow = av.numindiv(part);
    if (nrow < 1) continue;
    // Selfed codes: tens digit selfed in the proposal, units digit selfed now.
    bool changing = false;
    for (int4 r = 1; r <= nrow; ++r)
      w.gcode[static_cast<std::size_t>(r)] = selfing && t(r, 1) == t(r, 2) ? 11 : 0;
    if (selfing && part == 2)
      for (int4 k = 1; k <= av.numindivlocidx(3); ++k) {
        const int4 r = av.indivlocidx(k, 3);
        const int4 o = t(r, 4);
        const int4 code =
            10 * (t(r, 1) == t(r, 2) ? 1 : 0) + (v.crindivloc(o, 1) == v.crindivloc(o, 2) ? 1 : 0);
        w.gcode[static_cast<std::size_t>(r)] = code;
        if (code == 1 || code == 10) changing = true;
      }
    if (av.numindivparentage(1) == 0 && av.numindivparentage(2) == 0 && !changing) continue;
    for (int4 role = 1; role <= 2; ++role) {
      const std::vector<int4>& entry = role == 1 ? w.entry1 : w.entry2;
      const bool entries = av.numindivparentage(role) > 0;
      if (!entries && !(part == 2 && changing)) continue;
      for (int4 r = 1; r <= nrow; ++r) {
        const int4 o = t(r, 4);
        const int4 code = w.gcode[static_cast<std::size_t>(r)];
        const bool flips = code == 1 || code == 10;
        const int4 k = entries ? entry[static_cast<std::size_t>(o)] : 0;
        int4 oldp = v.inferparent2(o, role), newp = oldp;
        bool counts = false;
        if (k > 0) {
          newp = av.inferparentage(k, role, 2);
          counts = oldp != newp || flips;
        } else {
          counts = part == 2 && flips;
        }
        if (!counts) continue;
        if (oldp > 0) out[0] += po_term(o, oldp, 1, code % 10 == 1);
        if (newp > 0) out[1] += po_term(o, newp, 1, code / 10 == 1);
      }
    }
  }
  for (int4 k = 1; k <= av.numindivparentage(1); ++k)
    w.entry1[static_cast<std::size_t>(av.indivparentage(k, 1))] = 0;
  for (int4 k = 1; k <= av.numindivparentage(2); ++k)
    w.entry2[static_cast<std::size_t>(av.indivparentage(k, 2))] = 0;
}

// The entries of an individual move in list order 3, 2, 1 with their current and proposed
// family pairs.
int4 gather_entries(int4 n) {
  auto& v = variables;
  const auto& av = annealvariables;
  auto& w = configuration_work.pair_score;
  fit(w.eo, n);
  fit(w.ec1, n);
  fit(w.ec2, n);
  fit(w.ep1, n);
  fit(w.ep2, n);
  int4 e = 0;
  const auto add = [&](const FArray<int4, 2>& t, int4 r) {
    const int4 o = t(r, 4);
    const auto u = static_cast<std::size_t>(e++);
    w.eo[u] = o;
    w.ec1[u] = v.crindivloc(o, 1);
    w.ec2[u] = v.crindivloc(o, 2);
    w.ep1[u] = t(r, 1);
    w.ep2[u] = t(r, 2);
  };
  for (int4 k = 1; k <= av.numindivlocidx(3) && e < n; ++k) add(av.indivloc2, av.indivlocidx(k, 3));
  for (int4 k = 1; k <= av.numindivlocidx(2) && e < n; ++k) add(av.indivloc2, av.indivlocidx(k, 2));
  for (int4 k = 1; k <= av.numindivlocidx(1) && e < n; ++k) add(av.indivloc1, av.indivlocidx(k, 1));
  return e;
}

int4 state_code(bool pool, int4 x, int4 y, int4 u, int4 w) {
  return pool ? pair_code_pool(x, y, u, w) : pair_code_two(x, y, u, w);
}

}  // namespace

void calculatepopairlogl(real8* out) {
  const auto& v = variables;
  const auto& av = annealvariables;
  if (v.numsex == 1 && av.movingtype != 2) {
    popair_two_parts(out);
    return;
  }
  const bool selfing = selfing_in_play();
  for (int4 s = 1; s <= 2; ++s)
    for (int4 k = 1; k <= av.numindivparentage(s); ++k) {
      const int4 oldp = av.inferparentage(k, s, 1);
      const int4 newp = av.inferparentage(k, s, 2);
      if (oldp == newp) continue;
      const int4 o = av.indivparentage(k, s);
      const bool selfed = selfing && v.crindivloc(o, 1) == v.crindivloc(o, 2);
      if (oldp > 0) out[0] += po_term(o, oldp, s, selfed);
      if (newp > 0) out[1] += po_term(o, newp, s, selfed);
    }
}

void logl_change_self(real8& d) {
  const auto& v = variables;
  const auto& av = annealvariables;
  for (int4 k = 1; k <= av.numindivlocidx(3); ++k) {
    const int4 r = av.indivlocidx(k, 3);
    const int4 o = av.indivloc2(r, 4);
    const bool now = v.crindivloc(o, 1) == v.crindivloc(o, 2);
    const bool then = av.indivloc2(r, 1) == av.indivloc2(r, 2);
    if (now == then) continue;
    d += now ? v.indivloglself(o) - v.indivlogl(o) : v.indivlogl(o) - v.indivloglself(o);
  }
}

void calculatepairlogl2(real8* out, int4 n) {
  auto& v = variables;
  const auto& av = annealvariables;
  auto& w = configuration_work.pair_score;
  const bool pool = v.numsex == 1;
  const bool selfing = selfing_in_play();
  const int4 ne = gather_entries(n);
  const int4 n3 = std::min(av.numindivlocidx(3), ne);
  // Groups of consecutive entries with equal current and proposed pairs.
  fit(w.gstart, ne + 1);
  int4 ng = 0;
  for (int4 e = 0; e < ne; ++e) {
    const auto u = static_cast<std::size_t>(e);
    if (e == 0 || w.ec1[u] != w.ec1[u - 1] || w.ec2[u] != w.ec2[u - 1] ||
        w.ep1[u] != w.ep1[u - 1] || w.ep2[u] != w.ep2[u - 1])
      w.gstart[static_cast<std::size_t>(ng++)] = e;
  }
  w.gstart[static_cast<std::size_t>(ng)] = ne;
  fit(w.gcode, 2 * ng + 2);
  fit(w.run, ne);
  for (int4 g = 0; g < ng; ++g) {
    const int4 gs = w.gstart[static_cast<std::size_t>(g)];
    if (gs >= n3) break;
    const int4 ge = w.gstart[static_cast<std::size_t>(g) + 1];
    const int4 na = ge - gs;
    const auto ua = static_cast<std::size_t>(gs);
    const int4* members = w.eo.data() + gs;
    const int4 c1 = w.ec1[ua], c2 = w.ec2[ua], p1 = w.ep1[ua], p2 = w.ep2[ua];
    // Codes of every later group in the current and the proposed state.
    bool any = false;
    for (int4 h = g + 1; h < ng; ++h) {
      const auto ub = static_cast<std::size_t>(w.gstart[static_cast<std::size_t>(h)]);
      const int4 k1 = state_code(pool, c1, c2, w.ec1[ub], w.ec2[ub]);
      const int4 k2 = state_code(pool, p1, p2, w.ep1[ub], w.ep2[ub]);
      w.gcode[2 * static_cast<std::size_t>(h)] = k1;
      w.gcode[2 * static_cast<std::size_t>(h) + 1] = k2;
      any = any || k1 != k2;
    }
    const int4 inner1 = c1 == c2 ? 1 : 7;
    const int4 inner2 = p1 == p2 ? 1 : 7;
    const bool inner = selfing && na >= 2 && inner1 != inner2;
    for (int4 t = 0; t < 2; ++t) {
      if (inner) {
        const int4 code = t == 0 ? inner1 : inner2;
        real8 sum = 0.0;
        for (int4 i = 1; i < na; ++i)
          for (int4 j = 0; j < i; ++j)
            sum +=
                code == 1 ? prbsspair(members[j], members[i]) : prbfspair(members[j], members[i]);
        out[t] += sum;
      }
      if (!any) continue;
      int4 nrun = 0, runcode = 0;
      for (int4 h = g + 1; h < ng; ++h) {
        const auto uh = static_cast<std::size_t>(h);
        const int4 k1 = w.gcode[2 * uh], k2 = w.gcode[2 * uh + 1];
        if (k1 == k2) continue;
        const int4 code = t == 0 ? k1 : k2;
        if (nrun > 0 && code != runcode) {
          calculateoffpairlogl(out[t], na, members, nrun, w.run.data(), runcode);
          nrun = 0;
        }
        runcode = code;
        for (int4 e = w.gstart[uh]; e < w.gstart[uh + 1]; ++e)
          w.run[static_cast<std::size_t>(nrun++)] = w.eo[static_cast<std::size_t>(e)];
      }
      if (nrun > 0) calculateoffpairlogl(out[t], na, members, nrun, w.run.data(), runcode);
    }
  }
}

namespace {

// Sum over g in G of fs(g, x), by the whole-row sum of x less the sum over the complement of G:
// every cluster but the one that holds G, which contributes only `part` (np offspring). An
// offspring with an impossible full-sib pair (its row sum negated) has the sum over G taken
// directly, so that its impossible pairs inside G count as they do in the whole score.
real8 complement_sum(int4 x, int4 ng, const int4* g, int4 gcluster, int4 np, const int4* part) {
  auto& v = variables;
  if (!v.prbpairsum.allocated()) setsumsibprb();
  const real8 row = v.prbpairsum(x);
  if (row >= 0.0) {
    real8 sum = 0.0;
    for (int4 i = 0; i < ng; ++i) sum += prbfspair(g[i], x);
    return sum;
  }
  real8 c = 0.0;
  for (int4 i = 0; i < np; ++i) c += prbfspair(part[i], x);
  for (int4 id = 1; id <= v.crnumfamily(3); ++id) {
    if (id == gcluster) continue;
    const int4 slot = v.indivclusterindex(id);
    if (slot < 1) continue;
    const FArray<int2, 1>& m = v.indivcluster(slot);
    for (index_t i = m.lbound(1); i <= m.ubound(1); ++i) c += prbfspair(m(i), x);
  }
  return row - c;
}

// The one-family work state of the likelihood engine for the proposed family (indivloc2 rows
// 1..m) and its Mendelian screen; false when the family is impossible.
bool proposed_family_passes(int4 m) {
  auto& v = variables;
  auto& lv = likelihoodvar;
  const auto& av = annealvariables;
  v.maxfsibsize = m;
  v.nparent(1) = 1;
  v.nparent(2) = 1;
  v.numfsibship = 1;
  // One family of one father and one mother; tables already of that shape are kept.
  if (v.nchild.size() != 1) v.nchild.allocate(Dim(1), Dim(1));
  v.nchild(1, 1) = static_cast<int2>(m);
  if (lv.mate1.size() != 4 || lv.mate1.lbound(1) != 0) lv.mate1.allocate(Dim(0, 1), Dim(2));
  lv.mate1.fill(1);
  if (!lv.fsibid.allocated()) lv.fsibid.allocate(Dim(1), Dim(1));
  lv.fsibid(1, 1) = 1;
  grow_array(v.familyindivloc, 0, 1);
  v.familyindivloc(0) = 0;
  v.familyindivloc(1) = static_cast<int2>(m);
  if (!lv.familyindiv.allocated() || lv.familyindiv.size() < m || lv.familyindiv.size() > 2 * m)
    lv.familyindiv.allocate(Dim(m));
  for (int4 r = 1; r <= m; ++r) lv.familyindiv(r) = static_cast<int2>(av.indivloc2(r, 4));
  grow_array(lv.clusterfamilysize, 1, 1);
  lv.clusterfamilysize(1) = m;
  if (!lv.clusterfamily.allocated() || lv.clusterfamily.ubound(2) < 1)
    lv.clusterfamily.allocate(Dim(2), Dim(1));
  lv.clusterfamily(1, 1) = 1;
  lv.clusterfamily(2, 1) = 1;
  // One father and one mother: no parent of this family acts in both roles.
  if (lv.selfprnt.allocated()) lv.selfprnt(0) = 0;
  int4 ok = 1;
  locussort(ok, 0);
  return ok != 0;
}

}  // namespace

void calculatepairloglmonogamy(real8* out, real8 bound) {
  auto& v = variables;
  const auto& av = annealvariables;
  auto& w = configuration_work.pair_score;
  const int4 n = v.smplsize;
  const int4 nO = av.numindivlocidx(3);
  const int4 nS = av.numindiv(1);
  const int4 nL = av.numindivlocidx(2);
  const bool allmono = v.allmonogamy != 0;
  const int4 nD = allmono ? av.numindiv(2) - nO : nL;
  const int4 h = n / 2;
  const real8 B = bound;

  // 1. Mendelian screen of the family the moving offspring join.
  if (static_cast<int8>(nL) * nO > 2 * static_cast<int8>(v.numloci) &&
      v.locuscodomnoerrorloc(3) > v.locuscodomnoerrorloc(1) &&
      !proposed_family_passes(av.numindiv(2))) {
    out[1] = -1e300;
    return;
  }

  fit(w.listo, nO);
  fit(w.lists, nS);
  fit(w.listd, std::max(nD, 0));
  for (int4 k = 1; k <= nO; ++k)
    w.listo[static_cast<std::size_t>(k - 1)] = av.indivloc2(av.indivlocidx(k, 3), 4);
  for (int4 k = 1; k <= nS; ++k) w.lists[static_cast<std::size_t>(k - 1)] = av.indivloc1(k, 4);
  for (int4 k = 1; k <= nD; ++k)
    w.listd[static_cast<std::size_t>(k - 1)] =
        allmono ? av.indivloc2(nO + k, 4) : av.indivloc2(av.indivlocidx(k, 2), 4);
  const int4* O = w.listo.data();
  const int4* S = w.lists.data();
  const int4* D = w.listd.data();
  const auto il = [&](int4 i) { return v.indivlogl(i); };
  const auto sum_il = [&](int4 m, const int4* list) {
    real8 s = 0.0;
    for (int4 i = 0; i < m; ++i) s += il(list[i]);
    return s;
  };
  // Sum of fs over every pair of the two groups, the outer loop over the first, each pair read
  // with the outer member as column.
  const auto cross = [&](int4 na, const int4* a, int4 nb, const int4* b) {
    real8 s = 0.0;
    for (int4 i = 0; i < na; ++i)
      for (int4 j = 0; j < nb; ++j) s += prbfspair(b[j], a[i]);
    return s;
  };
  const int4 owncluster = v.crindivloc(av.moveindiv, 3);
  const real8 ilO = sum_il(nO, O);

  if (!allmono) {
    // The old part A is kept apart from the bound and compared with out[1] - B: carrying B
    // inside the sum and taking it out again would lose the digits of the score when |B| is
    // large, and an infinite B (no early stop) would give no number at all.
    real8 A = out[0];
    if (nS <= h) {
      for (int4 i = 0; i < nO; ++i)
        for (int4 j = 0; j < nS; ++j) A += static_cast<real8>(prbfspair(S[j], O[i])) - il(S[j]);
      A += (nL - nS) * ilO;
    } else {
      A = out[0] - nO * sum_il(nS, S) + (nL - nS) * ilO;
      for (int4 i = 0; i < nO; ++i) A += complement_sum(O[i], nS, S, owncluster, nO, O);
    }
    // Each further moving offspring adds terms fs(d, o) - il(d) <= 0 to the new part, so once
    // the new part is below A + B the proposal is refused whatever follows.
    for (int4 i = 0; i < nO; ++i) {
      for (int4 j = 0; j < nL; ++j) out[1] += static_cast<real8>(prbfspair(D[j], O[i])) - il(D[j]);
      if (A > out[1] - B) break;
    }
    out[0] = A;
    return;
  }

  // Every sex monogamous: at most one group summed by complement.
  enum class Big { none, s, o, d } G = Big::none;
  if (nS > h) {
    G = Big::s;
  } else if (nO > h) {
    G = Big::o;
  } else if (nL > h && nO == 1) {
    G = Big::d;
  }
  const real8 ilS = sum_il(nS, S);
  const real8 ilD = sum_il(std::max(nD, 0), D);
  if (nO <= 1) {
    const int4 o = av.indivloc2(1, 4);
    real8 fsS = 0.0, fsD = 0.0;
    if (G == Big::s) {
      fsS = complement_sum(o, nS, S, owncluster, nO, O);
    } else {
      for (int4 j = 0; j < nS; ++j) fsS += prbfspair(S[j], o);
    }
    if (nD >= 1) {
      if (G == Big::d) {
        fsD = complement_sum(o, nD, D, v.crindivloc(D[0], 3), 0, nullptr);
      } else {
        for (int4 j = 0; j < nD; ++j) fsD += prbfspair(D[j], o);
      }
    }
    out[0] += fsS + (nL - nS) * il(o) + ilD;
    out[1] += fsD + ilS;
    return;
  }
  real8 A = out[0] + nO * (ilD - ilS) + (nL - nS) * ilO;
  const int4 mD = std::max(nD, 0);
  if (G == Big::none && v.fulllikelihoodmethodq == 0 && nS > 0 && nS * nO > nO * mD) {
    out[1] += nO >= mD ? cross(mD, D, nO, O) : cross(nO, O, mD, D);
    const bool outerO = nO <= nS;
    const int4 N = outerO ? nO : nS;
    const int4* outer = outerO ? O : S;
    const int4 m = outerO ? nS : nO;
    const int4* innerl = outerO ? S : O;
    const real8 ilinner = outerO ? ilS : ilO;
    const real8 T = out[1] - B + std::max(-out[1] / N, 1000.0);
    real8 old = A + nO * ilS + nS * ilO;
    for (int4 i = 0; i < N; ++i) {
      const int4 x = outer[i];
      real8 s = 0.0;
      for (int4 j = 0; j < m; ++j) s += prbfspair(innerl[j], x);
      old += s - ilinner - m * il(x);
      if (old > T) break;
    }
    out[0] = old;
    return;
  }
  if (nS >= 1) {
    if (G == Big::s) {
      for (int4 i = 0; i < nO; ++i) A += complement_sum(O[i], nS, S, owncluster, nO, O);
    } else if (G == Big::o) {
      for (int4 j = 0; j < nS; ++j) A += complement_sum(S[j], nO, O, owncluster, nS, S);
    } else {
      A += nO <= nS ? cross(nO, O, nS, S) : cross(nS, S, nO, O);
    }
  }
  out[0] = A;
  out[1] += nO <= mD ? cross(nO, O, mD, D) : cross(mD, D, nO, O);
}

namespace {

// The offspring pairs of an individual move in a haplodiploid sample: the entries in their
// classes, the candidates, and the changed relation of each moving entry with every candidate
// after it. Returns the number of entries (the parent terms walk them again).
int4 haploid_offspring_pairs(real8* out, int4 n) {
  auto& v = variables;
  auto& av = annealvariables;
  auto& w = configuration_work.pair_score;
  const int4 ns = v.smplsize;
  // Entries: indivloc1 rows, then indivloc2 rows; list 3 rows are the moving ones.
  const int4 n1 = av.numindiv(1);
  const int4 ne = std::min(n, n1 + av.numindiv(2));
  fit(w.eo, ne);
  fit(w.ec1, ne);
  fit(w.ec2, ne);
  fit(w.ep1, ne);
  fit(w.ep2, ne);
  fit(w.gcode, ne);  // 1 for a moving entry
  fit(w.cls, ne);
  std::fill(w.gcode.begin(), w.gcode.begin() + ne, 0);
  for (int4 e = 0; e < ne; ++e) {
    const bool one = e < n1;
    const FArray<int4, 2>& t = one ? av.indivloc1 : av.indivloc2;
    const int4 r = one ? e + 1 : e + 1 - n1;
    const int4 o = t(r, 4);
    const auto u = static_cast<std::size_t>(e);
    w.eo[u] = o;
    w.ec1[u] = v.crindivloc(o, 1);
    w.ec2[u] = v.crindivloc(o, 2);
    w.ep1[u] = t(r, 1);
    w.ep2[u] = t(r, 2);
  }
  for (int4 k = 1; k <= av.numindivlocidx(3); ++k) {
    const int4 e = n1 + av.indivlocidx(k, 3) - 1;
    if (e < ne) w.gcode[static_cast<std::size_t>(e)] = 1;
  }
  // Classes: moving diploid, moving haploid, other diploid, other haploid.
  const auto cls = [&](int4 e) {
    const auto u = static_cast<std::size_t>(e);
    const bool dip = v.offploid(w.eo[u]) == 2;
    return w.gcode[u] == 1 ? (dip ? 0 : 1) : (dip ? 2 : 3);
  };
  if (ns <= 10 * ne) {
    int4 pos = 0;
    for (int4 c = 0; c < 4; ++c)
      for (int4 e = 0; e < ne; ++e)
        if (cls(e) == c) w.cls[static_cast<std::size_t>(pos++)] = e;
  } else {
    // Offspring order within each class.
    std::iota(w.cls.begin(), w.cls.begin() + ne, 0);
    std::sort(w.cls.begin(), w.cls.begin() + ne, [&](int4 a, int4 b) {
      static constexpr int4 k[4] = {10, 9, 2, 1};
      const int8 ka = w.eo[static_cast<std::size_t>(a)] - static_cast<int8>(k[cls(a)]) * (ns + 1);
      const int8 kb = w.eo[static_cast<std::size_t>(b)] - static_cast<int8>(k[cls(b)]) * (ns + 1);
      return ka < kb;
    });
  }
  // Candidates: the moving entries and every entry with a current id among the ids, current
  // or proposed, of the moving ones (one mark table for the ids of both columns).
  int4 maxid = 0;
  for (int4 e = 0; e < ne; ++e) {
    const auto u = static_cast<std::size_t>(e);
    maxid = std::max({maxid, w.ec1[u], w.ec2[u], w.ep1[u], w.ep2[u]});
  }
  fit(w.mark, std::max(maxid, ns));
  for (int4 e = 0; e < ne; ++e) {
    const auto u = static_cast<std::size_t>(e);
    if (w.gcode[u] != 1) continue;
    for (int4 id : {w.ec1[u], w.ec2[u], w.ep1[u], w.ep2[u]})
      w.mark[static_cast<std::size_t>(id)] = 1;
  }
  fit(w.run, ne);
  int4 ncand = 0;
  for (int4 q = 0; q < ne; ++q) {
    const int4 e = w.cls[static_cast<std::size_t>(q)];
    const auto u = static_cast<std::size_t>(e);
    if (w.gcode[u] == 1 || w.mark[static_cast<std::size_t>(w.ec1[u])] != 0 ||
        w.mark[static_cast<std::size_t>(w.ec2[u])] != 0)
      w.run[static_cast<std::size_t>(ncand++)] = q;  // positions in class order
  }
  for (int4 e = 0; e < ne; ++e) {
    const auto u = static_cast<std::size_t>(e);
    for (int4 id : {w.ec1[u], w.ec2[u], w.ep1[u], w.ep2[u]})
      w.mark[static_cast<std::size_t>(id)] = 0;
  }
  // Relations of each moving entry x with every candidate y after it in class order.
  fit(w.cnt, ns);
  const auto relation = [&](bool dx, bool dy, int4 x1, int4 x2, int4 y1, int4 y2) {
    if (dx && dy) return x1 == y1 ? (x2 == y2 ? 1 : 2) : (x2 == y2 ? 3 : 4);
    if (!dx && !dy) return x2 == y2 ? 1 : 4;
    return x2 == y2 ? 3 : 4;
  };
  const auto term = [&](int4 r, int4 y, int4 x) -> real8 {
    switch (r) {
      case 1:
        return prbfspair(y, x);
      case 2:
        return prbhspair(y, x);
      default:
        return prbmhsibpair(y, x);
    }
  };
  for (int4 a = 0; a < ncand; ++a) {
    const int4 qa = w.run[static_cast<std::size_t>(a)];
    const auto ux = static_cast<std::size_t>(w.cls[static_cast<std::size_t>(qa)]);
    if (w.gcode[ux] != 1) continue;
    const int4 x = w.eo[ux];
    const bool dx = v.offploid(x) == 2;
    for (int4 b = a + 1; b < ncand; ++b) {
      const auto uy = static_cast<std::size_t>(
          w.cls[static_cast<std::size_t>(w.run[static_cast<std::size_t>(b)])]);
      const int4 y = w.eo[uy];
      const bool dy = v.offploid(y) == 2;
      const int4 r1 = relation(dx, dy, w.ec1[ux], w.ec2[ux], w.ec1[uy], w.ec2[uy]);
      const int4 r2 = relation(dx, dy, w.ep1[ux], w.ep2[ux], w.ep1[uy], w.ep2[uy]);
      if (r1 == r2) continue;
      if (r1 != 4 && r2 != 4) {
        const real8 d = term(std::min(r1, r2), y, x) - term(std::max(r1, r2), y, x);
        out[r1 < r2 ? 0 : 1] += d;
      } else if (r1 < r2) {
        out[0] += term(r1, y, x);
        --w.cnt[static_cast<std::size_t>(x)];
        --w.cnt[static_cast<std::size_t>(y)];
      } else {
        out[1] += term(r2, y, x);
        ++w.cnt[static_cast<std::size_t>(x)];
        ++w.cnt[static_cast<std::size_t>(y)];
      }
    }
  }
  real8 singles = 0.0;
  for (int4 e = 0; e < ne; ++e) {
    const int4 o = w.eo[static_cast<std::size_t>(e)];
    singles += w.cnt[static_cast<std::size_t>(o)] * v.indivlogl(o);
    w.cnt[static_cast<std::size_t>(o)] = 0;
  }
  out[0] += singles;
  return ne;
}

// The parent terms of a haplodiploid move, per sex; ne entries of an individual move (0 for a
// family move) give the known parents their offspring gain or lose.
void haploid_parent_terms(real8* out, int4 ne, bool family) {
  auto& v = variables;
  auto& av = annealvariables;
  auto& w = configuration_work.pair_score;
  const int4 ns = v.smplsize;
  // Parent terms, per sex: the change-list entries (diploid offspring only for sex 1), then,
  // for an individual move in a sex with known parents, the known parents that entries gain
  // or lose with the family they leave or join.
  fit(w.papos, ns);
  for (int4 s = 1; s <= 2; ++s) {
    int4 np = 0;
    fit(w.pao, av.numindivparentage(s) + ne);
    fit(w.paold, av.numindivparentage(s) + ne);
    fit(w.panew, av.numindivparentage(s) + ne);
    const auto list = [&](int4 o) -> std::size_t {
      int4& pos = w.papos[static_cast<std::size_t>(o)];
      if (pos == 0) {
        pos = ++np;
        w.pao[static_cast<std::size_t>(pos)] = o;
        w.paold[static_cast<std::size_t>(pos)] = 0;
        w.panew[static_cast<std::size_t>(pos)] = 0;
      }
      return static_cast<std::size_t>(pos);
    };
    for (int4 k = 1; k <= av.numindivparentage(s); ++k) {
      const int4 o = av.indivparentage(k, s);
      if (s == 1 && v.offploid(o) != 2) continue;
      const std::size_t p = list(o);
      w.paold[p] = av.inferparentage(k, s, 1);
      w.panew[p] = av.inferparentage(k, s, 2);
    }
    if (!family && v.numknownprnt(s) > 0) {
      fit(w.mark, std::max(ns, v.numcandidate(s)));
      const int4 col = s;
      for (int4 e = 0; e < ne; ++e) {
        const auto u = static_cast<std::size_t>(e);
        const int4 kp = v.indivparent(w.eo[u], s);
        if (kp <= 0 || (s == 1 && v.offploid(w.eo[u]) != 2)) continue;
        if (w.mark[static_cast<std::size_t>(kp)] != 0) continue;
        w.mark[static_cast<std::size_t>(kp)] = 1;
        const int4 c = col == 1 ? w.ec1[u] : w.ec2[u];
        const int4 p = col == 1 ? w.ep1[u] : w.ep2[u];
        for (int4 f = 0; f < ne; ++f) {
          const auto uy = static_cast<std::size_t>(f);
          const int4 y = w.eo[uy];
          if (v.indivparent(y, s) > 0 || (s == 1 && v.offploid(y) != 2)) continue;
          const int4 cy = col == 1 ? w.ec1[uy] : w.ec2[uy];
          const int4 py = col == 1 ? w.ep1[uy] : w.ep2[uy];
          if (cy == c && py != p) w.paold[list(y)] = kp;
          if (py == p && cy != c) w.panew[list(y)] = kp;
        }
      }
      for (int4 e = 0; e < ne; ++e) {
        const int4 kp = v.indivparent(w.eo[static_cast<std::size_t>(e)], s);
        if (kp > 0) w.mark[static_cast<std::size_t>(kp)] = 0;
      }
    }
    for (int4 q = 1; q <= np; ++q) {
      const auto uq = static_cast<std::size_t>(q);
      const int4 o = w.pao[uq];
      w.papos[static_cast<std::size_t>(o)] = 0;
      if (w.paold[uq] > 0) out[0] += po_term(o, w.paold[uq], s, false);
      if (w.panew[uq] > 0) out[1] += po_term(o, w.panew[uq], s, false);
    }
  }
}

}  // namespace

void calculatedhpairlogl(real8* out, int4 n) {
  const bool family = annealvariables.movingtype == 2;
  if (family && variables.allcandidate < 1) return;
  const int4 ne = family ? 0 : haploid_offspring_pairs(out, n);
  if (variables.allcandidate < 1) return;
  haploid_parent_terms(out, ne, family);
}

}  // namespace kinrad
