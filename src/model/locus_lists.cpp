// Steps of the per-analysis set-up that classify the loci and size the analysis-wide tables.
#include <algorithm>
#include <cmath>
#include <iostream>

#include "core/error_stop.hpp"
#include "core/format_write.hpp"
#include "core/genotype_number.hpp"
#include "core/modules.hpp"
#include "core/modules/variables.hpp"
#include "model/ewen_prior_internal.hpp"
#include "model/initial_fs_prob_steps_internal.hpp"

namespace kinrad {

namespace {

// Numbers of loci with fewer than 2, exactly 2 and more than 2 alleles, and of dominant loci
// with exactly 2 alleles.
struct LocusCounts {
  int4 n1 = 0;
  int4 n2 = 0;
  int4 n3 = 0;
  int4 nd = 0;
};

LocusCounts count_loci() {
  const Variables& v = variables;
  LocusCounts c;
  for (int4 l = 1; l <= v.numloci; ++l) {
    const int4 k = v.obsnumallele(l);
    if (k < 2) ++c.n1;
    if (k == 2) ++c.n2;
    if (k > 2) ++c.n3;
    if (k == 2 && v.dominantmarker(l) == 1) ++c.nd;
  }
  return c;
}

// locuserror and the error-free lists, the codominant one grouped by allele number.
void set_error_free_lists() {
  Variables& v = variables;
  const int4 nl = v.numloci;
  v.locuserror.allocate(Dim(nl));
  std::vector<int4> codom;
  std::vector<int4> dom;
  for (int4 l = 1; l <= nl; ++l) {
    const bool errorfree = v.othererrorrate(l) < 1e-10 && v.droprate(l) < 1e-10;
    v.locuserror(l) = errorfree ? 0 : 1;
    if (!errorfree) continue;
    if (v.dominantmarker(l) == 1)
      dom.push_back(l);
    else
      codom.push_back(l);
  }
  // Groups by min(allele number, 3), locus order kept inside a group. Loci without any
  // observed allele form a group of their own in front, so that entry k of the bounds stays
  // the last position of group k.
  const int4 n = static_cast<int4>(codom.size());
  v.locuscodomnoerror.allocate(Dim(0, n));
  v.locuscodomnoerror(0) = n;
  int4 pos = 0;
  for (int4 g = 0; g <= 3; ++g) {
    for (int4 l : codom)
      if (std::min(v.obsnumallele(l), 3) == g) v.locuscodomnoerror(++pos) = l;
    v.locuscodomnoerrorloc(g) = pos;
  }
  v.locusdomnoerror.allocate(Dim(0, static_cast<index_t>(dom.size())));
  v.locusdomnoerror(0) = static_cast<int4>(dom.size());
  for (std::size_t j = 0; j < dom.size(); ++j)
    v.locusdomnoerror(static_cast<index_t>(j + 1)) = dom[j];
  v.genotypecheckq = n > v.locuscodomnoerrorloc(2) ? 1 : 0;
  const bool twoallele = v.locuscodomnoerrorloc(2) > v.locuscodomnoerrorloc(1);
  if (twoallele && v.haplodiploid == 0) likelihoodvar.userowsnp.allocate(Dim(1));
  v.anymarkererrorfreeq = 0;
  for (int4 l = 1; l <= nl; ++l)
    if (v.locuserror(l) == 0) v.anymarkererrorfreeq = 1;
}

// Allocates locus2, locus3 and locus2loc; without the memory the analysis cannot go on.
void allocate_allele_number_lists(const LocusCounts& c) {
  Variables& v = variables;
  const bool ok = v.locus2.try_allocate(Dim(0, c.n2)) && v.locus3.try_allocate(Dim(0, c.n3)) &&
                  v.locus2loc.try_allocate(Dim(v.numloci));
  if (!ok) {
    fwrite(std::cout, "(A)", "");
    fwrite(std::cout, "(A)", "Insufficient RAM for variables Locus2 and Locus3!");
    std::cout.flush();
    stoponerror(0, "InitialFSProb");
  }
}

void fill_allele_number_lists(const LocusCounts& c) {
  Variables& v = variables;
  const int4 nl = v.numloci;
  v.locus3loc.allocate(Dim(nl));
  int4 p3 = 0;
  for (int4 l = 1; l <= nl; ++l) {
    if (v.obsnumallele(l) <= 2) continue;
    v.locus3(++p3) = l;
    v.locus3loc(l) = p3;
  }
  v.locus3(0) = p3;
  int4 p2 = 0;
  for (int4 pass = 0; pass <= 1; ++pass) {
    for (int4 l = 1; l <= nl; ++l) {
      if (v.obsnumallele(l) != 2 || v.dominantmarker(l) != pass) continue;
      v.locus2(++p2) = l;
      v.locus2loc(l) = p2;
    }
  }
  v.locus2(0) = p2;
  v.locus1.allocate(Dim(0, std::max(c.n1, 1)));
  int4 p1 = 0;
  for (int4 l = 1; l <= nl; ++l)
    if (v.obsnumallele(l) < 2) v.locus1(++p1) = l;
  v.locus1(0) = p1;
  v.numloci23 = nl - c.n1;
  v.snploc(1) = c.n2 + 1 - c.nd;
  v.snploc(2) = c.n2;
  v.snploc(3) = 1;
  v.snploc(4) = c.n2 - c.nd;
}

// First allocations of the work arrays of the engine and of the two-allele genotype tables.
void allocate_work_arrays(const LocusCounts& c) {
  Variables& v = variables;
  Likelihoodvar& lv = likelihoodvar;
  if (c.nd > 0) {
    lv.domfsibsave.allocate(Dim(1));
    lv.domconstlogl.allocate(Dim(1));
  }
  if (c.n2 >= 1) {
    lv.familyindivll.allocate(Dim(3), Dim(1));
    // Rows of the genotype-class probabilities: 3 for the population, 3 per parent genotype
    // class of the candidates (2 classes when every two-allele locus is dominant), and the
    // haploid rows of a haplodiploid species.
    int4 r0 = 3;
    if (v.allcandidate > 0) r0 = 3 * (c.nd == c.n2 ? 2 : 3) + 3;
    int4 r = r0;
    if (v.haplodiploid == 1) r += v.allcandidate > 0 ? 6 : 2;
    v.locus2gtypefre.allocate(Dim(r), Dim(0, 0));
    v.l2lb(1) = 0;
    v.l2lb(2) = r0;
    // One process works every list whole.
    v.l1thread(1) = c.n2 - c.nd + 1;
    v.l1thread(2) = c.n2;
    v.l1thread(3) = 1;
    v.l1thread(4) = c.n2 - c.nd;
    v.l2thread(1) = 1;
    v.l2thread(2) = c.n2;
  }
  v.l3thread(1) = 1;
  v.l3thread(2) = c.n3;
  v.indexgtype.allocate(Dim(0, std::max(v.maxnumgenotype, 6) + 1));
  v.indexallele.allocate(Dim(0, v.maxobsnumallele));
  absorbvar = Absorbvar{};
  v.codominantloci.allocate(Dim(0, v.numloci));
  v.dominantloci.allocate(Dim(0, v.numloci));
  v.locusdom.allocate(Dim(0, c.nd));
  if (c.n3 > 0) lv.fsfamilygtype.allocate(Dim(0, 1), Dim(2), Dim(1), Dim(c.n3));
}

}  // namespace

void set_analysis_constants() {
  Variables& v = variables;
  // The informativeness of the markers, each locus weighted by its chance of being typed
  // without error: it sets how fast the family-size scale falls off.
  real8 s = 0.0;
  for (int4 l = 1; l <= v.numloci; ++l) {
    const int4 k = v.obsnumallele(l);
    if (k < 2) continue;
    real8 sq = 0.0;
    for (int4 a = 1; a <= k; ++a) sq += v.obsallelefre(l).a(a) * v.obsallelefre(l).a(a);
    const real8 weight = std::max(0.0, 1.0 - v.droprate(l) - 2.0 * v.othererrorrate(l));
    s += weight * (1.0 / sq - 1.0);
  }
  v.scale2const = std::exp(-2.0 / std::sqrt(1.0 + std::fabs(s)));
  if (v.fsscaleq == 1 && v.maxobsnumallele >= 3) likelihoodvar.scaleidx.allocate(Dim(2), Dim(2));
  annealvariables.nallallele = 0;
  for (int4 l = 1; l <= v.numloci; ++l) annealvariables.nallallele += v.obsnumallele(l);
  setewenprior();
  v.converseq = v.numsex == 2 && v.anymonogamy == 0 ? 1 : 0;
  const int4 k = v.maxobsnumallele;
  v.numestgenotype = std::min(genotype_count(k), 5);
}

void set_locus_lists() {
  Variables& v = variables;
  set_error_free_lists();
  const LocusCounts c = count_loci();
  v.domlocusidx.allocate(Dim(v.numloci));
  int4 nd = 0;
  v.alldommarkers = 1;
  v.allcodommarkers = 1;
  for (int4 l = 1; l <= v.numloci; ++l) {
    if (v.dominantmarker(l) == 1) {
      v.allcodommarkers = 0;
      if (v.obsnumallele(l) == 2) v.domlocusidx(++nd) = l;
    } else {
      v.alldommarkers = 0;
    }
  }
  v.numdommarkers(1) = nd;
  allocate_allele_number_lists(c);
  fill_allele_number_lists(c);
  allocate_work_arrays(c);
  // Dominant two-allele markers weigh the sibship prior less; without a polymorphic locus the
  // factor stays 1.
  if (v.priortype > 0 && v.numloci23 > 0) {
    const real8 f = 1.0 - 0.8 * c.nd / v.numloci23;
    v.ewenpriorfac(1) *= f;
    v.ewenpriorfac(2) *= f;
  }
}

}  // namespace kinrad
