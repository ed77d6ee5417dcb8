#include <algorithm>
#include <cassert>

#include "configuration/configuration.hpp"
#include "configuration/configuration_internal.hpp"
#include "core/modules/annealvariables.hpp"
#include "core/modules/configuration_work.hpp"
#include "core/modules/variables.hpp"

namespace kinrad {

int4 number_pairs(int4 m, const std::vector<int4>& a, const std::vector<int4>& b, int4 na, int4 nb,
                  std::vector<int4>& fam, std::vector<int4>& mates1, std::vector<int4>& mates2) {
  auto& w = configuration_work.family;
  fit(w.bucket, na + 1);
  fit(w.order, m);
  fit(w.mark, nb);
  fit(w.prov, m);
  fit(w.firstpos, m);
  fit(w.newid, m);
  fit(w.posfam, m);
  fit(fam, m);
  fit(mates1, na);
  fit(mates2, nb);
  // Rows grouped by their first member, in row order within a group (a stable counting sort);
  // bucket[i] ends as the last position of group i.
  std::fill_n(w.bucket.begin(), na + 2, 0);
  for (int4 j = 1; j <= m; ++j) ++w.bucket[static_cast<std::size_t>(a[j]) + 1];
  for (int4 i = 1; i <= na; ++i) w.bucket[i] += w.bucket[i - 1];
  for (int4 j = 1; j <= m; ++j) w.order[++w.bucket[a[j]]] = j;
  // Within a group a mark per second member finds the pairs met before.
  std::fill_n(w.mark.begin(), nb + 1, 0);
  int4 q = 0;
  int4 begin = 0;
  for (int4 i = 1; i <= na; ++i) {
    const int4 end = w.bucket[i];
    for (int4 t = begin + 1; t <= end; ++t) {
      const int4 j = w.order[t];
      int4& mk = w.mark[b[j]];
      if (mk == 0) {
        mk = ++q;
        w.firstpos[q] = j;
      }
      w.prov[j] = mk;
    }
    for (int4 t = begin + 1; t <= end; ++t) w.mark[b[w.order[t]]] = 0;
    begin = end;
  }
  // Renumber the pairs by the row of their first appearance.
  std::fill_n(w.posfam.begin(), m + 1, 0);
  for (int4 p = 1; p <= q; ++p) w.posfam[w.firstpos[p]] = p;
  int4 f = 0;
  for (int4 j = 1; j <= m; ++j)
    if (w.posfam[j] != 0) w.newid[w.posfam[j]] = ++f;
  for (int4 j = 1; j <= m; ++j) fam[j] = w.newid[w.prov[j]];
  std::fill_n(mates1.begin(), na + 1, 0);
  std::fill_n(mates2.begin(), nb + 1, 0);
  for (int4 p = 1; p <= q; ++p) {
    const int4 j = w.firstpos[p];
    ++mates1[a[j]];
    ++mates2[b[j]];
  }
  return q;
}

void check_scratch_marks_clear() {
#ifndef NDEBUG
  const auto& av = annealvariables;
  for (const auto x : av.selectedprntidxq1) assert(x == 0);
  for (const auto x : av.selectedprntidxq2) assert(x == 0);
  for (const auto x : av.selectedprntidxq3) assert(x == 0);
#endif
}

namespace {

// The picture's family lists from the member positions rowlist[1..nm], their local parents
// la/lb and family numbers famof (all indexed by member position).
void fill_families(int4 nm, int4 nfam) {
  auto& w = configuration_work.family;
  fit(w.famparent1, nfam);
  fit(w.famparent2, nfam);
  fit(w.famloc, nfam + 1);
  fit(w.fill, nfam + 1);
  fit(w.member, nm);
  std::fill_n(w.fill.begin(), nfam + 2, 0);
  for (int4 t = 1; t <= nm; ++t) {
    const int4 f = w.famof[t];
    if (w.fill[f] == 0) {
      w.famparent1[f] = w.la[t];
      w.famparent2[f] = w.lb[t];
    }
    ++w.fill[f];
  }
  int4 largest = 0;
  w.famloc[1] = 0;
  for (int4 f = 1; f <= nfam; ++f) {
    largest = std::max(largest, w.fill[f]);
    w.famloc[f + 1] = w.famloc[f] + w.fill[f];
    w.fill[f] = w.famloc[f];
  }
  for (int4 t = 1; t <= nm; ++t)
    w.member[++w.fill[w.famof[t]]] = static_cast<int2>(w.off[w.rowlist[t]]);
  w.numberfsfamily = nfam;
  w.nmember = nm;
  w.maxfamsize = largest;
}

void write_cluster_ids(int4 nm) {
  auto& w = configuration_work.family;
  auto& id = annealvariables.indivclusterid;
  for (int4 t = 1; t <= nm; ++t) {
    const int4 i = w.off[w.rowlist[t]];
    family_group_member_changed(i);
    id(i, 1) = w.la[t];
    id(i, 2) = w.lb[t];
    id(i, 3) = w.famof[t];
  }
}

// All nrow rows are one full-sib family, as the caller guarantees.
void build_one_family(int4 nrow, int4 wantclusterid) {
  auto& v = variables;
  auto& w = configuration_work.family;
  fit(w.rowlist, nrow);
  fit(w.la, nrow);
  fit(w.lb, nrow);
  fit(w.famof, nrow);
  for (int4 t = 1; t <= nrow; ++t) {
    w.rowlist[t] = t;
    w.la[t] = 1;
    w.lb[t] = 1;
    w.famof[t] = 1;
  }
  w.nparent(1) = 1;
  w.nparent(2) = 1;
  w.maxnumpartner(1) = 1;
  w.maxnumpartner(2) = 1;
  fill_families(nrow, 1);
  // Members in offspring order, except under double monogamy, where row order is kept.
  if (v.allmonogamy != 1) std::sort(w.member.begin() + 1, w.member.begin() + 1 + nrow);
  fit(w.parentfam1, 1);
  fit(w.parentfam2, 1);
  const int4 r1 = v.indivorder(1);
  w.parentfam1[1] = v.indivlocprt(r1, 1);
  w.parentfam2[1] = v.indivlocprt(r1, 2);
  if (v.numsex == 1) {
    fit(w.parentjdx1, 1);
    fit(w.parentjdx2, 1);
    const int4 selfed = w.parentfam1[1] == w.parentfam2[1] ? 1 : 0;
    w.parentjdx1[1] = selfed;
    w.parentjdx2[1] = selfed;
  }
  if (wantclusterid > 0) write_cluster_ids(nrow);
}

// The member rows of the seed's component: a breadth-first search from window father seedw
// over parent -> rows, which finds the fathers and mothers joined by offspring (in one parent
// pool, with shared numbering: the individuals joined by offspring).
void mark_component(int4 nrow, int4 k1, int4 k2, int4 seedw, bool pool) {
  auto& w = configuration_work.family;
  const int4 nodes = pool ? k1 : k1 + k2;
  const int4 shift = pool ? 0 : k1;
  fit(w.adjloc, nodes);
  fit(w.adjrow, 2 * nrow);
  fit(w.seen, nodes);
  fit(w.queue, nodes);
  std::fill_n(w.adjloc.begin(), nodes + 1, 0);
  std::fill_n(w.seen.begin(), nodes + 1, 0);
  for (int4 j = 1; j <= nrow; ++j) {
    const int4 a = w.pid1[j];
    const int4 b = w.pid2[j] + shift;
    ++w.adjloc[a];
    if (b != a) ++w.adjloc[b];
  }
  int4 sum = 0;
  for (int4 x = 1; x <= nodes; ++x) {
    const int4 c = w.adjloc[x];
    w.adjloc[x] = sum;
    sum += c;
  }
  for (int4 j = 1; j <= nrow; ++j) {
    const int4 a = w.pid1[j];
    const int4 b = w.pid2[j] + shift;
    w.adjrow[++w.adjloc[a]] = j;
    if (b != a) w.adjrow[++w.adjloc[b]] = j;
  }
  // adjloc[x] is now the last position of node x's rows; node x starts after adjloc[x - 1].
  int4 head = 0;
  int4 tail = 0;
  w.queue[++tail] = seedw;
  w.seen[seedw] = 1;
  while (head < tail) {
    const int4 x = w.queue[++head];
    for (int4 t = w.adjloc[x - 1] + 1; t <= w.adjloc[x]; ++t) {
      const int4 j = w.adjrow[t];
      if (w.memb[j]) continue;
      w.memb[j] = 1;
      const int4 a = w.pid1[j];
      const int4 b = w.pid2[j] + shift;
      if (!w.seen[a]) {
        w.seen[a] = 1;
        w.queue[++tail] = a;
      }
      if (!w.seen[b]) {
        w.seen[b] = 1;
        w.queue[++tail] = b;
      }
    }
  }
}

}  // namespace

void familybuild(int4 seed, int4 nrow, int4 mode, int4& nmember, int4& maxfamsize,
                 int4 wantstructure, int4 wantclusterid, int4 onefamily, int4 takeall) {
  auto& v = variables;
  auto& w = configuration_work.family;
  auto& map = annealvariables.selectedprntidxq1;
  const auto& win = v.indivlocprt;
  const auto& ord = v.indivorder;
  const bool pool = v.numsex == 1;
  const bool dmono = v.numsex == 2 && v.allmonogamy == 1;

  fit(w.off, nrow);
  fit(w.pid1, nrow);
  fit(w.pid2, nrow);
  fit(w.memb, nrow);
  for (int4 j = 1; j <= nrow; ++j) w.off[j] = mode == 1 ? win(ord(j), 4) : ord(j);

  if (onefamily != 0) {
    build_one_family(nrow, wantstructure != 0 ? 0 : wantclusterid);
    nmember = w.nmember;
    maxfamsize = w.maxfamsize;
    publish_family_structure(wantstructure);
    check_scratch_marks_clear();
    return;
  }

  // Window numbering of the family ids by first appearance; in one parent pool both columns
  // share it, under double monogamy only fathers are numbered.
  fit(w.wfam1, pool ? 2 * nrow : nrow);
  fit(w.wfam2, nrow);
  int4 k1 = 0;
  int4 k2 = 0;
  bool fathers_cleared = false;
  for (int4 j = 1; j <= nrow; ++j) {
    const int4 id = win(ord(j), 1);
    if (map(id) == 0) {
      map(id) = ++k1;
      w.wfam1[k1] = id;
    }
    w.pid1[j] = map(id);
  }
  const int4 seedw = seed > 0 ? map(seed) : 0;
  if (pool) {
    for (int4 j = 1; j <= nrow; ++j) {
      const int4 id = win(ord(j), 2);
      if (map(id) == 0) {
        map(id) = ++k1;
        w.wfam1[k1] = id;
      }
      w.pid2[j] = map(id);
    }
    k2 = k1;
  } else if (!dmono) {
    // Fathers and mothers are numbered apart.
    for (int4 x = 1; x <= k1; ++x) map(w.wfam1[x]) = 0;
    fathers_cleared = true;
    for (int4 j = 1; j <= nrow; ++j) {
      const int4 id = win(ord(j), 2);
      if (map(id) == 0) {
        map(id) = ++k2;
        w.wfam2[k2] = id;
      }
      w.pid2[j] = map(id);
    }
    for (int4 x = 1; x <= k2; ++x) map(w.wfam2[x]) = 0;
  }
  if (!fathers_cleared)
    for (int4 x = 1; x <= k1; ++x) map(w.wfam1[x]) = 0;

  // Members. The walk from the seed's father is a breadth-first search over parent -> rows,
  // which finds the connected component of fathers and mothers joined by offspring (in one
  // parent pool: of individuals joined by offspring).
  std::fill_n(w.memb.begin(), nrow + 1, 0);
  if (dmono) {
    const int4 fw = seed > 0 ? seedw : (nrow > 0 ? w.pid1[1] : 0);
    for (int4 j = 1; j <= nrow; ++j) w.memb[j] = w.pid1[j] == fw ? 1 : 0;
  } else if (seed == 0 || takeall != 0) {
    std::fill_n(w.memb.begin() + 1, nrow, 1);
  } else if (seedw > 0) {
    mark_component(nrow, k1, k2, seedw, pool);
  }
  assert(seed == 0 || dmono || takeall != 0 || seedw > 0);

  // Parents numbered per sex (per role) by first appearance over the member rows.
  fit(w.rowlist, nrow);
  int4 nm = 0;
  for (int4 j = 1; j <= nrow; ++j)
    if (w.memb[j]) w.rowlist[++nm] = j;
  fit(w.loc1, k1);
  fit(w.loc2, std::max(k2, 1));
  std::fill_n(w.loc1.begin(), k1 + 1, 0);
  std::fill_n(w.loc2.begin(), std::max(k2, 1) + 1, 0);
  fit(w.la, nm);
  fit(w.lb, nm);
  fit(w.parentfam1, nm);
  fit(w.parentfam2, nm);
  int4 np1 = 0;
  int4 np2 = 0;
  for (int4 t = 1; t <= nm; ++t) {
    const int4 j = w.rowlist[t];
    int4& l1 = w.loc1[w.pid1[j]];
    if (l1 == 0) {
      l1 = ++np1;
      w.parentfam1[np1] = w.wfam1[w.pid1[j]];
    }
    w.la[t] = l1;
    if (dmono) {
      if (np2 == 0) {
        np2 = 1;
        w.parentfam2[1] = win(ord(j), 2);
      }
      w.lb[t] = 1;
    } else {
      int4& l2 = w.loc2[w.pid2[j]];
      if (l2 == 0) {
        l2 = ++np2;
        w.parentfam2[np2] = pool ? w.wfam1[w.pid2[j]] : w.wfam2[w.pid2[j]];
      }
      w.lb[t] = l2;
    }
  }
  w.nparent(1) = std::max(np1, 1);
  w.nparent(2) = std::max(np2, 1);

  // Full-sib families by first appearance of their parent pair.
  const int4 nfam = number_pairs(nm, w.la, w.lb, np1, np2, w.famof, w.mates1, w.mates2);
  int4 most1 = 0;
  int4 most2 = 0;
  for (int4 i = 1; i <= np1; ++i) most1 = std::max(most1, w.mates1[i]);
  for (int4 i = 1; i <= np2; ++i) most2 = std::max(most2, w.mates2[i]);
  w.maxnumpartner(1) = most1;
  w.maxnumpartner(2) = most2;
  fill_families(nm, nfam);

  if (wantstructure == 0 && wantclusterid > 0) write_cluster_ids(nm);

  if (pool) {
    // A parent acting in both roles: its role-2 index beside its role-1 index and back.
    const int4 m = std::max(np1, np2);
    fit(w.parentjdx1, m);
    fit(w.parentjdx2, m);
    std::fill_n(w.parentjdx1.begin(), m + 1, 0);
    std::fill_n(w.parentjdx2.begin(), m + 1, 0);
    for (int4 t = 1; t <= nm; ++t) {
      const int4 x = w.pid1[w.rowlist[t]];
      const int4 other = w.loc2[x];
      if (other != 0) {
        w.parentjdx1[w.loc1[x]] = other;
        w.parentjdx2[other] = w.loc1[x];
      }
    }
  }

  nmember = nm;
  maxfamsize = w.maxfamsize;
  publish_family_structure(wantstructure);
  check_scratch_marks_clear();
}

void familybuild1(int4& nmember, int4 sex, int4 wantstructure, int4 wantclusterid, int4 nrow,
                  int4 parentid) {
  auto& v = variables;
  auto& w = configuration_work.family;
  auto& map = annealvariables.selectedprntidxq1;
  const auto& win = v.indivlocprt;
  const auto& ord = v.indivorder;
  const int other = 3 - sex;

  fit(w.off, nrow);
  fit(w.rowlist, nrow);
  fit(w.la, nrow);
  fit(w.lb, nrow);
  fit(w.famof, nrow);
  fit(w.wfam2, nrow);
  // The rows of the parent, in row order; the offspring number is in window column 4.
  int4 nm = 0;
  int4 nmate = 0;
  for (int4 j = 1; j <= nrow; ++j) {
    const int4 r = ord(j);
    w.off[j] = win(r, 4);
    if (parentid >= 1 && win(r, sex) != parentid) continue;
    w.rowlist[++nm] = j;
    const int4 id = win(r, other);
    if (map(id) == 0) {
      map(id) = ++nmate;
      w.wfam2[nmate] = id;
    }
    w.famof[nm] = map(id);
    w.la[nm] = sex == 1 ? 1 : map(id);
    w.lb[nm] = sex == 1 ? map(id) : 1;
  }
  for (int4 x = 1; x <= nmate; ++x) map(w.wfam2[x]) = 0;

  w.nparent(sex) = 1;
  w.nparent(other) = nmate;
  w.maxnumpartner(sex) = nmate;
  w.maxnumpartner(other) = 1;
  fill_families(nm, nmate);
  fit(w.parentfam1, std::max(nmate, 1));
  fit(w.parentfam2, std::max(nmate, 1));
  auto& own = sex == 1 ? w.parentfam1 : w.parentfam2;
  auto& mates = sex == 1 ? w.parentfam2 : w.parentfam1;
  own[1] = nm > 0 ? win(ord(w.rowlist[1]), sex) : parentid;
  for (int4 x = 1; x <= nmate; ++x) mates[x] = w.wfam2[x];
  if (wantstructure == 0 && wantclusterid > 0) write_cluster_ids(nm);

  nmember = nm;
  publish_family_structure(wantstructure, false, true);
  check_scratch_marks_clear();
}

}  // namespace kinrad
