// Parent-offspring dyad probabilities. For each sex with candidates, every offspring whose
// parent of that sex is a sampled candidate in the best configuration gets a short list of
// candidate parents with probabilities. Its group is its half-sib family of that sex in the
// best configuration (in one parent pool also the offspring that have the same parent in the
// other role); the group's full likelihood is computed with each candidate as that parent,
// less the candidate's own likelihood, and with an unsampled parent, and normalised. The
// assigned candidate always heads the list. Candidates are tried by decreasing relatedness to
// the offspring, and the trials stop once one falls 30 log units below the best so far.
// Offspring sharing the assigned parent take a copy of the list, scaled by the mean sib
// probability of the group in the sib dyad files. Offspring in a family with a known parent
// get that parent with probability 1.
#include <algorithm>
#include <cmath>
#include <vector>

#include "configuration/configuration.hpp"
#include "core/fixed_string.hpp"
#include "core/keep_value.hpp"
#include "core/modules.hpp"
#include "core/replacing_file.hpp"
#include "core/screen.hpp"
#include "core/sorting.hpp"
#include "core/variables_routines.hpp"
#include "likelihood/likelihood.hpp"
#include "results/archive_internal.hpp"
#include "results/dyad_internal.hpp"
#include "results/results.hpp"

namespace kinrad {

namespace {

constexpr int4 maxlist = 9;

// The work data of the step, sized once for the larger candidate count.
struct ParentDyadWork {
  FArray<int4, 1> count{};    // n: -1 not worked out, 0 no list, else entries
  FArray<int4, 2> cand{};     // (9, n)
  FArray<real8, 2> prob{};    // (9, n)
  FArray<real4, 1> r{};       // C: relatedness to the current offspring
  FArray<int4, 1> order{};    // C: candidates by decreasing relatedness
  std::vector<real8> negr{};  // C: -r for the index sort
  FArray<real8, 1> L{};       // C + 1: group log likelihood per candidate, C + 1 unsampled
  std::array<std::vector<int4>, 2> role{};  // members having the parent in role 1 and 2
  std::vector<int4> members{};              // group rows' offspring, row order
  std::vector<int4> saved{};                // (2 per row) btinferparent before the trials
  std::vector<int4> listc{};                // candidates of the weight list
  std::vector<real8> listw{};               // their weights
  std::vector<real8> negw{};
  std::vector<int4> idx{};
  std::vector<int4> sharing{};  // i and the members sharing its parent, ascending
  FArray<int4, 1> knownat{};    // (0:top) per family id: the known parent met last
  DyadRecords fs{}, hs{};
  int4 spinner = 0;
  ParentDyadCounts counts{};
};

// True when candidate c may not be offspring j's parent of role s.
bool excluded(int4 j, int4 s, int4 c) {
  const auto& v = variables;
  if (v.anyexcludedparentq(s) != 1 || !v.excludedparent.allocated()) return false;
  const Excludedlist& e = v.excludedparent(j, s);
  if (e.count == 0) return false;
  bool listed = false;
  for (int4 t = 1; t <= std::abs(e.count); ++t) listed = listed || e.list(t) == c;
  return e.count > 0 ? listed : !listed;
}

// Offspring in the sex-k family of an offspring with a known parent of that role get that
// parent with probability 1 (in one pool also through the other role); a later match
// overwrites an earlier one. Haploid offspring have no father.
void known_parent_lists(ParentDyadWork& w, int4 k) {
  const auto& v = variables;
  const int4 n = v.smplsize;
  if (!v.indivparent.allocated()) return;
  int4 top = 0;
  for (int4 i = 1; i <= n; ++i) top = std::max({top, v.btindivloc(i, 1), v.btindivloc(i, 2)});
  const int4 roles = v.numsex == 1 ? 2 : 1;
  for (int4 t = 1; t <= roles; ++t) {
    const int4 s = t == 1 ? k : 3 - k;
    if (v.numknownprnt(s) <= 0) continue;
    w.knownat.reshape(Dim(0, top));
    for (int4 j = 1; j <= n; ++j) {
      if (v.indivparent(j, s) <= 0 || (s == 1 && v.offploid(j) == 1)) continue;
      w.knownat(v.btindivloc(j, s)) = v.indivparent(j, s);
    }
    for (int4 i = 1; i <= n; ++i) {
      if (k == 1 && v.offploid(i) == 1) continue;
      const int4 p = w.knownat(v.btindivloc(i, k));
      if (p <= 0) continue;
      w.count(i) = 1;
      w.cand(1, i) = p;
      w.prob(1, i) = 1.0;
    }
  }
}

// The group of offspring i: its role-k half-sib family and, in one pool, the offspring with
// the same parent in the other role; one row of indivloc2 per member.
void gather_group(ParentDyadWork& w, int4 i, int4 k) {
  auto& v = variables;
  auto& av = annealvariables;
  const int4 n = v.smplsize;
  const int4 f = v.btindivloc(i, k);
  w.role[0].clear();
  w.role[1].clear();
  w.members.clear();
  auto row = [&](int4 j, int4 s) {
    w.role[static_cast<std::size_t>(s - 1)].push_back(j);
    w.members.push_back(j);
    const int4 t = static_cast<int4>(w.members.size());
    av.indivloc2(t, 1) = v.btindivloc(j, 1);
    av.indivloc2(t, 2) = v.btindivloc(j, 2);
    av.indivloc2(t, 4) = j;
  };
  const bool pool = v.numsex == 1;
  for (int4 j = 1; j <= n; ++j) {
    if (v.btindivloc(j, k) != f) continue;
    row(j, k);
    if (pool) av.selectedprntidxq2(j) = 1;
  }
  if (!pool) return;
  for (int4 j = 1; j <= n; ++j) {
    if (av.selectedprntidxq2(j) != 0) {
      av.selectedprntidxq2(j) = 0;
    } else if (v.btindivloc(j, 3 - k) == f) {
      row(j, 3 - k);
    }
  }
}

// Sets the parent of role s of every group member with that role to c (0 unsampled); false at
// the first member for which candidate c is excluded.
bool set_trial_parent(ParentDyadWork& w, int4 c) {
  auto& v = variables;
  for (int4 s = 1; s <= 2; ++s)
    for (const int4 j : w.role[static_cast<std::size_t>(s - 1)]) {
      v.btinferparent(j, s) = c;
      if (c > 0 && excluded(j, s, c)) return false;
    }
  return true;
}

real8 group_logl(ParentDyadWork& w, int4 k) {
  real8 logl = 0.0;
  familylikelihood(logl, -1e300, 1, 0, 0);
  ++w.counts.evaluations[static_cast<std::size_t>(k - 1)];
  return logl;
}

// L(c) for the candidates in decreasing relatedness, stopping 30 log units below the best, then
// the unsampled slot C + 1; the members' parents are restored afterwards.
void trials(ParentDyadWork& w, int4 k, int4 i, int4 a) {
  auto& v = variables;
  const int4 nc = v.numcandidate(k);
  const int4 rows = static_cast<int4>(w.members.size());
  w.saved.resize(2 * w.members.size());
  for (int4 t = 0; t < rows; ++t) {
    const int4 j = w.members[static_cast<std::size_t>(t)];
    w.saved[static_cast<std::size_t>(2 * t)] = v.btinferparent(j, 1);
    w.saved[static_cast<std::size_t>(2 * t + 1)] = v.btinferparent(j, 2);
    v.btinferparent(j, 1) = 0;
    v.btinferparent(j, 2) = 0;
  }
  int4 nmember = 0, maxfamsize = 0;
  familybuild(0, rows, 1, nmember, maxfamsize, 1, 0, 0, 0);

  relatednessoffcnd(k, i, w.r);
  w.r(a) = 2.0f;
  for (int4 c = 1; c <= nc; ++c) w.negr[static_cast<std::size_t>(c - 1)] = -w.r(c);
  indexx(nc, w.negr.data(), w.order.data());

  real8 best = -1e300;
  for (int4 m = 1; m <= nc; ++m) {
    const int4 c = w.order(m);
    if (v.displayq == 1) writeprogress(w.spinner, 2);
    w.L(c) = 0.0;
    if (!set_trial_parent(w, c)) {
      w.L(c) = -1e300;
      continue;
    }
    w.L(c) = group_logl(w, k) - v.candidatelogl(c, k);
    if (w.L(c) > best) {
      best = w.L(c);
    } else if (best > w.L(c) + 30.0) {
      for (int4 rest = m + 1; rest <= nc; ++rest) w.L(w.order(rest)) = -1e300;
      break;
    }
  }
  set_trial_parent(w, 0);
  w.L(nc + 1) = group_logl(w, k);
  for (int4 t = 0; t < rows; ++t) {
    const int4 j = w.members[static_cast<std::size_t>(t)];
    v.btinferparent(j, 1) = w.saved[static_cast<std::size_t>(2 * t)];
    v.btinferparent(j, 2) = w.saved[static_cast<std::size_t>(2 * t + 1)];
  }
}

// The weights of the trials into i's list: the assigned candidate just above the best, at
// most 9 entries by decreasing weight, none below 0.001.
void normalise(ParentDyadWork& w, int4 k, int4 i, int4 a) {
  const int4 nc = variables.numcandidate(k);
  real8 top = -1e300;
  for (int4 c = 1; c <= nc + 1; ++c) top = std::max(top, w.L(c));
  w.L(a) = top + 0.0001;
  real8 sum = 0.0;
  w.listc.clear();
  w.listw.clear();
  for (int4 c = 1; c <= nc + 1; ++c) {
    const real8 x = w.L(c) - top;
    if (x <= -30.0) continue;
    const real8 e = std::exp(x);
    sum += e;
    if (c <= nc) {
      w.listc.push_back(c);
      w.listw.push_back(e);
    }
  }
  const int4 size = static_cast<int4>(w.listc.size());
  w.negw.resize(w.listw.size());
  w.idx.resize(w.listw.size());
  for (std::size_t t = 0; t < w.listw.size(); ++t) w.negw[t] = -w.listw[t];
  indexx(size, w.negw.data(), w.idx.data());
  int4 stored = 0;
  for (int4 t = 1; t <= std::min(size, maxlist); ++t) {
    const auto e = static_cast<std::size_t>(w.idx[static_cast<std::size_t>(t - 1)] - 1);
    const real8 p = w.listw[e] / sum;
    if (p < 0.001) break;
    ++stored;
    w.cand(stored, i) = w.listc[e];
    w.prob(stored, i) = p;
  }
  w.count(i) = stored;
}

// Members sharing i's assigned parent take a copy of its list, scaled by the mean sib dyad
// probability of i and those members.
void share_list(ParentDyadWork& w, int4 k, int4 i, int4 a) {
  auto& v = variables;
  auto& flags = annealvariables.selectedprntidxq2;
  w.sharing.clear();
  for (const int4 j : w.members) {
    if (j == i || v.btinferparent(j, k) != a || (k == 1 && v.offploid(j) == 1)) continue;
    w.count(j) = w.count(i);
    for (int4 q = 1; q <= w.count(i); ++q) {
      w.cand(q, j) = w.cand(q, i);
      w.prob(q, j) = w.prob(q, i);
    }
    w.sharing.push_back(j);
  }
  if (w.sharing.empty()) return;
  w.sharing.push_back(i);
  std::sort(w.sharing.begin(), w.sharing.end());
  for (const int4 j : w.sharing) flags(j) = 1;
  const DyadScale s = dyad_scale(w.fs, v.allmonogamy == 1 ? nullptr : &w.hs, w.sharing, flags, k);
  for (const int4 j : w.sharing) flags(j) = 0;
  if (s.count <= 0) return;
  const real8 scale = s.sum / s.count;
  for (const int4 j : w.sharing)
    for (int4 q = 1; q <= w.count(j); ++q) w.prob(q, j) *= scale;
}

void one_offspring(ParentDyadWork& w, int4 k, int4 i) {
  const auto& v = variables;
  w.count(i) = 0;
  if (k == 1 && v.offploid(i) == 1) return;
  const int4 a = v.btinferparent(i, k);
  if (a <= 0) return;
  gather_group(w, i, k);
  ++w.counts.groups[static_cast<std::size_t>(k - 1)];
  trials(w, k, i, a);
  normalise(w, k, i, a);
  share_list(w, k, i, a);
}

// ".Paternity" (k = 1) or ".Maternity" (k = 2): a header as long as the longest list, then one
// row per offspring with a list.
void write_lists(const ParentDyadWork& w, int4 k) {
  const auto& v = variables;
  const int4 n = v.smplsize;
  const std::string_view suffix = k == 1 ? ".Paternity" : ".Maternity";
  const std::string x = k == 1 ? "Dad" : "Mum";
  int4 longest = 0;
  for (int4 i = 1; i <= n; ++i) longest = std::max(longest, w.count(i));
  write_result_file(suffix, [&](ReplacingFile& out) {
    if (longest < 1) {
      out.write("(A)", "OffspringID,Inferred" + x + "1,Prob" + x + "1");
      return;
    }
    std::string line = "OffspringID";
    for (int4 q = 1; q <= longest; ++q) line += ",Inferred" + x + itoc(q) + ",Prob" + x + itoc(q);
    out.write("(99A)", line);
    for (int4 i = 1; i <= n; ++i) {
      if (w.count(i) <= 0) continue;
      // One "(99A)" record of the row's pieces, built here as one text.
      line.assign(v.offspringid(i).trimmed());
      for (int4 q = 1; q <= w.count(i); ++q) {
        line += ',';
        line += trim_both(v.cndparentid(w.cand(q, i), k).view());
        line += ',';
        line += rtoc(w.prob(q, i), "(F7.4)");
      }
      line += '\n';
      out.put(line);
    }
  });
}

void sex_pass(ParentDyadWork& w, int4 k) {
  const auto& v = variables;
  const int4 n = v.smplsize;
  const int4 nc = v.numcandidate(k);
  for (int4 i = 1; i <= n; ++i) w.count(i) = -1;
  known_parent_lists(w, k);
  fill_candidate_genotypes(k);
  w.r.allocate(Dim(nc));
  w.order.allocate(Dim(nc));
  w.negr.assign(static_cast<std::size_t>(nc), 0.0);
  for (int4 i = 1; i <= n; ++i)
    if (w.count(i) == -1) one_offspring(w, k, i);
  if (v.threadid == 0) write_lists(w, k);
}

}  // namespace

ParentDyadCounts parent_offspring_dyad_counted() {
  auto& v = variables;
  auto& av = annealvariables;
  const int4 n = v.smplsize;
  screen_write("(A)", "Computing parent-offspring dyad probabilities...");
  if (v.numcandidate(1) < 1 && v.numcandidate(2) < 1) return {};

  KeepValue keep_par(v.inferparentprt);
  KeepValue keep_order(v.indivorder);
  KeepValue keep_loc(v.indivlocprt);
  // Group rows: up to every offspring.
  if (!av.indivloc2.allocated() || av.indivloc2.ubound(1) < n || av.indivloc2.ubound(2) < 4)
    av.indivloc2.allocate(Dim(std::max(n, 1)), Dim(4));
  v.inferparentprt = v.btinferparent.view();
  v.indivorder = v.number1tgt.view();
  v.indivlocprt = av.indivloc2.view();

  ParentDyadWork w;
  const int4 cmax = std::max(v.numcandidate(1), v.numcandidate(2));
  w.count.allocate(Dim(std::max(n, 1)));
  w.cand.allocate(Dim(maxlist), Dim(std::max(n, 1)));
  w.prob.allocate(Dim(maxlist), Dim(std::max(n, 1)));
  w.L.allocate(Dim(cmax + 1));
  read_dyad_records(v.fname + ".FSDyadUF", false, w.fs);
  if (v.allmonogamy != 1) read_dyad_records(v.fname + ".HSDyadUF", true, w.hs);

  for (int4 k = 1; k <= 2; ++k)
    if (v.numcandidate(k) >= 1) sex_pass(w, k);
  if (v.displayq == 1 && w.spinner > 9) screen_write("(A)", v.blkln.view().substr(0, 2));
  return w.counts;
}

void parent_offspring_dyad_probabilities() {
  parent_offspring_dyad_counted();
}

}  // namespace kinrad
