// The archive of the best distinct configurations met: a list sorted by non-increasing score
// that owns its records, with the duplicate tests that keep one record per configuration.
#include <algorithm>
#include <cassert>
#include <cmath>

#include "configuration/configuration.hpp"
#include "configuration/configuration_internal.hpp"
#include "core/modules/annealvariables.hpp"
#include "core/modules/configuration_work.hpp"
#include "core/modules/variables.hpp"
#include "core/sorting.hpp"

namespace kinrad {

namespace {

// Records kept after an insertion that tests for duplicates.
constexpr int4 archive_cap = 1000;

// Rows i of a group table: the members' family ids in one configuration. A group holds no more
// than the sample, so a growing table takes the sample's size at once.
template <class T>
void fit_table(FArray<T, 2>& a, int4 n) {
  if (a.allocated() && a.size(1) >= n) return;
  if (!a.try_allocate(Dim(std::max({n, variables.smplsize, 1})), Dim(2))) stoponerror(0, "Update");
}

// True when keys a(1..n) and b(1..n) split the n items alike: equal a-keys have equal b-keys
// and different a-keys different b-keys.
bool same_partition(int4 n, const real8* a, const real8* b, std::vector<int4>& idx) {
  fit(idx, n);
  for (int pass = 0; pass < 2; ++pass) {
    const real8* p = pass == 0 ? a : b;
    const real8* q = pass == 0 ? b : a;
    indexx(n, p, &idx[1]);
    for (int4 k = 2; k <= n; ++k) {
      const int4 i = idx[static_cast<std::size_t>(k)] - 1;
      const int4 h = idx[static_cast<std::size_t>(k - 1)] - 1;
      if (p[i] == p[h] && q[i] != q[h]) return false;
    }
  }
  return true;
}

// The grouping column a mode-2 test reads in a stored record: the clusters when they are
// stored, else the family column that determines them under monogamy.
const FArray<std::uint16_t, 1>& grouping_column(const Config& r) {
  const auto& v = variables;
  if (v.anymonogamy == 0 || v.numsex == 1) return r.clust;
  if (v.monogamy(1) == 1 && v.monogamy(2) == 1) return r.fam1;
  return v.monogamy(1) == 1 ? r.fam2 : r.fam1;
}

// The groups of the new configuration whose members are compared record by record, listed
// once per call: their members back to back in `members`, group g from start[g] to
// start[g + 1] - 1.
struct Groups {
  std::vector<int4>* members = nullptr;
  std::vector<int4>* start = nullptr;
  int4 count = 0;
};

Groups list_groups(int4 mode, int4 nclust) {
  auto& v = variables;
  auto& w = configuration_work.tables;
  const int4 n = v.smplsize;
  fit(w.members, n);
  fit(w.order, n + 1);
  Groups g{&w.members, &w.order, 0};
  if (mode == 2) {
    int4 put = 0;
    for (int4 k = 1; k <= nclust; ++k) {
      if (!v.indivcluster(k).allocated()) continue;
      const auto& list = v.indivcluster(k);
      w.order[static_cast<std::size_t>(++g.count)] = put + 1;
      for (index_t t = 1; t <= list.size(1); ++t)
        w.members[static_cast<std::size_t>(++put)] = list(t);
    }
    w.order[static_cast<std::size_t>(g.count + 1)] = put + 1;
    return g;
  }
  // Runs of equal cluster number after ordering the offspring by it.
  const auto& loc = v.indivlocprt;
  fit(w.sorted, n);
  for (int4 i = 1; i <= n; ++i) w.sorted[static_cast<std::size_t>(i)] = loc(i, 3);
  indexquick2(n, &w.sorted[1], &w.members[1]);
  for (int4 k = 1; k <= n; ++k) {
    const int4 i = w.members[static_cast<std::size_t>(k)];
    if (k == 1 || loc(i, 3) != loc(w.members[static_cast<std::size_t>(k - 1)], 3))
      w.order[static_cast<std::size_t>(++g.count)] = k;
  }
  w.order[static_cast<std::size_t>(g.count + 1)] = n + 1;
  return g;
}

// The moved-offspring test of a mode-2 comparison: every moved offspring shares as many
// families with the drawn one in the new configuration as in the decoded record.
bool moved_offspring_agree() {
  const auto& v = variables;
  const auto& av = annealvariables;
  const auto& c = v.indivlocprt;
  const auto& r = v.offtgt;
  const bool pool = v.numsex == 1;
  const int4 mi = av.moveindiv;
  const int4 a1 = c(mi, 1), a2 = c(mi, 2), b1 = r(mi, 1), b2 = r(mi, 2);
  const bool drawn_agrees = a1 == b1 && a2 == b2;
  auto shared = [pool](int4 x1, int4 x2, int4 p1, int4 p2) {
    if (pool) return (x1 == p1) + (x1 == p2) + (x2 == p1) + (x2 == p2);
    return (x1 == p1) + (x2 == p2);
  };
  for (int4 row = 1; row <= av.numindiv(2); ++row) {
    const int4 o = av.indivloc2(row, 4);
    if (o == mi) continue;
    const int4 x1 = c(o, 1), x2 = c(o, 2), y1 = r(o, 1), y2 = r(o, 2);
    if (drawn_agrees && x1 == y1 && x2 == y2) continue;
    if (shared(x1, x2, a1, a2) != shared(y1, y2, b1, b2)) return false;
  }
  return true;
}

// The group tests of one decoded record (offtgt/prnttgt) against the new configuration.
bool groups_agree(const Groups& g) {
  auto& v = variables;
  auto& w = configuration_work.tables;
  const auto& c = v.indivlocprt;
  const auto& cp = v.inferparentprt;
  const bool pool = v.numsex == 1;
  const bool dmono = v.numsex == 2 && v.monogamy(1) == 1 && v.monogamy(2) == 1;
  const bool haploids = v.smplsizedh(1) > 0;
  const auto& members = *g.members;
  const auto& start = *g.start;
  for (int4 k = 1; k <= g.count; ++k) {
    const int4 from = start[static_cast<std::size_t>(k)];
    const int4 m = start[static_cast<std::size_t>(k + 1)] - from;
    if (m < 2) continue;
    const int4* list = &members[static_cast<std::size_t>(from)];
    if (pool)
      for (int4 t = 0; t < m; ++t) {
        const int4 o = list[t];
        if ((c(o, 1) == c(o, 2)) != (v.offtgt(o, 1) == v.offtgt(o, 2))) return false;
      }
    if (dmono) {
      for (int4 t = 1; t < m; ++t)
        if (v.offtgt(list[t], 1) != v.offtgt(list[0], 1)) return false;
    } else {
      fit_table(w.ca, m);
      fit_table(w.cb, m);
      for (int4 t = 0; t < m; ++t)
        for (int4 col = 1; col <= 2; ++col) {
          w.ca(t + 1, col) = c(list[t], col);
          w.cb(t + 1, col) = v.offtgt(list[t], col);
        }
      int4 diff = 1;
      noneqtcluster(w.ca, w.cb, m, list, diff);
      if (diff != 0) return false;
    }
    if (v.allcandidate >= 1) {
      if (dmono) {
        for (int4 s = 1; s <= 2; ++s) {
          if (v.numcandidate(s) < 1) continue;
          for (int4 t = 0; t < m; ++t) {
            const int4 o = list[t];
            // Haploid offspring have no father.
            if (s == 1 && haploids && v.offploid(o) != 2) continue;
            if (cp(o, s) != v.prnttgt(o, s)) return false;
          }
        }
      } else {
        fit_table(w.ca, m);
        fit_table(w.cb, m);
        for (int4 t = 0; t < m; ++t)
          for (int4 s = 1; s <= 2; ++s) {
            w.ca(t + 1, s) = cp(list[t], s);
            w.cb(t + 1, s) = v.prnttgt(list[t], s);
          }
        int4 diff = 1;
        diffinferprnt(w.ca, w.cb, m, diff);
        if (diff != 0) return false;
      }
    }
  }
  return true;
}

// True when the archived record r holds the configuration seen through the views.
bool duplicates(int4 mode, int4 nclust, const Config& r, int4 signature, const Groups& g) {
  auto& v = variables;
  const auto& av = annealvariables;
  if (mode == 2) {
    if (r.nclust != nclust) return false;
    if (nclust >= 2) {
      if (r.signature != signature) return false;
      const auto& col = grouping_column(r);
      for (int4 k = 1; k <= g.count; ++k) {
        const int4 from = (*g.start)[static_cast<std::size_t>(k)];
        const int4 to = (*g.start)[static_cast<std::size_t>(k + 1)];
        const auto first = col((*g.members)[static_cast<std::size_t>(from)]);
        for (int4 t = from + 1; t < to; ++t)
          if (col((*g.members)[static_cast<std::size_t>(t)]) != first) return false;
      }
    }
  }
  v.crrtconfig = const_cast<Config*>(&r);
  real8 logl = 0.0;
  convertconfig(2, logl);
  v.crrtconfig = nullptr;
  const bool dmono_all = v.numsex == 2 && v.allmonogamy != 0;
  if (mode == 2 && !dmono_all && av.numindiv(2) >= 2 && v.chkidx1 != v.chkidx2 &&
      v.haplodiploid == 0 && !moved_offspring_agree())
    return false;
  return groups_agree(g);
}

void unlink_free_after(Config* last) {
  auto& v = variables;
  Config* p = last != nullptr ? last->next : v.confighead;
  if (last != nullptr)
    last->next = nullptr;
  else
    v.confighead = nullptr;
  while (p != nullptr) {
    Config* next = p->next;
    v.deleteconfig = p;
    deallocateconfig();
    p = next;
  }
  v.configtail = last;
}

}  // namespace

bool archiveconfigadd(int4 mode, int4 nclust) {
  auto& v = variables;
  if (v.confighead != nullptr && mode < 3) {
    const real8 score = *v.loglikelihoodprt;
    // The window of scores within which an archived record may be the same configuration.
    real8 tol = 1e-5 * std::abs(score);
    tol = std::min(tol, v.fulllikelihoodmethodq == 1 ? 10.0 : 0.1);
    if (v.numsex == 1) tol = std::max(tol, 5.0 * v.priortype + 0.5);
    const real8 lo = score - tol, hi = score + tol;
    if (v.confighead->logl >= lo) {
      bool listed = false;
      Groups g{};
      int4 signature = 0;
      if (mode == 2 && nclust >= 2) signature = charactervalue(nclust);
      for (const Config* r = v.confighead; r != nullptr && r->logl >= lo; r = r->next) {
        if (!(lo < r->logl && r->logl < hi)) continue;
        if (!listed) {
          g = list_groups(mode, nclust);
          listed = true;
        }
        if (duplicates(mode, nclust, *r, signature, g)) {
          check_scratch_marks_clear();
          return false;
        }
      }
    }
  }
  newconfig(nclust);
  Config* c = v.configptr;
  if (v.confighead == nullptr) {
    c->next = nullptr;
    v.confighead = v.configtail = c;
  } else if (c->logl >= v.confighead->logl) {
    c->next = v.confighead;
    v.confighead = c;
  } else if (v.configtail->logl > c->logl) {
    v.configtail->next = c;
    c->next = nullptr;
    v.configtail = c;
  } else {
    // In front of the first record not above it, so that it precedes records of equal score.
    Config* before = v.confighead;
    while (before->next != nullptr && before->next->logl > c->logl) before = before->next;
    c->next = before->next;
    before->next = c;
  }
  bool kept = true;
  if (mode < 3) {
    int4 count = 0;
    Config* prev = nullptr;
    for (Config* p = v.confighead; p != nullptr; p = p->next) {
      if (++count > archive_cap) {
        kept = p != c;
        unlink_free_after(prev);
        break;
      }
      prev = p;
    }
  }
  v.configptr = kept ? c : nullptr;
  check_scratch_marks_clear();
  return kept;
}

void archiveconfigremove() {
  auto& v = variables;
  if (v.confighead == nullptr || v.configtail->logl >= v.minloglikelihood) return;
  if (v.confighead->logl < v.minloglikelihood) {
    unlink_free_after(nullptr);
    return;
  }
  Config* last = v.confighead;
  while (last->next != nullptr && last->next->logl >= v.minloglikelihood) last = last->next;
  unlink_free_after(last);
}

void archiveconfigremoveall() {
  unlink_free_after(nullptr);
  variables.configptr = nullptr;
}

void size_archive_work() {
  auto& w = configuration_work.tables;
  const int4 n = std::max(variables.smplsize, 1);
  fit(w.famcount, n);
  fit(w.famcount2, n);
  fit(w.order, n);
  fit(w.members, n);
  fit(w.sorted, n);
  fit(w.key1, n);
  fit(w.key2, n);
  fit(w.x1, n);
  fit(w.x2, n);
  fit(w.y1, n);
  fit(w.y2, n);
  fit(w.parents, 2 * n);
  fit(w.pairs, n);
  fit(w.agree, n);
  fit_table(w.ca, n);
  fit_table(w.cb, n);
}

void equalconfigtest(int4& eq) {
  auto& v = variables;
  auto& w = configuration_work.tables;
  const int4 n = v.smplsize;
  eq = 0;
  if (v.crloglikelihood - v.btloglikelihood > 0.1) return;
  if (v.crnumfamily(3) != v.btnumfamily(3)) return;
  if (!(v.anymonogamy == 1 && v.haplodiploid != 1))
    if (v.crnumfamily(1) != v.btnumfamily(1) || v.crnumfamily(2) != v.btnumfamily(2)) return;
  if (v.numsex == 2) {
    for (int4 s = 1; s <= 2; ++s) {
      if (v.numcandidate(s) < 1) continue;
      for (int4 i = 1; i <= n; ++i)
        if (v.inferparent(i, s) != v.btinferparent(i, s)) return;
    }
  } else {
    if (v.numcandidate(1) >= 2)
      for (int4 i = 1; i <= n; ++i) {
        const int4 a1 = v.inferparent(i, 1), a2 = v.inferparent(i, 2);
        const int4 b1 = v.btinferparent(i, 1), b2 = v.btinferparent(i, 2);
        if (!((a1 == b1 && a2 == b2) || (a1 == b2 && a2 == b1))) return;
      }
    int4 diff = 1;
    noneqtselfing(v.crindivloc, v.btindivloc, n, diff);
    if (diff != 0) return;
  }
  const int4 nclust = v.crnumfamily(3);
  if (nclust == 0) {
    eq = 1;
    return;
  }
  if (nclust == 1) {
    for (int4 i = 2; i <= n; ++i)
      if (v.btindivloc(i, 3) != v.btindivloc(1, 3)) return;
  }
  for (int4 k = 1; k <= nclust; ++k) {
    if (!v.indivcluster(k).allocated()) continue;
    const auto& list = v.indivcluster(k);
    const auto m = static_cast<int4>(list.size(1));
    if (nclust > 1)
      for (int4 t = 2; t <= m; ++t)
        if (v.btindivloc(list(t), 3) != v.btindivloc(list(1), 3)) return;
    fit(w.members, m);
    fit_table(w.ca, m);
    fit_table(w.cb, m);
    for (int4 t = 1; t <= m; ++t) {
      const int4 o = list(t);
      w.members[static_cast<std::size_t>(t)] = o;
      for (int4 col = 1; col <= 2; ++col) {
        w.ca(t, col) = v.crindivloc(o, col);
        w.cb(t, col) = v.btindivloc(o, col);
      }
    }
    int4 diff = 1;
    noneqtcluster(w.ca, w.cb, m, &w.members[1], diff);
    if (diff != 0) return;
  }
  eq = 1;
}

void noneqtcluster(const FArray<int4, 2>& a, const FArray<int4, 2>& b, int4 n, const int4* members,
                   int4& diff) {
  auto& v = variables;
  auto& w = configuration_work.tables;
  diff = 1;
  if (n < 1) {
    diff = 0;
    return;
  }
  const int4 c1 = v.chkidx1, c2 = v.chkidx2;
  const bool two = c1 != c2;
  const bool pool = v.numsex == 1;
  fit(w.x1, n);
  fit(w.x2, n);
  fit(w.y1, n);
  fit(w.y2, n);
  for (int4 i = 1; i <= n; ++i) {
    const auto k = static_cast<std::size_t>(i);
    w.x1[k] = a(i, c1);
    w.y1[k] = b(i, c1);
    w.x2[k] = two ? a(i, c2) : 0;
    w.y2[k] = two ? b(i, c2) : 0;
  }
  if (two && v.smplsizedh(1) > 0) {
    // Haploid offspring have no father of their own: a haploid member keeps its paternal id
    // when a diploid member has the same two parents, and otherwise takes a paternal family of
    // its own per mother, in each configuration alike.
    for (int pass = 0; pass < 2; ++pass) {
      auto& p1 = pass == 0 ? w.x1 : w.y1;
      auto& p2 = pass == 0 ? w.x2 : w.y2;
      w.pairs.clear();
      for (int4 i = 1; i <= n; ++i)
        if (v.offploid(members[i - 1]) == 2)
          w.pairs.emplace_back(p1[static_cast<std::size_t>(i)], p2[static_cast<std::size_t>(i)]);
      std::sort(w.pairs.begin(), w.pairs.end());
      for (int4 i = 1; i <= n; ++i) {
        const auto k = static_cast<std::size_t>(i);
        if (v.offploid(members[i - 1]) == 2) continue;
        if (!std::binary_search(w.pairs.begin(), w.pairs.end(), std::pair{p1[k], p2[k]}))
          p1[k] = -p2[k];
      }
    }
  }
  bool same1 = true, same2 = true;
  for (int4 i = 1; i <= n; ++i) {
    const auto k = static_cast<std::size_t>(i);
    same1 = same1 && w.x1[k] == w.y1[k];
    same2 = same2 && w.x2[k] == w.y2[k];
  }
  if (same1 && same2) {
    diff = 0;
    return;
  }
  fit(w.key1, n);
  fit(w.key2, n);
  auto compare_column = [&](const std::vector<int4>& x, const std::vector<int4>& y) {
    for (int4 i = 1; i <= n; ++i) {
      const auto k = static_cast<std::size_t>(i);
      w.key1[k] = x[k];
      w.key2[k] = y[k];
    }
    return same_partition(n, &w.key1[1], &w.key2[1], w.sorted);
  };
  bool agree = false;
  if (!two) {
    agree = compare_column(w.x1, w.y1);
  } else {
    const int4 first = members[0];
    const bool known = v.knownsibshipsize.allocated();
    if (known && n == v.knownsibshipsize(first, 1)) {
      agree = compare_column(w.x2, w.y2);
    } else if (known && n == v.knownsibshipsize(first, 2)) {
      agree = compare_column(w.x1, w.y1);
    } else if (!pool && same2) {
      agree = compare_column(w.x1, w.y1);
    } else if (!pool && same1) {
      agree = compare_column(w.x2, w.y2);
    } else {
      // Each member's pair of families as one key; in one parent pool the pair is unordered.
      // Ids of both configurations (placeholders negative) are shifted to 1.. before the keys
      // are formed, so that distinct pairs give distinct keys whatever the ids.
      int4 big = 0;
      for (int4 i = 1; i <= n; ++i) {
        const auto k = static_cast<std::size_t>(i);
        big = std::max(
            {big, std::abs(w.x1[k]), std::abs(w.x2[k]), std::abs(w.y1[k]), std::abs(w.y2[k])});
      }
      const real8 span = 2.0 * big + 2.0;
      auto code = [&](int4 p, int4 q) {
        const real8 u = p + big + 1.0, t = q + big + 1.0;
        if (pool) return std::min(u, t) * span + std::max(u, t);
        return u * span + t;
      };
      for (int4 i = 1; i <= n; ++i) {
        const auto k = static_cast<std::size_t>(i);
        w.key1[k] = code(w.x1[k], w.x2[k]);
        w.key2[k] = code(w.y1[k], w.y2[k]);
      }
      agree = same_partition(n, &w.key1[1], &w.key2[1], w.sorted);
    }
  }
  if (agree) diff = 0;
}

}  // namespace kinrad
