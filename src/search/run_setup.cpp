// The set-up of an annealing call: the annealing schedule, the Ewens prior of the sibship
// sizes, the start values of a fresh run and the clearing of a temporary split sibship; and the
// call's set-up proper (work arrays and buffers, the restore from the checkpoints or the fresh
// start with the initial configuration of first_config.cpp, the score of the configuration in
// hand and what follows from it), each a named helper anneal calls in turn.
#include <algorithm>
#include <cmath>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "configuration/configuration.hpp"
#include "core/clock.hpp"
#include "core/error_stop.hpp"
#include "core/fixed_string.hpp"
#include "core/modules.hpp"
#include "core/modules/search_work.hpp"
#include "core/record_reader.hpp"
#include "core/screen.hpp"
#include "core/variables_routines.hpp"
#include "model/model.hpp"
#include "search/move_verdict_internal.hpp"
#include "search/search.hpp"
#include "search/search_internal.hpp"
#include "search/update_internal.hpp"

namespace kinrad {

Schedule make_schedule(int4 smplsize, real8 logk_n, int4 lengthrun, int4 iround,
                       int4 fulllikelihoodmethodq, int4 allmonogamy, int4 haplodiploid, int8 u1,
                       int8 u2) {
  Schedule s;
  if (u1 + u2 > 0) {
    s.sideprob = -1.0;
    if (u1 > 0) s.sideprob = 2.0;
    if (u1 > 0 && u2 > 0)
      s.sideprob = (static_cast<real8>(u1) / static_cast<real8>(u1 + u2)) / (haplodiploid + 1);
  }
  s.ntemprature = fulllikelihoodmethodq == 0 ? 600 : 200;
  s.ratiotemprature = 0.92;
  // The single-precision 0.65 of the design: its double value is 0.6499999761581421.
  const real8 c = static_cast<real8>(0.65f);
  int4 b = static_cast<int4>(std::lround((c * logk_n + 0.25) * smplsize + 0.5));
  // Shorter temperatures in the early allele-frequency rounds.
  if (b > 40 && iround <= 4) b /= 5;
  s.b = b;
  int8 five = 1;
  for (int4 k = 0; k <= lengthrun; ++k) five *= 5;
  s.n = five * b;
  s.nsucclmt = std::lround(0.5 * static_cast<real8>(s.n));
  s.nfaillmt = 8.0 * static_cast<real8>(s.n);
  s.nfaillmt2 = 40.0 * static_cast<real8>(s.n);
  s.iterlmt = 100.0 * static_cast<real8>(s.n);
  real8 x =
      1e-6 + static_cast<real8>(smplsize) / static_cast<real8>(smplsize + (u1 + u2) / smplsize);
  if (x > 0.95 && x < 1.0)
    x = 0.95;
  else if (allmonogamy == 0)
    x = std::max(x, 0.85);
  s.fammovethreshold = x;
  return s;
}

real8 newewenprior(const FStatic<int2, 1, 2>& numsizeclass) {
  auto& v = variables;
  const int4 s0 = v.smplsizedh(2) == 0 ? 2 : 1;
  if (s0 > v.numsex) return 0.0;
  real8 sum = 0.0;
  for (int4 s = s0; s <= v.numsex; ++s) {
    real8 t = v.logewenconst(s);
    for (int4 j = 1; j <= numsizeclass(s); ++j) {
      const int4 c = v.sibshipsizedist(j, s);
      t += (v.logewentheta(s) - v.logk(j)) * c - v.factorial(c);
    }
    sum += v.ewenpriorfac(s) * t;
  }
  return sum;
}

void resetknownsib(int4& splitside) {
  auto& v = variables;
  for (int4 s = 1; s <= 2; ++s) {
    const int4 n = v.setknownsibindiv(0, s);
    for (int4 k = 1; k <= n; ++k) v.knownsibship(v.setknownsibindiv(k, s), s) = 0;
  }
  splitside = 0;
}

bool read_start_file(real8* temperature) {
  auto& v = variables;
  RecordReader in;
  if (!in.open(std::string(trim(v.midfilename(5).view())))) return false;
  real8 first = 0.0;
  real8 a = v.logprior(1, 1), b = v.logprior(2, 1), c = v.logprior(1, 2), d = v.logprior(2, 2);
  // A marker that cannot be read whole is treated as missing: none of its values is used.
  if (in.read_list_strict(first, a, b, c, d) != IoStatus::ok) return false;
  if (temperature != nullptr) *temperature = first;
  v.logprior(1, 1) = a;
  v.logprior(2, 1) = b;
  v.logprior(1, 2) = c;
  v.logprior(2, 2) = d;
  return true;
}

void startparavalues(RunState& rs) {
  auto& v = variables;
  auto& cp = rs.cp;
  if (!read_start_file(&cp.temperature)) cp.temperature = static_cast<real8>(v.numloci23);
  cp.acceptrun = 0;
  cp.bestrun = 0;
  cp.newbestcount = 0;
  cp.numiterate = 0;
  rs.tmrstart = 1;
  annealvariables.rate = 1.0;
  cp.nfail2 = 0;
  cp.monitorcounters = {0, 0, 0};
  cp.progresslog = {0, 1};
  cp.progressstep = 0.5;
  cp.monitorword = 0;
}

// --- The call's set-up -----------------------------------------------------------------------

namespace {

FView<int4, 2> first_two_columns(FArray<int4, 2>& a) {
  return FView<int4, 2>(&a(1, 1), {Dim(a.size(1)), Dim(2)});
}

void reseed_search_stream() {
  auto& v = variables;
  v.idum2 = 123456789;
  v.idumiy = 0;
  v.idumiv.fill(0);
  v.idum3 = v.i_seed == 0 ? -12345 : -std::abs(v.i_seed);
}

// The best copy goes into the archive (mode 1: duplicates are refused).
void archive_best() {
  auto& v = variables;
  WindowSave keep;
  v.indivlocprt = v.btindivloc.view();
  v.inferparentprt = v.btinferparent.view();
  v.loglikelihoodprt = &v.btloglikelihood;
  archiveconfigadd(1, v.btnumfamily(3));
}

// Candidates free to be assigned: no known parent and, on a restore, no inferred parent.
void mark_unassigned_candidates(RunState& rs, bool restored) {
  auto& v = variables;
  auto& av = annealvariables;
  const int4 n = v.smplsize;
  rs.numunassigned[0] = rs.numunassigned[1] = rs.numunassigned[2] = 0;
  if (!av.unassignedcnd.allocated()) return;
  const int4 ncols = 2;
  for (int4 s = 1; s <= ncols; ++s) {
    const int4 pool = v.numsex == 1 ? 1 : s;
    const int4 nc = v.numcandidate(pool);
    for (int4 j = 1; j <= nc; ++j) av.unassignedcnd(j, s) = v.knownprntq(j, s) <= 0 ? 1 : 0;
    if (restored)
      for (int4 i = 1; i <= n; ++i) {
        const int4 p = v.inferparent(i, s);
        if (p > 0 && p <= nc) av.unassignedcnd(p, s) = 0;
      }
    for (int4 j = 1; j <= nc; ++j) rs.numunassigned[s] += av.unassignedcnd(j, s);
  }
  if (v.numsex == 1)
    for (int4 j = 1; j <= v.numcandidate(1); ++j)
      if (av.unassignedcnd(j, 1) == 1 && av.unassignedcnd(j, 2) == 1) ++rs.numunassigned[0];
}

// The parent-offspring table of offspring whose parents are themselves offspring.
void fill_parent_offspring_lists() {
  auto& v = variables;
  if (!v.poassign.allocated()) return;
  const int4 n = v.smplsize;
  v.npoassign(0) = 0;
  for (int4 i = 1; i <= n; ++i) {
    v.ipoassign(i) = 0;
    for (int4 s = 1; s <= 2; ++s) {
      const int4 p = std::max(v.inferparent(i, s), v.indivparent(i, s));
      v.poassign(s, i) = p > 0 ? v.cndinoffspring(p, s) : 0;
    }
    if (v.poassign(1, i) > 0 || v.poassign(2, i) > 0) {
      v.npoassign(++v.npoassign(0)) = i;
      v.ipoassign(i) = v.npoassign(0);
    }
  }
}

// The schedule from the sample and its candidates.
void set_schedule(RunState& rs, int4 iround) {
  auto& v = variables;
  const int4 n = v.smplsize;
  int8 u[3] = {0, 0, 0};
  for (int4 s = 1; s <= 2; ++s) {
    for (int4 i = 1; i <= n; ++i)
      if (!v.indivparent.allocated() || v.indivparent(i, s) <= 0) ++u[s];
    u[s] *= v.meannumcandidate(s);
  }
  rs.sched = make_schedule(n, v.logk(n), v.lengthrun, iround, v.fulllikelihoodmethodq,
                           v.allmonogamy, v.haplodiploid, u[1], u[2]);
  rs.p = v.fulllikelihoodmethodq == 0 ? 10 : 1;
  for (int4 k = 1; k <= 2; ++k) {
    const real8 lim = k == 1 ? rs.sched.nfaillmt : rs.sched.nfaillmt2;
    std::string t = ", NFail" + std::to_string(k) + "Lmt=" + rtoc(lim, "(F16.0)");
    if (t.size() > 50) t.resize(50);
    rs.limittext[k] = t;
  }
}

real8 known_sibship_fraction() {
  auto& v = variables;
  int8 c = 0;
  for (int4 s = 1; s <= 2; ++s) {
    if (v.anyknownsibshipq(s) != 1) continue;
    for (int4 i = 1; i <= v.smplsize; ++i)
      if (v.knownsibship(i, s) != 0) ++c;
  }
  return static_cast<real8>(c) / (2.0 * v.smplsize);
}

}  // namespace

// The defaults of the side-1 family tables' windows.
void set_default_move_targets() {
  auto& av = annealvariables;
  av.familyidx1tgt(1) = 1;
  av.familyidx1tgt(2) = 1;
  av.locpartner1tgt(1) = 0;
  av.locpartner1tgt(2) = 1;
  av.partner1tgt(1) = 1;
  av.partner1tgt(2) = 1;
}

// Work arrays of the search over the sample: the move tables and the cluster tables.
void allocate_work_arrays() {
  auto& v = variables;
  auto& av = annealvariables;
  const int4 n = v.smplsize;
  const auto ensure2 = [](auto& a, Dim d0, Dim d1) {
    if (!a.allocated() || a.size(1) != d0.extent() || a.size(2) != d1.extent()) a.allocate(d0, d1);
  };
  ensure2(v.crindivloc, Dim(n), Dim(3));
  ensure2(v.inferparent, Dim(n), Dim(2));
  ensure2(v.btinferparent, Dim(n), Dim(2));
  ensure2(v.btindivloc, Dim(n), Dim(3));
  ensure2(v.offtgt, Dim(n), Dim(3));
  ensure2(v.prnttgt, Dim(n), Dim(2));
  ensure2(av.indivloc1, Dim(n), Dim(4));
  ensure2(av.indivloc2, Dim(n), Dim(4));
  ensure2(av.indivloc3, Dim(n), Dim(4));
  ensure2(av.indivlocidx, Dim(n), Dim(3));
  if (!av.numindivlocidx.allocated()) av.numindivlocidx.allocate(Dim(3));
  ensure2(av.indivclusterid, Dim(n), Dim(3));
  ensure2(av.clustersize, Dim(6), Dim(n));
  if (!av.clustersizet.allocated()) av.clustersizet.allocate(Dim(n));
  ensure2(av.familyidx2, Dim(n), Dim(2));
  if (!av.numpartner1.allocated()) av.numpartner1.allocate(Dim(1), Dim(2));
  if (!av.parentidx1.allocated()) av.parentidx1.allocate(Dim(2));
  if (!av.parentidx2.allocated()) av.parentidx2.allocate(Dim(2));
  if (!v.parentchd.allocated()) v.parentchd.allocate(Dim(2));
  if (!av.numfamilymember1.allocated()) av.numfamilymember1.allocate(Dim(1));
  if (!av.numfamilymember2.allocated()) av.numfamilymember2.allocate(Dim(1));
  if (!av.familymember1.allocated()) av.familymember1.allocate(Dim(1));
  if (!av.sibloc1.allocated()) av.sibloc1.allocate(Dim(0, 1));
  set_default_move_targets();
  av.indivloc12(1) = av.indivloc1.view();
  av.indivloc12(2) = av.indivloc2.view();
  const int4 m = n + 100;
  if (!v.indivcluster.allocated()) {
    v.indivcluster.allocate(Dim(m));
    if (!(v.allmonogamy == 1 && v.numsex == 2)) {
      v.indivcluster1.allocate(Dim(m));
      v.indivcluster2.allocate(Dim(m));
      v.indivclustern.allocate(Dim(m));
      v.indivclusterm.allocate(Dim(m));
      v.indivclusterf.allocate(Dim(m));
      if (v.numsex == 1) v.indivclusterj.allocate(Dim(m));
    }
    v.indivclusterindex.allocate(Dim(n));
    v.indivclusteridx.allocate(Dim(0, m));
    v.indivclusteridx.fill(-1);
    v.indivclusteridx(0) = 0;
  }
  if (!v.setknownsibindiv.allocated()) v.setknownsibindiv.allocate(Dim(0, n), Dim(2));
  if (!av.indivparentage.allocated()) av.indivparentage.allocate(Dim(n), Dim(2));
  if (!av.inferparentage.allocated()) av.inferparentage.allocate(Dim(n), Dim(2), Dim(2));
  if (!av.parentagefamily.allocated()) av.parentagefamily.allocate(Dim(n), Dim(2));
}

// The search's grow-only buffers whose need the sample bounds by a small multiple of its size,
// taken at their full size before the first move: a buffer first used late in a run (a screen,
// the archive's equality test, a sort variant) must not allocate inside a warm iteration. No
// count of a move's rows, clusters, family ids or parent changes exceeds twice the sample.
void size_search_work(RunState& rs) {
  auto& v = variables;
  auto& av = annealvariables;
  auto& w = search_work;
  const auto n = static_cast<std::size_t>(std::max(v.smplsize, 1));
  auto& vd = rs.verdict;
  grow_verdict_work(vd.clusters, 1);
  grow_verdict_work(vd.rows, 1);
  grow_verdict_work(vd.order, 1);
  grow_verdict_work(vd.pending, 1);
  grow_verdict_work(vd.rowof, 1);
  grow_verdict_work(vd.keys, 1);
  grow_verdict_work(vd.ikeys, 1);
  grow_verdict_work(w.idmark, 1);
  for (FArray<int4, 2>* b : {&vd.block1, &vd.block2})
    if (!b->allocated() || b->size(1) < v.smplsize) b->allocate(Dim(v.smplsize), Dim(4));
  if (w.keys.size() < n + 1) w.keys.resize(n + 1);
  if (w.fskeys.size() < n) w.fskeys.resize(n);
  w.order.reserve(n + 1);
  size_family_groups();
  w.roworder.reserve(n + 1);
  w.sortkeys.reserve(n + 1);
  // A validity test logs at most a sign and a parent of each sex for every offspring, and the
  // parent-offspring entry of each listed change (at most one per offspring and sex).
  av.checkundo.reserve(6 * n + 8);
  size_archive_work();
}

// Which sex the data fix as one known sibship of the whole sample, and the sex whose sibships
// the data or monogamy fix.
void sibship_sexes(RunState& rs) {
  auto& v = variables;
  const int4 n = v.smplsize;
  rs.wholesibshipsex = 0;
  for (int4 s = 1; s <= 2; ++s) {
    if (!v.knownsibship.allocated() || v.knownsibship(1, s) == 0) continue;
    bool all = true;
    for (int4 i = 2; i <= n && all; ++i) all = v.knownsibship(i, s) == v.knownsibship(1, s);
    if (all) rs.wholesibshipsex = static_cast<int1>(s);
  }
  if (rs.wholesibshipsex != 0) {
    rs.focussex = rs.wholesibshipsex;
    if (v.monogamy(2) != 0) rs.focussex = 2 - v.monogamy(2);
  } else {
    rs.focussex = 0;
    const int4 m1 = v.monogamy(1) != 0 ? 1 : 0;
    if (v.monogamy(2) != m1) rs.focussex = 2 - v.monogamy(2);
  }
  if (v.allmonogamy != 0 && v.numsex == 2) v.nchild.allocate(Dim(1), Dim(1));
}

// Whether the Mendelian trio screen of the pairwise search is worth running.
int4 trio_check_wanted() {
  auto& v = variables;
  if (v.numcandidate(1) <= 0 || v.numcandidate(2) <= 0 || v.fulllikelihoodmethodq != 0 ||
      v.numloci23 <= 99)
    return 0;
  for (int4 l = 1; l <= v.numloci; ++l)
    if (v.othererrorrate(l) <= 0.0 && v.droprate(l) <= 0.0) return 1;
  return 0;
}

// Single-offspring likelihoods, and with selfing the prior chance of each offspring being
// selfed, from the two likelihoods by a shifted softmax.
void single_offspring_terms(RunState& rs) {
  auto& v = variables;
  const int4 n = v.smplsize;
  if (v.inbindivlogl.allocated()) v.inbindivlogl.fill(1.0);
  if (v.inbindivloglself.allocated()) v.inbindivloglself.fill(1.0);
  singleindivlikelihood(0.0, n, 0, std::span<real8>(&v.indivlogl(1), static_cast<std::size_t>(n)));
  if (v.numsex != v.allowinbreeding) return;
  if (!v.indivloglself.allocated()) v.indivloglself.allocate(Dim(n));
  singleindivlikelihood(0.5, n, 0,
                        std::span<real8>(&v.indivloglself(1), static_cast<std::size_t>(n)));
  rs.prbself.allocate(Dim(n));
  for (int4 i = 1; i <= n; ++i) {
    const real8 a = v.indivloglself(i), b = v.indivlogl(i), m = std::max(a, b);
    const real8 ea = std::exp(a - m), eb = std::exp(b - m);
    const real8 q = ea / (ea + eb);
    rs.prbself(i) = 0.05 * (1.0 - q) + 0.95 * q;
  }
}

// The selfing count of the current configuration and the stop for selfing without inbreeding.
void selfing_check(RunState& rs, bool fresh) {
  auto& v = variables;
  const int4 n = v.smplsize;
  if (v.numsex == v.allowinbreeding) {
    rs.cp.curnumselfer = 0;
    for (int4 i = 1; i <= n; ++i)
      if (v.crindivloc(i, 1) == v.crindivloc(i, 2)) ++rs.cp.curnumselfer;
  } else {
    rs.cp.curnumselfer = 0;
  }
  if (fresh && v.allowinbreeding == 1) initialinbcoe(v.inbreeding);
  if (v.numsex == 1 && v.allowinbreeding == 0) {
    for (int4 i = 1; i <= n; ++i) {
      if (v.crindivloc(i, 1) != v.crindivloc(i, 2)) continue;
      for (int4 k = 1; k <= 5; ++k) v.errmsg(k) = "";
      v.errmsg(1) = "Aborting due to error in initial configuration!\nOffspring " + itoc(i) +
                    " is from selfing defined by known parentage/sibship data. This is NOT "
                    "allowed as inbreeding is set as absent!";
      stoponerror(1, "ANNEAL");
    }
  }
}

// The score of the fresh initial configuration and its best copy.
void score_initial_configuration(RunState& rs) {
  auto& v = variables;
  auto& cp = rs.cp;
  cp.oldcndlogl = 0.0;
  if (v.fulllikelihoodmethodq != 0) {
    if (v.numsex == 2) {
      for (int4 s = 1; s <= 2; ++s)
        for (int4 j = 1; j <= v.numcandidate(s); ++j)
          if (v.knownprntq(j, s) <= 0) cp.oldcndlogl += v.candidatelogl(j, s);
    } else {
      for (int4 j = 1; j <= v.numcandidate(1); ++j)
        if (v.knownprntq(j, 1) + v.knownprntq(j, 2) <= 0) cp.oldcndlogl += v.candidatelogl(j, 1);
    }
  }
  setinitconfiglogl(1, cp.numsizeclass);
  {
    WindowSave keep;
    v.indivlocprt = first_two_columns(v.crindivloc);
    if (v.priortype == 1) {
      FStatic<int4, 1, 2> nfam{};
      nfam(1) = v.crnumfamily(1);
      nfam(2) = v.crnumfamily(2);
      sibshipsize(nfam, 1);
    }
  }
  cp.oldlogprior = priorvalue(1, {cp.curnumassign(1), cp.curnumassign(3)}, v.crnumfamily(1),
                              cp.numsizeclass(1), cp.curnumselfer) +
                   priorvalue(2, {cp.curnumassign(2), cp.curnumassign(4)}, v.crnumfamily(2),
                              cp.numsizeclass(2), cp.curnumselfer);
  if (v.fulllikelihoodmethodq == 0) {
    WindowSave keep;
    v.indivlocprt = v.crindivloc.view();
    v.inferparentprt = v.inferparent.view();
    calculatecrrtpairlogl(v.crloglikelihood);
  } else {
    real8 s = 0.0;
    for (int4 c = 1; c <= v.crnumfamily(3); ++c) s += v.crfamilylogl(c);
    v.crloglikelihood = s + cp.oldcndlogl;
  }
  v.crloglikelihood += cp.oldlogprior;
  // The single-precision -1e38 of the design.
  if (v.crloglikelihood <= static_cast<real8>(-1e38f)) invalidconfig(2);
  v.btloglikelihood = v.crloglikelihood;
  v.btnumfamily = v.crnumfamily;
  v.btindivloc = v.crindivloc.copy();
  v.btinferparent = v.inferparent.copy();
  v.btnumassign = cp.curnumassign;
  v.btconfigprior = cp.oldlogprior;
}

// Every offspring's parents are fixed by known parents: nothing to search.
bool configuration_fixed() {
  auto& v = variables;
  if (v.allcandidate <= 0) return false;
  for (int4 i = 1; i <= v.smplsize; ++i)
    for (int4 s = 3 - v.offploid(i); s <= 2; ++s)
      if (v.knownsibship(i, s) >= 0) return false;
  return true;
}

// The restore from the checkpoints; true when the run goes on from the restored state.
bool restore(RunState& rs, int4& firstq, bool& cutshort) {
  auto& v = variables;
  int4 status = 1;
  readmidresult(status, rs.cp);
  rs.restorestatus = status;
  if (status != 0) {
    archiveconfigremoveall();
    reseed_search_stream();
    return false;
  }
  if (v.runcutshortq == 1) {
    firstq = -1;
    cutshort = true;
    return true;
  }
  if (v.updateallelefre == 2) archiveconfigremoveall();
  // The restored best must head the archive: an archive one checkpoint behind, or freed for a
  // new round, gets it back.
  if (v.confighead == nullptr || v.confighead->logl < v.btloglikelihood - 1e-8) {
    archive_best();
    rs.cp.archivechanged = 1;
  }
  if (v.threadid == 0) rs.lastloggediter = last_logged_iteration();
  rs.tmrstart = rs.cp.tmr;
  rs.itrstart = rs.cp.itr;
  return true;
}

// What follows from the configuration in hand, after a restore as after a fresh start.
void finish_setup(RunState& rs, int4 iround, bool fresh) {
  auto& v = variables;
  auto& cp = rs.cp;
  if (v.priortype == 1) {
    if (!fresh) {
      WindowSave keep;
      v.indivlocprt = first_two_columns(v.crindivloc);
      FStatic<int4, 1, 2> nfam{};
      nfam(1) = v.crnumfamily(1);
      nfam(2) = v.crnumfamily(2);
      sibshipsize(nfam, 1);
    }
    rs.oldsibsizeprior = newewenprior(cp.numsizeclass);
  }
  if (v.btloglikelihood > v.bestlogl || v.updateallelefre == 2) v.bestlogl = v.btloglikelihood;
  v.minloglikelihood = v.bestlogl - 10.0;
  if (fresh && v.btloglikelihood > v.minloglikelihood) {
    archive_best();
    cp.archivechanged = 1;
  }
  rs.knownsibfrac = known_sibship_fraction();
  set_schedule(rs, iround);
  mark_unassigned_candidates(rs, !fresh);
  setinitcluster();
  fill_parent_offspring_lists();
  rs.scoreformat = outputformat(v.crloglikelihood);
  rs.hetsum = 0.0;
  for (int4 l = 1; l <= v.numloci; ++l) {
    if (v.obsnumallele(l) <= 1) continue;
    real8 s = 0.0;
    for (int4 a = 1; a <= v.obsnumallele(l); ++a)
      s += v.obsallelefre(l).a(a) * v.obsallelefre(l).a(a);
    rs.hetsum += 1.0 - s;
  }
  if (std::fabs(cp.lociscale) < 1e-300) {
    cp.lociscale = std::log(rs.hetsum + 2.72) + 1.0;
    cp.prescreenpass = cp.prescreencount = 0.0;
  }
  rs.monitorcpu = processor_time();
  rs.lasttick = rs.lastmonitor = rs.monitorcpu;
  rs.crshown = ShownCounts{};
  rs.btshown = ShownCounts{};
  annealvariables.lastfamilyid(1) = 0;
  annealvariables.lastfamilyid(2) = 0;
  if (fresh)
    rs.archiveon() = v.smplsize <= 99 && v.iarchive == 1 ? 1 : 0;
  else if (v.iarchive != 1)
    rs.archiveon() = 0;
  if (v.allcandidate > 0) {
    for (int4 i = 1; i <= v.smplsize; ++i)
      for (int4 s = 1; s <= 2; ++s)
        v.inferparent2(i, s) = v.indivparent(i, s) > 0 ? v.indivparent(i, s) : v.inferparent(i, s);
  } else if (v.inferparent2.allocated()) {
    v.inferparent2.fill(0);
  }
  rs.tick1 = std::max(1, v.monitorinterval / 2);
  rs.tick2 = std::max(1, v.monitorinterval / 10);
}

// What every annealing call sets up before the configuration: the run's constants, the work
// arrays and buffers, the genotype frequencies, the single-offspring terms and the start file.
void prepare_call(RunState& rs, int4 iround) {
  auto& v = variables;
  const int4 n = v.smplsize;
  rs.locusratio = static_cast<real8>(v.numloci23) /
                  static_cast<real8>(annealvariables.nallallele -
                                     (v.locus1.allocated() ? v.locus1(0) : 0) - v.numdommarkers(1));
  rs.runlabel = v.updateallelefre >= 2 ? std::max(v.krun, iround) : v.krun;
  v.parallelq = v.numthreads > 1 ? 1 : 0;
  sibship_sexes(rs);
  rs.starttime = static_cast<real4>(processor_time());
  rs.lastsavecpu = rs.starttime;
  rs.reduceperiod = v.fulllikelihoodmethodq == 0 ? 100000 : 10000;
  allocate_work_arrays();
  size_search_work(rs);
  rs.cp.moveweight.allocate(Dim(n), Dim(2));
  rs.cp.moveweight.fill(1000);
  if (v.locus2.allocated() && v.locus2(0) > 0) computegtypefre(0, 0);
  rs.triocheckq = trio_check_wanted();
  v.indivorder = v.number1tgt.view();
  single_offspring_terms(rs);
  read_start_file(nullptr);
  v.timespent(2) = 0.0;
}

// A fresh start: the initial configuration from the known relationships, with an empty
// archive for a later round.
void fresh_start(RunState& rs, int4 firstq) {
  auto& v = variables;
  rs.restorestatus = 1;
  if (firstq == 1) {
    v.timespent(1) = 0.0;
    v.krun = 1;
    v.date2(1) = v.date2(2);
    v.time2(1) = v.time2(2);
  }
  // Each round starts with an empty archive: records of an earlier round keep scores under
  // other frequencies and could head the archive.
  if (v.updateallelefre == 2 && firstq != 1) archiveconfigremoveall();
  firstconfig(rs.cp.curnumassign);
  rs.lastloggediter = 0;
  rs.cp.archivechanged = 1;
}

// The configuration in hand scored: the selfing check, the genotype frequencies, the
// single-parent likelihoods and, for a fresh start, the score and best copy.
void score_start(RunState& rs, bool fresh) {
  auto& v = variables;
  selfing_check(rs, fresh);
  if (v.locus2.allocated() && v.locus2(0) > 0) computegtypefre(0, 0);
  singleparentlikelihood(v.inbreeding);
  if (fresh) score_initial_configuration(rs);
}

}  // namespace kinrad
