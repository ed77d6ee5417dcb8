// The checkpoint reader: restores the search state, the archive and the precision settings
// written by the checkpoint writer, rescores the restored configuration and, in check mode,
// reports its score. Everything is read into staging storage and checked first; module state
// changes only when the restore succeeds, so a failed restore leaves the fresh start exactly
// the state it would have had without the attempt.
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "configuration/configuration.hpp"
#include "configuration/configuration_internal.hpp"
#include "configuration/pairwise_score_internal.hpp"
#include "core/error_stop.hpp"
#include "core/format_write.hpp"
#include "core/modules/annealvariables.hpp"
#include "core/modules/configuration_work.hpp"
#include "core/modules/variables.hpp"
#include "core/record_reader.hpp"
#include "core/replacing_file.hpp"
#include "core/sorting.hpp"
#include "likelihood/likelihood.hpp"
#include "model/model.hpp"

namespace kinrad {

namespace {

using Column = std::vector<int4>;

bool finite(real8 x) {
  return std::isfinite(x);
}

// A configuration as read: family columns 1 and 2, the cluster column, and the candidate
// columns; vectors indexed from 0 over offspring 1..n.
struct StagedConfiguration {
  Column c1, c2, c3, p1, p2;
};

// Family ids: 1..n per sex (one parent pool: 1..2n over both columns together), every id from
// 1 to the largest in use.
bool dense_ids(const Column& a, const Column* b, int4 top) {
  std::vector<unsigned char> used(static_cast<std::size_t>(top) + 1, 0);
  int4 largest = 0;
  for (const Column* c : {&a, b}) {
    if (c == nullptr) continue;
    for (int4 x : *c) {
      if (x < 1 || x > top) return false;
      used[static_cast<std::size_t>(x)] = 1;
      largest = std::max(largest, x);
    }
  }
  for (int4 x = 1; x <= largest; ++x)
    if (used[static_cast<std::size_t>(x)] == 0) return false;
  return true;
}

// The cluster ids must number the groups of offspring joined through shared parents: the
// family builders gather a cluster by following those links, and a column that split or
// merged them would be scored as other clusters than the ones it names.
bool clusters_match(const Column& c1, const Column& c2, const Column& c3) {
  const auto& v = variables;
  const int4 n = v.smplsize;
  if (!dense_ids(c3, nullptr, n)) return false;
  const bool pool = v.numsex == 1;
  const int4 k = pool ? 2 * n : n;
  std::vector<int4> up(static_cast<std::size_t>(2 * k) + 2);
  for (std::size_t x = 0; x < up.size(); ++x) up[x] = static_cast<int4>(x);
  auto find = [&](int4 x) {
    while (up[static_cast<std::size_t>(x)] != x) {
      up[static_cast<std::size_t>(x)] =
          up[static_cast<std::size_t>(up[static_cast<std::size_t>(x)])];
      x = up[static_cast<std::size_t>(x)];
    }
    return x;
  };
  auto node2 = [&](int4 id) { return pool ? id : k + id; };
  for (int4 i = 0; i < n; ++i)
    up[static_cast<std::size_t>(find(c1[static_cast<std::size_t>(i)]))] =
        find(node2(c2[static_cast<std::size_t>(i)]));
  std::vector<int4> clusterof(up.size(), 0), rootof(static_cast<std::size_t>(n) + 1, 0);
  for (int4 i = 0; i < n; ++i) {
    const int4 r = find(c1[static_cast<std::size_t>(i)]);
    const int4 c = c3[static_cast<std::size_t>(i)];
    int4& a = clusterof[static_cast<std::size_t>(r)];
    int4& b = rootof[static_cast<std::size_t>(c)];
    if (a == 0) a = c;
    if (b == 0) b = r;
    if (a != c || b != r) return false;
  }
  return true;
}

bool valid_families(const StagedConfiguration& s, bool with_clusters) {
  const auto& v = variables;
  const int4 n = v.smplsize;
  if (v.numsex == 1) {
    if (!dense_ids(s.c1, &s.c2, 2 * n)) return false;
  } else if (!dense_ids(s.c1, nullptr, n) || !dense_ids(s.c2, nullptr, n)) {
    return false;
  }
  return !with_clusters || clusters_match(s.c1, s.c2, s.c3);
}

// Known parents live in indivparent only; the candidate numbers must name candidates.
bool valid_parents(Column& p, int4 sex) {
  const auto& v = variables;
  const bool known = v.numknownprnt(sex) > 0 && v.indivparent.allocated();
  for (int4 i = 1; i <= v.smplsize; ++i) {
    int4& x = p[static_cast<std::size_t>(i - 1)];
    if (known && v.indivparent(i, sex) > 0) x = 0;
    if (x < 0 || x > v.numcandidate(sex)) return false;
  }
  return true;
}

bool read_column(RecordReader& in, Column& c) {
  c.assign(static_cast<std::size_t>(variables.smplsize), 0);
  return in.read_list(std::span<int4>(c)) == IoStatus::ok;
}

bool read_configuration(RecordReader& in, StagedConfiguration& s) {
  for (Column* c : {&s.c1, &s.c2, &s.c3, &s.p1, &s.p2})
    if (!read_column(in, *c)) return false;
  return true;
}

// The trial configuration of the check mode: after the second marker line of the project
// input file, three family columns and two candidate columns.
bool read_trial(StagedConfiguration& s) {
  const auto& v = variables;
  RecordReader in;
  if (!in.open(std::string(trim(v.inputfilename.view())))) return false;
  int4 markers = 0;
  std::string line;
  while (markers < 2) {
    if (in.read_line(line) != IoStatus::ok) return false;
    const FString<99> cut(line);
    if (adjustl(cut.view()).substr(0, 5) == "-----") ++markers;
  }
  const auto n = static_cast<std::size_t>(v.smplsize);
  Column loc(3 * n), par(2 * n);
  if (in.read_list(std::span<int4>(loc)) != IoStatus::ok) return false;
  if (in.read_list(std::span<int4>(par)) != IoStatus::ok) return false;
  s.c1.assign(loc.begin(), loc.begin() + static_cast<std::ptrdiff_t>(n));
  s.c2.assign(loc.begin() + static_cast<std::ptrdiff_t>(n),
              loc.begin() + static_cast<std::ptrdiff_t>(2 * n));
  s.c3.assign(loc.begin() + static_cast<std::ptrdiff_t>(2 * n), loc.end());
  s.p1.assign(par.begin(), par.begin() + static_cast<std::ptrdiff_t>(n));
  s.p2.assign(par.begin() + static_cast<std::ptrdiff_t>(n), par.end());
  return valid_families(s, true) && valid_parents(s.p1, 1) && valid_parents(s.p2, 2);
}

// Everything the restore reads, before it is committed.
struct Staging {
  // Scores and precision; each group only when read whole.
  bool have_scores = false, have_counts = false, have_precision = false;
  real8 prescreenpass = 0.0, prescreencount = 0.0, lociscale = 0.0;
  std::array<real8, 4> prescreencounts{};
  int4 likelihoodprecision = 0;
  real8 prec1 = 0.0, prec3 = 0.0;
  // The state.
  StagedConfiguration cur, best;
  real8 crloglikelihood = 0.0, btloglikelihood = 0.0;
  int4 krun = 0;
  real8 rate = 0.0;
  int4 idum3 = 0, idum2 = 0, idumiy = 0;
  std::array<int4, 32> idumiv{};
  FString<8> date2{};
  FString<10> time2{};
  real8 timespent = 0.0;
  bool have_frequencies = false;
  std::vector<std::vector<real8>> frequencies;
  real8 inbreeding = 0.0;
  CheckpointRunState run;
  std::vector<int4> weights;  // offspring by offspring, the two weights of each
  // The archive, in file order; owned here until it is appended to the archive.
  Config* head = nullptr;
  Config* tail = nullptr;
  ~Staging() {
    for (Config* p = head; p != nullptr;) {
      Config* next = p->next;
      delete p;
      p = next;
    }
  }
};

// The scores-and-precision file. A record that cannot be read ends the file silently, keeping
// what was read before it; a record read whole with a value out of range (a precision outside
// 0..3, a real that is not finite) makes the restore fail: false.
bool read_scores(Staging& s) {
  RecordReader in;
  if (!in.open(std::string(trim(variables.midfilename(4).view())))) return true;
  real8 a = 0.0, b = 0.0, c = 0.0;
  if (in.read_list(a, b, c) != IoStatus::ok) return true;
  if (!finite(a) || !finite(b) || !finite(c)) return false;
  s.have_scores = true;
  s.prescreenpass = a;
  s.prescreencount = b;
  s.lociscale = c;
  std::array<real8, 4> m{};
  if (in.read_list(std::span<real8>(m)) != IoStatus::ok) return true;
  for (real8 x : m)
    if (!finite(x)) return false;
  s.have_counts = true;
  s.prescreencounts = m;
  int4 p = 0;
  real8 p1 = 0.0, p3 = 0.0;
  if (in.read_list(p, p1, p3) != IoStatus::ok) return true;
  if (p < 0 || p > 3 || !finite(p1) || !finite(p3)) return false;
  s.have_precision = true;
  s.likelihoodprecision = p;
  s.prec1 = p1;
  s.prec3 = p3;
  return true;
}

// The state file; false when it cannot be restored.
bool read_state(Staging& s, const StagedConfiguration* trial) {
  const auto& v = variables;
  const int4 n = v.smplsize;
  RecordReader in;
  if (!in.open(std::string(trim(v.midfilename(1).view())))) return false;
  int4 stored = 0;
  if (in.read_list(stored) != IoStatus::ok || stored != n) return false;
  if (!read_configuration(in, s.cur)) return false;
  if (trial != nullptr) s.cur = *trial;
  if (!read_configuration(in, s.best)) return false;
  for (StagedConfiguration* c : {&s.cur, &s.best})
    if (!valid_families(*c, true) || !valid_parents(c->p1, 1) || !valid_parents(c->p2, 2))
      return false;

  CheckpointRunState& r = s.run;
  if (in.read_list(s.crloglikelihood, s.btloglikelihood, r.temperature, r.withinfactor, s.krun,
                   r.numiterate, r.monitorword, r.nsucc, r.newbestcount, r.nfail1, r.nfail2, r.itr,
                   r.tmr, s.rate, s.idum3, s.idum2, std::span<int4>(s.idumiv),
                   s.idumiy) != IoStatus::ok)
    return false;
  for (real8 x : {s.crloglikelihood, s.btloglikelihood, r.temperature, r.withinfactor, s.rate})
    if (!finite(x)) return false;
  if (in.read_list(std::span<int4>(r.monitorcounters), std::span<int4>(r.progresslog),
                   r.progressstep, s.date2, s.time2, s.timespent) != IoStatus::ok)
    return false;
  if (!finite(r.progressstep) || !finite(s.timespent)) return false;

  if (v.updateallelefre == 1) {
    s.frequencies.resize(static_cast<std::size_t>(v.numloci));
    for (int4 l = 1; l <= v.numloci; ++l) {
      auto& p = s.frequencies[static_cast<std::size_t>(l - 1)];
      p.assign(static_cast<std::size_t>(std::max(v.obsnumallele(l), 0)), 0.0);
      if (in.read_list(std::span<real8>(p)) != IoStatus::ok || !restart_frequencies_acceptable(p))
        return false;
    }
    s.have_frequencies = true;
  }
  if (in.read_list(s.inbreeding) != IoStatus::ok || !finite(s.inbreeding)) return false;
  r.updatecount = 0;
  if (v.numsex == v.allowinbreeding || v.updateallelefre == 1)
    if (in.read_list(r.updatecount) != IoStatus::ok) return false;
  // The last three sections fall back to their start values when they cannot be read.
  if (in.read_list(r.acceptrun, r.bestrun) != IoStatus::ok) r.acceptrun = r.bestrun = 0;
  s.weights.assign(2 * static_cast<std::size_t>(n), 0);
  if (in.read_list(std::span<int4>(s.weights)) != IoStatus::ok) {
    std::fill(s.weights.begin(), s.weights.end(), 1000);
  } else {
    // A weight below 1 would make the choice of the moving offspring divide by zero or loop.
    for (int4 w : s.weights)
      if (w < 1) return false;
  }
  if (in.read_list(r.newbestdiff, r.maxbestgain) != IoStatus::ok) {
    r.newbestdiff = r.maxbestgain = 0.0;
  } else if (!finite(r.newbestdiff) || !finite(r.maxbestgain)) {
    return false;
  }
  return true;
}

// The archive file: configurations in file order up to the end or the first that cannot be
// read or fails its checks. False only when the file cannot be opened.
bool read_archive(Staging& s) {
  auto& v = variables;
  const int4 n = v.smplsize;
  RecordReader in;
  if (!in.open(std::string(trim(v.midfilename(2).view())))) return false;
  const bool onecolumn = v.allmonogamy == 1 && v.numsex == 2;
  FArray<int4, 2> loc, par;
  loc.allocate(Dim(n), Dim(3));
  par.allocate(Dim(n), Dim(2));
  const WindowScope keep_loc(v.indivlocprt);
  const WindowScope keep_par(v.inferparentprt);
  const WindowScope keep_logl(v.loglikelihoodprt);
  for (;;) {
    real8 logl = 0.0;
    if (in.read_list(logl) != IoStatus::ok || !finite(logl)) break;
    StagedConfiguration c;
    bool ok = read_column(in, c.c1);
    if (ok && !onecolumn) ok = read_column(in, c.c2) && read_column(in, c.c3);
    c.p1.assign(static_cast<std::size_t>(n), 0);
    c.p2.assign(static_cast<std::size_t>(n), 0);
    for (int4 sex = 1; sex <= 2 && ok; ++sex)
      if (v.numcandidate(sex) > 0) ok = read_column(in, sex == 1 ? c.p1 : c.p2);
    if (!ok) break;
    if (onecolumn) {
      if (!dense_ids(c.c1, nullptr, n)) break;
    } else if (!valid_families(c, true)) {
      break;
    }
    if (!valid_parents(c.p1, 1) || !valid_parents(c.p2, 2)) break;
    const Column& last = onecolumn ? c.c1 : c.c3;
    const int4 nclust = *std::max_element(last.begin(), last.end());
    for (int4 i = 1; i <= n; ++i) {
      const auto k = static_cast<std::size_t>(i - 1);
      loc(i, 1) = c.c1[k];
      loc(i, 2) = onecolumn ? c.c1[k] : c.c2[k];
      loc(i, 3) = onecolumn ? c.c1[k] : c.c3[k];
      par(i, 1) = c.p1[k];
      par(i, 2) = c.p2[k];
    }
    v.indivlocprt = loc.view();
    v.inferparentprt = par.view();
    v.loglikelihoodprt = &logl;
    newconfig(nclust);
    Config* node = v.configptr;
    v.configptr = nullptr;
    if (s.tail == nullptr) {
      s.head = node;
    } else {
      s.tail->next = node;
    }
    s.tail = node;
  }
  return true;
}

// Puts the kept values back into the array's own storage: references aimed into it (the
// configuration windows, the engine's views) stay valid.
template <class T, int R>
void copy_into(FArray<T, R>& dst, FArray<T, R>& kept) {
  if (dst.allocated() && kept.allocated() && dst.size() == kept.size()) {
    std::copy(kept.data(), kept.data() + kept.size(), dst.data());
  } else {
    dst = std::move(kept);
  }
}

// What a restore may change in module state, kept to be put back when it fails after the
// commit (a restored configuration that scores differently, or a stop inside the scoring).
class Snapshot {
 public:
  Snapshot() {
    auto& v = variables;
    auto& av = annealvariables;
    for (int4 l = 1; v.obsallelefre.allocated() && l <= v.numloci; ++l) {
      std::vector<real8> p;
      for (int4 a = 1; a <= v.obsnumallele(l); ++a) p.push_back(v.obsallelefre(l).a(a));
      fre_.push_back(std::move(p));
    }
    checkpointfrequencyq_ = v.checkpointfrequencyq;
    inbreeding_ = v.inbreeding;
    likelihoodprecision_ = v.likelihoodprecision;
    prec_ = {v.prec1, v.prec2, v.prec3};
    crindivloc_ = v.crindivloc.copy();
    inferparent_ = v.inferparent.copy();
    btindivloc_ = v.btindivloc.copy();
    btinferparent_ = v.btinferparent.copy();
    crnumfamily_ = v.crnumfamily;
    btnumfamily_ = v.btnumfamily;
    btnumassign_ = v.btnumassign;
    btconfigprior_ = v.btconfigprior;
    crloglikelihood_ = v.crloglikelihood;
    btloglikelihood_ = v.btloglikelihood;
    krun_ = v.krun;
    rate_ = annealvariables.rate;
    idum3_ = v.idum3;
    idum2_ = v.idum2;
    idumiv_ = v.idumiv;
    idumiy_ = v.idumiy;
    date2_ = v.date2(1);
    time2_ = v.time2(1);
    timespent_ = v.timespent;
    candidatelogl_ = v.candidatelogl.copy();
    sumcndlogl_ = v.sumcndlogl;
    inbindivlogl_ = v.inbindivlogl.copy();
    inbindivloglself_ = v.inbindivloglself.copy();
    crfamilylogl_ = v.crfamilylogl.copy();
    clustersize_ = av.clustersize.copy();
    clustersizet_ = av.clustersizet.copy();
    sibshipsizedist_ = v.sibshipsizedist.copy();
  }

  void restore() {
    auto& v = variables;
    auto& av = annealvariables;
    for (int4 l = 1; l <= static_cast<int4>(fre_.size()); ++l)
      for (int4 a = 1; a <= v.obsnumallele(l); ++a)
        v.obsallelefre(l).a(a) =
            fre_[static_cast<std::size_t>(l - 1)][static_cast<std::size_t>(a - 1)];
    v.checkpointfrequencyq = checkpointfrequencyq_;
    v.inbreeding = inbreeding_;
    v.likelihoodprecision = likelihoodprecision_;
    v.prec1 = prec_[0];
    v.prec2 = prec_[1];
    v.prec3 = prec_[2];
    copy_into(v.crindivloc, crindivloc_);
    copy_into(v.inferparent, inferparent_);
    copy_into(v.btindivloc, btindivloc_);
    copy_into(v.btinferparent, btinferparent_);
    v.crnumfamily = crnumfamily_;
    v.btnumfamily = btnumfamily_;
    v.btnumassign = btnumassign_;
    v.btconfigprior = btconfigprior_;
    v.crloglikelihood = crloglikelihood_;
    v.btloglikelihood = btloglikelihood_;
    v.krun = krun_;
    annealvariables.rate = rate_;
    v.idum3 = idum3_;
    v.idum2 = idum2_;
    v.idumiv = idumiv_;
    v.idumiy = idumiy_;
    v.date2(1) = date2_;
    v.time2(1) = time2_;
    v.timespent = timespent_;
    copy_into(v.candidatelogl, candidatelogl_);
    v.sumcndlogl = sumcndlogl_;
    copy_into(v.inbindivlogl, inbindivlogl_);
    copy_into(v.inbindivloglself, inbindivloglself_);
    copy_into(v.crfamilylogl, crfamilylogl_);
    copy_into(av.clustersize, clustersize_);
    copy_into(av.clustersizet, clustersizet_);
    copy_into(v.sibshipsizedist, sibshipsizedist_);
    // Genotype-class frequencies built from the restored allele frequencies are dropped; every
    // user refills the positions it needs from the frequencies now in force.
    if (v.locus2.allocated() && v.locus2(0) > 0) computegtypefre(0, 0);
  }

 private:
  std::vector<std::vector<real8>> fre_;
  int4 checkpointfrequencyq_ = 0;
  real8 inbreeding_ = 0.0;
  int4 likelihoodprecision_ = 0;
  std::array<real8, 3> prec_{};
  FArray<int4, 2> crindivloc_, inferparent_, btindivloc_, btinferparent_;
  FStatic<int4, 1, 3> crnumfamily_{}, btnumfamily_{};
  FStatic<int4, 1, 4> btnumassign_{};
  real8 btconfigprior_ = 0.0, crloglikelihood_ = 0.0, btloglikelihood_ = 0.0;
  int4 krun_ = 0;
  real8 rate_ = 0.0;
  int4 idum3_ = 0, idum2_ = 0, idumiy_ = 0;
  FStatic<int4, 1, 32> idumiv_{};
  FString<8> date2_{};
  FString<10> time2_{};
  FStatic<real8, 1, 2> timespent_{};
  FArray<real8, 2> candidatelogl_;
  FStatic<real8, 1, 2> sumcndlogl_{};
  FArray<real8, 1> inbindivlogl_, inbindivloglself_, crfamilylogl_;
  FArray<int4, 2> clustersize_;
  FArray<int4, 1> clustersizet_;
  FArray<int4, 2> sibshipsizedist_;
};

// Puts the snapshot back unless the restore was accepted, also when a stop unwinds through it.
struct RollbackGuard {
  Snapshot& snapshot;
  bool accepted = false;
  ~RollbackGuard() {
    if (!accepted) snapshot.restore();
  }
};

void fill_configuration(FArray<int4, 2>& loc, FArray<int4, 2>& par, const StagedConfiguration& c) {
  const int4 n = variables.smplsize;
  if (!loc.allocated() || loc.size(1) != n || loc.size(2) < 3) loc.allocate(Dim(n), Dim(3));
  if (!par.allocated() || par.size(1) != n || par.size(2) < 2) par.allocate(Dim(n), Dim(2));
  for (int4 i = 1; i <= n; ++i) {
    const auto k = static_cast<std::size_t>(i - 1);
    loc(i, 1) = c.c1[k];
    loc(i, 2) = c.c2[k];
    loc(i, 3) = c.c3[k];
    par(i, 1) = c.p1[k];
    par(i, 2) = c.p2[k];
  }
}

void largest_ids(const FArray<int4, 2>& loc, FStatic<int4, 1, 3>& nfam) {
  const auto& v = variables;
  nfam = {};
  for (int4 i = 1; i <= v.smplsize; ++i)
    for (int4 k = 1; k <= 3; ++k) nfam(k) = std::max(nfam(k), loc(i, k));
  if (v.numsex == 1) nfam(1) = nfam(2) = std::max(nfam(1), nfam(2));
}

// Module state from the staged values.
void commit_state(Staging& s) {
  auto& v = variables;
  CheckpointRunState& st = s.run;
  if (s.have_scores) {
    st.prescreenpass = s.prescreenpass;
    st.prescreencount = s.prescreencount;
    st.lociscale = s.lociscale;
  }
  if (s.have_counts) st.prescreencounts = s.prescreencounts;
  if (s.have_precision) {
    v.likelihoodprecision = s.likelihoodprecision;
    v.prec1 = s.prec1;
    v.prec2 = s.prec1;
    v.prec3 = s.prec3;
  }
  fill_configuration(v.crindivloc, v.inferparent, s.cur);
  fill_configuration(v.btindivloc, v.btinferparent, s.best);
  largest_ids(v.crindivloc, v.crnumfamily);
  largest_ids(v.btindivloc, v.btnumfamily);
  v.crloglikelihood = s.crloglikelihood;
  v.btloglikelihood = s.btloglikelihood;
  v.krun = s.krun;
  annealvariables.rate = s.rate;
  v.idum3 = s.idum3;
  v.idum2 = s.idum2;
  for (int4 k = 1; k <= 32; ++k) v.idumiv(k) = s.idumiv[static_cast<std::size_t>(k - 1)];
  v.idumiy = s.idumiy;
  v.date2(1) = s.date2;
  v.time2(1) = s.time2;
  v.timespent(1) = s.timespent;
  if (s.have_frequencies) {
    for (int4 l = 1; l <= v.numloci; ++l)
      for (int4 a = 1; a <= v.obsnumallele(l); ++a)
        v.obsallelefre(l).a(a) =
            s.frequencies[static_cast<std::size_t>(l - 1)][static_cast<std::size_t>(a - 1)];
    v.checkpointfrequencyq = 1;
  }
  v.inbreeding = s.inbreeding;
  if (v.locus2.allocated() && v.locus2(0) > 0) computegtypefre(0, 0);
}

// Rebuilds and scores the clusters of the restored configuration in ascending cluster id;
// returns the largest half-sib family of each sex.
void rebuild_clusters(FStatic<int2, 1, 2>& hsmax) {
  auto& v = variables;
  auto& av = annealvariables;
  auto& w = configuration_work.tables;
  const int4 n = v.smplsize;
  const int4 nclust = v.crnumfamily(3);
  fit(w.order, n);
  fit(w.members, n);
  fit(w.famcount, nclust + 1);
  for (int4 i = 1; i <= n; ++i) w.members[static_cast<std::size_t>(i)] = v.crindivloc(i, 3);
  if (nclust == 1) {
    for (int4 i = 1; i <= n; ++i) w.order[static_cast<std::size_t>(i)] = i;
  } else {
    indexquick2(n, &w.members[1], &w.order[1]);
  }
  for (int4 k = 1; k <= n; ++k) {
    const int4 i = w.order[static_cast<std::size_t>(k)];
    av.indivloc1(k, 1) = v.crindivloc(i, 1);
    av.indivloc1(k, 2) = v.crindivloc(i, 2);
    av.indivloc1(k, 3) = v.crindivloc(i, 3);
    av.indivloc1(k, 4) = i;
  }
  std::fill(w.famcount.begin(), w.famcount.begin() + nclust + 1, 0);
  for (int4 i = 1; i <= n; ++i) ++w.famcount[static_cast<std::size_t>(v.crindivloc(i, 3))];
  const WindowScope loc(v.indivlocprt, av.indivloc1.view());
  // The engine finds the assigned parents of the offspring through this reference.
  const WindowScope par(v.inferparentprt, v.inferparent.view());
  const WindowScope order(v.indivorder);
  int4 first = 1;
  for (int4 c = 1; c <= nclust; ++c) {
    const int4 size = w.famcount[static_cast<std::size_t>(c)];
    v.indivorder = window(v.number1tgt, first, size);
    int4 nmember = 0, maxfam = 0;
    familybuild(av.indivloc1(first, 1), size, 1, nmember, maxfam, 1, 0, 0, 0);
    if (v.priortype == 1) {
      FStatic<int2, 1, 2> hs{};
      halfsibsize(hs, hsmax);
    }
    if (v.fulllikelihoodmethodq != 0) {
      real8 logl = 0.0;
      familylikelihood(logl, -1e300, 1, 0, size);
      v.crfamilylogl(c) = logl;
    }
    av.clustersizet(c) = size;
    av.clustersize(1, c) = v.nparent(1);
    av.clustersize(2, c) = v.nparent(2);
    av.clustersize(3, c) = maxfam;
    av.clustersize(4, c) = v.numberfsfamily;
    av.clustersize(5, c) = v.maxnumpartner(1);
    av.clustersize(6, c) = v.maxnumpartner(2);
    first += size;
  }
}

// Check mode: the restored configuration's scores on the screen and in the pairwise-step
// file, then the silent stop.
[[noreturn]] void report_check_mode(real8 slot, const CheckpointRunState& st) {
  auto& v = variables;
  if (v.fulllikelihoodmethodq != 0)
    fwrite(std::cout, "(4Es22.12)",
           std::span<const real8>(&v.crfamilylogl(1), static_cast<std::size_t>(v.crnumfamily(3))));
  fwrite(std::cout, "(/5Es22.12)", st.oldlogprior, st.oldcndlogl, slot, v.crloglikelihood);
  std::cout.flush();
  const std::string name(trim(v.midfilename(5).view()));
  RecordReader in;
  std::array<real8, 5> values{};
  std::string first;
  if (in.open(name) && in.read_list(std::span<real8>(values)) == IoStatus::ok) {
    // The first record is replaced; any later records stay as they were.
    in.rewind();
    std::string rest, line;
    in.read_line(line);
    while (in.read_line(line) == IoStatus::ok) rest += line + "\n";
    write_replacing(
        name,
        [&](std::ostream& out) {
          fwrite(out, "(6ES18.8)", std::span<const real8>(values), slot);
          out << rest;
        },
        WriteFailure{"ReadMidResult"});
  }
  stop_silently();
}

}  // namespace

void readmidresult(int4& status, CheckpointRunState& state) {
  auto& v = variables;
  const int4 n = v.smplsize;
  Staging s;
  StagedConfiguration trial;
  const bool use_trial = v.chkconfig > 1 && read_trial(trial);
  const bool scores_valid = read_scores(s);
  {
    std::error_code ec;
    if (!std::filesystem::exists(std::string(trim(v.midfilename(1).view())), ec)) {
      status = 2;
      return;
    }
  }
  status = 1;
  if (!scores_valid || !read_state(s, use_trial ? &trial : nullptr)) return;
  {
    std::error_code ec;
    if (!std::filesystem::exists(std::string(trim(v.midfilename(2).view())), ec)) {
      status = 2;
      return;
    }
  }
  if (!read_archive(s)) return;

  // From here on module state holds the restored values; the guard puts the old ones back
  // unless the restored configuration passes its score test.
  Snapshot snapshot;
  RollbackGuard guard{snapshot};
  CheckpointRunState& st = s.run;
  st.moveweight.allocate(Dim(n), Dim(2));
  for (int4 i = 1; i <= n; ++i)
    for (int4 k = 1; k <= 2; ++k)
      st.moveweight(i, k) =
          s.weights[2 * static_cast<std::size_t>(i - 1) + static_cast<std::size_t>(k - 1)];
  commit_state(s);
  st.curnumselfer = 0;
  if (v.numsex == v.allowinbreeding)
    for (int4 i = 1; i <= n; ++i)
      if (v.crindivloc(i, 1) == v.crindivloc(i, 2)) ++st.curnumselfer;

  singleparentlikelihood(v.inbreeding);
  if (v.inbindivlogl.allocated()) v.inbindivlogl.fill(1.0);
  if (v.inbindivloglself.allocated()) v.inbindivloglself.fill(1.0);

  FStatic<int2, 1, 2> hsmax{};
  rebuild_clusters(hsmax);
  st.numsizeclass = hsmax;
  FStatic<int4, 1, 2> nsize{}, nfam{};
  // The best configuration first, so that the sibship-size tally left behind is the current
  // configuration's; every sibship size counts towards its prior.
  const int4 allsizes = (3 - v.numsex) * n;
  nsize(1) = nsize(2) = allsizes;
  nfam(1) = v.btnumfamily(1);
  nfam(2) = v.btnumfamily(2);
  WindowScope loc(v.indivlocprt, v.btindivloc.view());
  WindowScope par(v.inferparentprt, v.btinferparent.view());
  configurationprior(v.btnumassign, v.btconfigprior, nsize, nfam);
  nfam(1) = v.crnumfamily(1);
  nfam(2) = v.crnumfamily(2);
  v.indivlocprt = v.crindivloc.view();
  v.inferparentprt = v.inferparent.view();
  configurationprior(st.curnumassign, st.oldlogprior, nsize, nfam);
  computeparentlogl(st.oldcndlogl);
  real8 score = st.oldlogprior;
  if (v.fulllikelihoodmethodq != 0) {
    for (int4 c = 1; c <= v.crnumfamily(3); ++c) score += v.crfamilylogl(c);
    score += st.oldcndlogl;
  } else {
    score += pairwise_configuration_score();
  }
  loc.restore();
  par.restore();
  st.recomputedlogl = score;

  if (v.chkconfig >= 1 && v.displayq == 1) report_check_mode(score, st);

  if (v.updateallelefre < 2) {
    const bool ok = score > -1e300 && std::abs(score) >= 1e-300 &&
                    std::abs(score - v.crloglikelihood) / std::abs(score) <= 0.001;
    if (!ok) return;
  }
  // Accepted: the archive joins the one in memory in file order, without tests or limit.
  if (s.head != nullptr) {
    if (v.configtail == nullptr) {
      v.confighead = s.head;
    } else {
      v.configtail->next = s.head;
    }
    v.configtail = s.tail;
    s.head = s.tail = nullptr;
  }
  guard.accepted = true;
  // The run state keeps what the restore does not read: the archive-suppress and
  // archive-changed flags, and the pre-screen values a missing scores file leaves alone.
  if (!s.have_scores) {
    st.prescreenpass = state.prescreenpass;
    st.prescreencount = state.prescreencount;
    st.lociscale = state.lociscale;
  }
  if (!s.have_counts) st.prescreencounts = state.prescreencounts;
  st.archivesuppress = state.archivesuppress;
  st.archivechanged = state.archivechanged;
  state = std::move(st);
  status = 0;
}

}  // namespace kinrad
