// The in-run update of the allele frequencies. The frequencies are re-estimated from the
// expected parental allele counts of every cluster of the best configuration and blended with
// the old and the starting values; then every table built from the frequencies and the
// inbreeding coefficient is refilled, the current and best configurations are rescored, and an
// update under which the best configuration scores clearly worse than before is refused.
// Accepted scores are carried to the archive, rescored record by record from its head until
// the scores fall below the new floor.
#include <algorithm>
#include <cmath>
#include <iostream>
#include <span>
#include <string>

#include "configuration/configuration.hpp"
#include "core/error_stop.hpp"
#include "core/format_write.hpp"
#include "core/modules.hpp"
#include "core/modules/search_seams.hpp"
#include "core/replacing_file.hpp"
#include "core/sorting.hpp"
#include "core/variables_routines.hpp"
#include "likelihood/likelihood.hpp"
#include "model/model.hpp"
#include "pairwise/pairwise.hpp"
#include "search/search_internal.hpp"
#include "search/update_internal.hpp"

namespace kinrad {

namespace {

bool displaying() {
  return variables.displayq == 1 && variables.threadid == 0;
}

void screen_line(const char* text) {
  if (displaying()) fwrite(std::cout, "(/A)", text);
}

// The progress spinner's line is ended by a record of two blanks.
void end_progress(int4 counter, int4 above) {
  if (variables.showq != 0 && displaying() && counter > above)
    fwrite(std::cout, "(A)", std::string(variables.blkln.view().substr(0, 2)));
}

// The loci of this process whose frequencies are re-estimated, in their order: its share of
// the two-allele loci, then its share of the loci of more than two alleles.
template <class F>
void for_each_updated_locus(F&& f) {
  const auto& v = variables;
  if (v.locus2.allocated() && v.locus2(0) > 0)
    for (int4 j = v.l2thread(1); j <= v.l2thread(2); ++j) f(v.locus2(j));
  if (v.locus3.allocated() && v.locus3(0) > 0) {
    const int4 count = v.locus3(0);
    const int4 threads = std::max(v.numthreads, 1);
    const int4 share = (count + threads - 1) / threads;
    const int4 from = v.threadid * share + 1;
    const int4 to = std::min((v.threadid + 1) * share, count);
    for (int4 j = from; j <= to; ++j) f(v.locus3(j));
  }
}

void cluster_scores(real8* logl, int4 nclust) {
  if (search_seams.update_clusterlogl)
    search_seams.update_clusterlogl(logl, nclust);
  else
    updatefamilylogl(logl, nclust);
}

real8 sum_first(const FArray<real8, 1>& a, int4 n) {
  real8 s = 0.0;
  for (int4 k = 1; k <= n; ++k) s += a(k);
  return s;
}

// The best configuration sorted by cluster into indivloc1 (columns 1-3, the offspring in
// column 4): clusters in ascending id, offspring ascending within one.
void sort_best_by_cluster() {
  auto& v = variables;
  auto& av = annealvariables;
  const int4 n = v.smplsize;
  FArray<real8, 1> key;
  key.allocate(Dim(n));
  for (int4 i = 1; i <= n; ++i) key(i) = v.btindivloc(i, 3) + 1e-11 * i;
  indexx(n, &key(1), &av.indivloc1(1, 4));
  for (int4 k = 1; k <= n; ++k)
    for (int4 c = 1; c <= 3; ++c) av.indivloc1(k, c) = v.btindivloc(av.indivloc1(k, 4), c);
}

// Expected parental allele counts of every cluster of the best configuration, summed per locus
// into count(a, l).
void count_alleles(FArray<real8, 2>& count) {
  auto& v = variables;
  auto& av = annealvariables;
  const int4 n = v.smplsize;
  FArray<real8, 1> c(Dim(std::max(v.maxobsnumallele, 1)));
  int4 counter = 0;
  v.inferparentprt = v.btinferparent.view();
  for (int4 first = 1; first <= n;) {
    const int4 id = av.indivloc1(first, 3);
    int4 last = first;
    while (last < n && av.indivloc1(last + 1, 3) == id) ++last;
    const int4 m = last - first + 1;
    if (!search_seams.update_counts) {
      v.indivlocprt = av.indivloc1.view();
      v.indivorder = window(v.number1tgt, first, m);
      int4 nmember = 0, maxfamsize = 0;
      familybuild(av.indivloc1(first, 1), m, 1, nmember, maxfamsize, 1, 0, 0, 0);
      v.indivorder = v.number1tgt.view();
      v.indivlocprt = v.btindivloc.view();
      int4 ok = 0;
      preparevariable(ok, v.numberfsfamily, 0, 1);
      if (ok != 0) stoponerror(0, "Update");
    }
    for_each_updated_locus([&](int4 l) {
      const int4 k = v.obsnumallele(l);
      const std::span<real8> cs(&c(1), static_cast<std::size_t>(k));
      std::fill(cs.begin(), cs.end(), 0.0);
      if (search_seams.update_counts) {
        search_seams.update_counts(id, l, cs);
      } else {
        if (displaying()) writeprogress(counter, 100000);
        genotypeinference(l, 1, 0, cs, k, 0);
      }
      for (int4 a = 1; a <= k; ++a) count(a, l) += c(a);
    });
    first = last + 1;
  }
  end_progress(counter, 99999);
}

// The allele-frequency checkpoint: the frequencies of every locus, then the round that follows.
void write_frequency_checkpoint(int4 iround) {
  const auto& v = variables;
  ReplacingFile out(std::string(trim(v.midfilename(3).view())), WriteFailure{"Update"});
  const std::string fmt = "(" + itoc(v.maxobsnumallele) + "ES26.17)";
  for (int4 l = 1; l <= v.numloci; ++l) {
    const int4 k = v.obsnumallele(l);
    out.write(fmt, std::span<const real8>(k > 0 ? &v.obsallelefre(l).a(1) : nullptr,
                                          static_cast<std::size_t>(std::max(k, 0))));
  }
  out.write("(I9)", iround + 1);
  out.commit();
}

// The counts of families per sex the prior of a decoded record (offtgt) uses.
void family_counts(int4 nc, FStatic<int4, 1, 2>& nfam) {
  const auto& v = variables;
  const int4 n = v.smplsize;
  const auto largest = [&](int4 col) {
    int4 m = 0;
    for (int4 i = 1; i <= n; ++i) m = std::max(m, v.offtgt(i, col));
    return m;
  };
  if (v.anymonogamy == 0 || v.numsex == 1) {
    nfam(1) = largest(1);
    nfam(2) = largest(2);
    if (v.numsex == 1) nfam(1) = nfam(2) = std::max(nfam(1), nfam(2));
  } else if (v.allmonogamy != 0) {
    nfam(1) = nfam(2) = nc;
  } else if (v.monogamy(1) != 0) {
    nfam(1) = largest(1);
    nfam(2) = nc;
  } else {
    nfam(1) = nc;
    nfam(2) = largest(2);
  }
}

// The archive rescored under the values in force: a new list built from the old one's head
// until a record falls below the floor; the old records are freed. An emptied archive gets the
// best configuration.
void rescore_archive() {
  auto& v = variables;
  const int4 n = v.smplsize;
  Config* old = v.confighead;
  v.confighead = nullptr;
  v.configtail = nullptr;
  v.indivlocprt = v.offtgt.view();
  v.inferparentprt = v.prnttgt.view();
  v.minloglikelihood = v.bestlogl - 10.0;
  screen_line("Updating likelihood...");
  int4 counter = 0;
  FArray<real8, 1> logl(Dim(std::max(n, 1)));
  for (Config* r = old; r != nullptr; r = r->next) {
    v.crrtconfig = r;
    real8 scratch = 0.0;
    convertconfig(1, scratch);
    const int4 nc = r->nclust;
    FStatic<int4, 1, 2> nfam{}, nsize{};
    family_counts(nc, nfam);
    nsize(1) = nsize(2) = n;
    cluster_scores(&logl(1), nc);
    FStatic<int4, 1, 4> numassign{};
    real8 prior = 0.0, cand = 0.0;
    configurationprior(numassign, prior, nsize, nfam);
    computeparentlogl(cand);
    r->logl = sum_first(logl, nc) + prior + cand;
    v.loglikelihoodprt = &r->logl;
    archiveconfigadd(3, nc);
    if (r->logl < v.minloglikelihood + 1.0) break;
    if (displaying()) writeprogress(counter, 2);
  }
  v.crrtconfig = nullptr;
  end_progress(counter, 1);
  archiveconfigremove();
  while (old != nullptr) {
    Config* next = old->next;
    v.deleteconfig = old;
    deallocateconfig();
    old = next;
  }
  if (v.confighead == nullptr) {
    v.loglikelihoodprt = &v.btloglikelihood;
    v.inferparentprt = v.btinferparent.view();
    v.indivlocprt = v.btindivloc.view();
    archiveconfigadd(1, v.btnumfamily(3));
  }
}

void refill_dyad_tables(bool refill) {
  screen_line("Updating Pairwise-likelihood...");
  if (!refill) return;
  if (search_seams.update_pairprob)
    search_seams.update_pairprob();
  else
    calculatepairprob(2);
}

}  // namespace

UpdateOutcome update(real8& crcndlogl, real8 crlogprior, real8 bestprior, int4& ipass, int4 npass,
                     int4 iround, int4 pairq) {
  auto& v = variables;
  const int4 n = v.smplsize;
  UpdateOutcome out;
  WindowSave keep;
  if (v.inbindivlogl.allocated()) v.inbindivlogl.fill(1.0);
  if (v.inbindivloglself.allocated()) v.inbindivloglself.fill(1.0);
  v.indivorder = v.number1tgt.view();

  // The frequencies before the call, kept to be restored when the update is refused.
  const int4 width = std::max(v.maxobsnumallele, 1);
  FArray<real8, 2> saved(Dim(width), Dim(std::max(v.numloci, 1)));
  if (v.updateallelefre >= 1) {
    for (int4 l = 1; l <= v.numloci; ++l)
      for (int4 a = 1; a <= v.obsnumallele(l); ++a) saved(a, l) = v.obsallelefre(l).a(a);
    FArray<real8, 2> count(Dim(width), Dim(std::max(v.numloci, 1)));
    sort_best_by_cluster();
    screen_line("Updating allele frequency...");
    count_alleles(count);
    FArray<real8, 1> e;
    e.allocate(Dim(width));
    for_each_updated_locus([&](int4 l) {
      const int4 k = v.obsnumallele(l);
      if (k <= 0) return;
      for (int4 a = 1; a <= k; ++a) e(a) = count(a, l);
      recomputeallelefre(l, std::span<real8>(&e(1), static_cast<std::size_t>(k)));
      for (int4 a = 1; a <= k; ++a)
        v.obsallelefre(l).a(a) = 0.8 * e(a) + 0.15 * saved(a, l) + 0.05 * v.obsallelefre0(a, l);
    });
    if (v.updateallelefre == 2 && v.threadid == 0) write_frequency_checkpoint(iround);
  }

  // Rescoring archived configurations recounts the sibship sizes, which the run keeps for the
  // current configuration.
  FArray<int4, 2> sibdist;
  const bool keepdist = v.priortype == 1 && v.sibshipsizedist.allocated();
  if (keepdist) sibdist = v.sibshipsizedist.copy();
  const auto put_back_dist = [&] {
    if (keepdist) v.sibshipsizedist = sibdist.copy();
  };

  const real8 stored = v.crloglikelihood;
  real8 bestcand = 0.0;
  real8 t = -1e300;
  bool bestscored = false;
  const auto score_best = [&] {
    v.indivlocprt = v.btindivloc.view();
    v.inferparentprt = v.btinferparent.view();
    cluster_scores(&v.crfamilylogl(1), v.btnumfamily(3));
    t = bestprior + bestcand + sum_first(v.crfamilylogl, v.btnumfamily(3));
    bestscored = true;
  };
  for (int4 p = 1;; ++p) {
    ++out.innerpasses;
    if (v.locus2.allocated() && v.locus2(0) > 0) {
      v.locus2logl.fill(1.0);
      computegtypefre(v.l2thread(1), v.l2thread(2));
    }
    singleparentlikelihood(v.inbreeding);
    v.inferparentprt = v.inferparent.view();
    computeparentlogl(crcndlogl);
    v.inferparentprt = v.btinferparent.view();
    computeparentlogl(bestcand);
    singleindivlikelihood(0.0, n, 0,
                          std::span<real8>(&v.indivlogl(1), static_cast<std::size_t>(n)));
    if (v.numsex == 1) {
      if (!v.indivloglself.allocated()) v.indivloglself.allocate(Dim(n));
      singleindivlikelihood(0.5, n, 0,
                            std::span<real8>(&v.indivloglself(1), static_cast<std::size_t>(n)));
    }
    if (v.updateallelefre == 2) {
      // The rounds rescore nothing: the next round starts from its own initial configuration.
      refill_dyad_tables(pairq != 0);
      put_back_dist();
      return out;
    }
    v.indivlocprt = v.crindivloc.view();
    v.inferparentprt = v.inferparent.view();
    cluster_scores(&v.crfamilylogl(1), v.crnumfamily(3));
    const real8 s = sum_first(v.crfamilylogl, v.crnumfamily(3));
    real8 tol = 1e295;
    bestscored = false;
    t = -1e300;
    if (s > 10.0 * stored) {
      score_best();
      tol = 1e-5 * std::fabs(t);
    }
    const bool harmful = std::fabs(v.btloglikelihood - t) > tol && v.btloglikelihood > t;
    if (!harmful) break;
    if (p == v.updateallelefre) {
      for (int4 l = 1; l <= v.numloci; ++l)
        for (int4 a = 1; a <= v.obsnumallele(l); ++a) v.obsallelefre(l).a(a) = saved(a, l);
      out.restored = true;
      if (v.allowinbreeding == 1) {
        if (v.inbindivlogl.allocated())
          for (int4 i = 1; i <= v.inbindivlogl.ubound(1); ++i)
            if (v.inbindivlogl(i) < 0.0) v.inbindivlogl(i) = 1.0;
        if (v.numsex == 1 && v.inbindivloglself.allocated())
          for (int4 i = 1; i <= v.inbindivloglself.ubound(1); ++i)
            if (v.inbindivloglself(i) < 0.0) v.inbindivloglself(i) = 1.0;
      }
    }
    if (ipass < npass) {
      ipass = 0;
      put_back_dist();
      return out;
    }
    if (v.updateallelefre < p) {
      // Accepted as it stands; a best configuration left unscored is scored now, since the
      // placeholder would stand as the best score of the analysis.
      if (!bestscored) score_best();
      break;
    }
  }

  // The scores under the values in force.
  v.btloglikelihood = t;
  v.bestlogl = t;
  v.indivlocprt = v.crindivloc.view();
  v.inferparentprt = v.inferparent.view();
  cluster_scores(&v.crfamilylogl(1), v.crnumfamily(3));
  v.crloglikelihood = crcndlogl + crlogprior + sum_first(v.crfamilylogl, v.crnumfamily(3));

  if (v.confighead != nullptr) {
    rescore_archive();
    out.archivechanged = true;
    // The archive may hold configurations of earlier runs that now score above the best of
    // this one; the best score of all runs is the larger.
    if (v.confighead != nullptr && v.confighead->logl > v.bestlogl) {
      v.bestlogl = v.confighead->logl;
      v.minloglikelihood = v.bestlogl - 10.0;
      archiveconfigremove();
    }
  }
  if (v.updateallelefre == 1 && pairq != 0 && v.pairwiseoptionq != 0) refill_dyad_tables(true);
  put_back_dist();
  return out;
}

}  // namespace kinrad
