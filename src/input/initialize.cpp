#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "core/clock.hpp"
#include "core/error_stop.hpp"
#include "core/modules.hpp"
#include "core/modules/variables.hpp"
#include "core/sorting.hpp"
#include "core/system_memory.hpp"
#include "core/variables_routines.hpp"
#include "input/input.hpp"
#include "input/parent_conflicts_internal.hpp"
#include "search/search.hpp"

namespace kinrad {

namespace {

constexpr const char* routine_name = "Initialize";

// The run state that the search, the configuration model and the likelihood engine keep for
// the whole analysis is tested here: a failure (or a table left over from an earlier set-up)
// stops through the memory flag instead of ending the program unreported.
template <class T, int R, class... D>
void allocate_run_state(FArray<T, R>& a, D... dims) {
  if (a.allocated() || !a.try_allocate(dims...)) stoponerror(0, routine_name);
}

// Column `col` (1-based) of a rank-2 table as a rank-1 window with bounds 1..rows.
FView<int4, 1> column(FArray<int4, 2>& a, index_t col) {
  const index_t rows = a.size(1);
  if (!a.allocated() || rows < 1 || col < a.lbound(2) || col > a.ubound(2))
    return FView<int4, 1>(a.data(), {Dim(1, 0)});
  return FView<int4, 1>(&a(a.lbound(1), col), {Dim(1, rows)});
}

void stamp_start_time() {
  const DateTimeStamp stamp = date_time_stamp();
  variables.date2(2) = stamp.date;
  variables.time2(2) = stamp.time;
}

void allocate_move_tables(int4 n) {
  auto& av = annealvariables;
  auto& v = variables;
  auto& lv = likelihoodvar;
  allocate_run_state(av.numindivlocidx, Dim(3));
  allocate_run_state(av.indivlocidx, Dim(n), Dim(3));
  allocate_run_state(av.indivclusterid, Dim(n), Dim(3));
  allocate_run_state(v.offtgt, Dim(n), Dim(3));
  allocate_run_state(v.btindivloc, Dim(n), Dim(3));
  allocate_run_state(av.clustersize, Dim(6), Dim(n));
  allocate_run_state(av.clustersizet, Dim(n));
  allocate_run_state(av.indivloc1, Dim(n), Dim(4));
  allocate_run_state(av.indivloc2, Dim(n), Dim(4));
  allocate_run_state(av.indivloc3, Dim(n), Dim(2));
  allocate_run_state(av.familyidx2, Dim(n), Dim(2));
  allocate_run_state(v.prnttgt, Dim(n), Dim(2));
  allocate_run_state(v.setknownsibindiv, Dim(0, n), Dim(2));
  allocate_run_state(av.parentidx1, Dim(2));
  allocate_run_state(av.parentidx2, Dim(2));
  allocate_run_state(v.parentchd, Dim(2));
  allocate_run_state(lv.allelehsloc, Dim(2));
  allocate_run_state(av.numpartner1, Dim(1), Dim(2));
  allocate_run_state(av.numfamilymember1, Dim(1));
  allocate_run_state(av.numfamilymember2, Dim(1));
  allocate_run_state(v.fsprobloc, Dim(1));
  allocate_run_state(lv.idxtgt, Dim(3));
  allocate_run_state(v.numfsgenotype, Dim(2), Dim(1));
  allocate_run_state(av.familymember1, Dim(1));
  allocate_run_state(v.hsfamilysize, Dim(1));
  allocate_run_state(av.sibloc1, Dim(0, 1));
  allocate_run_state(v.familymemtgt, Dim(n));
  allocate_run_state(v.familymembertgt, Dim(n));
  allocate_run_state(v.selectedfamily, Dim(n));
  allocate_run_state(lv.fsprobptr, Dim(1));
  allocate_run_state(lv.fsprobidx, Dim(1));
  allocate_run_state(lv.allelehs, Dim(1));
  allocate_run_state(lv.allelehsnum, Dim(1));
  allocate_run_state(v.scale2, Dim(0, 0));
  allocate_run_state(lv.idxloc, Dim(0, 2));
  allocate_run_state(v.nchdflag, Dim(1));
  v.nchdflag(1) = 0;
  lv.idxloc(0) = 0;
  v.numfsgenotypeub = 1;
  set_default_move_targets();
  av.familyidx1.nullify();
  av.locpartner1.nullify();
  av.partner1.nullify();
  if (v.numsex == 2) {
    allocate_run_state(lv.selfprnt, Dim(0, 0));
    lv.selfprnt(0) = 0;
  }
}

void allocate_cluster_tables(int4 n) {
  auto& v = variables;
  for (int k = 1; k <= 2; ++k) {
    allocate_run_state(v.indivordertgt(k).a, Dim(std::max(n, 0)));
    for (int4 i = 1; i <= n; ++i) v.indivordertgt(k).a(i) = i;
  }
  const int4 m = n + 100;
  allocate_run_state(v.indivcluster, Dim(m));
  // With both sexes monogamous a cluster is one family, and the per-sex lists are never used.
  if (!(v.allmonogamy == 1 && v.numsex == 2)) {
    allocate_run_state(v.indivcluster1, Dim(m));
    allocate_run_state(v.indivcluster2, Dim(m));
    allocate_run_state(v.indivclustern, Dim(m));
    allocate_run_state(v.indivclusterm, Dim(m));
    allocate_run_state(v.indivclusterf, Dim(m));
    if (v.numsex == 1) allocate_run_state(v.indivclusterj, Dim(m));
  }
  allocate_run_state(v.indivclusterindex, Dim(n));
  allocate_run_state(v.indivclusteridx, Dim(0, m));
  v.indivclusteridx.fill(-1);
  v.indivclusteridx(0) = 0;
}

void set_thresholds_and_scratch(int4 n, int4 c) {
  auto& v = variables;
  if (v.likelihoodprecision < 1) {
    v.prec1 = 0.05;
    v.prec2 = 0.05;
    v.prec3 = 0.005;
  } else {
    set_precision_thresholds(v.likelihoodprecision);
  }
  v.sexid(1) = v.numsex == 2 ? "*" : "#";
  v.sexid(2) = "#";

  const int4 m = std::max(std::max(n, 100) + (3 - v.numsex) * n, c);
  v.selectedindivq.allocate(Dim(m));
  for (auto& e : v.selectedindivq) e.p = &v.falsetgt;
  annealvariables.selectedprntidxq1.allocate(Dim(m));
  annealvariables.selectedprntidxq2.allocate(Dim(m));
  annealvariables.selectedprntidxq3.allocate(Dim(m));
  v.kdxtgt.allocate(Dim(m));
  v.ldxtgt.allocate(Dim(m));
  v.number1tgt.allocate(Dim(n));
  for (int4 i = 1; i <= n; ++i) v.number1tgt(i) = i;
  v.indivorder = v.number1tgt.view();
}

void set_seeds() {
  auto& v = variables;
  // The magnitude in 64 bits, so that the most negative seed keeps its value.
  const int8 base = v.i_seed == 0 ? 12345 : std::abs(static_cast<int8>(v.i_seed));
  v.idum3 = static_cast<int4>(-base);
  v.idum = static_cast<int4>(-base - 5 * static_cast<int8>(v.threadid));
}

void allocate_locus_and_offspring_tables(int4 n, int4 c) {
  auto& v = variables;
  const int4 nl = v.numloci;
  v.locusorder.allocate(Dim(nl));
  for (int4 l = 1; l <= nl; ++l) v.locusorder(l) = l;
  v.obsnumallele.allocate(Dim(nl));
  v.locuserror.allocate(Dim(nl));
  v.transrate.allocate(Dim(nl));
  v.indivlogl.allocate(Dim(n));
  v.crfamilylogl.allocate(Dim(n));
  if (v.allowinbreeding == 1) {
    v.inbindivlogl.allocate(Dim(n));
    v.inbindivlogl.fill(1.0);
    if (v.numsex == 1) {
      v.inbindivloglself.allocate(Dim(n));
      v.inbindivloglself.fill(1.0);
    }
  }
  if (v.numsex == 1) {
    v.indivloglself.allocate(Dim(n));
    likelihoodvar.i1bflag.allocate(Dim(10));
  }

  v.configptr = nullptr;
  v.configptr1 = nullptr;
  v.configptr2 = nullptr;
  v.confighead = nullptr;
  v.configtail = nullptr;
  v.sibshipsizedist.allocate(Dim(0, (3 - v.numsex) * n), Dim(v.numsex));
  if (v.haplodiploid == 1) v.transratehaploid.allocate(Dim(2), Dim(nl));
  v.candidatelogl.allocate(Dim(c), Dim(2));
  annealvariables.unassignedcnd.allocate(Dim(c), Dim(2));
  v.inferparent.allocate(Dim(n), Dim(2));
  v.inferparent2.allocate(Dim(n), Dim(2));
  v.btinferparent.allocate(Dim(n), Dim(2));

  auto& av = annealvariables;
  av.indivlocptr14 = column(av.indivloc1, 4);
  av.indivlocptr21 = column(av.indivloc2, 1);
  av.indivlocptr22 = column(av.indivloc2, 2);
  av.indivlocptr24 = column(av.indivloc2, 4);
  v.clusterid = column(v.crindivloc, 3);
  av.indivloc12(1) = av.indivloc1.view();
  av.indivloc12(2) = av.indivloc2.view();

  const int4 nf = std::max(2 * n, c);
  v.factorial.allocate(Dim(0, nf));
  v.logk.allocate(Dim(nf));
  v.factorial(0) = 0.0;
  for (int4 k = 1; k <= nf; ++k) {
    v.logk(k) = std::log(static_cast<real8>(k));
    v.factorial(k) = v.factorial(k - 1) + v.logk(k);
  }
}

// Per sex: the log prior of a sampled parent and the mean number of candidates still
// admissible for an offspring whose parent of that sex is unknown.
void set_candidate_priors(int4 n) {
  auto& v = variables;
  const bool haveexclusions = v.excludedparent.allocated();
  const bool haveparents = v.indivparent.allocated();
  for (int k = 1; k <= 2; ++k) {
    v.meannumcandidate(k) = 0;
    v.sibshipdone(k) = 0;
    const int4 nc = v.numcandidate(k);
    if (nc == 0) {
      v.logprior(1, k) = 0.0;
      v.logprior(2, k) = 0.0;
      continue;
    }
    const real8 p = std::clamp(v.propprntsampled(k), 1e-9, 0.999999999);
    v.logprior(1, k) = std::log(p);
    v.logprior(2, k) = std::log(1.0 - p);
    int8 sum = 0;
    int8 m = 0;
    for (int4 i = 1; i <= n; ++i) {
      if (haveparents && v.indivparent(i, k) > 0) continue;
      ++m;
      const int4 excl = haveexclusions ? v.excludedparent(i, k).count : 0;
      sum += excl >= 0 ? nc - excl : -static_cast<int8>(excl);
    }
    if (m == 0) {
      v.sibshipdone(k) = 1;
    } else {
      v.meannumcandidate(k) = static_cast<int4>((sum + m - 1) / m);
    }
  }
}

// Finds individuals listed twice (a candidate of both sexes, an offspring that is also a
// candidate) by their identifiers, through the candidates of each sex in identifier order.
void cross_list_identifiers(int4 n, int4 c) {
  auto& v = variables;
  std::vector<int4> order[3];
  for (int k = 1; k <= 2; ++k) {
    const int4 nc = v.numcandidate(k);
    order[k].assign(static_cast<std::size_t>(std::max(nc, 0)), 0);
    if (nc > 0) indexch(nc, &v.cndparentid(1, k), order[k].data());
  }
  // The candidate of sex k whose identifier equals id, or 0. The first match in identifier
  // order is the first one an ascending scan meets.
  auto lookup = [&](const FString<20>& id, int k) -> int4 {
    const std::vector<int4>& ord = order[k];
    if (ord.empty()) return 0;
    auto key = [&](int4 j) -> const FString<20>& { return v.cndparentid(j, k); };
    if (id < key(ord.front()) || key(ord.back()) < id) return 0;
    const auto it = std::lower_bound(ord.begin(), ord.end(), id,
                                     [&](int4 j, const FString<20>& x) { return key(j) < x; });
    if (it == ord.end() || !(key(*it) == id)) return 0;
    return *it;
  };

  v.cndinothersex.allocate(Dim(c), Dim(2));
  v.numcndinothersex(1) = 0;
  v.numcndinothersex(2) = 0;
  if (v.numcandidate(1) > 0 && v.numcandidate(2) > 0) {
    for (int4 i = 1; i <= v.numcandidate(1); ++i) {
      const int4 j = lookup(v.cndparentid(i, 1), 2);
      if (j == 0) continue;
      v.cndinothersex(i, 1) = j;
      v.cndinothersex(j, 2) = i;
      ++v.numcndinothersex(1);
    }
  }

  v.numcndinoffspring(1) = 0;
  v.numcndinoffspring(2) = 0;
  v.cndinoffspring.allocate(Dim(c), Dim(2));
  v.offspringincnd.allocate(Dim(n), Dim(2));
  for (int4 i = 1; i <= n; ++i) {
    for (int k = 1; k <= 2; ++k) {
      if (v.numcandidate(k) <= 0) continue;
      const int4 j = lookup(v.offspringid(i), k);
      v.offspringincnd(i, k) = j;
      if (j == 0) continue;
      v.cndinoffspring(j, k) = i;
      ++v.numcndinoffspring(k);
    }
  }
}

void set_family_limits(int4 n) {
  auto& v = variables;
  if (v.numcndinoffspring(1) > 0 || v.numcndinoffspring(2) > 0) {
    v.poassign.allocate(Dim(2), Dim(n));
    v.npoassign.allocate(Dim(0, n));
    v.ipoassign.allocate(Dim(n));
  }
  v.unknowngen = 0;
  for (int4 i = 1; i <= n && v.unknowngen == 0; ++i)
    if (v.offspringincnd(i, 1) > 0 || v.offspringincnd(i, 2) > 0) v.unknowngen = 1;
  v.numallelemax = 4 - v.haplodiploid;
  v.numhomozygotemax = 2 - v.haplodiploid;
  if (v.monogamy(1) != 0) {
    v.chkidx1 = 1;
    v.chkidx2 = 1;
  } else {
    v.chkidx1 = v.monogamy(2) + 1;
    v.chkidx2 = 2;
  }
}

void set_checkpoint_names() {
  const std::string stem(trim(variables.fname));
  for (int k = 1; k <= 5; ++k)
    variables.midfilename(k) = stem + ".MidResult" + std::to_string(k + 1);
}

// The three full-sib tables of error-free dominant loci, symmetric, stored by columns.
void set_dominant_fullsib_tables() {
  static constexpr real8 table1[25] = {0,    0.5, 0,    1,    0.5,  0.5,  0.5, 0.25, 0.5,
                                       0.25, 0,   0.25, 0,    0.5,  0.25, 1,   0.5,  0.5,
                                       0,    0,   0.5,  0.25, 0.25, 0,    0};
  static constexpr real8 table2[36] = {0, 0,    0, 0, 0, 1,    0, 0,    0.25, 0,    0, 0.25,
                                       0, 0.25, 0, 0, 0, 0.25, 0, 0,    0,    0,    0, 0.25,
                                       0, 0,    0, 0, 0, 0,    1, 0.25, 0.25, 0.25, 0, 0};
  static constexpr real8 table3[4] = {1, 0.5, 0.5, 0.25};
  auto& v = variables;
  v.fsprobdomnoerrtgt.allocate(Dim(25 + 36 + 4));
  real8* store = v.fsprobdomnoerrtgt.data();
  std::copy(table1, table1 + 25, store);
  std::copy(table2, table2 + 36, store + 25);
  std::copy(table3, table3 + 4, store + 61);
  v.fsprobdomnoerr.allocate(Dim(3));
  v.fsprobdomnoerr(1).a = FView<real8, 2>(store, {Dim(5), Dim(5)});
  v.fsprobdomnoerr(2).a = FView<real8, 2>(store + 25, {Dim(6), Dim(6)});
  v.fsprobdomnoerr(3).a = FView<real8, 2>(store + 61, {Dim(2), Dim(2)});
}

}  // namespace

void initialize() {
  auto& v = variables;
  const int4 n = v.smplsize;
  const int4 c = std::max(v.numcandidate(1), v.numcandidate(2));

  stamp_start_time();
  v.bigdblelog = std::log(1e290);
  allocate_move_tables(n);
  allocate_cluster_tables(n);
  set_thresholds_and_scratch(n, c);
  set_seeds();
  allocate_locus_and_offspring_tables(n, c);
  v.logprior.allocate(Dim(2), Dim(2));
  set_candidate_priors(n);
  cross_list_identifiers(n, c);
  set_family_limits(n);
  build_parent_conflicts(physical_memory_bytes());
  set_checkpoint_names();
  set_dominant_fullsib_tables();
}

}  // namespace kinrad
