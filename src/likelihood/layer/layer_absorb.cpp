// Pair and single absorption inside the layer peeling of two-sex clusters. Layer L works on the
// graph of state L - 1 before it chooses its conditioning parent:
//  - chains F, M, F2, M2, ... of parents with two mates are summed out into one pair table
//    between the start father and the chain's last mother;
//  - parents left with one mate are summed into it;
//  - a group of parents of one sex sharing the same two mates A and B, where B has one further
//    mate w, is summed out with B into one pair table between A and w.
// The searches run on a layer's first visit; the graph a layer sees does not depend on the
// genotypes conditioned above it, so later visits replay what the first one found. Tables are
// numbered along a descent from the layer's start, so a revisit overwrites its own tables and
// those of deeper layers only. Every table is scaled to a largest entry of 1, the scale going
// into the path value's log: the result is exact.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "core/modules/absorbvar.hpp"
#include "core/modules/likelihoodvar.hpp"
#include "core/modules/variables.hpp"
#include "likelihood/full_sib_internal.hpp"
#include "likelihood/layer/layer_internal.hpp"
#include "likelihood/work_arrays_internal.hpp"

namespace kinrad {

namespace {

constexpr int4 kUnknown = 2147483647;

int4 sex_of(int4 p) {
  return p > variables.npstartloc1(2) ? 2 : 1;
}

real8* weights(int4 p, int4 s) {
  Likelihoodvar& lv = likelihoodvar;
  return &lv.layerweight(lv.layerwloc(p) + 1, s);
}

int4 count_of(int4 p) {
  return likelihoodvar.hsprobdim(p);
}

int4 other(int4 f, int4 p) {
  const Absorbvar& ab = absorbvar;
  return ab.pairparent(1, f) == p ? ab.pairparent(2, f) : ab.pairparent(1, f);
}

int4 pair_of(int4 p, int4 q) {
  const Variables& v = variables;
  const int4 f = sex_of(p) == 1 ? p : q;
  const int4 m = sex_of(p) == 1 ? q : p;
  return likelihoodvar.fsibid(f - v.npstartloc1(1), m - v.npstartloc1(2));
}

// The link joining p and q in state s (its pair number), 0 when none.
int4 link_between(int4 p, int4 q, int4 s) {
  const Likelihoodvar& lv = likelihoodvar;
  for (int4 k = 1; k <= lv.layernummate(p, s); ++k)
    if (other(lv.layermate(k, p, s), p) == q) return lv.layermate(k, p, s);
  return 0;
}

void append_link(int4 p, int4 f, int4 s) {
  Likelihoodvar& lv = likelihoodvar;
  lv.layermate(++lv.layernummate(p, s), p, s) = f;
}

real8 weight_sum(int4 p, int4 s) {
  const real8* w = weights(p, s);
  real8 sum = 0.0;
  for (int4 i = 0; i < count_of(p); ++i) sum += w[i];
  return sum;
}

// The table of one link read from one of its parents: entry (position of that parent, position
// of its mate).
struct Link {
  FamilyTable t;
  bool pfather = false;
  real8 operator()(int4 gp, int4 gq) const { return pfather ? t(gp, gq) : t(gq, gp); }
};

Link open_link(int4 f, int4 p) {
  Link l;
  l.pfather = absorbvar.pairparent(1, f) == p;
  l.t = layer_table(f);
  return l;
}

int4 table_count(int4 layer) {
  return absorbvar.changedpairid(0, layer);
}

int4 tables_in_use(int4 layer) {
  return absorbvar.changedpairstart(layer) + absorbvar.changedpairid(0, layer);
}

// Room for n more entries in the list of chains and groups, keeping what it holds.
void list_room(int4 n) {
  Absorbvar& ab = absorbvar;
  const int4 need = ab.numpairlist + n;
  if (ab.absorbpairlist.allocated() && ab.absorbpairlist.ubound(1) >= need) return;
  FArray<int4, 1> bigger(Dim(1, ab.numpairlist + std::max(n, 40)));
  for (int4 i = 1; i <= ab.numpairlist; ++i) bigger(i) = ab.absorbpairlist(i);
  ab.absorbpairlist = std::move(bigger);
}

// Scales table k (rows of the father nf, columns of the mother nm) so that its largest entry
// is 1, the scale going into the log of the path of state s; a table of zeros makes the path
// impossible. Writes the table's sum.
void settle_table(int4 k, int4 nf, int4 nm, int4 s) {
  Absorbvar& ab = absorbvar;
  real8 big = 0.0;
  for (int4 j = 1; j <= nm; ++j)
    for (int4 i = 1; i <= nf; ++i) big = std::max(big, ab.fsprob2(i, j, k));
  real8 sum = 0.0;
  if (big <= 0.0) {
    likelihoodvar.layerxvalue(s) = 0.0;
  } else {
    const real8 inv = 1.0 / big;
    for (int4 j = 1; j <= nm; ++j)
      for (int4 i = 1; i <= nf; ++i) sum += ab.fsprob2(i, j, k) *= inv;
    likelihoodvar.layerxlog(s) += std::log(big);
  }
  ab.fsprob2sum(k) = sum;
}

// Gives pair p the next table number of the layer.
int4 number_table(int4 layer, int4 p) {
  Absorbvar& ab = absorbvar;
  const int4 k = tables_in_use(layer) + 1;
  ab.changedpairid(++ab.changedpairid(0, layer), layer) = p;
  ab.changedpairq(p) = static_cast<int2>(k);
  return k;
}

// Positions of p with a non-zero weight in state s, into list; returns their number. A
// position of weight 0 contributes nothing to any sum, now or deeper.
int4 live_positions(int4 p, int4 s, int4* list) {
  const real8* w = weights(p, s);
  int4 n = 0;
  for (int4 i = 1; i <= count_of(p); ++i)
    if (w[i - 1] != 0.0) list[n++] = i;
  return n;
}

// Writes into slot k the table between the chain's first and last entries (e(1) the start
// father, e(n) the last mother), summing the interior parents out through their weights in
// state s, link by link for all of the father's positions at once. Each row is carried scaled;
// the rows' scales are brought to one at the end. Rows and columns of positions whose weight is
// 0 are 0.
void chain_table(const int4* e, int4 n, int4 k, int4 s) {
  Absorbvar& ab = absorbvar;
  const int4 nf = count_of(e[0]);
  const int4 nm = count_of(e[n - 1]);
  int4* rows = &ab.absorblive(1, 1);
  int4* from = &ab.absorblive(1, 2);
  int4* to = &ab.absorblive(1, 3);
  const int4 nrows = live_positions(e[0], s, rows);
  for (int4 m = 1; m <= nm; ++m)
    for (int4 i = 1; i <= nf; ++i) ab.fsprob2(i, m, k) = 0.0;
  // First link: X(i, j) = weight of c2's j x table(i, j).
  int4 nfrom = live_positions(e[1], s, from);
  {
    const Link l = open_link(link_between(e[0], e[1], s), e[0]);
    const real8* w = weights(e[1], s);
    for (int4 r = 0; r < nrows; ++r) {
      const int4 i = rows[r];
      for (int4 q = 0; q < nfrom; ++q) ab.absorbx(from[q], i) = w[from[q] - 1] * l(i, from[q]);
      ab.absorbrowlog(i) = 0.0;
    }
  }
  // Interior links: Y(i, b) = weight of b x sum over q of X(i, q) x table(q, b), each row
  // scaled to sum 1.
  // The link's table over the live positions, read once for all rows: T(b, q).
  auto dense = [&](const Link& l, int4 nto) {
    for (int4 q = 0; q < nfrom; ++q)
      for (int4 b = 0; b < nto; ++b) ab.absorbt(b + 1, q + 1) = l(from[q], to[b]);
  };
  for (int4 c = 1; c + 2 < n; ++c) {
    const Link l = open_link(link_between(e[c], e[c + 1], s), e[c]);
    const real8* w = weights(e[c + 1], s);
    const int4 nto = live_positions(e[c + 1], s, to);
    dense(l, nto);
    for (int4 r = 0; r < nrows; ++r) {
      const int4 i = rows[r];
      for (int4 b = 0; b < nto; ++b) ab.absorby(to[b], i) = 0.0;
      for (int4 q = 0; q < nfrom; ++q) {
        const real8 xq = ab.absorbx(from[q], i);
        if (xq == 0.0) continue;
        const real8* t = &ab.absorbt(1, q + 1);
        for (int4 b = 0; b < nto; ++b) ab.absorby(to[b], i) += xq * t[b];
      }
      real8 sum = 0.0;
      for (int4 b = 0; b < nto; ++b) sum += ab.absorby(to[b], i) *= w[to[b] - 1];
      if (sum > 0.0) {
        const real8 inv = 1.0 / sum;
        for (int4 b = 0; b < nto; ++b) ab.absorbx(to[b], i) = ab.absorby(to[b], i) * inv;
        ab.absorbrowlog(i) += std::log(sum);
      } else {
        for (int4 b = 0; b < nto; ++b) ab.absorbx(to[b], i) = 0.0;
      }
    }
    std::swap(from, to);
    nfrom = nto;
  }
  // Last link into the last mother's live positions.
  const Link l = open_link(link_between(e[n - 2], e[n - 1], s), e[n - 2]);
  const int4 ncols = live_positions(e[n - 1], s, to);
  dense(l, ncols);
  real8 top = -1e300;  // largest row scale with a positive entry
  for (int4 r = 0; r < nrows; ++r) {
    const int4 i = rows[r];
    real8 rowmax = 0.0;
    for (int4 q = 0; q < nfrom; ++q) {
      const real8 xq = ab.absorbx(from[q], i);
      if (xq == 0.0) continue;
      const real8* t = &ab.absorbt(1, q + 1);
      for (int4 m = 0; m < ncols; ++m) ab.fsprob2(i, to[m], k) += xq * t[m];
    }
    for (int4 m = 0; m < ncols; ++m) rowmax = std::max(rowmax, ab.fsprob2(i, to[m], k));
    if (rowmax > 0.0) top = std::max(top, ab.absorbrowlog(i) + std::log(rowmax));
  }
  if (top <= -1e300) return;  // all zero: settle_table makes the path impossible
  for (int4 r = 0; r < nrows; ++r) {
    const int4 i = rows[r];
    const real8 f = std::exp(ab.absorbrowlog(i) - top);
    for (int4 m = 0; m < ncols; ++m) ab.fsprob2(i, to[m], k) *= f;
  }
  likelihoodvar.layerxlog(s) += top;
}

// Sums out one chain (start father first) found on the layer's graph of state s.
void absorb_chain(int4 layer, const int4* e, int4 n) {
  Absorbvar& ab = absorbvar;
  const int4 s = layer - 1;
  const int4 F = e[0];
  const int4 M = e[n - 1];
  const int4 nf = count_of(F);
  const int4 nm = count_of(M);
  const int4 p = pair_of(F, M);
  const bool fresh = ab.changedpairq(p) == 0;
  const int4 k = fresh ? tables_in_use(layer) + 1 : ab.changedpairq(p);
  chain_table(e, n, fresh ? k : 0, s);
  layer_remove_link(F, link_between(F, e[1], s), s);
  layer_remove_link(M, link_between(M, e[n - 2], s), s);
  for (int4 c = 1; c + 1 < n; ++c) likelihoodvar.layernummate(e[c], s) = 0;
  if (fresh) {
    // A new table: the end pair's own family, when they have one in the graph, joins it once;
    // otherwise the table is their only link.
    if (link_between(F, M, s) == p) {
      const Link l = open_link(p, F);
      for (int4 j = 1; j <= nm; ++j)
        for (int4 i = 1; i <= nf; ++i) ab.fsprob2(i, j, k) *= l(i, j);
    } else {
      append_link(F, p, s);
      append_link(M, p, s);
    }
    number_table(layer, p);
  } else {
    // A further chain of the same father to the same mother: its table multiplies into the one
    // already made.
    for (int4 j = 1; j <= nm; ++j)
      for (int4 i = 1; i <= nf; ++i) ab.fsprob2(i, j, k) *= ab.fsprob2(i, j, 0);
  }
  settle_table(k, nf, nm, s);
}

// One pass of chain absorption on the layer's first visit: searches each start father's
// chains, records them and sums them out. False when the pass made no table.
bool absorbpair_first(int4 layer) {
  Absorbvar& ab = absorbvar;
  const Likelihoodvar& lv = likelihoodvar;
  const int4 s = layer - 1;
  if (tables_in_use(layer) >= ab.fsprob2cap) return false;
  int4 withmates = 0;
  for (int4 c = 1; c <= lv.layercore(0); ++c) {
    const int4 p = lv.layercore(c);
    ab.absorbmark(p) = lv.layernummate(p, s) == 0 ? 1 : 0;
    if (lv.layernummate(p, s) > 0) ++withmates;
  }
  bool made = false;
  int4* buf = &ab.absorbchain(1);
  for (int4 c = 1; c <= lv.layercore(0); ++c) {
    const int4 F = lv.layercore(c);
    if (sex_of(F) != 1) break;
    if (ab.absorbmark(F) != 0 || lv.layernummate(F, s) == 0) continue;
    int4 used = 0, chains = 0;
    for (int4 k = 1; k <= lv.layernummate(F, s); ++k) {
      const int4 M = other(lv.layermate(k, F, s), F);
      if (lv.layernummate(M, s) != 2 || ab.absorbmark(M) != 0) continue;
      int4* e = buf + used;  // kept: the start is stored negated
      int4 n = 0;
      e[n++] = F;
      e[n++] = M;
      int4 before = F, last = M;
      while (n <= withmates) {
        int4 next = other(lv.layermate(1, last, s), last);
        if (next == before) next = other(lv.layermate(2, last, s), last);
        if (ab.absorbmark(next) != 0 || next == F) break;
        e[n++] = next;
        if (lv.layernummate(next, s) != 2) break;
        before = last;
        last = next;
      }
      if (n % 2 == 1) --n;  // a chain ends with a mother
      while (n >= 4 && ab.changedpairq(pair_of(F, e[n - 1])) > 0) n -= 2;
      if (n < 4) continue;
      for (int4 i = 1; i + 1 < n; ++i) ab.absorbmark(e[i]) = 1;
      if (lv.layernummate(e[n - 1], s) == 2) ab.absorbmark(e[n - 1]) = 1;
      if (lv.layernummate(F, s) < 3) ab.absorbmark(F) = 1;
      ab.listdim(1) = std::max(ab.listdim(1), n);
      e[0] = -F;
      used += n;
      ++chains;
      if (n == withmates) break;
    }
    if (chains == 0) continue;
    ab.listdim(2) = std::max(ab.listdim(2), chains);
    if (tables_in_use(layer) + chains > ab.fsprob2cap) break;
    list_room(used);
    for (int4 i = 0; i < used; ++i) ab.absorbpairlist(ab.numpairlist + 1 + i) = buf[i];
    ab.numpairlist += used;
    for (int4 i = 0; i < used;) {
      int4 n = 1;
      while (i + n < used && buf[i + n] > 0) ++n;
      buf[i] = -buf[i];
      absorb_chain(layer, buf + i, n);
      buf[i] = -buf[i];
      i += n;
    }
    made = true;
  }
  return made;
}

// Replays the chains of one pass from the list.
void absorbpair_replay(int4 layer, int4 first, int4 last) {
  Absorbvar& ab = absorbvar;
  int4* buf = &ab.absorbchain(1);
  for (int4 i = first; i <= last;) {
    int4 n = 1;
    buf[0] = -ab.absorbpairlist(i);
    while (i + n <= last && ab.absorbpairlist(i + n) > 0) {
      buf[n] = ab.absorbpairlist(i + n);
      ++n;
    }
    absorb_chain(layer, buf, n);
    i += n;
  }
}

// Sums parent p (one mate left) into its mate in state s; returns the mate.
int4 absorb_one(int4 p, int4 s) {
  Likelihoodvar& lv = likelihoodvar;
  const int4 f = lv.layermate(1, p, s);
  const int4 q = other(f, p);
  const Link l = open_link(f, q);
  const real8* wp = weights(p, s);
  real8* wq = weights(q, s);
  const int4 np = count_of(p);
  for (int4 j = 1; j <= count_of(q); ++j) {
    if (wq[j - 1] == 0.0) continue;
    real8 sum = 0.0;
    for (int4 g = 1; g <= np; ++g)
      if (wp[g - 1] != 0.0) sum += wp[g - 1] * l(j, g);
    wq[j - 1] *= sum;
  }
  lv.layernummate(p, s) = 0;
  layer_remove_link(q, f, s);
  // A mate left without families closes its sum into the path value; one that keeps families
  // carries the absorbed mass in its weights (the layer's cut-offs compare those weights, and
  // the scaling of the layer recursion keeps them within range).
  if (lv.layernummate(q, s) == 0) layer_scale_path(s, weight_sum(q, s));
  return q;
}

// One pass of single absorption on state layer - 1: parents with one mate are summed into it,
// alternating the sexes as mates are left with one mate in turn.
void absorbsingle(int4 pass, int4 layer, bool first) {
  Absorbvar& ab = absorbvar;
  const Likelihoodvar& lv = likelihoodvar;
  const int4 s = layer - 1;
  if (!first && ab.absorbsingleid(pass, layer) == 0) return;
  ab.absorbsingles(0, 1) = 0;
  ab.absorbsingles(0, 2) = 0;
  for (int4 c = 1; c <= lv.layercore(0); ++c) {
    const int4 p = lv.layercore(c);
    if (lv.layernummate(p, s) != 1) continue;
    const int4 x = sex_of(p);
    ab.absorbsingles(++ab.absorbsingles(0, x), x) = p;
  }
  int4 sex = ab.absorbsingles(0, 1) > 0 ? 1 : 2;
  if (first) {
    ab.absorbsingleid(pass, layer) = ab.absorbsingles(0, 1) + ab.absorbsingles(0, 2);
    ab.absorbsinglesex(pass, layer) = static_cast<int1>(sex);
  }
  while (ab.absorbsingles(0, sex) > 0) {
    const int4 o = 3 - sex;
    for (int4 i = 1; i <= ab.absorbsingles(0, sex); ++i) {
      const int4 p = ab.absorbsingles(i, sex);
      if (lv.layernummate(p, s) != 1) continue;
      const int4 q = absorb_one(p, s);
      if (lv.layernummate(q, s) == 1) ab.absorbsingles(++ab.absorbsingles(0, o), o) = q;
    }
    ab.absorbsingles(0, sex) = 0;
    sex = o;
  }
  if (first) {
    bool left = false;
    for (int4 c = 1; c <= lv.layercore(0) && !left; ++c) {
      const int4 p = lv.layercore(c);
      left = sex_of(p) == 1 && lv.layernummate(p, s) > 0;
    }
    if (!left) {
      likelihoodvar.allabsorbedlayer = layer;
      ab.allabsorbedpass = pass;
    }
  }
}

// Sums a group of parallel parents and their mate B out into one table between A and B's third
// mate w, in state layer - 1.
void absorb_group(int4 layer, int4 A, int4 B, int4 w, const int4* members, int4 size) {
  Absorbvar& ab = absorbvar;
  Likelihoodvar& lv = likelihoodvar;
  const int4 s = layer - 1;
  const int4 na = count_of(A);
  const int4 nb = count_of(B);
  real8 lg = 0.0;
  // Positions of weight 0 stay 0 throughout.
  const real8* wa = weights(A, s);
  const real8* wb0 = weights(B, s);
  for (int4 j = 1; j <= nb; ++j)
    for (int4 i = 1; i <= na; ++i)
      ab.fsprob2(i, j, 0) = wa[i - 1] != 0.0 && wb0[j - 1] != 0.0 ? 1.0 : 0.0;
  for (int4 m = 0; m < size; ++m) {
    const int4 g = members[m];
    const int4 fa = link_between(g, A, s);
    const Link la = open_link(fa, g);
    const Link lb = open_link(link_between(g, B, s), g);
    const real8* wg = weights(g, s);
    real8 big = 0.0;
    for (int4 j = 1; j <= nb; ++j) {
      for (int4 i = 1; i <= na; ++i) {
        real8& cell = ab.fsprob2(i, j, 0);
        if (cell == 0.0) continue;
        real8 t = 0.0;
        for (int4 q = 1; q <= count_of(g); ++q)
          if (wg[q - 1] != 0.0) t += wg[q - 1] * la(q, i) * lb(q, j);
        cell *= t;
        big = std::max(big, cell);
      }
    }
    if (big > 0.0) {
      for (int4 j = 1; j <= nb; ++j)
        for (int4 i = 1; i <= na; ++i) ab.fsprob2(i, j, 0) /= big;
      lg += std::log(big);
    }
    lv.layernummate(g, s) = 0;
    layer_remove_link(A, fa, s);
  }
  // B summed out towards w: table (A's position, w's position), stored father first.
  const int4 p = pair_of(A, w);
  const int4 fbw = link_between(B, w, s);
  const Link lw = open_link(fbw, B);
  const real8* wb = weights(B, s);
  const int4 nw = count_of(w);
  const bool afather = sex_of(A) == 1;
  const int4 k = tables_in_use(layer) + 1;
  const bool linked = link_between(A, w, s) == p;
  Link own;
  if (linked) own = open_link(p, A);
  const real8* ww = weights(w, s);
  for (int4 x = 1; x <= nw; ++x) {
    for (int4 i = 1; i <= na; ++i) {
      real8 t = 0.0;
      if (ww[x - 1] != 0.0 && wa[i - 1] != 0.0)
        for (int4 b = 1; b <= nb; ++b)
          if (wb[b - 1] != 0.0) t += ab.fsprob2(i, b, 0) * wb[b - 1] * lw(b, x);
      if (linked) t *= own(i, x);
      if (afather)
        ab.fsprob2(i, x, k) = t;
      else
        ab.fsprob2(x, i, k) = t;
    }
  }
  lv.layernummate(B, s) = 0;
  layer_remove_link(w, fbw, s);
  if (!linked) {
    append_link(A, p, s);
    append_link(w, p, s);
  }
  number_table(layer, p);
  lv.layerxlog(s) += lg;
  if (afather)
    settle_table(k, na, nw, s);
  else
    settle_table(k, nw, na, s);
}

// Records a group in the list (first visit).
void record_group(int4 A, int4 B, int4 w, const int4* members, int4 size) {
  Absorbvar& ab = absorbvar;
  list_room(size + 4);
  int4 at = ab.numpairlist;
  ab.absorbpairlist(++at) = -(size + 3);
  ab.absorbpairlist(++at) = A;
  ab.absorbpairlist(++at) = B;
  ab.absorbpairlist(++at) = w;
  for (int4 m = 0; m < size; ++m) ab.absorbpairlist(++at) = members[m];
  ab.numpairlist = at;
}

// Groups of parents of one sex sharing the same two mates, on the layer's first visit.
void absorbpair2_first(int4 layer) {
  Absorbvar& ab = absorbvar;
  const Likelihoodvar& lv = likelihoodvar;
  const int4 s = layer - 1;
  for (int4 sex = 1; sex <= 2; ++sex) {
    if (tables_in_use(layer) >= ab.fsprob2cap) return;
    // Listed parents: exactly two mates, in layer order; the mark flags one already grouped.
    int4* listed = &ab.absorbchain(1);
    int4 n = 0;
    for (int4 c = 1; c <= lv.layercore(0); ++c) {
      const int4 p = lv.layercore(c);
      if (sex_of(p) != sex || lv.layernummate(p, s) != 2) continue;
      listed[n++] = p;
      ab.absorbmark(p) = 0;
    }
    if (n < 2) continue;
    ab.listdim(3) = std::max(ab.listdim(3), n);
    int4* group = listed + n;
    auto mates = [&](int4 p, int4& m1, int4& m2) {
      m1 = other(lv.layermate(1, p, s), p);
      m2 = other(lv.layermate(2, p, s), p);
      if (m2 < m1) std::swap(m1, m2);
    };
    for (int4 i = 0; i < n; ++i) {
      const int4 p = listed[i];
      if (ab.absorbmark(p) != 0 || lv.layernummate(p, s) != 2) continue;
      int4 m1 = 0, m2 = 0;
      mates(p, m1, m2);
      int4 size = 0;
      group[size++] = p;
      for (int4 j = i + 1; j < n; ++j) {
        const int4 q = listed[j];
        if (ab.absorbmark(q) != 0 || lv.layernummate(q, s) != 2) continue;
        int4 q1 = 0, q2 = 0;
        mates(q, q1, q2);
        if (q1 != m1 || q2 != m2) continue;
        group[size++] = q;
        ab.absorbmark(q) = 1;
      }
      if (tables_in_use(layer) >= ab.fsprob2cap) return;
      if (size == 1) continue;
      int4 A = 0, B = 0, w = 0;
      for (const int4 b : {m1, m2}) {
        if (lv.layernummate(b, s) != size + 1) continue;
        int4 third = 0;
        for (int4 k = 1; k <= lv.layernummate(b, s) && third == 0; ++k) {
          const int4 x = other(lv.layermate(k, b, s), b);
          if (std::find(group, group + size, x) == group + size) third = x;
        }
        const int4 aa = b == m1 ? m2 : m1;
        if (third == 0 || ab.changedpairq(pair_of(aa, third)) >= 1) continue;
        A = aa;
        B = b;
        w = third;
        break;
      }
      if (B == 0) continue;
      ab.doubleabsorb(sex, layer) = 1;
      record_group(A, B, w, group, size);
      absorb_group(layer, A, B, w, group, size);
    }
  }
}

void absorbpair2_replay(int4 layer, int4 first, int4 last) {
  const Absorbvar& ab = absorbvar;
  for (int4 i = first; i <= last;) {
    const int4 len = -ab.absorbpairlist(i);
    absorb_group(layer, ab.absorbpairlist(i + 1), ab.absorbpairlist(i + 2),
                 ab.absorbpairlist(i + 3), &ab.absorbpairlist(i + 4), len - 3);
    i += len + 1;
  }
}

}  // namespace

int4 pair_father(int4 f) {
  return absorbvar.pairparent(1, f);
}
int4 pair_mother(int4 f) {
  return absorbvar.pairparent(2, f);
}

const real8* layer_pair_table(int4 f, std::ptrdiff_t& ld) {
  const Absorbvar& ab = absorbvar;
  if (f > ab.numpairs) return nullptr;  // no pair numbers set up: family tables only
  const int4 k = ab.changedpairq(f);
  if (k <= 0) return nullptr;
  ld = ab.fsprob2.size(1);
  return &ab.fsprob2(1, 1, k);
}

void layer_absorb_setup(int4 cap) {
  const Variables& v = variables;
  const Likelihoodvar& lv = likelihoodvar;
  Absorbvar& ab = absorbvar;
  const int4 np1 = v.npstartloc1(2);
  const int4 np2 = v.nallparent - np1;
  int4 pairs = v.numfsibship;
  for (int4 i = 1; i <= np1; ++i)
    for (int4 j = 1; j <= np2; ++j) pairs = std::max(pairs, lv.fsibid(i, j));
  ab.numpairs = pairs;
  engine::grow(ab.pairparent, Dim(1, 2), Dim(1, std::max(pairs, 1)));
  engine::grow(ab.changedpairq, Dim(1, std::max(pairs, 1)));
  for (int4 i = 1; i <= np1; ++i) {
    for (int4 j = 1; j <= np2; ++j) {
      const int4 f = lv.fsibid(i, j);
      ab.pairparent(1, f) = v.npstartloc1(1) + i;
      ab.pairparent(2, f) = v.npstartloc1(2) + j;
    }
  }
  for (int4 f = 1; f <= pairs; ++f) ab.changedpairq(f) = 0;

  int4 maxsel = 1, ncore = lv.layercore(0);
  for (int4 c = 1; c <= ncore; ++c) maxsel = std::max(maxsel, int4{lv.hsprobdim(lv.layercore(c))});
  ab.fsprob2cap = std::min(v.numfsibship / 2 + 1, ab.fsprob2limit);
  const int4 tables = ab.fsprob2cap;
  engine::grow(ab.fsprob2, {Dim(1, maxsel), Dim(1, maxsel), Dim(0, tables)});
  engine::grow(ab.fsprob2sum, Dim(0, tables));
  engine::grow(ab.changedpairstart, Dim(1, cap));
  engine::grow(ab.changedpairid, Dim(0, tables), Dim(1, cap));
  engine::grow(ab.changedpairlayer, Dim(0, std::max(pairs, 1)), Dim(1, cap));
  engine::grow(ab.changedpairiter, Dim(1, cap));
  engine::grow(ab.layerrange2, Dim(1, cap));
  engine::grow(ab.absorbsingleid, Dim(1, tables), Dim(1, cap));
  engine::grow(ab.absorbsinglesex, Dim(1, tables), Dim(1, cap));
  engine::grow(ab.doubleabsorb, Dim(1, 2), Dim(1, cap));
  engine::grow(ab.absorbpairiter, {Dim(1, 2), Dim(0, tables + 1), Dim(1, cap)});
  engine::grow(ab.absorbmark, Dim(1, std::max(v.nallparent, 1)));
  // A start father's chains hold every interior parent once; the start father and the end
  // mothers repeat, once per chain.
  engine::grow(ab.absorbchain, Dim(1, 4 * std::max(v.nallparent, 1) + 4));
  engine::grow(ab.absorbsingles, Dim(0, std::max(v.nallparent, 1)), Dim(1, 2));
  engine::grow(ab.absorbx, Dim(1, maxsel), Dim(1, maxsel));
  engine::grow(ab.absorbt, Dim(1, maxsel), Dim(1, maxsel));
  engine::grow(ab.absorby, Dim(1, maxsel), Dim(1, maxsel));
  engine::grow(ab.absorblive, Dim(1, maxsel), Dim(1, 3));
  engine::grow(ab.absorbrowlog, Dim(1, maxsel));
  for (int4 L = 1; L <= cap; ++L) {
    ab.changedpairid(0, L) = -1;
    ab.changedpairiter(L) = kUnknown;
    ab.changedpairstart(L) = 0;
    ab.layerrange2(L) = -1e300;
    ab.doubleabsorb(1, L) = 0;
    ab.doubleabsorb(2, L) = 0;
  }
  ab.changedpairnum = 0;
  ab.numpairlist = 0;
  likelihoodvar.allabsorbedlayer = 0;
  ab.allabsorbedpass = 0;
  for (int4 i = 1; i <= 3; ++i) ab.listdim(i) = 0;
}

void prune(int4 layer) {
  Absorbvar& ab = absorbvar;
  const bool first = ab.changedpairid(0, layer) == -1;
  if (first) ab.changedpairstart(layer) = ab.changedpairnum;
  ab.changedpairid(0, layer) = 0;
  if (first) {
    for (int4 r = 1;; ++r) {
      const int4 begin = ab.numpairlist + 1;
      const bool made = absorbpair_first(layer);
      ab.absorbpairiter(1, r, layer) = begin;
      ab.absorbpairiter(2, r, layer) = ab.numpairlist;
      if (!made) {
        ab.changedpairiter(layer) = r - 1;
        break;
      }
      absorbsingle(r, layer, true);
      if (likelihoodvar.allabsorbedlayer == layer && ab.allabsorbedpass == r) {
        ab.changedpairiter(layer) = r;
        break;
      }
    }
  } else {
    for (int4 r = 1; r <= ab.changedpairiter(layer); ++r) {
      absorbpair_replay(layer, ab.absorbpairiter(1, r, layer), ab.absorbpairiter(2, r, layer));
      absorbsingle(r, layer, false);
    }
  }
  const bool empty = likelihoodvar.allabsorbedlayer == layer;
  if (!empty) {
    if (first) {
      const int4 begin = ab.numpairlist + 1;
      absorbpair2_first(layer);
      ab.absorbpairiter(1, 0, layer) = begin;
      ab.absorbpairiter(2, 0, layer) = ab.numpairlist;
    } else {
      absorbpair2_replay(layer, ab.absorbpairiter(1, 0, layer), ab.absorbpairiter(2, 0, layer));
    }
  }
  if (first) {
    ab.changedpairnum = tables_in_use(layer);
    for (int4 i = 1; i <= 3; ++i) ab.listdim(i + 3) = ab.listdim(i);
  }
}

void chknewfsprob(int4 layer, int4& skip) {
  Absorbvar& ab = absorbvar;
  const Likelihoodvar& lv = likelihoodvar;
  const int4 s = layer - 1;
  skip = 0;
  const real8 x = lv.layerxvalue(s);
  if (x <= 0.0) {
    skip = 1;
    return;
  }
  // The tables on the links of the layer's graph: found on the first visit through the fathers
  // that still have mates, then read from the record.
  if (table_count(layer) == 0 && ab.changedpairnum == 0) return;
  if (ab.layerrange2(layer) <= -1e300) {
    int4 n = 0;
    for (int4 c = 1; c <= lv.layercore(0); ++c) {
      const int4 p = lv.layercore(c);
      if (sex_of(p) != 1) break;
      for (int4 k = 1; k <= lv.layernummate(p, s); ++k) {
        const int4 f = lv.layermate(k, p, s);
        if (ab.changedpairq(f) > 0) ab.changedpairlayer(++n, layer) = f;
      }
    }
    ab.changedpairlayer(0, layer) = n;
  }
  real8 lnp = std::log(x) + lv.layerxlog(s);
  for (int4 i = 1; i <= ab.changedpairlayer(0, layer); ++i) {
    const real8 sum = ab.fsprob2sum(ab.changedpairq(ab.changedpairlayer(i, layer)));
    if (sum <= 0.0) {
      skip = 1;
      return;
    }
    lnp += std::log(sum);
  }
  real8& top = ab.layerrange2(layer);
  if (lnp > top) {
    top = lnp;
    return;
  }
  // The relative cut-off of the layer peeling.
  const real8 prec = variables.prec1;
  if (prec > 0.0 && lnp < top + std::log(prec)) {
    skip = 1;
    likelihoodvar.layercut = 1;
  }
}

void clear_changed_pairs(int4 layer) {
  Absorbvar& ab = absorbvar;
  for (int4 i = 1; i <= ab.changedpairid(0, layer); ++i)
    ab.changedpairq(ab.changedpairid(i, layer)) = 0;
}

}  // namespace kinrad
