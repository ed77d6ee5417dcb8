#pragma once
// Sets the outcome of a search by hand, for the tests of everything that runs after it: a
// sample shape (module state the result phase reads), the best configuration and the archive
// from compact descriptions, and an enumerator of every configuration of a tiny sample for
// brute-force archives.
//
// Records go into the archive the way a reloaded run copy does: each is encoded by newconfig
// from the columns given and appended at the tail, in the order given (no duplicate test, no
// size limit, no reordering by score). The first record is usually the best configuration.
#include <algorithm>
#include <functional>
#include <numeric>
#include <string>
#include <utility>
#include <vector>

#include "configuration/configuration.hpp"
#include "core/modules.hpp"

namespace kinrad::testing_support {

// The module state of a sample as the result phase sees it, without a project file. Every
// array the configuration model and the result writer read is allocated for n offspring;
// known parents, exclusions and cross-listing are empty until a test sets them.
struct ArchiveSample {
  int4 n = 6;
  int4 numsex = 2;
  int4 mono1 = 0;
  int4 mono2 = 0;
  int4 ncand1 = 0;
  int4 ncand2 = 0;
};

inline void archive_sample(const ArchiveSample& s) {
  reset_all_modules();
  auto& v = variables;
  const int4 n = s.n;
  v.smplsize = n;
  v.numsex = s.numsex;
  v.monogamy(1) = s.mono1;
  v.monogamy(2) = s.mono2;
  v.anymonogamy = (s.mono1 == 1 || s.mono2 == 1) ? 1 : 0;
  v.allmonogamy = (s.mono1 == 1 && s.mono2 == 1) ? 1 : 0;
  v.numcandidate(1) = s.ncand1;
  v.numcandidate(2) = s.ncand2;
  v.allcandidate = s.ncand1 + s.ncand2;
  // The family columns whose partition two configurations must share.
  v.chkidx1 = s.mono1 == 1 ? 1 : (s.mono2 == 1 ? 2 : 1);
  v.chkidx2 = s.mono1 == 1 ? 1 : 2;
  v.displayq = 0;
  // No markers: nothing to estimate error rates from.
  v.errestimate = 0;
  v.sexid(1) = s.numsex == 2 ? "*" : "#";
  v.sexid(2) = "#";
  v.offploid.allocate(Dim(n));
  v.offploid.fill(2);
  v.smplsizedh(2) = n;
  v.crindivloc.allocate(Dim(n), Dim(3));
  v.inferparent.allocate(Dim(n), Dim(2));
  v.btindivloc.allocate(Dim(n), Dim(3));
  v.btinferparent.allocate(Dim(n), Dim(2));
  v.offtgt.allocate(Dim(n), Dim(3));
  v.prnttgt.allocate(Dim(n), Dim(2));
  v.number1tgt.allocate(Dim(n));
  std::iota(v.number1tgt.data(), v.number1tgt.data() + n, 1);
  // Scratch tables as the analysis allocates them at its start: marks and lists indexed by
  // family id (up to 2n in one parent pool), the move rows (reused for cluster rows by the
  // result phase) and the sibship-size counts.
  const int4 big = std::max({std::max(n, 100) + (3 - s.numsex) * n, s.ncand1, s.ncand2});
  v.kdxtgt.allocate(Dim(big));
  v.ldxtgt.allocate(Dim(big));
  annealvariables.selectedprntidxq1.allocate(Dim(big));
  annealvariables.selectedprntidxq2.allocate(Dim(big));
  annealvariables.selectedprntidxq3.allocate(Dim(big));
  annealvariables.indivloc1.allocate(Dim(std::max(n, 1)), Dim(4));
  v.sibshipsizedist.allocate(Dim(0, (3 - s.numsex) * n), Dim(s.numsex));
  const int4 c = std::max({s.ncand1, s.ncand2, 1});
  v.indivparent.allocate(Dim(n), Dim(2));
  v.knownprntq.allocate(Dim(c), Dim(2));
  // Without markers every candidate's own log likelihood is 0.
  v.candidatelogl.allocate(Dim(c), Dim(2));
  v.offspringincnd.allocate(Dim(n), Dim(2));
  v.cndinoffspring.allocate(Dim(c), Dim(2));
  v.knownsibship.allocate(Dim(n), Dim(2));
  v.offspringid.allocate(Dim(n));
  for (int4 i = 1; i <= n; ++i) v.offspringid(i) = "O" + std::to_string(i);
  v.cndparentid.allocate(Dim(0, c), Dim(2));
  for (int4 sex = 1; sex <= 2; ++sex) {
    v.cndparentid(0, sex) = "0";
    for (int4 j = 1; j <= c; ++j)
      v.cndparentid(j, sex) = (sex == 1 ? "D" : "M") + std::to_string(j);
  }
}

// Offspring i is candidate j of sex `sex` (and the other way round); sets unknowngen.
inline void cross_list(int4 i, int4 sex, int4 j) {
  auto& v = variables;
  v.offspringincnd(i, sex) = j;
  v.cndinoffspring(j, sex) = i;
  ++v.numcndinoffspring(sex);
  v.unknowngen = 1;
}

// Candidate j of sex `sex` is the known parent of offspring i; keeps the counts and flags the
// input reader derives.
inline void known_parent(int4 i, int4 sex, int4 j) {
  auto& v = variables;
  if (v.indivparent(i, sex) <= 0) ++v.numknownprnt(sex + 2);
  v.indivparent(i, sex) = j;
  if (v.knownprntq(j, sex) == 0) ++v.numknownprnt(sex);
  v.knownprntq(j, sex) = 1;
  v.anyknownprntq(sex) = 1;
}

// One configuration: per offspring (1..n, given from element 0) its paternal family, maternal
// family and cluster, and its assigned candidate father and mother. An empty clust is filled
// with the clusters of the families (parents joined through their offspring, numbered by
// first offspring); empty dad or mum are all 0 (unsampled).
struct ArchiveRecord {
  real8 logl = 0.0;
  std::vector<int4> fam1, fam2, clust, dad, mum;

  ArchiveRecord() = default;
  // Columns left out are empty: clusters from the families, no candidate parents.
  ArchiveRecord(real8 l, std::vector<int4> f1, std::vector<int4> f2, std::vector<int4> c = {},
                std::vector<int4> d = {}, std::vector<int4> m = {})
      : logl(l),
        fam1(std::move(f1)),
        fam2(std::move(f2)),
        clust(std::move(c)),
        dad(std::move(d)),
        mum(std::move(m)) {}
};

// The clusters of families fam1/fam2: connected components of the parents joined by their
// offspring, numbered 1, 2, ... by first offspring. In one parent pool an id names the same
// parent in both columns; with both sexes monogamous the paternal family is the cluster.
inline std::vector<int4> clusters_of(const std::vector<int4>& fam1, const std::vector<int4>& fam2) {
  const auto& v = variables;
  const std::size_t n = fam1.size();
  const int4 k = std::max(*std::max_element(fam1.begin(), fam1.end()),
                          *std::max_element(fam2.begin(), fam2.end()));
  const bool pool = v.numsex == 1;
  std::vector<int4> up(static_cast<std::size_t>(2 * k + 2));
  std::iota(up.begin(), up.end(), 0);
  auto find = [&up](int4 x) {
    while (up[static_cast<std::size_t>(x)] != x) x = up[static_cast<std::size_t>(x)];
    return x;
  };
  const bool dmono = v.numsex == 2 && v.allmonogamy == 1;
  for (std::size_t i = 0; i < n; ++i) {
    if (dmono) continue;
    const int4 a = find(fam1[i]);
    const int4 b = find(fam2[i] + (pool ? 0 : k));
    up[static_cast<std::size_t>(a)] = b;
  }
  std::vector<int4> label(up.size(), 0), clust(n);
  int4 next = 0;
  for (std::size_t i = 0; i < n; ++i) {
    auto& l = label[static_cast<std::size_t>(find(fam1[i]))];
    if (l == 0) l = ++next;
    clust[i] = l;
  }
  return clust;
}

// The record's columns as (n, 3) and (n, 2) tables.
inline void record_tables(const ArchiveRecord& r, FArray<int4, 2>& loc, FArray<int4, 2>& par) {
  const int4 n = variables.smplsize;
  const std::vector<int4> clust = r.clust.empty() ? clusters_of(r.fam1, r.fam2) : r.clust;
  loc.allocate(Dim(n), Dim(3));
  par.allocate(Dim(n), Dim(2));
  for (int4 i = 1; i <= n; ++i) {
    const auto k = static_cast<std::size_t>(i - 1);
    loc(i, 1) = r.fam1[k];
    loc(i, 2) = r.fam2.empty() ? r.fam1[k] : r.fam2[k];
    loc(i, 3) = clust[k];
    par(i, 1) = r.dad.empty() ? 0 : r.dad[k];
    par(i, 2) = r.mum.empty() ? 0 : r.mum[k];
  }
}

// Appends one record at the tail of the archive, encoded by newconfig.
inline void append_record(const ArchiveRecord& r) {
  auto& v = variables;
  FArray<int4, 2> loc, par;
  record_tables(r, loc, par);
  real8 logl = r.logl;
  const auto saved_loc = v.indivlocprt;
  const auto saved_par = v.inferparentprt;
  const auto saved_logl = v.loglikelihoodprt;
  v.indivlocprt = loc.view();
  v.inferparentprt = par.view();
  v.loglikelihoodprt = &logl;
  int4 nclust = 0;
  for (int4 i = 1; i <= v.smplsize; ++i) nclust = std::max(nclust, loc(i, 3));
  newconfig(nclust);
  Config* node = v.configptr;
  v.configptr = nullptr;
  if (v.configtail == nullptr) {
    v.confighead = node;
  } else {
    v.configtail->next = node;
  }
  v.configtail = node;
  v.indivlocprt = saved_loc;
  v.inferparentprt = saved_par;
  v.loglikelihoodprt = saved_logl;
}

// Makes `r` the best configuration: btindivloc, btinferparent, btnumfamily (the largest id of
// each column) and btloglikelihood.
inline void set_best(const ArchiveRecord& r) {
  auto& v = variables;
  FArray<int4, 2> loc, par;
  record_tables(r, loc, par);
  v.btindivloc = std::move(loc);
  v.btinferparent = std::move(par);
  for (int4 k = 1; k <= 3; ++k) {
    v.btnumfamily(k) = 0;
    for (int4 i = 1; i <= v.smplsize; ++i)
      v.btnumfamily(k) = std::max(v.btnumfamily(k), v.btindivloc(i, k));
  }
  v.btloglikelihood = r.logl;
}

// Replaces the archive by the records in the given order and makes the first one the best
// configuration (best_too = false leaves the best configuration alone).
inline void set_archive(const std::vector<ArchiveRecord>& records, bool best_too = true) {
  archiveconfigremoveall();
  for (const auto& r : records) append_record(r);
  if (best_too && !records.empty()) set_best(records.front());
}

// The archive as records (columns decoded by convertconfig, logl from the record).
inline std::vector<ArchiveRecord> archive_records() {
  auto& v = variables;
  std::vector<ArchiveRecord> out;
  Config* saved = v.crrtconfig;
  for (Config* c = v.confighead; c != nullptr; c = c->next) {
    v.crrtconfig = c;
    ArchiveRecord r;
    convertconfig(1, r.logl);
    for (int4 i = 1; i <= v.smplsize; ++i) {
      r.fam1.push_back(v.offtgt(i, 1));
      r.fam2.push_back(v.offtgt(i, 2));
      r.clust.push_back(v.offtgt(i, 3));
      r.dad.push_back(v.prnttgt(i, 1));
      r.mum.push_back(v.prnttgt(i, 2));
    }
    out.push_back(std::move(r));
  }
  v.crrtconfig = saved;
  return out;
}

inline int4 archive_length() {
  int4 k = 0;
  for (const Config* c = variables.confighead; c != nullptr; c = c->next) ++k;
  return k;
}

// Every partition of n items as restricted growth strings (labels 1.., the first item 1):
// Bell(n) of them, 15 for n = 4.
inline std::vector<std::vector<int4>> all_partitions(int4 n) {
  std::vector<std::vector<int4>> out;
  std::vector<int4> a(static_cast<std::size_t>(n), 1);
  std::function<void(int4, int4)> rec = [&](int4 i, int4 top) {
    if (i == n) {
      out.push_back(a);
      return;
    }
    for (int4 l = 1; l <= top + 1; ++l) {
      a[static_cast<std::size_t>(i)] = l;
      rec(i + 1, std::max(top, l));
    }
  };
  if (n > 0) {
    a[0] = 1;
    rec(1, 1);
  }
  return out;
}

// The score a search gives the configuration in crindivloc (columns 1-3, clusters numbered
// 1..crnumfamily(3)) and inferparent: the summed cluster log likelihoods, the configuration
// prior and the term of the unassigned candidates (full-likelihood method). Needs a prepared
// analysis and the annealing work tables (indivloc1 with n rows and 4 columns).
inline real8 search_score() {
  auto& v = variables;
  const auto saved_loc = v.indivlocprt;
  const auto saved_par = v.inferparentprt;
  v.indivlocprt = v.crindivloc.view();
  v.inferparentprt = v.inferparent.view();
  const int4 nclust = v.crnumfamily(3);
  std::vector<real8> logl(static_cast<std::size_t>(std::max(nclust, 1)), 0.0);
  updatefamilylogl(logl.data(), nclust);
  FStatic<int4, 1, 4> numassign{};
  FStatic<int4, 1, 2> nsize{}, nfam{};
  nsize(1) = nsize(2) = (3 - v.numsex) * v.smplsize;
  nfam(1) = v.crnumfamily(1);
  nfam(2) = v.crnumfamily(2);
  real8 prior = 0.0;
  auto dist = v.sibshipsizedist.allocated() ? v.sibshipsizedist.copy() : FArray<int4, 2>{};
  configurationprior(numassign, prior, nsize, nfam);
  if (dist.allocated()) v.sibshipsizedist = std::move(dist);
  real8 cand = 0.0;
  computeparentlogl(cand);
  v.indivlocprt = saved_loc;
  v.inferparentprt = saved_par;
  real8 total = prior + cand;
  for (real8 x : logl) total += x;
  return total;
}

// Every configuration of the sample without candidate parents: each pair of a paternal and a
// maternal partition of the n offspring (Bell(n)^2 pairs; in one parent pool the maternal ids
// follow the paternal ones, so no offspring is selfed). Each is put into crindivloc and
// crnumfamily (clusters by first offspring, inferparent all 0) and scored by `score`
// (search_score by default). Returned in enumeration order, unsorted.
inline std::vector<ArchiveRecord> enumerate_configurations(
    const std::function<real8()>& score = search_score) {
  auto& v = variables;
  const int4 n = v.smplsize;
  const auto parts = all_partitions(n);
  std::vector<ArchiveRecord> out;
  for (const auto& p1 : parts) {
    const int4 k1 = *std::max_element(p1.begin(), p1.end());
    for (const auto& p2 : parts) {
      ArchiveRecord r;
      r.fam1 = p1;
      r.fam2 = p2;
      if (v.numsex == 1)
        for (auto& x : r.fam2) x += k1;
      r.clust = clusters_of(r.fam1, r.fam2);
      r.dad.assign(static_cast<std::size_t>(n), 0);
      r.mum.assign(static_cast<std::size_t>(n), 0);
      for (int4 k = 1; k <= 3; ++k) v.crnumfamily(k) = 0;
      for (int4 i = 1; i <= n; ++i) {
        const auto j = static_cast<std::size_t>(i - 1);
        v.crindivloc(i, 1) = r.fam1[j];
        v.crindivloc(i, 2) = r.fam2[j];
        v.crindivloc(i, 3) = r.clust[j];
        v.inferparent(i, 1) = 0;
        v.inferparent(i, 2) = 0;
        for (int4 k = 1; k <= 3; ++k)
          v.crnumfamily(k) = std::max(v.crnumfamily(k), v.crindivloc(i, k));
      }
      r.logl = score();
      out.push_back(std::move(r));
    }
  }
  return out;
}

// The records sorted by descending score, ties in enumeration order (as an archive keeps
// records of one run).
inline std::vector<ArchiveRecord> by_descending_score(std::vector<ArchiveRecord> records) {
  std::stable_sort(records.begin(), records.end(),
                   [](const ArchiveRecord& a, const ArchiveRecord& b) { return a.logl > b.logl; });
  return records;
}

}  // namespace kinrad::testing_support
