// The canonical form of the best configuration and of the archive before anything is written.
// In one parent pool the two parent families of an unconstrained offspring are unordered, so
// the smaller id is put first everywhere; clusters are numbered by first offspring; known
// parents are spread over the sibship that holds them, so that printed parents and the
// regrouping see them at family level; and with offspring that are also candidates every
// archived record is regrouped as the best configuration is.
//
// The id tables below are indexed by family or cluster id (ids are positive and at most a
// few times n), which turns the scans of the design, one per id, into single passes with the
// same outcome.
#include <algorithm>
#include <cstdint>
#include <utility>

#include "configuration/configuration.hpp"
#include "core/modules/variables.hpp"
#include "results/results_internal.hpp"

namespace kinrad {

namespace {

using u16 = std::uint16_t;

// The offspring without a constraint that fixes the order of their parents: no known sibship,
// no excluded parent, no excluded sibship.
void unconstrained_offspring(std::vector<int4>& list) {
  const auto& v = variables;
  const int4 n = v.smplsize;
  list.clear();
  const bool sibships =
      (v.anyknownsibshipq(1) != 0 || v.anyknownsibshipq(2) != 0) && v.knownsibship.allocated();
  const bool exclusions = (v.anyexcludedparentq(1) != 0 || v.anyexcludedparentq(2) != 0) &&
                          v.excludedparent.allocated();
  for (int4 i = 1; i <= n; ++i) {
    if (sibships && (v.knownsibship(i, 1) != 0 || v.knownsibship(i, 2) != 0)) continue;
    if (exclusions && (v.excludedparent(i, 1).count != 0 || v.excludedparent(i, 2).count != 0))
      continue;
    bool excludedsib = false;
    for (int4 s = 1; s <= 2; ++s)
      if (v.anyexcludedsibshipq(s) != 0 && v.excludedsib.allocated() &&
          v.excludedsib(i, s).a.allocated())
        excludedsib = true;
    if (excludedsib) continue;
    list.push_back(i);
  }
}

// A parent column made dense (n, 1): an absent column is all 0, a sparse one is scattered.
void make_dense(FArray<u16, 2>& col) {
  const int4 n = variables.smplsize;
  if (col.allocated() && col.size(2) == 1) return;
  FArray<u16, 2> dense(Dim(n), Dim(1));
  if (col.allocated())
    for (index_t r = 1; r <= col.size(1); ++r) dense(col(r, 1), 1) = col(r, 2);
  col = std::move(dense);
}

// Swaps the parent families (and candidate parents) of the listed offspring of one record.
void normalise_record(Config& c, const std::vector<int4>& list) {
  const bool candidates = variables.numcandidate(1) >= 1;
  if (candidates) {
    make_dense(c.dad);
    make_dense(c.mum);
  }
  for (int4 i : list) {
    if (c.fam2(i) >= c.fam1(i)) continue;
    std::swap(c.fam1(i), c.fam2(i));
    if (candidates && c.dad(i, 1) != c.mum(i, 1)) std::swap(c.dad(i, 1), c.mum(i, 1));
  }
}

// The known parent of sex s spread over its family: the larger candidate number holds when two
// fall in one family. The first offspring of each candidate is taken from the parentage as
// handed in.
void spread_one_sex(int4 s) {
  auto& v = variables;
  auto& w = v.results_work;
  const int4 n = v.smplsize;
  const auto& loc = v.indivlocprt;
  const int4 ncand = v.numcandidate(s);
  int4 top = 0;
  for (int4 i = 1; i <= n; ++i) top = std::max(top, loc(i, s));
  w.first.reshape(Dim(0, ncand));
  for (int4 i = n; i >= 1; --i) {
    const int4 j = v.indivparent(i, s);
    if (j >= 1 && j <= ncand) w.first(j) = i;
  }
  w.winner.reshape(Dim(0, top));
  bool any = false;
  for (int4 j = 1; j <= ncand; ++j) {
    if (v.knownprntq(j, s) < 1) continue;
    const int4 i = w.first(j);
    if (i == 0) continue;
    const int4 f = loc(i, s);
    if (f >= 1) {
      w.winner(f) = j;
      any = true;
    }
  }
  if (!any) return;
  for (int4 k = 1; k <= n; ++k) {
    const int4 f = loc(k, s);
    if (f >= 1 && w.winner(f) > 0) v.indivparent(k, s) = w.winner(f);
  }
}

// One parent pool: a family id names one parent in both columns; the first known parent met
// for it (column 1 before column 2, offspring in order) holds in both.
void spread_one_pool() {
  auto& v = variables;
  auto& w = v.results_work;
  const int4 n = v.smplsize;
  const auto& loc = v.indivlocprt;
  int4 top = 0;
  for (int4 i = 1; i <= n; ++i) top = std::max({top, loc(i, 1), loc(i, 2)});
  w.winner.reshape(Dim(0, top));
  bool any = false;
  for (int4 s = 1; s <= 2; ++s) {
    if (v.anyknownprntq(s) == 0) continue;
    for (int4 i = 1; i <= n; ++i) {
      const int4 p = v.indivparent(i, s);
      const int4 f = loc(i, s);
      if (p <= 0 || f < 1) continue;
      auto& slot = w.winner(f);
      if (slot < 1) {
        slot = p;
        any = true;
      }
    }
  }
  if (!any) return;
  for (int4 t = 1; t <= 2; ++t)
    for (int4 k = 1; k <= n; ++k) {
      const int4 f = loc(k, t);
      if (f >= 1 && w.winner(f) > 0) v.indivparent(k, t) = w.winner(f);
    }
}

}  // namespace

void normalise_one_pool() {
  auto& v = variables;
  auto& list = v.results_work.listed;
  unconstrained_offspring(list);
  if (list.empty()) return;
  if (v.numcandidate(1) > 0)
    for (int4 i : list)
      if (v.btinferparent(i, 1) != v.btinferparent(i, 2) && v.btindivloc(i, 1) > v.btindivloc(i, 2))
        std::swap(v.btinferparent(i, 1), v.btinferparent(i, 2));
  for (int4 i : list)
    if (v.btindivloc(i, 1) > v.btindivloc(i, 2)) std::swap(v.btindivloc(i, 1), v.btindivloc(i, 2));
  for (Config* c = v.confighead; c != nullptr; c = c->next) normalise_record(*c, list);
}

void renumber_best_clusters() {
  auto& v = variables;
  auto& w = v.results_work;
  const int4 n = v.smplsize;
  int4 top = 0;
  for (int4 i = 1; i <= n; ++i) top = std::max(top, v.btindivloc(i, 3));
  w.label.reshape(Dim(0, top));
  int4 k = 0;
  for (int4 i = 1; i <= n; ++i) {
    auto& l = w.label(v.btindivloc(i, 3));
    if (l == 0) l = ++k;
    v.btindivloc(i, 3) = l;
  }
}

void mergeparentage() {
  auto& v = variables;
  if (!v.indivparent.allocated()) return;
  if (v.numsex == 1) {
    spread_one_pool();
    return;
  }
  for (int4 s = 1; s <= 2; ++s)
    if (v.anyknownprntq(s) != 0 && v.knownprntq.allocated()) spread_one_sex(s);
}

void findfsfamilyid(const FView<int4, 2>& parents, int8* key) {
  const auto& v = variables;
  const int4 n = v.smplsize;
  const int8 n2 = 2 * static_cast<int8>(n);
  for (int4 i = 1; i <= n; ++i) {
    const int8 a = parents(i, 1);
    const int8 b = parents(i, 2);
    if (v.numsex == 2) {
      // A haploid offspring has no father: its mother's family alone keys it, below every
      // diploid key.
      key[i - 1] = (v.offploid(i) - 1) * a * n2 + b;
    } else {
      key[i - 1] = std::min(a, b) * n2 + std::max(a, b);
    }
  }
}

void decode_archived(Config* record, real8& logl) {
  auto& v = variables;
  KeepValue keep(v.crrtconfig);
  v.crrtconfig = record;
  convertconfig(1, logl);
  if (record->clust.allocated())
    for (int4 i = 1; i <= v.smplsize; ++i) v.offtgt(i, 3) = record->clust(i);
}

void regroup_archive(const FArray<int4, 2>& knownparents, bool haveknown) {
  auto& v = variables;
  const int4 n = v.smplsize;
  KeepValue keep_loc(v.indivlocprt);
  KeepValue keep_par(v.inferparentprt);
  v.indivlocprt = v.offtgt.view();
  v.inferparentprt = v.prnttgt.view();
  for (Config* c = v.confighead; c != nullptr; c = c->next) {
    real8 logl = 0.0;
    decode_archived(c, logl);
    if (haveknown)
      std::copy(knownparents.data(), knownparents.data() + knownparents.size(),
                v.indivparent.data());
    mergeparentage();
    recluster();
    if (!c->clust.allocated()) c->clust.allocate(Dim(n));
    for (int4 i = 1; i <= n; ++i) c->clust(i) = static_cast<u16>(v.offtgt(i, 3));
  }
}

}  // namespace kinrad
