// The error-rate objective: the negative log likelihood, at trial rates of one locus, of the
// genotypes of every cluster of the best configuration and of every typed candidate that the
// configuration leaves unassigned, plus the sum of the trial rates, measured from a reference
// level. The locus's observation and family tables are rebuilt for each admissible point; points
// outside the box return at once. With one parent pool, setmonoprnt tells the engine which
// parents of a cluster are one individual in the two roles.
#include <algorithm>
#include <cassert>
#include <cmath>

#include "configuration/configuration.hpp"
#include "core/error_stop.hpp"
#include "core/modules/annealvariables.hpp"
#include "core/modules/setgetgtype.hpp"
#include "core/modules/variables.hpp"
#include "core/packed_genotypes.hpp"
#include "core/real_integer_power.hpp"
#include "likelihood/likelihood.hpp"
#include "model/model.hpp"
#include "results/error_rate_internal.hpp"

namespace kinrad {

namespace {

// True when some trial rate lies outside its box.
bool outside_box(const PowellPoint& x, int4 kind) {
  const auto& box = variables.rangeerrorrate;
  if (x(1) < box(1, 1) || x(1) > box(2, 1)) return true;
  return kind == 3 && (x(2) < box(1, 2) || x(2) > box(2, 2));
}

// Puts the trial rates into the locus and rebuilds its tables.
void set_trial_rates(const PowellPoint& x, int4 l, int4 kind) {
  auto& v = variables;
  if (kind == 1 || kind == 3) v.droprate(l) = x(1);
  if (kind == 2) v.othererrorrate(l) = x(1);
  if (kind == 3) v.othererrorrate(l) = x(2);
  phenotypegivengenotype(l, l);
  initialfsprob(2, l, l);
  // The genotype-frequency columns of two-allele loci hold observation probabilities under the
  // rates they were filled with; the engine refills a column only when it finds none, so the
  // filled one is discarded with the rates it no longer matches.
  if (v.locus2gtypefre.allocated()) computegtypefre(0, 0);
}

// Cut-offs of the engine for the current family: looser for families with many parents of
// each sex and for high other-error rates.
void set_cluster_precision(int4 l) {
  auto& v = variables;
  real8 p = 0.05 * real_integer_power(0.6, v.likelihoodprecision);
  if (std::min(v.nparent(1), v.nparent(2)) > 10) p = std::max(p, 0.01);
  v.prec1 = std::min(0.5, std::exp(3.0 * v.othererrorrate(l)) * p);
  v.prec3 = 0.1 * v.prec1;
}

// Sum of the log likelihoods of every cluster of the cluster tables at locus l.
real8 clusters_logl(int4 l) {
  auto& v = variables;
  const int4 k = v.obsnumallele(l);
  const int4 ng = v.genotypenum(k);
  real8 sum = 0.0;
  for (int4 c = 1; c <= v.crnumfamily(3); ++c) {
    familybuild0(c, 0);
    if (v.numsex == 1) setmonoprnt(c);
    int4 ok = 0;
    preparevariable(ok, 0, l, 0);
    if (ok != 0) stoponerror(0, "LogLErrorRate Function");
    set_cluster_precision(l);
    real8 logl = 0.0;
    familylocuslogl(l, k, ng, logl);
    sum += logl;
  }
  return sum;
}

// Sum of ln P of the genotypes at locus l of the typed candidates with unassignedcnd > 0, each
// genotype's probability computed once per sex group through the cache. A monoecious sample
// keeps one pool of candidates (the set-up marks sex 1 only).
real8 candidates_logl(int4 l) {
  auto& v = variables;
  auto& av = annealvariables;
  auto& w = v.error_rate_work;
  const int4 k = v.obsnumallele(l);
  const index_t slots = v.indexgtype.size();
  if (w.cachelogp.size() < slots) {
    w.cachelogp.deallocate();
    w.cachedgtype.deallocate();
    w.cachelogp.allocate(Dim(slots));
    w.cachedgtype.allocate(Dim(slots));
  }
  setgetgtype.locusgtypeptr = v.cndgtype2(l).a;
  int4 used = 0;
  w.cachefills = 0;
  auto empty_cache = [&] {
    for (int4 t = 1; t <= used; ++t) v.indexgtype(w.cachedgtype(t)) = 0;
    used = 0;
  };
  real8 sum = 0.0;
  const int4 nsex = v.numsex == 1 ? 1 : 2;
  for (int4 s = 1; s <= nsex; ++s) {
    for (int4 j = 1; j <= v.numcandidate(s); ++j) {
      if (av.unassignedcnd(j, s) <= 0) continue;
      int2 g = 0;
      getgtype(g, (s - 1) * v.numcandidate(1) + j, k);
      if (g <= 0) continue;
      if (v.indexgtype(g) == 0) {
        const int4 alleles[2] = {v.genotypeid(1, g), v.genotypeid(2, g)};
        real8 prob = 0.0;
        probsinglegtype(v.inbreeding, v.ploidy(s), l, alleles, prob);
        ++used;
        ++w.cachefills;
        // -1e300 marks an impossible genotype.
        w.cachelogp(used) = prob <= 1e-300 ? -1e300 : std::log(prob);
        w.cachedgtype(used) = g;
        v.indexgtype(g) = static_cast<int2>(used);
      }
      sum += w.cachelogp(v.indexgtype(g));
    }
    // Haploid fathers and diploid mothers never share an entry.
    if (v.haplodiploid == s) empty_cache();
  }
  empty_cache();
  return sum;
}

}  // namespace

real8 loglerrorrate(const PowellPoint& x) {
  auto& v = variables;
  const int4 l = v.locerrrateupdate(1);
  const int4 kind = v.locerrrateupdate(2);
  const int4 n = v.numerrorrate;
  if (outside_box(x, kind)) return 1e100;
  // The clusters summed are those of the tables built from the best configuration.
  assert(v.btnumfamily(3) == v.crnumfamily(3));
  set_trial_rates(x, l, kind);
  real8 s = 0.0;
  for (int4 i = 1; i <= n; ++i) s += x(i);
  s -= clusters_logl(l);
  if (v.allcandidate >= 1) s -= candidates_logl(l);
  return std::min(std::fabs(s - v.loglerrorrateconst), 1e100);
}

void setmonoprnt(int4 c) {
  auto& v = variables;
  auto& av = annealvariables;
  const int4 slot = v.indivclusterindex(c);
  const bool many = v.nparent(1) + v.nparent(2) > 2;
  const auto& members = many ? v.indivcluster1(slot) : v.indivcluster(slot);
  const auto m = static_cast<int4>(members.size());
  const int4 rows = std::max(v.nparent(1), v.nparent(2));
  if (!v.parentjdx.allocated() || v.parentjdx.ubound(1) < rows || v.parentjdx.ubound(2) < 2) {
    v.parentjdx.deallocate();
    v.parentjdx.allocate(Dim(rows), Dim(2));
  }
  for (int4 i = 1; i <= v.nparent(1); ++i) v.parentjdx(i, 1) = 0;
  for (int4 i = 1; i <= v.nparent(2); ++i) v.parentjdx(i, 2) = 0;
  auto& mark = av.selectedprntidxq3;
  // Each role-2 parent of the cluster marks its family id with its local index.
  for (int4 t = 1; t <= m; ++t) {
    const int4 o = members(t);
    const int4 fam = v.crindivloc(o, 2);
    if (mark(fam) <= 0) mark(fam) = av.indivclusterid(o, 2);
  }
  // A role-1 parent whose family id is marked is the same individual.
  for (int4 t = 1; t <= m; ++t) {
    const int4 o = members(t);
    const int4 fam = v.crindivloc(o, 1);
    const int4 k = mark(fam);
    if (k > 0) {
      v.parentjdx(av.indivclusterid(o, 1), 1) = k;
      v.parentjdx(k, 2) = av.indivclusterid(o, 1);
      mark(fam) = 0;
    }
  }
  for (int4 t = 1; t <= m; ++t) mark(v.crindivloc(members(t), 2)) = 0;
}

}  // namespace kinrad
